// Socket streams: an open socket descriptor behind the stream interface, with
// the retry conventions of non-blocking sockets.  The stream has no record of
// its own: `num` is the descriptor, `init` whether one is set, `shutdown` the
// close flag.  The helpers here serve the other socket-based streams too.

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <morvane/bio.h>

#include "bio/internal.h"

namespace morvane::bio {

int SockRead(BIO* b, char* out, int outl) {
  if (out == nullptr) return 0;
  if (outl < 0) {  // never handed to read() as a huge size
    ClearRetry(b);
    return -1;
  }
  // With errno cleared first, a plain end of stream (0, errno still 0) is
  // never taken for a retry.
  errno = 0;
  int ret = static_cast<int>(read(b->num, out, static_cast<size_t>(outl)));
  ClearRetry(b);
  if (ret <= 0 && BIO_sock_should_retry(ret)) BIO_set_retry_read(b);
  return ret;
}

int SockWrite(BIO* b, const char* in, int inl) {
  if (inl < 0) {
    ClearRetry(b);
    return -1;
  }
  errno = 0;
  int ret = static_cast<int>(write(b->num, in, static_cast<size_t>(inl)));
  ClearRetry(b);
  if (ret <= 0 && BIO_sock_should_retry(ret)) BIO_set_retry_write(b);
  return ret;
}

void ReleaseDescriptor(BIO* b) {
  if (!b->shutdown) return;
  if (b->init) ShutdownAndClose(b->num);
  b->init = 0;
  b->flags = 0;
}

std::optional<long> DescriptorCtrl(BIO* b, int cmd, long num, void* ptr, bool adopts) {
  switch (cmd) {
    case BIO_C_SET_FD:
      if (!adopts) return std::nullopt;
      if (ptr == nullptr) return 0;
      ReleaseDescriptor(b);
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
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_DUP:
      if (!adopts) return std::nullopt;
      static_cast<BIO*>(ptr)->shutdown = BIO_NOCLOSE;
      return 1;
    default:
      return std::nullopt;
  }
}

BIO* NewOverDescriptor(BIO_METHOD* method, int fd, int close_flag) {
  BIO* ret = BIO_new(method);
  if (ret == nullptr) return nullptr;
  BIO_set_fd(ret, fd, close_flag);
  return ret;
}

}  // namespace morvane::bio

namespace {

using morvane::bio::SockRead;
using morvane::bio::SockWrite;

int sock_new(BIO* b) {
  b->init = 0;
  b->num = 0;
  b->ptr = nullptr;
  b->flags = 0;
  return 1;
}

int sock_free(BIO* a) {
  if (a == nullptr) return 0;
  morvane::bio::ReleaseDescriptor(a);
  return 1;
}

int sock_puts(BIO* b, const char* str) {
  return SockWrite(b, str, static_cast<int>(strlen(str)));
}

long sock_ctrl(BIO* b, int cmd, long num, void* ptr) {
  return morvane::bio::DescriptorCtrl(b, cmd, num, ptr, true).value_or(0);
}

constinit BIO_METHOD methods_sockp = {
    BIO_TYPE_SOCKET, "socket",  SockWrite, SockRead,  sock_puts,
    nullptr,         sock_ctrl, sock_new,  sock_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_socket(void) {
  return &methods_sockp;
}

/* see morvane/bio.h */
BIO* BIO_new_socket(int fd, int close_flag) {
  return morvane::bio::NewOverDescriptor(BIO_s_socket(), fd, close_flag);
}
