// Socket and connect streams over loopback TCP: reads and writes with their
// retry flags, the connect state machine (blocking and not), its texts, its
// info callback, its errors and its retries.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "net_util.h"

namespace {

class NetStream : public net_test::BoundedTest {};

// ---- socket stream --------------------------------------------------------

TEST_F(NetStream, SocketStream) {
  int client, server;
  net_test::TcpPair(&client, &server);
  BIO* b = BIO_new_socket(server, BIO_CLOSE);
  ASSERT_NE(b, nullptr);
  int fd = -2;
  EXPECT_EQ(BIO_get_fd(b, &fd), server);
  EXPECT_EQ(fd, server);

  EXPECT_EQ(BIO_write(b, "hello", 5), 5);
  EXPECT_EQ(BIO_puts(b, " world"), 6);
  EXPECT_EQ(net_test::ReadExactly(client, 11), "hello world");
  ASSERT_TRUE(net_test::WriteAll(client, "reply"));
  char buf[16];
  EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), 5);
  EXPECT_EQ(std::string(buf, 5), "reply");
  EXPECT_EQ(BIO_number_read(b), 5u);
  EXPECT_EQ(BIO_number_written(b), 11u);
  EXPECT_EQ(BIO_gets(b, buf, sizeof(buf)), -2);  // no line reads on sockets
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GETS, BIO_R_UNSUPPORTED_METHOD}});
  EXPECT_EQ(BIO_ctrl_pending(b), 0u);
  EXPECT_EQ(BIO_flush(b), 1);

  // Non-blocking: retries when there is nothing to read or no room to write.
  ASSERT_EQ(BIO_socket_nbio(server, 1), 1);
  EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), -1);
  EXPECT_TRUE(BIO_should_retry(b));
  EXPECT_TRUE(BIO_should_read(b));
  std::string block(4096, 'x');
  int ret = 0;
  for (int i = 0; i < 100000 && (ret = BIO_write(b, block.data(), 4096)) > 0; ++i) {
  }
  EXPECT_EQ(ret, -1);
  EXPECT_TRUE(BIO_should_retry(b));
  EXPECT_TRUE(BIO_should_write(b));
  // A real failure clears the flags and asks for nothing.
  EXPECT_EQ(BIO_read(b, buf, -1), -1);
  EXPECT_FALSE(BIO_should_retry(b));
  // The end of the stream is no reason to retry.
  close(client);
  while ((ret = BIO_read(b, buf, sizeof(buf))) == -1 && net_test::WaitReadable(server)) {
  }
  EXPECT_EQ(ret, 0);
  EXPECT_FALSE(BIO_should_retry(b));
  BIO_free(b);
  EXPECT_FALSE(net_test::IsOpen(server));

  b = BIO_new(BIO_s_socket());
  EXPECT_EQ(BIO_get_fd(b, nullptr), -1);  // nothing set yet
  EXPECT_EQ(BIO_read(b, buf, 1), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_READ, BIO_R_UNINITIALIZED}});
  BIO_free(b);
}

// ---- connect stream -------------------------------------------------------

std::string Text(unsigned short port) {
  return std::to_string(port);
}

