// FILE and descriptor streams: opening by name and its errors, the open
// modes of BIO_C_SET_FILENAME, reading, writing, lines and positions, a
// stream without a FILE, and the retry conventions of non-blocking
// descriptors.  The close flag is tested with the other descriptor streams
// (test/bio_net/close_flag_test.cc).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

using morvane_test::ReadFile;

class FileStream : public ::testing::Test {
 protected:
  void SetUp() override { ERR_clear_error(); }
  std::string Path(const char* name) { return dir.Join(name); }
  morvane_test::TempPath dir{morvane_test::TempPath::kDir};
};

TEST_F(FileStream, MissingFileQueuesTheSystemError) {
  std::string path = Path("missing");
  EXPECT_EQ(BIO_new_file(path.c_str(), "r"), nullptr);
  std::string data = "fopen('" + path + "','r')";
  EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_FOPEN, ENOENT, data.c_str()},
                 {ERR_LIB_BIO, BIO_F_BIO_NEW_FILE, BIO_R_NO_SUCH_FILE}});
  // Another failure names the system library as the reason.
  EXPECT_EQ(BIO_new_file(dir.c_str(), "w"), nullptr);  // a directory
  EXPECT_ERRORS(
      {{ERR_LIB_SYS, SYS_F_FOPEN, EISDIR}, {ERR_LIB_BIO, BIO_F_BIO_NEW_FILE, ERR_R_SYS_LIB}});
}

