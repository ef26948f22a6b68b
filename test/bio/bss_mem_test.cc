// Memory streams (growable and read-only over caller data) and the null
// stream.

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

std::string Contents(BIO* b) {
  char* data = nullptr;
  long n = BIO_get_mem_data(b, &data);
  return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

class MemStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ERR_clear_error();
    b = BIO_new(BIO_s_mem());
    ASSERT_NE(b, nullptr);
  }
  void TearDown() override { BIO_free(b); }
  BIO* b = nullptr;
};

TEST_F(MemStream, EmptyStreamAsksForRetry) {
  char buf[10];
  EXPECT_EQ(BIO_read(b, buf, 10), -1);
  EXPECT_TRUE(BIO_should_retry(b));
  EXPECT_TRUE(BIO_should_read(b));
  EXPECT_EQ(BIO_ctrl_pending(b), 0u);
  EXPECT_EQ(BIO_eof(b), 1);
  // With end value 0 an empty read is the end of data.
  EXPECT_EQ(BIO_set_mem_eof_return(b, 0), 1);
  EXPECT_EQ(BIO_read(b, buf, 10), 0);
  EXPECT_FALSE(BIO_should_retry(b));
  BIO_set_mem_eof_return(b, -7);
  EXPECT_EQ(BIO_read(b, buf, 10), -7);
  EXPECT_TRUE(BIO_should_retry(b));
}

TEST_F(MemStream, QueueOfBytes) {
  EXPECT_EQ(BIO_write(b, "hello", 5), 5);
  EXPECT_EQ(BIO_write(b, "world", 5), 5);
  EXPECT_EQ(BIO_ctrl_pending(b), 10u);
  EXPECT_EQ(BIO_ctrl_wpending(b), 0u);
  EXPECT_EQ(BIO_eof(b), 0);
  char buf[100];
  EXPECT_EQ(BIO_read(b, buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "hel");
  EXPECT_EQ(BIO_ctrl_pending(b), 7u);
  EXPECT_EQ(BIO_gets(b, buf, 100), 7);  // no newline: everything
  EXPECT_STREQ(buf, "loworld");
  EXPECT_EQ(BIO_gets(b, buf, 100), 0);  // gets never reports the end value
  EXPECT_STREQ(buf, "");
  EXPECT_FALSE(BIO_should_retry(b));
  EXPECT_EQ(BIO_puts(b, "abc"), 3);
  EXPECT_EQ(Contents(b), "abc");
  EXPECT_EQ(BIO_write(b, "", 0), 0);
  EXPECT_EQ(BIO_ctrl_pending(b), 3u);
}

TEST_F(MemStream, GetsStopsAtNewlineOrSize) {
  BIO_puts(b, "a\nbb\n");
  char buf[100];
  EXPECT_EQ(BIO_gets(b, buf, 1), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(BIO_gets(b, buf, 2), 1);  // size - 1 bytes
  EXPECT_STREQ(buf, "a");
  EXPECT_EQ(BIO_gets(b, buf, 100), 1);
  EXPECT_STREQ(buf, "\n");
  EXPECT_EQ(BIO_gets(b, buf, 100), 3);
  EXPECT_STREQ(buf, "bb\n");
  memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(BIO_gets(b, buf, 0), 0);  // no room: nothing stored
  EXPECT_EQ(buf[0], 'x');
}

TEST_F(MemStream, ReadWithoutBufferCountsAvailableBytes) {
  BIO_write(b, "xyz", 3);
  EXPECT_EQ(BIO_read(b, nullptr, 5), 3);
  EXPECT_EQ(BIO_ctrl_pending(b), 3u);
  char buf[4];
  EXPECT_EQ(BIO_read(b, buf, 0), 0);
  EXPECT_EQ(BIO_ctrl_pending(b), 3u);
}

TEST_F(MemStream, ResetEmptiesAndWipes) {
  BIO_write(b, "secret", 6);
  BUF_MEM* bm = nullptr;
  EXPECT_EQ(BIO_get_mem_ptr(b, &bm), 1);
  ASSERT_NE(bm, nullptr);
  EXPECT_EQ(BIO_reset(b), 1);
  EXPECT_EQ(BIO_ctrl_pending(b), 0u);
  for (int i = 0; i < bm->max; i++) EXPECT_EQ(bm->data[i], 0) << i;
}

TEST_F(MemStream, BadWritesAreRefused) {
  EXPECT_EQ(BIO_write(b, nullptr, 3), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_MEM_WRITE, BIO_R_NULL_PARAMETER}});
  BIO_write(b, "keep", 4);
  // A negative length never reaches the copy, and the data stay.
  EXPECT_EQ(BIO_write(b, "abc", -1), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_MEM_WRITE, BIO_R_INVALID_ARGUMENT}});
  EXPECT_EQ(BIO_write(b, "abc", INT_MIN), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_MEM_WRITE, BIO_R_INVALID_ARGUMENT}});
  EXPECT_EQ(Contents(b), "keep");
  EXPECT_EQ(BIO_number_written(b), 4u);
}

