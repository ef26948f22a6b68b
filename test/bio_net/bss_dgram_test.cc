// Datagram streams over loopback UDP: one datagram per read and write, the
// peer of an unconnected stream, the connected mode, the MTU and time-out
// controls, and the expiry of the protocol layer's timer.  The waits are
// short (a few hundred milliseconds) and only bounded loosely.  The close
// flag is tested with the other descriptor streams (close_flag_test.cc).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "net_util.h"

namespace {

using Clock = std::chrono::steady_clock;

long Millis(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

timeval In(long ms) {
  timeval now;
  gettimeofday(&now, nullptr);
  long usec = now.tv_usec + (ms % 1000) * 1000;
  timeval t;
  t.tv_sec = now.tv_sec + ms / 1000 + usec / 1000000;
  t.tv_usec = usec % 1000000;
  return t;
}

class Datagram : public net_test::BoundedTest {
 protected:
  void SetUp() override {
    BoundedTest::SetUp();
    a_fd = net_test::UdpLoopback(&a_port);
    b_fd = net_test::UdpLoopback(&b_port);
    ASSERT_NE(a_fd, -1);
    ASSERT_NE(b_fd, -1);
    a = BIO_new_dgram(a_fd, BIO_CLOSE);
    ASSERT_NE(a, nullptr);
  }
  void TearDown() override {
    BoundedTest::TearDown();
    BIO_free(a);
    close(b_fd);
    EXPECT_EQ(ERR_peek_error(), 0u);  // this stream queues nothing
  }

  // Sends `data` from b to a.
  void SendToA(const std::string& data) {
    sockaddr_in to = net_test::Loopback(a_port);
    ASSERT_EQ(
        sendto(b_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)),
        static_cast<ssize_t>(data.size()));
  }
  std::string ReceiveAtB(unsigned short* from_port = nullptr) {
    char buf[2048];
    sockaddr_in from;
    socklen_t len = sizeof(from);
    if (!net_test::WaitReadable(b_fd)) return "<nothing>";
    ssize_t n = recvfrom(b_fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return "<error>";
    if (from_port != nullptr) *from_port = ntohs(from.sin_port);
    return std::string(buf, static_cast<size_t>(n));
  }

  int a_fd = -1, b_fd = -1;
  unsigned short a_port = 0, b_port = 0;
  BIO* a = nullptr;
};

TEST_F(Datagram, AnswersTheLastSender) {
  EXPECT_EQ(BIO_get_fd(a, nullptr), a_fd);

  SendToA("first");
  SendToA("second datagram");
  char buf[64];
  ASSERT_TRUE(net_test::WaitReadable(a_fd));
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), 5);  // one datagram per read
  EXPECT_EQ(std::string(buf, 5), "first");
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), 15);
  EXPECT_EQ(std::string(buf, 15), "second datagram");

  sockaddr_in peer;
  memset(&peer, 0xff, sizeof(peer));
  EXPECT_EQ(BIO_dgram_get_peer(a, &peer), 16);
  EXPECT_EQ(peer.sin_family, AF_INET);
  EXPECT_EQ(ntohs(peer.sin_port), b_port);
  EXPECT_EQ(ntohl(peer.sin_addr.s_addr), 0x7F000001u);

  EXPECT_EQ(BIO_write(a, "answer", 6), 6);
  unsigned short from = 0;
  EXPECT_EQ(ReceiveAtB(&from), "answer");
  EXPECT_EQ(from, a_port);
  EXPECT_EQ(BIO_puts(a, "puts"), 4);
  EXPECT_EQ(ReceiveAtB(), "puts");
  EXPECT_EQ(BIO_number_written(a), 10u);

  SendToA("");  // an empty datagram reads as 0, not as a retry
  ASSERT_TRUE(net_test::WaitReadable(a_fd));
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), 0);
  EXPECT_FALSE(BIO_should_retry(a));
  EXPECT_EQ(BIO_read(a, nullptr, 8), 0);
  BIO* fresh = BIO_new(BIO_s_datagram());
  EXPECT_EQ(BIO_get_fd(fresh, nullptr), -1);
  BIO_free(fresh);
}