TEST_F(FileStream, WriteThenReadBack) {
  std::string path = Path("f");
  BIO* w = BIO_new_file(path.c_str(), "w");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(BIO_write(w, "0123456789", 10), 10);
  EXPECT_EQ(BIO_write(w, "x", 0), 0);
  EXPECT_EQ(BIO_write(w, "x", -5), 0);
  EXPECT_EQ(BIO_puts(w, "\nline two\n"), 10);
  EXPECT_EQ(BIO_printf(w, "%s=%d\n", "n", 5), 4);
  EXPECT_EQ(BIO_tell(w), 24);
  EXPECT_EQ(BIO_flush(w), 1);
  EXPECT_EQ(BIO_ctrl_pending(w), 0u);
  EXPECT_EQ(BIO_ctrl_wpending(w), 0u);
  BIO_free(w);
  EXPECT_EQ(ReadFile(path), "0123456789\nline two\nn=5\n");

  BIO* r = BIO_new_file(path.c_str(), "r");
  ASSERT_NE(r, nullptr);
  char buf[64];
  EXPECT_EQ(BIO_read(r, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(BIO_gets(r, buf, sizeof(buf)), 7);
  EXPECT_STREQ(buf, "456789\n");
  EXPECT_EQ(BIO_gets(r, buf, 5), 4);  // size - 1 characters
  EXPECT_STREQ(buf, "line");
  EXPECT_EQ(BIO_read(r, buf, -1), 0);
  EXPECT_EQ(BIO_read(r, buf, sizeof(buf)), 9);
  EXPECT_EQ(BIO_read(r, buf, sizeof(buf)), 0);
  EXPECT_NE(BIO_eof(r), 0);
  EXPECT_EQ(BIO_gets(r, buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(BIO_reset(r), 0);
  EXPECT_EQ(BIO_eof(r), 0);
  EXPECT_EQ(BIO_seek(r, 11), 0);
  EXPECT_EQ(BIO_ctrl(r, BIO_CTRL_INFO, 0, nullptr), 11);
  EXPECT_EQ(BIO_gets(r, buf, sizeof(buf)), 9);
  EXPECT_STREQ(buf, "line two\n");
  EXPECT_FALSE(BIO_should_retry(r));
  BIO_free(r);
}

TEST_F(FileStream, ReadErrorIsReportedAndSticks) {
  std::string path = Path("wo");
  BIO* b = BIO_new_file(path.c_str(), "w");
  ASSERT_NE(b, nullptr);
  char buf[4];
  EXPECT_EQ(BIO_read(b, buf, 4), -1);  // a FILE open for writing only
  EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_FREAD, EBADF}, {ERR_LIB_BIO, BIO_F_FILE_READ, ERR_R_SYS_LIB}});
  EXPECT_EQ(BIO_read(b, buf, 4), -1);
  ERR_clear_error();
  BIO_free(b);
  // Lines read from a folder say why there are none.
  b = BIO_new_file(dir.c_str(), "r");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(BIO_gets(b, buf, sizeof buf), -1);
  EXPECT_ERRORS(
      {{ERR_LIB_SYS, SYS_F_FREAD, EISDIR}, {ERR_LIB_BIO, BIO_F_FILE_READ, ERR_R_SYS_LIB}});
  BIO_free(b);
}

// A line's length counts every byte read, those after a zero byte too.
TEST_F(FileStream, LinesKeepBytesAfterAZero) {
  const std::string text("a\0b\ncd\0", 7);
  morvane_test::WriteFile(Path("z"), text);
  BIO* b = BIO_new_file(Path("z").c_str(), "r");
  ASSERT_NE(b, nullptr);
  char buf[16];
  EXPECT_EQ(BIO_gets(b, buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 5), std::string("a\0b\n\0", 5));
  EXPECT_EQ(BIO_gets(b, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 4), std::string("cd\0\0", 4));
  EXPECT_EQ(BIO_gets(b, buf, sizeof buf), 0);
  BIO_free(b);
}

TEST_F(FileStream, OpenModeBits) {
  std::string path = Path("m");
  BIO* b = BIO_new(BIO_s_file());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(BIO_ctrl(b, BIO_C_SET_FILENAME, BIO_CLOSE, const_cast<char*>(path.c_str())), 0);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_FILE_CTRL, BIO_R_BAD_FOPEN_MODE}});
  EXPECT_EQ(
      BIO_ctrl(b, BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_READ, const_cast<char*>(path.c_str())), 0);
  std::string data = "fopen('" + path + "','r')";
  EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_FOPEN, ENOENT, data.c_str()},
                 {ERR_LIB_BIO, BIO_F_FILE_CTRL, ERR_R_SYS_LIB}});

  // 0x04: "w" truncates and writes.
  ASSERT_EQ(BIO_write_filename(b, const_cast<char*>(path.c_str())), 1);
  EXPECT_EQ(BIO_puts(b, "one\n"), 4);
  // 0x0c: "a" appends (releasing the previous FILE first).
  ASSERT_EQ(BIO_ctrl(b, BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_WRITE | BIO_FP_APPEND,
                     const_cast<char*>(path.c_str())),
            1);
  EXPECT_EQ(BIO_puts(b, "two\n"), 4);
  // 0x0a: "a+" reads from the start and appends.
  ASSERT_EQ(BIO_ctrl(b, BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_READ | BIO_FP_APPEND,
                     const_cast<char*>(path.c_str())),
            1);
  char buf[32];
  EXPECT_EQ(BIO_gets(b, buf, sizeof(buf)), 4);
  EXPECT_STREQ(buf, "one\n");
  EXPECT_EQ(BIO_puts(b, "three\n"), 6);
  // 0x06: "r+" keeps the contents and writes from the start.
  ASSERT_EQ(BIO_rw_filename(b, const_cast<char*>(path.c_str())), 1);
  EXPECT_EQ(BIO_puts(b, "ONE"), 3);
  // 0x02: "r".
  ASSERT_EQ(BIO_read_filename(b, path.c_str()), 1);
  EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), 14);
  EXPECT_EQ(std::string(buf, 14), "ONE\ntwo\nthree\n");
  EXPECT_EQ(BIO_write(b, "x", 1), 0);  // all or nothing on a read-only FILE
  BIO_free(b);
}

TEST_F(FileStream, WrappedFile) {
  std::string path = Path("fp");
  FILE* f = fopen(path.c_str(), "w+");
  ASSERT_NE(f, nullptr);
  BIO* b = BIO_new_fp(f, 0x10 | BIO_CLOSE);
  EXPECT_EQ(BIO_get_close(b), BIO_CLOSE);  // only the close bit counts
  FILE* got = nullptr;
  EXPECT_EQ(BIO_get_fp(b, &got), 1);
  EXPECT_EQ(got, f);
  EXPECT_EQ(BIO_puts(b, "kept"), 4);
  BIO_free(b);
  EXPECT_EQ(ReadFile(path), "kept");
}

