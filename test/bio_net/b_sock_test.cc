// Socket helpers: host and port texts, listening sockets and their bind
// modes, accepting with the peer as text, non-blocking mode, pending errors
// and the retry decision.  Only 127.0.0.1 and "localhost" are ever used.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "net_util.h"

namespace {

using morvane_test::LockEvent;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

class SockHelpers : public net_test::BoundedTest {};

// Complete dotted quads are taken without a lookup; other texts of digits
// and dots go to the platform's lookup (which decides on them without asking
// a name server), under the lookup lock; an empty part is refused at once.
TEST_F(SockHelpers, HostTexts) {
  morvane_test::InstallLockingCallback();
  constexpr int kLookupError = BIO_R_BAD_HOSTNAME_LOOKUP, kInvalid = BIO_R_INVALID_IP_ADDRESS;
  const struct {
    const char* text;
    unsigned char ip[4];  // 7.7.7.7: left untouched
    bool lookup;
    int reason;  // 0: success
  } cases[] = {
      {"127.0.0.1", {127, 0, 0, 1}, false, 0},
      {"10.1.2.3", {10, 1, 2, 3}, false, 0},
      {"255.255.255.255", {255, 255, 255, 255}, false, 0},
      {"0.0.0.0", {0, 0, 0, 0}, false, 0},
      {"001.002.003.004", {1, 2, 3, 4}, false, 0},
      {"localhost", {127, 0, 0, 1}, true, 0},
      {"1.2.3", {1, 2, 0, 3}, true, 0},  // the platform's reading
      {"1.2.3.300", {7, 7, 7, 7}, true, kLookupError},
      {"1.2.3.4.5", {7, 7, 7, 7}, true, kLookupError},
      {"1..2.3", {7, 7, 7, 7}, false, kInvalid},
      {".1.2.3", {7, 7, 7, 7}, false, kInvalid},
      {"127.0..1", {7, 7, 7, 7}, false, kInvalid},
  };
  for (const auto& c : cases) {
    unsigned char ip[4] = {7, 7, 7, 7};
    morvane_test::StartRecordingLocks();
    EXPECT_EQ(BIO_get_host_ip(c.text, ip), c.reason == 0) << c.text;
    std::vector<LockEvent> lookup = {WriteLock(CRYPTO_LOCK_GETHOSTBYNAME),
                                     WriteUnlock(CRYPTO_LOCK_GETHOSTBYNAME)};
    EXPECT_EQ(morvane_test::StopRecordingLocks({CRYPTO_LOCK_GETHOSTBYNAME}),
              c.lookup ? lookup : std::vector<LockEvent>()) << c.text;
    EXPECT_EQ(0, memcmp(ip, c.ip, 4)) << c.text;
    std::string data = std::string("host=") + c.text;
    if (c.reason == 0) {
      EXPECT_ERRORS({});
    } else {
      EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GET_HOST_IP, c.reason, data.c_str()}}) << c.text;
    }
  }
  unsigned char ip[4];
  EXPECT_EQ(BIO_get_host_ip(nullptr, ip), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GET_HOST_IP, BIO_R_NULL_PARAMETER}});
}

// A leading number decides (its low 16 bits); other texts are services of
// the platform's database or else of the built-in table, looked up under
// the service lock.  "0" is port 0 (a free port, to listen on).
TEST_F(SockHelpers, PortTexts) {
  morvane_test::InstallLockingCallback();
  const struct {
    const char* text;
    int port;  // -1: refused
  } cases[] = {
      {"443", 443},   {"8080/tcp", 8080}, {"70000", 70000 - 65536},
      {"http", 80},   {"telnet", 23},     {"socks", 1080},
      {"https", 443}, {"ssl", 443},       {"ftp", 21},
      {"gopher", 70}, {"0", 0},           {"no-such-service-here", -1},
      {"SSL", -1},
  };
  for (const auto& c : cases) {
    unsigned short port = 77;
    morvane_test::StartRecordingLocks();
    EXPECT_EQ(BIO_get_port(c.text, &port), c.port != -1) << c.text;
    EXPECT_EQ(port, c.port == -1 ? 77 : c.port) << c.text;
    const bool number = c.text[0] >= '0' && c.text[0] <= '9';
    EXPECT_EQ(morvane_test::StopRecordingLocks({CRYPTO_LOCK_GETSERVBYNAME}).size(),
              number ? 0u : 2u)
        << c.text;
    if (c.port != -1) {
      EXPECT_ERRORS({});
      continue;
    }
    const std::string data = std::string("service='") + c.text + "'";
    EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GET_PORT, BIO_R_UNKNOWN_SERVICE, data.c_str()}});
  }
  unsigned short port = 0;
  EXPECT_EQ(BIO_get_port(nullptr, &port), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GET_PORT, BIO_R_NO_PORT_DEFINED}});
}