TEST_F(Datagram, PeerSetByTheApplication) {
  sockaddr_in to = net_test::Loopback(b_port);
  EXPECT_EQ(BIO_dgram_set_peer(a, &to), 1);
  EXPECT_EQ(BIO_write(a, "to b", 4), 4);
  EXPECT_EQ(ReceiveAtB(), "to b");
  EXPECT_EQ(BIO_ctrl_dgram_connect(a, &to), 1);  // the same, and not connected
  EXPECT_EQ(BIO_write(a, "again", 5), 5);
  EXPECT_EQ(ReceiveAtB(), "again");
}

TEST_F(Datagram, ConnectedModeWritesWithoutAddress) {
  sockaddr_in to = net_test::Loopback(b_port);
  ASSERT_EQ(connect(a_fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0);
  EXPECT_EQ(BIO_ctrl_set_connected(a, 1, &to), 1);
  EXPECT_EQ(BIO_write(a, "connected", 9), 9);
  EXPECT_EQ(ReceiveAtB(), "connected");

  // While connected, reads leave the stored peer alone.
  unsigned short c_port = 0;
  int c_fd = net_test::UdpLoopback(&c_port);
  sockaddr_in stored = net_test::Loopback(c_port);
  EXPECT_EQ(BIO_ctrl_set_connected(a, 1, &stored), 1);
  SendToA("x");
  char buf[8];
  ASSERT_TRUE(net_test::WaitReadable(a_fd));
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), 1);
  sockaddr_in peer;
  BIO_dgram_get_peer(a, &peer);
  EXPECT_EQ(ntohs(peer.sin_port), c_port);
  close(c_fd);

  // Disconnected with no peer: writes go to a zeroed address and fail for
  // good (no retry).
  EXPECT_EQ(BIO_ctrl_set_connected(a, 0, nullptr), 1);
  BIO_dgram_get_peer(a, &peer);
  EXPECT_EQ(peer.sin_port, 0);
  EXPECT_EQ(peer.sin_family, 0);
  EXPECT_EQ(BIO_write(a, "nowhere", 7), -1);
  EXPECT_FALSE(BIO_should_retry(a));
}

TEST_F(Datagram, MtuControls) {
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_GET_MTU, 0, nullptr), 0);
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_SET_MTU, 1400, nullptr), 1400);
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_GET_MTU, 0, nullptr), 1400);
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_QUERY_MTU, 0, nullptr), 0);  // no answer here
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_MTU_DISCOVER, 0, nullptr), 1);
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_MTU_EXCEEDED, 0, nullptr), 0);

  // A datagram larger than UDP carries fails for good, and the layer above
  // learns that it was too big, once.
  sockaddr_in to = net_test::Loopback(b_port);
  BIO_dgram_set_peer(a, &to);
  std::string big(70000, 'b');
  EXPECT_EQ(BIO_write(a, big.data(), static_cast<int>(big.size())), -1);
  EXPECT_FALSE(BIO_should_retry(a));
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_MTU_EXCEEDED, 0, nullptr), 1);
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_MTU_EXCEEDED, 0, nullptr), 0);
  EXPECT_EQ(BIO_reset(a), 0);
  EXPECT_EQ(BIO_flush(a), 1);
}

