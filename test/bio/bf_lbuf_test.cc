// The line-buffer filter over the scriptable test stream: complete lines
// leave at once joined to held text, tails are held, long tails pass
// straight through; refused and partial writes neither lose bytes nor
// overfill the buffer.

#include <string>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "filter_fixture.h"
#include "test_support.h"

namespace {

using morvane_test::Script;
using morvane_test::ScriptStep;

constexpr int kCapacity = 10240;

class LineBuffer : public FilterOverScripted {
 protected:
  BIO_METHOD* Method() override { return BIO_f_linebuffer(); }
  long Held() { return BIO_ctrl(f, BIO_CTRL_INFO, 0, nullptr); }
  int Write(const std::string& s) { return BIO_write(f, s.data(), static_cast<int>(s.size())); }
};

// A refused write of the held text after joining a line to it: the joined
// bytes were counted, so they stay held and go out with the next flush.
TEST_F(LineBuffer, RefusedLineIsKeptNotDropped) {
  ASSERT_EQ(Write("abc"), 3);
  Script(next).write_script = {ScriptStep::Retry()};
  EXPECT_EQ(Write("def\n"), 4);
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_TRUE(BIO_should_write(f));
  EXPECT_EQ(Held(), 7);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, "abcdef\n");
  // With nothing held, a refused line is not accepted.
  Script(next).write_script = {ScriptStep::Retry()};
  EXPECT_EQ(Write("line\n"), -1);
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_EQ(Held(), 0);
  EXPECT_EQ(Write("line\n"), 5);
  EXPECT_EQ(Script(next).output, "abcdef\nline\n");
}

// The next stream takes part of a tail too long for the buffer: the filter
// writes again rather than hold more than its capacity.
TEST_F(LineBuffer, PartlyTakenLongTailNeverOverfills) {
  std::string big(20000, '\0');
  for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>('a' + i % 26);
  Script(next).write_script = {ScriptStep::Move(5000)};
  EXPECT_EQ(Write(big), 20000);
  EXPECT_LE(Held(), kCapacity);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, big);

  // Taken in part and then refused: the accepted count matches what left.
  Script(next).output.clear();
  Script(next).write_script = {ScriptStep::Move(5000), ScriptStep::Retry()};
  EXPECT_EQ(Write(big), 5000);
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_EQ(Held(), 0);
  EXPECT_EQ(BIO_write(f, big.data() + 5000, 15000), 15000);
  EXPECT_EQ(Script(next).output, big);
}

TEST_F(LineBuffer, FlushAfterPartialWritesKeepsOrder) {
  ASSERT_EQ(Write("hello"), 5);
  Script(next).write_script = {ScriptStep::Move(2), ScriptStep::Retry()};
  EXPECT_EQ(BIO_flush(f), -1);
  EXPECT_TRUE(BIO_should_retry(f));
  EXPECT_EQ(Held(), 3);
  EXPECT_EQ(Write("!"), 1);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, "hello!");
}

TEST_F(LineBuffer, ResizeKeepsTheHeldBytes) {
  ASSERT_EQ(Write("abc"), 3);
  EXPECT_EQ(BIO_ctrl(f, BIO_C_SET_BUFF_SIZE, 1000, nullptr), 1);  // not below the default
  EXPECT_EQ(BIO_ctrl(f, BIO_C_SET_BUFF_SIZE, 30000, nullptr), 1);
  EXPECT_EQ(Held(), 3);
  std::string tail(25000, 't');  // fits now
  EXPECT_EQ(Write(tail), 25000);
  EXPECT_EQ(Script(next).writes, 0);
  EXPECT_EQ(Held(), 25003);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, "abc" + tail);
  // A smaller capacity than the bytes held keeps them all.
  Script(next).output.clear();
  ASSERT_EQ(Write(tail), 25000);
  EXPECT_EQ(BIO_ctrl(f, BIO_C_SET_BUFF_SIZE, 12000, nullptr), 1);
  EXPECT_EQ(Held(), 25000);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, tail);
  // A copy gets the same capacity.
  BIO* copy = BIO_dup_chain(f);
  ASSERT_NE(copy, nullptr);
  BIO_write(copy, tail.data(), 25000);
  EXPECT_EQ(BIO_ctrl(copy, BIO_CTRL_INFO, 0, nullptr), 25000);
  BIO_free_all(copy);
}

TEST_F(LineBuffer, ReadsPassThrough) {
  Script(next).input = "first\nsecond";
  EXPECT_EQ(BIO_pending(f), 12);  // answered by the next stream
  char buf[32];
  EXPECT_EQ(BIO_gets(f, buf, sizeof(buf)), 6);
  EXPECT_STREQ(buf, "first\n");
  EXPECT_EQ(BIO_read(f, buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "sec");
  Script(next).read_script = {ScriptStep::Retry()};
  EXPECT_EQ(BIO_read(f, buf, 3), -1);
  EXPECT_TRUE(BIO_should_read(f));
}

TEST_F(LineBuffer, ResizeFailureAndReset) {
  ASSERT_EQ(Write("abc"), 3);
  ERR_clear_error();
  EXPECT_EQ(BIO_ctrl(f, BIO_C_SET_BUFF_SIZE, 1L << 40, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_LINEBUFFER_CTRL, ERR_R_MALLOC_FAILURE}});
  EXPECT_EQ(BIO_reset(f), 1);
  EXPECT_EQ(Held(), 0);
  EXPECT_EQ(BIO_flush(f), 1);
  EXPECT_EQ(Script(next).output, "");
}

}  // namespace
