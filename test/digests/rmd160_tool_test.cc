// The rmd160 program, run as a separate process on temporary files, standard
// input, a missing file and inputs that fail part-way; standard output,
// standard error and the exit status are checked exactly.  Expected digests
// are the RIPEMD-160 authors' published vectors.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/ripemd.h>
#include <morvane/rmd160.h>

#include "test_support.h"

namespace {

const char kEmpty[] = "9c1185a5c5e9fc54612808977ee8f548b2258d31";
const char kAbc[] = "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc";
const char kMessageDigest[] = "5d0689ef49d2fae572b881b123a85ffa21595f36";
const char kMillionA[] = "52783243c1697bdbe16d37f97f68f08325dc1528";

struct Result {
  int status = -1;  // exit status, or -1 when the program did not exit
  std::string out, err;
};

class Rmd160Tool : public ::testing::Test {
 protected:
  std::string WriteFile(const std::string& name, const std::string& content) {
    morvane_test::WriteFile(dir_.Join(name), content);
    return dir_.Join(name);
  }

  // Runs the program with `args`, standard input from `stdin_path`, and
  // standard output to `stdout_path` (a file in the scratch folder when empty).
  Result Run(const std::vector<std::string>& args, const std::string& stdin_path = "/dev/null",
             std::string stdout_path = "") {
    const std::string err_path = dir_.Join(".err");
    const bool own_out = stdout_path.empty();
    if (own_out) stdout_path = dir_.Join(".out");
    pid_t pid = fork();
    if (pid == 0) {
      int in = open(stdin_path.c_str(), O_RDONLY);
      int out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(MORVANE_RMD160_PROGRAM));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(MORVANE_RMD160_PROGRAM, argv.data());
      _exit(127);
    }
    Result r;
    int wstatus = 0;
    EXPECT_EQ(waitpid(pid, &wstatus, 0), pid);
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (own_out) r.out = morvane_test::ReadFile(stdout_path);
    r.err = morvane_test::ReadFile(err_path);
    return r;
  }

  morvane_test::TempPath dir_{morvane_test::TempPath::kDir};
};

TEST_F(Rmd160Tool, NamedFilesPrintOneLineEach) {
  const std::string empty = WriteFile("empty", "");
  const std::string abc = WriteFile("a b c.txt", "abc");
  // 1,000,000 bytes: read in many pieces of 16384 bytes.
  const std::string big = WriteFile("million", std::string(1000000, 'a'));
  Result r = Run({empty, abc, big});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "RIPEMD160(" + empty + ")= " + kEmpty + "\n" + "RIPEMD160(" + abc +
                       ")= " + kAbc + "\n" + "RIPEMD160(" + big + ")= " + kMillionA + "\n");
}

TEST_F(Rmd160Tool, NoArgumentsDigestsStandardInput) {
  Result r = Run({}, WriteFile("in", "message digest"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(kMessageDigest) + "\n");

  r = Run({}, "/dev/null");
  EXPECT_EQ(r.out, std::string(kEmpty) + "\n");
}

TEST_F(Rmd160Tool, FileThatCannotBeOpenedIsReportedAndCounted) {
  const std::string missing = dir_.Join("missing");
  const std::string abc = WriteFile("abc", "abc");
  Result r = Run({missing, abc});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, missing + ": " + strerror(ENOENT) + "\n");
  EXPECT_EQ(r.out, "RIPEMD160(" + abc + ")= " + kAbc + "\n");

  r = Run({missing, missing + "2", abc, missing + "3"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "RIPEMD160(" + abc + ")= " + kAbc + "\n");
}

// A directory opens but every read fails: no digest is printed for it (not
// even the name prefix), the error is reported and the input counts as failed.
TEST_F(Rmd160Tool, ReadErrorPrintsNoDigestAndCounts) {
  const std::string abc = WriteFile("abc", "abc");
  Result r = Run({dir_.path(), abc});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir_.path() + ": " + strerror(EISDIR) + "\n");
  EXPECT_EQ(r.out, "RIPEMD160(" + abc + ")= " + kAbc + "\n");

  r = Run({}, dir_.path());  // standard input that cannot be read
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string("stdin: ") + strerror(EISDIR) + "\n");
  EXPECT_EQ(r.out, "");
}

// An exit status counts modulo 256, so 256 failures must not read as success.
TEST_F(Rmd160Tool, ExitStatusStopsAt255) {
  std::vector<std::string> args;
  for (int i = 0; i < 256; i++) args.push_back(dir_.Join("none" + std::to_string(i)));
  Result r = Run(args);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 256);
}

TEST_F(Rmd160Tool, OutputThatCannotBeWrittenIsAFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Result r = Run({WriteFile("abc", "abc")}, "/dev/null", "/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string("stdout: ") + strerror(ENOSPC) + "\n");
}

// The exported helpers, called in this process.
TEST(Rmd160Helpers, DoFpDigestsTheStreamOrReportsItsReadError) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  fputs("message digest", f);
  fflush(f);
  rewind(f);
  ::testing::internal::CaptureStdout();
  do_fp(f);
  fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string(kMessageDigest) + "\n");
  fclose(f);

  FILE* d = fopen("/", "r");
  ASSERT_NE(d, nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  do_fp(d);
  fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            std::string("read: ") + strerror(EISDIR) + "\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  fclose(d);
}

}  // namespace
