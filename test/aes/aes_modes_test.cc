// AES modes: NIST SP 800-38A known answers (one call, random pieces, in
// place), CBC short blocks, the direction flags, the CTR counter, the r-bit
// CFB step.

#include <morvane/aes.h>

#include <gtest/gtest.h>

#include <cstring>

#include "aes_test_modes.h"

namespace {

using aes_test::Bytes;
using aes_test::BytesToBits;
using aes_test::Chain;
using aes_test::FromHex;
using aes_test::Mode;
using aes_test::RunMode;
using aes_test::ToHex;

// NIST SP 800-38A, Appendix F: keys and the common plaintext.
const char kKey128[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kKey192[] = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
const char kKey256[] = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char kPlain[] =
    "6bc1bee22e409f96e93d7e117393172a"
    "ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef"
    "f69f2445df4f9b17ad2b417be66c3710";
const char kIv[] = "000102030405060708090a0b0c0d0e0f";
const char kCounter[] = "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";
// Ciphertexts of F.2.1, F.3.1, F.3.7, F.3.13 and F.4.1 (AES-128).
const char kCbc128[] =
    "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
    "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
const char kCfb1Plain[] = "6bc1";
const char kCfb1Cipher128[] = "68b3";
const char kCfb8Plain[] = "6bc1bee22e409f96e93d7e117393172aae2d";
const char kCfb8Cipher128[] = "3b79424c9c0dd436bace9e0ed4586a4f32b9";
const char kCfb128Cipher128[] =
    "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
    "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6";
const char kOfbCipher128[] =
    "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
    "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e";

struct ModeVector {
  const char* source;
  Mode mode;
  const char* key;
  const char* iv;
  const char* plain;
  const char* cipher;
  size_t units;  // bits for CFB-1, bytes otherwise
};

const ModeVector kSp80038a[] = {
    {"F.1.1 ECB-AES128", Mode::kEcb, kKey128, "", kPlain,
     "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
     "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4",
     64},
    {"F.1.3 ECB-AES192", Mode::kEcb, kKey192, "", kPlain,
     "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eef"
     "ef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e",
     64},
    {"F.1.5 ECB-AES256", Mode::kEcb, kKey256, "", kPlain,
     "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
     "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7",
     64},
    {"F.2.1 CBC-AES128", Mode::kCbc, kKey128, kIv, kPlain, kCbc128, 64},
    {"F.2.3 CBC-AES192", Mode::kCbc, kKey192, kIv, kPlain,
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd",
     64},
    {"F.2.5 CBC-AES256", Mode::kCbc, kKey256, kIv, kPlain,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b",
     64},
    {"F.3.1 CFB1-AES128", Mode::kCfb1, kKey128, kIv, kCfb1Plain, kCfb1Cipher128, 16},
    {"F.3.7 CFB8-AES128", Mode::kCfb8, kKey128, kIv, kCfb8Plain, kCfb8Cipher128, 18},
    {"F.3.13 CFB128-AES128", Mode::kCfb128, kKey128, kIv, kPlain, kCfb128Cipher128, 64},
    {"F.3.17 CFB128-AES256", Mode::kCfb128, kKey256, kIv, kPlain,
     "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
     "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471",
     64},
    {"F.4.1 OFB-AES128", Mode::kOfb, kKey128, kIv, kPlain, kOfbCipher128, 64},
    {"F.4.5 OFB-AES256", Mode::kOfb, kKey256, kIv, kPlain,
     "dc7e84bfda79164b7ecd8486985d38604febdc6740d20b3ac88f6ad82a4fb08d"
     "71ab47a086e86eedf39d1c5bba97c4080126141d67f37be8538f5a8be740e484",
     64},
    {"F.5.1 CTR-AES128", Mode::kCtr, kKey128, kCounter, kPlain,
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
     "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee",
     64},
    {"F.5.3 CTR-AES192", Mode::kCtr, kKey192, kCounter, kPlain,
     "1abc932417521ca24f2b0459fe7e6e0b090339ec0aa6faefd5ccc2c6f4ce8e94"
     "1e36b26bd1ebc670d1bd1d665620abf74f78a7f6d29809585a97daec58c6b050",
     64},
    {"F.5.5 CTR-AES256", Mode::kCtr, kKey256, kCounter, kPlain,
     "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
     "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6",
     64},
};

// Each vector both ways, in one call, in random pieces with the chaining
// state carried over, and in place.
TEST(AesModes, Sp80038aKnownAnswers) {
  for (const auto& v : kSp80038a) {
    SCOPED_TRACE(v.source);
    const Bytes key = FromHex(v.key), iv = FromHex(v.iv);
    const Bytes pt = FromHex(v.plain), ct = FromHex(v.cipher);
    for (unsigned seed : {0u, 1u, 2u, 3u, 4u}) {
      for (bool in_place : {false, true}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " in place " << in_place);
        EXPECT_EQ(ToHex(RunMode(v.mode, key, true, iv, pt, v.units, {seed, in_place})), v.cipher);
        EXPECT_EQ(ToHex(RunMode(v.mode, key, false, iv, ct, v.units, {seed, in_place})), v.plain);
      }
    }
  }
}

// The chaining state left by a call: CBC and CFB-128 end on the last
// ciphertext block, OFB on the last keystream block, CTR on the next counter.
TEST(AesModes, FinalChainingState) {
  const Bytes key = FromHex(kKey128), pt = FromHex(kPlain);
  Chain end;
  RunMode(Mode::kCbc, key, true, FromHex(kIv), pt, 64, {}, &end);
  EXPECT_EQ(ToHex(end.iv, 16), "3ff1caa1681fac09120eca307586e1a7");
  RunMode(Mode::kCbc, key, false, FromHex(kIv), FromHex(kCbc128), 64, {}, &end);
  EXPECT_EQ(ToHex(end.iv, 16), "3ff1caa1681fac09120eca307586e1a7");
  RunMode(Mode::kCfb128, key, true, FromHex(kIv), pt, 60, {}, &end);
  EXPECT_EQ(end.num, 12);
  // OFB: the fourth keystream block, plaintext XOR ciphertext of F.4.1.
  RunMode(Mode::kOfb, key, true, FromHex(kIv), pt, 64, {}, &end);
  EXPECT_EQ(end.num, 0);
  const Bytes ofb = FromHex(kOfbCipher128);
  uint8_t keystream[16];
  for (int i = 0; i < 16; i++) keystream[i] = pt[48 + i] ^ ofb[48 + i];
  EXPECT_EQ(ToHex(end.iv, 16), ToHex(keystream, 16));
  RunMode(Mode::kCtr, key, true, FromHex(kCounter), pt, 50, {}, &end);
  EXPECT_EQ(ToHex(end.iv, 16), "f0f1f2f3f4f5f6f7f8f9fafbfcfdff03");
  EXPECT_EQ(end.ctr_num, 2u);
}

TEST(AesCbc, ShortLastBlock) {
  const Bytes key = FromHex(kKey128), iv = FromHex(kIv), pt = FromHex(kPlain);
  AES_KEY ek, dk;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &ek), 0);
  ASSERT_EQ(AES_set_decrypt_key(key.data(), 128, &dk), 0);
  // 20 bytes encrypt into 32: the second block is the plaintext padded with
  // zero bytes.
  uint8_t ct[48];
  memset(ct, 0xee, sizeof ct);
  uint8_t ivec[16];
  memcpy(ivec, iv.data(), 16);
  AES_cbc_encrypt(pt.data(), ct, 20, &ek, ivec, AES_ENCRYPT);
  EXPECT_EQ(ToHex(ct, 16), "7649abac8119b246cee98e9b12e9197d");
  EXPECT_EQ(ct[32], 0xee);
  EXPECT_EQ(ToHex(ivec, 16), ToHex(ct + 16, 16));
  uint8_t padded[32] = {};
  memcpy(padded, pt.data(), 20);
  uint8_t whole[32];
  uint8_t iv2[16];
  memcpy(iv2, iv.data(), 16);
  AES_cbc_encrypt(padded, whole, 32, &ek, iv2, AES_ENCRYPT);
  EXPECT_EQ(ToHex(whole, 32), ToHex(ct, 32));

  // Decrypting with length 20 writes 20 bytes and leaves the whole second
  // ciphertext block in ivec, into a separate buffer and in place.
  uint8_t out[32];
  memset(out, 0xcc, sizeof out);
  memcpy(ivec, iv.data(), 16);
  AES_cbc_encrypt(ct, out, 20, &dk, ivec, AES_DECRYPT);
  EXPECT_EQ(ToHex(out, 20), ToHex(pt.data(), 20));
  EXPECT_EQ(out[20], 0xcc);
  EXPECT_EQ(ToHex(ivec, 16), ToHex(ct + 16, 16));
  uint8_t buf[32];
  memcpy(buf, ct, 32);
  memcpy(ivec, iv.data(), 16);
  AES_cbc_encrypt(buf, buf, 20, &dk, ivec, AES_DECRYPT);
  EXPECT_EQ(ToHex(buf, 20), ToHex(pt.data(), 20));
  EXPECT_EQ(ToHex(buf + 20, 12), ToHex(ct + 20, 12));  // bytes past the length untouched
  EXPECT_EQ(ToHex(ivec, 16), ToHex(ct + 16, 16));
}

