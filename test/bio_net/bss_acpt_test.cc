// Accept streams over loopback TCP: listening from a text address or on an
// adopted socket, handing each connection on as a socket stream (behind a
// copy of a configured chain), blocking and non-blocking accepts.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "net_util.h"

namespace {

class AcceptStream : public net_test::BoundedTest {};

// An accept stream on a listening socket of ours at an ephemeral port.
BIO* AdoptedAcceptStream(unsigned short* port, int* listener) {
  *listener = net_test::TcpLoopback(port);
  BIO* a = BIO_new(BIO_s_accept());
  BIO_set_fd(a, *listener, BIO_CLOSE);
  return a;
}

TEST_F(AcceptStream, HandsEachConnectionOnAsASocketStream) {
  unsigned short port = 0;
  int l = -1;
  BIO* a = AdoptedAcceptStream(&port, &l);
  EXPECT_EQ(BIO_get_fd(a, nullptr), l);
  // Connections inherit the watcher callback and its argument.
  BIO* sink = BIO_new(BIO_s_mem());
  BIO_set_callback(a, BIO_debug_callback);
  BIO_set_callback_arg(a, reinterpret_cast<char*>(sink));

  for (int round = 0; round < 3; ++round) {
    int c = net_test::ConnectLoopback(port);
    ASSERT_NE(c, -1);
    EXPECT_EQ(BIO_do_accept(a), 1);
    BIO* conn = BIO_next(a);
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(BIO_method_type(conn), BIO_TYPE_SOCKET);
    EXPECT_EQ(BIO_get_callback(conn), BIO_debug_callback);
    EXPECT_EQ(BIO_get_callback_arg(conn), reinterpret_cast<char*>(sink));
    EXPECT_EQ(BIO_do_accept(a), 1);  // still attached: nothing to do

    std::string msg = "round " + std::to_string(round);
    ASSERT_TRUE(net_test::WriteAll(c, msg));
    char buf[32];
    int n = BIO_read(a, buf, sizeof(buf));
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), msg);
    EXPECT_EQ(BIO_puts(a, "back"), 4);
    EXPECT_EQ(net_test::ReadExactly(c, 4), "back");

    if (round == 2) {  // the client leaves: the end of data, no retry
      close(c);
      EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), 0);
      EXPECT_FALSE(BIO_should_retry(a));
    }
    // The application takes the connection off; the next run accepts anew.
    EXPECT_EQ(BIO_pop(a), conn);
    BIO_free(conn);
    if (round < 2) {
      EXPECT_EQ(net_test::ReadExactly(c, 1), "");
      close(c);
    }
  }
  EXPECT_EQ(BIO_ctrl_pending(a), 0u);  // not answered
  EXPECT_EQ(BIO_reset(a), 0);           // closes the listening socket
  EXPECT_FALSE(net_test::IsOpen(l));
  EXPECT_EQ(BIO_get_fd(a, nullptr), -1);
  BIO_free_all(a);
  BIO_free(sink);
  EXPECT_ERRORS({});
}

// An accept stream on "127.0.0.1:<port>" whose first step has made the
// listening socket: BIO_do_accept, or (non-blocking) a read that asks for a
// retry.  Tried again when another process took the port in between.
BIO* ListeningAcceptStream(unsigned short* port, bool nbio) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    *port = net_test::FreePort();
    std::string text = "127.0.0.1:" + std::to_string(*port);
    BIO* a = BIO_new_accept(text.c_str());
    EXPECT_EQ(std::string(BIO_get_accept_port(a)), text);
    EXPECT_EQ(BIO_get_fd(a, nullptr), -1);
    BIO_set_nbio_accept(a, nbio);
    BIO_set_nbio(a, nbio);
    char c;
    if (nbio ? BIO_read(a, &c, 1) == -1 && BIO_should_retry(a) : BIO_do_accept(a) == 1) return a;
    ERR_clear_error();
    BIO_free(a);
  }
  return nullptr;
}

TEST_F(AcceptStream, ListensOnItsTextAddress) {
  unsigned short port = 0;
  BIO* a = ListeningAcceptStream(&port, false);
  ASSERT_NE(a, nullptr);
  // The first run only makes the listening socket.
  EXPECT_EQ(BIO_next(a), nullptr);
  int l = BIO_get_fd(a, nullptr);
  ASSERT_GE(l, 0);
  EXPECT_EQ(net_test::LocalPort(l), port);

  int c = net_test::ConnectLoopback(port);
  ASSERT_NE(c, -1);
  EXPECT_EQ(BIO_do_accept(a), 1);
  ASSERT_NE(BIO_next(a), nullptr);
  BIO_free_all(a);
  close(c);
  EXPECT_FALSE(net_test::IsOpen(l));
}

