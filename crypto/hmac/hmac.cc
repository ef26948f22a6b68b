// HMAC (RFC 2104) over any digest description: keying with the two pads,
// restarting, finishing, and the one-shot form.
//
// Implementation notes: the pads are digested once per key into i_ctx and
// o_ctx; every MAC starts by copying i_ctx into md_ctx, and finishing
// copies o_ctx over it.  A restart (null key and digest) therefore costs one
// context copy, which is what PBKDF2 relies on to key a context once and
// run millions of MACs on it.

#include <stddef.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>

#include "internal/wipe.h"

static_assert(offsetof(HMAC_CTX, md_ctx) == 8 && offsetof(HMAC_CTX, i_ctx) == 40 &&
              offsetof(HMAC_CTX, o_ctx) == 72 && offsetof(HMAC_CTX, key_length) == 104 &&
              offsetof(HMAC_CTX, key) == 108 && sizeof(HMAC_CTX) == 240);

namespace {

// HMAC() with a null output writes here (process-wide, unlocked).
constinit unsigned char g_shared_mac[EVP_MAX_MD_SIZE];

// Starts `dst` on `md` and absorbs the key XOR `fill` over one block.
bool absorb_pad(EVP_MD_CTX* dst, const HMAC_CTX* ctx, const EVP_MD* md, ENGINE* impl,
                unsigned char fill) {
  unsigned char pad[HMAC_MAX_MD_CBLOCK];
  morvane::internal::Wiper w(pad);
  for (size_t i = 0; i < sizeof pad; i++) pad[i] = static_cast<unsigned char>(ctx->key[i] ^ fill);
  const int block = EVP_MD_block_size(md);
  return EVP_DigestInit_ex(dst, md, impl) &&
         EVP_DigestUpdate(dst, pad, block > 0 ? static_cast<size_t>(block) : 0);
}

}  // namespace

/* see morvane/hmac.h */
void HMAC_CTX_init(HMAC_CTX* ctx) {
  if (ctx == nullptr) return;
  memset(ctx, 0, sizeof *ctx);
  EVP_MD_CTX_init(&ctx->i_ctx);
  EVP_MD_CTX_init(&ctx->o_ctx);
  EVP_MD_CTX_init(&ctx->md_ctx);
}

/* see morvane/hmac.h */
void HMAC_CTX_cleanup(HMAC_CTX* ctx) {
  if (ctx == nullptr) return;
  EVP_MD_CTX_cleanup(&ctx->i_ctx);
  EVP_MD_CTX_cleanup(&ctx->o_ctx);
  EVP_MD_CTX_cleanup(&ctx->md_ctx);
  morvane::internal::wipe_to_zero(ctx, sizeof *ctx);
}

/* see morvane/hmac.h */
void HMAC_CTX_set_flags(HMAC_CTX* ctx, unsigned long flags) {
  if (ctx == nullptr) return;
  EVP_MD_CTX_set_flags(&ctx->i_ctx, static_cast<int>(flags));
  EVP_MD_CTX_set_flags(&ctx->o_ctx, static_cast<int>(flags));
  EVP_MD_CTX_set_flags(&ctx->md_ctx, static_cast<int>(flags));
}

/* see morvane/hmac.h */
int HMAC_Init_ex(HMAC_CTX* ctx, const void* key, int len, const EVP_MD* md, ENGINE* impl) {
  if (ctx == nullptr) {
    EVPerr(0, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (key != nullptr && len < 0) {
    EVPerr(0, EVP_R_INVALID_KEY_LENGTH);
    return 0;
  }
  bool reset = false;
  if (md != nullptr) {
    reset = true;
    ctx->md = md;
  } else {
    md = ctx->md;
  }
  if (md == nullptr) {
    EVPerr(0, EVP_R_NO_DIGEST_SET);
    return 0;
  }
  if (key != nullptr) {
    reset = true;
    const int block = EVP_MD_block_size(md);
    if (block > HMAC_MAX_MD_CBLOCK) MorvaneDie(__FILE__, __LINE__, "j <= (int)sizeof(ctx->key)");
    if (block < len) {
      // RFC 2104, 2: a key longer than the block is replaced by its digest.
      unsigned int n = 0;
      if (!EVP_DigestInit_ex(&ctx->md_ctx, md, impl) ||
          !EVP_DigestUpdate(&ctx->md_ctx, key, static_cast<size_t>(len)) ||
          !EVP_DigestFinal_ex(&ctx->md_ctx, ctx->key, &n))
        return 0;
      ctx->key_length = n;
    } else {
      memcpy(ctx->key, key, static_cast<size_t>(len));
      ctx->key_length = static_cast<unsigned int>(len);
    }
    if (ctx->key_length < HMAC_MAX_MD_CBLOCK)
      memset(ctx->key + ctx->key_length, 0, HMAC_MAX_MD_CBLOCK - ctx->key_length);
  }
  if (reset && (!absorb_pad(&ctx->i_ctx, ctx, md, impl, 0x36) ||
                !absorb_pad(&ctx->o_ctx, ctx, md, impl, 0x5c)))
    return 0;
  return EVP_MD_CTX_copy_ex(&ctx->md_ctx, &ctx->i_ctx);
}

/* see morvane/hmac.h */
int HMAC_Init(HMAC_CTX* ctx, const void* key, int len, const EVP_MD* md) {
  if (key != nullptr && md != nullptr) HMAC_CTX_init(ctx);
  return HMAC_Init_ex(ctx, key, len, md, nullptr);
}

/* see morvane/hmac.h */
int HMAC_Update(HMAC_CTX* ctx, const unsigned char* data, size_t len) {
  if (ctx == nullptr) {
    EVPerr(0, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  return EVP_DigestUpdate(&ctx->md_ctx, data, len);
}

/* see morvane/hmac.h */
int HMAC_Final(HMAC_CTX* ctx, unsigned char* md, unsigned int* len) {
  if (ctx == nullptr) {
    EVPerr(0, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  unsigned char inner[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  const bool ok = EVP_DigestFinal_ex(&ctx->md_ctx, inner, &n) &&
                  EVP_MD_CTX_copy_ex(&ctx->md_ctx, &ctx->o_ctx) &&
                  EVP_DigestUpdate(&ctx->md_ctx, inner, n) &&
                  EVP_DigestFinal_ex(&ctx->md_ctx, md, len);
  morvane::internal::wipe_scratch(inner, sizeof inner);
  return ok ? 1 : 0;
}

/* see morvane/hmac.h */
unsigned char* HMAC(const EVP_MD* evp_md, const void* key, int key_len, const unsigned char* d,
                    size_t n, unsigned char* md, unsigned int* md_len) {
  if (md == nullptr) md = g_shared_mac;
  HMAC_CTX c;
  HMAC_CTX_init(&c);
  const bool ok = HMAC_Init(&c, key, key_len, evp_md) && HMAC_Update(&c, d, n) &&
                  HMAC_Final(&c, md, md_len);
  HMAC_CTX_cleanup(&c);
  return ok ? md : nullptr;
}
