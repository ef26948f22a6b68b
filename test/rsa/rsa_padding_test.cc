// The RSA paddings through their add and check functions: the limits and
// failure reasons of each scheme (RFC 8017, 7.1, 7.2, 9.1; ANSI X9.31),
// MGF1, and the rule that a failing check leaves the output alone.

#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::ErrorsAre;

constexpr int kR = ERR_LIB_RSA;

// ---- PKCS#1 v1.5 ---------------------------------------------------------

TEST(RsaPadding, Pkcs1AddsTakeElevenBytesLessThanTheBlock) {
  const int k = 128;
  Bytes to(k), msg = Pseudo(k, 1);
  EXPECT_EQ(RSA_padding_add_PKCS1_type_1(to.data(), k, msg.data(), k - 11), 1);
  EXPECT_EQ(RSA_padding_add_PKCS1_type_2(to.data(), k, msg.data(), k - 11), 1);
  EXPECT_EQ(RSA_padding_add_SSLv23(to.data(), k, msg.data(), k - 11), 1);
  EXPECT_ERRORS({});
  EXPECT_EQ(RSA_padding_add_PKCS1_type_1(to.data(), k, msg.data(), k - 10), 0);
  EXPECT_EQ(RSA_padding_add_PKCS1_type_2(to.data(), k, msg.data(), k - 10), 0);
  EXPECT_EQ(RSA_padding_add_SSLv23(to.data(), k, msg.data(), k - 10), 0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_1, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE},
                 {kR, RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_2, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE},
                 {kR, RSA_F_RSA_PADDING_ADD_SSLV23, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE}});
  // A negative length is refused, not copied.
  EXPECT_EQ(RSA_padding_add_PKCS1_type_1(to.data(), k, msg.data(), -1), 0);
  EXPECT_EQ(RSA_padding_add_PKCS1_OAEP(to.data(), k, msg.data(), -1, nullptr, 0), 0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_1, RSA_R_DATA_TOO_SMALL_FOR_KEY_SIZE},
                 {kR, RSA_F_RSA_PADDING_ADD_PKCS1_OAEP, RSA_R_DATA_TOO_SMALL_FOR_KEY_SIZE}});
}

TEST(RsaPadding, Pkcs1AddLayouts) {
  const Bytes msg = {0xAA, 0xBB, 0xCC};
  Bytes to(20);
  ASSERT_EQ(RSA_padding_add_PKCS1_type_1(to.data(), 20, msg.data(), 3), 1);
  EXPECT_EQ(morvane_test::ToHex(to), "0001ffffffffffffffffffffffffffff00aabbcc");
  for (int sslv23 = 0; sslv23 < 2; sslv23++) {
    ASSERT_EQ(sslv23 ? RSA_padding_add_SSLv23(to.data(), 20, msg.data(), 3)
                     : RSA_padding_add_PKCS1_type_2(to.data(), 20, msg.data(), 3),
              1);
    EXPECT_EQ(to[0], 0);
    EXPECT_EQ(to[1], 2);
    for (int i = 2; i < 16; i++) EXPECT_NE(to[i], 0) << i;
    if (sslv23) {
      EXPECT_EQ(morvane_test::ToHex(to.data() + 8, 8), "0303030303030303");
    }
    EXPECT_EQ(morvane_test::ToHex(to.data() + 16, 4), "00aabbcc");
  }
}