TEST_F(MemStream, TakingOverTheBuffer) {
  BIO_puts(b, "collected");
  BUF_MEM* bm = nullptr;
  BIO_get_mem_ptr(b, &bm);
  EXPECT_EQ(BIO_set_close(b, BIO_NOCLOSE), 1);
  EXPECT_EQ(BIO_get_close(b), BIO_NOCLOSE);
  BIO_free(b);
  b = nullptr;
  EXPECT_EQ(std::string(bm->data, static_cast<size_t>(bm->length)), "collected");

  // Handing a buffer to a stream: released with it only under BIO_CLOSE.
  b = BIO_new(BIO_s_mem());
  EXPECT_EQ(BIO_set_mem_buf(b, bm, BIO_NOCLOSE), 1);
  EXPECT_EQ(BIO_ctrl_pending(b), 9u);
  EXPECT_EQ(BIO_write(b, "!", 1), 1);
  EXPECT_EQ(BIO_set_mem_buf(b, BUF_MEM_new(), BIO_CLOSE), 1);
  EXPECT_EQ(std::string(bm->data, static_cast<size_t>(bm->length)), "collected!");
  BUF_MEM_free(bm);
}

// A read takes its bytes where they are: what is left is not moved, so
// reading n bytes in small pieces costs O(n).  The buffer shown whole, or
// handed back to its owner, holds just the unread bytes from its start.
TEST_F(MemStream, ReadsLeaveTheRestInPlace) {
  BIO_puts(b, "first line\nsecond\nthird");
  char* before = nullptr;
  ASSERT_EQ(BIO_get_mem_data(b, &before), 23);
  char buf[16];
  EXPECT_EQ(BIO_read(b, buf, 3), 3);
  EXPECT_EQ(BIO_gets(b, buf, sizeof buf), 8);
  EXPECT_STREQ(buf, "st line\n");
  char* after = nullptr;
  EXPECT_EQ(BIO_get_mem_data(b, &after), 12);
  EXPECT_EQ(after, before + 11);
  EXPECT_EQ(BIO_eof(b), 0);
  BUF_MEM* bm = nullptr;
  BIO_get_mem_ptr(b, &bm);
  EXPECT_EQ(std::string(bm->data, static_cast<size_t>(bm->length)), "second\nthird");
  EXPECT_EQ(BIO_read(b, buf, 7), 7);
  BIO_set_close(b, BIO_NOCLOSE);
  BIO_free(b);
  b = nullptr;
  EXPECT_EQ(std::string(bm->data, static_cast<size_t>(bm->length)), "third");
  BUF_MEM_free(bm);
}

// Writes and reads of any sizes in any order give the bytes in order, and
// the storage stays within a small multiple of what the stream holds (read
// bytes are dropped when a write needs room).
TEST_F(MemStream, InterleavedReadsAndWritesKeepOrder) {
  std::string model;
  size_t most = 0;
  unsigned state = 12345;
  char buf[700];
  for (int step = 0; step < 4000; step++) {
    state = state * 1103515245u + 12345u;
    const int n = static_cast<int>((state >> 8) % sizeof buf);
    if ((state >> 20) & 1) {
      for (int i = 0; i < n; i++) buf[i] = static_cast<char>(step + i);
      ASSERT_EQ(BIO_write(b, buf, n), n);
      model.append(buf, static_cast<size_t>(n));
    } else {
      const int got = BIO_read(b, buf, n);
      ASSERT_EQ(got, model.empty() ? -1 : static_cast<int>(std::min<size_t>(n, model.size())));
      if (got > 0) {
        ASSERT_EQ(std::string(buf, static_cast<size_t>(got)), model.substr(0, got));
        model.erase(0, static_cast<size_t>(got));
      }
    }
    most = std::max(most, model.size());
    ASSERT_EQ(Contents(b), model) << step;
  }
  BUF_MEM* bm = nullptr;
  BIO_get_mem_ptr(b, &bm);
  EXPECT_LE(static_cast<size_t>(bm->max), 8 * (most + sizeof buf));
}

