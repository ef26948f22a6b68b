// HMAC (RFC 2104) over any digest description: keying with the two pads,
// restarting, finishing, and the one-shot form.
//
// Implementation notes: the pads are digested once per key into i_ctx and
// o_ctx; every MAC starts by copying i_ctx into md_ctx, and finishing
// copies o_ctx over it.  A restart (null key and digest) therefore costs one
// context copy, which is what PBKDF2 relies on to key a context once and
// run millions of MACs on it.  A new key costs the two pads' compressions
// and the set-up around them, which is kept small: HMAC() runs the
// description's own functions on private data on its stack when no engine
// supplies the digest (direct_mac; else its three digest contexts keep
// their private data on its stack), and the pads and contexts are cleared
// with plain stores behind a barrier (wipe_scratch), not MORVANE_cleanse,
// whose second pass costs as much as a compression on these short buffers.

#include <stddef.h>
#include <string.h>

#include <utility>

#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>

#include "evp/internal.h"
#include "internal/wipe.h"

static_assert(offsetof(HMAC_CTX, md_ctx) == 8 && offsetof(HMAC_CTX, i_ctx) == 40 &&
              offsetof(HMAC_CTX, o_ctx) == 72 && offsetof(HMAC_CTX, key_length) == 104 &&
              offsetof(HMAC_CTX, key) == 108 && sizeof(HMAC_CTX) == 240);

namespace {

// HMAC() with a null output writes here (process-wide, unlocked).
constinit unsigned char g_shared_mac[EVP_MAX_MD_SIZE];

// Copies a key of `len` bytes (at most HMAC_MAX_MD_CBLOCK) into `dst`,
// zero-filled to HMAC_MAX_MD_CBLOCK bytes, by fixed-size pieces: a memcpy and
// memset of variable length compile here to string instructions whose
// start-up costs about a third of a compression on a key of 16 to 64 bytes.
void put_key(unsigned char* dst, const unsigned char* key, size_t len) {
  memset(dst, 0, HMAC_MAX_MD_CBLOCK);
  size_t i = 0;
  for (; i + 16 <= len; i += 16) memcpy(dst + i, key + i, 16);
  for (const size_t piece : {size_t{8}, size_t{4}, size_t{2}, size_t{1}}) {
    if (len - i < piece) continue;
    memcpy(dst + i, key + i, piece);
    i += piece;
  }
}

// Starts i_ctx and o_ctx on `md` and absorbs the key XOR 0x36 and XOR 0x5c
// over one block into them.  Without `impl` the default engine for `md` is
// looked up once for both.
bool absorb_pads(HMAC_CTX* ctx, const EVP_MD* md, ENGINE* impl) {
  unsigned char pad[HMAC_MAX_MD_CBLOCK];
  const int block = EVP_MD_block_size(md);
  const size_t n = block > 0 ? static_cast<size_t>(block) : 0;
  if (n > sizeof pad) MorvaneDie(__FILE__, __LINE__, "j <= (int)sizeof(ctx->key)");
  bool unengined = false;
  if (impl == nullptr) {
    ENGINE* e = ENGINE_get_digest_engine(md->type);
    unengined = e == nullptr;
    if (e != nullptr) ENGINE_finish(e);
  }
  bool ok = true;
  for (const auto& [dst, fill] : {std::pair{&ctx->i_ctx, 0x36}, std::pair{&ctx->o_ctx, 0x5c}}) {
    for (size_t i = 0; i < n; i++) pad[i] = static_cast<unsigned char>(ctx->key[i] ^ fill);
    ok = ok &&
         (unengined ? morvane::evp::init_unengined(dst, md) : EVP_DigestInit_ex(dst, md, impl)) &&
         EVP_DigestUpdate(dst, pad, n);
  }
  morvane::internal::wipe_scratch(pad, n);
  return ok;
}

// HMAC() through the description's own init, update and final on private
// data kept here, without the envelope's set-up around each digest: for a
// description that no engine replaces, without copy or cleanup hooks, whose
// data, block and output fit.  False when that does not hold (the caller
// goes the general way); else true, with *ok false when a digest step
// failed.
bool direct_mac(const EVP_MD* type, const unsigned char* key, size_t len, const unsigned char* d,
                size_t n, unsigned char* out, unsigned int* out_len, bool* ok) {
  const size_t block = type->block_size > 0 ? static_cast<size_t>(type->block_size) : 0;
  const size_t size = type->md_size > 0 ? static_cast<size_t>(type->md_size) : 0;
  if (type->copy != nullptr || type->cleanup != nullptr || type->ctx_size <= 0 ||
      static_cast<size_t>(type->ctx_size) > morvane::evp::kLocalDataSize || block == 0 ||
      block > HMAC_MAX_MD_CBLOCK || size == 0 || size > EVP_MAX_MD_SIZE)
    return false;
  if (ENGINE* e = ENGINE_get_digest_engine(type->type); e != nullptr) {
    ENGINE_finish(e);
    return false;
  }
  alignas(64) unsigned char data[2][morvane::evp::kLocalDataSize];
  EVP_MD_CTX inner = {type, nullptr, 0, data[0]}, outer = {type, nullptr, 0, data[1]};
  unsigned char k[HMAC_MAX_MD_CBLOCK], pad[HMAC_MAX_MD_CBLOCK], inner_mac[EVP_MAX_MD_SIZE];
  bool good = true;
  size_t klen = len;
  if (len > block) {
    // RFC 2104, 2: a key longer than the block is replaced by its digest.
    good = type->init(&inner) && type->update(&inner, key, len) && type->final(&inner, k);
    klen = size;
    memset(k + klen, 0, sizeof k - klen);  // klen = size <= sizeof k
  } else {
    put_key(k, key, len);
  }
  for (size_t i = 0; i < block; i++) pad[i] = static_cast<unsigned char>(k[i] ^ 0x36);
  good = good && type->init(&inner) && type->update(&inner, pad, block);
  for (size_t i = 0; i < block; i++) pad[i] = static_cast<unsigned char>(k[i] ^ 0x5c);
  good = good && type->init(&outer) && type->update(&outer, pad, block) &&
         type->update(&inner, d, n) && type->final(&inner, inner_mac) &&
         type->update(&outer, inner_mac, size) && type->final(&outer, out);
  if (good && out_len != nullptr) *out_len = static_cast<unsigned int>(size);
  const size_t state = static_cast<size_t>(type->ctx_size);
  morvane::internal::wipe_scratch(k, sizeof k);
  morvane::internal::wipe_scratch(pad, block);
  morvane::internal::wipe_scratch(inner_mac, size);
  morvane::internal::wipe_scratch(data[0], state);
  morvane::internal::wipe_scratch(data[1], state);
  *ok = good;
  return true;
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
  morvane::internal::wipe_scratch(ctx, sizeof *ctx);
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
      if (n < HMAC_MAX_MD_CBLOCK) memset(ctx->key + n, 0, HMAC_MAX_MD_CBLOCK - n);
    } else {
      put_key(ctx->key, static_cast<const unsigned char*>(key), static_cast<size_t>(len));
      ctx->key_length = static_cast<unsigned int>(len);
    }
  }
  if (reset && !absorb_pads(ctx, md, impl)) return 0;
  return morvane::evp::copy_running(&ctx->md_ctx, &ctx->i_ctx);
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
                  morvane::evp::copy_running(&ctx->md_ctx, &ctx->o_ctx) &&
                  EVP_DigestUpdate(&ctx->md_ctx, inner, n) &&
                  EVP_DigestFinal_ex(&ctx->md_ctx, md, len);
  morvane::internal::wipe_scratch(inner, sizeof inner);
  return ok ? 1 : 0;
}