TEST_F(FileStream, StreamWithoutFileFailsCleanly) {
  BIO* b = BIO_new(BIO_s_file());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(BIO_reset(b), -1);
  EXPECT_EQ(BIO_seek(b, 3), -1);
  EXPECT_EQ(BIO_tell(b), -1);
  EXPECT_EQ(BIO_ctrl(b, BIO_CTRL_INFO, 0, nullptr), -1);
  EXPECT_EQ(BIO_eof(b), 1);
  EXPECT_EQ(BIO_flush(b), 0);
  EXPECT_EQ(BIO_ctrl(b, BIO_CTRL_DUP, 0, nullptr), 1);
  BIO_free(b);

  // A null FILE leaves the stream uninitialised.
  b = BIO_new_fp(nullptr, BIO_CLOSE);
  ASSERT_NE(b, nullptr);
  char buf[4];
  EXPECT_EQ(BIO_read(b, buf, 4), -2);
  EXPECT_EQ(BIO_puts(b, "x"), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_READ, BIO_R_UNINITIALIZED},
                 {ERR_LIB_BIO, BIO_F_BIO_PUTS, BIO_R_UNINITIALIZED}});
  EXPECT_EQ(BIO_set_fp(b, nullptr, BIO_NOCLOSE), 0);
  EXPECT_EQ(BIO_flush(b), 0);
  // Even with init forced on, stdio never sees the null FILE.
  b->init = 1;
  EXPECT_EQ(BIO_read(b, buf, 4), 0);
  EXPECT_EQ(BIO_write(b, "x", 1), 0);
  EXPECT_EQ(BIO_gets(b, buf, 4), 0);
  EXPECT_STREQ(buf, "");
  BIO_free(b);
}

TEST(FdStream, PipeRoundTripAndRetries) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
  ASSERT_EQ(fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
  BIO* r = BIO_new(BIO_s_fd());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(BIO_get_fd(r, nullptr), -1);  // nothing attached yet
  EXPECT_EQ(BIO_set_fd(r, fds[0], BIO_CLOSE), 1);
  int got = -1;
  EXPECT_EQ(BIO_get_fd(r, &got), fds[0]);
  EXPECT_EQ(got, fds[0]);
  BIO* w = BIO_new_fd(fds[1], BIO_CLOSE);

  char buf[16];
  EXPECT_EQ(BIO_read(r, buf, sizeof(buf)), -1);  // no data yet: EAGAIN
  EXPECT_TRUE(BIO_should_retry(r));
  EXPECT_TRUE(BIO_should_read(r));
  EXPECT_EQ(BIO_write(w, "ping", 4), 4);
  EXPECT_EQ(BIO_puts(w, "!"), 1);
  EXPECT_EQ(BIO_read(r, buf, sizeof(buf)), 5);
  EXPECT_FALSE(BIO_should_retry(r));
  EXPECT_EQ(std::string(buf, 5), "ping!");
  EXPECT_EQ(BIO_read(r, nullptr, 5), 0);
  EXPECT_EQ(BIO_read(r, buf, -1), -1);

  // A full pipe asks the writer to retry.
  std::string big(1 << 20, 'z');
  int n = BIO_write(w, big.data(), static_cast<int>(big.size()));
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(big.size()));
  EXPECT_EQ(BIO_write(w, big.data(), 10), -1);
  EXPECT_TRUE(BIO_should_retry(w));
  EXPECT_TRUE(BIO_should_write(w));
  while (BIO_read(r, buf, sizeof(buf)) > 0) {
  }
  // End of file after the writer closes: 0 without retry flags.
  BIO_free(w);
  EXPECT_EQ(BIO_read(r, buf, sizeof(buf)), 0);
  EXPECT_FALSE(BIO_should_retry(r));
  EXPECT_EQ(BIO_gets(r, buf, sizeof(buf)), -2);  // no gets
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GETS, BIO_R_UNSUPPORTED_METHOD}});
  EXPECT_EQ(BIO_eof(r), 0);
  EXPECT_EQ(BIO_ctrl_pending(r), 0u);
  EXPECT_EQ(BIO_ctrl_wpending(r), 0u);
  EXPECT_EQ(BIO_flush(r), 1);
  BIO_free(r);
  EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);  // closed with the stream
}

TEST(FdStream, Positions) {
  morvane_test::TempPath path;
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  BIO* b = BIO_new_fd(fd, BIO_CLOSE);
  EXPECT_EQ(BIO_write(b, "hello", 5), 5);
  EXPECT_EQ(BIO_tell(b), 5);
  EXPECT_EQ(BIO_ctrl(b, BIO_CTRL_INFO, 0, nullptr), 5);
  EXPECT_EQ(BIO_reset(b), 0);
  EXPECT_EQ(BIO_seek(b, 2), 2);
  char buf[8];
  EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), 3);
  EXPECT_EQ(std::string(buf, 3), "llo");
  EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), 0);
  EXPECT_FALSE(BIO_should_retry(b));
  BIO_free(b);
}

}  // namespace
