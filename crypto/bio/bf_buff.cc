// The buffer filter: an input and an output buffer in front of the next
// stream, so that many small reads and writes become few large ones, and
// lines read out of the input buffer.
//
// Implementation notes: new output always goes right behind the waiting
// bytes (obuf_off + obuf_len); the room in front of obuf_off is used again
// only once the buffer has been emptied.  Transfers larger than a buffer go
// straight between the caller's memory and the next stream once the buffered
// bytes are out of the way.

#include <stddef.h>
#include <string.h>

#include <algorithm>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bio/internal.h"

static_assert(offsetof(BIO_F_BUFFER_CTX, ibuf_size) == 0);
static_assert(offsetof(BIO_F_BUFFER_CTX, obuf_size) == 4);
static_assert(offsetof(BIO_F_BUFFER_CTX, ibuf) == 8);
static_assert(offsetof(BIO_F_BUFFER_CTX, ibuf_len) == 16);
static_assert(offsetof(BIO_F_BUFFER_CTX, ibuf_off) == 20);
static_assert(offsetof(BIO_F_BUFFER_CTX, obuf) == 24);
static_assert(offsetof(BIO_F_BUFFER_CTX, obuf_len) == 32);
static_assert(offsetof(BIO_F_BUFFER_CTX, obuf_off) == 36);
static_assert(sizeof(BIO_F_BUFFER_CTX) == 40);

