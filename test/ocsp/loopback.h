// Connections to servers of the OCSP loopback tests, all on 127.0.0.1.
#ifndef MORVANE_TEST_OCSP_LOOPBACK_H
#define MORVANE_TEST_OCSP_LOOPBACK_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace ocsp_test {

// A connection to 127.0.0.1:port, or -1; non-blocking once connected when
// asked, with a send buffer of sndbuf bytes when that is not 0.
inline int ConnectLoopback(int port, bool nonblocking = false, int sndbuf = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (sndbuf > 0) setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return -1;
  }
  if (nonblocking) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

}  // namespace ocsp_test

#endif  // MORVANE_TEST_OCSP_LOOPBACK_H