// A decrypted type 1 block (without its leading zero): 0x01, `ff` bytes 0xFF,
// then `tail`.
Bytes Type1(int ff, const Bytes& tail) {
  Bytes b = {0x01};
  b.insert(b.end(), ff, 0xFF);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

struct CheckCase {
  const char* name;
  Bytes block;  // as the check gets it (leading zeros removed)
  int num;      // modulus length
  int reason;   // 0: accepted
};

TEST(RsaPadding, Type1CheckReasons) {
  const CheckCase cases[] = {
      {"eight 0xFF", Type1(8, {0x00, 0x11, 0x22}), 13, 0},
      {"seven 0xFF", Type1(7, {0x00, 0x11, 0x22, 0x33}), 13, RSA_R_BAD_PAD_BYTE_COUNT},
      {"0xFE in the padding", Type1(4, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x11}), 13,
       RSA_R_BAD_FIXED_HEADER_DECRYPT},
      {"no separator", Type1(11, {}), 13, RSA_R_NULL_BEFORE_BLOCK_MISSING},
      {"type 2",
       {0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x11},
       12,
       RSA_R_BLOCK_TYPE_IS_NOT_01},
      {"a byte too short", Type1(8, {0x00, 0x11, 0x22}), 14, RSA_R_BLOCK_TYPE_IS_NOT_01},
      {"empty", {}, 1, RSA_R_BLOCK_TYPE_IS_NOT_01},
  };
  for (const auto& c : cases) {
    Bytes to(16, 0x5A);
    const int r = RSA_padding_check_PKCS1_type_1(to.data(), 16, c.block.data(),
                                                 static_cast<int>(c.block.size()), c.num);
    if (c.reason == 0) {
      EXPECT_EQ(r, 2) << c.name;
      EXPECT_EQ(morvane_test::ToHex(to.data(), 2), "1122") << c.name;
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(r, -1) << c.name;
      EXPECT_EQ(to, Bytes(16, 0x5A)) << c.name;
      EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_1, c.reason}}) << c.name;
    }
  }
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A type 2 (or SSLv23) block without its leading zero: 0x02, `pad` non-zero
// bytes whose last `threes` are 0x03, then `tail`.
Bytes Type2(int pad, int threes, const Bytes& tail) {
  Bytes b = {0x02};
  for (int i = 0; i < pad; i++) b.push_back(i >= pad - threes ? 0x03 : 0x40 + (i & 0x1F));
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

TEST(RsaPadding, Type2AndSslv23CheckReasons) {
  struct Case {
    const char* name;
    Bytes block;
    int num, tlen;
    int type2, sslv23;  // reasons, 0: accepted
  };
  const Case cases[] = {
      {"eight bytes", Type2(8, 0, {0x00, 0x11, 0x22}), 13, 16, 0, 0},
      {"seven 0x03", Type2(8, 7, {0x00, 0x11, 0x22}), 13, 16, 0, 0},
      {"eight 0x03", Type2(8, 8, {0x00, 0x11, 0x22}), 13, 16, 0, RSA_R_SSLV3_ROLLBACK_ATTACK},
      {"eight 0x03 of more", Type2(12, 8, {0x00, 0x11}), 16, 16, 0, RSA_R_SSLV3_ROLLBACK_ATTACK},
      {"seven bytes", Type2(7, 0, {0x00, 0x11, 0x22, 0x33}), 13, 16, RSA_R_BAD_PAD_BYTE_COUNT,
       RSA_R_NULL_BEFORE_BLOCK_MISSING},
      {"no separator", Type2(11, 0, {}), 13, 16, RSA_R_NULL_BEFORE_BLOCK_MISSING,
       RSA_R_NULL_BEFORE_BLOCK_MISSING},
      {"block of k bytes", Cat({0x01}, Type2(8, 0, {0x00, 0x11, 0x22})), 13, 16,
       RSA_R_BLOCK_TYPE_IS_NOT_02, RSA_R_BLOCK_TYPE_IS_NOT_02},
      {"type 1", Type1(8, {0x00, 0x11, 0x22}), 13, 16, RSA_R_BLOCK_TYPE_IS_NOT_02,
       RSA_R_BLOCK_TYPE_IS_NOT_02},
      {"no room", Type2(8, 0, {0x00, 0x11, 0x22}), 13, 1, RSA_R_DATA_TOO_LARGE,
       RSA_R_DATA_TOO_LARGE},
      {"nine bytes",
       {0x02, 1, 2, 3, 4, 5, 6, 7, 0},
       10,
       16,
       RSA_R_BAD_PAD_BYTE_COUNT,
       RSA_R_DATA_TOO_SMALL},
  };
  for (const auto& c : cases) {
    for (int sslv23 = 0; sslv23 < 2; sslv23++) {
      const int want = sslv23 ? c.sslv23 : c.type2;
      Bytes to(16, 0x5A);
      const int flen = static_cast<int>(c.block.size());
      const int r =
          sslv23 ? RSA_padding_check_SSLv23(to.data(), c.tlen, c.block.data(), flen, c.num)
                 : RSA_padding_check_PKCS1_type_2(to.data(), c.tlen, c.block.data(), flen, c.num);
      const std::string what = std::string(c.name) + (sslv23 ? " (SSLv23)" : " (type 2)");
      if (want == 0) {
        const auto sep = std::find(c.block.begin() + 1, c.block.end(), 0);
        EXPECT_EQ(r, c.block.end() - sep - 1) << what;
        EXPECT_EQ(Bytes(to.begin(), to.begin() + r), Bytes(sep + 1, c.block.end())) << what;
        EXPECT_ERRORS({});
      } else {
        EXPECT_EQ(r, -1) << what;
        EXPECT_EQ(to, Bytes(16, 0x5A)) << what;
        const int fn =
            sslv23 ? RSA_F_RSA_PADDING_CHECK_SSLV23 : RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_2;
        EXPECT_ERRORS({{kR, fn, want}}) << what;
      }
    }
  }
}

// Blocks longer than 65536 bytes are refused before anything is written.
TEST(RsaPadding, OverlongBlocksAreRefused) {
  static unsigned char to[16], from[16];
  const int big = 65537;
  EXPECT_EQ(RSA_padding_add_PKCS1_type_2(to, big, from, 16), 0);
  EXPECT_EQ(RSA_padding_add_PKCS1_OAEP(to, big, from, 16, nullptr, 0), 0);
  EXPECT_EQ(RSA_padding_add_none(to, big, from, 16), 0);
  EXPECT_EQ(RSA_padding_add_X931(to, big, from, 16), -1);
  EXPECT_EQ(RSA_padding_check_PKCS1_type_2(to, 16, from, 16, big), -1);
  EXPECT_EQ(RSA_padding_check_PKCS1_OAEP(to, 16, from, 16, big, nullptr, 0), -1);
  EXPECT_EQ(RSA_padding_check_none(to, big, from, 16, big), -1);
  const int r = RSA_R_MODULUS_TOO_LARGE;
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_2, r},
                 {kR, RSA_F_RSA_PADDING_ADD_PKCS1_OAEP, r},
                 {kR, RSA_F_RSA_PADDING_ADD_NONE, r},
                 {kR, RSA_F_RSA_PADDING_ADD_X931, r},
                 {kR, RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_2, r},
                 {kR, RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP, r},
                 {kR, RSA_F_RSA_PADDING_CHECK_NONE, r}});
}

