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

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "net_util.h"
#include "test_support.h"

namespace {

using net_test::DrainErrors;
using net_test::QueuedError;

// The requests that reached the locking callback for lock `type`.
std::vector<morvane_test::LockEvent> Only(const std::vector<morvane_test::LockEvent>& all,
                                          int type) {
  std::vector<morvane_test::LockEvent> out;
  for (const auto& e : all)
    if (e.type == type) out.push_back(e);
  return out;
}

class SockHelpers : public net_test::BoundedTest {};

TEST_F(SockHelpers, DottedQuadIsTakenWithoutLookup) {
  morvane_test::InstallLockingCallback();
  struct {
    const char* text;
    unsigned char ip[4];
  } cases[] = {
      {"127.0.0.1", {127, 0, 0, 1}},
      {"10.1.2.3", {10, 1, 2, 3}},
      {"255.255.255.255", {255, 255, 255, 255}},
      {"0.0.0.0", {0, 0, 0, 0}},
      {"001.002.003.004", {1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    unsigned char ip[4] = {9, 9, 9, 9};
    morvane_test::StartRecordingLocks();
    EXPECT_EQ(BIO_get_host_ip(c.text, ip), 1) << c.text;
    EXPECT_TRUE(Only(morvane_test::StopRecordingLocks(), CRYPTO_LOCK_GETHOSTBYNAME).empty());
    EXPECT_EQ(0, memcmp(ip, c.ip, 4)) << c.text;
  }
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(SockHelpers, NamesAreLookedUpUnderTheLock) {
  morvane_test::InstallLockingCallback();
  unsigned char ip[4] = {0, 0, 0, 0};
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(BIO_get_host_ip("localhost", ip), 1) << net_test::Describe(DrainErrors());
  std::vector<morvane_test::LockEvent> want = {
      morvane_test::WriteLock(CRYPTO_LOCK_GETHOSTBYNAME),
      morvane_test::WriteUnlock(CRYPTO_LOCK_GETHOSTBYNAME)};
  EXPECT_EQ(Only(morvane_test::StopRecordingLocks(), CRYPTO_LOCK_GETHOSTBYNAME), want);
  EXPECT_EQ(ip[0], 127);
}

// Texts that are not a complete dotted quad for us go to the platform's
// lookup.  Only texts of digits and dots are used, which the platform's
// resolver decides on by itself, without asking a name server.
TEST_F(SockHelpers, IncompleteAddressesFallBackToTheLookup) {
  morvane_test::InstallLockingCallback();
  unsigned char ip[4];
  morvane_test::StartRecordingLocks();
  // Three parts: the platform reads them as 1.2.0.3.
  EXPECT_EQ(BIO_get_host_ip("1.2.3", ip), 1);
  EXPECT_EQ(Only(morvane_test::StopRecordingLocks(), CRYPTO_LOCK_GETHOSTBYNAME).size(), 2u);

  for (const char* text : {"1.2.3.300", "1.2.3.4.5"}) {
    morvane_test::StartRecordingLocks();
    EXPECT_EQ(BIO_get_host_ip(text, ip), 0) << text;
    EXPECT_EQ(Only(morvane_test::StopRecordingLocks(), CRYPTO_LOCK_GETHOSTBYNAME).size(), 2u);
    std::vector<QueuedError> errors = DrainErrors();
    ASSERT_EQ(errors.size(), 1u) << net_test::Describe(errors);
    EXPECT_EQ(errors[0].lib, ERR_LIB_BIO);
    EXPECT_EQ(errors[0].func, BIO_F_BIO_GET_HOST_IP);
    EXPECT_EQ(errors[0].reason, BIO_R_BAD_HOSTNAME_LOOKUP);
    EXPECT_EQ(errors[0].data, std::string("host=") + text);
  }
}

TEST_F(SockHelpers, EmptyPartIsAnInvalidAddress) {
  morvane_test::InstallLockingCallback();
  for (const char* text : {"1..2.3", ".1.2.3", "127.0..1"}) {
    unsigned char ip[4] = {7, 7, 7, 7};
    morvane_test::StartRecordingLocks();
    EXPECT_EQ(BIO_get_host_ip(text, ip), 0) << text;
    EXPECT_TRUE(Only(morvane_test::StopRecordingLocks(), CRYPTO_LOCK_GETHOSTBYNAME).empty());
    std::vector<QueuedError> errors = DrainErrors();
    ASSERT_EQ(errors.size(), 1u) << net_test::Describe(errors);
    EXPECT_EQ(errors[0].func, BIO_F_BIO_GET_HOST_IP);
    EXPECT_EQ(errors[0].reason, BIO_R_INVALID_IP_ADDRESS);
    EXPECT_EQ(errors[0].data, std::string("host=") + text);
    EXPECT_EQ(ip[0], 7);
  }
  unsigned char ip[4];
  EXPECT_EQ(BIO_get_host_ip(nullptr, ip), 0);
  EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), BIO_R_NULL_PARAMETER);
}

TEST_F(SockHelpers, PortNumbersAndServiceNames) {
  morvane_test::InstallLockingCallback();
  unsigned short port = 0;
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(BIO_get_port("443", &port), 1);
  EXPECT_EQ(port, 443);
  EXPECT_EQ(BIO_get_port("8080/tcp", &port), 1);  // the leading number decides
  EXPECT_EQ(port, 8080);
  EXPECT_EQ(BIO_get_port("70000", &port), 1);  // its low 16 bits
  EXPECT_EQ(port, 70000 - 65536);
  EXPECT_TRUE(Only(morvane_test::StopRecordingLocks(), CRYPTO_LOCK_GETSERVBYNAME).empty());

  // Known to the platform's database or else to the built-in table.
  struct {
    const char* name;
    unsigned short port;
  } services[] = {{"http", 80}, {"telnet", 23}, {"socks", 1080}, {"https", 443},
                  {"ssl", 443}, {"ftp", 21},    {"gopher", 70}};
  for (const auto& s : services) {
    port = 0;
    morvane_test::StartRecordingLocks();
    EXPECT_EQ(BIO_get_port(s.name, &port), 1) << s.name;
    EXPECT_EQ(port, s.port) << s.name;
    std::vector<morvane_test::LockEvent> want = {
        morvane_test::WriteLock(CRYPTO_LOCK_GETSERVBYNAME),
        morvane_test::WriteUnlock(CRYPTO_LOCK_GETSERVBYNAME)};
    EXPECT_EQ(Only(morvane_test::StopRecordingLocks(), CRYPTO_LOCK_GETSERVBYNAME), want);
  }
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(SockHelpers, UnknownServiceAndMissingPort) {
  unsigned short port = 77;
  // "0" is not a number for this purpose: it is looked up as a service.
  for (const char* text : {"0", "no-such-service-here", "SSL"}) {
    EXPECT_EQ(BIO_get_port(text, &port), 0) << text;
    std::vector<QueuedError> errors = DrainErrors();
    ASSERT_EQ(errors.size(), 1u) << net_test::Describe(errors);
    EXPECT_EQ(errors[0].lib, ERR_LIB_SYS);
    EXPECT_EQ(errors[0].func, SYS_F_GETSERVBYNAME);
    EXPECT_EQ(errors[0].data, std::string("service='") + text + "'");
  }
  EXPECT_EQ(port, 77);
  EXPECT_EQ(BIO_get_port(nullptr, &port), 0);
  std::vector<QueuedError> errors = DrainErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].func, BIO_F_BIO_GET_PORT);
  EXPECT_EQ(errors[0].reason, BIO_R_NO_PORT_DEFINED);
}

// BIO_get_accept_socket on "<text>" with a port that was free a moment ago;
// retried a few times in case another process took the port in between.
int ListenOnFreePort(const std::string& format, unsigned short* port, int bind_mode = 0) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    *port = net_test::FreePort();
    std::string text = format;
    size_t at = text.find("PORT");
    text.replace(at, 4, std::to_string(*port));
    int s = BIO_get_accept_socket(text.c_str(), bind_mode);
    if (s != -1) return s;
    ERR_clear_error();
  }
  return -1;
}

