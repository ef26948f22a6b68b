// The 64-byte block scheme as its seven users see it: what the context holds
// between calls, when blocks run, the bit count and its carry, the length
// bytes of the last block, and what Transform and the block functions touch.

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/md4.h>
#include <morvane/md5.h>
#include <morvane/ripemd.h>
#include <morvane/sha.h>

namespace {

using Words = std::vector<uint32_t>;

struct Md4T {
  using Ctx = MD4_CTX;
  static constexpr bool kBigEndian = false;
  static int Init(Ctx* c) { return MD4_Init(c); }
  static int Update(Ctx* c, const void* d, size_t n) { return MD4_Update(c, d, n); }
  static int Final(unsigned char* md, Ctx* c) { return MD4_Final(md, c); }
  static void Transform(Ctx* c, const unsigned char* b) { MD4_Transform(c, b); }
  static Words Get(const Ctx& c) { return {c.A, c.B, c.C, c.D}; }
};
struct Md5T {
  using Ctx = MD5_CTX;
  static constexpr bool kBigEndian = false;
  static int Init(Ctx* c) { return MD5_Init(c); }
  static int Update(Ctx* c, const void* d, size_t n) { return MD5_Update(c, d, n); }
  static int Final(unsigned char* md, Ctx* c) { return MD5_Final(md, c); }
  static void Transform(Ctx* c, const unsigned char* b) { MD5_Transform(c, b); }
  static Words Get(const Ctx& c) { return {c.A, c.B, c.C, c.D}; }
};
struct Sha0T {
  using Ctx = SHA_CTX;
  static constexpr bool kBigEndian = true;
  static int Init(Ctx* c) { return SHA_Init(c); }
  static int Update(Ctx* c, const void* d, size_t n) { return SHA_Update(c, d, n); }
  static int Final(unsigned char* md, Ctx* c) { return SHA_Final(md, c); }
  static void Transform(Ctx* c, const unsigned char* b) { SHA_Transform(c, b); }
  static Words Get(const Ctx& c) { return {c.h0, c.h1, c.h2, c.h3, c.h4}; }
};
struct Sha1T : Sha0T {
  static int Init(Ctx* c) { return SHA1_Init(c); }
  static int Update(Ctx* c, const void* d, size_t n) { return SHA1_Update(c, d, n); }
  static int Final(unsigned char* md, Ctx* c) { return SHA1_Final(md, c); }
  static void Transform(Ctx* c, const unsigned char* b) { SHA1_Transform(c, b); }
};
struct Sha256T {
  using Ctx = SHA256_CTX;
  static constexpr bool kBigEndian = true;
  static int Init(Ctx* c) { return SHA256_Init(c); }
  static int Update(Ctx* c, const void* d, size_t n) { return SHA256_Update(c, d, n); }
  static int Final(unsigned char* md, Ctx* c) { return SHA256_Final(md, c); }
  static void Transform(Ctx* c, const unsigned char* b) { SHA256_Transform(c, b); }
  static Words Get(const Ctx& c) { return Words(c.h, c.h + 8); }
};
struct Sha224T : Sha256T {
  static int Init(Ctx* c) { return SHA224_Init(c); }
  static int Update(Ctx* c, const void* d, size_t n) { return SHA224_Update(c, d, n); }
  static int Final(unsigned char* md, Ctx* c) { return SHA224_Final(md, c); }
  static Words Get(const Ctx& c) { return Words(c.h, c.h + 7); }
};
struct Rmd160T {
  using Ctx = RIPEMD160_CTX;
  static constexpr bool kBigEndian = false;
  static int Init(Ctx* c) { return RIPEMD160_Init(c); }
  static int Update(Ctx* c, const void* d, size_t n) { return RIPEMD160_Update(c, d, n); }
  static int Final(unsigned char* md, Ctx* c) { return RIPEMD160_Final(md, c); }
  static void Transform(Ctx* c, const unsigned char* b) { RIPEMD160_Transform(c, b); }
  static Words Get(const Ctx& c) { return {c.A, c.B, c.C, c.D, c.E}; }
};

template <class T>
class BlockScheme : public ::testing::Test {
 protected:
  using Ctx = typename T::Ctx;
  static const unsigned char* Data(const Ctx& c) {
    return reinterpret_cast<const unsigned char*>(c.data);
  }
  static bool DataIsZero(const Ctx& c) {
    for (size_t i = 0; i < sizeof(c.data); i++)
      if (Data(c)[i] != 0) return false;
    return true;
  }
  // The digest bytes that Final writes from the chaining words.
  static std::vector<unsigned char> Serialise(const Words& w) {
    std::vector<unsigned char> out;
    for (uint32_t v : w)
      for (int i = 0; i < 4; i++)
        out.push_back(static_cast<unsigned char>(T::kBigEndian ? v >> (24 - 8 * i) : v >> (8 * i)));
    return out;
  }
};

using SchemeUsers = ::testing::Types<Md4T, Md5T, Sha0T, Sha1T, Sha224T, Sha256T, Rmd160T>;
class SchemeNames {
 public:
  template <class T>
  static std::string GetName(int) {
    if (std::is_same_v<T, Md4T>) return "MD4";
    if (std::is_same_v<T, Md5T>) return "MD5";
    if (std::is_same_v<T, Sha0T>) return "SHA0";
    if (std::is_same_v<T, Sha1T>) return "SHA1";
    if (std::is_same_v<T, Sha224T>) return "SHA224";
    if (std::is_same_v<T, Sha256T>) return "SHA256";
    return "RIPEMD160";
  }
};
TYPED_TEST_SUITE(BlockScheme, SchemeUsers, SchemeNames);

TYPED_TEST(BlockScheme, InitSetsCountsButLeavesTheBuffer) {
  typename TypeParam::Ctx c;
  std::memset(&c, 0xAA, sizeof(c));
  EXPECT_EQ(TypeParam::Init(&c), 1);
  EXPECT_EQ(c.Nl, 0u);
  EXPECT_EQ(c.Nh, 0u);
  EXPECT_EQ(c.num, 0u);
  EXPECT_EQ(this->Data(c)[0], 0xAA);
  EXPECT_EQ(this->Data(c)[63], 0xAA);
}

TYPED_TEST(BlockScheme, PartialBlockIsHeldUntilItFills) {
  unsigned char msg[64];
  for (int i = 0; i < 64; i++) msg[i] = static_cast<unsigned char>(i + 1);
  typename TypeParam::Ctx c;
  TypeParam::Init(&c);
  const Words start = TypeParam::Get(c);
  TypeParam::Update(&c, msg, 60);
  EXPECT_EQ(c.num, 60u);
  EXPECT_EQ(0, std::memcmp(this->Data(c), msg, 60));
  typename TypeParam::Ctx d = c;

  TypeParam::Update(&c, msg + 60, 3);  // 63 bytes: still waiting
  EXPECT_EQ(c.num, 63u);
  EXPECT_EQ(TypeParam::Get(c), start);
  TypeParam::Update(&c, msg + 63, 1);  // the block completes and runs
  EXPECT_EQ(c.num, 0u);
  EXPECT_NE(TypeParam::Get(c), start);
  EXPECT_TRUE(this->DataIsZero(c));

  TypeParam::Update(&d, msg + 60, 4);  // 60 + 4 completes it at once
  EXPECT_EQ(d.num, 0u);
  EXPECT_EQ(TypeParam::Get(d), TypeParam::Get(c));
  EXPECT_EQ(d.Nl, 64u * 8);
  EXPECT_EQ(d.Nh, 0u);
}

TYPED_TEST(BlockScheme, FinalLeavesAnEmptyZeroedBuffer) {
  typename TypeParam::Ctx c;
  TypeParam::Init(&c);
  TypeParam::Update(&c, "some bytes", 10);
  unsigned char md[32];
  EXPECT_EQ(TypeParam::Final(md, &c), 1);
  EXPECT_EQ(c.num, 0u);
  EXPECT_TRUE(this->DataIsZero(c));
  EXPECT_EQ(c.Nl, 80u);  // the count keeps its final value
}

TYPED_TEST(BlockScheme, BitCountCarriesIntoTheHighWord) {
  typename TypeParam::Ctx c;
  TypeParam::Init(&c);
  c.Nl = 0xfffffff8u;
  TypeParam::Update(&c, "ab", 2);
  EXPECT_EQ(c.Nl, 8u);
  EXPECT_EQ(c.Nh, 1u);
}

// After 2^32 bits (as if 512 MiB had been absorbed) the last block is the
// padding alone, with Nh and Nl in the algorithm's byte order: Final must
// equal Transform on that block built by hand.
TYPED_TEST(BlockScheme, LengthBytesCarryBothCountWords) {
  typename TypeParam::Ctx c, manual;
  TypeParam::Init(&c);
  c.Nl = 0x12345678u;
  c.Nh = 0x9abcdef0u;
  unsigned char md[32];
  TypeParam::Final(md, &c);

  unsigned char block[64] = {0x80};
  const uint32_t first = TypeParam::kBigEndian ? 0x9abcdef0u : 0x12345678u;
  const uint32_t second = TypeParam::kBigEndian ? 0x12345678u : 0x9abcdef0u;
  for (int i = 0; i < 4; i++) {
    const int shift = TypeParam::kBigEndian ? 24 - 8 * i : 8 * i;
    block[56 + i] = static_cast<unsigned char>(first >> shift);
    block[60 + i] = static_cast<unsigned char>(second >> shift);
  }
  TypeParam::Init(&manual);
  TypeParam::Transform(&manual, block);
  EXPECT_EQ(TypeParam::Get(c), TypeParam::Get(manual));
  const std::vector<unsigned char> want = this->Serialise(TypeParam::Get(manual));
  EXPECT_EQ(std::vector<unsigned char>(md, md + want.size()), want);
}

// 56 bytes waiting leave no room for the length: the 0x80 byte ends the first
// padding block and the length goes into a second block of zeros.
TYPED_TEST(BlockScheme, FiftySixBytesNeedTwoPaddingBlocks) {
  unsigned char msg[56];
  std::memset(msg, 'q', sizeof(msg));
  typename TypeParam::Ctx c, manual;
  TypeParam::Init(&c);
  TypeParam::Update(&c, msg, sizeof(msg));
  unsigned char md[32];
  TypeParam::Final(md, &c);

  unsigned char b1[64] = {}, b2[64] = {};
  std::memcpy(b1, msg, sizeof(msg));
  b1[56] = 0x80;
  if (TypeParam::kBigEndian) {  // 448 bits = 0x1c0
    b2[62] = 0x01;
    b2[63] = 0xc0;
  } else {
    b2[56] = 0xc0;
    b2[57] = 0x01;
  }
  TypeParam::Init(&manual);
  TypeParam::Transform(&manual, b1);
  TypeParam::Transform(&manual, b2);
  EXPECT_EQ(TypeParam::Get(c), TypeParam::Get(manual));
}

TYPED_TEST(BlockScheme, TransformTouchesOnlyTheChainingWords) {
  typename TypeParam::Ctx c;
  TypeParam::Init(&c);
  TypeParam::Update(&c, "0123456789", 10);
  const typename TypeParam::Ctx before = c;
  unsigned char block[64] = {1, 2, 3};
  TypeParam::Transform(&c, block);
  EXPECT_NE(TypeParam::Get(c), TypeParam::Get(before));
  EXPECT_EQ(c.Nl, before.Nl);
  EXPECT_EQ(c.Nh, before.Nh);
  EXPECT_EQ(c.num, before.num);
  EXPECT_EQ(0, std::memcmp(c.data, before.data, sizeof(c.data)));
}

// The exported block functions: a count of blocks, tested before each one.
TEST(BlockFunctions, CountOfZeroProcessesNothing) {
  unsigned char blocks[128] = {9};
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

TEST(BlockFunctions, SeveralBlocksEqualTransformsInTurn) {
  unsigned char blocks[192];
  for (int i = 0; i < 192; i++) blocks[i] = static_cast<unsigned char>(i * 7);
  MD5_CTX a, b;
  MD5_Init(&a);
  MD5_Init(&b);
  md5_block_data_order(&a, blocks + 1, 2);  // odd address on purpose
  MD5_Transform(&b, blocks + 1);
  MD5_Transform(&b, blocks + 65);
  EXPECT_EQ(0, std::memcmp(&a, &b, offsetof(MD5_CTX, Nl)));
  MD4_CTX c, d;
  MD4_Init(&c);
  MD4_Init(&d);
  md4_block_data_order(&c, blocks, 3);
  for (int i = 0; i < 3; i++) MD4_Transform(&d, blocks + 64 * i);
  EXPECT_EQ(0, std::memcmp(&c, &d, offsetof(MD4_CTX, Nl)));
  RIPEMD160_CTX e, f;
  RIPEMD160_Init(&e);
  RIPEMD160_Init(&f);
  ripemd160_block_data_order(&e, blocks + 3, 2);
  RIPEMD160_Transform(&f, blocks + 3);
  RIPEMD160_Transform(&f, blocks + 67);
  EXPECT_EQ(0, std::memcmp(&e, &f, offsetof(RIPEMD160_CTX, Nl)));
}

}  // namespace
