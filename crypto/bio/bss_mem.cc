// Memory streams: a byte queue in a BUF_MEM (writes append, reads take from
// the front), and the read-only variant over caller data made by
// BIO_new_mem_buf, which reads the bytes in place and never writes them.
//
// Implementation notes: a writable stream's record keeps the buffer and a
// read offset: bytes [read, length) are unread, so a read costs what it
// copies.  The read bytes are dropped when a write needs room and at least
// as many bytes were read as are left (the move is paid for by the reads),
// when the stream empties, and before the buffer is shown whole
// (BIO_get_mem_ptr) or handed back to its owner.  A read-only stream
// advances `data` through the caller's bytes instead, `max` staying their
// full size.  Storage grows to at least twice its size, so n bytes written
// in small pieces cost O(n) copying; it grows through the clean form (the
// old block wiped) unless the creator marked the stream as holding nothing
// secret.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/err.h>

#include "bio/internal.h"

namespace {

using morvane::bio::ClearRetry;

// The stream's record (`ptr`).
struct MemStream {
  BUF_MEM* buf;  // never null while the stream lives
  int read;      // bytes of buf already read; 0 on a read-only stream
};

MemStream* State(BIO* b) {
  return static_cast<MemStream*>(b->ptr);
}
bool ReadOnly(const BIO* b) {
  return (b->flags & BIO_FLAGS_MEM_RDONLY) != 0;
}
bool Wiped(const BIO* b) {
  return (b->flags & morvane::bio::kMemNoWipe) == 0;
}

// The largest storage of a BUF_MEM, ((len + 3) / 3) * 4 within an int, and so
// the most a memory stream holds (see BIO_s_mem in morvane/bio.h).
constexpr int kMaxStorage = INT_MAX / 4 * 4;

// Bytes not read yet (a buffer its owner shortened counts as read up to its
// end).
int Unread(const MemStream* s) {
  return s->buf->length > s->read ? s->buf->length - s->read : 0;
}

// Moves the unread bytes to the start of the buffer.
void Compact(MemStream* s) {
  if (s->read == 0) return;
  BUF_MEM* bm = s->buf;
  const int n = Unread(s);
  if (n > 0) memmove(bm->data, bm->data + s->read, static_cast<size_t>(n));
  bm->length = n;
  s->read = 0;
}

// The record, its offset within the buffer (which its owner may have
// shortened); a writable stream made read-only by its user
// (BIO_FLAGS_MEM_RDONLY set afterwards) starts at its first unread byte.
MemStream* Settled(BIO* b) {
  MemStream* s = State(b);
  if (s->read > s->buf->length) s->read = s->buf->length;
  if (s->read != 0 && ReadOnly(b)) Compact(s);
  return s;
}

// Makes room for `need` bytes (more than `max`, at most kMaxStorage): twice
// the storage when that is more, with BUF_MEM's third on top, within
// kMaxStorage; the length stays.  The new storage is not zero-filled (the
// caller writes it at once, and BUF_MEM_grow fills whatever it later
// exposes); the old block is wiped on the way unless the stream holds
// nothing secret.  1, or 0 with the error queued as BUF_MEM_grow would queue
// it.
int Reserve(BIO* b, BUF_MEM* bm, int need) {
  const int64_t target = std::max<int64_t>(need, 2 * static_cast<int64_t>(bm->max));
  const size_t n = static_cast<size_t>(std::min<int64_t>((target + 3) / 3 * 4, kMaxStorage));
  const bool wiped = Wiped(b);
  char* grown;
  if (bm->data == nullptr)
    grown = static_cast<char*>(MORVANE_malloc(n));
  else if (wiped)
    grown = static_cast<char*>(MORVANE_realloc_clean(bm->data, bm->max, n));
  else
    grown = static_cast<char*>(MORVANE_realloc(bm->data, n));
  if (grown == nullptr) {
    BUFerr(wiped ? BUF_F_BUF_MEM_GROW_CLEAN : BUF_F_BUF_MEM_GROW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  bm->data = grown;
  bm->max = static_cast<int>(n);
  return 1;
}

// Lets go of the buffer as the close flag says: freed under BIO_CLOSE (the
// caller's bytes of a read-only stream stay), else left to its owner holding
// just the unread bytes.
void ReleaseBuffer(BIO* b, MemStream* s) {
  BUF_MEM* bm = s->buf;
  s->buf = nullptr;
  if (bm == nullptr) return;
  if (!b->shutdown || !b->init) {
    MemStream kept = {bm, s->read};
    if (!ReadOnly(b)) Compact(&kept);
    return;
  }
  if (ReadOnly(b)) {
    bm->data = nullptr;  // the caller's bytes stay
  } else if (!Wiped(b)) {
    MORVANE_free(bm->data);  // nothing secret: no wipe
    bm->data = nullptr;
  }
  BUF_MEM_free(bm);
}

int mem_new(BIO* b) {
  auto* s = static_cast<MemStream*>(MORVANE_malloc(sizeof(MemStream)));
  if (s == nullptr) {
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  s->buf = BUF_MEM_new();
  s->read = 0;
  if (s->buf == nullptr) {
    MORVANE_free(s);
    return 0;
  }
  b->shutdown = 1;
  b->init = 1;
  b->num = -1;
  b->ptr = s;
  return 1;
}

int mem_free(BIO* b) {
  if (b == nullptr) return 0;
  if (MemStream* s = State(b); s != nullptr) {
    ReleaseBuffer(b, s);
    MORVANE_free(s);
    b->ptr = nullptr;
  }
  return 1;
}

int mem_read(BIO* b, char* out, int outl) {
  MemStream* s = Settled(b);
  BUF_MEM* bm = s->buf;
  ClearRetry(b);
  const int avail = Unread(s);
  int n = outl > avail ? avail : outl;
  if (n < 0) n = 0;  // a negative length reads nothing
  if (out != nullptr && n > 0) {
    memcpy(out, bm->data + s->read, static_cast<size_t>(n));
    if (ReadOnly(b)) {
      bm->data += n;
      bm->length -= n;
    } else if (n == avail) {
      bm->length = 0;  // all read: the buffer starts over
      s->read = 0;
    } else {
      s->read += n;
    }
    return n;
  }
  if (avail == 0) {
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
  MemStream* s = Settled(b);
  BUF_MEM* bm = s->buf;
  if (inl > bm->max - bm->length) {
    const int unread = Unread(s);
    // The stream never grows past kMaxStorage; within its storage a write
    // still fits once the read bytes are dropped.
    if (inl > INT_MAX - unread || (unread + inl > bm->max && unread + inl > kMaxStorage)) {
      BUFerr(Wiped(b) ? BUF_F_BUF_MEM_GROW_CLEAN : BUF_F_BUF_MEM_GROW, BUF_R_SIZE_LIMIT_EXCEEDED);
      return -1;
    }
    if (s->read >= unread || unread + inl > kMaxStorage - s->read) Compact(s);
    if (inl > bm->max - bm->length && !Reserve(b, bm, bm->length + inl)) return -1;
  }
  // Within the storage now; the new bytes are written at once, so there is
  // no zero fill first.
  if (inl > 0) memcpy(bm->data + bm->length, in, static_cast<size_t>(inl));
  bm->length += inl;
  return inl;
}

int mem_puts(BIO* b, const char* str) {
  return mem_write(b, str, static_cast<int>(strlen(str)));
}

int mem_gets(BIO* b, char* buf, int size) {
  ClearRetry(b);
  if (size <= 0) return 0;  // no room even for the terminator
  MemStream* s = Settled(b);
  int j = std::min(Unread(s), size - 1);
  if (j <= 0) {
    *buf = '\0';
    return 0;
  }
  const char* start = s->buf->data + s->read;
  const char* nl = static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(j)));
  if (nl != nullptr) j = static_cast<int>(nl - start) + 1;
  int ret = mem_read(b, buf, j);
  if (ret > 0) buf[ret] = '\0';
  return ret;
}

long mem_ctrl(BIO* b, int cmd, long num, void* ptr) {
  MemStream* s = Settled(b);
  BUF_MEM* bm = s->buf;
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
          s->read = 0;
        }
      }
      return 1;
    case BIO_CTRL_EOF:
      return Unread(s) == 0;
    case BIO_C_SET_BUF_MEM_EOF_RETURN:
      b->num = static_cast<int>(num);
      return 1;
    case BIO_CTRL_INFO:
      if (ptr != nullptr) *static_cast<char**>(ptr) = bm->data + s->read;
      return Unread(s);
    case BIO_C_SET_BUF_MEM:
      if (ptr == nullptr) return 0;  // the stream always needs a buffer
      ReleaseBuffer(b, s);
      b->shutdown = static_cast<int>(num);
      s->buf = static_cast<BUF_MEM*>(ptr);
      s->read = 0;
      return 1;
    case BIO_C_GET_BUF_MEM_PTR:
      if (ptr != nullptr) {
        Compact(s);  // the buffer shows the unread bytes from its start
        *static_cast<BUF_MEM**>(ptr) = bm;
      }
      return 1;
    case BIO_CTRL_GET_CLOSE:
      return b->shutdown;
    case BIO_CTRL_SET_CLOSE:
      b->shutdown = static_cast<int>(num);
      return 1;
    case BIO_CTRL_PENDING:
      return Unread(s);
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
  BUF_MEM* bm = State(ret)->buf;
  bm->data = static_cast<char*>(buf);
  bm->length = len;
  bm->max = len;
  ret->flags |= BIO_FLAGS_MEM_RDONLY;
  ret->num = 0;  // the end of the data reads as end of file, not as a retry
  return ret;
}