// The ways to name the peer: one text (a path after the port ignored), host
// and port apart, the address and port as numbers.  Each connects, with
// keep-alive on, and reads back its host and port as texts and numbers.
TEST_F(NetStream, ConnectStreamTargetsAndTalk) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  const std::string p = Text(port);
  const unsigned char loopback[4] = {127, 0, 0, 1};
  int iport = port;
  const struct {
    std::function<void(BIO*)> name;
    const char* host;
  } targets[] = {
      {[&](BIO* b) { BIO_set_conn_hostname(b, ("127.0.0.1:" + p).c_str()); }, "127.0.0.1"},
      {[&](BIO* b) { BIO_set_conn_hostname(b, ("localhost:" + p + "/a/path:99").c_str()); },
       "localhost"},
      {[&](BIO* b) { BIO_set_conn_hostname(b, "127.0.0.1"), BIO_set_conn_port(b, p.c_str()); },
       "127.0.0.1"},
      {[&](BIO* b) { BIO_set_conn_ip(b, loopback), BIO_set_conn_int_port(b, &iport); },
       "127.0.0.1"},
  };
  for (const auto& t : targets) {
    BIO* b = BIO_new(BIO_s_connect());
    t.name(b);
    EXPECT_EQ(BIO_get_fd(b, nullptr), -1);  // no socket yet
    EXPECT_EQ(BIO_do_connect(b), 1) << morvane_test::DrainErrors();
    EXPECT_EQ(BIO_do_connect(b), 1);  // already connected
    EXPECT_STREQ(BIO_get_conn_hostname(b), t.host);
    EXPECT_EQ(std::string(BIO_get_conn_port(b)), p);
    EXPECT_EQ(BIO_set_conn_hostname(b, nullptr), 1);  // a null text changes nothing
    EXPECT_STREQ(BIO_get_conn_hostname(b), t.host);
    EXPECT_EQ(memcmp(BIO_get_conn_ip(b), loopback, 4), 0);
    int got = 0;
    EXPECT_EQ(BIO_ctrl(b, BIO_C_GET_CONNECT, 3, &got), 1);
    EXPECT_EQ(got, port);
    int fd = -1, keepalive = 0;
    EXPECT_GE(BIO_get_fd(b, &fd), 0);
    socklen_t len = sizeof(keepalive);
    getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepalive, &len);
    EXPECT_EQ(keepalive, 1);

    int s = accept(l, nullptr, nullptr);
    ASSERT_NE(s, -1);
    EXPECT_EQ(BIO_puts(b, "ping"), 4);
    EXPECT_EQ(net_test::ReadExactly(s, 4), "ping");
    ASSERT_TRUE(net_test::WriteAll(s, "pong"));
    char buf[8];
    EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), 4);
    EXPECT_EQ(std::string(buf, 4), "pong");
    EXPECT_EQ(BIO_read(b, nullptr, 1), 0);  // connected already: nothing to do
    EXPECT_EQ(BIO_ctrl_pending(b), 0u);
    EXPECT_EQ(BIO_ctrl_wpending(b), 0u);
    BIO_free(b);
    EXPECT_FALSE(net_test::IsOpen(fd));
    EXPECT_EQ(net_test::ReadExactly(s, 1), "");  // the client is gone
    close(s);
  }
  close(l);
  EXPECT_ERRORS({});
}

TEST_F(NetStream, ConnectWithoutHostOrPort) {
  BIO* b = BIO_new(BIO_s_connect());
  // Nothing set: the texts read "not initialized" (and a port slot 0).
  EXPECT_STREQ(BIO_get_conn_hostname(b), "not initialized");
  EXPECT_STREQ(BIO_get_conn_port(b), "not initialized");
  int iport = 1234;
  EXPECT_EQ(BIO_ctrl(b, BIO_C_GET_CONNECT, 3, &iport), 1);
  EXPECT_EQ(iport, 0);
  EXPECT_EQ(BIO_ctrl(b, BIO_C_GET_CONNECT, 0, nullptr), 1);

  char c;
  EXPECT_EQ(BIO_read(b, &c, 1), -2);  // uninitialised
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_READ, BIO_R_UNINITIALIZED}});
  EXPECT_EQ(BIO_do_connect(b), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_CONN_STATE, BIO_R_NO_HOSTNAME_SPECIFIED}});
  BIO_free(b);

  b = BIO_new_connect("127.0.0.1");
  EXPECT_EQ(BIO_write(b, "x", 1), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_CONN_STATE, BIO_R_NO_PORT_SPECIFIED, "host=127.0.0.1"}});
  EXPECT_FALSE(BIO_should_retry(b));
  BIO_free(b);
}

// Records every call of the info callback.
std::vector<std::pair<int, int>> g_steps;
int g_stop_at = -1;          // the state after which the callback returns 0
bool g_zero_is_one = false;  // turn a result of 0 into 1
int Recorder(const BIO*, int state, int ret) {
  g_steps.emplace_back(state, ret);
  if (state == g_stop_at) return 0;
  return ret == 0 && g_zero_is_one ? 1 : ret;
}

