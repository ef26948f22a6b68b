// Test helpers: one driver over every AES mode, so that a known answer can
// be checked in one call, in random pieces with the chaining state carried
// over, and in place; the same for ECB through the envelope.
#ifndef MORVANE_TEST_AES_AES_TEST_MODES_H
#define MORVANE_TEST_AES_AES_TEST_MODES_H

#include <morvane/aes.h>
#include <morvane/evp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "test_support.h"

namespace aes_test {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

enum class Mode { kEcb, kCbc, kCfb1, kCfb8, kCfb128, kOfb, kCtr };

// The mode's name as in the NIST response file names.
inline const char* ModeName(Mode m) {
  static const char* const kNames[] = {"ECB", "CBC", "CFB1", "CFB8", "CFB128", "OFB", "CTR"};
  return kNames[static_cast<int>(m)];
}

// Only ECB and CBC decryption run the inverse cipher.
inline bool UsesDecryptSchedule(Mode m, bool enc) {
  return !enc && (m == Mode::kEcb || m == Mode::kCbc);
}

inline AES_KEY Schedule(const Bytes& key, bool decrypt) {
  AES_KEY k;
  const int bits = static_cast<int>(key.size() * 8);
  const int rc = decrypt ? AES_set_decrypt_key(key.data(), bits, &k)
                         : AES_set_encrypt_key(key.data(), bits, &k);
  EXPECT_EQ(rc, 0) << "key of " << bits << " bits";
  return k;
}

// The chaining state a caller keeps between calls.
struct Chain {
  uint8_t iv[16] = {};
  int num = 0;
  unsigned int ctr_num = 0;
  uint8_t ecount[16] = {};
};

// Cut points must fall on multiples of this many units (bits for CFB-1,
// bytes otherwise).
inline size_t Grain(Mode m) {
  switch (m) {
    case Mode::kEcb:
    case Mode::kCbc:
      return 16;
    case Mode::kCfb1:
      return 8;
    default:
      return 1;
  }
}

// One call over `units` (bits for CFB-1, bytes otherwise).
inline void Call(Mode m, const AES_KEY& k, bool enc, const uint8_t* in, uint8_t* out, size_t units,
                 Chain& c) {
  const int e = enc ? AES_ENCRYPT : AES_DECRYPT;
  switch (m) {
    case Mode::kEcb:
      for (size_t i = 0; i < units; i += 16) AES_ecb_encrypt(in + i, out + i, &k, e);
      break;
    case Mode::kCbc:
      AES_cbc_encrypt(in, out, units, &k, c.iv, e);
      break;
    case Mode::kCfb1:
      AES_cfb1_encrypt(in, out, units, &k, c.iv, &c.num, e);
      break;
    case Mode::kCfb8:
      AES_cfb8_encrypt(in, out, units, &k, c.iv, &c.num, e);
      break;
    case Mode::kCfb128:
      AES_cfb128_encrypt(in, out, units, &k, c.iv, &c.num, e);
      break;
    case Mode::kOfb:
      AES_ofb128_encrypt(in, out, units, &k, c.iv, &c.num);
      break;
    case Mode::kCtr:
      AES_ctr128_encrypt(in, out, units, &k, c.iv, c.ecount, &c.ctr_num);
      break;
  }
}

struct RunOptions {
  unsigned seed = 0;      // 0: one call; otherwise random pieces from this seed
  bool in_place = false;  // output written over the input buffer
};

// Runs `m` over the first `units` of `in` and returns the output buffer (as
// long as `in`); `end`, when given, receives the final chaining state.
inline Bytes RunMode(Mode m, const Bytes& key, bool enc, const Bytes& iv, const Bytes& in,
                     size_t units, RunOptions opt = {}, Chain* end = nullptr) {
  const AES_KEY k = Schedule(key, UsesDecryptSchedule(m, enc));
  Chain c;
  if (!iv.empty()) memcpy(c.iv, iv.data(), std::min<size_t>(iv.size(), 16));
  Bytes src = in;
  Bytes out(in.size(), 0);
  uint8_t* dst = opt.in_place ? src.data() : out.data();
  std::mt19937 rng(opt.seed);
  const size_t grain = Grain(m);
  const size_t per_byte = m == Mode::kCfb1 ? 8 : 1;
  size_t done = 0;
  while (done < units) {
    size_t piece = units - done;
    // Pieces of 0 to 40 grains, so empty calls happen too.
    if (opt.seed != 0) piece = std::min(piece, grain * (rng() % 41));
    Call(m, k, enc, src.data() + done / per_byte, dst + done / per_byte, piece, c);
    done += piece;
  }
  if (end != nullptr) *end = c;
  return opt.in_place ? src : out;
}

// ECB through the envelope, with or without padding: `in` in pieces of 0 to
// 700 bytes from opt.seed (one call for seed 0), in place or not.  Returns
// what the updates and the final call wrote; `final_ok` receives whether the
// final call succeeded.
inline Bytes EnvelopeEcb(const Bytes& key, bool enc, const Bytes& in, bool padding, RunOptions opt,
                         bool* final_ok = nullptr) {
  const EVP_CIPHER* c = key.size() == 16   ? EVP_aes_128_ecb()
                        : key.size() == 24 ? EVP_aes_192_ecb()
                                           : EVP_aes_256_ecb();
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  EXPECT_EQ(EVP_CipherInit_ex(&ctx, c, nullptr, key.data(), nullptr, enc ? 1 : 0), 1);
  EVP_CIPHER_CTX_set_padding(&ctx, padding ? 1 : 0);
  Bytes src = in, out(in.size() + 16);
  src.resize(in.size() + 16);  // room for the padding block when in place
  uint8_t* dst = opt.in_place ? src.data() : out.data();
  std::mt19937 rng(opt.seed);
  size_t pos = 0, done = 0;
  while (pos < in.size()) {
    size_t piece = in.size() - pos;
    if (opt.seed != 0) piece = std::min<size_t>(piece, rng() % 701);
    int n = -1;
    EXPECT_EQ(EVP_CipherUpdate(&ctx, dst + done, &n, src.data() + pos, static_cast<int>(piece)), 1);
    done += static_cast<size_t>(n);
    pos += piece;
  }
  int n = -1;
  const bool ok = EVP_CipherFinal_ex(&ctx, dst + done, &n) == 1;
  if (ok) done += static_cast<size_t>(n);
  if (final_ok != nullptr) *final_ok = ok;
  EVP_CIPHER_CTX_cleanup(&ctx);
  return Bytes(dst, dst + done);
}

// A bit string of a CFB-1 response file ("0110") as bytes, most significant
// bit first.
inline Bytes BitsToBytes(const std::string& bits) {
  Bytes b((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); i++)
    if (bits[i] == '1') b[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return b;
}

// The first `nbits` bits of `b` as a bit string.
inline std::string BytesToBits(const Bytes& b, size_t nbits) {
  std::string s;
  for (size_t i = 0; i < nbits; i++) s += (b[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
  return s;
}

}  // namespace aes_test

#endif  // MORVANE_TEST_AES_AES_TEST_MODES_H
