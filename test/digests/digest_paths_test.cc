// The digest code paths against each other: the same fixed run over every
// digest (random messages of many lengths, at odd addresses, in random
// pieces, and the Transform entry points) gives the same bytes with the
// hardware code (SHA extensions; AVX-512VL or AVX2 for SHA-512) and with the
// portable code.  The known-answer tests cover each
// path too: ctest runs this program once with the hardware code and once with
// MORVANE_NO_HWCRYPT=1.

#include <morvane/sha.h>

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "digest_algos.h"
#include "test_support.h"

namespace {

using digest_test::AllAlgos;
using morvane_test::Bytes;

Bytes Transcript() {
  std::mt19937 rng(7041);
  Bytes msg(70000 + 3);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  Bytes t;
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 200; n++) lengths.push_back(n);
  for (size_t n : {255, 256, 257, 1000, 4099, 70000}) lengths.push_back(n);
  for (const auto& algo : AllAlgos()) {
    std::vector<uint8_t> ctx(algo.ctx_size);
    Bytes md(algo.md_len);
    for (size_t len : lengths) {
      const uint8_t* in = msg.data() + rng() % 4;  // any alignment
      algo.init(ctx.data());
      for (size_t done = 0; done < len;) {
        const size_t piece = std::min<size_t>(len - done, rng() % 3 == 0 ? rng() % 200 : len);
        algo.update(ctx.data(), in + done, piece);
        done += piece;
      }
      algo.final(md.data(), ctx.data());
      t.insert(t.end(), md.begin(), md.end());
    }
  }
  // Transform runs one block on the chaining words alone.
  SHA_CTX c1;
  SHA1_Init(&c1);
  SHA256_CTX c256;
  SHA256_Init(&c256);
  SHA512_CTX c512;
  SHA512_Init(&c512);
  for (size_t i = 0; i < 64; i++) {
    SHA1_Transform(&c1, msg.data() + 1 + 64 * i);
    SHA256_Transform(&c256, msg.data() + 3 + 64 * i);
    SHA512_Transform(&c512, msg.data() + 5 + 128 * i);
  }
  const auto* w1 = reinterpret_cast<const uint8_t*>(&c1);
  const auto* w256 = reinterpret_cast<const uint8_t*>(c256.h);
  const auto* w512 = reinterpret_cast<const uint8_t*>(c512.h);
  t.insert(t.end(), w1, w1 + 20);
  t.insert(t.end(), w256, w256 + 32);
  t.insert(t.end(), w512, w512 + 64);
  return t;
}

[[maybe_unused]] const int kServe = morvane_test::ServeTranscript(Transcript);

// This process runs with whatever paths its environment allows (all of them
// under a plain ctest run); each child switches some off.
TEST(DigestPaths, PortableCodeGivesTheSameBytes) {
  morvane_test::ExpectSameTranscriptWithSwitch(Transcript, "1");
}

TEST(DigestPaths, Sha512WithAvx2AloneGivesTheSameBytes) {
  morvane_test::ExpectSameTranscriptWithSwitch(Transcript, "avx512");
}

}  // namespace