TEST(AesCbc, ZeroLengthWritesNothing) {
  const Bytes key = FromHex(kKey128);
  AES_KEY ek;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &ek), 0);
  uint8_t in[16] = {1}, out[16] = {}, ivec[16];
  for (int enc : {AES_ENCRYPT, AES_DECRYPT}) {
    memset(ivec, 0x42, 16);
    AES_cbc_encrypt(in, out, 0, &ek, ivec, enc);
    for (int i = 0; i < 16; i++) {
      EXPECT_EQ(ivec[i], 0x42);
      EXPECT_EQ(out[i], 0);
    }
  }
}

// CBC decrypts for every flag but 1; the CFB functions encrypt for any
// non-zero flag.
TEST(AesModes, DirectionFlags) {
  const Bytes key = FromHex(kKey128), iv = FromHex(kIv), pt = FromHex(kPlain);
  const Bytes cbc = FromHex(kCbc128);
  AES_KEY ek, dk;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &ek), 0);
  ASSERT_EQ(AES_set_decrypt_key(key.data(), 128, &dk), 0);
  uint8_t out[64], ivec[16];
  memcpy(ivec, iv.data(), 16);
  AES_cbc_encrypt(cbc.data(), out, 64, &dk, ivec, 2);
  EXPECT_EQ(ToHex(out, 64), kPlain);

  int num = 0;
  memcpy(ivec, iv.data(), 16);
  AES_cfb128_encrypt(pt.data(), out, 64, &ek, ivec, &num, 2);
  EXPECT_EQ(ToHex(out, 64), kCfb128Cipher128);
  memcpy(ivec, iv.data(), 16);
  AES_cfb8_encrypt(pt.data(), out, 18, &ek, ivec, &num, -1);
  EXPECT_EQ(ToHex(out, 18), kCfb8Cipher128);
  memcpy(ivec, iv.data(), 16);
  out[0] = out[1] = 0;
  AES_cfb1_encrypt(pt.data(), out, 16, &ek, ivec, &num, 7);
  EXPECT_EQ(ToHex(out, 2), kCfb1Cipher128);
}