/* see morvane/hmac.h */
unsigned char* HMAC(const EVP_MD* evp_md, const void* key, int key_len, const unsigned char* d,
                    size_t n, unsigned char* md, unsigned int* md_len) {
  if (md == nullptr) md = g_shared_mac;
  if (bool ok = false; evp_md != nullptr && key != nullptr && key_len >= 0 &&
                       direct_mac(evp_md, static_cast<const unsigned char*>(key),
                                  static_cast<size_t>(key_len), d, n, md, md_len, &ok))
    return ok ? md : nullptr;
  HMAC_CTX c;
  HMAC_CTX_init(&c);  // what HMAC_Init would do first
  // The three digests' private data lives here unless an engine supplies
  // the digest.
  alignas(64) unsigned char local[3][morvane::evp::kLocalDataSize];
  EVP_MD_CTX* const parts[3] = {&c.md_ctx, &c.i_ctx, &c.o_ctx};
  for (int i = 0; i < 3; i++) morvane::evp::seat_local(parts[i], evp_md, nullptr, local[i]);
  const bool ok = HMAC_Init_ex(&c, key, key_len, evp_md, nullptr) && HMAC_Update(&c, d, n) &&
                  HMAC_Final(&c, md, md_len);
  for (int i = 0; i < 3; i++) morvane::evp::unseat_local(parts[i], local[i]);
  HMAC_CTX_cleanup(&c);
  return ok ? md : nullptr;
}