// ---- no padding ---------------------------------------------------------------

TEST(RsaPadding, NoneTakesExactlyTheBlock) {
  Bytes to(8, 0x5A), msg = Pseudo(9, 2);
  EXPECT_EQ(RSA_padding_add_none(to.data(), 8, msg.data(), 8), 1);
  EXPECT_EQ(to, Bytes(msg.begin(), msg.begin() + 8));
  EXPECT_EQ(RSA_padding_add_none(to.data(), 8, msg.data(), 9), 0);
  EXPECT_EQ(RSA_padding_add_none(to.data(), 8, msg.data(), 7), 0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_ADD_NONE, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE},
                 {kR, RSA_F_RSA_PADDING_ADD_NONE, RSA_R_DATA_TOO_SMALL_FOR_KEY_SIZE}});
  // The check puts the dropped leading zeros back.
  EXPECT_EQ(RSA_padding_check_none(to.data(), 8, msg.data(), 5, 8), 8);
  EXPECT_EQ(to, Cat(Bytes(3, 0), Bytes(msg.begin(), msg.begin() + 5)));
  EXPECT_EQ(RSA_padding_check_none(to.data(), 8, msg.data(), 9, 8), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_NONE, RSA_R_DATA_TOO_LARGE}});
}

// ---- OAEP ---------------------------------------------------------------------

Bytes Sha1(const Bytes& data) {
  Bytes md(20);
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), md.data(), nullptr, EVP_sha1(), nullptr), 1);
  return md;
}

