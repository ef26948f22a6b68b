// Internal helpers of the BIO component: the retry flags of every stream,
// how a filter ends a loop when the next stream moves nothing and the
// control calls that filters pass on, and the socket streams' shared reads,
// writes and control commands.
#ifndef MORVANE_CRYPTO_BIO_INTERNAL_H
#define MORVANE_CRYPTO_BIO_INTERNAL_H

#include <limits.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

namespace morvane::bio {

// ---- Every stream ----

// The retry flags: the three kinds and "should retry".
constexpr int kRetryMask = BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY;

inline void ClearRetry(BIO* b) {
  b->flags &= ~kRetryMask;
}

// ---- Memory streams ----

// A memory stream marked so holds nothing secret (content that leaves in the
// clear or as ciphertext): it grows and is freed without wiping its storage.
// Only code that creates the stream marks it; the bit is not among the
// public flags.
constexpr int kMemNoWipe = 0x10000;

inline void MarkMemNoWipe(BIO* b) {
  if (b != nullptr && BIO_method_type(b) == BIO_TYPE_MEM) b->flags |= kMemNoWipe;
}

// ---- Filters ----

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

// A 0 from a next stream that asks to retry is no end: -1 (the retry flags
// of `b` already taken over).
inline int RetryIsNoEnd(BIO* b, int r) {
  return r == 0 && BIO_should_retry(b) ? -1 : r;
}

// The next stream returned r <= 0 after `moved` bytes of this call went
// through: take over its retry condition and report the bytes first.
inline int StopResult(BIO* b, int r, int moved) {
  BIO_copy_next_retry(b);
  return moved > 0 ? moved : RetryIsNoEnd(b, r);
}

// The result `r` of the next stream for an operation passed straight on:
// its retry condition becomes this stream's.
inline int PassOn(BIO* b, int r) {
  ClearRetry(b);
  BIO_copy_next_retry(b);
  return RetryIsNoEnd(b, r);
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

// ---- Socket streams (socket, connect, accept, datagram) ----

// Frees a block that may not have been allocated yet.
inline void FreeIfSet(void* p) {
  if (p != nullptr) MORVANE_free(p);
}

// Converts between function-pointer types through the generic one, for the
// callbacks that BIO_callback_ctrl carries as bio_info_cb*; a pointer
// converted there and back is called with its own type.
template <typename To, typename From>
To FunctionCast(From f) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)(void)>(f));
}

// read()/write() on b->num: errno cleared first, the retry flags cleared and
// set again (read or write) when BIO_sock_should_retry holds for the result.
// A null `out` reads nothing (0); a negative length is refused (-1).
int SockRead(BIO* b, char* out, int outl);
int SockWrite(BIO* b, const char* in, int inl);

// Shuts down both directions of the socket, then closes it.
inline void ShutdownAndClose(int fd) {
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

// Lets go of a stream's descriptor as the close flag says: with the flag set,
// a descriptor that is set is shut down and closed, and `init` and `flags`
// are cleared.
void ReleaseDescriptor(BIO* b);

// The control commands that the socket-based streams answer alike:
// BIO_C_GET_FD, BIO_CTRL_GET_CLOSE, BIO_CTRL_SET_CLOSE and BIO_CTRL_FLUSH;
// for streams over a descriptor the application hands them (`adopts`) also
// BIO_C_SET_FD, which releases the descriptor held before, and BIO_CTRL_DUP,
// whose copy shares the descriptor but leaves closing it to the original.
// Empty for any other command.
std::optional<long> DescriptorCtrl(BIO* b, int cmd, long num, void* ptr, bool adopts);

// A new stream of `method` over `fd`, closing it when freed as `close_flag`
// says; null when the stream cannot be made (fd stays the caller's).
BIO* NewOverDescriptor(BIO_METHOD* method, int fd, int close_flag);

}  // namespace morvane::bio

#endif  // MORVANE_CRYPTO_BIO_INTERNAL_H