TEST_F(SockHelpers, AcceptSocketListensOnTheGivenAddress) {
  for (const char* format :
       {"127.0.0.1:PORT", "127.0.0.1:PORT/ignored:1", "127.0.0.1:x:PORT", "localhost:PORT"}) {
    unsigned short port = 0;
    int s = net_test::ListenOnFreePort(format, &port);
    ASSERT_NE(s, -1) << format << morvane_test::DrainErrors();
    sockaddr_in a;
    socklen_t len = sizeof(a);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    EXPECT_EQ(ntohs(a.sin_port), port) << format;
    EXPECT_EQ(ntohl(a.sin_addr.s_addr), 0x7F000001u) << format;
    int c = net_test::ConnectLoopback(port);
    EXPECT_NE(c, -1) << format;
    close(c);
    close(s);
  }
}

// The host text ends at the first colon, the port comes after the last.
TEST_F(SockHelpers, AcceptSocketFailuresLeaveNothingOpen) {
  int before = net_test::OpenDescriptors();
  for (const char* text : {"nosuch", "127.0.0.1:1:nosuch/99"}) {
    EXPECT_EQ(BIO_get_accept_socket(text, BIO_BIND_NORMAL), -1);
    EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GET_PORT, BIO_R_UNKNOWN_SERVICE, "service='nosuch'"}});
  }
  EXPECT_EQ(BIO_get_accept_socket("1..1:80", BIO_BIND_NORMAL), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GET_HOST_IP, BIO_R_INVALID_IP_ADDRESS, "host=1..1"}});
  EXPECT_EQ(BIO_get_accept_socket(nullptr, BIO_BIND_NORMAL), -1);
  ERR_clear_error();
  EXPECT_EQ(net_test::OpenDescriptors(), before);
}

TEST_F(SockHelpers, BindFailsWhileAListenerAnswers) {
  unsigned short port = 0;
  int live = net_test::ListenOnFreePort("127.0.0.1:PORT", &port);
  ASSERT_NE(live, -1);
  int before = net_test::OpenDescriptors();
  std::string text = "127.0.0.1:" + std::to_string(port);
  std::string data = "port='" + text + "'";
  for (int mode : {BIO_BIND_NORMAL, BIO_BIND_REUSEADDR_IF_UNUSED}) {
    EXPECT_EQ(BIO_get_accept_socket(text.c_str(), mode), -1) << mode;
    EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_BIND, EADDRINUSE, data.c_str()},
                   {ERR_LIB_BIO, BIO_F_BIO_GET_ACCEPT_SOCKET, BIO_R_UNABLE_TO_BIND_SOCKET}});
  }
  EXPECT_EQ(net_test::OpenDescriptors(), before);
  close(live);
}

TEST_F(SockHelpers, ReuseIfUnusedTakesOverLingeringConnections) {
  unsigned short port = 0;
  // The listener allows reuse, so its connections do too once it is gone.
  int l = net_test::ListenOnFreePort("127.0.0.1:PORT", &port, BIO_BIND_REUSEADDR);
  ASSERT_NE(l, -1);
  int client = net_test::ConnectLoopback(port);
  ASSERT_NE(client, -1);
  int server = accept(l, nullptr, nullptr);
  ASSERT_NE(server, -1);
  close(l);
  close(server);  // the server side closes first and lingers on the port
  close(client);

  std::string text = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(BIO_get_accept_socket(text.c_str(), BIO_BIND_NORMAL), -1);
  EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), EADDRINUSE);
  ERR_clear_error();
  int s = BIO_get_accept_socket(text.c_str(), BIO_BIND_REUSEADDR_IF_UNUSED);
  ASSERT_NE(s, -1) << morvane_test::DrainErrors();
  EXPECT_EQ(net_test::LocalPort(s), port);
  close(s);
}