// An OAEP block of k bytes built by hand (RFC 8017, 7.1.1, step 2): DB =
// lHash || PS || separator || M, masked with MGF1 over SHA-1.
Bytes OaepBlock(int k, const Bytes& lhash, const Bytes& msg, uint8_t separator) {
  const size_t dblen = static_cast<size_t>(k) - 21;
  Bytes db = lhash;
  db.resize(dblen - msg.size() - 1, 0);
  db.push_back(separator);
  db.insert(db.end(), msg.begin(), msg.end());
  Bytes seed = Pseudo(20, 3), mask(dblen), seedmask(20);
  EXPECT_EQ(PKCS1_MGF1(mask.data(), static_cast<long>(dblen), seed.data(), 20, EVP_sha1()), 0);
  for (size_t i = 0; i < dblen; i++) db[i] ^= mask[i];
  EXPECT_EQ(PKCS1_MGF1(seedmask.data(), 20, db.data(), static_cast<long>(dblen), EVP_sha1()), 0);
  for (size_t i = 0; i < 20; i++) seed[i] ^= seedmask[i];
  return Cat(Cat({0x00}, seed), db);
}

TEST(RsaPadding, OaepLimits) {
  Bytes to(128), msg = Pseudo(128, 4);
  EXPECT_EQ(RSA_padding_add_PKCS1_OAEP(to.data(), 128, msg.data(), 86, nullptr, 0), 1);
  EXPECT_EQ(RSA_padding_add_PKCS1_OAEP(to.data(), 128, msg.data(), 87, nullptr, 0), 0);
  EXPECT_EQ(RSA_padding_add_PKCS1_OAEP(to.data(), 42, msg.data(), 0, nullptr, 0), 1);
  EXPECT_EQ(RSA_padding_add_PKCS1_OAEP(to.data(), 41, msg.data(), 0, nullptr, 0), 0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_ADD_PKCS1_OAEP, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE},
                 {kR, RSA_F_RSA_PADDING_ADD_PKCS1_OAEP, RSA_R_KEY_SIZE_TOO_SMALL}});
}

TEST(RsaPadding, OaepAddThenCheckWithALabel) {
  const Bytes label = {'l', 'a', 'b', 'e', 'l'}, msg = Pseudo(30, 5);
  Bytes block(128), to(128, 0x5A);
  ASSERT_EQ(RSA_padding_add_PKCS1_OAEP(block.data(), 128, msg.data(), 30, label.data(), 5), 1);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(
      RSA_padding_check_PKCS1_OAEP(to.data(), 128, block.data() + 1, 127, 128, label.data(), 5),
      30);
  EXPECT_EQ(Bytes(to.begin(), to.begin() + 30), msg);
  // The decoded block is what RFC 8017 gives for the same seed.
  Bytes seedmask(20), seed(block.begin() + 1, block.begin() + 21),
      db(block.begin() + 21, block.end());
  ASSERT_EQ(PKCS1_MGF1(seedmask.data(), 20, db.data(), 107, EVP_sha1()), 0);
  for (int i = 0; i < 20; i++) seed[i] ^= seedmask[i];
  Bytes mask(107);
  ASSERT_EQ(PKCS1_MGF1(mask.data(), 107, seed.data(), 20, EVP_sha1()), 0);
  for (int i = 0; i < 107; i++) db[i] ^= mask[i];
  Bytes want = Sha1(label);
  want.resize(107 - 31, 0);
  want.push_back(0x01);
  want.insert(want.end(), msg.begin(), msg.end());
  EXPECT_EQ(db, want);
  EXPECT_ERRORS({});
}

TEST(RsaPadding, OaepCheckGivesOneReason) {
  const Bytes msg = Pseudo(16, 6), empty_hash = Sha1({});
  Bytes wrong_hash = empty_hash;
  wrong_hash[7] ^= 1;
  Bytes leading = OaepBlock(128, empty_hash, msg, 0x01);
  leading[0] = 0x01;
  struct Case {
    const char* name;
    Bytes block;
    int tlen;
    int reason;
  };
  const Case cases[] = {
      {"good", OaepBlock(128, empty_hash, msg, 0x01), 128, 0},
      {"wrong label hash", OaepBlock(128, wrong_hash, msg, 0x01), 128, RSA_R_OAEP_DECODING_ERROR},
      {"no 0x01", OaepBlock(128, empty_hash, msg, 0x02), 128, RSA_R_OAEP_DECODING_ERROR},
      {"leading byte", leading, 128, RSA_R_OAEP_DECODING_ERROR},
      {"no room", OaepBlock(128, empty_hash, msg, 0x01), 15, RSA_R_DATA_TOO_LARGE},
  };
  for (const auto& c : cases) {
    Bytes to(128, 0x5A);
    // As a raw decryption gives it: the leading zero byte dropped.
    const bool zero = c.block[0] == 0;
    const int r = RSA_padding_check_PKCS1_OAEP(to.data(), c.tlen, c.block.data() + zero, 128 - zero,
                                               128, nullptr, 0);
    if (c.reason == 0) {
      EXPECT_EQ(r, 16) << c.name;
      EXPECT_EQ(Bytes(to.begin(), to.begin() + 16), msg) << c.name;
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(r, -1) << c.name;
      EXPECT_EQ(to, Bytes(128, 0x5A)) << c.name;
      EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP, c.reason}}) << c.name;
    }
  }
  Bytes to(64);
  EXPECT_EQ(RSA_padding_check_PKCS1_OAEP(to.data(), 64, msg.data(), 16, 41, nullptr, 0), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP, RSA_R_OAEP_DECODING_ERROR}});
}

