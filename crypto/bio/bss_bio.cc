// Stream pairs: two connected halves forming an in-memory pipe in both
// directions.  Each half owns a ring buffer holding what was written into it
// until the other half reads it; reads of an empty ring and writes into a
// full one ask for a retry and never block.  Besides copying reads and writes
// the halves hand out pointers straight into the ring (look, then commit).
//
// Implementation notes: held bytes are buf[offset], buf[offset+1], ...
// wrapping at `size`; `offset` returns to 0 whenever the ring empties.  A
// half reads from its peer's ring and writes into its own.  Ring sizes are
// kept within an int, the largest block the allocator hands out.

#include <algorithm>
#include <climits>
#include <cstring>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bio/internal.h"

namespace {

using morvane::bio::ClearRetry;

constexpr size_t kDefaultSize = 17 * 1024;

struct bio_bio_st {
  BIO* peer;       // the other half; null while unpaired
  int closed;      // writing into this half has been shut down
  size_t len;      // bytes held (written here, not yet read by the peer)
  size_t offset;   // index of the first held byte
  size_t size;     // capacity of buf
  char* buf;       // the ring; made when paired, kept when unpaired
  size_t request;  // what the peer's last read of an empty ring asked for
};

bio_bio_st* Rec(BIO* b) {
  return static_cast<bio_bio_st*>(b->ptr);
}

// The peer's record: the ring this half reads from.
bio_bio_st* PeerRec(BIO* b) {
  return Rec(Rec(b)->peer);
}

// Takes n held bytes off the front of the ring.
void Consume(bio_bio_st* p, size_t n) {
  p->len -= n;
  if (p->len == 0) {
    p->offset = 0;
  } else {
    p->offset += n;
    if (p->offset >= p->size) p->offset -= p->size;
  }
}

// Index of the next byte to be written into the ring.
size_t WritePos(const bio_bio_st* b) {
  size_t pos = b->offset + b->len;
  return pos >= b->size ? pos - b->size : pos;
}

int bio_new(BIO* bio) {
  auto* b = static_cast<bio_bio_st*>(MORVANE_malloc(sizeof(bio_bio_st)));
  if (b == nullptr) return 0;
  memset(b, 0, sizeof(*b));
  b->peer = nullptr;
  b->buf = nullptr;
  b->size = kDefaultSize;
  bio->ptr = b;
  return 1;
}

void bio_destroy_pair(BIO* bio) {
  bio_bio_st* b = Rec(bio);
  if (b == nullptr || b->peer == nullptr) return;
  BIO* peer_bio = b->peer;
  bio_bio_st* p = Rec(peer_bio);
  p->peer = nullptr;
  peer_bio->init = 0;
  p->len = 0;
  p->offset = 0;
  b->peer = nullptr;
  bio->init = 0;
  b->len = 0;
  b->offset = 0;
}

int bio_free(BIO* bio) {
  if (bio == nullptr) return 0;
  bio_bio_st* b = Rec(bio);
  if (b == nullptr) return 1;
  if (b->peer != nullptr) bio_destroy_pair(bio);
  if (b->buf != nullptr) MORVANE_free(b->buf);
  MORVANE_free(b);
  bio->ptr = nullptr;
  return 1;
}

int bio_read(BIO* bio, char* buf, int size_) {
  ClearRetry(bio);
  if (!bio->init) return 0;
  bio_bio_st* p = PeerRec(bio);
  p->request = 0;
  if (buf == nullptr || size_ <= 0) return 0;
  size_t size = static_cast<size_t>(size_);

  if (p->len == 0) {
    if (p->closed) return 0;  // end of data
    BIO_set_retry_read(bio);
    p->request = std::min(size, p->size);
    return -1;
  }

  size_t n = std::min(size, p->len);
  size_t rest = n;
  while (rest > 0) {  // at most two pieces: to the end of the ring, then from 0
    size_t chunk = std::min(rest, p->size - p->offset);
    memcpy(buf, p->buf + p->offset, chunk);
    Consume(p, chunk);
    buf += chunk;
    rest -= chunk;
  }
  return static_cast<int>(n);
}

// Before a write into this half's ring (the peer's request is void now):
// false with "broken pipe" (under `func`) after a shutdown, or with retry
// write while the ring is full.
bool MayWrite(BIO* bio, bio_bio_st* b, int func) {
  b->request = 0;
  if (b->closed) {
    BIOerr(func, BIO_R_BROKEN_PIPE);
    return false;
  }
  if (b->len == b->size) {
    BIO_set_retry_write(bio);
    return false;
  }
  return true;
}

int bio_write(BIO* bio, const char* buf, int num_) {
  ClearRetry(bio);
  if (!bio->init || buf == nullptr || num_ <= 0) return 0;
  bio_bio_st* b = Rec(bio);
  if (!MayWrite(bio, b, BIO_F_BIO_WRITE)) return -1;

  size_t n = std::min(static_cast<size_t>(num_), b->size - b->len);
  size_t rest = n;
  while (rest > 0) {  // at most two pieces
    size_t pos = WritePos(b);
    size_t chunk = std::min(rest, b->size - pos);
    memcpy(b->buf + pos, buf, chunk);
    b->len += chunk;
    buf += chunk;
    rest -= chunk;
  }
  return static_cast<int>(n);
}

int bio_puts(BIO* bio, const char* str) {
  return bio_write(bio, str, static_cast<int>(strlen(str)));
}

// Look at the held bytes without taking them: the run that lies contiguously
// from the peer ring's offset.
long bio_nread0(BIO* bio, char** buf) {
  ClearRetry(bio);
  if (!bio->init) return 0;
  bio_bio_st* p = PeerRec(bio);
  p->request = 0;
  if (p->len == 0) {
    char dummy;
    return bio_read(bio, &dummy, 1);  // end of data (0) or retry read, request 1
  }
  size_t num = std::min(p->len, p->size - p->offset);
  if (buf != nullptr) *buf = p->buf + p->offset;
  return static_cast<long>(num);
}

long bio_nread(BIO* bio, char** buf, long num) {
  if (num < 0) {  // no count of bytes to take
    BIOerr(BIO_F_BIO_NREAD, BIO_R_INVALID_ARGUMENT);
    return -1;
  }
  if (num > INT_MAX) num = INT_MAX;
  long available = bio_nread0(bio, buf);
  if (num > available) num = available;
  if (num <= 0) return num;
  Consume(PeerRec(bio), static_cast<size_t>(num));
  return num;
}

// Look at the free room that lies contiguously from the write position.
long bio_nwrite0(BIO* bio, char** buf) {
  ClearRetry(bio);
  if (!bio->init) return 0;
  bio_bio_st* b = Rec(bio);
  if (!MayWrite(bio, b, BIO_F_BIO_NWRITE0)) return -1;
  size_t pos = WritePos(b);
  size_t num = std::min(b->size - b->len, b->size - pos);
  if (buf != nullptr) *buf = b->buf + pos;
  return static_cast<long>(num);
}

long bio_nwrite(BIO* bio, char** buf, long num) {
  if (num < 0) {  // no count of bytes to commit
    BIOerr(BIO_F_BIO_NWRITE, BIO_R_INVALID_ARGUMENT);
    return -1;
  }
  if (num > INT_MAX) num = INT_MAX;
  long space = bio_nwrite0(bio, buf);
  if (num > space) num = space;
  if (num <= 0) return num;
  Rec(bio)->len += static_cast<size_t>(num);
  return num;
}

int bio_make_pair(BIO* bio1, BIO* bio2);

long bio_ctrl(BIO* bio, int cmd, long num, void* ptr) {
  bio_bio_st* b = Rec(bio);
  switch (cmd) {
    case BIO_C_SET_WRITE_BUF_SIZE:
      if (b->peer != nullptr) {
        BIOerr(BIO_F_BIO_CTRL, BIO_R_IN_USE);
        return 0;
      }
      // The ring comes from the allocator, whose sizes are ints.
      if (num <= 0 || num > INT_MAX) {
        BIOerr(BIO_F_BIO_CTRL, BIO_R_INVALID_ARGUMENT);
        return 0;
      }
      if (b->size != static_cast<size_t>(num)) {
        if (b->buf != nullptr) MORVANE_free(b->buf);
        b->buf = nullptr;  // made again when paired
        b->size = static_cast<size_t>(num);
      }
      return 1;
    case BIO_C_GET_WRITE_BUF_SIZE:
      return static_cast<long>(b->size);
    case BIO_C_MAKE_BIO_PAIR:
      return bio_make_pair(bio, static_cast<BIO*>(ptr));
    case BIO_C_DESTROY_BIO_PAIR:
      bio_destroy_pair(bio);
      return 1;
    case BIO_C_GET_WRITE_GUARANTEE:
      if (b->peer == nullptr || b->closed) return 0;
      return static_cast<long>(b->size - b->len);
    case BIO_C_GET_READ_REQUEST:
      return static_cast<long>(b->request);
    case BIO_C_RESET_READ_REQUEST:
      b->request = 0;
      return 1;
    case BIO_C_SHUTDOWN_WR:
      b->closed = 1;
      return 1;
    case BIO_C_NREAD0:
      return bio_nread0(bio, static_cast<char**>(ptr));
    case BIO_C_NREAD:
      return bio_nread(bio, static_cast<char**>(ptr), num);
    case BIO_C_NWRITE0:
      return bio_nwrite0(bio, static_cast<char**>(ptr));
    case BIO_C_NWRITE:
      return bio_nwrite(bio, static_cast<char**>(ptr), num);
    case BIO_CTRL_RESET:
      if (b->buf != nullptr) {
        b->len = 0;
        b->offset = 0;
      }
      return 0;
    case BIO_CTRL_GET_CLOSE:
      return bio->shutdown;
    case BIO_CTRL_SET_CLOSE:
      bio->shutdown = static_cast<int>(num);
      return 1;
    case BIO_CTRL_PENDING:
      return b->peer != nullptr ? static_cast<long>(Rec(b->peer)->len) : 0;
    case BIO_CTRL_WPENDING:
      return b->buf != nullptr ? static_cast<long>(b->len) : 0;
    case BIO_CTRL_DUP:
      Rec(static_cast<BIO*>(ptr))->size = b->size;
      return 1;
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      if (b->peer == nullptr) return 1;
      return Rec(b->peer)->len == 0 && Rec(b->peer)->closed ? 1 : 0;
    default:
      return 0;
  }
}

constinit BIO_METHOD methods_biop = {
    BIO_TYPE_BIO, "BIO pair", bio_write, bio_read, bio_puts,
    nullptr,      bio_ctrl,   bio_new,   bio_free, nullptr,
};

// Gives a half without a ring its ring.
bool MakeRing(bio_bio_st* b) {
  if (b->buf != nullptr) return true;  // kept from an earlier pairing, with its content
  b->buf = static_cast<char*>(MORVANE_malloc(b->size));
  if (b->buf == nullptr) {
    BIOerr(BIO_F_BIO_MAKE_PAIR, ERR_R_MALLOC_FAILURE);
    return false;
  }
  b->len = 0;
  b->offset = 0;
  return true;
}

int bio_make_pair(BIO* bio1, BIO* bio2) {
  // Only another half can be a peer: any other stream has no ring record.
  if (bio2 == nullptr || bio2->method != &methods_biop) {
    BIOerr(BIO_F_BIO_MAKE_PAIR, BIO_R_INVALID_ARGUMENT);
    return 0;
  }
  bio_bio_st* b1 = Rec(bio1);
  bio_bio_st* b2 = Rec(bio2);
  if (b1->peer != nullptr || b2->peer != nullptr) {
    BIOerr(BIO_F_BIO_MAKE_PAIR, BIO_R_IN_USE);
    return 0;
  }
  if (!MakeRing(b1) || !MakeRing(b2)) return 0;
  b1->peer = bio2;
  b1->closed = 0;
  b1->request = 0;
  b2->peer = bio1;
  b2->closed = 0;
  b2->request = 0;
  bio1->init = 1;
  bio2->init = 1;
  return 1;
}

// The generic non-copying calls: refuse an uninitialised stream, else issue
// the command.
long NonCopying(BIO* bio, int func, int cmd, long num, char** buf) {
  if (bio == nullptr || !bio->init) {
    BIOerr(func, BIO_R_UNINITIALIZED);
    return -2;
  }
  return BIO_ctrl(bio, cmd, num, buf);
}

int ToInt(long v) {
  return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_bio(void) {
  return &methods_biop;
}

/* see morvane/bio.h */
int BIO_new_bio_pair(BIO** bio1_p, size_t writebuf1, BIO** bio2_p, size_t writebuf2) {
  if (bio1_p == nullptr || bio2_p == nullptr) {  // nowhere to put a half
    BIOerr(BIO_F_BIO_MAKE_PAIR, ERR_R_PASSED_NULL_PARAMETER);
    if (bio1_p != nullptr) *bio1_p = nullptr;
    if (bio2_p != nullptr) *bio2_p = nullptr;
    return 0;
  }
  BIO* bio1 = BIO_new(BIO_s_bio());
  BIO* bio2 = BIO_new(BIO_s_bio());
  bool ok = bio1 != nullptr && bio2 != nullptr &&
            (writebuf1 == 0 || BIO_set_write_buf_size(bio1, writebuf1)) &&
            (writebuf2 == 0 || BIO_set_write_buf_size(bio2, writebuf2)) &&
            BIO_make_bio_pair(bio1, bio2);
  if (!ok) {
    BIO_free(bio1);
    BIO_free(bio2);
    bio1 = nullptr;
    bio2 = nullptr;
  }
  *bio1_p = bio1;
  *bio2_p = bio2;
  return ok ? 1 : 0;
}

/* see morvane/bio.h */
size_t BIO_ctrl_get_write_guarantee(BIO* bio) {
  return static_cast<size_t>(BIO_ctrl(bio, BIO_C_GET_WRITE_GUARANTEE, 0, nullptr));
}

/* see morvane/bio.h */
size_t BIO_ctrl_get_read_request(BIO* bio) {
  return static_cast<size_t>(BIO_ctrl(bio, BIO_C_GET_READ_REQUEST, 0, nullptr));
}

/* see morvane/bio.h */
int BIO_ctrl_reset_read_request(BIO* bio) {
  return BIO_ctrl(bio, BIO_C_RESET_READ_REQUEST, 0, nullptr) != 0 ? 1 : 0;
}

/* see morvane/bio.h */
int BIO_nread0(BIO* bio, char** buf) {
  return ToInt(NonCopying(bio, BIO_F_BIO_NREAD0, BIO_C_NREAD0, 0, buf));
}

/* see morvane/bio.h */
int BIO_nread(BIO* bio, char** buf, int num) {
  int ret = ToInt(NonCopying(bio, BIO_F_BIO_NREAD, BIO_C_NREAD, num, buf));
  if (ret > 0) bio->num_read += static_cast<unsigned long>(ret);
  return ret;
}

/* see morvane/bio.h */
int BIO_nwrite0(BIO* bio, char** buf) {
  return ToInt(NonCopying(bio, BIO_F_BIO_NWRITE0, BIO_C_NWRITE0, 0, buf));
}

/* see morvane/bio.h */
int BIO_nwrite(BIO* bio, char** buf, int num) {
  int ret = ToInt(NonCopying(bio, BIO_F_BIO_NWRITE, BIO_C_NWRITE, num, buf));
  if (ret > 0) bio->num_write += static_cast<unsigned long>(ret);
  return ret;
}
