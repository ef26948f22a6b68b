// SHA-1 (FIPS 180-1) and SHA-0 (FIPS 180): one compression function compiled
// twice, and the C entry points of both over the shared 64-byte block scheme.
//
// The 80 steps are fully unrolled; the message schedule is a rolling window
// of 16 words.  The two algorithms differ only in the schedule's one-bit
// rotation (FIPS 180-1, 7(b)), which SHA-0 lacks.  SHA-1 runs on the SHA
// extensions (sha_ni.cc) when the processor has them.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include <morvane/sha.h>

#include "internal/byteorder.h"
#include "internal/cpu.h"
#include "internal/digest.h"
#include "internal/md32_common.h"
#include "sha/sha_hw.h"

const char SHA_version[] = "SHA part of " MORVANE_VERSION_TEXT;
const char SHA1_version[] = "SHA1 part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(SHA_CTX) == 96);
static_assert(offsetof(SHA_CTX, Nl) == 20 && offsetof(SHA_CTX, data) == 28 &&
              offsetof(SHA_CTX, num) == 92);

namespace {

using morvane::internal::load_be32;

// FIPS 180-1, 5: the constant of each group of 20 steps.
constexpr uint32_t kK[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

// Step I: for I >= 16 first extends the schedule (FIPS 180-1, 7(b)), then
// TEMP = (A <<< 5) + f(B, C, D) + E + W + K, with the roles of A..E rotated
// by the caller instead of moving the values; B <<< 30 is done here.
template <bool kSha1, int I>
[[gnu::always_inline]] inline void step(uint32_t a, uint32_t& b, uint32_t c, uint32_t d,
                                        uint32_t& e, uint32_t* w) noexcept {
  if constexpr (I >= 16) {
    uint32_t x = w[(I + 13) & 15] ^ w[(I + 8) & 15] ^ w[(I + 2) & 15] ^ w[I & 15];
    if constexpr (kSha1) x = std::rotl(x, 1);
    w[I & 15] = x;
  }
  constexpr int g = I / 20;
  uint32_t f;
  if constexpr (g == 0) {
    f = ((c ^ d) & b) ^ d;  // Ch
  } else if constexpr (g == 2) {
    f = (b & c) | ((b | c) & d);  // Maj
  } else {
    f = b ^ c ^ d;  // Parity
  }
  e += std::rotl(a, 5) + f + w[I & 15] + kK[g];
  b = std::rotl(b, 30);
}

template <bool kSha1>
void sha_blocks(SHA_CTX* ctx, const uint8_t* in, size_t num) noexcept {
  if constexpr (kSha1) {
    if (morvane::internal::Has(morvane::internal::kShani))
      return morvane::sha::Sha1Blocks(ctx, in, num);
  }
  uint32_t A = ctx->h0, B = ctx->h1, C = ctx->h2, D = ctx->h3, E = ctx->h4;
  while (num-- != 0) {
    uint32_t w[16];
    for (int i = 0; i < 16; i++) w[i] = load_be32(in + 4 * i);
    uint32_t a = A, b = B, c = C, d = D, e = E;
#define SHA_FIVE(i)                     \
  step<kSha1, i>(a, b, c, d, e, w);     \
  step<kSha1, i + 1>(e, a, b, c, d, w); \
  step<kSha1, i + 2>(d, e, a, b, c, w); \
  step<kSha1, i + 3>(c, d, e, a, b, w); \
  step<kSha1, i + 4>(b, c, d, e, a, w)
    SHA_FIVE(0);
    SHA_FIVE(5);
    SHA_FIVE(10);
    SHA_FIVE(15);
    SHA_FIVE(20);
    SHA_FIVE(25);
    SHA_FIVE(30);
    SHA_FIVE(35);
    SHA_FIVE(40);
    SHA_FIVE(45);
    SHA_FIVE(50);
    SHA_FIVE(55);
    SHA_FIVE(60);
    SHA_FIVE(65);
    SHA_FIVE(70);
    SHA_FIVE(75);
#undef SHA_FIVE
    A = ctx->h0 += a;
    B = ctx->h1 += b;
    C = ctx->h2 += c;
    D = ctx->h3 += d;
    E = ctx->h4 += e;
    in += morvane::internal::kMd32BlockSize;
  }
}

// The scheme's parameters; the block count is tested before each block, so a
// count of 0 processes nothing.
template <bool kSha1>
struct ShaTraits {
  using Ctx = SHA_CTX;
  static constexpr bool kBigEndian = true;
  // FIPS 180-1, 7 (FIPS 180 has the same): the chaining words in digest order
  // and their initial values.
  static constexpr std::array kWords = {&Ctx::h0, &Ctx::h1, &Ctx::h2, &Ctx::h3, &Ctx::h4};
  static constexpr std::array<uint32_t, 5> kInitialValues = {0x67452301, 0xefcdab89, 0x98badcfe,
                                                             0x10325476, 0xc3d2e1f0};
  static void blocks(Ctx& c, const uint8_t* p, size_t n) noexcept { sha_blocks<kSha1>(&c, p, n); }
};

using Sha0 = morvane::internal::Md32<ShaTraits<false>>;
using Sha1 = morvane::internal::Md32<ShaTraits<true>>;

constinit unsigned char g_sha_md[SHA_DIGEST_LENGTH];
constinit unsigned char g_sha1_md[SHA_DIGEST_LENGTH];

}  // namespace

/* see morvane/sha.h */
int SHA_Init(SHA_CTX* c) {
  return Sha0::init(*c);
}

int SHA_Update(SHA_CTX* c, const void* data, size_t len) {
  return Sha0::update(*c, data, len);
}

int SHA_Final(unsigned char* md, SHA_CTX* c) {
  return Sha0::final(md, *c);
}

void SHA_Transform(SHA_CTX* c, const unsigned char* data) {
  sha_blocks<false>(c, data, 1);
}

unsigned char* SHA(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<SHA_CTX, SHA_Init, SHA_Update, SHA_Final>(d, n, md,
                                                                                     g_sha_md);
}

/* see morvane/sha.h */
int SHA1_Init(SHA_CTX* c) {
  return Sha1::init(*c);
}

int SHA1_Update(SHA_CTX* c, const void* data, size_t len) {
  return Sha1::update(*c, data, len);
}

int SHA1_Final(unsigned char* md, SHA_CTX* c) {
  return Sha1::final(md, *c);
}

void SHA1_Transform(SHA_CTX* c, const unsigned char* data) {
  sha_blocks<true>(c, data, 1);
}

unsigned char* SHA1(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final>(d, n, md,
                                                                                        g_sha1_md);
}
