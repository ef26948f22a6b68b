// MD4 (RFC 1320): the compression function and the C entry points over the
// shared 64-byte block scheme.
//
// The 48 steps are fully unrolled: each step's message word, rotation and
// constant are template arguments, so they compile to immediates.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include <morvane/md4.h>

#include "internal/byteorder.h"
#include "internal/digest.h"
#include "internal/md32_common.h"

const char MD4_version[] = "MD4 part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(MD4_CTX) == 92);
static_assert(offsetof(MD4_CTX, Nl) == 16 && offsetof(MD4_CTX, data) == 24 &&
              offsetof(MD4_CTX, num) == 88);

namespace {

using morvane::internal::load_le32;

// RFC 1320, 3.4: the message word of each step, by round.
constexpr int kWord[3][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15},
    {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15},
};
// RFC 1320, 3.4: rotations, by round and position within a group of four.
constexpr int kShift[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};
constexpr uint32_t kRoundConst[3] = {0, 0x5A827999, 0x6ED9EBA1};

// Step I: a = (a + f(b, c, d) + X[k] + K) <<< s.  b is the value the previous
// step just made, so each f is written to wait on it for as few operations as
// it can: the majority's two terms b & (c ^ d) and c & d share no bit, so it
// is their sum, and c & d joins the sum early; H takes c ^ d first.
template <int I>
[[gnu::always_inline]] inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d,
                                        const uint32_t* x) noexcept {
  constexpr int r = I / 16;
  const uint32_t sum = a + x[kWord[r][I % 16]] + kRoundConst[r];
  uint32_t t;
  if constexpr (r == 0) {
    t = sum + (((c ^ d) & b) ^ d);  // F: b ? c : d
  } else if constexpr (r == 1) {
    t = (sum + (c & d)) + (b & (c ^ d));  // G: majority
  } else {
    t = sum + (b ^ (c ^ d));  // H
  }
  a = std::rotl(t, kShift[r][I % 4]);
}

}  // namespace

/* see morvane/md4.h */
void md4_block_data_order(MD4_CTX* ctx, const void* p, size_t num) {
  const uint8_t* in = static_cast<const uint8_t*>(p);
  uint32_t A = ctx->A, B = ctx->B, C = ctx->C, D = ctx->D;
  while (num-- != 0) {
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = load_le32(in + 4 * i);
    uint32_t a = A, b = B, c = C, d = D;
#define MD4_FOUR(i)           \
  step<i>(a, b, c, d, x);     \
  step<i + 1>(d, a, b, c, x); \
  step<i + 2>(c, d, a, b, x); \
  step<i + 3>(b, c, d, a, x)
    MD4_FOUR(0);
    MD4_FOUR(4);
    MD4_FOUR(8);
    MD4_FOUR(12);
    MD4_FOUR(16);
    MD4_FOUR(20);
    MD4_FOUR(24);
    MD4_FOUR(28);
    MD4_FOUR(32);
    MD4_FOUR(36);
    MD4_FOUR(40);
    MD4_FOUR(44);
#undef MD4_FOUR
    A = ctx->A += a;
    B = ctx->B += b;
    C = ctx->C += c;
    D = ctx->D += d;
    in += morvane::internal::kMd32BlockSize;
  }
}

namespace {

struct Md4Traits {
  using Ctx = MD4_CTX;
  static constexpr bool kBigEndian = false;
  // RFC 1320, 3.3: the chaining words in digest order and their initial values.
  static constexpr std::array kWords = {&Ctx::A, &Ctx::B, &Ctx::C, &Ctx::D};
  static constexpr std::array<uint32_t, 4> kInitialValues = {0x67452301, 0xefcdab89, 0x98badcfe,
                                                             0x10325476};
  static void blocks(Ctx& c, const uint8_t* p, size_t n) noexcept {
    md4_block_data_order(&c, p, n);
  }
};
using Scheme = morvane::internal::Md32<Md4Traits>;

constinit unsigned char g_oneshot_md[MD4_DIGEST_LENGTH];

}  // namespace

/* see morvane/md4.h */
int MD4_Init(MD4_CTX* c) {
  return Scheme::init(*c);
}

int MD4_Update(MD4_CTX* c, const void* data, size_t len) {
  return Scheme::update(*c, data, len);
}

int MD4_Final(unsigned char* md, MD4_CTX* c) {
  return Scheme::final(md, *c);
}

void MD4_Transform(MD4_CTX* c, const unsigned char* b) {
  md4_block_data_order(c, b, 1);
}

unsigned char* MD4(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<MD4_CTX, MD4_Init, MD4_Update, MD4_Final>(d, n, md,
                                                                                     g_oneshot_md);
}
