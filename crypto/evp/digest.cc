// Running digests: starting, feeding, finishing, copying and cleaning an
// EVP_MD_CTX over any description, built in or supplied by an engine.
//
// Implementation notes: the private data (md_data, ctx_size bytes) is the
// description's own; this file only allocates, copies, zeroes, wipes and
// frees it.  A context keeps its private data from one computation to the
// next while the description stays the same, and a copy target that already
// runs the same description keeps its buffer: the reuse flag marks that
// buffer as kept across the cleanup the copy performs.  Every release of
// private data goes through release_data, which wipes before freeing.
// EVP_Digest and HMAC() keep the private data of a built-in description in
// a stack buffer (no allocation per call): seat_local and unseat_local.

#include <stddef.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "evp/internal.h"
#include "internal/wipe.h"

namespace morvane::evp {
namespace {

// Update or Final on a context that runs nothing: 0, with "no digest set"
// (no function code of the table names these two).
int no_digest() {
  EVPerr(0, EVP_R_NO_DIGEST_SET);
  return 0;
}

size_t data_size(const EVP_MD* md) {
  return md != nullptr && md->ctx_size > 0 ? static_cast<size_t>(md->ctx_size) : 0;
}

// True when `ctx` runs a description with its private data (a failed
// allocation leaves the description without it).
bool running(const EVP_MD_CTX* ctx) {
  return ctx != nullptr && ctx->digest != nullptr &&
         (ctx->md_data != nullptr || data_size(ctx->digest) == 0);
}

// Wipes and frees the private data of `ctx` as its description sized it,
// unless it is a kept copy buffer; forgets it either way.
void release_data(EVP_MD_CTX* ctx) {
  const size_t n = data_size(ctx->digest);
  if (ctx->md_data != nullptr && n != 0 && !(ctx->flags & EVP_MD_CTX_FLAG_REUSE)) {
    internal::wipe(ctx->md_data, n);
    MORVANE_free(ctx->md_data);
  }
  ctx->md_data = nullptr;
}

// True when `d` offers the three steps of a computation; a null one is an
// operation the description does not offer, refused before it runs.
bool offers_steps(const EVP_MD* d) {
  if (d->init != nullptr && d->update != nullptr && d->final != nullptr) return true;
  EVPerr(EVP_F_EVP_DIGESTINIT_EX, EVP_R_OPERATION_NOT_SUPPORTED);
  return false;
}

// Chooses the description to run for `type`: through `impl` or the default
// engine for its NID when there is one (a functional reference kept in
// ctx->engine), else `type` itself.  Null, with an error, on failure.
const EVP_MD* choose_description(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl) {
  if (ctx->engine != nullptr) {
    ENGINE_finish(ctx->engine);
    ctx->engine = nullptr;
  }
  ENGINE* e = impl;
  if (e != nullptr) {
    if (!ENGINE_init(e)) {
      EVPerr(EVP_F_EVP_DIGESTINIT_EX, EVP_R_INITIALIZATION_ERROR);
      return nullptr;
    }
  } else {
    e = ENGINE_get_digest_engine(type->type);
  }
  if (e == nullptr) return offers_steps(type) ? type : nullptr;
  const EVP_MD* d = ENGINE_get_digest(e, type->type);
  if (d == nullptr) EVPerr(EVP_F_EVP_DIGESTINIT_EX, EVP_R_INITIALIZATION_ERROR);
  if (d == nullptr || !offers_steps(d)) {
    ENGINE_finish(e);
    return nullptr;
  }
  ctx->engine = e;
  return d;
}

// The steps behind the exported calls, which EVP_Digest also calls directly
// (not through the library's exported symbols).
int cleanup(EVP_MD_CTX* ctx) {
  if (ctx == nullptr) return 1;
  if (ctx->digest != nullptr && ctx->digest->cleanup != nullptr &&
      !(ctx->flags & EVP_MD_CTX_FLAG_CLEANED))
    ctx->digest->cleanup(ctx);
  release_data(ctx);
  if (ctx->engine != nullptr) ENGINE_finish(ctx->engine);
  memset(ctx, 0, sizeof *ctx);
  return 1;
}

int init_ex(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl) {
  if (ctx == nullptr) {
    EVPerr(EVP_F_EVP_DIGESTINIT_EX, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  ctx->flags &= ~static_cast<unsigned long>(EVP_MD_CTX_FLAG_CLEANED);
  // An engine's description of the same digest keeps its engine and data.
  const bool same_engine_digest = ctx->engine != nullptr && ctx->digest != nullptr &&
                                  (type == nullptr || type->type == ctx->digest->type);
  if (!same_engine_digest && type == nullptr && ctx->digest == nullptr) {
    EVPerr(EVP_F_DO_EVP_MD_ENGINE, EVP_R_NO_DIGEST_SET);
    return 0;
  }
  if (!same_engine_digest && type != nullptr) {
    const EVP_MD* d = choose_description(ctx, type, impl);
    if (d == nullptr) return 0;
    if (d != ctx->digest) {
      // The old private data is wiped before it goes, as in cleanup.
      release_data(ctx);
      ctx->digest = d;
    }
  }
  // New private data (also after an earlier failed allocation) is set up by
  // init, not zeroed here.
  if (const size_t n = data_size(ctx->digest); n != 0 && ctx->md_data == nullptr) {
    ctx->md_data = MORVANE_malloc(n);
    if (ctx->md_data == nullptr) {
      EVPerr(EVP_F_EVP_DIGESTINIT_EX, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  ctx->flags &= ~static_cast<unsigned long>(EVP_MD_CTX_FLAG_REUSE);  // kept only through a copy
  return ctx->digest->init(ctx);
}

int update(EVP_MD_CTX* ctx, const void* data, size_t count) {
  if (!running(ctx)) return no_digest();
  return ctx->digest->update(ctx, data, count);
}

int final_ex(EVP_MD_CTX* ctx, unsigned char* md, unsigned int* size) {
  if (!running(ctx)) return no_digest();
  const EVP_MD* d = ctx->digest;
  MORVANE_assert(ctx->digest->md_size <= EVP_MAX_MD_SIZE);
  const int ret = d->final(ctx, md);
  if (size != nullptr) *size = static_cast<unsigned int>(d->md_size);
  if (d->cleanup != nullptr) {
    d->cleanup(ctx);
    ctx->flags |= EVP_MD_CTX_FLAG_CLEANED;
  }
  if (ctx->md_data != nullptr) {
    memset(ctx->md_data, 0, data_size(d));
    __asm__ __volatile__("" : : "r"(ctx->md_data) : "memory");  // stored, even on the stack
  }
  return ret;
}

}  // namespace

bool same_state(const EVP_MD* a, const EVP_MD* b) {
  return a != nullptr && b != nullptr && a->init == b->init && a->update == b->update &&
         a->final == b->final && a->copy == b->copy && a->cleanup == b->cleanup &&
         data_size(a) == data_size(b);
}

bool retype_running(EVP_MD_CTX* ctx, const EVP_MD* md) {
  if (!running(ctx) || !same_state(ctx->digest, md)) return false;
  ctx->digest = md;
  return true;
}

void seat_local(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl, void* buf) {
  if (impl != nullptr || type == nullptr || type->cleanup != nullptr ||
      data_size(type) > kLocalDataSize)
    return;
  ctx->digest = type;
  ctx->md_data = buf;
  ctx->flags |= EVP_MD_CTX_FLAG_REUSE;
}

int init_unengined(EVP_MD_CTX* ctx, const EVP_MD* type) {
  if (ctx == nullptr || type == nullptr || ctx->digest != type || ctx->engine != nullptr ||
      (ctx->md_data == nullptr && data_size(type) != 0))
    return init_ex(ctx, type, nullptr);
  ctx->flags &= ~static_cast<unsigned long>(EVP_MD_CTX_FLAG_CLEANED | EVP_MD_CTX_FLAG_REUSE);
  return type->init(ctx);
}

int copy_running(EVP_MD_CTX* out, const EVP_MD_CTX* in) {
  if (out == in || in == nullptr || out == nullptr || in->digest == nullptr ||
      out->digest != in->digest || in->engine != nullptr || out->engine != nullptr ||
      in->digest->copy != nullptr || in->md_data == nullptr || out->md_data == nullptr ||
      (out->flags & EVP_MD_CTX_FLAG_REUSE))
    return EVP_MD_CTX_copy_ex(out, in);
  // What EVP_MD_CTX_copy_ex leaves: in's fields, out's own buffer holding
  // in's data.  Its cleanup of `out` would only have called a cleanup hook,
  // which a description with its data kept in this buffer may have.
  if (in->digest->cleanup != nullptr) return EVP_MD_CTX_copy_ex(out, in);
  out->flags = in->flags & ~static_cast<unsigned long>(EVP_MD_CTX_FLAG_REUSE);
  memcpy(out->md_data, in->md_data, data_size(in->digest));
  return 1;
}

void unseat_local(EVP_MD_CTX* ctx, void* buf) {
  if (ctx->md_data != buf) return;
  internal::wipe_scratch(buf, data_size(ctx->digest));
  ctx->md_data = nullptr;
}

}  // namespace morvane::evp

using morvane::evp::data_size;
using morvane::evp::release_data;

/* see morvane/evp.h */
void EVP_MD_CTX_init(EVP_MD_CTX* ctx) {
  if (ctx != nullptr) memset(ctx, 0, sizeof *ctx);
}

/* see morvane/evp.h */
EVP_MD_CTX* EVP_MD_CTX_create(void) {
  auto* ctx = static_cast<EVP_MD_CTX*>(MORVANE_malloc(sizeof(EVP_MD_CTX)));
  if (ctx != nullptr) EVP_MD_CTX_init(ctx);
  return ctx;
}

/* see morvane/evp.h */
void EVP_MD_CTX_destroy(EVP_MD_CTX* ctx) {
  if (ctx == nullptr) return;
  EVP_MD_CTX_cleanup(ctx);
  MORVANE_free(ctx);
}

/* see morvane/evp.h */
int EVP_MD_CTX_cleanup(EVP_MD_CTX* ctx) {
  return morvane::evp::cleanup(ctx);
}

/* see morvane/evp.h */
int EVP_DigestInit_ex(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl) {
  return morvane::evp::init_ex(ctx, type, impl);
}

/* see morvane/evp.h */
int EVP_DigestInit(EVP_MD_CTX* ctx, const EVP_MD* type) {
  if (ctx != nullptr) EVP_MD_CTX_init(ctx);
  return EVP_DigestInit_ex(ctx, type, nullptr);
}

/* see morvane/evp.h */
int EVP_DigestUpdate(EVP_MD_CTX* ctx, const void* data, size_t count) {
  return morvane::evp::update(ctx, data, count);
}

/* see morvane/evp.h */
int EVP_DigestFinal_ex(EVP_MD_CTX* ctx, unsigned char* md, unsigned int* size) {
  return morvane::evp::final_ex(ctx, md, size);
}

/* see morvane/evp.h */
int EVP_DigestFinal(EVP_MD_CTX* ctx, unsigned char* md, unsigned int* size) {
  const int ret = EVP_DigestFinal_ex(ctx, md, size);
  EVP_MD_CTX_cleanup(ctx);
  return ret;
}

/* see morvane/evp.h */
int EVP_Digest(const void* data, size_t count, unsigned char* md, unsigned int* size,
               const EVP_MD* type, ENGINE* impl) {
  EVP_MD_CTX ctx = {nullptr, nullptr, EVP_MD_CTX_FLAG_ONESHOT, nullptr};
  // Private data that fits is kept here instead of on the heap; Final zeroes
  // it and the unseating clears it on a failure too.
  alignas(64) unsigned char local[morvane::evp::kLocalDataSize];
  morvane::evp::seat_local(&ctx, type, impl, local);
  const bool ok = morvane::evp::init_ex(&ctx, type, impl) &&
                  morvane::evp::update(&ctx, data, count) && morvane::evp::final_ex(&ctx, md, size);
  morvane::evp::unseat_local(&ctx, local);
  morvane::evp::cleanup(&ctx);
  return ok ? 1 : 0;
}

/* see morvane/evp.h */
int EVP_MD_CTX_copy_ex(EVP_MD_CTX* out, const EVP_MD_CTX* in) {
  if (!morvane::evp::running(in)) {
    EVPerr(EVP_F_EVP_MD_CTX_COPY_EX, EVP_R_INPUT_NOT_INITIALIZED);
    return 0;
  }
  if (out == nullptr) {
    EVPerr(EVP_F_EVP_MD_CTX_COPY_EX, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (out == in) return 1;  // already its own copy
  if (in->engine != nullptr && !ENGINE_init(in->engine)) {
    EVPerr(EVP_F_EVP_MD_CTX_COPY_EX, ERR_R_ENGINE_LIB);
    return 0;
  }
  void* kept = nullptr;
  if (out->digest == in->digest) {
    kept = out->md_data;
    EVP_MD_CTX_set_flags(out, EVP_MD_CTX_FLAG_REUSE);
  }
  EVP_MD_CTX_cleanup(out);
  memcpy(out, in, sizeof *out);
  // The copy's state is its own (kept or allocated here) whatever the
  // source's flags say, so its cleanup frees it.
  out->flags &= ~static_cast<unsigned long>(EVP_MD_CTX_FLAG_REUSE);
  if (const size_t n = data_size(in->digest); n != 0) {
    out->md_data = kept != nullptr ? kept : MORVANE_malloc(n);
    if (out->md_data == nullptr) {
      EVPerr(EVP_F_EVP_MD_CTX_COPY_EX, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    memcpy(out->md_data, in->md_data, n);
  }
  return out->digest->copy != nullptr ? out->digest->copy(out, in) : 1;
}

/* see morvane/evp.h */
int EVP_MD_CTX_copy(EVP_MD_CTX* out, const EVP_MD_CTX* in) {
  if (out != nullptr && out != in) EVP_MD_CTX_init(out);
  return EVP_MD_CTX_copy_ex(out, in);
}

/* see morvane/evp.h */
const EVP_MD* EVP_MD_CTX_md(const EVP_MD_CTX* ctx) {
  return ctx != nullptr ? ctx->digest : nullptr;
}

/* see morvane/evp.h */
void EVP_MD_CTX_set_flags(EVP_MD_CTX* ctx, int flags) {
  if (ctx != nullptr) ctx->flags |= static_cast<unsigned long>(flags);
}

/* see morvane/evp.h */
void EVP_MD_CTX_clear_flags(EVP_MD_CTX* ctx, int flags) {
  if (ctx != nullptr) ctx->flags &= ~static_cast<unsigned long>(flags);
}

/* see morvane/evp.h */
int EVP_MD_CTX_test_flags(const EVP_MD_CTX* ctx, int flags) {
  return ctx != nullptr ? static_cast<int>(ctx->flags & static_cast<unsigned long>(flags)) : 0;
}

/* see morvane/evp.h */
int EVP_MD_type(const EVP_MD* md) {
  return md != nullptr ? md->type : 0;
}

/* see morvane/evp.h */
int EVP_MD_pkey_type(const EVP_MD* md) {
  return md != nullptr ? md->pkey_type : 0;
}

/* see morvane/evp.h */
int EVP_MD_size(const EVP_MD* md) {
  return md != nullptr ? md->md_size : 0;
}

/* see morvane/evp.h */
int EVP_MD_block_size(const EVP_MD* md) {
  return md != nullptr ? md->block_size : 0;
}