// ---- MGF1 -----------------------------------------------------------------------

// MGF1 (RFC 8017, B.2.1): block i of the mask is Hash(seed || i as 4 bytes).
TEST(RsaPadding, Mgf1IsTheCounterHash) {
  const Bytes seed = {1, 2, 3, 4, 5};
  Bytes mask(45);
  ASSERT_EQ(PKCS1_MGF1(mask.data(), 45, seed.data(), 5, EVP_sha1()), 0);
  for (uint8_t i = 0; i < 3; i++) {
    const Bytes block = Sha1(Cat(seed, {0, 0, 0, i}));
    const size_t n = i < 2 ? 20 : 5;
    EXPECT_EQ(Bytes(mask.begin() + 20 * i, mask.begin() + 20 * i + n),
              Bytes(block.begin(), block.begin() + n));
  }
}

// MGF1 is the OAEP mask function, MGF1 over SHA-1, for every length
// (none, part of a block, whole blocks).
TEST(RsaPadding, Mgf1ShorthandIsSha1) {
  const Bytes seed = {1, 2, 3, 4, 5};
  for (long len : {0L, 1L, 20L, 45L}) {
    Bytes mask(static_cast<size_t>(len) + 1, 0xA5), want(static_cast<size_t>(len) + 1, 0xA5);
    ASSERT_EQ(MGF1(mask.data(), len, seed.data(), 5), 0) << len;
    ASSERT_EQ(PKCS1_MGF1(want.data(), len, seed.data(), 5, EVP_sha1()), 0) << len;
    EXPECT_EQ(mask, want) << len;
    EXPECT_EQ(0xA5, mask[static_cast<size_t>(len)]) << len;
  }
  Bytes block(20);
  ASSERT_EQ(MGF1(block.data(), 20, seed.data(), 5), 0);
  EXPECT_EQ(Sha1(Cat(seed, {0, 0, 0, 0})), block);
}

// A digest that fails from its `fail_at`-th final step on.
int final_calls = 0, fail_at = 1;
EVP_MD failing_md;
int FailingFinal(EVP_MD_CTX* ctx, unsigned char* md) {
  if (++final_calls >= fail_at) return 0;
  return EVP_sha256()->final(ctx, md);
}
const EVP_MD* FailingSha256(int at) {
  failing_md = *EVP_sha256();
  failing_md.final = FailingFinal;
  final_calls = 0;
  fail_at = at;
  return &failing_md;
}

TEST(RsaPadding, Mgf1ReportsAFailedDigest) {
  Bytes mask(40);
  const Bytes seed = {9};
  EXPECT_EQ(PKCS1_MGF1(mask.data(), 40, seed.data(), 1, FailingSha256(1)), -1);
  ERR_clear_error();
}

// ---- PSS ------------------------------------------------------------------------

