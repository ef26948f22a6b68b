// Compression contexts: a method table and four byte counters, with the
// block calls that dispatch to the method.

#include <limits.h>
#include <string.h>

#include <morvane/comp.h>
#include <morvane/crypto.h>

/* see morvane/comp.h */
COMP_CTX* COMP_CTX_new(COMP_METHOD* meth) {
  if (meth == nullptr) return nullptr;
  auto* ctx = static_cast<COMP_CTX*>(MORVANE_malloc(sizeof(COMP_CTX)));
  if (ctx == nullptr) return nullptr;
  memset(ctx, 0, sizeof(*ctx));
  ctx->meth = meth;
  if (meth->init != nullptr && !meth->init(ctx)) {
    MORVANE_free(ctx);
    return nullptr;
  }
  return ctx;
}

/* see morvane/comp.h */
void COMP_CTX_free(COMP_CTX* ctx) {
  if (ctx == nullptr) return;
  if (ctx->meth->finish != nullptr) ctx->meth->finish(ctx);
  MORVANE_free(ctx);
}

/* see morvane/comp.h */
int COMP_compress_block(COMP_CTX* ctx, unsigned char* out, int olen, unsigned char* in, int ilen) {
  if (ctx->meth->compress == nullptr || olen < 0 || ilen < 0) return -1;
  const int ret = ctx->meth->compress(ctx, out, static_cast<unsigned int>(olen), in,
                                      static_cast<unsigned int>(ilen));
  if (ret > 0) {
    ctx->compress_in += static_cast<unsigned long>(ilen);
    ctx->compress_out += static_cast<unsigned long>(ret);
  }
  return ret;
}

/* see morvane/comp.h */
int COMP_expand_block(COMP_CTX* ctx, unsigned char* out, int olen, unsigned char* in, int ilen) {
  if (ctx->meth->expand == nullptr || olen < 0 || ilen < 0) return -1;
  const int ret = ctx->meth->expand(ctx, out, static_cast<unsigned int>(olen), in,
                                    static_cast<unsigned int>(ilen));
  if (ret > 0) {
    ctx->expand_in += static_cast<unsigned long>(ilen);
    ctx->expand_out += static_cast<unsigned long>(ret);
  }
  return ret;
}