// OFB and CTR decrypt with the encrypting call; the chunking of a message
// does not matter for the byte-wise modes, with pieces of 1, 7, 15, 16, 17.
TEST(AesModes, FixedPieceSizes) {
  const Bytes key = FromHex(kKey256);
  Bytes msg(300);
  for (size_t i = 0; i < msg.size(); i++) msg[i] = static_cast<uint8_t>(i * 31 + 5);
  for (Mode m : {Mode::kCfb128, Mode::kOfb, Mode::kCtr, Mode::kCfb8}) {
    SCOPED_TRACE(aes_test::ModeName(m));
    const Bytes whole = RunMode(m, key, true, FromHex(kCounter), msg, msg.size());
    for (size_t piece : {1, 7, 15, 16, 17}) {
      AES_KEY k = aes_test::Schedule(key, false);
      Chain c;
      memcpy(c.iv, FromHex(kCounter).data(), 16);
      Bytes out(msg.size());
      for (size_t at = 0; at < msg.size(); at += piece)
        aes_test::Call(m, k, true, msg.data() + at, out.data() + at,
                       std::min(piece, msg.size() - at), c);
      EXPECT_EQ(ToHex(out), ToHex(whole)) << piece;
    }
    EXPECT_EQ(ToHex(RunMode(m, key, false, FromHex(kCounter), whole, whole.size(), {9, true})),
              ToHex(msg));
  }
}

