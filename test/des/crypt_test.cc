// Unix crypt and the RPC DES entry point: published crypt(3) results, the
// salt and password rules, and _des_crypt's two modes.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/rpc_des.h>

#include "des_test_util.h"
#include "test_support.h"

namespace {

using des_test::Bytes;
using des_test::Fips81;
using des_test::FromHex;
using des_test::ToHex;

std::string Fcrypt(const char* pw, const char* salt) {
  char buf[14];
  std::memset(buf, 0x55, sizeof(buf));
  return DES_fcrypt(pw, salt, buf);
}

TEST(DesCrypt, PublishedResults) {
  struct {
    const char *pw, *salt, *hash;
  } const cases[] = {
      // The standard-DES example of PHP's crypt() manual page.
      {"rasmuslerdorf", "rl", "rl.3StKT.4T8M"},
      // Test vectors shipped with Openwall's crypt_blowfish (wrapper.c) for
      // the traditional DES-based hash.
      {"U*U*U*U*", "CC", "CCNf8Sbh3HDfQ"},
      {"U*U***U", "CC", "CCX.K.MFy4Ois"},
      {"U*U***U*", "CC", "CC4rMpbg9AMZ."},
      {"*U*U*U*U", "XX", "XXxzOu6maQKqQ"},
      {"", "SD", "SDbsugeBiC58A"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fcrypt(c.pw, c.salt), c.hash) << c.pw;
    EXPECT_STREQ(DES_crypt(c.pw, c.salt), c.hash) << c.pw;
  }
  // DES_crypt answers in one static buffer.
  EXPECT_EQ(DES_crypt("a", "bc"), DES_crypt("d", "ef"));
}

// Only the first 8 characters count, and only their low seven bits.
TEST(DesCrypt, PasswordRules) {
  EXPECT_EQ(Fcrypt("password", "ab"), Fcrypt("password123", "ab"));
  EXPECT_EQ(Fcrypt("pass\xf7ord", "ab"), Fcrypt("pass\x77ord", "ab"));
  EXPECT_NE(Fcrypt("passwor", "ab"), Fcrypt("password", "ab"));
}

// With the salt ".." (value 0) the hash is 25 plain DES encryptions of the
// zero block under the password shifted over the parity bits.
TEST(DesCrypt, ZeroSaltIsPlainDes) {
  const char pw[] = "Morvane!";
  DES_cblock key;
  for (int i = 0; i < 8; i++) key[i] = static_cast<unsigned char>(pw[i] << 1);
  DES_key_schedule ks;
  DES_set_key_unchecked(&key, &ks);
  DES_LONG w[2] = {0, 0}, out[2];
  for (int i = 0; i < 25; i++) DES_encrypt1(w, &ks, DES_ENCRYPT);
  fcrypt_body(out, &ks, 0, 0);
  EXPECT_EQ(out[0], w[0]);
  EXPECT_EQ(out[1], w[1]);
  // The printed form: the salt, then those 64 bits six at a time (bytes in
  // order, most significant bit first) in the alphabet "./0-9A-Za-z".
  const char kAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  const uint64_t bits = uint64_t{__builtin_bswap32(w[0])} << 32 | __builtin_bswap32(w[1]);
  std::string want = "..";
  for (int i = 0; i < 11; i++) want += kAlphabet[(i < 10 ? bits >> (58 - 6 * i) : bits << 2) & 63];
  EXPECT_EQ(Fcrypt(pw, ".."), want);
}

// A missing salt character reads as "A"; a salt's NUL ends it (the byte after
// an empty salt is never looked at); only two characters count; bytes of 128
// and above count by their low seven bits and are echoed as given.
TEST(DesCrypt, SaltRules) {
  const char empty_then_garbage[] = {'\0', 'z'};
  EXPECT_EQ(Fcrypt("secret", empty_then_garbage), Fcrypt("secret", "AA"));
  EXPECT_EQ(Fcrypt("secret", ""), Fcrypt("secret", "AA"));
  EXPECT_EQ(Fcrypt("secret", "q"), Fcrypt("secret", "qA"));
  EXPECT_EQ(Fcrypt("secret", "qqqq"), Fcrypt("secret", "qq"));
  EXPECT_EQ(Fcrypt("secret", "\xc1\xfa"), "\xc1\xfa" + Fcrypt("secret", "Az").substr(2));
}

// ---- RPC DES ---------------------------------------------------------------

// The mode names decide: ECB runs the first block only (des_len is not read),
// CBC the whole buffer, writing the chaining value back.
TEST(RpcDes, EcbRunsOneBlockAndCbcTheBuffer) {
  for (const bool cbc : {false, true}) {
    Bytes data = FromHex(Fips81::kText);
    const Bytes plain = data;
    desparams p;
    std::memset(&p, 0, sizeof(p));
    std::memcpy(p.des_key, FromHex(Fips81::kKey).data(), 8);
    std::memcpy(p.des_ivec, FromHex(Fips81::kIv).data(), 8);
    p.des_dir = ENCRYPT;
    p.des_mode = cbc ? CBC : ECB;
    p.des_len = 999;
    p.UDES.UDES_buf = data.data();
    EXPECT_EQ(_des_crypt(nullptr, 24, &p), 1);
    EXPECT_EQ(ToHex(data),
              cbc ? Fips81::kCbc : std::string(Fips81::kEcb, 16) + ToHex(plain).substr(16));
    EXPECT_EQ(ToHex(p.des_ivec, 8), cbc ? "683788499a7c05f6" : Fips81::kIv);
    std::memcpy(p.des_ivec, FromHex(Fips81::kIv).data(), 8);
    p.des_dir = DECRYPT;
    EXPECT_EQ(_des_crypt(nullptr, 24, &p), 1);
    EXPECT_EQ(data, plain);
  }
}

}  // namespace
