// RIPEMD-160 (Dobbertin, Bosselaers, Preneel: "RIPEMD-160: A Strengthened
// Version of RIPEMD", 1996; ISO/IEC 10118-3): the compression function and the
// C entry points over the shared 64-byte block scheme.
//
// The two lines of 80 steps are fully unrolled and interleaved step by step,
// which gives the processor two independent dependency chains; each step's
// message word, rotation, Boolean function and constant are template
// arguments, so they compile to immediates.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include <morvane/ripemd.h>

#include "internal/byteorder.h"
#include "internal/digest.h"
#include "internal/md32_common.h"

const char RMD160_version[] = "RIPE-MD160 part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(RIPEMD160_CTX) == 96);
static_assert(offsetof(RIPEMD160_CTX, Nl) == 20 && offsetof(RIPEMD160_CTX, data) == 28 &&
              offsetof(RIPEMD160_CTX, num) == 92);

namespace {

using morvane::internal::load_le32;

// clang-format off
// RIPEMD-160, Appendix A: message word r(j) and rotation s(j) of each step of
// the left line, r'(j) and s'(j) of the right line.
constexpr int kWordL[80] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
    7, 4, 13, 1, 10, 6, 15, 3, 12, 0, 9, 5, 2, 14, 11, 8,
    3, 10, 14, 4, 9, 15, 8, 1, 2, 7, 0, 6, 13, 11, 5, 12,
    1, 9, 11, 10, 0, 8, 12, 4, 13, 3, 7, 15, 14, 5, 6, 2,
    4, 0, 5, 9, 7, 12, 2, 10, 14, 1, 3, 8, 11, 6, 15, 13};
constexpr int kWordR[80] = {
    5, 14, 7, 0, 9, 2, 11, 4, 13, 6, 15, 8, 1, 10, 3, 12,
    6, 11, 3, 7, 0, 13, 5, 10, 14, 15, 8, 12, 4, 9, 1, 2,
    15, 5, 1, 3, 7, 14, 6, 9, 11, 8, 12, 2, 10, 0, 4, 13,
    8, 6, 4, 1, 3, 11, 15, 0, 5, 12, 2, 13, 9, 7, 10, 14,
    12, 15, 10, 4, 1, 5, 8, 7, 6, 2, 13, 14, 0, 3, 9, 11};
constexpr int kShiftL[80] = {
    11, 14, 15, 12, 5, 8, 7, 9, 11, 13, 14, 15, 6, 7, 9, 8,
    7, 6, 8, 13, 11, 9, 7, 15, 7, 12, 15, 9, 11, 7, 13, 12,
    11, 13, 6, 7, 14, 9, 13, 15, 14, 8, 13, 6, 5, 12, 7, 5,
    11, 12, 14, 15, 14, 15, 9, 8, 9, 14, 5, 6, 8, 6, 5, 12,
    9, 15, 5, 11, 6, 8, 13, 12, 5, 12, 13, 14, 11, 8, 5, 6};
constexpr int kShiftR[80] = {
    8, 9, 9, 11, 13, 15, 15, 5, 7, 7, 8, 11, 14, 14, 12, 6,
    9, 13, 15, 7, 12, 8, 9, 11, 7, 7, 12, 7, 6, 15, 13, 11,
    9, 7, 15, 11, 8, 6, 6, 14, 12, 13, 5, 14, 13, 13, 7, 5,
    15, 5, 8, 11, 14, 14, 6, 14, 6, 9, 12, 9, 12, 5, 15, 8,
    8, 5, 12, 9, 12, 5, 14, 6, 8, 13, 6, 5, 15, 13, 11, 11};
// clang-format on
// RIPEMD-160, Appendix A: the constants K(j) and K'(j) of each round.
constexpr uint32_t kConstL[5] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xA953FD4E};
constexpr uint32_t kConstR[5] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x7A6D76E9, 0x00000000};

// The sum a + f(x, y, z) + X + K with the Boolean functions f1 to f5
// (numbered from 0 here).  x is the value the previous step just made, so f
// is written to wait on it for as few operations as it can: f4's two terms
// share no bit, so its OR is an addition, and the term without x joins the
// sum early.
template <int F>
[[gnu::always_inline]] inline uint32_t sum_with(uint32_t s, uint32_t x, uint32_t y,
                                                uint32_t z) noexcept {
  if constexpr (F == 0) return s + (x ^ (y ^ z));
  if constexpr (F == 1) return s + (((y ^ z) & x) ^ z);  // (x & y) | (~x & z)
  if constexpr (F == 2) return s + ((x | ~y) ^ z);
  if constexpr (F == 3) return (s + (y & ~z)) + (x & z);  // (x & z) | (y & ~z)
  if constexpr (F == 4) return s + (x ^ (y | ~z));
}

