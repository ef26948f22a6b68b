// Failure paths of the network streams: every allocation of a connect,
// accept or pair scenario is made to fail in turn, and each run must give
// back every block and every descriptor it took.  Each test installs the
// counting allocator, so it needs a process of its own (as ctest runs it).

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "net_util.h"
#include "test_support.h"

namespace {

class FailurePaths : public net_test::BoundedTest {
 protected:
  void SetUp() override {
    // Before anything allocates (the error queue does).
    if (!morvane_test::InstallCountingAllocator())
      GTEST_SKIP() << "allocation hooks must be installed first: run this test alone";
    BoundedTest::SetUp();
    // Warm up what stays allocated for the process: the thread's error
    // state and the extra-data registry of streams.
    BIOerr(BIO_F_BIO_CTRL, BIO_R_IN_USE);
    ERR_add_error_data(1, "warm-up");
    ERR_clear_error();
    BIO_free(BIO_new(BIO_s_mem()));
    blocks_ = morvane_test::GetAllocCounts().live_blocks;
    fds_ = net_test::OpenDescriptors();
  }

  // Runs `scenario` with the n-th allocation failing, for n = 1, 2, ... until
  // a run sees no failure; checks that each run gives everything back.
  template <typename Scenario>
  void Sweep(Scenario scenario) {
    bool completed = false;
    for (long n = 1; n <= 60 && !completed; ++n) {
      morvane_test::FailAllocationAfter(n);
      long before = Allocations();
      bool ok = scenario();
      long used = Allocations() - before;
      morvane_test::FailAllocationAfter(0);
      ERR_clear_error();
      EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, blocks_) << "failing allocation " << n;
      EXPECT_EQ(net_test::OpenDescriptors(), fds_) << "failing allocation " << n;
      // A run that made fewer allocations than n never saw the failure.
      if (used < n) {
        EXPECT_TRUE(ok) << "run without failure " << n;
        completed = true;
      }
    }
    EXPECT_TRUE(completed);
  }

  static long Allocations() {
    morvane_test::AllocCounts c = morvane_test::GetAllocCounts();
    return c.mallocs + c.reallocs;
  }

  long blocks_ = 0;
  int fds_ = 0;
};

TEST_F(FailurePaths, ConnectStream) {
  unsigned short port = 0;
  int l = net_test::TcpLoopback(&port);
  fds_ = net_test::OpenDescriptors();
  std::string target = "127.0.0.1:" + std::to_string(port) + "/path";
  Sweep([&] {
    BIO* b = BIO_new_connect(target.c_str());
    bool ok = b != nullptr && BIO_do_connect(b) == 1 && BIO_write(b, "x", 1) == 1;
    BIO* copy = b != nullptr ? BIO_dup_chain(b) : nullptr;
    ok = ok && copy != nullptr;
    BIO_free(copy);
    BIO_free(b);
    int s = -1;
    if (net_test::WaitReadable(l, 0)) s = accept(l, nullptr, nullptr);
    if (s != -1) close(s);
    return ok;
  });
  close(l);
}

// Listening on a text address, then each connection behind a copy of a
// configured chain (freed whole, the accepted descriptor closed, on failure).
TEST_F(FailurePaths, AcceptStream) {
  Sweep([&] {
    unsigned short port = net_test::FreePort();
    std::string text = "127.0.0.1:" + std::to_string(port);
    BIO* a = BIO_new_accept(text.c_str());
    BIO* filter = BIO_new(BIO_f_buffer());
    bool ok = a != nullptr && filter != nullptr;
    if (a != nullptr) {
      BIO_set_bind_mode(a, BIO_BIND_REUSEADDR);
      BIO_set_accept_bios(a, filter);  // owned by the accept stream now
    } else {
      BIO_free(filter);
    }
    ok = ok && BIO_do_accept(a) == 1;  // listening
    int c = ok ? net_test::ConnectLoopback(port) : -1;
    ok = ok && c != -1 && BIO_do_accept(a) == 1 && net_test::WriteAll(c, "hi");
    char buf[4];
    ok = ok && BIO_read(a, buf, 2) == 2;
    BIO_free_all(a);
    if (c != -1) close(c);
    return ok;
  });
}

TEST_F(FailurePaths, StreamPair) {
  Sweep([&] {
    BIO* x = nullptr;
    BIO* y = nullptr;
    bool ok = BIO_new_bio_pair(&x, 100, &y, 0) == 1;
    EXPECT_EQ(ok, x != nullptr);
    EXPECT_EQ(ok, y != nullptr);
    ok = ok && BIO_write(x, "abc", 3) == 3;
    BIO_free(x);
    BIO_free(y);
    return ok;
  });
}

}  // namespace