TEST_F(SockHelpers, AcceptSocketListensOnTheGivenAddress) {
  for (const char* format :
       {"127.0.0.1:PORT", "127.0.0.1:PORT/ignored:1", "127.0.0.1:x:PORT", "localhost:PORT"}) {
    unsigned short port = 0;
    int s = ListenOnFreePort(format, &port);
    ASSERT_NE(s, -1) << format << net_test::Describe(DrainErrors());
    sockaddr_in a;
    socklen_t len = sizeof(a);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    EXPECT_EQ(ntohs(a.sin_port), port) << format;
    EXPECT_EQ(ntohl(a.sin_addr.s_addr), 0x7F000001u) << format;
    int listening = 0;
    len = sizeof(listening);
    getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len);
    EXPECT_EQ(listening, 1);
    int c = net_test::ConnectLoopback(port);
    EXPECT_NE(c, -1);
    close(c);
    close(s);
  }
}

TEST_F(SockHelpers, AcceptSocketFailuresLeaveNothingOpen) {
  int before = net_test::OpenDescriptors();
  // A bare "0" is the port text; it names no service.
  EXPECT_EQ(BIO_get_accept_socket("0", BIO_BIND_NORMAL), -1);
  std::vector<QueuedError> errors = DrainErrors();
  ASSERT_EQ(errors.size(), 1u) << net_test::Describe(errors);
  EXPECT_EQ(errors[0].data, "service='0'");
  // The host text ends at the first colon, the port comes after the last.
  EXPECT_EQ(BIO_get_accept_socket("127.0.0.1:1:0/99", BIO_BIND_NORMAL), -1);
  errors = DrainErrors();
  ASSERT_EQ(errors.size(), 1u) << net_test::Describe(errors);
  EXPECT_EQ(errors[0].data, "service='0'");
  EXPECT_EQ(BIO_get_accept_socket("1..1:80", BIO_BIND_NORMAL), -1);
  errors = DrainErrors();
  ASSERT_EQ(errors.size(), 1u) << net_test::Describe(errors);
  EXPECT_EQ(errors[0].reason, BIO_R_INVALID_IP_ADDRESS);
  EXPECT_EQ(BIO_get_accept_socket(nullptr, BIO_BIND_NORMAL), -1);
  EXPECT_EQ(net_test::OpenDescriptors(), before);
}

