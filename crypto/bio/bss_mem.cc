// Memory streams: a byte queue in a BUF_MEM (writes append, reads take from
// the front), and the read-only variant over caller data made by
// BIO_new_mem_buf, which reads the bytes in place and never writes them.
//
// Implementation notes: a writable stream keeps its unread bytes at the start
// of the buffer (each read moves the rest down); a read-only stream advances
// `data` through the caller's bytes, `max` staying their full size.  Storage
// grows to at least twice its size, so n bytes written in small pieces cost
// O(n) copying; it grows through the clean form (the old block wiped) unless
// the creator marked the stream as holding nothing secret.

#include <climits>
#include <cstring>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/err.h>

#include "bio/internal.h"

namespace {

using morvane::bio::ClearRetry;

BUF_MEM* Buf(BIO* b) {
  return static_cast<BUF_MEM*>(b->ptr);
}
bool ReadOnly(const BIO* b) {
  return (b->flags & BIO_FLAGS_MEM_RDONLY) != 0;
}
bool Wiped(const BIO* b) {
  return (b->flags & morvane::bio::kMemNoWipe) == 0;
}

// The largest length BUF_MEM can grow to: its storage, a third more,
// still fits an int.
constexpr int kMaxGrowth = INT_MAX / 4 * 3 - 3;

// Makes room for `need` bytes (more than `max`): twice the storage when that
// is allowed, else just `need`, with BUF_MEM's third more on top; the length
// stays.  The new storage is not zero-filled (the caller writes it at once,
// and BUF_MEM_grow fills whatever it later exposes); the old block is wiped
// on the way unless the stream holds nothing secret.  1, or 0 with the error
// queued as BUF_MEM_grow would queue it.
int Reserve(BIO* b, BUF_MEM* bm, int need) {
  int target = need;
  if (need <= kMaxGrowth && bm->max > target / 2)
    target = bm->max > kMaxGrowth / 2 ? kMaxGrowth : 2 * bm->max;
  const bool wiped = Wiped(b);
  const size_t n = (static_cast<size_t>(target) + 3) / 3 * 4;
  char* grown = nullptr;
  if (n <= INT_MAX) {
    if (bm->data == nullptr)
      grown = static_cast<char*>(MORVANE_malloc(n));
    else if (wiped)
      grown = static_cast<char*>(MORVANE_realloc_clean(bm->data, bm->max, n));
    else
      grown = static_cast<char*>(MORVANE_realloc(bm->data, n));
  }
  if (grown == nullptr) {
    BUFerr(wiped ? BUF_F_BUF_MEM_GROW_CLEAN : BUF_F_BUF_MEM_GROW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  bm->data = grown;
  bm->max = static_cast<int>(n);
  return 1;
}

int mem_new(BIO* b) {
  BUF_MEM* bm = BUF_MEM_new();
  if (bm == nullptr) return 0;
  b->shutdown = 1;
  b->init = 1;
  b->num = -1;
  b->ptr = bm;
  return 1;
}

int mem_free(BIO* b) {
  if (b == nullptr) return 0;
  if (b->shutdown && b->init && b->ptr != nullptr) {
    BUF_MEM* bm = Buf(b);
    if (ReadOnly(b)) {
      bm->data = nullptr;  // the caller's bytes stay
    } else if (!Wiped(b)) {
      MORVANE_free(bm->data);  // nothing secret: no wipe
      bm->data = nullptr;
    }
    BUF_MEM_free(bm);
    b->ptr = nullptr;
  }
  return 1;
}

int mem_read(BIO* b, char* out, int outl) {
  BUF_MEM* bm = Buf(b);
  ClearRetry(b);
  int n = outl > bm->length ? bm->length : outl;
  if (n < 0) n = 0;  // a negative length reads nothing
  if (out != nullptr && n > 0) {
    memcpy(out, bm->data, static_cast<size_t>(n));
    bm->length -= n;
    if (ReadOnly(b)) {
      bm->data += n;
    } else if (bm->length > 0) {
      memmove(bm->data, bm->data + n, static_cast<size_t>(bm->length));
    }
    return n;
  }
  if (bm->length == 0) {
    n = b->num;
    if (n != 0) BIO_set_retry_read(b);
  }
  return n;
}

int mem_write(BIO* b, const char* in, int inl) {
  if (in == nullptr) {
    BIOerr(BIO_F_MEM_WRITE, BIO_R_NULL_PARAMETER);
    return -1;
  }
  if (ReadOnly(b)) {
    BIOerr(BIO_F_MEM_WRITE, BIO_R_WRITE_TO_READ_ONLY_BIO);
    return -1;
  }
  // A negative length would shrink the buffer and then reach the copy.
  if (inl < 0) {
    BIOerr(BIO_F_MEM_WRITE, BIO_R_INVALID_ARGUMENT);
    return -1;
  }
  ClearRetry(b);
  BUF_MEM* bm = Buf(b);
  int old = bm->length;
  if (inl > INT_MAX - old) {
    BIOerr(BIO_F_MEM_WRITE, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  if (old + inl > bm->max && !Reserve(b, bm, old + inl)) return -1;
  // Within the storage now; the new bytes are written at once, so there is
  // no zero fill first.
  if (inl > 0) memcpy(bm->data + old, in, static_cast<size_t>(inl));
  bm->length = old + inl;
  return inl;
}

int mem_puts(BIO* b, const char* str) {
  return mem_write(b, str, static_cast<int>(strlen(str)));
}

int mem_gets(BIO* b, char* buf, int size) {
  ClearRetry(b);
  if (size <= 0) return 0;  // no room even for the terminator
  BUF_MEM* bm = Buf(b);
  int j = bm->length < size - 1 ? bm->length : size - 1;
  if (j <= 0) {
    *buf = '\0';
    return 0;
  }
  const char* nl = static_cast<const char*>(memchr(bm->data, '\n', static_cast<size_t>(j)));
  if (nl != nullptr) j = static_cast<int>(nl - bm->data) + 1;
  int ret = mem_read(b, buf, j);
  if (ret > 0) buf[ret] = '\0';
  return ret;
}

long mem_ctrl(BIO* b, int cmd, long num, void* ptr) {
  BUF_MEM* bm = Buf(b);
  switch (cmd) {
    case BIO_CTRL_RESET:
      if (bm->data != nullptr) {
        if (ReadOnly(b)) {
          // Back to the start of the caller's bytes: everything reads again.
          bm->data -= bm->max - bm->length;
          bm->length = bm->max;
        } else {
          memset(bm->data, 0, static_cast<size_t>(bm->max));
          bm->length = 0;
        }
      }
      return 1;
    case BIO_CTRL_EOF:
      return bm->length == 0;
    case BIO_C_SET_BUF_MEM_EOF_RETURN:
      b->num = static_cast<int>(num);
      return 1;
    case BIO_CTRL_INFO:
      if (ptr != nullptr) *static_cast<char**>(ptr) = bm->data;
      return bm->length;
    case BIO_C_SET_BUF_MEM:
      if (ptr == nullptr) return 0;  // the stream always needs a buffer
      mem_free(b);
      b->shutdown = static_cast<int>(num);
      b->ptr = ptr;
      return 1;
    case BIO_C_GET_BUF_MEM_PTR:
      if (ptr != nullptr) *static_cast<BUF_MEM**>(ptr) = bm;
      return 1;
    case BIO_CTRL_GET_CLOSE:
      return b->shutdown;
    case BIO_CTRL_SET_CLOSE:
      b->shutdown = static_cast<int>(num);
      return 1;
    case BIO_CTRL_PENDING:
      return bm->length;
    case BIO_CTRL_WPENDING:
      return 0;
    case BIO_CTRL_DUP:
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      return 0;
  }
}

constinit BIO_METHOD mem_method = {
    BIO_TYPE_MEM, "memory buffer", mem_write, mem_read, mem_puts,
    mem_gets,     mem_ctrl,        mem_new,   mem_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_mem(void) {
  return &mem_method;
}

/* see morvane/bio.h */
BIO* BIO_new_mem_buf(void* buf, int len) {
  if (buf == nullptr) {
    BIOerr(BIO_F_BIO_NEW_MEM_BUF, BIO_R_NULL_PARAMETER);
    return nullptr;
  }
  // -1 is the only length with a meaning below 0; a text of more than
  // INT_MAX bytes has no length the stream can hold.
  const size_t n = len == -1 ? strlen(static_cast<const char*>(buf)) : 0;
  if (len < -1 || n > INT_MAX) {
    BIOerr(BIO_F_BIO_NEW_MEM_BUF, BIO_R_INVALID_ARGUMENT);
    return nullptr;
  }
  if (len == -1) len = static_cast<int>(n);
  BIO* ret = BIO_new(BIO_s_mem());
  if (ret == nullptr) return nullptr;
  BUF_MEM* bm = Buf(ret);
  bm->data = static_cast<char*>(buf);
  bm->length = len;
  bm->max = len;
  ret->flags |= BIO_FLAGS_MEM_RDONLY;
  ret->num = 0;  // the end of the data reads as end of file, not as a retry
  return ret;
}