// The info callback travels as bio_info_cb*.
bio_info_cb* AsInfoCb(int (*cb)(const BIO*, int, int)) {
  return reinterpret_cast<bio_info_cb*>(reinterpret_cast<void (*)(void)>(cb));
}

TEST_F(NetStream, InfoCallbackSeesEveryStep) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  std::string target = "127.0.0.1:" + Text(port);
  BIO* b = BIO_new_connect(target.c_str());
  g_steps.clear();
  g_stop_at = -1;
  g_zero_is_one = false;
  EXPECT_EQ(BIO_set_info_callback(b, AsInfoCb(Recorder)), 1);
  int (*got)(const BIO*, int, int) = nullptr;
  EXPECT_EQ(BIO_get_info_callback(b, &got), 1);
  EXPECT_EQ(got, &Recorder);
  EXPECT_EQ(BIO_ctrl(b, BIO_CTRL_SET_CALLBACK, 0, nullptr), 0);  // only through callback_ctrl

  // The callback's result replaces the current one, and 0 stops the
  // machine: passed through, the 0 of a connect that succeeded at once
  // stops it in BIO_CONN_S_OK; the next run finds it connected.
  EXPECT_EQ(BIO_do_connect(b), 0);
  auto to_ok = [&] {  // the steps of a run from the start to BIO_CONN_S_OK
    const int fd = BIO_get_fd(b, nullptr);
    return std::vector<std::pair<int, int>>{
        {BIO_CONN_S_GET_IP, -1}, {BIO_CONN_S_GET_PORT, -1}, {BIO_CONN_S_CREATE_SOCKET, -1},
        {BIO_CONN_S_NBIO, fd},   {BIO_CONN_S_CONNECT, fd},  {BIO_CONN_S_OK, 0}};
  };
  EXPECT_EQ(g_steps, to_ok());
  g_steps.clear();
  EXPECT_EQ(BIO_do_connect(b), 1);
  EXPECT_TRUE(g_steps.empty());

  // A callback that says 1 where the machine says 0 lets it finish.
  EXPECT_EQ(BIO_reset(b), 0);
  g_steps.clear();
  g_zero_is_one = true;
  EXPECT_EQ(BIO_do_connect(b), 1);
  auto want = to_ok();
  want.emplace_back(BIO_CONN_S_OK, 1);
  EXPECT_EQ(g_steps, want);

  // A callback returning 0 stops the machine where it stands.
  EXPECT_EQ(BIO_reset(b), 0);
  g_steps.clear();
  g_stop_at = BIO_CONN_S_GET_PORT;
  EXPECT_EQ(BIO_do_connect(b), 0);
  EXPECT_EQ(g_steps, decltype(want)(want.begin(), want.begin() + 2));
  g_steps.clear();
  g_stop_at = -1;
  EXPECT_EQ(BIO_do_connect(b), 1);  // goes on from BIO_CONN_S_GET_PORT
  ASSERT_FALSE(g_steps.empty());
  EXPECT_EQ(g_steps[0], std::make_pair(BIO_CONN_S_CREATE_SOCKET, -1));

  // A copy gets the texts, the mode and the callback.
  BIO* copy = BIO_dup_chain(b);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(BIO_get_conn_hostname(copy), "127.0.0.1");
  EXPECT_EQ(std::string(BIO_get_conn_port(copy)), Text(port));
  got = nullptr;
  BIO_get_info_callback(copy, &got);
  EXPECT_EQ(got, &Recorder);
  // It connects on a socket of its own and leaves the original's alone.
  EXPECT_EQ(BIO_get_fd(copy, nullptr), -1);
  EXPECT_EQ(BIO_do_connect(copy), 1);
  EXPECT_NE(BIO_get_fd(copy, nullptr), BIO_get_fd(b, nullptr));
  BIO_free(copy);
  EXPECT_TRUE(net_test::IsOpen(BIO_get_fd(b, nullptr)));
  EXPECT_EQ(BIO_write(b, "x", 1), 1);
  BIO_free(b);
  for (int i = 0; i < 3; ++i) {
    int s = accept(l, nullptr, nullptr);
    if (s != -1) close(s);
  }
  close(l);
}

