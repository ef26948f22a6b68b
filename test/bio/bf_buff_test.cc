// The buffer filter over the scriptable test stream: buffering of small
// writes and reads, straight transfers of large ones, partial drains and
// retries, lines, the control commands and their failures.

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "filter_fixture.h"
#include "test_support.h"

namespace {

using morvane_test::Script;
using morvane_test::ScriptStep;

class BufferFilter : public FilterOverScripted {
 protected:
  BIO_METHOD* Method() override { return BIO_f_buffer(); }
  BIO_F_BUFFER_CTX* Ctx() { return static_cast<BIO_F_BUFFER_CTX*>(f->ptr); }
  std::string Read(int n) {
    std::string out(static_cast<size_t>(n), '\0');
    int r = BIO_read(f, out.data(), n);
    out.resize(r > 0 ? static_cast<size_t>(r) : 0);
    return out;
  }
};

TEST_F(BufferFilter, PartialDrainKeepsTheRestInOrder) {
  std::string a(3000, 'a');
  ASSERT_EQ(BIO_write(f, a.data(), 3000), 3000);
  Script(next).write_script = {ScriptStep::Move(1000), ScriptStep::Retry()};
  EXPECT_EQ(BIO_flush(f), -1);
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_TRUE(BIO_should_write(f));
  EXPECT_EQ(BIO_wpending(f), 2000);
  // A later write goes behind the waiting bytes.
  EXPECT_EQ(BIO_write(f, "0123456789", 10), 10);
  EXPECT_FALSE(BIO_should_retry(f));
  EXPECT_EQ(BIO_wpending(f), 2010);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, a + "0123456789");
}

TEST_F(BufferFilter, RetryDuringWriteReportsAcceptedBytesFirst) {
  std::string a(4000, 'a'), b(300, 'b');
  ASSERT_EQ(BIO_write(f, a.data(), 4000), 4000);
  Script(next).write_script = {ScriptStep::Retry()};
  // 96 bytes fit behind the waiting ones; the drain is refused.
  EXPECT_EQ(BIO_write(f, b.data(), 300), 96);
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_EQ(BIO_wpending(f), 4096);
  // Nothing fits now, and the next stream refuses again: -1.
  Script(next).write_script = {ScriptStep::Retry()};
  EXPECT_EQ(BIO_write(f, b.data() + 96, 204), -1);
  EXPECT_TRUE(BIO_should_write(f));
  EXPECT_EQ(BIO_write(f, b.data() + 96, 204), 204);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, a + b);
}

TEST_F(BufferFilter, HardWriteFailureIsReported) {
  Script(next).write_script = {ScriptStep::Fail()};
  std::string big(5000, 'x');
  EXPECT_EQ(BIO_write(f, big.data(), 5000), -1);
  EXPECT_FALSE(BIO_should_retry(f));
  EXPECT_EQ(BIO_write(f, "abc", 3), 3);
  Script(next).write_script = {ScriptStep::Eof()};
  EXPECT_EQ(BIO_flush(f), 0);
  EXPECT_EQ(BIO_wpending(f), 3);  // still waiting
}

TEST_F(BufferFilter, SmallReadsComeFromOneLargeRead) {
  Script(next).input = "hello, world";
  EXPECT_EQ(Read(5), "hello");
  EXPECT_EQ(Script(next).reads, 1);
  EXPECT_EQ(BIO_pending(f), 7);
  EXPECT_EQ(Read(2), ", ");
  EXPECT_EQ(Read(100), "world");  // what is buffered, then end of data
  EXPECT_EQ(Read(100), "");
  EXPECT_EQ(Script(next).reads, 3);
}

TEST_F(BufferFilter, ReadRetryAfterSomeBytes) {
  Script(next).input = "abcdef";
  Script(next).max_read = 4;
  Script(next).eof_when_empty = false;
  EXPECT_EQ(Read(10), "abcdef");  // two refills, then the retry
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_TRUE(BIO_should_read(f));
  char c;
  EXPECT_EQ(BIO_read(f, &c, 1), -1);
  EXPECT_TRUE(BIO_should_read(f));
  EXPECT_EQ(BIO_read(f, nullptr, 1), 0);
  EXPECT_EQ(BIO_read(f, &c, -1), 0);
}

TEST_F(BufferFilter, GetsReadsLines) {
  Script(next).input = "one\ntwo\nthree";
  Script(next).max_read = 3;  // lines span several refills
  char buf[64];
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 4);
  EXPECT_STREQ(buf, "one\n");
  EXPECT_EQ(BIO_gets(f, buf, 3), 2);  // cut to size - 1
  EXPECT_STREQ(buf, "tw");
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 2);
  EXPECT_STREQ(buf, "o\n");
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 5);  // end of data ends the line
  EXPECT_STREQ(buf, "three");
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "");
}

TEST_F(BufferFilter, GetsOfSizeOneStoresOnlyTheNul) {
  Script(next).input = "abc\nd\ne\n";
  char buf[4] = "xyz";
  EXPECT_EQ(BIO_gets(f, buf, 1), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], 'y');
  EXPECT_EQ(BIO_gets(f, buf, 0), 0);  // nothing written at all
  EXPECT_EQ(buf[1], 'y');
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(BIO_get_buffer_num_lines(f), 3);  // only the unread bytes count
}

