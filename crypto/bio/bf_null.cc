// Two pass-through filters.  The NULL filter hands every operation to the
// next stream unchanged.  The non-blocking test filter does the same except
// for reads and writes, which it cuts into random pieces of at most 7 bytes
// and now and then answers with a retry without touching the next stream, so
// that code written for non-blocking streams can be exercised over a
// blocking one.

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include "bio/internal.h"

namespace {

using morvane::bio::ClearRetry;
using morvane::bio::PassOn;

// ---- pass-through operations (both filters) --------------------------------

int nullf_new(BIO* b) { return morvane::bio::AttachState(b, nullptr); }

int nullf_free(BIO* b) { return b == nullptr ? 0 : 1; }

int nullf_read(BIO* b, char* out, int outl) {
  if (out == nullptr || b->next_bio == nullptr) return 0;
  return PassOn(b, BIO_read(b->next_bio, out, outl));
}

int nullf_write(BIO* b, const char* in, int inl) {
  if (in == nullptr || inl <= 0 || b->next_bio == nullptr) return 0;
  return PassOn(b, BIO_write(b->next_bio, in, inl));
}

int nullf_gets(BIO* b, char* buf, int size) {
  return b->next_bio != nullptr ? PassOn(b, BIO_gets(b->next_bio, buf, size)) : 0;
}

int nullf_puts(BIO* b, const char* str) {
  return b->next_bio != nullptr ? PassOn(b, BIO_puts(b->next_bio, str)) : 0;
}

long nullf_ctrl(BIO* b, int cmd, long num, void* ptr) {
  if (b->next_bio == nullptr) return 0;
  switch (cmd) {
    case BIO_CTRL_DUP:
      return 0;
    case BIO_C_DO_STATE_MACHINE:
      return morvane::bio::ForwardStateMachine(b, cmd, num, ptr);
    default:
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
  }
}

long nullf_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return morvane::bio::ForwardCallbackCtrl(b, cmd, fp);
}

constinit BIO_METHOD methods_nullf = {
    BIO_TYPE_NULL_FILTER, "NULL filter", nullf_write, nullf_read, nullf_puts,
    nullf_gets,           nullf_ctrl,    nullf_new,   nullf_free, nullf_callback_ctrl,
};

// ---- the non-blocking test filter -------------------------------------------

struct NBIO_TEST {
  int lrn;  // unused by reads; kept for the record's shape
  int lwn;  // after a refused write: the length offered, offered again next
};

// A random piece size from 0 to 7.  The byte starts as 7 so that a random
// source that writes nothing still lets data through.
int RandomPiece() {
  unsigned char n = 7;
  RAND_pseudo_bytes(&n, 1);
  return n & 7;
}

int nbiof_new(BIO* b) {
  auto* nt = static_cast<NBIO_TEST*>(MORVANE_malloc(sizeof(NBIO_TEST)));
  if (nt == nullptr) {
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  nt->lrn = -1;
  nt->lwn = -1;
  return morvane::bio::AttachState(b, nt);
}

int nbiof_free(BIO* b) {
  if (b == nullptr) return 0;
  MORVANE_free(b->ptr);
  return morvane::bio::DetachState(b);
}

int nbiof_read(BIO* b, char* out, int outl) {
  if (out == nullptr || b->next_bio == nullptr) return 0;
  ClearRetry(b);
  int n = RandomPiece();
  if (outl > n) outl = n;
  if (n == 0) {
    BIO_set_retry_read(b);
    return -1;
  }
  return PassOn(b, BIO_read(b->next_bio, out, outl));
}

int nbiof_write(BIO* b, const char* in, int inl) {
  auto* nt = static_cast<NBIO_TEST*>(b->ptr);
  if (in == nullptr || inl <= 0 || nt == nullptr || b->next_bio == nullptr) return 0;
  ClearRetry(b);
  int n;
  if (nt->lwn > 0) {
    // The next stream refused this length last time: offer it again.
    n = nt->lwn;
    nt->lwn = 0;
  } else {
    n = RandomPiece();
  }
  if (inl > n) inl = n;
  if (n == 0) {
    BIO_set_retry_write(b);
    return -1;
  }
  const int r = PassOn(b, BIO_write(b->next_bio, in, inl));
  if (r < 0) nt->lwn = inl;
  return r;
}

constinit BIO_METHOD methods_nbiof = {
    BIO_TYPE_NBIO_TEST, "non-blocking IO test filter",
    nbiof_write,        nbiof_read,
    nullf_puts,         nullf_gets,
    nullf_ctrl,         nbiof_new,
    nbiof_free,         nullf_callback_ctrl,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_f_null(void) { return &methods_nullf; }

BIO_METHOD* BIO_f_nbio_test(void) { return &methods_nbiof; }
