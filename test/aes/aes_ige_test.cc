// AES IGE and bidirectional IGE: published known answers, the chaining value
// across calls, in place, round trips, and the fatal precondition checks.

#include <morvane/aes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aes_test_modes.h"

namespace {

using aes_test::Bytes;
using aes_test::FromHex;
using aes_test::ToHex;

// Ben Laurie's IGE vectors (test/data/aes/ige.txt).
struct IgeVector {
  std::string key, iv, plain, cipher;
};
const std::vector<IgeVector>& IgeVectors() {
  static const std::vector<IgeVector> vectors = [] {
    std::vector<IgeVector> out;
    for (const auto& r : morvane_test::ReadRsp(morvane_test::TestDataFile("aes/ige.txt")))
      out.push_back({r.Get("Key"), r.Get("IV"), r.Get("Plaintext"), r.Get("Ciphertext")});
    return out;
  }();
  return vectors;
}

AES_KEY Key(const Bytes& key, int enc) {
  return aes_test::Schedule(key, enc == AES_DECRYPT);
}

TEST(AesIge, PublishedVectors) {
  ASSERT_EQ(IgeVectors().size(), 2u);
  for (const auto& v : IgeVectors()) {
    SCOPED_TRACE(v.key);
    const Bytes key = FromHex(v.key), iv = FromHex(v.iv);
    const Bytes pt = FromHex(v.plain), ct = FromHex(v.cipher);
    for (bool in_place : {false, true}) {
      AES_KEY ek = Key(key, AES_ENCRYPT), dk = Key(key, AES_DECRYPT);
      uint8_t ivec[32], buf[32], out[32];
      memcpy(ivec, iv.data(), 32);
      memcpy(buf, pt.data(), 32);
      AES_ige_encrypt(buf, in_place ? buf : out, 32, &ek, ivec, AES_ENCRYPT);
      EXPECT_EQ(ToHex(in_place ? buf : out, 32), v.cipher);
      // The chaining value ends as the last ciphertext and plaintext blocks.
      EXPECT_EQ(ToHex(ivec, 16), ToHex(ct.data() + 16, 16));
      EXPECT_EQ(ToHex(ivec + 16, 16), ToHex(pt.data() + 16, 16));

      memcpy(ivec, iv.data(), 32);
      memcpy(buf, ct.data(), 32);
      AES_ige_encrypt(buf, in_place ? buf : out, 32, &dk, ivec, AES_DECRYPT);
      EXPECT_EQ(ToHex(in_place ? buf : out, 32), v.plain);
      EXPECT_EQ(ToHex(ivec, 16), ToHex(ct.data() + 16, 16));
      EXPECT_EQ(ToHex(ivec + 16, 16), ToHex(pt.data() + 16, 16));
    }
  }
}

// A message in two calls with the chaining value carried over equals one
// call.
TEST(AesIge, SplitCalls) {
  const Bytes key = FromHex(IgeVectors()[1].key), iv = FromHex(IgeVectors()[1].iv);
  Bytes msg(160);
  for (size_t i = 0; i < msg.size(); i++) msg[i] = static_cast<uint8_t>(i * 13 + 1);
  for (int enc : {AES_ENCRYPT, AES_DECRYPT}) {
    AES_KEY k = Key(key, enc);
    uint8_t whole[160], ivec[32];
    memcpy(ivec, iv.data(), 32);
    AES_ige_encrypt(msg.data(), whole, 160, &k, ivec, enc);
    for (size_t cut : {16, 48, 144}) {
      uint8_t parts[160], iv2[32];
      memcpy(iv2, iv.data(), 32);
      AES_ige_encrypt(msg.data(), parts, cut, &k, iv2, enc);
      AES_ige_encrypt(msg.data() + cut, parts + cut, 160 - cut, &k, iv2, enc);
      EXPECT_EQ(ToHex(parts, 160), ToHex(whole, 160)) << cut;
      EXPECT_EQ(ToHex(iv2, 32), ToHex(ivec, 32)) << cut;
    }
  }
}

TEST(AesIge, ZeroLengthChangesNothing) {
  const Bytes key = FromHex(IgeVectors()[0].key);
  AES_KEY k = Key(key, AES_ENCRYPT);
  uint8_t in[16] = {}, out[16], ivec[32];
  memset(out, 0x33, sizeof out);
  memset(ivec, 0x44, sizeof ivec);
  AES_ige_encrypt(in, out, 0, &k, ivec, AES_ENCRYPT);
  for (uint8_t b : out) EXPECT_EQ(b, 0x33);
  for (uint8_t b : ivec) EXPECT_EQ(b, 0x44);
}

// Bidirectional IGE is a forward IGE pass followed by an IGE pass over the
// blocks in reverse order, both under `key`.
TEST(AesBiIge, ForwardThenBackwardPass) {
  const Bytes key = FromHex(IgeVectors()[1].key);
  uint8_t ivec[64];
  for (int i = 0; i < 64; i++) ivec[i] = static_cast<uint8_t>(0xa0 + i);
  Bytes msg(96);
  for (size_t i = 0; i < msg.size(); i++) msg[i] = static_cast<uint8_t>(i * 5);
  AES_KEY ek = Key(key, AES_ENCRYPT), dk = Key(key, AES_DECRYPT);
  AES_KEY other = Key(FromHex(IgeVectors()[0].key), AES_ENCRYPT);

  uint8_t expect[96], rev[96], iv[32];
  memcpy(iv, ivec, 32);
  AES_ige_encrypt(msg.data(), expect, 96, &ek, iv, AES_ENCRYPT);
  for (int b = 0; b < 6; b++) memcpy(rev + 16 * b, expect + 16 * (5 - b), 16);
  memcpy(iv, ivec + 32, 32);
  AES_ige_encrypt(rev, rev, 96, &ek, iv, AES_ENCRYPT);
  for (int b = 0; b < 6; b++) memcpy(expect + 16 * b, rev + 16 * (5 - b), 16);

  uint8_t ct[96], buf[96];
  uint8_t ivcopy[64];
  memcpy(ivcopy, ivec, 64);
  AES_bi_ige_encrypt(msg.data(), ct, 96, &ek, &other, ivec, AES_ENCRYPT);
  EXPECT_EQ(ToHex(ct, 96), ToHex(expect, 96));
  EXPECT_EQ(ToHex(ivec, 64), ToHex(ivcopy, 64));  // not updated
  // In place gives the same, in both directions.
  memcpy(buf, msg.data(), 96);
  AES_bi_ige_encrypt(buf, buf, 96, &ek, &other, ivec, AES_ENCRYPT);
  EXPECT_EQ(ToHex(buf, 96), ToHex(ct, 96));
  AES_bi_ige_encrypt(buf, buf, 96, &dk, &other, ivec, AES_DECRYPT);
  EXPECT_EQ(ToHex(buf, 96), ToHex(msg));
  uint8_t pt[96];
  AES_bi_ige_encrypt(ct, pt, 96, &dk, &other, ivec, AES_DECRYPT);
  EXPECT_EQ(ToHex(pt, 96), ToHex(msg));
}

// Broken preconditions end the process with the assertion's text.
using AesIgeDeathTest = testing::Test;

TEST_F(AesIgeDeathTest, BadLengthDies) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  const Bytes key = FromHex(IgeVectors()[0].key);
  AES_KEY k = Key(key, AES_ENCRYPT);
  uint8_t in[32] = {}, out[32], ivec[64] = {};
  EXPECT_DEATH(AES_ige_encrypt(in, out, 17, &k, ivec, AES_ENCRYPT),
               "^aes/aes_ige\\([0-9]+\\): Morvane internal error, assertion failed: "
               "\\(length%AES_BLOCK_SIZE\\) == 0\n");
  EXPECT_DEATH(AES_bi_ige_encrypt(in, out, 8, &k, &k, ivec, AES_ENCRYPT),
               "^aes/aes_ige\\([0-9]+\\): Morvane internal error, assertion failed: "
               "\\(length%AES_BLOCK_SIZE\\) == 0\n");
}

TEST_F(AesIgeDeathTest, BadDirectionAndNullArgumentsDie) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  const Bytes key = FromHex(IgeVectors()[0].key);
  AES_KEY k = Key(key, AES_ENCRYPT);
  uint8_t in[32] = {}, out[32], ivec[64] = {};
  EXPECT_DEATH(AES_ige_encrypt(in, out, 16, &k, ivec, 2),
               "assertion failed: \\(AES_ENCRYPT == enc\\)\\|\\|\\(AES_DECRYPT == enc\\)\n");
  EXPECT_DEATH(AES_ige_encrypt(in, out, 16, &k, nullptr, AES_ENCRYPT),
               "assertion failed: in && out && key && ivec\n");
  EXPECT_DEATH(AES_bi_ige_encrypt(nullptr, out, 16, &k, &k, ivec, AES_DECRYPT),
               "assertion failed: in && out && key && ivec\n");
  // The null check comes first.
  EXPECT_DEATH(AES_ige_encrypt(in, out, 15, nullptr, ivec, 5),
               "assertion failed: in && out && key && ivec\n");
}

}  // namespace
