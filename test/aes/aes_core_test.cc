// AES key setup and block functions: FIPS-197 known answers (blocks and the
// expanded key's words), bad key sizes and null arguments, in-place blocks,
// the direction flag.

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

// FIPS-197, Appendix C.1 to C.3 (test/data/aes/fips197.txt).
const std::vector<morvane_test::RspRecord>& Fips197() {
  static const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("aes/fips197.txt"));
  return records;
}

TEST(AesBlock, Fips197AppendixC) {
  ASSERT_EQ(Fips197().size(), 3u);
  for (const auto& r : Fips197()) {
    const std::string plain = r.Get("Plaintext"), cipher = r.Get("Ciphertext");
    SCOPED_TRACE(r.Get("Key"));
    const Bytes key = FromHex(r.Get("Key")), pt = FromHex(plain), ct = FromHex(cipher);
    const int bits = static_cast<int>(key.size() * 8);
    AES_KEY ek, dk;
    ASSERT_EQ(AES_set_encrypt_key(key.data(), bits, &ek), 0);
    ASSERT_EQ(AES_set_decrypt_key(key.data(), bits, &dk), 0);
    EXPECT_EQ(ek.rounds, bits / 32 + 6);
    EXPECT_EQ(dk.rounds, ek.rounds);
    uint8_t out[16];
    AES_encrypt(pt.data(), out, &ek);
    EXPECT_EQ(ToHex(out, 16), cipher);
    AES_decrypt(ct.data(), out, &dk);
    EXPECT_EQ(ToHex(out, 16), plain);
    // In place, and through the ECB entry.
    memcpy(out, pt.data(), 16);
    AES_ecb_encrypt(out, out, &ek, AES_ENCRYPT);
    EXPECT_EQ(ToHex(out, 16), cipher);
    AES_ecb_encrypt(out, out, &dk, AES_DECRYPT);
    EXPECT_EQ(ToHex(out, 16), plain);
  }
}

// FIPS-197, Appendix A: the expanded keys' words as printed there (w[i] with
// the first byte most significant).
TEST(AesKeySchedule, Fips197AppendixAWords) {
  AES_KEY k;
  Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");  // A.1
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &k), 0);
  EXPECT_EQ(k.rd_key[0], 0x2b7e1516u);
  EXPECT_EQ(k.rd_key[4], 0xa0fafe17u);
  EXPECT_EQ(k.rd_key[43], 0xb6630ca6u);
  key = FromHex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b");  // A.2
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 192, &k), 0);
  EXPECT_EQ(k.rd_key[6], 0xfe0c91f7u);
  EXPECT_EQ(k.rd_key[51], 0x01002202u);
  key = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");  // A.3
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 256, &k), 0);
  EXPECT_EQ(k.rd_key[8], 0x9ba35411u);
  EXPECT_EQ(k.rd_key[12], 0xa8b09c1au);  // the i mod 8 = 4 step
  EXPECT_EQ(k.rd_key[59], 0x706c631eu);
}

TEST(AesKeySchedule, BadSizesAndNullArguments) {
  const uint8_t key[64] = {1, 2, 3};
  AES_KEY k;
  for (int bits : {0, 64, 127, 129, 512, -128}) {
    memset(&k, 0x5a, sizeof k);
    EXPECT_EQ(AES_set_encrypt_key(key, bits, &k), -2) << bits;
    EXPECT_EQ(AES_set_decrypt_key(key, bits, &k), -2) << bits;
    // Nothing was written.
    const AES_KEY* p = &k;
    for (size_t i = 0; i < sizeof k; i++)
      ASSERT_EQ(reinterpret_cast<const uint8_t*>(p)[i], 0x5a) << bits;
  }
  for (int bits : {128, 192, 256, 0, 512}) {
    EXPECT_EQ(AES_set_encrypt_key(nullptr, bits, &k), -1) << bits;
    EXPECT_EQ(AES_set_decrypt_key(nullptr, bits, &k), -1) << bits;
    EXPECT_EQ(AES_set_encrypt_key(key, bits, nullptr), -1) << bits;
    EXPECT_EQ(AES_set_decrypt_key(key, bits, nullptr), -1) << bits;
  }
}

// Only AES_ENCRYPT (1) encrypts; every other value decrypts.
TEST(AesBlock, EcbDirectionFlag) {
  const auto& v = Fips197().at(0);
  const Bytes key = FromHex(v.Get("Key")), ct = FromHex(v.Get("Ciphertext"));
  AES_KEY dk;
  ASSERT_EQ(AES_set_decrypt_key(key.data(), 128, &dk), 0);
  for (int enc : {0, 2, -1}) {
    uint8_t out[16];
    AES_ecb_encrypt(ct.data(), out, &dk, enc);
    EXPECT_EQ(ToHex(out, 16), v.Get("Plaintext")) << enc;
  }
}

}  // namespace