TEST_F(AcceptStream, FirstReadListensAndWaitsWithoutBlocking) {
  unsigned short port = 0;
  BIO* a = ListeningAcceptStream(&port, true);
  ASSERT_NE(a, nullptr);
  char buf[16];
  // Listening, nobody there yet.
  EXPECT_TRUE(BIO_should_io_special(a));
  EXPECT_EQ(BIO_get_retry_reason(a), BIO_RR_ACCEPT);
  int l = BIO_get_fd(a, nullptr);
  EXPECT_NE(fcntl(l, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_ERRORS({});

  int c = net_test::ConnectLoopback(port);
  ASSERT_NE(c, -1);
  ASSERT_TRUE(net_test::WaitReadable(l));
  // Connected now; the accepted socket is non-blocking and has no data yet.
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), -1);
  EXPECT_TRUE(BIO_should_retry(a));
  EXPECT_TRUE(BIO_should_read(a));
  ASSERT_NE(BIO_next(a), nullptr);
  int s = BIO_get_fd(BIO_next(a), nullptr);
  EXPECT_NE(fcntl(s, F_GETFL) & O_NONBLOCK, 0);

  ASSERT_TRUE(net_test::WriteAll(c, "late"));
  ASSERT_TRUE(net_test::WaitReadable(s));
  EXPECT_EQ(BIO_read(a, buf, sizeof(buf)), 4);
  EXPECT_FALSE(BIO_should_retry(a));
  BIO_free_all(a);
  close(c);
}

TEST_F(AcceptStream, EachConnectionGetsACopyOfTheChain) {
  unsigned short port = 0;
  int l = -1;
  BIO* a = AdoptedAcceptStream(&port, &l);
  BIO* buffer = BIO_new(BIO_f_buffer());
  EXPECT_EQ(BIO_set_accept_bios(a, buffer), 1);

  std::vector<BIO*> chains;
  std::vector<int> clients;
  for (int i = 0; i < 2; ++i) {
    clients.push_back(net_test::ConnectLoopback(port));
    ASSERT_EQ(BIO_do_accept(a), 1);
    BIO* head = BIO_next(a);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(BIO_method_type(head), BIO_TYPE_BUFFER);
    EXPECT_NE(head, buffer);  // a copy
    ASSERT_NE(BIO_next(head), nullptr);
    EXPECT_EQ(BIO_method_type(BIO_next(head)), BIO_TYPE_SOCKET);

    ASSERT_TRUE(net_test::WriteAll(clients.back(), "line one\nline two\n"));
    char buf[32];
    EXPECT_EQ(BIO_gets(head, buf, sizeof(buf)), 9);
    EXPECT_STREQ(buf, "line one\n");
    EXPECT_EQ(BIO_read(a, buf, 9), 9);  // served from the buffer
    EXPECT_EQ(std::string(buf, 9), "line two\n");
    EXPECT_EQ(BIO_write(a, "held", 4), 4);  // held until flushed
    EXPECT_EQ(BIO_flush(head), 1);
    EXPECT_EQ(net_test::ReadExactly(clients.back(), 4), "held");
    chains.push_back(BIO_pop(a));
  }
  EXPECT_NE(chains[0], chains[1]);
  for (BIO* c : chains) BIO_free_all(c);
  for (int c : clients) close(c);
  BIO_free(a);  // frees the configured chain too
}

// Port 0 listens on a free port; a chain that cannot be copied (the NULL
// filter's) closes each connection, saying why.
TEST_F(AcceptStream, PortZeroAndAChainThatCannotBeCopied) {
  BIO* a = BIO_new_accept("127.0.0.1:0");
  ASSERT_EQ(BIO_do_accept(a), 1);
  BIO_set_accept_bios(a, BIO_push(BIO_new(BIO_f_buffer()), BIO_new(BIO_f_null())));
  const int c = net_test::ConnectLoopback(net_test::LocalPort(BIO_get_fd(a, nullptr)));
  EXPECT_EQ(BIO_do_accept(a), 0);
  EXPECT_EQ(ERR_get_error(), ERR_PACK(ERR_LIB_BIO, BIO_F_ACPT_STATE, BIO_R_UNABLE_TO_COPY_CHAIN));
  close(c);
  BIO_free(a);
}

TEST_F(AcceptStream, SettingsAndErrors) {
  BIO* a = BIO_new(BIO_s_accept());
  EXPECT_EQ(BIO_set_bind_mode(a, BIO_BIND_REUSEADDR), 1);
  EXPECT_EQ(BIO_get_accept_port(a), nullptr);  // not initialised
  EXPECT_EQ(BIO_get_fd(a, nullptr), -1);
  EXPECT_EQ(BIO_set_accept_port(a, nullptr), 1);
  EXPECT_EQ(BIO_do_accept(a), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_ACPT_STATE, BIO_R_NO_ACCEPT_PORT_SPECIFIED}});

  // An address that cannot be listened on: the helper's errors.
  EXPECT_EQ(BIO_set_accept_port(a, "127.0.0.1:nosuch"), 1);
  EXPECT_EQ(BIO_do_accept(a), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GET_PORT, BIO_R_UNKNOWN_SERVICE, "service='nosuch'"}});
  BIO* copy = BIO_dup_chain(a);  // gets none of the settings
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(BIO_get_bind_mode(copy), BIO_BIND_NORMAL);
  BIO_free(copy);
  BIO_free(a);
}

}  // namespace
