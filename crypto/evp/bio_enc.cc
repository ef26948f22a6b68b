// The cipher filter: encrypts (or decrypts) what is written through it and
// what is read through it with one EVP_CIPHER_CTX, set up by BIO_set_cipher.
//
// Implementation notes: data moves in pieces of at most 4096 bytes; the
// processed output of a piece waits in buf until the next stream took it.
// Writing needs a flush for the final (padded) block; reading produces it at
// the source's end, and its success is kept in `ok` (BIO_C_GET_CIPHER_STATUS).
// The filter queues no errors: what the envelope queues for a failed final
// block is taken off again (the update calls queue nothing of their own, so
// they run without that cost), the results and `ok` report it.  BIO_eof is 1
// only once nothing is held and the source's end was read (or the source
// says it is at its end and no final block is to come): a source at its end
// behind a filter that still holds data is no end of the filter's data.

#include <limits.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "evp/internal.h"
#include "internal/err_mark.h"
#include "internal/wipe.h"

namespace {

constexpr int kPiece = 4096;

struct EncCtx {
  int buf_len;   // bytes of processed data in buf
  int buf_off;   // bytes of buf already delivered or written on
  int cont;      // 1 while the source may deliver more, else its last result
  int finished;  // the final block was produced (writing)
  int ok;        // 0 once the final block (or an update) failed
  EVP_CIPHER_CTX cipher;
  // Processed output: a piece and up to two blocks more.
  unsigned char buf[kPiece + 2 * EVP_MAX_BLOCK_LENGTH + 2];
  unsigned char raw[kPiece];  // input read from the next stream
};

BIO_METHOD* enc_method();

EncCtx* state(BIO* b) {
  return static_cast<EncCtx*>(b->ptr);
}

int enc_new(BIO* b) {
  auto* ctx = static_cast<EncCtx*>(MORVANE_malloc(sizeof(EncCtx)));
  if (ctx == nullptr) {
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  memset(ctx, 0, sizeof(*ctx));
  EVP_CIPHER_CTX_init(&ctx->cipher);
  ctx->cont = 1;
  ctx->ok = 1;
  b->init = 0;
  b->ptr = ctx;
  b->flags = 0;
  return 1;
}

int enc_free(BIO* b) {
  if (b == nullptr) return 0;
  if (auto* ctx = state(b)) {
    EVP_CIPHER_CTX_cleanup(&ctx->cipher);
    morvane::internal::wipe(ctx, sizeof(EncCtx));
    MORVANE_free(ctx);
  }
  b->ptr = nullptr;
  b->init = 0;
  b->flags = 0;
  return 1;
}

// The envelope call `op` with whatever it queues taken off again.
template <class Op>
int quietly(Op op) {
  morvane::internal::ErrorMark mark;
  const int r = op();
  mark.pop();
  return r;
}

// A filter marked initialised through BIO_C_GET_CIPHER_CTX may still have
// no cipher: it moves nothing.
bool has_cipher(const EncCtx* ctx) {
  return ctx != nullptr && ctx->cipher.cipher != nullptr;
}

// Whether the filter has nothing more to give of its own: no processed
// bytes waiting, no input held in the cipher (an incomplete block, or the
// last block a decryption holds back), and no final block to come (the end
// of the source was read, the writer was flushed, or the cipher makes none).
bool holds_nothing(const EncCtx* ctx) {
  if (ctx->buf_len > ctx->buf_off) return false;
  if (ctx->cont <= 0 || ctx->finished || !has_cipher(ctx)) return true;
  const EVP_CIPHER_CTX& c = ctx->cipher;
  return c.buf_len == 0 && !c.final_used &&
         (c.cipher->block_size == 1 || (c.flags & EVP_CIPH_NO_PADDING) != 0);
}

int enc_read(BIO* b, char* out, int outl) {
  EncCtx* ctx = state(b);
  // No room: nothing is read, and the count says so.
  if (out == nullptr || outl <= 0 || !has_cipher(ctx) || b->next_bio == nullptr) return 0;
  const morvane::evp::Pending pending{ctx->buf, ctx->buf_off, ctx->buf_len};
  int ret = pending.deliver(out, outl);
  bool waiting = false;
  while (outl > 0 && ctx->cont > 0) {
    int i = BIO_read(b->next_bio, ctx->raw, kPiece);
    ctx->buf_off = 0;
    if (i <= 0) {
      if (BIO_should_retry(b->next_bio)) {
        // Nothing now: the source's own result, never the filter's state
        // (and never an end).
        if (ret == 0) ret = i < 0 ? i : -1;
        waiting = true;
        break;
      }
      // The source's end: the final block.
      ctx->cont = i;
      ctx->ok = quietly([&] { return EVP_CipherFinal_ex(&ctx->cipher, ctx->buf, &ctx->buf_len); });
      if (ctx->ok <= 0) ctx->buf_len = 0;
    } else {
      ctx->cont = 1;
      if (!EVP_CipherUpdate(&ctx->cipher, ctx->buf, &ctx->buf_len, ctx->raw, i)) {
        ctx->ok = 0;
        ctx->cont = -1;
        ctx->buf_len = 0;
        break;
      }
      if (ctx->buf_len == 0) continue;  // a held-back last block
    }
    const int moved = pending.deliver(out, outl);
    if (moved == 0) break;
    ret += moved;
  }
  BIO_clear_retry_flags(b);
  BIO_copy_next_retry(b);
  return ret == 0 && !waiting ? ctx->cont : ret;
}

int enc_write(BIO* b, const char* data, int inl) {
  EncCtx* ctx = state(b);
  if (!has_cipher(ctx) || b->next_bio == nullptr) return 0;
  BIO_clear_retry_flags(b);
  const morvane::evp::Pending pending{ctx->buf, ctx->buf_off, ctx->buf_len};
  int result = 0;
  if (!pending.drain(b, &result)) return result;
  if (data == nullptr || inl <= 0) return 0;
  auto in = reinterpret_cast<const unsigned char*>(data);
  int taken = 0;
  while (taken < inl) {
    const int n = inl - taken > kPiece ? kPiece : inl - taken;
    ctx->buf_off = 0;
    if (!EVP_CipherUpdate(&ctx->cipher, ctx->buf, &ctx->buf_len, in + taken, n)) {
      ctx->ok = 0;
      ctx->buf_len = 0;
      return taken == 0 ? -1 : taken;
    }
    taken += n;
    if (!pending.drain(b, &result)) return taken;  // the rest of the output waits in buf
  }
  BIO_copy_next_retry(b);
  return inl;
}

// A copy of `from` in `to` with its own key state and engine reference.
bool copy_cipher(EVP_CIPHER_CTX* to, const EVP_CIPHER_CTX* from) {
  const size_t n = from->cipher != nullptr && from->cipher->ctx_size > 0
                       ? static_cast<size_t>(from->cipher->ctx_size)
                       : 0;
  void* data = nullptr;
  if (from->cipher_data != nullptr && n != 0) {
    data = MORVANE_malloc(n);
    if (data == nullptr) return false;
    memcpy(data, from->cipher_data, n);
  }
  if (from->engine != nullptr && !ENGINE_init(from->engine)) {
    if (data != nullptr) {
      morvane::internal::wipe(data, n);
      MORVANE_free(data);
    }
    return false;
  }
  *to = *from;
  to->cipher_data = data;
  return true;
}

long enc_ctrl(BIO* b, int cmd, long num, void* ptr) {
  EncCtx* ctx = state(b);
  if (ctx == nullptr) return 0;
  switch (cmd) {
    case BIO_CTRL_RESET:
      if (b->init) ctx->ok = 1;  // a failed set-up stays failed
      ctx->finished = 0;
      ctx->cont = 1;
      ctx->buf_len = ctx->buf_off = 0;
      if (ctx->cipher.cipher != nullptr)
        quietly([&] {
          return EVP_CipherInit_ex(&ctx->cipher, nullptr, nullptr, nullptr, nullptr,
                                   ctx->cipher.encrypt);
        });
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_EOF:
      // The filter's own end: the source's end is its end only once the
      // filter holds nothing more.
      if (!holds_nothing(ctx)) return 0;
      return ctx->cont <= 0 ? 1 : BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_PENDING:
    case BIO_CTRL_WPENDING:
      if (ctx->buf_len - ctx->buf_off > 0) return ctx->buf_len - ctx->buf_off;
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_FLUSH:
      for (;;) {
        while (ctx->buf_len != ctx->buf_off) {
          const int i = enc_write(b, nullptr, 0);
          if (i < 0) return i;
          if (i == 0 && ctx->buf_len != ctx->buf_off) return 0;  // refused without retry
        }
        if (ctx->finished || !has_cipher(ctx)) break;
        ctx->finished = 1;
        ctx->buf_off = 0;
        ctx->ok =
            quietly([&] { return EVP_CipherFinal_ex(&ctx->cipher, ctx->buf, &ctx->buf_len); });
        if (ctx->ok <= 0) {
          ctx->buf_len = 0;
          return ctx->ok;
        }
      }
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_C_GET_CIPHER_STATUS:
      return ctx->ok;
    case BIO_C_DO_STATE_MACHINE:
      return morvane::evp::forward_state_machine(b, cmd, num, ptr);
    case BIO_C_GET_CIPHER_CTX:
      *static_cast<EVP_CIPHER_CTX**>(ptr) = &ctx->cipher;
      b->init = 1;
      return 1;
    case BIO_CTRL_DUP: {
      auto* dbio = static_cast<BIO*>(ptr);
      EncCtx* dctx = dbio != nullptr && dbio->method == enc_method() ? state(dbio) : nullptr;
      if (dctx == nullptr) return 0;
      EVP_CIPHER_CTX_cleanup(&dctx->cipher);
      if (!copy_cipher(&dctx->cipher, &ctx->cipher)) return 0;
      dbio->init = 1;
      return 1;
    }
    default:
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
  }
}

long enc_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return morvane::evp::forward_callback_ctrl(b, cmd, fp);
}

constinit BIO_METHOD methods_enc = {
    BIO_TYPE_CIPHER, "cipher", enc_write, enc_read, nullptr,
    nullptr,         enc_ctrl, enc_new,   enc_free, enc_callback_ctrl,
};

BIO_METHOD* enc_method() {
  return &methods_enc;
}

}  // namespace

/* see morvane/evp.h */
BIO_METHOD* BIO_f_cipher(void) {
  return &methods_enc;
}

/* see morvane/evp.h */
void BIO_set_cipher(BIO* b, const EVP_CIPHER* c, const unsigned char* k, const unsigned char* i,
                    int enc) {
  if (b == nullptr || b->method != &methods_enc || b->ptr == nullptr) return;
  auto callback = b->callback;
  if (callback != nullptr &&
      callback(b, BIO_CB_CTRL, reinterpret_cast<const char*>(c), BIO_CTRL_SET, enc, 0L) <= 0)
    return;
  EncCtx* ctx = state(b);
  // Usable only when the set-up succeeded: a failed one leaves no cipher
  // for the data calls to run, and its status says so.
  b->init = EVP_CipherInit_ex(&ctx->cipher, c, nullptr, k, i, enc) ? 1 : 0;
  ctx->ok = b->init;
  if (callback != nullptr)
    callback(b, BIO_CB_CTRL, reinterpret_cast<const char*>(c), BIO_CTRL_SET, enc, 1L);
}
