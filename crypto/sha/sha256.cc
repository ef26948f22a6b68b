// SHA-224 and SHA-256 (FIPS 180-2 and its change notice): the parameters of
// the SHA-2 compression function and the C entry points over the shared
// 64-byte block scheme.  The two digests differ only in their initial values
// and in md_len, which Final obeys.  The compression function runs on the
// SHA extensions (sha_ni.cc) when the processor has them.

#include <cstddef>
#include <cstdint>

#include <morvane/sha.h>

#include "internal/byteorder.h"
#include "internal/cpu.h"
#include "internal/digest.h"
#include "internal/md32_common.h"
#include "sha/internal.h"
#include "sha/sha2_constants.h"
#include "sha/sha_hw.h"

const char SHA256_version[] = "SHA-256 part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(SHA256_CTX) == 112);
static_assert(offsetof(SHA256_CTX, Nl) == 32 && offsetof(SHA256_CTX, data) == 40 &&
              offsetof(SHA256_CTX, num) == 104 && offsetof(SHA256_CTX, md_len) == 108);

namespace {

struct Sha256Params {
  using Word = SHA_LONG;  // the type of SHA256_CTX::h
  static constexpr int kSteps = 64;
  static constexpr const uint32_t (&kK)[64] = morvane::sha::kSha256K;
  // FIPS 180-2, 4.1.2: Σ0, Σ1 rotate three times; σ0, σ1 rotate twice, then shift.
  static constexpr int kSum0[3] = {2, 13, 22};
  static constexpr int kSum1[3] = {6, 11, 25};
  static constexpr int kSigma0[3] = {7, 18, 3};
  static constexpr int kSigma1[3] = {17, 19, 10};
};
using Compress = morvane::sha::Sha2<Sha256Params>;

void sha256_blocks(SHA256_CTX* ctx, const uint8_t* in, size_t num) noexcept {
  if (morvane::internal::Has(morvane::internal::kShani))
    return morvane::sha::Sha256Blocks(ctx, in, num);
  Compress::blocks(ctx->h, in, num);
}

struct Sha256Traits {
  using Ctx = SHA256_CTX;
  static constexpr bool kBigEndian = true;
  static void blocks(Ctx& c, const uint8_t* p, size_t n) noexcept { sha256_blocks(&c, p, n); }
};
using Scheme = morvane::internal::Md32<Sha256Traits>;

void sha256_start(SHA256_CTX* c, const uint32_t (&iv)[8], unsigned int md_len) noexcept {
  for (int i = 0; i < 8; i++) c->h[i] = iv[i];
  c->Nl = c->Nh = 0;
  c->num = 0;
  c->md_len = md_len;
}

// FIPS 180-2, 5.3.2
constexpr uint32_t kIv256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
// FIPS 180-2 change notice 1, 5.3.2
constexpr uint32_t kIv224[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};

constinit unsigned char g_sha224_md[SHA224_DIGEST_LENGTH];
constinit unsigned char g_sha256_md[SHA256_DIGEST_LENGTH];

}  // namespace

/* see morvane/sha.h */
int SHA224_Init(SHA256_CTX* c) {
  sha256_start(c, kIv224, SHA224_DIGEST_LENGTH);
  return 1;
}

int SHA256_Init(SHA256_CTX* c) {
  sha256_start(c, kIv256, SHA256_DIGEST_LENGTH);
  return 1;
}

int SHA256_Update(SHA256_CTX* c, const void* data, size_t len) {
  return Scheme::update(*c, data, len);
}

int SHA224_Update(SHA256_CTX* c, const void* data, size_t len) {
  return SHA256_Update(c, data, len);
}

int SHA256_Final(unsigned char* md, SHA256_CTX* c) {
  Scheme::finish(*c);
  // The length comes from the context, whichever Final was called.
  if (c->md_len > SHA256_DIGEST_LENGTH) return 0;
  for (unsigned int i = 0; i < c->md_len / 4; i++)
    morvane::internal::store_be32(md + 4 * i, c->h[i]);
  return 1;
}

int SHA224_Final(unsigned char* md, SHA256_CTX* c) {
  return SHA256_Final(md, c);
}

void SHA256_Transform(SHA256_CTX* c, const unsigned char* data) {
  sha256_blocks(c, data, 1);
}

unsigned char* SHA224(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<SHA256_CTX, SHA224_Init, SHA256_Update, SHA256_Final>(
      d, n, md, g_sha224_md);
}

unsigned char* SHA256(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>(
      d, n, md, g_sha256_md);
}
