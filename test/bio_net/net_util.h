// Helpers of the network stream suites: loopback sockets on 127.0.0.1 only
// (ephemeral ports, so suites running in parallel never collide), bounded
// waits, descriptor inspection.
#ifndef MORVANE_TEST_BIO_NET_UTIL_H
#define MORVANE_TEST_BIO_NET_UTIL_H

#include <netinet/in.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>

#include "test_support.h"

namespace net_test {

// The fixture of the network suites: starts with an empty error queue,
// ignores SIGPIPE (a write to a closed connection fails with EPIPE instead),
// and ends the process with SIGALRM when a test runs for more than 10
// seconds, so that a call blocking where it should not fails the test
// instead of hanging it.
class BoundedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// 127.0.0.1:port.
sockaddr_in Loopback(unsigned short port);
// The local port of a bound socket.
unsigned short LocalPort(int fd);

// A TCP socket bound to 127.0.0.1 at an ephemeral port; listening when
// `listening` (backlog 16).  Fails the test (returns -1) on error.
int TcpLoopback(unsigned short* port, bool listening = true);
// A blocking TCP connection to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(unsigned short port);
// Both ends of one loopback TCP connection.
void TcpPair(int* client, int* server);
// A UDP socket bound to 127.0.0.1 at an ephemeral port.
int UdpLoopback(unsigned short* port);
// A port on 127.0.0.1 that was free a moment ago: for the calls that take a
// port as text.  Callers retry when it was taken in between.
unsigned short FreePort();
// BIO_get_accept_socket on `format` with "PORT" replaced by a port that was
// free a moment ago; tried again a few times in case another process took
// it in between.  The listening socket, or -1.
int ListenOnFreePort(const std::string& format, unsigned short* port, int bind_mode = 0);

// Waits at most `ms` milliseconds for the descriptor to become readable or
// writable; false on time-out.
bool WaitReadable(int fd, int ms = 3000);
bool WaitWritable(int fd, int ms = 3000);

// BIO_do_connect, run again (after waiting for the socket) while it asks for
// a retry, at most 10 times; its last result.
int DriveConnect(BIO* b);

bool IsOpen(int fd);
// Number of open descriptors of the process.
int OpenDescriptors();

// Reads exactly n bytes from a blocking descriptor (bounded by a time-out);
// what arrived.
std::string ReadExactly(int fd, size_t n);
using morvane_test::WriteAll;

}  // namespace net_test

#endif  // MORVANE_TEST_BIO_NET_UTIL_H