// Step I of one line: A = ((A + f(B, C, D) + X + K) <<< s) + E, C = C <<< 10,
// with the roles of A..E rotated by the caller.  The right line runs the
// functions in the reverse order.
template <int I, bool kRight>
[[gnu::always_inline]] inline void step(uint32_t& a, uint32_t b, uint32_t& c, uint32_t d,
                                        uint32_t e, const uint32_t* x) noexcept {
  constexpr int r = I / 16;
  constexpr int f = kRight ? 4 - r : r;
  constexpr uint32_t k = kRight ? kConstR[r] : kConstL[r];
  constexpr int word = kRight ? kWordR[I] : kWordL[I];
  constexpr int shift = kRight ? kShiftR[I] : kShiftL[I];
  a = std::rotl(sum_with<f>(a + x[word] + k, b, c, d), shift) + e;
  c = std::rotl(c, 10);
}

}  // namespace

/* see morvane/ripemd.h */
void ripemd160_block_data_order(RIPEMD160_CTX* ctx, const void* p, size_t num) {
  const uint8_t* in = static_cast<const uint8_t*>(p);
  while (num-- != 0) {
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = load_le32(in + 4 * i);
    uint32_t al = ctx->A, bl = ctx->B, cl = ctx->C, dl = ctx->D, el = ctx->E;
    uint32_t ar = al, br = bl, cr = cl, dr = dl, er = el;
#define RMD_STEP(i, a, b, c, d, e)                 \
  step<i, false>(a##l, b##l, c##l, d##l, e##l, x); \
  step<i, true>(a##r, b##r, c##r, d##r, e##r, x)
#define RMD_FIVE(i)               \
  RMD_STEP(i, a, b, c, d, e);     \
  RMD_STEP(i + 1, e, a, b, c, d); \
  RMD_STEP(i + 2, d, e, a, b, c); \
  RMD_STEP(i + 3, c, d, e, a, b); \
  RMD_STEP(i + 4, b, c, d, e, a)
    RMD_FIVE(0);
    RMD_FIVE(5);
    RMD_FIVE(10);
    RMD_FIVE(15);
    RMD_FIVE(20);
    RMD_FIVE(25);
    RMD_FIVE(30);
    RMD_FIVE(35);
    RMD_FIVE(40);
    RMD_FIVE(45);
    RMD_FIVE(50);
    RMD_FIVE(55);
    RMD_FIVE(60);
    RMD_FIVE(65);
    RMD_FIVE(70);
    RMD_FIVE(75);
#undef RMD_FIVE
#undef RMD_STEP
    // RIPEMD-160, Appendix A: combine the two lines with the chaining words.
    const uint32_t t = ctx->B + cl + dr;
    ctx->B = ctx->C + dl + er;
    ctx->C = ctx->D + el + ar;
    ctx->D = ctx->E + al + br;
    ctx->E = ctx->A + bl + cr;
    ctx->A = t;
    in += morvane::internal::kMd32BlockSize;
  }
}

namespace {

struct Rmd160Traits {
  using Ctx = RIPEMD160_CTX;
  static constexpr bool kBigEndian = false;
  // RIPEMD-160, Appendix A: the chaining words in digest order and their
  // initial values.
  static constexpr std::array kWords = {&Ctx::A, &Ctx::B, &Ctx::C, &Ctx::D, &Ctx::E};
  static constexpr std::array<uint32_t, 5> kInitialValues = {0x67452301, 0xefcdab89, 0x98badcfe,
                                                             0x10325476, 0xc3d2e1f0};
  static void blocks(Ctx& c, const uint8_t* p, size_t n) noexcept {
    ripemd160_block_data_order(&c, p, n);
  }
};
using Scheme = morvane::internal::Md32<Rmd160Traits>;

constinit unsigned char g_oneshot_md[RIPEMD160_DIGEST_LENGTH];

}  // namespace

/* see morvane/ripemd.h */
int RIPEMD160_Init(RIPEMD160_CTX* c) {
  return Scheme::init(*c);
}

int RIPEMD160_Update(RIPEMD160_CTX* c, const void* data, size_t len) {
  return Scheme::update(*c, data, len);
}

int RIPEMD160_Final(unsigned char* md, RIPEMD160_CTX* c) {
  return Scheme::final(md, *c);
}

void RIPEMD160_Transform(RIPEMD160_CTX* c, const unsigned char* b) {
  ripemd160_block_data_order(c, b, 1);
}

unsigned char* RIPEMD160(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<RIPEMD160_CTX, RIPEMD160_Init, RIPEMD160_Update,
                                           RIPEMD160_Final>(d, n, md, g_oneshot_md);
}
