// Stream pairs: buffer sizes, write guarantees, read requests, shutdown,
// non-copying reads and writes across the ring's wrap, pairing rules, and
// 1 MiB of random data each way in random pieces.

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "net_util.h"

namespace {

class Pair : public net_test::BoundedTest {
 protected:
  void TearDown() override {
    BoundedTest::TearDown();
    BIO_free(x);
    BIO_free(y);
  }
  void Make(size_t sx, size_t sy) { ASSERT_EQ(BIO_new_bio_pair(&x, sx, &y, sy), 1); }
  BIO* x = nullptr;
  BIO* y = nullptr;
};

TEST_F(Pair, DefaultSizeAndFullRing) {
  Make(0, 0);
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(x), 17408u);
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(y), 17408u);
  EXPECT_EQ(BIO_get_write_buf_size(x), 17408u);

  std::string data(20000, 'd');
  EXPECT_EQ(BIO_write(x, data.data(), 20000), 17408);
  EXPECT_EQ(BIO_write(x, data.data(), 1), -1);
  EXPECT_TRUE(BIO_should_retry(x));
  EXPECT_TRUE(BIO_should_write(x));
  EXPECT_EQ(BIO_ctrl_wpending(x), 17408u);
  EXPECT_EQ(BIO_ctrl_pending(y), 17408u);
  EXPECT_EQ(BIO_ctrl_pending(x), 0u);
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(x), 0u);
  EXPECT_EQ(BIO_flush(x), 1);
  EXPECT_EQ(BIO_eof(y), 0);
  EXPECT_ERRORS({});
}

TEST_F(Pair, ReadRequestsAreRecorded) {
  Make(0, 0);
  char buf[100];
  EXPECT_EQ(BIO_read(y, buf, 100), -1);
  EXPECT_TRUE(BIO_should_read(y));
  EXPECT_EQ(BIO_ctrl_get_read_request(x), 100u);
  EXPECT_EQ(BIO_get_read_request(x), 100);

  // More than the ring holds: the ring's size is asked for.
  std::vector<char> big(30000);
  EXPECT_EQ(BIO_read(y, big.data(), 30000), -1);
  EXPECT_EQ(BIO_ctrl_get_read_request(x), 17408u);

  EXPECT_EQ(BIO_write(x, "abc", 3), 3);  // a write into the ring resets it
  EXPECT_EQ(BIO_ctrl_get_read_request(x), 0u);
  EXPECT_EQ(BIO_read(y, buf, 100), 3);
  EXPECT_EQ(BIO_read(y, buf, 100), -1);
  EXPECT_EQ(BIO_ctrl_get_read_request(x), 100u);
  EXPECT_EQ(BIO_ctrl_reset_read_request(x), 1);
  EXPECT_EQ(BIO_ctrl_get_read_request(x), 0u);

  // Reads of nothing ask for nothing.
  EXPECT_EQ(BIO_read(y, buf, 0), 0);
  EXPECT_EQ(BIO_ctrl_get_read_request(x), 0u);
  EXPECT_FALSE(BIO_should_retry(y));
}

TEST_F(Pair, NonCopyingReadStopsAtTheWrap) {
  Make(10, 10);
  char* p = nullptr;
  EXPECT_EQ(BIO_write(x, "0123456789", 10), 10);
  char buf[10];
  EXPECT_EQ(BIO_read(y, buf, 8), 8);
  EXPECT_EQ(BIO_write(x, "AB", 2), 2);  // held: offsets 8, 9, 0, 1
  EXPECT_EQ(BIO_ctrl_pending(y), 4u);
  // Negative lengths move nothing.
  EXPECT_EQ(BIO_write(x, "z", -1), 0);
  EXPECT_EQ(BIO_nwrite(x, &p, -1), -1);
  EXPECT_EQ(BIO_read(y, buf, -1), 0);
  EXPECT_EQ(BIO_nread(y, &p, -1), -1);
  EXPECT_EQ(BIO_ctrl_pending(y), 4u);

  EXPECT_EQ(BIO_nread0(y, &p), 2);
  EXPECT_EQ(std::string(p, 2), "89");
  EXPECT_EQ(BIO_nread0(y, nullptr), 2);  // looking consumes nothing
  EXPECT_EQ(BIO_nread(y, &p, 2), 2);
  EXPECT_EQ(BIO_nread0(y, &p), 2);
  EXPECT_EQ(std::string(p, 2), "AB");
  EXPECT_EQ(BIO_nread(y, &p, 100), 2);  // at most what is there
  EXPECT_EQ(BIO_number_read(y), 8u + 4u);
  EXPECT_EQ(BIO_nread0(y, &p), -1);  // empty: retry, and a request of 1
  EXPECT_TRUE(BIO_should_read(y));
  EXPECT_EQ(BIO_ctrl_get_read_request(x), 1u);
}

