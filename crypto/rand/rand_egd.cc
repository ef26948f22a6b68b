// The entropy-gathering daemon's client: request {0x01, count}, reply a count
// byte and that many bytes, over a Unix-domain stream socket.  A reply that
// counts more bytes than the round asked for is refused (-1) unread.

#include <errno.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include <morvane/rand.h>

#include "internal/wipe.h"

namespace {

bool retry(int err) {
  return err == EINTR || err == EAGAIN;
}

// Moves exactly n bytes: 1 done, 0 end of stream, -1 error.
template <class Io, class Buf>
int exchange(Io io, int fd, Buf p, size_t n) {
  while (n > 0) {
    const ssize_t r = io(fd, p, n);
    if (r < 0 && retry(errno)) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return 1;
}

int connect_to(const char* path) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  const size_t len = strlen(path);
  memcpy(addr.sun_path, path, len);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const socklen_t alen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  for (;;) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), alen) == 0 || errno == EISCONN) {
      return fd;
    }
    if (!retry(errno) && errno != EINPROGRESS && errno != EALREADY) break;
  }
  close(fd);
  return -2;
}

}  // namespace

/* see morvane/rand.h */
int RAND_query_egd_bytes(const char* path, unsigned char* buf, int bytes) {
  if (path == nullptr || strlen(path) >= 104) return -1;  // the portable room of sun_path
  const int fd = connect_to(path);
  if (fd == -1) return -1;
  if (fd < 0) return 0;
  unsigned char scratch[255];
  morvane::internal::Wiper w(scratch);
  int r = 0;
  while (bytes > 0) {
    const unsigned char want = static_cast<unsigned char>(std::min(bytes, 255));
    const unsigned char req[2] = {1, want};
    auto put = [](int f, const unsigned char* p, size_t n) { return send(f, p, n, MSG_NOSIGNAL); };
    auto get = [](int f, unsigned char* p, size_t n) { return read(f, p, n); };
    int s = exchange(put, fd, req, 2);
    if (s < 0) r = -1;
    if (s <= 0) break;
    unsigned char c;
    s = exchange(get, fd, &c, 1);
    if (s < 0) r = -1;
    if (s <= 0 || c == 0) break;
    if (c > want) {  // more than asked: refused unread
      r = -1;
      break;
    }
    s = exchange(get, fd, buf != nullptr ? buf + r : scratch, c);
    if (s < 0) r = -1;
    if (s <= 0) break;
    r += c;
    bytes -= c;
    if (buf == nullptr) RAND_seed(scratch, c);
  }
  close(fd);
  return r;
}

int RAND_egd_bytes(const char* path, int bytes) {
  const int n = RAND_query_egd_bytes(path, nullptr, bytes);
  return n > 0 && RAND_status() == 1 ? n : 0;
}

int RAND_egd(const char* path) {
  return RAND_egd_bytes(path, 255);
}