TEST_F(BufferFilter, ResizeRules) {
  EXPECT_EQ(BIO_set_buffer_size(f, 1000), 1);  // never at or below 4096
  EXPECT_EQ(Ctx()->ibuf_size, 4096);
  EXPECT_EQ(Ctx()->obuf_size, 4096);

  Script(next).input = "hello\nworld\n";
  EXPECT_EQ(Read(1), "h");
  EXPECT_EQ(BIO_pending(f), 11);
  EXPECT_EQ(BIO_write(f, "out", 3), 3);
  EXPECT_EQ(BIO_set_read_buffer_size(f, 8192), 1);
  EXPECT_EQ(Ctx()->ibuf_size, 8192);
  EXPECT_EQ(Ctx()->obuf_size, 4096);
  EXPECT_EQ(BIO_pending(f), 0);  // the unread input went with the old buffer
  EXPECT_EQ(BIO_wpending(f), 3);
  EXPECT_EQ(BIO_set_write_buffer_size(f, 16384), 1);
  EXPECT_EQ(Ctx()->obuf_size, 16384);
  EXPECT_EQ(BIO_wpending(f), 0);
  EXPECT_EQ(BIO_set_buffer_size(f, 5000), 1);
  EXPECT_EQ(Ctx()->ibuf_size, 5000);
  EXPECT_EQ(Ctx()->obuf_size, 5000);
  ASSERT_EQ(BIO_set_write_buffer_size(f, 7000), 1);
  BIO* copy = BIO_dup_chain(f);  // keeps the sizes
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(static_cast<BIO_F_BUFFER_CTX*>(copy->ptr)->ibuf_size, 5000);
  EXPECT_EQ(static_cast<BIO_F_BUFFER_CTX*>(copy->ptr)->obuf_size, 7000);
  BIO_free_all(copy);
}

TEST_F(BufferFilter, ResizeFailureLeavesTheFilterAlone) {
  ASSERT_EQ(BIO_write(f, "keep", 4), 4);
  ERR_clear_error();
  EXPECT_EQ(BIO_set_buffer_size(f, LONG_MAX), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BUFFER_CTRL, ERR_R_MALLOC_FAILURE}});
  EXPECT_EQ(Ctx()->obuf_size, 4096);
  EXPECT_EQ(BIO_wpending(f), 4);
}

TEST_F(BufferFilter, ReadDataIsServedFirst) {
  std::string data(10000, '\0');
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 7);
  Script(next).input = "never read";
  EXPECT_EQ(BIO_set_buffer_read_data(f, data.data(), 10000), 1);
  EXPECT_EQ(BIO_pending(f), 10000);
  EXPECT_EQ(Read(10000), data);
  EXPECT_EQ(Script(next).reads, 0);
  EXPECT_EQ(BIO_set_buffer_read_data(f, "x\ny", 3), 1);
  EXPECT_EQ(BIO_get_buffer_num_lines(f), 1);
  EXPECT_EQ(BIO_set_buffer_read_data(f, "abc", -1), 0);
}

TEST_F(BufferFilter, ResetDropsBothBuffersOtherCommandsGoOn) {
  Script(next).input = "input";
  EXPECT_EQ(Read(1), "i");
  ASSERT_EQ(BIO_write(f, "out", 3), 3);
  EXPECT_EQ(BIO_reset(f), 1);
  EXPECT_EQ(BIO_ctrl(f, BIO_CTRL_INFO, 0, nullptr), 0);
  EXPECT_EQ(Ctx()->ibuf_len, 0);
  EXPECT_EQ(Script(next).ctrl_log.back(), BIO_CTRL_RESET);
  // Other commands go to the next stream.
  Script(next).input = "abc";
  EXPECT_EQ(BIO_eof(f), 0);
  EXPECT_EQ(BIO_pending(f), 3);
  EXPECT_EQ(Script(next).ctrl_log.back(), BIO_CTRL_PENDING);
  Script(next).ctrl_log.clear();
  EXPECT_EQ(BIO_ctrl(f, BIO_C_DO_STATE_MACHINE, 0, nullptr), 0);
  EXPECT_EQ(Script(next).ctrl_log, std::vector<int>{BIO_C_DO_STATE_MACHINE});
}

TEST(BufferFilterAlone, ServesReadDataWithoutNextStream) {
  BIO* f = BIO_new(BIO_f_buffer());
  ASSERT_NE(f, nullptr);
  char buf[16];
  // Buffered lines are served; then it ends as at end of data.
  ASSERT_EQ(BIO_set_buffer_read_data(f, "x\ny", 3), 1);
  EXPECT_EQ(BIO_pending(f), 3);
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 2);
  EXPECT_STREQ(buf, "x\n");
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 1);
  EXPECT_STREQ(buf, "y");
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 0);
  BIO_free(f);
}

TEST(BufferFilterAlone, CreationFailureSaysSo) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  ERR_clear_error();
  BIO_free(BIO_new(BIO_f_buffer()));
  const long live = morvane_test::GetAllocCounts().live_blocks;
  int failures = 0;
  for (int n = 2; n <= 4; n++) {  // the filter's own three blocks
    morvane_test::FailAllocationAfter(n);
    BIO* f = BIO_new(BIO_f_buffer());
    morvane_test::FailAllocationAfter(0);
    if (f == nullptr) {
      failures++;  // the create slot says why, once
      EXPECT_EQ(ERR_get_error(), ERR_PACK(ERR_LIB_BIO, BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE)) << n;
    }
    BIO_free(f);
    EXPECT_EQ(ERR_peek_error(), 0UL) << n;
    EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, live) << n;
  }
  EXPECT_EQ(failures, 3);
}

}  // namespace
