// Internal helpers shared by the socket-based streams: plain socket reads and
// writes with the retry conventions of non-blocking sockets (socket and
// connect streams), the release of a descriptor, the control commands they
// answer alike, and two small helpers of the connect and accept streams.
#ifndef MORVANE_CRYPTO_BIO_SOCK_LOCAL_H
#define MORVANE_CRYPTO_BIO_SOCK_LOCAL_H

#include <sys/socket.h>
#include <unistd.h>

#include <optional>

#include <morvane/bio.h>
#include <morvane/crypto.h>

namespace morvane::bio {

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

#endif  // MORVANE_CRYPTO_BIO_SOCK_LOCAL_H