// The counter is one 128-bit big-endian number: a carry runs through every
// byte and the all-ones block wraps to zero.
TEST(AesCtr, CounterCarries) {
  const Bytes key = FromHex(kKey128);
  AES_KEY k;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &k), 0);
  struct {
    const char* before;
    const char* after;
  } const cases[] = {
      {"000102030405060708090a0bffffffff", "000102030405060708090a0c00000000"},
      {"0001020304050607ffffffffffffffff", "00010203040506080000000000000000"},
      {"00010203ffffffffffffffffffffffff", "00010204000000000000000000000000"},
      {"ffffffffffffffffffffffffffffffff", "00000000000000000000000000000000"},
  };
  for (const auto& c : cases) {
    const Bytes before = FromHex(c.before), after = FromHex(c.after);
    uint8_t ivec[16], ecount[16], in[32] = {}, out[32];
    memcpy(ivec, before.data(), 16);
    unsigned int num = 0;
    AES_ctr128_encrypt(in, out, 16, &k, ivec, ecount, &num);
    EXPECT_EQ(ToHex(ivec, 16), c.after) << c.before;
    // The keystream is E(counter), then E(counter + 1).
    AES_ctr128_encrypt(in, out + 16, 16, &k, ivec, ecount, &num);
    uint8_t expect[16];
    AES_encrypt(before.data(), expect, &k);
    EXPECT_EQ(ToHex(out, 16), ToHex(expect, 16));
    AES_encrypt(after.data(), expect, &k);
    EXPECT_EQ(ToHex(out + 16, 16), ToHex(expect, 16));
  }
}

TEST(AesCfb, RBitStepRejectsBadWidths) {
  const Bytes key = FromHex(kKey128);
  AES_KEY k;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &k), 0);
  for (int nbits : {0, -1, 129}) {
    uint8_t in[17] = {1, 2, 3}, out[17], ivec[16];
    memset(out, 0x77, sizeof out);
    memset(ivec, 0x99, sizeof ivec);
    AES_cfbr_encrypt_block(in, out, nbits, &k, ivec, AES_ENCRYPT);
    for (int i = 0; i < 16; i++) {
      EXPECT_EQ(out[i], 0x77) << nbits;
      EXPECT_EQ(ivec[i], 0x99) << nbits;
    }
  }
}

// CFB-8 is the r-bit step with r = 8, byte by byte; a 128-bit step is one
// CFB-128 block.
TEST(AesCfb, EightBitAndFullWidthSteps) {
  const Bytes key = FromHex(kKey128), iv = FromHex(kIv), pt = FromHex(kPlain);
  AES_KEY k;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &k), 0);
  uint8_t ivec[16], out[64];
  memcpy(ivec, iv.data(), 16);
  for (int i = 0; i < 18; i++) AES_cfbr_encrypt_block(pt.data() + i, out + i, 8, &k, ivec, 1);
  EXPECT_EQ(ToHex(out, 18), kCfb8Cipher128);
  memcpy(ivec, iv.data(), 16);
  for (int i = 0; i < 64; i += 16) AES_cfbr_encrypt_block(pt.data() + i, out + i, 128, &k, ivec, 1);
  EXPECT_EQ(ToHex(out, 64), kCfb128Cipher128);
  memcpy(ivec, iv.data(), 16);
  for (int i = 0; i < 64; i += 16) AES_cfbr_encrypt_block(out + i, out + i, 128, &k, ivec, 0);
  EXPECT_EQ(ToHex(out, 64), kPlain);
}

// CFB-1 replaces only the bits it is given; bits past the length keep their
// old values, for every length that ends inside a byte.
TEST(AesCfb, OneBitLeavesTrailingBits) {
  const Bytes key = FromHex(kKey128), iv = FromHex(kIv);
  const Bytes pt = FromHex(kCfb1Plain), ct = FromHex(kCfb1Cipher128);
  AES_KEY k;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &k), 0);
  for (size_t nbits = 1; nbits <= 16; nbits++) {
    for (uint8_t fill : {0x00, 0xff, 0x5a}) {
      uint8_t out[2] = {fill, fill}, ivec[16];
      int num = 0;
      memcpy(ivec, iv.data(), 16);
      AES_cfb1_encrypt(pt.data(), out, nbits, &k, ivec, &num, AES_ENCRYPT);
      const Bytes got(out, out + 2);
      EXPECT_EQ(BytesToBits(got, nbits), BytesToBits(ct, nbits)) << nbits;
      Bytes keep = {fill, fill};
      EXPECT_EQ(BytesToBits(got, 16).substr(nbits), BytesToBits(keep, 16).substr(nbits)) << nbits;
    }
  }
}

}  // namespace