TEST_F(Pair, NonCopyingWriteTakesTwoRoundsAcrossTheWrap) {
  Make(10, 10);
  char buf[10];
  EXPECT_EQ(BIO_write(x, "0123456", 7), 7);
  EXPECT_EQ(BIO_read(y, buf, 5), 5);  // held: offsets 5, 6; free: 7..9, 0..4
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(x), 8u);

  char* p = nullptr;
  EXPECT_EQ(BIO_nwrite0(x, &p), 3);  // cut at the end of the ring
  memcpy(p, "abc", 3);
  EXPECT_EQ(BIO_nwrite(x, &p, 3), 3);
  EXPECT_EQ(BIO_nwrite0(x, &p), 5);
  memcpy(p, "defgh", 5);
  EXPECT_EQ(BIO_nwrite(x, &p, 5), 5);
  EXPECT_EQ(BIO_number_written(x), 7u + 8u);
  EXPECT_EQ(BIO_nwrite0(x, &p), -1);  // full
  EXPECT_TRUE(BIO_should_write(x));

  EXPECT_EQ(BIO_read(y, buf, 10), 10);
  EXPECT_EQ(std::string(buf, 10), "56abcdefgh");
}

TEST_F(Pair, ShutdownEndsTheData) {
  Make(0, 0);
  EXPECT_EQ(BIO_write(x, "last", 4), 4);
  EXPECT_EQ(BIO_shutdown_wr(x), 1);
  EXPECT_EQ(BIO_eof(y), 0);  // bytes left
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(x), 0u);
  char buf[8];
  EXPECT_EQ(BIO_read(y, buf, 8), 4);
  EXPECT_EQ(BIO_read(y, buf, 8), 0);
  EXPECT_FALSE(BIO_should_retry(y));
  EXPECT_EQ(BIO_eof(y), 1);
  char* p;
  EXPECT_EQ(BIO_nread0(y, &p), 0);

  EXPECT_EQ(BIO_write(x, "more", 4), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_WRITE, BIO_R_BROKEN_PIPE}});
  EXPECT_EQ(BIO_nwrite0(x, &p), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_NWRITE0, BIO_R_BROKEN_PIPE}});

  // The other direction still works.
  EXPECT_EQ(BIO_write(y, "ok", 2), 2);
  EXPECT_EQ(BIO_read(x, buf, 8), 2);
}

TEST_F(Pair, UnpairedHalves) {
  x = BIO_new(BIO_s_bio());
  char* p = nullptr;
  EXPECT_EQ(BIO_nwrite0(x, &p), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_NWRITE0, BIO_R_UNINITIALIZED}});
  EXPECT_EQ(BIO_nwrite(x, &p, 1), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_NWRITE, BIO_R_UNINITIALIZED}});
  EXPECT_EQ(BIO_nread0(x, &p), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_NREAD0, BIO_R_UNINITIALIZED}});
  EXPECT_EQ(BIO_nread(x, &p, 1), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_NREAD, BIO_R_UNINITIALIZED}});
  EXPECT_EQ(BIO_eof(x), 1);
  EXPECT_EQ(BIO_ctrl_pending(x), 0u);
  EXPECT_EQ(BIO_ctrl_wpending(x), 0u);
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(x), 0u);

  for (long size : {0L, -5L, static_cast<long>(INT_MAX) + 1}) {
    EXPECT_EQ(BIO_set_write_buf_size(x, size), 0) << size;
    EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_CTRL, BIO_R_INVALID_ARGUMENT}});
  }
  EXPECT_EQ(BIO_set_write_buf_size(x, 64), 1);
  EXPECT_EQ(BIO_get_write_buf_size(x), 64u);

  // Only another half can be the peer.
  BIO* mem = BIO_new(BIO_s_mem());
  EXPECT_EQ(BIO_make_bio_pair(x, mem), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_MAKE_PAIR, BIO_R_INVALID_ARGUMENT}});
  BIO_free(mem);

  // A copy has the same size and no peer.
  BIO* copy = BIO_dup_chain(x);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(BIO_get_write_buf_size(copy), 64u);
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(copy), 0u);
  y = copy;
  EXPECT_EQ(BIO_make_bio_pair(x, y), 1);
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(y), 64u);
}

