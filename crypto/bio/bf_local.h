// Shared by the filter streams: how a filter ends a loop when the next
// stream moves nothing, and the control calls that filters pass on.
#ifndef MORVANE_CRYPTO_BIO_BF_LOCAL_H
#define MORVANE_CRYPTO_BIO_BF_LOCAL_H

#include <limits.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bio/bio_local.h"

namespace morvane::bio {

// Makes `state` (may be null) the filter's own record and the filter ready.
inline int AttachState(BIO* b, void* state) {
  b->init = 1;
  b->ptr = state;
  b->flags = 0;
  return 1;
}

// Forgets the filter's record, which the caller has released.
inline int DetachState(BIO* b) {
  b->ptr = nullptr;
  b->init = 0;
  b->flags = 0;
  return 1;
}

// The length of `str` for a write, clipped to what a write can take.
inline int PutsLength(const char* str) {
  size_t n = strlen(str);
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// A new buffer of `size` bytes for a resize; null, with a malloc-failure
// error of function `func` queued, when it cannot be had.
inline char* NewFilterBuffer(long size, int func) {
  char* p = size > 0 && size <= INT_MAX
                ? static_cast<char*>(MORVANE_malloc(static_cast<size_t>(size)))
                : nullptr;
  if (p == nullptr) BIOerr(func, ERR_R_MALLOC_FAILURE);
  return p;
}

// The next stream returned r <= 0 after `moved` bytes of this call went
// through: take over its retry condition and report the bytes first.
inline int StopResult(BIO* b, int r, int moved) {
  BIO_copy_next_retry(b);
  if (r < 0 && moved == 0) return r;
  return moved;
}

// Passes a control command on to the next stream; 0 without one.
inline long Forward(BIO* b, int cmd, long num, void* ptr) {
  return b->next_bio != nullptr ? BIO_ctrl(b->next_bio, cmd, num, ptr) : 0;
}

// BIO_C_DO_STATE_MACHINE: runs the next stream's and takes over its retry
// condition.
inline long ForwardStateMachine(BIO* b, int cmd, long num, void* ptr) {
  if (b->next_bio == nullptr) return 0;
  ClearRetry(b);
  long ret = BIO_ctrl(b->next_bio, cmd, num, ptr);
  BIO_copy_next_retry(b);
  return ret;
}

inline long ForwardCallbackCtrl(BIO* b, int cmd, bio_info_cb* fp) {
  return b->next_bio != nullptr ? BIO_callback_ctrl(b->next_bio, cmd, fp) : 0;
}

}  // namespace morvane::bio

#endif  // MORVANE_CRYPTO_BIO_BF_LOCAL_H