// The receive time-out of the socket and the deadline of the protocol
// layer's timer: a read with nothing coming ends at the earlier of the two,
// reports the time-out once, and leaves the socket's own time-out as it was.
TEST_F(Datagram, ReadTimeOuts) {
  constexpr long kNone = -1000000;
  const struct {
    long socket_ms;    // 0: none
    long deadline_ms;  // from now; kNone: no deadline
    long min_ms, max_ms;
  } cases[] = {
      {200, kNone, 100, 3000},  // the socket's time-out
      {0, 300, 200, 3000},      // the deadline
      {100, 5000, 50, 3000},    // the shorter socket time-out stays
      {0, -10000, 0, 2000},     // a past deadline waits no more
      {0, 0, 0, 2000},          // nor one that is now (not forever)
  };
  for (const auto& c : cases) {
    unsigned short port = 0;
    BIO* d = BIO_new_dgram(net_test::UdpLoopback(&port), BIO_CLOSE);
    timeval t{c.socket_ms / 1000, c.socket_ms % 1000 * 1000};
    EXPECT_EQ(BIO_ctrl(d, BIO_CTRL_DGRAM_SET_RECV_TIMEOUT, 0, &t), 1);
    if (c.deadline_ms != kNone) {
      timeval deadline = In(c.deadline_ms);
      EXPECT_EQ(BIO_ctrl(d, BIO_CTRL_DGRAM_SET_NEXT_TIMEOUT, 0, &deadline), 1);
    }
    char buf[8];
    auto start = Clock::now();
    EXPECT_EQ(BIO_read(d, buf, sizeof(buf)), -1);
    long waited = Millis(start);
    EXPECT_GE(waited, c.min_ms) << c.socket_ms << " " << c.deadline_ms;
    EXPECT_LT(waited, c.max_ms) << c.socket_ms << " " << c.deadline_ms;
    EXPECT_TRUE(BIO_should_retry(d));
    EXPECT_TRUE(BIO_should_read(d));
    EXPECT_EQ(BIO_dgram_recv_timedout(d), 1);
    EXPECT_EQ(BIO_dgram_recv_timedout(d), 0);  // answered once
    timeval own{9, 9};
    EXPECT_EQ(BIO_ctrl(d, BIO_CTRL_DGRAM_GET_RECV_TIMEOUT, 0, &own),
              static_cast<long>(sizeof(timeval)));
    EXPECT_NEAR(own.tv_sec * 1000 + own.tv_usec / 1000, c.socket_ms, 50);
    BIO_free(d);
  }

  // Data that is there is read at once, whatever the deadline.
  timeval deadline = In(3000);
  BIO_ctrl(a, BIO_CTRL_DGRAM_SET_NEXT_TIMEOUT, 0, &deadline);
  SendToA("data");
  ASSERT_TRUE(net_test::WaitReadable(a_fd));
  char buf[8];
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), 4);
  EXPECT_EQ(BIO_dgram_recv_timedout(a), 0);

  timeval s{1, 0}, got{};
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_SET_SEND_TIMEOUT, 0, &s), 1);
  EXPECT_EQ(BIO_ctrl(a, BIO_CTRL_DGRAM_GET_SEND_TIMEOUT, 0, &got),
            static_cast<long>(sizeof(timeval)));
  EXPECT_EQ(got.tv_sec, 1);
  EXPECT_EQ(BIO_dgram_send_timedout(a), 0);

  // On a descriptor that is no socket the calls fail (after perror).
  BIO* bad = BIO_new_dgram(-1, BIO_NOCLOSE);
  EXPECT_EQ(BIO_ctrl(bad, BIO_CTRL_DGRAM_SET_RECV_TIMEOUT, 0, &s), -1);
  EXPECT_EQ(BIO_ctrl(bad, BIO_CTRL_DGRAM_GET_SEND_TIMEOUT, 0, &got), -1);
  BIO_free(bad);

  // Non-blocking: a retry at once; a negative length is a real failure.
  ASSERT_EQ(BIO_socket_nbio(a_fd, 1), 1);
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), -1);
  EXPECT_TRUE(BIO_should_read(a));
  EXPECT_EQ(BIO_read(a, buf, -1), -1);
  EXPECT_FALSE(BIO_should_retry(a));
}

}  // namespace
