// AES modes: NIST SP 800-38A known answers (test/data/aes/sp800_38a.txt: one
// call, random pieces, in place), CBC short blocks, the direction flags,
// the CTR counter, the r-bit CFB step.

#include <morvane/aes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "aes_test_modes.h"

namespace {

using aes_test::Bytes;
using aes_test::BytesToBits;
using aes_test::FromHex;
using aes_test::Mode;
using aes_test::RunMode;
using aes_test::ToHex;

// A field of the record F.n.m of NIST SP 800-38A, Appendix F, in
// test/data/aes/sp800_38a.txt; the tests below reuse the AES-128 key, IV and
// plaintext and the ciphertexts of F.2.1, F.3.1, F.3.7 and F.3.13.
std::string Sp(const char* source, const char* field) {
  static const auto records =
      morvane_test::ReadRsp(morvane_test::TestDataFile("aes/sp800_38a.txt"));
  for (const auto& r : records)
    if (r.Get("Source").rfind(std::string(source) + " ", 0) == 0) return r.Get(field);
  ADD_FAILURE() << "no record " << source;
  return "";
}

// Each vector both ways, in one call, in random pieces with the chaining
// state carried over, and in place.
TEST(AesModes, Sp80038aKnownAnswers) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("aes/sp800_38a.txt"));
  ASSERT_EQ(records.size(), 15u);
  for (const auto& v : records) {
    SCOPED_TRACE(v.Get("Source"));
    Mode m = Mode::kEcb;
    while (v.Get("Mode") != aes_test::ModeName(m)) m = static_cast<Mode>(static_cast<int>(m) + 1);
    const Bytes key = FromHex(v.Get("Key")), iv = FromHex(v.Get("IV"));
    const Bytes pt = FromHex(v.Get("Plaintext")), ct = FromHex(v.Get("Ciphertext"));
    const size_t units = std::stoul(v.Get("Units"));
    for (unsigned seed : {0u, 1u, 2u, 3u, 4u}) {
      for (bool in_place : {false, true}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " in place " << in_place);
        EXPECT_EQ(ToHex(RunMode(m, key, true, iv, pt, units, {seed, in_place})), ToHex(ct));
        EXPECT_EQ(ToHex(RunMode(m, key, false, iv, ct, units, {seed, in_place})), ToHex(pt));
      }
    }
  }
}

// 20 bytes encrypt into 32, the second block padded with zeros; decrypting 20
// writes 20, out of place and in place.  A length of 0 touches nothing.
TEST(AesCbc, ShortLastBlockAndZeroLength) {
  const Bytes key = FromHex(Sp("F.2.1", "Key")), iv = FromHex(Sp("F.2.1", "IV"));
  Bytes padded = FromHex(Sp("F.2.1", "Plaintext"));
  padded.resize(20);
  padded.resize(32, 0);
  const Bytes whole = RunMode(Mode::kCbc, key, true, iv, padded, 32);
  Bytes ct(48, 0xee);
  AES_KEY ek = aes_test::Schedule(key, false), dk = aes_test::Schedule(key, true);
  uint8_t ivec[16];
  memcpy(ivec, iv.data(), 16);
  AES_cbc_encrypt(padded.data(), ct.data(), 20, &ek, ivec, AES_ENCRYPT);
  EXPECT_EQ(ToHex(ct.data(), 32), ToHex(whole));
  EXPECT_EQ(ct[32], 0xee);
  EXPECT_EQ(ToHex(ivec, 16), ToHex(ct.data() + 16, 16));
  for (bool in_place : {false, true}) {
    Bytes buf = ct, out(32, 0xcc);
    memcpy(ivec, iv.data(), 16);
    AES_cbc_encrypt(buf.data(), in_place ? buf.data() : out.data(), 20, &dk, ivec, AES_DECRYPT);
    const Bytes& got = in_place ? buf : out;
    EXPECT_EQ(ToHex(got.data(), 20), ToHex(padded.data(), 20));
    EXPECT_EQ(got[20], in_place ? ct[20] : 0xcc);  // bytes past the length untouched
    EXPECT_EQ(ToHex(ivec, 16), ToHex(ct.data() + 16, 16));
  }
  for (int enc : {AES_ENCRYPT, AES_DECRYPT}) {
    uint8_t out[16] = {};
    memset(ivec, 0x42, 16);
    AES_cbc_encrypt(ct.data(), out, 0, enc ? &ek : &dk, ivec, enc);
    EXPECT_EQ(ToHex(ivec, 16), ToHex(Bytes(16, 0x42)));
    EXPECT_EQ(ToHex(out, 16), ToHex(Bytes(16, 0)));
  }
}