TEST_F(Pair, PairingRules) {
  Make(0, 0);
  BIO* z = BIO_new(BIO_s_bio());
  EXPECT_EQ(BIO_make_bio_pair(z, x), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_MAKE_PAIR, BIO_R_IN_USE}});
  EXPECT_EQ(BIO_set_write_buf_size(x, 100), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_CTRL, BIO_R_IN_USE}});

  // Undoing the pair drops unread bytes and leaves both halves free.
  EXPECT_EQ(BIO_write(x, "dropped", 7), 7);
  EXPECT_EQ(BIO_destroy_bio_pair(y), 1);
  char c;
  EXPECT_EQ(BIO_read(y, &c, 1), -2);  // uninitialised again
  ERR_clear_error();
  EXPECT_EQ(BIO_make_bio_pair(x, z), 1);
  EXPECT_EQ(BIO_ctrl_pending(z), 0u);
  EXPECT_EQ(BIO_write(z, "z", 1), 1);
  EXPECT_EQ(BIO_read(x, &c, 1), 1);
  EXPECT_EQ(c, 'z');

  // Freeing one half unpairs the other.
  BIO_free(z);
  EXPECT_EQ(BIO_ctrl_get_write_guarantee(x), 0u);
  EXPECT_EQ(BIO_make_bio_pair(x, y), 1);
  EXPECT_EQ(BIO_write(y, "y", 1), 1);
  EXPECT_EQ(BIO_read(x, &c, 1), 1);

  // A reset empties this half's ring.
  EXPECT_EQ(BIO_write(x, "xxx", 3), 3);
  EXPECT_EQ(BIO_reset(x), 0);
  EXPECT_EQ(BIO_ctrl_pending(y), 0u);
  EXPECT_EQ(BIO_get_close(x), BIO_CLOSE);
  EXPECT_EQ(BIO_set_close(x, BIO_NOCLOSE), 1);
  EXPECT_EQ(BIO_get_close(x), BIO_NOCLOSE);
  EXPECT_ERRORS({});
}

// 1 MiB each way at once through small odd-sized rings (the pieces wrap
// often), in random pieces, copying and non-copying calls mixed at random.
TEST_F(Pair, OneMebibyteEachWayInRandomPieces) {
  Make(4099, 997);
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> piece(1, 5000);
  std::string xy(1 << 20, '\0'), yx(1 << 20, '\0'), got_xy, got_yx;
  for (auto& ch : xy) ch = static_cast<char>(rng());
  for (auto& ch : yx) ch = static_cast<char>(rng());
  size_t sent_xy = 0, sent_yx = 0;
  auto step = [&](BIO* w, BIO* r, const std::string& data, size_t& sent, std::string& got) {
    int want = static_cast<int>(std::min<size_t>(static_cast<size_t>(piece(rng)), data.size() - sent));
    char* p = nullptr;
    int n = 0;
    if (want == 0) {
    } else if (rng() % 2 == 0) {
      n = BIO_write(w, data.data() + sent, want);
    } else if ((n = BIO_nwrite0(w, &p)) > 0) {
      n = std::min(n, want);
      memcpy(p, data.data() + sent, static_cast<size_t>(n));
      ASSERT_EQ(BIO_nwrite(w, &p, n), n);
    }
    if (n > 0) sent += static_cast<size_t>(n);
    ASSERT_TRUE(n >= 0 || (n == -1 && BIO_should_write(w)));
    if (got.size() == data.size()) return;
    char buf[5000];
    want = piece(rng);
    if (rng() % 2 == 0) {
      n = BIO_read(r, buf, want);
      p = buf;
    } else {
      n = BIO_nread(r, &p, want);
    }
    if (n > 0) got.append(p, static_cast<size_t>(n));
    ASSERT_TRUE(n > 0 || (n == -1 && BIO_should_read(r)));
  };
  for (long steps = 0; got_xy.size() < xy.size() || got_yx.size() < yx.size(); ++steps) {
    ASSERT_LT(steps, 10000000L);
    ASSERT_NO_FATAL_FAILURE(step(x, y, xy, sent_xy, got_xy));
    ASSERT_NO_FATAL_FAILURE(step(y, x, yx, sent_yx, got_yx));
  }
  EXPECT_TRUE(got_xy == xy);
  EXPECT_TRUE(got_yx == yx);
  EXPECT_EQ(BIO_number_written(x), static_cast<unsigned long>(1 << 20));
  EXPECT_EQ(BIO_number_read(y), static_cast<unsigned long>(1 << 20));
  EXPECT_EQ(BIO_ctrl_pending(x), 0u);
  EXPECT_EQ(BIO_ctrl_pending(y), 0u);
  EXPECT_ERRORS({});
}

}  // namespace