// A stream holds at most 2,147,483,644 bytes: a write past that fails with
// the limit's reason and keeps what is held.  The stand-in buffer claims that
// much storage over a few real bytes (the write is refused before any byte
// is touched).
TEST_F(MemStream, WritePastTheLimitNamesIt) {
  char held[8] = "held";
  BUF_MEM* bm = BUF_MEM_new();
  bm->data = held;
  bm->max = INT_MAX / 4 * 4;
  bm->length = bm->max - 2;
  ASSERT_EQ(BIO_set_mem_buf(b, bm, BIO_NOCLOSE), 1);
  for (int n : {3, INT_MAX}) {
    EXPECT_EQ(BIO_write(b, "abc", n), -1) << n;
    EXPECT_ERRORS({{ERR_LIB_BUF, BUF_F_BUF_MEM_GROW_CLEAN, BUF_R_SIZE_LIMIT_EXCEEDED}}) << n;
    EXPECT_EQ(bm->length, INT_MAX / 4 * 4 - 2);
    EXPECT_EQ(bm->data, held);
  }
  EXPECT_STREQ(held, "held");
  BIO_free(b);
  b = nullptr;
  bm->data = nullptr;
  BUF_MEM_free(bm);
}

TEST_F(MemStream, NullArgumentsAndUnknownCommands) {
  EXPECT_EQ(BIO_set_mem_buf(b, nullptr, BIO_CLOSE), 0);  // refused, buffer kept
  EXPECT_EQ(BIO_write(b, "x", 1), 1);
  EXPECT_EQ(BIO_get_mem_data(b, nullptr), 1);
  EXPECT_EQ(BIO_get_mem_ptr(b, nullptr), 1);
  EXPECT_EQ(BIO_ctrl(b, 999, 0, nullptr), 0);
  EXPECT_EQ(BIO_flush(b), 1);
}

TEST(MemBuf, ReadsCallerBytesInPlace) {
  ERR_clear_error();
  char text[] = "abc";
  BIO* b = BIO_new_mem_buf(text, -1);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(BIO_test_flags(b, BIO_FLAGS_MEM_RDONLY));
  char* data = nullptr;
  EXPECT_EQ(BIO_get_mem_data(b, &data), 3);
  EXPECT_EQ(data, text);  // no copy
  char buf[8];
  EXPECT_EQ(BIO_read(b, buf, 2), 2);
  EXPECT_EQ(BIO_read(b, buf + 2, 8), 1);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(BIO_read(b, buf, 8), 0);  // end of data, not a retry
  EXPECT_FALSE(BIO_should_retry(b));
  EXPECT_EQ(BIO_eof(b), 1);
  EXPECT_EQ(BIO_reset(b), 1);  // readable again from the start
  EXPECT_EQ(BIO_ctrl_pending(b), 3u);
  EXPECT_EQ(BIO_gets(b, buf, 8), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(BIO_write(b, "x", 1), -1);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_MEM_WRITE, BIO_R_WRITE_TO_READ_ONLY_BIO}});
  EXPECT_EQ(BIO_puts(b, "x"), -1);
  EXPECT_STREQ(text, "abc");
  BIO_free(b);  // the caller's bytes stay
  EXPECT_STREQ(text, "abc");
}

TEST(MemBuf, ExplicitLengthAndNull) {
  ERR_clear_error();
  const char bytes[] = {'a', 0, 'b', 'c'};
  BIO* b = BIO_new_mem_buf(const_cast<char*>(bytes), 4);
  char buf[8];
  EXPECT_EQ(BIO_read(b, buf, 8), 4);
  EXPECT_EQ(memcmp(buf, bytes, 4), 0);
  BIO_free(b);
  b = BIO_new_mem_buf(const_cast<char*>(bytes), 0);
  EXPECT_EQ(BIO_read(b, buf, 8), 0);
  BIO_free(b);
  EXPECT_EQ(BIO_new_mem_buf(nullptr, 4), nullptr);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_NEW_MEM_BUF, BIO_R_NULL_PARAMETER}});
}

TEST(MemBuf, CopyByDupChainIsEmpty) {
  char text[] = "abc";
  BIO* b = BIO_new_mem_buf(text, -1);
  BIO* copy = BIO_dup_chain(b);
  ASSERT_NE(copy, nullptr);
  char buf[4];
  EXPECT_EQ(BIO_read(copy, buf, 4), 0);  // empty, end value 0 like the source
  EXPECT_FALSE(BIO_should_retry(copy));
  BIO_free(copy);
  BIO_free(b);
}

