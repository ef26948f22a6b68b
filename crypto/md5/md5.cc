// MD5 (RFC 1321): the compression function and the C entry points over the
// shared 64-byte block scheme.
//
// The 64 steps are fully unrolled: each step's message word, rotation and
// sine constant are template arguments, so they compile to immediates.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include <morvane/md5.h>

#include "internal/byteorder.h"
#include "internal/digest.h"
#include "internal/md32_common.h"

const char MD5_version[] = "MD5 part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(MD5_CTX) == 92);
static_assert(offsetof(MD5_CTX, Nl) == 16 && offsetof(MD5_CTX, data) == 24 &&
              offsetof(MD5_CTX, num) == 88);

namespace {

using morvane::internal::load_le32;

// clang-format off
// RFC 1321, 3.4: T[i] = floor(2^32 * abs(sin(i + 1))).
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
// clang-format on
// RFC 1321, 3.4: rotations, by round and position within a group of four.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// The message word of step i (RFC 1321, 3.4: rounds take X[k] in the orders
// k = i, 1 + 5i, 5 + 3i and 7i, modulo 16).
constexpr int word_of(int i) {
  switch (i / 16) {
    case 0:
      return i % 16;
    case 1:
      return (1 + 5 * i) % 16;
    case 2:
      return (5 + 3 * i) % 16;
    default:
      return (7 * i) % 16;
  }
}
static_assert(word_of(16) == 1 && word_of(17) == 6 && word_of(32) == 5 && word_of(63) == 9);

// Step I: a = b + ((a + f(b, c, d) + X[k] + T[i]) <<< s).  b is the value
// the previous step just made, so each f is written to wait on it for as few
// operations as it can: G's two terms share no bit, so its OR is an addition,
// and the term without b joins the sum early; H takes c ^ d first.
template <int I>
[[gnu::always_inline]] inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d,
                                        const uint32_t* x) noexcept {
  constexpr int r = I / 16;
  const uint32_t sum = a + x[word_of(I)] + kT[I];
  uint32_t t;
  if constexpr (r == 0) {
    t = sum + (((c ^ d) & b) ^ d);  // F: b ? c : d
  } else if constexpr (r == 1) {
    t = (sum + (c & ~d)) + (b & d);  // G: d ? b : c
  } else if constexpr (r == 2) {
    t = sum + (b ^ (c ^ d));  // H
  } else {
    t = sum + (c ^ (b | ~d));  // I
  }
  a = b + std::rotl(t, kShift[r][I % 4]);
}

}  // namespace

/* see morvane/md5.h */
void md5_block_data_order(MD5_CTX* ctx, const void* p, size_t num) {
  const uint8_t* in = static_cast<const uint8_t*>(p);
  uint32_t A = ctx->A, B = ctx->B, C = ctx->C, D = ctx->D;
  while (num-- != 0) {
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = load_le32(in + 4 * i);
    uint32_t a = A, b = B, c = C, d = D;
#define MD5_FOUR(i)           \
  step<i>(a, b, c, d, x);     \
  step<i + 1>(d, a, b, c, x); \
  step<i + 2>(c, d, a, b, x); \
  step<i + 3>(b, c, d, a, x)
    MD5_FOUR(0);
    MD5_FOUR(4);
    MD5_FOUR(8);
    MD5_FOUR(12);
    MD5_FOUR(16);
    MD5_FOUR(20);
    MD5_FOUR(24);
    MD5_FOUR(28);
    MD5_FOUR(32);
    MD5_FOUR(36);
    MD5_FOUR(40);
    MD5_FOUR(44);
    MD5_FOUR(48);
    MD5_FOUR(52);
    MD5_FOUR(56);
    MD5_FOUR(60);
#undef MD5_FOUR
    A = ctx->A += a;
    B = ctx->B += b;
    C = ctx->C += c;
    D = ctx->D += d;
    in += morvane::internal::kMd32BlockSize;
  }
}

namespace {

struct Md5Traits {
  using Ctx = MD5_CTX;
  static constexpr bool kBigEndian = false;
  // RFC 1321, 3.3: the chaining words in digest order and their initial values.
  static constexpr std::array kWords = {&Ctx::A, &Ctx::B, &Ctx::C, &Ctx::D};
  static constexpr std::array<uint32_t, 4> kInitialValues = {0x67452301, 0xefcdab89, 0x98badcfe,
                                                             0x10325476};
  static void blocks(Ctx& c, const uint8_t* p, size_t n) noexcept {
    md5_block_data_order(&c, p, n);
  }
};
using Scheme = morvane::internal::Md32<Md5Traits>;

constinit unsigned char g_oneshot_md[MD5_DIGEST_LENGTH];

}  // namespace

/* see morvane/md5.h */
int MD5_Init(MD5_CTX* c) {
  return Scheme::init(*c);
}

int MD5_Update(MD5_CTX* c, const void* data, size_t len) {
  return Scheme::update(*c, data, len);
}

int MD5_Final(unsigned char* md, MD5_CTX* c) {
  return Scheme::final(md, *c);
}

void MD5_Transform(MD5_CTX* c, const unsigned char* b) {
  md5_block_data_order(c, b, 1);
}

unsigned char* MD5(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<MD5_CTX, MD5_Init, MD5_Update, MD5_Final>(d, n, md,
                                                                                     g_oneshot_md);
}