TEST(RsaPadding, PssLargestSaltAndItsRecovery) {
  Rsa key = MakeKey(TestKey(1024), "n");
  const Bytes mhash = Pseudo(32, 7);
  Bytes em(128);
  ASSERT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha256(),
                                      RSA_PSS_SALTLEN_MAX),
            1);
  EXPECT_EQ(em[127], 0xBC);
  // The salt fills the block: DB is a single 0x01 then the salt.
  Bytes db(128 - 33);
  ASSERT_EQ(PKCS1_MGF1(db.data(), 95, em.data() + 95, 32, EVP_sha256()), 0);
  EXPECT_EQ((em[0] ^ db[0]) & 0x7F, 0x01);
  EXPECT_EQ(
      RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha256(), em.data(), RSA_PSS_SALTLEN_MAX),
      1);
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha256(), em.data(), 94), 1);
  EXPECT_ERRORS({});
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha256(), em.data(),
                                 RSA_PSS_SALTLEN_DIGEST),
            0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_PKCS1_PSS, RSA_R_SALT_LENGTH_CHECK_FAILED}});
  // A salt as long as the digest passes both ways.
  ASSERT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha256(),
                                      RSA_PSS_SALTLEN_DIGEST),
            1);
  for (int slen : {RSA_PSS_SALTLEN_DIGEST, RSA_PSS_SALTLEN_MAX, 32})
    EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha256(), em.data(), slen), 1);
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha256(), em.data(), 31), 0);
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha256(), em.data(), -3), 0);
  EXPECT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha256(), -3), 0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_PKCS1_PSS, RSA_R_SALT_LENGTH_CHECK_FAILED},
                 {kR, RSA_F_RSA_VERIFY_PKCS1_PSS, RSA_R_SALT_LENGTH_CHECK_FAILED},
                 {kR, RSA_F_RSA_PADDING_ADD_PKCS1_PSS, RSA_R_SALT_LENGTH_CHECK_FAILED}});
}

TEST(RsaPadding, PssWithAModulusOfEightKPlusOneBits) {
  Rsa key = MakeKey(TestKey(1025), "n");
  ASSERT_EQ(RSA_size(key.get()), 129);
  const Bytes mhash = Pseudo(20, 8);
  Bytes em(129);
  ASSERT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha1(), 20), 1);
  EXPECT_EQ(em[0], 0x00);
  EXPECT_EQ(em[128], 0xBC);
  // emLen = k - 1: the masked DB covers em[1 .. 108).
  Bytes mask(107);
  ASSERT_EQ(PKCS1_MGF1(mask.data(), 107, em.data() + 108, 20, EVP_sha1()), 0);
  for (int i = 0; i < 107 - 21; i++) EXPECT_EQ(em[1 + i] ^ mask[i], 0) << i;
  EXPECT_EQ(em[1 + 86] ^ mask[86], 0x01);
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha1(), em.data(), 20), 1);
  em[0] = 0x80;
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha1(), em.data(), 20), 0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_PKCS1_PSS, RSA_R_FIRST_OCTET_INVALID}});
}

TEST(RsaPadding, PssVerifyReasons) {
  Rsa key = MakeKey(TestKey(1024), "n");
  const Bytes mhash = Pseudo(20, 9);
  Bytes em(128);
  ASSERT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha1(), 20), 1);
  struct Case {
    const char* name;
    int at;        // byte changed
    uint8_t flip;  // XORed into it
    int reason;
  };
  const Case cases[] = {
      {"top bit", 0, 0x80, RSA_R_FIRST_OCTET_INVALID},
      {"trailer", 127, 0x01, RSA_R_LAST_OCTET_INVALID},
      {"salt", 100, 0x01, RSA_R_BAD_SIGNATURE},
      {"separator", 86, 0x03, RSA_R_SALT_LENGTH_RECOVERY_FAILED},
  };
  for (const auto& c : cases) {
    Bytes bad = em;
    bad[c.at] ^= c.flip;
    EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha1(), bad.data(), 20), 0)
        << c.name;
    EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_PKCS1_PSS, c.reason}}) << c.name;
  }
  // A salt longer than the block allows.
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha1(), em.data(), 107), 0);
  EXPECT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha1(), 107), 0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_PKCS1_PSS, RSA_R_DATA_TOO_LARGE},
                 {kR, RSA_F_RSA_PADDING_ADD_PKCS1_PSS, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE}});
}

