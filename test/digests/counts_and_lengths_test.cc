// What the streaming tests cannot reach with real input: the bit count's
// carry into its high word and both count words in the last block (as if
// 2^32 bits had passed), block functions given no blocks, what Final writes
// for the output length a SHA-2 context holds, and MD2's Final leaving the
// context as Init does.

#include <cstddef>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/md2.h>
#include <morvane/md4.h>
#include <morvane/md5.h>
#include <morvane/ripemd.h>
#include <morvane/sha.h>

#include "test_support.h"

namespace {

using morvane_test::ToHex;

#define MD32_USER(NAME, CTX, P, TRANSFORM, BIG)                                      \
  struct NAME {                                                                       \
    using Ctx = CTX;                                                                  \
    static constexpr bool kBigEndian = BIG;                                           \
    static void Init(Ctx* c) { P##_Init(c); }                                         \
    static void Update(Ctx* c, const void* d, size_t n) { P##_Update(c, d, n); }      \
    static void Final(unsigned char* md, Ctx* c) { P##_Final(md, c); }               \
    static void Transform(Ctx* c, const unsigned char* b) { TRANSFORM(c, b); }        \
  };
MD32_USER(Md4, MD4_CTX, MD4, MD4_Transform, false)
MD32_USER(Md5, MD5_CTX, MD5, MD5_Transform, false)
MD32_USER(Sha0, SHA_CTX, SHA, SHA_Transform, true)
MD32_USER(Sha1, SHA_CTX, SHA1, SHA1_Transform, true)
MD32_USER(Sha224, SHA256_CTX, SHA224, SHA256_Transform, true)
MD32_USER(Sha256, SHA256_CTX, SHA256, SHA256_Transform, true)
MD32_USER(Ripemd160, RIPEMD160_CTX, RIPEMD160, RIPEMD160_Transform, false)

template <class T>
class BlockScheme : public ::testing::Test {};
using SchemeUsers = ::testing::Types<Md4, Md5, Sha0, Sha1, Sha224, Sha256, Ripemd160>;
TYPED_TEST_SUITE(BlockScheme, SchemeUsers);

// Two bytes after 2^32 * 0x9abcdef0 + 0xfffffff8 bits: the low count word
// carries, and the last block holds the bytes, 0x80 and both count words in
// the digest's byte order; Final must equal Transform on that block.
TYPED_TEST(BlockScheme, CountCarriesAndBothWordsEndTheLastBlock) {
  typename TypeParam::Ctx c, manual;
  TypeParam::Init(&c);
  c.Nl = 0xfffffff8u;
  c.Nh = 0x9abcdef0u;
  TypeParam::Update(&c, "ab", 2);
  EXPECT_EQ(c.Nl, 8u);
  EXPECT_EQ(c.Nh, 0x9abcdef1u);
  unsigned char md[32];
  TypeParam::Final(md, &c);
  unsigned char block[64] = {'a', 'b', 0x80};
  const uint32_t first = TypeParam::kBigEndian ? 0x9abcdef1u : 8u;
  const uint32_t second = TypeParam::kBigEndian ? 8u : 0x9abcdef1u;
  for (int i = 0; i < 4; i++) {
    const int shift = TypeParam::kBigEndian ? 24 - 8 * i : 8 * i;
    block[56 + i] = static_cast<unsigned char>(first >> shift);
    block[60 + i] = static_cast<unsigned char>(second >> shift);
  }
  TypeParam::Init(&manual);
  TypeParam::Transform(&manual, block);
  EXPECT_EQ(0, std::memcmp(&c, &manual, offsetof(typename TypeParam::Ctx, Nl)));
}

// The exported block functions test the count before each block.
TEST(BlockFunctions, CountOfZeroProcessesNothing) {
  unsigned char blocks[64] = {9};
  MD4_CTX m4, m4b;
  MD4_Init(&m4);
  m4b = m4;
  md4_block_data_order(&m4, blocks, 0);
  EXPECT_EQ(0, std::memcmp(&m4, &m4b, offsetof(MD4_CTX, data)));
  MD5_CTX m5, m5b;
  MD5_Init(&m5);
  m5b = m5;
  md5_block_data_order(&m5, blocks, 0);
  EXPECT_EQ(0, std::memcmp(&m5, &m5b, offsetof(MD5_CTX, data)));
  RIPEMD160_CTX r, rb;
  RIPEMD160_Init(&r);
  rb = r;
  ripemd160_block_data_order(&r, blocks, 0);
  EXPECT_EQ(0, std::memcmp(&r, &rb, offsetof(RIPEMD160_CTX, data)));
}

TEST(Sha512Count, CarriesAcrossTheLowWord) {
  SHA512_CTX c;
  SHA512_Init(&c);
  c.Nl = ~0ULL - 7;
  SHA512_Update(&c, "xy", 2);
  EXPECT_EQ(c.Nl, 8u);
  EXPECT_EQ(c.Nh, 1u);
}

// FIPS 180-2, Appendices B.1, C.1 and D.1 and change notice 1: SHA-256,
// SHA-512, SHA-384 and SHA-224 of "abc".
const char kSha256Abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kSha512Abc[] =
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3fe"
    "ebbd454d4423643ce80e2a9ac94fa54ca49f";
const char kSha384Abc[] =
    "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c8"
    "25a7";
const char kSha224Abc[] = "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7";

// Final writes by the context's md_len, whichever Final is called: the
// SHA-256 family writes whole words up to 32 bytes and nothing past them,
// SHA-512 only its two lengths; a refused length or output returns 0 after
// the last block ran.
TEST(Sha2OutputLength, FollowsTheContextNotTheFunction) {
  const struct {
    bool wide;  // SHA-512 family
    bool init384_or_224;
    unsigned md_len;
    int result;
    std::string written;
  } kCases[] = {
      {false, false, 32, 1, kSha256Abc},
      {false, true, 28, 1, kSha224Abc},
      {false, false, 28, 1, std::string(kSha256Abc, 56)},
      {false, false, 20, 1, std::string(kSha256Abc, 40)},
      {false, false, 30, 1, std::string(kSha256Abc, 56)},  // 7 whole words
      {false, false, 3, 1, ""},
      {false, false, 33, 0, ""},
      {true, false, 64, 1, kSha512Abc},
      {true, true, 48, 1, kSha384Abc},
      {true, false, 32, 0, ""},
  };
  for (const auto& t : kCases) {
    SCOPED_TRACE(std::to_string(t.md_len) + (t.wide ? " SHA-512" : " SHA-256"));
    // Written bytes are those two runs over different fillings agree on.
    unsigned char md[2][72];
    for (int run = 0; run < 2; run++) {
      std::memset(md[run], run == 0 ? 0xee : 0x11, sizeof md[run]);
      uint64_t h0 = 0;
      auto final_of_abc = [&](auto* c, auto init, auto update, auto final) {
        init(c);
        update(c, "abc", 3);
        c->md_len = t.md_len;
        const int r = final(md[run], c);
        h0 = c->h[0];
        return r;
      };
      SHA512_CTX c512;
      SHA256_CTX c256;
      const bool alt = t.init384_or_224;
      const int r = t.wide ? final_of_abc(&c512, alt ? SHA384_Init : SHA512_Init, SHA512_Update,
                                          alt ? SHA512_Final : SHA384_Final)
                           : final_of_abc(&c256, alt ? SHA224_Init : SHA256_Init, SHA256_Update,
                                          alt ? SHA256_Final : SHA224_Final);
      EXPECT_EQ(h0, t.wide ? (alt ? 0xcb00753f45a35e8bULL : 0xddaf35a193617abaULL)
                           : (alt ? 0x23097d22u : 0xba7816bfu));
      EXPECT_EQ(r, t.result);
    }
    size_t n = 0;
    while (n < sizeof(md[0]) && md[0][n] == md[1][n]) n++;
    EXPECT_EQ(ToHex(md[0], n), t.written);
  }
  SHA512_CTX c;
  SHA512_Init(&c);
  EXPECT_EQ(SHA512_Final(nullptr, &c), 0);
}

TEST(Md2Context, FinalLeavesTheContextAsInitDoes) {
  MD2_CTX c, fresh;
  MD2_Init(&fresh);
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

}  // namespace
