// What Final writes and leaves behind where the digests differ from the plain
// scheme: SHA-224/256 and SHA-384/512 write by the context's md_len, SHA-512
// keeps its own buffer, MD2 clears its whole context.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/md2.h>
#include <morvane/sha.h>

#include "test_support.h"

namespace {

using morvane_test::ToHex;

// FIPS 180-2, Appendix B.1 and change notice 1: SHA-256 and SHA-224 of "abc".
const char kSha256Abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kSha224Abc[] = "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7";
// FIPS 180-2, Appendices C.1 and D.1: SHA-512 and SHA-384 of "abc".
const char kSha512Abc[] =
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feeb"
    "bd"
    "454d4423643ce80e2a9ac94fa54ca49f";
const char kSha384Abc[] =
    "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825"
    "a7";

// Runs Final with md_len forced to `md_len` on an "abc" context started by
// SHA256_Init; returns the result and what was written before the sentinel.
int Sha256FinalWithLength(unsigned int md_len, std::string* written, SHA256_CTX* c) {
  unsigned char md[40];
  std::memset(md, 0xEE, sizeof(md));
  SHA256_Init(c);
  SHA256_Update(c, "abc", 3);
  c->md_len = md_len;
  int r = SHA256_Final(md, c);
  size_t n = 0;
  while (n < sizeof(md) && md[n] != 0xEE) n++;
  *written = ToHex(md, n);
  return r;
}

TEST(Sha256OutputLength, FollowsTheContextNotTheFunction) {
  SHA256_CTX c;
  unsigned char md[32];
  SHA256_Init(&c);
  SHA224_Update(&c, "abc", 3);
  EXPECT_EQ(SHA224_Final(md, &c), 1);
  EXPECT_EQ(ToHex(md, 32), kSha256Abc);

  unsigned char md28[32];
  std::memset(md28, 0xEE, sizeof(md28));
  SHA224_Init(&c);
  SHA256_Update(&c, "abc", 3);
  EXPECT_EQ(SHA256_Final(md28, &c), 1);
  EXPECT_EQ(ToHex(md28, 28), kSha224Abc);
  EXPECT_EQ(ToHex(md28 + 28, 4), "eeeeeeee");
}

TEST(Sha256OutputLength, OtherLengthsWriteWholeWordsOrNothing) {
  SHA256_CTX c;
  std::string w;
  EXPECT_EQ(Sha256FinalWithLength(20, &w, &c), 1);
  EXPECT_EQ(w, std::string(kSha256Abc, 40));
  EXPECT_EQ(Sha256FinalWithLength(30, &w, &c), 1);  // 7 words
  EXPECT_EQ(w, std::string(kSha256Abc, 56));
  EXPECT_EQ(Sha256FinalWithLength(3, &w, &c), 1);
  EXPECT_EQ(w, "");
  EXPECT_EQ(Sha256FinalWithLength(33, &w, &c), 0);
  EXPECT_EQ(w, "");
  // The context is finished all the same.
  EXPECT_EQ(c.num, 0u);
  EXPECT_EQ(c.data[0], 0u);
  EXPECT_EQ(c.h[0], 0xba7816bfu);
}

TEST(Sha512OutputLength, FollowsTheContextNotTheFunction) {
  SHA512_CTX c;
  unsigned char md[64];
  SHA384_Init(&c);
  SHA384_Update(&c, "abc", 3);
  std::memset(md, 0xEE, sizeof(md));
  EXPECT_EQ(SHA512_Final(md, &c), 1);
  EXPECT_EQ(ToHex(md, 48), kSha384Abc);
  EXPECT_EQ(md[48], 0xEE);

  SHA512_Init(&c);
  SHA512_Update(&c, "abc", 3);
  EXPECT_EQ(SHA384_Final(md, &c), 1);
  EXPECT_EQ(ToHex(md, 64), kSha512Abc);
}

TEST(Sha512OutputLength, RefusesOtherLengthsAndNullOutput) {
  SHA512_CTX c;
  unsigned char md[64];
  std::memset(md, 0xEE, sizeof(md));
  SHA512_Init(&c);
  SHA512_Update(&c, "abc", 3);
  c.md_len = 32;
  EXPECT_EQ(SHA512_Final(md, &c), 0);
  EXPECT_EQ(ToHex(md, 4), "eeeeeeee");
  EXPECT_EQ(c.h[0], 0xddaf35a193617abaULL);  // the last block ran regardless

  SHA512_Init(&c);
  SHA512_Update(&c, "abc", 3);
  EXPECT_EQ(SHA512_Final(nullptr, &c), 0);
  EXPECT_EQ(c.h[0], 0xddaf35a193617abaULL);
}

TEST(Sha512Buffer, FinalKeepsNumAndInitResetsIt) {
  SHA512_CTX c;
  unsigned char md[64];
  SHA512_Init(&c);
  SHA512_Update(&c, "abcdefghij", 10);
  EXPECT_EQ(c.num, 10u);
  SHA512_Final(md, &c);
  EXPECT_EQ(c.num, 10u);
  SHA512_Init(&c);
  EXPECT_EQ(c.num, 0u);
  EXPECT_EQ(c.Nl, 0u);
  EXPECT_EQ(c.Nh, 0u);
}

TEST(Sha512Buffer, CountsBitsAcrossTheLowWord) {
  SHA512_CTX c;
  SHA512_Init(&c);
  c.Nl = ~0ULL - 7;
  SHA512_Update(&c, "xy", 2);
  EXPECT_EQ(c.Nl, 8u);
  EXPECT_EQ(c.Nh, 1u);
}

TEST(Sha512Buffer, TransformTouchesOnlyTheChainingWords) {
  unsigned char block[129];
  for (int i = 0; i < 129; i++) block[i] = static_cast<unsigned char>(i);
  SHA512_CTX a, b;
  SHA512_Init(&a);
  SHA512_Update(&a, "0123", 4);
  b = a;
  SHA512_Transform(&a, block + 1);  // any alignment
  EXPECT_NE(a.h[0], b.h[0]);
  EXPECT_EQ(a.num, b.num);
  EXPECT_EQ(a.Nl, b.Nl);
  EXPECT_EQ(0, std::memcmp(a.u.p, b.u.p, 4));
}

TEST(Md2Context, FinalLeavesTheContextAsInitDoes) {
  MD2_CTX c, fresh;
  MD2_Init(&fresh);
  EXPECT_EQ(fresh.num, 0u);
  MD2_Init(&c);
  MD2_Update(&c, reinterpret_cast<const unsigned char*>("abc"), 3);
  unsigned char md[16];
  EXPECT_EQ(MD2_Final(md, &c), 1);
  EXPECT_EQ(ToHex(md, 16), "da853b0d3f88d99b30283a69e6ded6bb");  // RFC 1319, A.5
  EXPECT_EQ(0, std::memcmp(&c, &fresh, sizeof(c)));
  // So a new message can start without Init.
  MD2_Update(&c, reinterpret_cast<const unsigned char*>("a"), 1);
  MD2_Final(md, &c);
  EXPECT_EQ(ToHex(md, 16), "32ec01ec4a6dac72c0ab96fb34c0b5d1");
}

TEST(Md2Context, FifteenPlusOneCompletesABlockFourteenPlusOneDoesNot) {
  const unsigned char m[16] = "0123456789abcde";
  MD2_CTX c;
  MD2_Init(&c);
  MD2_Update(&c, m, 14);
  MD2_Update(&c, m + 14, 1);
  EXPECT_EQ(c.num, 15u);
  EXPECT_EQ(c.state[0], 0u);
  MD2_Update(&c, m + 15, 1);
  EXPECT_EQ(c.num, 0u);
  EXPECT_NE(0, c.state[0] | c.state[1] | c.state[2]);
}

}  // namespace