TEST_F(SockHelpers, BindFailsWhileAListenerAnswers) {
  unsigned short port = 0;
  int live = ListenOnFreePort("127.0.0.1:PORT", &port);
  ASSERT_NE(live, -1);
  int before = net_test::OpenDescriptors();
  std::string text = "127.0.0.1:" + std::to_string(port);
  for (int mode : {BIO_BIND_NORMAL, BIO_BIND_REUSEADDR_IF_UNUSED}) {
    EXPECT_EQ(BIO_get_accept_socket(text.c_str(), mode), -1) << mode;
    std::vector<QueuedError> errors = DrainErrors();
    ASSERT_EQ(errors.size(), 2u) << net_test::Describe(errors);
    EXPECT_EQ(errors[0].lib, ERR_LIB_SYS);
    EXPECT_EQ(errors[0].func, SYS_F_BIND);
    EXPECT_EQ(errors[0].reason, EADDRINUSE);
    EXPECT_EQ(errors[0].data, "port='" + text + "'");
    EXPECT_EQ(errors[1].lib, ERR_LIB_BIO);
    EXPECT_EQ(errors[1].func, BIO_F_BIO_GET_ACCEPT_SOCKET);
    EXPECT_EQ(errors[1].reason, BIO_R_UNABLE_TO_BIND_SOCKET);
  }
  EXPECT_EQ(net_test::OpenDescriptors(), before);
  close(live);
}

TEST_F(SockHelpers, ReuseIfUnusedTakesOverLingeringConnections) {
  unsigned short port = 0;
  // The listener allows reuse, so its connections do too once it is gone.
  int l = ListenOnFreePort("127.0.0.1:PORT", &port, BIO_BIND_REUSEADDR);
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
  std::vector<QueuedError> errors = DrainErrors();
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0].reason, EADDRINUSE);

  int s = BIO_get_accept_socket(text.c_str(), BIO_BIND_REUSEADDR_IF_UNUSED);
  ASSERT_NE(s, -1) << net_test::Describe(DrainErrors());
  EXPECT_EQ(net_test::LocalPort(s), port);
  int c = net_test::ConnectLoopback(port);
  EXPECT_NE(c, -1);
  close(c);
  close(s);
}