TEST(NullStream, DiscardsAndEnds) {
  BIO* b = BIO_new(BIO_s_null());
  ASSERT_NE(b, nullptr);
  std::string hundred(100, 'x');
  EXPECT_EQ(BIO_write(b, hundred.data(), 100), 100);
  EXPECT_EQ(BIO_number_written(b), 100u);
  char buf[4];
  EXPECT_EQ(BIO_read(b, buf, 4), 0);
  EXPECT_EQ(BIO_gets(b, buf, 4), 0);
  EXPECT_EQ(BIO_puts(b, "abc"), 3);
  EXPECT_EQ(BIO_ctrl_pending(b), 0u);
  EXPECT_EQ(BIO_eof(b), 1);
  for (int cmd : {BIO_CTRL_RESET, BIO_CTRL_EOF, BIO_CTRL_SET, BIO_CTRL_SET_CLOSE, BIO_CTRL_FLUSH,
                  BIO_CTRL_DUP})
    EXPECT_EQ(BIO_ctrl(b, cmd, 0, nullptr), 1) << cmd;
  for (int cmd :
       {BIO_CTRL_INFO, BIO_CTRL_GET, BIO_CTRL_GET_CLOSE, BIO_CTRL_PENDING, BIO_CTRL_WPENDING})
    EXPECT_EQ(BIO_ctrl(b, cmd, 0, nullptr), 0) << cmd;
  BIO_free(b);
}

}  // namespace

namespace {

// Many small writes grow the storage geometrically: 256 KiB written 1 KiB at
// a time take a handful of allocations, not one every few writes, and the
// bytes all arrive.
TEST(MemStreamGrowth, SmallWritesTakeFewAllocations) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  BIO* b = BIO_new(BIO_s_mem());
  ASSERT_NE(b, nullptr);
  char piece[1024];
  const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
  for (int i = 0; i < 256; i++) {
    memset(piece, i, sizeof piece);
    ASSERT_EQ(BIO_write(b, piece, sizeof piece), 1024);
  }
  const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
  EXPECT_LE((after.mallocs - before.mallocs) + (after.reallocs - before.reallocs), 8);
  char* data = nullptr;
  ASSERT_EQ(BIO_get_mem_data(b, &data), 256 * 1024);
  for (int i = 0; i < 256; i++) ASSERT_EQ(data[i * 1024 + 1023], static_cast<char>(i)) << i;
  // The storage past the data is not filled ahead of the writes; lengthening
  // the buffer exposes it as zeros.
  BUF_MEM* bm = nullptr;
  BIO_get_mem_ptr(b, &bm);
  const int length = bm->length;
  ASSERT_GT(bm->max, length);
  ASSERT_EQ(BUF_MEM_grow(bm, bm->max), bm->max);
  for (int i = length; i < bm->max; i++) ASSERT_EQ(bm->data[i], 0) << i;
  ASSERT_EQ(data[256 * 1024 - 1], static_cast<char>(255));
  BIO_free(b);
}

}  // namespace

namespace {

// A memory stream made by the caller may hold secrets: when it grows, the
// block it leaves holds none of them, and freeing it leaves zeros.
TEST(MemStreamGrowth, CallersStreamLeavesNoCopyBehind) {
  ASSERT_TRUE(morvane_test::InstallReleaseTracking());
  morvane_test::ReleaseTracking& released = morvane_test::Released();
  BIO* b = BIO_new(BIO_s_mem());
  ASSERT_NE(b, nullptr);
  const std::string secret = "0123456789abcdef";  // 16 bytes, never in the filler
  released.freed.clear();
  for (int i = 0; i < 64; i++) ASSERT_EQ(BIO_write(b, secret.data(), 16), 16);
  ASSERT_GE(released.freed.size(), 2u);  // the storage moved as it grew
  for (const std::string& block : released.freed)
    EXPECT_EQ(block.find("0123456789"), std::string::npos) << block.size();
  BUF_MEM* bm = nullptr;
  BIO_get_mem_ptr(b, &bm);
  const char* storage = bm->data;
  released.freed.clear();
  BIO_free(b);
  ASSERT_FALSE(released.live.count(const_cast<char*>(storage)));
  size_t blocks = 0;
  for (const std::string& block : released.freed) {
    EXPECT_EQ(block.find("0123456789"), std::string::npos);
    if (block.size() < 1024) continue;
    EXPECT_EQ(block, std::string(block.size(), '\0'));
    blocks++;
  }
  EXPECT_EQ(blocks, 1u);  // the storage, zeroed
}

}  // namespace