// With a salt length taken from the block, a modulus of fewer than hLen + 2
// bytes left no masked DB, and the verification read before its buffer; the
// add had no defined result.  Both are refused now.
TEST(RsaPadding, PssRefusesABlockWithoutRoomForTheHash) {
  Rsa key = MakeKey(TestKey(512), "n");  // 64 bytes
  const Bytes mhash = Pseudo(64, 10);
  Bytes em(64, 0);
  em[63] = 0xBC;
  EXPECT_EQ(
      RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha512(), em.data(), RSA_PSS_SALTLEN_MAX),
      0);
  EXPECT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha512(),
                                      RSA_PSS_SALTLEN_MAX),
            0);
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_PKCS1_PSS, RSA_R_DATA_TOO_LARGE},
                 {kR, RSA_F_RSA_PADDING_ADD_PKCS1_PSS, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE}});
}

// A digest that fails in MGF1 fails the PSS add and verification there.
TEST(RsaPadding, PssFailsWithItsMaskFunction) {
  Rsa key = MakeKey(TestKey(1024), "n");
  const Bytes mhash = Pseudo(32, 11);
  Bytes em(128);
  // The first final step (the hash H) works, the second (MGF1) fails.
  EXPECT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), FailingSha256(2), 32), 0);
  ASSERT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), em.data(), mhash.data(), EVP_sha256(), 32), 1);
  EXPECT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), FailingSha256(1), em.data(), 32), 0);
  ERR_clear_error();
}

// ---- X9.31 ----------------------------------------------------------------------

TEST(RsaPadding, X931Layouts) {
  const Bytes msg = {0x11, 0x22};
  Bytes to(6, 0);
  ASSERT_EQ(RSA_padding_add_X931(to.data(), 4, msg.data(), 2), 1);
  EXPECT_EQ(morvane_test::ToHex(to.data(), 4), "6a1122cc");
  ASSERT_EQ(RSA_padding_add_X931(to.data(), 5, msg.data(), 2), 1);
  EXPECT_EQ(morvane_test::ToHex(to.data(), 5), "6bba1122cc");
  ASSERT_EQ(RSA_padding_add_X931(to.data(), 6, msg.data(), 2), 1);
  EXPECT_EQ(morvane_test::ToHex(to.data(), 6), "6bbbba1122cc");
  EXPECT_EQ(RSA_padding_add_X931(to.data(), 3, msg.data(), 2), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_ADD_X931, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE}});
}

TEST(RsaPadding, X931CheckReasons) {
  struct Case {
    const char* hex;
    int num, tlen;
    int result;  // the message length, or -1
    int reason;
  };
  const Case cases[] = {
      {"6a1122cc", 4, 8, 2, 0},
      {"6bbbba1122cc", 6, 8, 2, 0},
      {"6bba1122cc", 5, 8, -1, RSA_R_INVALID_PADDING},
      {"6bbbbb1122cc", 6, 8, -1, RSA_R_INVALID_PADDING},
      {"6bbbbbbbbbcc", 6, 8, -1, RSA_R_INVALID_PADDING},
      {"6bbbbbbbcccc", 6, 8, -1, RSA_R_INVALID_PADDING},  // no 0xBA: no empty message
      {"6a1122cd", 4, 8, -1, RSA_R_INVALID_TRAILER},
      {"6bbbba1122cd", 6, 8, -1, RSA_R_INVALID_TRAILER},
      {"6c1122cc", 4, 8, -1, RSA_R_INVALID_HEADER},
      {"6a1122cc", 5, 8, -1, RSA_R_INVALID_HEADER},
      {"6a1122cc", 4, 1, -1, RSA_R_DATA_TOO_LARGE},
  };
  for (const auto& c : cases) {
    const Bytes in = morvane_test::FromHex(c.hex);
    Bytes to(8, 0x5A);
    EXPECT_EQ(
        RSA_padding_check_X931(to.data(), c.tlen, in.data(), static_cast<int>(in.size()), c.num),
        c.result)
        << c.hex;
    if (c.result < 0) {
      EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_X931, c.reason}}) << c.hex;
      EXPECT_EQ(to, Bytes(8, 0x5A));
    } else {
      EXPECT_EQ(morvane_test::ToHex(to.data(), 2), "1122");
    }
  }
}

TEST(RsaPadding, X931HashIdentifiers) {
  const std::pair<int, int> ids[] = {{64, 0x33}, {672, 0x34}, {673, 0x36}, {674, 0x35},
                                     {4, -1},    {675, -1},   {0, -1}};
  for (auto [nid, id] : ids) EXPECT_EQ(RSA_X931_hash_id(nid), id) << nid;
}

}  // namespace
