// SHA-384 and SHA-512 (FIPS 180-2): the compression function, the 128-byte
// block buffering of their own, and the C entry points.
//
// Implementation notes: the buffering follows the 64-byte scheme with three
// differences: a 128-bit bit count, Final leaves num and the buffer as they
// are, and Final refuses a null output or an md_len other than 48 or 64.
// Whole blocks go to the compression function straight from the caller's
// memory at any alignment (the loads are unaligned-safe).  The compression
// function is the SHA-2 one of internal.h with the SHA-512 parameters, or the
// vector one of sha512_vector.inc when the processor has AVX-512VL, or AVX2
// and BMI2.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <morvane/sha.h>

#include "internal/byteorder.h"
#include "internal/cpu.h"
#include "internal/digest.h"
#include "sha/internal.h"
#include "sha/sha2_constants.h"
#include "sha/sha_hw.h"

const char SHA512_version[] = "SHA-512 part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(SHA_LONG64) == 8);
static_assert(sizeof(SHA512_CTX) == 216);
static_assert(offsetof(SHA512_CTX, Nl) == 64 && offsetof(SHA512_CTX, u) == 80 &&
              offsetof(SHA512_CTX, num) == 208 && offsetof(SHA512_CTX, md_len) == 212);

namespace {

constexpr size_t kBlock = SHA512_CBLOCK;

struct Sha512Params {
  using Word = SHA_LONG64;  // the type of SHA512_CTX::h
  static constexpr int kSteps = 80;
  static constexpr const uint64_t (&kK)[80] = morvane::sha::kSha512K;
  // FIPS 180-2, 4.1.3: Σ0, Σ1 rotate three times; σ0, σ1 rotate twice, then shift.
  static constexpr int kSum0[3] = {28, 34, 39};
  static constexpr int kSum1[3] = {14, 18, 41};
  static constexpr int kSigma0[3] = {1, 8, 7};
  static constexpr int kSigma1[3] = {19, 61, 6};
};
using Compress = morvane::sha::Sha2<Sha512Params>;
static_assert(Compress::kBlockSize == kBlock);

void sha512_blocks(SHA512_CTX* ctx, const uint8_t* in, size_t num) noexcept {
  const uint32_t f = morvane::internal::Features();
  if (f & morvane::internal::kAvx512) return morvane::sha::Sha512BlocksAvx512(ctx, in, num);
  if (f & morvane::internal::kAvx2) return morvane::sha::Sha512BlocksAvx2(ctx, in, num);
  Compress::blocks(ctx->h, in, num);
}

// Adds 8 * len to the 128-bit bit count nh:nl.  len * 8 can exceed 64 bits
// when size_t is 64 bits wide, so its top three bits go to nh as well.
constexpr void add_bits(SHA_LONG64& nl, SHA_LONG64& nh, size_t len) noexcept {
  const uint64_t l = nl + (static_cast<uint64_t>(len) << 3);
  if (l < nl) nh++;
  nh += static_cast<uint64_t>(len) >> 61;
  nl = l;
}

constexpr bool count_after(SHA_LONG64 nl, SHA_LONG64 nh, size_t len, SHA_LONG64 want_nl,
                           SHA_LONG64 want_nh) {
  add_bits(nl, nh, len);
  return nl == want_nl && nh == want_nh;
}
static_assert(count_after(~0ull - 7, 0, 1, 0, 1));                  // carry out of Nl
static_assert(count_after(0, 0, size_t{1} << 61, 0, 1));            // exactly 2^64 bits
static_assert(count_after(16, 0, (size_t{1} << 63) + 3, 40, 4));    // 2^66 + 24 bits
static_assert(count_after(~0ull, 5, (size_t{1} << 61) + 1, 7, 7));  // both carries

void sha512_start(SHA512_CTX* c, const uint64_t (&iv)[8], unsigned int md_len) noexcept {
  for (int i = 0; i < 8; i++) c->h[i] = iv[i];
  c->Nl = c->Nh = 0;
  c->num = 0;
  c->md_len = md_len;
}

// FIPS 180-2, 5.3.3
constexpr uint64_t kIv384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
// FIPS 180-2, 5.3.4
constexpr uint64_t kIv512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

constinit unsigned char g_sha384_md[SHA384_DIGEST_LENGTH];
constinit unsigned char g_sha512_md[SHA512_DIGEST_LENGTH];

}  // namespace

/* see morvane/sha.h */
int SHA384_Init(SHA512_CTX* c) {
  sha512_start(c, kIv384, SHA384_DIGEST_LENGTH);
  return 1;
}

int SHA512_Init(SHA512_CTX* c) {
  sha512_start(c, kIv512, SHA512_DIGEST_LENGTH);
  return 1;
}

int SHA512_Update(SHA512_CTX* c, const void* data, size_t len) {
  if (len == 0 || morvane::internal::digest_length_is_negative(len)) return 1;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  add_bits(c->Nl, c->Nh, len);

  uint8_t* buf = c->u.p;
  if (c->num != 0) {
    const size_t take = kBlock - c->num;
    if (len < take) {
      std::memcpy(buf + c->num, in, len);
      c->num += static_cast<unsigned int>(len);
      return 1;
    }
    std::memcpy(buf + c->num, in, take);
    c->num = 0;
    in += take;
    len -= take;
    sha512_blocks(c, buf, 1);
  }
  if (const size_t nblocks = len / kBlock; nblocks != 0) {
    sha512_blocks(c, in, nblocks);
    in += nblocks * kBlock;
    len -= nblocks * kBlock;
  }
  if (len != 0) {
    std::memcpy(buf, in, len);
    c->num = static_cast<unsigned int>(len);
  }
  return 1;
}

int SHA384_Update(SHA512_CTX* c, const void* data, size_t len) {
  return SHA512_Update(c, data, len);
}

int SHA512_Final(unsigned char* md, SHA512_CTX* c) {
  uint8_t* buf = c->u.p;
  size_t n = c->num;
  buf[n++] = 0x80;
  if (n > kBlock - 16) {
    std::memset(buf + n, 0, kBlock - n);
    sha512_blocks(c, buf, 1);
    n = 0;
  }
  std::memset(buf + n, 0, kBlock - 16 - n);
  morvane::internal::store_be64(buf + kBlock - 16, c->Nh);  // FIPS 180-2, 5.1.2
  morvane::internal::store_be64(buf + kBlock - 8, c->Nl);
  sha512_blocks(c, buf, 1);

  if (md == nullptr) return 0;
  if (c->md_len != SHA384_DIGEST_LENGTH && c->md_len != SHA512_DIGEST_LENGTH) return 0;
  for (unsigned int i = 0; i < c->md_len / 8; i++)
    morvane::internal::store_be64(md + 8 * i, c->h[i]);
  return 1;
}

int SHA384_Final(unsigned char* md, SHA512_CTX* c) {
  return SHA512_Final(md, c);
}

void SHA512_Transform(SHA512_CTX* c, const unsigned char* data) {
  sha512_blocks(c, data, 1);
}

unsigned char* SHA384(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<SHA512_CTX, SHA384_Init, SHA512_Update, SHA512_Final>(
      d, n, md, g_sha384_md);
}

unsigned char* SHA512(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final>(
      d, n, md, g_sha512_md);
}