TEST_F(SockHelpers, AcceptDescribesThePeer) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  int c1 = net_test::ConnectLoopback(port);
  int c2 = net_test::ConnectLoopback(port);
  int c3 = net_test::ConnectLoopback(port);
  ASSERT_NE(c3, -1);
  char* addr = nullptr;
  int s1 = BIO_accept(l, &addr);
  ASSERT_GE(s1, 0);
  ASSERT_NE(addr, nullptr);
  EXPECT_EQ(std::string(addr), "127.0.0.1:" + std::to_string(net_test::LocalPort(c1)));
  char* first = addr;
  int s2 = BIO_accept(l, &addr);  // the text is reused
  EXPECT_EQ(addr, first);
  EXPECT_EQ(std::string(addr), "127.0.0.1:" + std::to_string(net_test::LocalPort(c2)));
  MORVANE_free(addr);
  int s3 = BIO_accept(l, nullptr);
  EXPECT_GE(s3, 0);
  for (int fd : {c1, c2, c3, s1, s2, s3, l}) close(fd);

  EXPECT_EQ(BIO_accept(-1, nullptr), -1);
  EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_ACCEPT, EBADF},
                 {ERR_LIB_BIO, BIO_F_BIO_ACCEPT, BIO_R_ACCEPT_ERROR}});
  l = net_test::TcpLoopback(&port);
  ASSERT_EQ(BIO_socket_nbio(l, 1), 1);
  EXPECT_EQ(BIO_accept(l, nullptr), -2);  // nothing pending
  EXPECT_ERRORS({});
  close(l);
}

TEST_F(SockHelpers, NonBlockingModeAndOptions) {
  unsigned short port = 0;
  int s = net_test::TcpLoopback(&port, false);
  EXPECT_EQ(BIO_socket_nbio(s, 1), 1);
  EXPECT_NE(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(BIO_socket_nbio(s, 0), 1);
  EXPECT_EQ(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
  for (int on : {1, 0}) {
    EXPECT_EQ(BIO_set_tcp_ndelay(s, on), 1);
    int got = -1;
    socklen_t len = sizeof(got);
    getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &got, &len);
    EXPECT_EQ(got != 0, on != 0);
  }
  EXPECT_EQ(BIO_sock_error(s), 0);
  close(s);
  EXPECT_EQ(BIO_sock_init(), 1);
  BIO_sock_cleanup();
  EXPECT_ERRORS({});

  EXPECT_EQ(BIO_set_tcp_ndelay(-1, 1), 0);  // the failure is reported
  EXPECT_EQ(BIO_sock_error(-1), 1);         // the error cannot be read
  EXPECT_EQ(BIO_socket_nbio(-1, 1), 0);
  int mode = 1;
  EXPECT_EQ(BIO_socket_ioctl(-1, FIONBIO, &mode), -1);
  EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_IOCTLSOCKET, EBADF}, {ERR_LIB_SYS, SYS_F_IOCTLSOCKET, EBADF}});
}

TEST_F(SockHelpers, PendingErrorOfAFailedConnect) {
  unsigned short port = 0;
  int closed = net_test::TcpLoopback(&port, false);  // bound, not listening
  int c = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(BIO_socket_nbio(c, 1), 1);
  sockaddr_in a = net_test::Loopback(port);
  int r = connect(c, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  if (r == -1 && errno == EINPROGRESS) {
    ASSERT_TRUE(net_test::WaitWritable(c));
    EXPECT_EQ(BIO_sock_error(c), ECONNREFUSED);
    EXPECT_EQ(BIO_sock_error(c), 0);  // reading it clears it
  } else {
    EXPECT_EQ(errno, ECONNREFUSED);
  }
  close(c);
  close(closed);
}

// Which errno values ask for a retry, by name, for descriptors, sockets and
// datagrams (where ENOTCONN is final); and the results that consult errno.
TEST(RetryDecision, ByErrnoName) {
  const struct {
    int e;
    int fd, sock, dgram;
  } cases[] = {
      {EINTR, 1, 1, 1},    {EAGAIN, 1, 1, 1},      {EWOULDBLOCK, 1, 1, 1},  {EINPROGRESS, 1, 1, 1},
      {EALREADY, 1, 1, 1}, {EPROTO, 1, 1, 1},      {ENOTCONN, 1, 1, 0},     {0, 0, 0, 0},
      {EPIPE, 0, 0, 0},    {ECONNRESET, 0, 0, 0},  {ECONNREFUSED, 0, 0, 0}, {EBADF, 0, 0, 0},
      {EINVAL, 0, 0, 0},   {EADDRINUSE, 0, 0, 0},  {EMSGSIZE, 0, 0, 0},     {ENOENT, 0, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BIO_fd_non_fatal_error(c.e), c.fd) << c.e;
    EXPECT_EQ(BIO_sock_non_fatal_error(c.e), c.sock) << c.e;
    EXPECT_EQ(BIO_dgram_non_fatal_error(c.e), c.dgram) << c.e;
    for (int ret : {-1, 0, -2, 5}) {
      const int want = ret == -1 || ret == 0 ? c.sock : 0;
      errno = c.e;
      EXPECT_EQ(BIO_sock_should_retry(ret), want) << c.e << " " << ret;
      errno = c.e;
      EXPECT_EQ(BIO_fd_should_retry(ret), want) << c.e << " " << ret;
    }
  }
}

}  // namespace
