// The AES code paths against each other: the same fixed run over every entry
// point (random keys, messages of many lengths, pieces, in place, counters
// about to carry), and ECB through the envelope, gives the same bytes with
// the hardware code (AES-NI, and VAES for long runs: 512-bit where the
// processor has it), with 256-bit VAES, with AES-NI alone, and with the table
// code.  The known-answer tests cover each path too: ctest runs this program
// with the hardware code and with MORVANE_NO_HWCRYPT=vaes512, vaes and 1.

#include <morvane/aes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "aes_test_modes.h"
#include "test_support.h"

namespace {

using aes_test::Chain;
using aes_test::Mode;
using morvane_test::Bytes;

void Append(Bytes& t, const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  t.insert(t.end(), b, b + n);
}

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Lengths around the 8-, 16- and 32-block runs of the hardware code.
constexpr size_t kLengths[] = {0,   1,   15,  16,  17,  31,  48,  127,  128,  129,
                               255, 256, 257, 271, 496, 512, 528, 1000, 1040, 4103};

Bytes Transcript() {
  std::mt19937 rng(20240601);
  Bytes t;
  for (int bits : {128, 192, 256}) {
    for (int round = 0; round < 3; round++) {
      const Bytes key = RandomBytes(rng, static_cast<size_t>(bits / 8));
      AES_KEY ek{}, dk{};  // the words past the last round key are not written
      AES_set_encrypt_key(key.data(), bits, &ek);
      AES_set_decrypt_key(key.data(), bits, &dk);
      Append(t, &ek, sizeof ek);
      Append(t, &dk, sizeof dk);
      uint8_t block[16];
      const Bytes in = RandomBytes(rng, 16);
      AES_encrypt(in.data(), block, &ek);
      Append(t, block, 16);
      AES_decrypt(block, block, &dk);
      Append(t, block, 16);

      for (size_t len : kLengths) {
        const Bytes msg = RandomBytes(rng, len + 16);
        Bytes iv = RandomBytes(rng, 16);
        if (round == 1) memset(iv.data(), 0xff, 15);  // the whole counter about to wrap
        if (round == 2)
          iv[15] = static_cast<uint8_t>(0xf0 + rng() % 16);  // last byte about to carry
        for (Mode m :
             {Mode::kCbc, Mode::kCfb1, Mode::kCfb8, Mode::kCfb128, Mode::kOfb, Mode::kCtr}) {
          for (bool enc : {true, false}) {
            for (unsigned seed : {0u, 7u}) {
              for (bool in_place : {false, true}) {
                const size_t units = m == Mode::kCfb1 ? std::min<size_t>(len, 300) : len;  // bits
                Chain end;
                const Bytes out =
                    aes_test::RunMode(m, key, enc, iv, msg, units, {seed, in_place}, &end);
                Append(t, out.data(), out.size());
                Append(t, &end, sizeof end);
              }
            }
          }
        }
      }

      for (size_t len : kLengths) {
        const Bytes msg = RandomBytes(rng, len);
        for (unsigned seed : {0u, 5u}) {
          for (bool in_place : {false, true}) {
            bool ok = false;
            const Bytes ct = aes_test::EnvelopeEcb(key, true, msg, true, {seed, in_place}, &ok);
            Append(t, ct.data(), ct.size());
            Append(t, &ok, 1);
            const Bytes pt = aes_test::EnvelopeEcb(key, false, ct, true, {seed, in_place}, &ok);
            Append(t, pt.data(), pt.size());
            Append(t, &ok, 1);
          }
        }
      }

      // IGE, bidirectional IGE and key wrap run a block at a time.
      const Bytes msg = RandomBytes(rng, 256);
      Bytes ivs = RandomBytes(rng, 64);
      Bytes out(256);
      AES_ige_encrypt(msg.data(), out.data(), msg.size(), &ek, ivs.data(), AES_ENCRYPT);
      Append(t, out.data(), out.size());
      AES_ige_encrypt(msg.data(), out.data(), msg.size(), &dk, ivs.data(), AES_DECRYPT);
      Append(t, out.data(), out.size());
      AES_bi_ige_encrypt(msg.data(), out.data(), msg.size(), &ek, &ek, ivs.data(), AES_ENCRYPT);
      Append(t, out.data(), out.size());
      Bytes wrapped(msg.size() + 8);
      AES_wrap_key(&ek, nullptr, wrapped.data(), msg.data(), 64);
      Append(t, wrapped.data(), 72);
      AES_unwrap_key(&dk, nullptr, out.data(), wrapped.data(), 72);
      Append(t, out.data(), 64);
    }
  }
  return t;
}

[[maybe_unused]] const int kServe = morvane_test::ServeTranscript(Transcript);

// This process runs with whatever paths its environment allows (all of them
// under a plain ctest run); each child switches some off.
TEST(AesPaths, TableCodeGivesTheSameBytes) {
  morvane_test::ExpectSameTranscriptWithSwitch(Transcript, "1");
}

TEST(AesPaths, Vaes256GivesTheSameBytes) {
  morvane_test::ExpectSameTranscriptWithSwitch(Transcript, "vaes512");
}

TEST(AesPaths, AesNiWithoutVaesGivesTheSameBytes) {
  morvane_test::ExpectSameTranscriptWithSwitch(Transcript, "vaes");
}

}  // namespace