// CBC decrypts for every flag but 1; the CFB functions encrypt for any
// non-zero flag.
TEST(AesModes, DirectionFlags) {
  const Bytes key = FromHex(Sp("F.2.1", "Key")), iv = FromHex(Sp("F.2.1", "IV"));
  const Bytes pt = FromHex(Sp("F.2.1", "Plaintext"));
  const Bytes cbc = FromHex(Sp("F.2.1", "Ciphertext"));
  AES_KEY ek, dk;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &ek), 0);
  ASSERT_EQ(AES_set_decrypt_key(key.data(), 128, &dk), 0);
  uint8_t out[64], ivec[16];
  memcpy(ivec, iv.data(), 16);
  AES_cbc_encrypt(cbc.data(), out, 64, &dk, ivec, 2);
  EXPECT_EQ(ToHex(out, 64), Sp("F.2.1", "Plaintext"));

  int num = 0;
  memcpy(ivec, iv.data(), 16);
  AES_cfb128_encrypt(pt.data(), out, 64, &ek, ivec, &num, 2);
  EXPECT_EQ(ToHex(out, 64), Sp("F.3.13", "Ciphertext"));
  memcpy(ivec, iv.data(), 16);
  AES_cfb8_encrypt(pt.data(), out, 18, &ek, ivec, &num, -1);
  EXPECT_EQ(ToHex(out, 18), Sp("F.3.7", "Ciphertext"));
  memcpy(ivec, iv.data(), 16);
  out[0] = out[1] = 0;
  AES_cfb1_encrypt(pt.data(), out, 16, &ek, ivec, &num, 7);
  EXPECT_EQ(ToHex(out, 2), Sp("F.3.1", "Ciphertext"));
}

// The counter is one 128-bit big-endian number: a carry runs through every
// byte and the all-ones block wraps to zero.
TEST(AesCtr, CounterCarries) {
  const Bytes key = FromHex(Sp("F.2.1", "Key"));
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
  const Bytes key = FromHex(Sp("F.2.1", "Key"));
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
  const Bytes key = FromHex(Sp("F.2.1", "Key")), iv = FromHex(Sp("F.2.1", "IV"));
  const Bytes pt = FromHex(Sp("F.2.1", "Plaintext"));
  AES_KEY k;
  ASSERT_EQ(AES_set_encrypt_key(key.data(), 128, &k), 0);
  uint8_t ivec[16], out[64];
  memcpy(ivec, iv.data(), 16);
  for (int i = 0; i < 18; i++) AES_cfbr_encrypt_block(pt.data() + i, out + i, 8, &k, ivec, 1);
  EXPECT_EQ(ToHex(out, 18), Sp("F.3.7", "Ciphertext"));
  memcpy(ivec, iv.data(), 16);
  for (int i = 0; i < 64; i += 16) AES_cfbr_encrypt_block(pt.data() + i, out + i, 128, &k, ivec, 1);
  EXPECT_EQ(ToHex(out, 64), Sp("F.3.13", "Ciphertext"));
  memcpy(ivec, iv.data(), 16);
  for (int i = 0; i < 64; i += 16) AES_cfbr_encrypt_block(out + i, out + i, 128, &k, ivec, 0);
  EXPECT_EQ(ToHex(out, 64), Sp("F.2.1", "Plaintext"));
}

// CFB-1 replaces only the bits it is given; bits past the length keep their
// old values, for every length that ends inside a byte.
TEST(AesCfb, OneBitLeavesTrailingBits) {
  const Bytes key = FromHex(Sp("F.2.1", "Key")), iv = FromHex(Sp("F.2.1", "IV"));
  const Bytes pt = FromHex(Sp("F.3.1", "Plaintext")), ct = FromHex(Sp("F.3.1", "Ciphertext"));
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