TEST_F(NetStream, NonBlockingConnectAsksForARetry) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  std::string target = "127.0.0.1:" + Text(port);
  BIO* b = BIO_new_connect(target.c_str());
  BIO_set_nbio(b, 1);
  int ret = BIO_write(b, "data", 4);
  int fd = BIO_get_fd(b, nullptr);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  int rounds = 0;
  while (ret == -1 && rounds++ < 10) {
    ASSERT_TRUE(BIO_should_retry(b));
    ASSERT_TRUE(BIO_should_io_special(b));
    ASSERT_EQ(BIO_get_retry_reason(b), BIO_RR_CONNECT);
    ASSERT_TRUE(net_test::WaitWritable(fd));
    ret = BIO_write(b, "data", 4);
  }
  EXPECT_EQ(ret, 4) << morvane_test::DrainErrors();
  int s = accept(l, nullptr, nullptr);
  ASSERT_NE(s, -1);
  EXPECT_EQ(net_test::ReadExactly(s, 4), "data");
  char buf[8];
  EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), -1);  // nothing yet
  EXPECT_TRUE(BIO_should_read(b));
  BIO_free(b);
  close(s);
  close(l);
}

// A refused connection is reported and never later taken for a success:
// the next run tries again on a fresh socket.
TEST_F(NetStream, RefusedConnectionsAreRetriedOnAFreshSocket) {
  for (int nbio : {0, 1}) {
    unsigned short port = 0;
    int reserved = net_test::TcpLoopback(&port, false);  // bound, nobody listening
    std::string target = "127.0.0.1:" + Text(port);
    BIO* b = BIO_new_connect(target.c_str());
    BIO_set_nbio(b, nbio);
    int before = net_test::OpenDescriptors();

    int ret = net_test::DriveConnect(b);
    EXPECT_LE(ret, 0) << nbio;
    EXPECT_FALSE(BIO_should_retry(b));
    EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_CONNECT, ECONNREFUSED, ("host=" + target).c_str()},
                   {ERR_LIB_BIO, BIO_F_CONN_STATE,
                    ret == 0 ? BIO_R_NBIO_CONNECT_ERROR : BIO_R_CONNECT_ERROR}});
    EXPECT_EQ(BIO_get_fd(b, nullptr), -1);  // the failed socket is gone
    EXPECT_EQ(net_test::OpenDescriptors(), before);

    // Somebody listens now: the next run connects.
    ASSERT_EQ(listen(reserved, 4), 0);
    EXPECT_EQ(net_test::DriveConnect(b), 1) << morvane_test::DrainErrors();
    EXPECT_EQ(BIO_write(b, "x", 1), 1);
    BIO_free(b);
    close(reserved);
  }
}

TEST_F(NetStream, ResetAndCloseFlag) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  std::string target = "127.0.0.1:" + Text(port);
  BIO* b = BIO_new_connect(target.c_str());
  ASSERT_EQ(BIO_do_connect(b), 1);
  int fd = BIO_get_fd(b, nullptr);
  EXPECT_EQ(BIO_reset(b), 0);
  EXPECT_FALSE(net_test::IsOpen(fd));
  EXPECT_EQ(BIO_get_fd(b, nullptr), -1);
  ASSERT_EQ(BIO_do_connect(b), 1);  // the texts were kept
  int first = accept(l, nullptr, nullptr);
  close(first);

  fd = BIO_get_fd(b, nullptr);
  EXPECT_EQ(BIO_set_close(b, BIO_NOCLOSE), 1);
  EXPECT_EQ(BIO_get_close(b), BIO_NOCLOSE);
  BIO_free(b);  // the record goes (the leak checker watches), the socket stays
  EXPECT_TRUE(net_test::IsOpen(fd));
  int s = accept(l, nullptr, nullptr);
  ASSERT_TRUE(net_test::WriteAll(fd, "still here"));
  EXPECT_EQ(net_test::ReadExactly(s, 10), "still here");
  close(fd);
  close(s);
  close(l);
}

}  // namespace
