// The line-buffer filter: output is held until a line (up to and including a
// newline) is complete and then passed on, joined to any held text before it,
// so the next stream sees one write per line where the capacity allows.
// Reads pass straight through.
//
// Implementation notes: the held bytes always start at obuf[0].  The filter
// never holds more than its capacity and never drops a byte it has counted as
// accepted: bytes joined to the held text stay held when the next stream
// refuses them, and a long tail without newline that the next stream takes
// only in part is offered again until the rest fits.

#include <string.h>

#include <algorithm>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bio/internal.h"

namespace {

using morvane::bio::ClearRetry;
using morvane::bio::Forward;
using morvane::bio::PassOn;
using morvane::bio::StopResult;

constexpr int kDefaultSize = 10240;  // resizing never goes below

struct BIO_LINEBUFFER_CTX {
  char* obuf;  // held output, from obuf[0]
  int obuf_size;
  int obuf_len;
};

BIO_LINEBUFFER_CTX* Ctx(BIO* b) { return static_cast<BIO_LINEBUFFER_CTX*>(b->ptr); }

int linebuffer_new(BIO* b) {
  auto* ctx = static_cast<BIO_LINEBUFFER_CTX*>(MORVANE_malloc(sizeof(BIO_LINEBUFFER_CTX)));
  char* obuf = ctx != nullptr ? static_cast<char*>(MORVANE_malloc(kDefaultSize)) : nullptr;
  if (obuf == nullptr) {
    MORVANE_free(ctx);
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  ctx->obuf = obuf;
  ctx->obuf_size = kDefaultSize;
  ctx->obuf_len = 0;
  return morvane::bio::AttachState(b, ctx);
}

int linebuffer_free(BIO* b) {
  if (b == nullptr) return 0;
  BIO_LINEBUFFER_CTX* ctx = Ctx(b);
  if (ctx != nullptr) {
    MORVANE_free(ctx->obuf);
    MORVANE_free(ctx);
  }
  return morvane::bio::DetachState(b);
}

// Takes the first n held bytes away (they were written).
void DropHeld(BIO_LINEBUFFER_CTX* ctx, int n) {
  n = std::min(n, ctx->obuf_len);
  memmove(ctx->obuf, ctx->obuf + n, static_cast<size_t>(ctx->obuf_len - n));
  ctx->obuf_len -= n;
}

int linebuffer_write(BIO* b, const char* in, int inl) {
  BIO_LINEBUFFER_CTX* ctx = Ctx(b);
  if (in == nullptr || inl <= 0 || ctx == nullptr || b->next_bio == nullptr) return 0;
  ClearRetry(b);
  int moved = 0;
  for (;;) {
    const void* nl = memchr(in, '\n', static_cast<size_t>(inl));
    bool found = nl != nullptr;
    // The line up to and including its newline, or the whole tail.
    int line = found ? static_cast<int>(static_cast<const char*>(nl) - in) + 1 : inl;

    // Held text goes first: joined to the line (or filled up by a tail too
    // long for the room) and sent, until nothing is held.
    while ((found || line > ctx->obuf_size - ctx->obuf_len) && ctx->obuf_len > 0) {
      int room = ctx->obuf_size - ctx->obuf_len;
      if (line > 0) {
        int n = std::min(line, room);
        memcpy(ctx->obuf + ctx->obuf_len, in, static_cast<size_t>(n));
        ctx->obuf_len += n;
        in += n;
        inl -= n;
        line -= n;
        moved += n;
      }
      int r = BIO_write(b->next_bio, ctx->obuf, ctx->obuf_len);
      // What was joined stays held (and counted) for the next write or flush.
      if (r <= 0) return StopResult(b, r, moved);
      DropHeld(ctx, r);
    }

    // Nothing is held now, or the rest fits behind it: a complete line, or a
    // tail larger than the whole buffer, goes straight from the caller.
    if ((found || line > ctx->obuf_size) && line > 0) {
      int r = BIO_write(b->next_bio, in, line);
      if (r <= 0) return StopResult(b, r, moved);
      r = std::min(r, line);
      moved += r;
      in += r;
      inl -= r;
    }
    if (inl == 0) return moved;
    if (!found && inl <= ctx->obuf_size - ctx->obuf_len) break;  // the tail fits
  }
  memcpy(ctx->obuf + ctx->obuf_len, in, static_cast<size_t>(inl));
  ctx->obuf_len += inl;
  return moved + inl;
}

int linebuffer_read(BIO* b, char* out, int outl) {
  if (out == nullptr || b->next_bio == nullptr) return 0;
  return PassOn(b, BIO_read(b->next_bio, out, outl));
}

int linebuffer_gets(BIO* b, char* buf, int size) {
  if (b->next_bio == nullptr) return 0;
  return PassOn(b, BIO_gets(b->next_bio, buf, size));
}

int linebuffer_puts(BIO* b, const char* str) {
  return linebuffer_write(b, str, morvane::bio::PutsLength(str));
}

long linebuffer_flush(BIO* b, BIO_LINEBUFFER_CTX* ctx, int cmd, long num, void* ptr) {
  if (b->next_bio == nullptr) return 0;
  if (ctx->obuf_len <= 0) return Forward(b, cmd, num, ptr);
  for (;;) {
    ClearRetry(b);
    if (ctx->obuf_len <= 0) {
      ctx->obuf_len = 0;
      return Forward(b, cmd, num, ptr);
    }
    int r = BIO_write(b->next_bio, ctx->obuf, ctx->obuf_len);
    BIO_copy_next_retry(b);
    if (r <= 0) return r;
    DropHeld(ctx, r);
  }
}

// BIO_C_SET_BUFF_SIZE: a capacity above the default replaces the buffer; the
// held bytes move over, and a capacity below them is raised to hold them all.
long linebuffer_resize(BIO_LINEBUFFER_CTX* ctx, long num) {
  if (num <= kDefaultSize || num == ctx->obuf_size) return 1;
  num = std::max(num, static_cast<long>(ctx->obuf_len));
  char* p = morvane::bio::NewFilterBuffer(num, BIO_F_LINEBUFFER_CTRL);
  if (p == nullptr) return 0;
  int size = static_cast<int>(num);
  memcpy(p, ctx->obuf, static_cast<size_t>(ctx->obuf_len));
  MORVANE_free(ctx->obuf);
  ctx->obuf = p;
  ctx->obuf_size = size;
  return 1;
}

long linebuffer_ctrl(BIO* b, int cmd, long num, void* ptr) {
  BIO_LINEBUFFER_CTX* ctx = Ctx(b);
  if (ctx == nullptr) return 0;
  switch (cmd) {
    case BIO_CTRL_RESET:
      ctx->obuf_len = 0;
      return Forward(b, cmd, num, ptr);
    case BIO_CTRL_INFO:
      return ctx->obuf_len;
    case BIO_CTRL_EOF:
      return ctx->obuf_len != 0 ? 0 : Forward(b, cmd, num, ptr);  // held output is no end
    case BIO_CTRL_WPENDING:
      return ctx->obuf_len != 0 ? ctx->obuf_len : Forward(b, cmd, num, ptr);
    case BIO_CTRL_FLUSH:
      return linebuffer_flush(b, ctx, cmd, num, ptr);
    case BIO_CTRL_DUP:
      return BIO_int_ctrl(static_cast<BIO*>(ptr), BIO_C_SET_BUFF_SIZE, ctx->obuf_size, 1) != 0 ? 1
                                                                                               : 0;
    case BIO_C_DO_STATE_MACHINE:
      return morvane::bio::ForwardStateMachine(b, cmd, num, ptr);
    case BIO_C_SET_BUFF_SIZE:
      return linebuffer_resize(ctx, num);
    default:
      return Forward(b, cmd, num, ptr);
  }
}

long linebuffer_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return morvane::bio::ForwardCallbackCtrl(b, cmd, fp);
}

constinit BIO_METHOD methods_linebuffer = {
    BIO_TYPE_LINEBUFFER, "linebuffer",     linebuffer_write, linebuffer_read,
    linebuffer_puts,     linebuffer_gets,  linebuffer_ctrl,  linebuffer_new,
    linebuffer_free,     linebuffer_callback_ctrl,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_f_linebuffer(void) { return &methods_linebuffer; }
