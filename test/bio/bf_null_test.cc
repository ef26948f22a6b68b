// The NULL filter and the non-blocking test filter.  The test filter's random
// piece sizes are driven by an installed random method that serves scripted
// bytes, so each split is known.

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/rand.h>

#include "filter_fixture.h"

namespace {

using morvane_test::Script;
using morvane_test::ScriptStep;

// ---- scripted random bytes --------------------------------------------------

std::deque<unsigned char>* g_random = nullptr;

int ScriptedRandom(unsigned char* buf, int num) {
  for (int i = 0; i < num; i++) {
    buf[i] = g_random->empty() ? 7 : g_random->front();
    if (!g_random->empty()) g_random->pop_front();
  }
  return 1;
}

// Installs the scripted random source for one test.
class ScriptedRandomSource {
 public:
  explicit ScriptedRandomSource(std::deque<unsigned char> bytes) : bytes_(std::move(bytes)) {
    g_random = &bytes_;
    RAND_set_rand_method(&method_);
  }
  ~ScriptedRandomSource() {
    RAND_set_rand_method(nullptr);
    g_random = nullptr;
  }
  std::deque<unsigned char>& bytes() { return bytes_; }

 private:
  std::deque<unsigned char> bytes_;
  RAND_METHOD method_ = {nullptr, nullptr, nullptr, nullptr, ScriptedRandom, nullptr};
};

// Records the length of every write that reaches a stream.
long RecordWrites(BIO* b, int oper, const char*, int argi, long, long ret) {
  if (oper == BIO_CB_WRITE) reinterpret_cast<std::vector<int>*>(b->cb_arg)->push_back(argi);
  return ret;
}

class Filter : public FilterOverScripted,
               public ::testing::WithParamInterface<BIO_METHOD* (*)()> {
 protected:
  BIO_METHOD* Method() override { return GetParam()(); }
};

// ---- both filters -------------------------------------------------------------

TEST_P(Filter, LinesAndControlsPassThrough) {
  Script(next).input = "a line\nrest";
  char buf[32];
  EXPECT_EQ(BIO_pending(f), 11);  // answered by the next stream
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 7);
  EXPECT_STREQ(buf, "a line\n");
  Script(next).read_script = {ScriptStep::Retry()};
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), -1);  // with the next stream's retry
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_EQ(BIO_puts(f, "a whole line, not split\n"), 24);
  EXPECT_EQ(Script(next).output, "a whole line, not split\n");
  EXPECT_EQ(Script(next).writes, 1);
  Script(next).flush_result = 5;
  EXPECT_EQ(BIO_flush(f), 5);
  EXPECT_EQ(BIO_ctrl(f, BIO_CTRL_DUP, 0, next), 0);
  Script(next).ctrl_log.clear();
  EXPECT_EQ(BIO_ctrl(f, BIO_C_DO_STATE_MACHINE, 0, nullptr), 0);
  EXPECT_EQ(Script(next).ctrl_log, std::vector<int>{BIO_C_DO_STATE_MACHINE});
}

INSTANTIATE_TEST_SUITE_P(NullAndTest, Filter, ::testing::Values(BIO_f_null, BIO_f_nbio_test),
                         [](const ::testing::TestParamInfo<BIO_METHOD* (*)()>& info) {
                           return std::string(info.index == 0 ? "null" : "nbio");
                         });

// ---- the NULL filter ----------------------------------------------------------

TEST(NullFilter, ReadsAndWritesPassWithTheirRetryConditions) {
  BIO* nf = BIO_new(BIO_f_null());
  BIO* sink = morvane_test::NewScriptedStream();
  BIO_push(nf, sink);
  Script(sink).input = "0123456789";
  char buf[16];
  EXPECT_EQ(BIO_read(nf, buf, 16), 10);
  EXPECT_EQ(BIO_write(nf, "abcdef", 6), 6);
  EXPECT_EQ(Script(sink).output, "abcdef");
  Script(sink).write_script = {ScriptStep::Retry()};
  EXPECT_EQ(BIO_write(nf, "x", 1), -1);
  EXPECT_TRUE(BIO_should_retry(nf));
  EXPECT_TRUE(BIO_should_write(nf));
  EXPECT_EQ(BIO_write(nf, "x", 1), 1);
  EXPECT_FALSE(BIO_should_retry(nf));
  Script(sink).read_script = {ScriptStep::RetrySpecial(BIO_RR_CONNECT)};
  EXPECT_EQ(BIO_read(nf, buf, 1), -1);
  EXPECT_TRUE(BIO_should_io_special(nf));
  EXPECT_EQ(BIO_get_retry_reason(nf), BIO_RR_CONNECT);
  BIO_free_all(nf);
}

// ---- the non-blocking test filter ---------------------------------------------

class NbioTest : public FilterOverScripted {
 protected:
  BIO_METHOD* Method() override { return BIO_f_nbio_test(); }
};

TEST_F(NbioTest, PieceSizesComeFromTheLowThreeBits) {
  ScriptedRandomSource random({0x0b, 0x08, 0xff, 0x01});  // 3, 0, 7, 1
  Script(next).input = "abcdefghijklmnop";
  char buf[16];
  EXPECT_EQ(BIO_read(f, buf, 16), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(BIO_read(f, buf, 16), -1);  // a pretended block
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_TRUE(BIO_should_read(f));
  EXPECT_EQ(Script(next).reads, 1);  // the next stream was not asked
  EXPECT_EQ(BIO_read(f, buf, 16), 7);
  EXPECT_FALSE(BIO_should_retry(f));
  EXPECT_EQ(BIO_read(f, buf, 16), 1);
  EXPECT_EQ(buf[0], 'k');
  // A request smaller than the piece is not padded.
  random.bytes() = {0x07};
  EXPECT_EQ(BIO_read(f, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "lm");
}

TEST_F(NbioTest, WritesSplitAndRetryAfterRefusal) {
  ScriptedRandomSource random({0x00, 0x05, 0x06, 0x02});
  std::vector<int> lengths;
  BIO_set_callback(next, RecordWrites);
  BIO_set_callback_arg(next, reinterpret_cast<char*>(&lengths));
  EXPECT_EQ(BIO_write(f, "0123456789", 10), -1);  // piece 0: pretended block
  EXPECT_TRUE(BIO_should_write(f));
  EXPECT_EQ(BIO_write(f, "0123456789", 10), 5);
  Script(next).write_script = {ScriptStep::Retry()};
  EXPECT_EQ(BIO_write(f, "56789", 5), -1);  // piece 6, offered 5, refused
  EXPECT_TRUE(BIO_should_write(f));
  // The refused length is offered again first, without a random byte.
  EXPECT_EQ(BIO_write(f, "56789", 5), 5);
  EXPECT_EQ(random.bytes().size(), 1u);
  EXPECT_EQ(BIO_write(f, "abcdef", 6), 2);  // then random pieces again
  EXPECT_EQ(lengths, (std::vector<int>{5, 5, 5, 2}));
  EXPECT_EQ(Script(next).output, "0123456789ab");
}

TEST(NbioTestAlone, FailingRandomSourceStillMovesData) {
  // A method without a pseudo-random operation leaves the byte untouched.
  static const RAND_METHOD none = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  RAND_set_rand_method(&none);
  BIO* f = BIO_new(BIO_f_nbio_test());
  BIO* next = morvane_test::NewScriptedStream();
  BIO_push(f, next);
  EXPECT_EQ(BIO_write(f, "0123456789", 10), 7);
  BIO_free_all(f);
  RAND_set_rand_method(nullptr);
}

}  // namespace