namespace {

using morvane::bio::ClearRetry;
using morvane::bio::Forward;
using morvane::bio::StopResult;

constexpr int kDefaultSize = 4096;  // both buffers; resizing never goes below

BIO_F_BUFFER_CTX* Ctx(BIO* b) { return static_cast<BIO_F_BUFFER_CTX*>(b->ptr); }

int buffer_new(BIO* b) {
  auto* ctx = static_cast<BIO_F_BUFFER_CTX*>(MORVANE_malloc(sizeof(BIO_F_BUFFER_CTX)));
  char* ibuf = ctx != nullptr ? static_cast<char*>(MORVANE_malloc(kDefaultSize)) : nullptr;
  char* obuf = ibuf != nullptr ? static_cast<char*>(MORVANE_malloc(kDefaultSize)) : nullptr;
  if (obuf == nullptr) {
    MORVANE_free(ibuf);
    MORVANE_free(ctx);
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  ctx->ibuf = ibuf;
  ctx->obuf = obuf;
  ctx->ibuf_size = kDefaultSize;
  ctx->obuf_size = kDefaultSize;
  ctx->ibuf_len = ctx->ibuf_off = 0;
  ctx->obuf_len = ctx->obuf_off = 0;
  return morvane::bio::AttachState(b, ctx);
}

int buffer_free(BIO* b) {
  if (b == nullptr) return 0;
  BIO_F_BUFFER_CTX* ctx = Ctx(b);
  if (ctx != nullptr) {
    MORVANE_free(ctx->ibuf);
    MORVANE_free(ctx->obuf);
    MORVANE_free(ctx);
  }
  return morvane::bio::DetachState(b);
}

int buffer_read(BIO* b, char* out, int outl) {
  BIO_F_BUFFER_CTX* ctx = Ctx(b);
  if (out == nullptr || ctx == nullptr || b->next_bio == nullptr) return 0;
  ClearRetry(b);
  if (outl <= 0) return 0;
  int moved = 0;
  for (;;) {
    if (ctx->ibuf_len > 0) {
      int n = std::min(ctx->ibuf_len, outl);
      memcpy(out, ctx->ibuf + ctx->ibuf_off, static_cast<size_t>(n));
      ctx->ibuf_off += n;
      ctx->ibuf_len -= n;
      moved += n;
      if (n == outl) return moved;
      out += n;
      outl -= n;
    }
    if (outl > ctx->ibuf_size) {
      // Too big for the buffer: straight into the caller's memory.
      for (;;) {
        int r = BIO_read(b->next_bio, out, outl);
        if (r <= 0) return StopResult(b, r, moved);
        r = std::min(r, outl);
        moved += r;
        if (r == outl) return moved;
        out += r;
        outl -= r;
      }
    }
    int r = BIO_read(b->next_bio, ctx->ibuf, ctx->ibuf_size);
    if (r <= 0) return StopResult(b, r, moved);
    ctx->ibuf_off = 0;
    ctx->ibuf_len = std::min(r, ctx->ibuf_size);
  }
}

int buffer_write(BIO* b, const char* in, int inl) {
  BIO_F_BUFFER_CTX* ctx = Ctx(b);
  if (in == nullptr || inl <= 0 || ctx == nullptr || b->next_bio == nullptr) return 0;
  ClearRetry(b);
  int moved = 0;
  for (;;) {
    int room = ctx->obuf_size - (ctx->obuf_off + ctx->obuf_len);
    if (inl <= room) {
      memcpy(ctx->obuf + ctx->obuf_off + ctx->obuf_len, in, static_cast<size_t>(inl));
      ctx->obuf_len += inl;
      return moved + inl;
    }
    if (ctx->obuf_len != 0) {
      // Fill the buffer up, then send all of it.
      if (room > 0) {
        memcpy(ctx->obuf + ctx->obuf_off + ctx->obuf_len, in, static_cast<size_t>(room));
        in += room;
        inl -= room;
        moved += room;
        ctx->obuf_len += room;
      }
      while (ctx->obuf_len > 0) {
        int r = BIO_write(b->next_bio, ctx->obuf + ctx->obuf_off, ctx->obuf_len);
        if (r <= 0) return StopResult(b, r, moved);
        r = std::min(r, ctx->obuf_len);
        ctx->obuf_off += r;
        ctx->obuf_len -= r;
      }
    }
    ctx->obuf_off = 0;
    // At least a buffer's worth: straight from the caller's memory.
    while (inl >= ctx->obuf_size) {
      int r = BIO_write(b->next_bio, in, inl);
      if (r <= 0) return StopResult(b, r, moved);
      r = std::min(r, inl);
      moved += r;
      in += r;
      inl -= r;
      if (inl == 0) return moved;
    }
  }
}

int buffer_gets(BIO* b, char* buf, int size) {
  BIO_F_BUFFER_CTX* ctx = Ctx(b);
  ClearRetry(b);
  if (buf == nullptr || size < 1 || ctx == nullptr) return 0;
  int room = size - 1;  // the NUL always fits
  int moved = 0;
  for (;;) {
    if (ctx->ibuf_len > 0) {
      const char* p = ctx->ibuf + ctx->ibuf_off;
      int n = 0;
      bool newline = false;
      while (n < ctx->ibuf_len && n < room) {
        char c = p[n++];
        *buf++ = c;
        if (c == '\n') {
          newline = true;
          break;
        }
      }
      moved += n;
      room -= n;
      ctx->ibuf_len -= n;
      ctx->ibuf_off += n;
      if (newline || room == 0) {
        *buf = '\0';
        return moved;
      }
    } else {
      // Without a next stream the buffered lines are all there is.
      if (b->next_bio == nullptr) {
        *buf = '\0';
        return moved;
      }
      int r = BIO_read(b->next_bio, ctx->ibuf, ctx->ibuf_size);
      if (r <= 0) {
        *buf = '\0';
        return StopResult(b, r, moved);
      }
      ctx->ibuf_len = std::min(r, ctx->ibuf_size);
      ctx->ibuf_off = 0;
    }
  }
}

int buffer_puts(BIO* b, const char* str) {
  return buffer_write(b, str, morvane::bio::PutsLength(str));
}

long buffer_flush(BIO* b, BIO_F_BUFFER_CTX* ctx, int cmd, long num, void* ptr) {
  if (b->next_bio == nullptr) return 0;
  if (ctx->obuf_len <= 0) return Forward(b, cmd, num, ptr);
  for (;;) {
    ClearRetry(b);
    if (ctx->obuf_len == 0) {
      ctx->obuf_off = 0;
      return Forward(b, cmd, num, ptr);
    }
    int r = BIO_write(b->next_bio, ctx->obuf + ctx->obuf_off, ctx->obuf_len);
    BIO_copy_next_retry(b);
    if (r <= 0) return r;
    r = std::min(r, ctx->obuf_len);
    ctx->obuf_off += r;
    ctx->obuf_len -= r;
  }
}

char* NewBuffer(long size) { return morvane::bio::NewFilterBuffer(size, BIO_F_BUFFER_CTRL); }

// BIO_C_SET_BUFF_SIZE: `selector` null for both buffers, else points to 0 for
// the input buffer or anything else for the output buffer.  A buffer is only
// ever replaced by a larger-than-default one of a new size, which drops what
// it held.
long buffer_resize(BIO_F_BUFFER_CTX* ctx, long num, const int* selector) {
  bool input = selector == nullptr || *selector == 0;
  bool output = selector == nullptr || *selector != 0;
  char* ibuf = nullptr;
  char* obuf = nullptr;
  if (input && num > kDefaultSize && num != ctx->ibuf_size) {
    if ((ibuf = NewBuffer(num)) == nullptr) return 0;
  }
  if (output && num > kDefaultSize && num != ctx->obuf_size) {
    if ((obuf = NewBuffer(num)) == nullptr) {
      MORVANE_free(ibuf);
      return 0;
    }
  }
  if (ibuf != nullptr) {
    MORVANE_free(ctx->ibuf);
    ctx->ibuf = ibuf;
    ctx->ibuf_off = ctx->ibuf_len = 0;
    ctx->ibuf_size = static_cast<int>(num);
  }
  if (obuf != nullptr) {
    MORVANE_free(ctx->obuf);
    ctx->obuf = obuf;
    ctx->obuf_off = ctx->obuf_len = 0;
    ctx->obuf_size = static_cast<int>(num);
  }
  return 1;
}

// BIO_C_SET_BUFF_READ_DATA: the `num` bytes at `data` become the unread
// input, in place of what was there.
long buffer_set_read_data(BIO_F_BUFFER_CTX* ctx, long num, const void* data) {
  if (num < 0 || (num > 0 && data == nullptr)) return 0;
  if (num > ctx->ibuf_size) {
    char* p = NewBuffer(num);
    if (p == nullptr) return 0;
    MORVANE_free(ctx->ibuf);
    ctx->ibuf = p;
    ctx->ibuf_size = static_cast<int>(num);
  }
  ctx->ibuf_off = 0;
  ctx->ibuf_len = static_cast<int>(num);
  if (num > 0) memcpy(ctx->ibuf, data, static_cast<size_t>(num));
  return 1;
}

long buffer_ctrl(BIO* b, int cmd, long num, void* ptr) {
  BIO_F_BUFFER_CTX* ctx = Ctx(b);
  if (ctx == nullptr) return 0;
  switch (cmd) {
    case BIO_CTRL_RESET:
      ctx->ibuf_off = ctx->ibuf_len = 0;
      ctx->obuf_off = ctx->obuf_len = 0;
      return Forward(b, cmd, num, ptr);
    case BIO_CTRL_INFO:
      return ctx->obuf_len;
    case BIO_CTRL_EOF:
      // Buffered bytes, either way, are no end.
      return ctx->ibuf_len != 0 || ctx->obuf_len != 0 ? 0 : Forward(b, cmd, num, ptr);
    case BIO_CTRL_PENDING:
      return ctx->ibuf_len != 0 ? ctx->ibuf_len : Forward(b, cmd, num, ptr);
    case BIO_CTRL_WPENDING:
      return ctx->obuf_len != 0 ? ctx->obuf_len : Forward(b, cmd, num, ptr);
    case BIO_CTRL_FLUSH:
      return buffer_flush(b, ctx, cmd, num, ptr);
    case BIO_CTRL_DUP: {
      BIO* copy = static_cast<BIO*>(ptr);
      return BIO_int_ctrl(copy, BIO_C_SET_BUFF_SIZE, ctx->ibuf_size, 0) != 0 &&
                     BIO_int_ctrl(copy, BIO_C_SET_BUFF_SIZE, ctx->obuf_size, 1) != 0
                 ? 1
                 : 0;
    }
    case BIO_C_DO_STATE_MACHINE:
      return morvane::bio::ForwardStateMachine(b, cmd, num, ptr);
    case BIO_C_GET_BUFF_NUM_LINES:
      return std::count(ctx->ibuf + ctx->ibuf_off, ctx->ibuf + ctx->ibuf_off + ctx->ibuf_len, '\n');
    case BIO_C_SET_BUFF_SIZE:
      return buffer_resize(ctx, num, static_cast<const int*>(ptr));
    case BIO_C_SET_BUFF_READ_DATA:
      return buffer_set_read_data(ctx, num, ptr);
    default:
      return Forward(b, cmd, num, ptr);
  }
}

long buffer_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return morvane::bio::ForwardCallbackCtrl(b, cmd, fp);
}

constinit BIO_METHOD methods_buffer = {
    BIO_TYPE_BUFFER, "buffer",   buffer_write, buffer_read,  buffer_puts,
    buffer_gets,     buffer_ctrl, buffer_new,  buffer_free, buffer_callback_ctrl,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_f_buffer(void) { return &methods_buffer; }