TEST_F(SockHelpers, AcceptDescribesThePeer) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  int c1 = net_test::ConnectLoopback(port);
  int c2 = net_test::ConnectLoopback(port);
  ASSERT_NE(c1, -1);
  ASSERT_NE(c2, -1);

  char* addr = nullptr;
  int s1 = BIO_accept(l, &addr);
  ASSERT_GE(s1, 0);
  ASSERT_NE(addr, nullptr);
  EXPECT_EQ(std::string(addr), "127.0.0.1:" + std::to_string(net_test::LocalPort(c1)));
  char* first = addr;
  int s2 = BIO_accept(l, &addr);  // the text is reused
  ASSERT_GE(s2, 0);
  EXPECT_EQ(addr, first);
  EXPECT_EQ(std::string(addr), "127.0.0.1:" + std::to_string(net_test::LocalPort(c2)));
  MORVANE_free(addr);

  int c3 = net_test::ConnectLoopback(port);
  int s3 = BIO_accept(l, nullptr);
  EXPECT_GE(s3, 0);
  for (int fd : {c1, c2, c3, s1, s2, s3, l}) close(fd);
}

TEST_F(SockHelpers, AcceptWithNothingPendingOrOnABadSocket) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  ASSERT_EQ(BIO_socket_nbio(l, 1), 1);
  EXPECT_EQ(BIO_accept(l, nullptr), -2);
  EXPECT_EQ(ERR_peek_error(), 0u);
  close(l);

  EXPECT_EQ(BIO_accept(-1, nullptr), -1);
  std::vector<QueuedError> errors = DrainErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].lib, ERR_LIB_SYS);
  EXPECT_EQ(errors[0].func, SYS_F_ACCEPT);
  EXPECT_EQ(errors[0].reason, EBADF);
  EXPECT_EQ(errors[1].func, BIO_F_BIO_ACCEPT);
  EXPECT_EQ(errors[1].reason, BIO_R_ACCEPT_ERROR);
}

TEST_F(SockHelpers, NonBlockingModeAndOptions) {
  unsigned short port = 0;
  int s = net_test::TcpLoopback(&port, false);
  EXPECT_EQ(BIO_socket_nbio(s, 1), 1);
  EXPECT_NE(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(BIO_socket_nbio(s, 0), 1);
  EXPECT_EQ(fcntl(s, F_GETFL) & O_NONBLOCK, 0);

  EXPECT_EQ(BIO_set_tcp_ndelay(s, 1), 1);
  int on = 0;
  socklen_t len = sizeof(on);
  getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, &len);
  EXPECT_NE(on, 0);
  EXPECT_EQ(BIO_set_tcp_ndelay(s, 0), 1);
  getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, &len);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(BIO_sock_error(s), 0);
  close(s);
  EXPECT_EQ(ERR_peek_error(), 0u);

  EXPECT_EQ(BIO_sock_init(), 1);
  BIO_sock_cleanup();
  EXPECT_EQ(BIO_set_tcp_ndelay(-1, 1), 0);
  EXPECT_EQ(BIO_sock_error(-1), 1);  // the error cannot be read
  int mode = 1;
  EXPECT_EQ(BIO_socket_ioctl(-1, FIONBIO, &mode), -1);
  std::vector<QueuedError> errors = DrainErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].lib, ERR_LIB_SYS);
  EXPECT_EQ(errors[0].func, SYS_F_IOCTLSOCKET);
  EXPECT_EQ(errors[0].reason, EBADF);
  EXPECT_EQ(BIO_socket_nbio(-1, 1), 0);
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

TEST_F(SockHelpers, RetryDecisionIsByErrnoName) {
  for (int e : {EINTR, EAGAIN, EWOULDBLOCK, EINPROGRESS, EALREADY, ENOTCONN, EPROTO}) {
    EXPECT_EQ(BIO_sock_non_fatal_error(e), 1) << e;
    errno = e;
    EXPECT_EQ(BIO_sock_should_retry(-1), 1) << e;
    errno = e;
    EXPECT_EQ(BIO_sock_should_retry(0), 1) << e;
    errno = e;
    EXPECT_EQ(BIO_sock_should_retry(5), 0) << e;
    errno = e;
    EXPECT_EQ(BIO_sock_should_retry(-2), 0) << e;
  }
  for (int e : {0, EPIPE, ECONNRESET, ECONNREFUSED, EBADF, EADDRINUSE, EMSGSIZE}) {
    EXPECT_EQ(BIO_sock_non_fatal_error(e), 0) << e;
    errno = e;
    EXPECT_EQ(BIO_sock_should_retry(-1), 0) << e;
  }
}

}  // namespace
