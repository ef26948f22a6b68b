// Descriptor streams: a POSIX file descriptor behind the stream interface,
// with the retry conventions of non-blocking descriptors (errno is cleared
// before each call, so end of file sets no retry flags).

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <morvane/bio.h>

#include "bio/internal.h"

namespace {

using morvane::bio::ClearRetry;

int fd_new(BIO* b) {
  b->init = 0;
  b->num = -1;
  b->ptr = nullptr;
  b->flags = 0;
  return 1;
}

int fd_free(BIO* b) {
  if (b == nullptr) return 0;
  if (b->shutdown) {
    if (b->init) close(b->num);
    b->init = 0;
    b->flags = 0;
  }
  return 1;
}

int fd_read(BIO* b, char* out, int outl) {
  if (out == nullptr) return 0;
  if (outl < 0) return -1;  // never handed to read() as a huge size
  errno = 0;
  int ret = static_cast<int>(read(b->num, out, static_cast<size_t>(outl)));
  ClearRetry(b);
  if (ret <= 0 && BIO_fd_should_retry(ret)) BIO_set_retry_read(b);
  return ret;
}

int fd_write(BIO* b, const char* in, int inl) {
  if (inl < 0) return -1;
  errno = 0;
  int ret = static_cast<int>(write(b->num, in, static_cast<size_t>(inl)));
  ClearRetry(b);
  if (ret <= 0 && BIO_fd_should_retry(ret)) BIO_set_retry_write(b);
  return ret;
}

int fd_puts(BIO* b, const char* str) {
  return fd_write(b, str, static_cast<int>(strlen(str)));
}

long fd_ctrl(BIO* b, int cmd, long num, void* ptr) {
  switch (cmd) {
    case BIO_CTRL_RESET:
      return static_cast<long>(lseek(b->num, 0, SEEK_SET));
    case BIO_C_FILE_SEEK:
      return static_cast<long>(lseek(b->num, num, SEEK_SET));
    case BIO_CTRL_INFO:
    case BIO_C_FILE_TELL:
      return static_cast<long>(lseek(b->num, 0, SEEK_CUR));
    case BIO_C_SET_FD:
      if (ptr == nullptr) return 0;
      fd_free(b);
      b->num = *static_cast<int*>(ptr);
      b->shutdown = static_cast<int>(num);
      b->init = 1;
      return 1;
    case BIO_C_GET_FD:
      if (!b->init) return -1;
      if (ptr != nullptr) *static_cast<int*>(ptr) = b->num;
      return b->num;
    case BIO_CTRL_GET_CLOSE:
      return b->shutdown;
    case BIO_CTRL_SET_CLOSE:
      b->shutdown = static_cast<int>(num);
      return 1;
    case BIO_CTRL_PENDING:
    case BIO_CTRL_WPENDING:
      return 0;
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

constinit BIO_METHOD methods_fdp = {
    BIO_TYPE_FD, "file descriptor", fd_write, fd_read, fd_puts,
    nullptr,     fd_ctrl,           fd_new,   fd_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_fd(void) {
  return &methods_fdp;
}

/* see morvane/bio.h */
BIO* BIO_new_fd(int fd, int close_flag) {
  BIO* ret = BIO_new(BIO_s_fd());
  if (ret == nullptr) return nullptr;
  BIO_set_fd(ret, fd, close_flag);
  return ret;
}

/* see morvane/bio.h */
int BIO_fd_should_retry(int i) {
  if (i == 0 || i == -1) return BIO_fd_non_fatal_error(errno);
  return 0;
}

/* see morvane/bio.h */
int BIO_fd_non_fatal_error(int err) {
  switch (err) {
    case EINTR:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
    case EALREADY:
    case ENOTCONN:
    case EPROTO:
      return 1;
    default:
      return 0;
  }
}
