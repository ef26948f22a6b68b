// Loopback sockets for the network stream suites.

#include "net_util.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include <morvane/err.h>

namespace net_test {

void BoundedTest::SetUp() {
  ERR_clear_error();
  signal(SIGPIPE, SIG_IGN);
  alarm(10);
}

void BoundedTest::TearDown() {
  alarm(0);
}

sockaddr_in Loopback(unsigned short port) {
  sockaddr_in a;
  memset(&a, 0, sizeof(a));
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

unsigned short LocalPort(int fd) {
  sockaddr_in a;
  socklen_t len = sizeof(a);
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

namespace {
// A socket of `type` bound to 127.0.0.1 at an ephemeral port (listening
// when asked), or -1 after failing the test.
int BoundSocket(int type, unsigned short* port, bool listening) {
  int s = socket(AF_INET, type, 0);
  sockaddr_in a = Loopback(0);
  if (s == -1 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
      (listening && listen(s, 16) != 0)) {
    ADD_FAILURE() << "cannot set up a loopback socket: " << strerror(errno);
    if (s != -1) close(s);
    return -1;
  }
  *port = LocalPort(s);
  return s;
}
}  // namespace

int TcpLoopback(unsigned short* port, bool listening) {
  return BoundSocket(SOCK_STREAM, port, listening);
}

int UdpLoopback(unsigned short* port) {
  return BoundSocket(SOCK_DGRAM, port, false);
}

int ConnectLoopback(unsigned short port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  if (s != -1 && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(s);
    return -1;
  }
  return s;
}

void TcpPair(int* client, int* server) {
  unsigned short port = 0;
  int l = TcpLoopback(&port);
  *client = ConnectLoopback(port);
  *server = *client == -1 ? -1 : accept(l, nullptr, nullptr);
  close(l);
  ASSERT_NE(*client, -1);
  ASSERT_NE(*server, -1);
}

unsigned short FreePort() {
  unsigned short port = 0;
  int s = TcpLoopback(&port, false);
  if (s != -1) close(s);
  return port;
}

int ListenOnFreePort(const std::string& format, unsigned short* port, int bind_mode) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    *port = FreePort();
    std::string text = format;
    text.replace(text.find("PORT"), 4, std::to_string(*port));
    int s = BIO_get_accept_socket(text.c_str(), bind_mode);
    if (s != -1) return s;
    ERR_clear_error();
  }
  return -1;
}

namespace {
bool Wait(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  return poll(&p, 1, ms) == 1;
}
}  // namespace

bool WaitReadable(int fd, int ms) {
  return Wait(fd, POLLIN, ms);
}
bool WaitWritable(int fd, int ms) {
  return Wait(fd, POLLOUT, ms);
}

int DriveConnect(BIO* b) {
  int ret = static_cast<int>(BIO_do_connect(b));
  for (int rounds = 0; ret == -1 && BIO_should_retry(b) && rounds < 10; ++rounds) {
    if (!WaitWritable(static_cast<int>(BIO_get_fd(b, nullptr)))) break;
    ret = static_cast<int>(BIO_do_connect(b));
  }
  return ret;
}

bool IsOpen(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

std::string ReadExactly(int fd, size_t n) {
  std::string out;
  char buf[4096];
  while (out.size() < n && WaitReadable(fd)) {
    size_t want = std::min(sizeof(buf), n - out.size());
    ssize_t r = read(fd, buf, want);
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  return out;
}

}  // namespace net_test
