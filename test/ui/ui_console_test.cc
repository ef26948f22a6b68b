// The console method on a real pseudo-terminal: each test forks a child whose
// controlling terminal is a new pseudo-terminal, so that the child's prompts
// open it as /dev/tty; the parent plays the user on the master side.  Echo
// off, verification, yes/no answers, long lines, signals and the fallback to
// the standard streams are checked; the child reports what it saw through a
// pipe.

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/ui.h>

#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTimeout = std::chrono::seconds(20);

using morvane_test::ReadAll;

// Runs `body` in a forked child and collects the text it returns.
class Child {
 public:
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {report_, master_, slave_})
      if (fd >= 0) close(fd);
  }

  // The child's controlling terminal is a new pseudo-terminal.
  void StartOnTerminal(const std::function<std::string()>& body) {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0) << strerror(errno);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // The settings before the child can touch them.
    ASSERT_EQ(tcgetattr(slave_, &initial_), 0);
    Start(body, [this] {
      close(master_);
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
    });
  }

  // The child has no controlling terminal; `setup` runs in it first.
  void StartDetached(const std::function<std::string()>& body, const std::function<void()>& setup) {
    Start(body, [&setup] {
      setsid();
      setup();
    });
  }

  // Waits until the terminal output after the last match holds `text`.
  bool WaitFor(const std::string& text) {
    return WaitUntil(
        [&] {
          const size_t at = output_.find(text, seen_);
          if (at != std::string::npos) seen_ = at + text.size();
          return at != std::string::npos;
        },
        "\"" + text + "\" in the terminal output");
  }

  // Waits until the terminal's echo bit is `on`.
  bool WaitEcho(bool on) {
    return WaitUntil([&] { return EchoOn() == on; }, on ? "echo on" : "echo off");
  }

  // Reads the terminal output until `done` holds, for at most kTimeout.
  bool WaitUntil(const std::function<bool()>& done, const std::string& what) {
    for (const auto end = Clock::now() + kTimeout; Clock::now() <= end;) {
      Drain();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "no " << what << "; terminal output: " << output_;
    return false;
  }

  const struct termios& initial() const { return initial_; }

  bool EchoOn() const {
    struct termios t;
    EXPECT_EQ(tcgetattr(slave_, &t), 0);
    return (t.c_lflag & ECHO) != 0;
  }

  // Types `text` on the terminal, reading its output meanwhile.
  void Type(const std::string& text) {
    const auto end = Clock::now() + kTimeout;
    size_t done = 0;
    while (done < text.size() && Clock::now() < end) {
      const ssize_t n = write(master_, text.data() + done, text.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      Drain();
      if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(done, text.size());
  }

  // Waits for the child and returns its report; the child must exit with 0.
  // `poke` runs every 50 ms meanwhile: a signal sent just before the child
  // blocks in its read is only recorded, so a test that interrupts the read
  // repeats it until the child is done.
  std::string Finish(const std::function<void()>& poke = {}) {
    const auto end = Clock::now() + kTimeout;
    auto next_poke = Clock::now();
    int status = 0;
    for (;;) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) break;
      if (r < 0 && errno != EINTR) break;
      if (Clock::now() > end) {
        ADD_FAILURE() << "the child did not finish; terminal output: " << output_;
        return "";
      }
      if (poke && Clock::now() >= next_poke) {
        poke();
        next_poke = Clock::now() + std::chrono::milliseconds(50);
      }
      Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    Drain();
    return ReadAll(report_);
  }

  const std::string& output() const { return output_; }
  int slave() const { return slave_; }

 private:
  void Start(const std::function<std::string()>& body, const std::function<void()>& setup) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      close(fds[0]);
      setup();
      _exit(morvane_test::WriteAll(fds[1], body()) ? 0 : 2);
    }
    close(fds[1]);
    report_ = fds[0];
  }

  void Drain() {
    if (master_ < 0) return;
    char buf[4096];
    ssize_t n;
    while ((n = read(master_, buf, sizeof(buf))) > 0) output_.append(buf, static_cast<size_t>(n));
  }

  pid_t pid_ = -1;
  int report_ = -1, master_ = -1, slave_ = -1;
  struct termios initial_ = {};
  std::string output_;
  size_t seen_ = 0;
};

// ---- what the children run -------------------------------------------------

std::string ReadPw(const char* prompt, int verify) {
  char buf[64];
  memset(buf, 0, sizeof(buf));
  const int r = UI_UTIL_read_pw_string(buf, sizeof(buf), prompt, verify);
  return std::to_string(r) + ":" + buf;
}

// The handler and flags of every catchable signal.  The C library adds its
// own return trampoline to every action it installs (the kernel's SA_RESTORER
// flag, which the C library's headers do not name), so that flag is left out.
std::string SignalActions() {
  constexpr int kLibraryFlags = 0x04000000;
  std::string out;
  for (int sig = 1; sig < NSIG; sig++) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    struct sigaction sa;
    if (sigaction(sig, nullptr, &sa) != 0) continue;
    out += std::to_string(sig) + "=" + std::to_string(reinterpret_cast<uintptr_t>(sa.sa_handler)) +
           "/" + std::to_string(sa.sa_flags & ~kLibraryFlags) + " ";
  }
  return out;
}

void MarkSignal(int) {}

// ---- tests -------------------------------------------------------------------

TEST(UiConsole, EchoOffHidesTheAnswerAndComesBack) {
  Child c;
  c.StartOnTerminal([] { return ReadPw("Password:", 0); });
  const struct termios before = c.initial();
  ASSERT_TRUE(before.c_lflag & ECHO);
  ASSERT_TRUE(c.WaitFor("Password:"));
  ASSERT_TRUE(c.WaitEcho(false));
  c.Type("s3cret\n");
  EXPECT_EQ(c.Finish(), "0:s3cret");
  EXPECT_EQ(c.output().find("s3cret"), std::string::npos) << c.output();
  EXPECT_NE(c.output().find("Password:\r\n"), std::string::npos) << c.output();
  struct termios after;
  ASSERT_EQ(tcgetattr(c.slave(), &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);  // echo is on again, the rest untouched
}

TEST(UiConsole, EchoFlagShowsTheAnswer) {
  Child c;
  c.StartOnTerminal([] {
    UI* ui = UI_new();
    char buf[32] = {0};
    UI_add_info_string(ui, "Note: read carefully\n");
    UI_add_error_string(ui, "Warning: shown\n");
    UI_add_input_string(ui, "Name:", UI_INPUT_FLAG_ECHO, buf, 1, 31);
    const int r = UI_process(ui);
    UI_free(ui);
    return std::to_string(r) + ":" + buf;
  });
  ASSERT_TRUE(c.WaitFor("Note: read carefully\r\nWarning: shown\r\nName:"));
  c.Type("visible\n");
  EXPECT_EQ(c.Finish(), "0:visible");
  EXPECT_NE(c.output().find("Name:visible\r\n"), std::string::npos) << c.output();
  EXPECT_TRUE(c.EchoOn());
}

TEST(UiConsole, Verification) {
  Child c;
  c.StartOnTerminal([] {
    const std::string first = ReadPw("Password:", 1);
    return first + " " + ReadPw("Password:", 1);
  });
  for (const char* second : {"abc\n", "abd\n"}) {
    ASSERT_TRUE(c.WaitFor("Password:"));
    ASSERT_TRUE(c.WaitEcho(false));
    c.Type("abc\n");
    ASSERT_TRUE(c.WaitFor("Verifying - Password:"));
    ASSERT_TRUE(c.WaitEcho(false));
    c.Type(second);
  }
  EXPECT_EQ(c.Finish(), "0:abc -1:abc");
  EXPECT_EQ(c.output().find("Verify failure"), c.output().rfind("Verify failure")) << c.output();
  EXPECT_NE(c.output().find("Verifying - Password:\r\nVerify failure\r\n"), std::string::npos)
      << c.output();
  EXPECT_TRUE(c.EchoOn());
}

TEST(UiConsole, YesNoAnswerKeepsItsNewline) {
  Child c;
  c.StartOnTerminal([] {
    UI* ui = UI_new();
    char a[2] = {0}, b[2] = {0};
    // The second question takes the newline as its ok character.
    UI_add_input_boolean(ui, "Continue?", " [y/n]:", "yY", "nN", UI_INPUT_FLAG_ECHO, a);
    UI_add_input_boolean(ui, "Again?", nullptr, "\n", "q", UI_INPUT_FLAG_ECHO, b);
    const int r = UI_process(ui);
    UI_free(ui);
    return std::to_string(r) + ":" + a + ":" + (b[0] == '\n' ? "newline" : b);
  });
  ASSERT_TRUE(c.WaitFor("Continue? [y/n]:"));
  c.Type("y\n");
  ASSERT_TRUE(c.WaitFor("Again?"));
  c.Type("x\n");
  EXPECT_EQ(c.Finish(), "0:y:newline");
}

TEST(UiConsole, LongLinesAreCutAndTheirRestDropped) {
  // Lines of 1021, 1022, 1023 and 2000 characters, then a short one: an answer
  // keeps at most 1022 characters and the rest of its line is consumed.
  const std::vector<std::pair<char, size_t>> lines = {
      {'a', 1021}, {'b', 1022}, {'c', 1023}, {'d', 2000}, {'e', 3}};
  Child c;
  c.StartOnTerminal([&lines] {
    UI* ui = UI_new();
    std::vector<std::vector<char>> bufs(lines.size(), std::vector<char>(1024, 0));
    for (size_t i = 0; i < lines.size(); i++)
      UI_add_input_string(ui, "Line:", 0, bufs[i].data(), 0, 1023);
    const int r = UI_process(ui);
    UI_free(ui);
    std::string out = std::to_string(r);
    for (size_t i = 0; i < lines.size(); i++) {
      const std::string got(bufs[i].data());
      const bool uniform =
          std::all_of(got.begin(), got.end(), [&](char ch) { return ch == lines[i].first; });
      out += " " + std::to_string(got.size()) + (uniform ? "" : "!");
    }
    return out;
  });
  for (const auto& [ch, n] : lines) {
    ASSERT_TRUE(c.WaitFor("Line:"));
    ASSERT_TRUE(c.WaitEcho(false));
    c.Type(std::string(n, ch) + "\n");
  }
  EXPECT_EQ(c.Finish(), "0 1021 1022 1022 1022 3");
}

TEST(UiConsole, InterruptKeyInterruptsAndRestoresTheHandler) {
  Child c;
  c.StartOnTerminal([] {
    struct sigaction mine;
    memset(&mine, 0, sizeof(mine));
    mine.sa_handler = MarkSignal;
    sigaction(SIGINT, &mine, nullptr);
    const std::string before = SignalActions();
    const std::string r = ReadPw("Password:", 0);
    struct sigaction now;
    sigaction(SIGINT, nullptr, &now);
    return r + (now.sa_handler == MarkSignal ? " kept" : " lost") +
           (SignalActions() == before ? " restored" : " changed");
  });
  ASSERT_TRUE(c.WaitFor("Password:"));
  ASSERT_TRUE(c.WaitEcho(false));
  c.Type("par");
  // The terminal's interrupt character.
  EXPECT_EQ(c.Finish([&c] { c.Type(std::string(1, '\x03')); }), "-2: kept restored");
  EXPECT_TRUE(c.EchoOn());
}

TEST(UiConsole, OtherSignalFailsTheReadAndRestoresEverything) {
  Child c;
  c.StartOnTerminal([] {
    const std::string before = SignalActions();
    UI* ui = UI_new();
    char buf[32] = {0};
    UI_add_input_string(ui, "Password:", 0, buf, 0, 31);
    const int r = UI_process(ui);
    UI_free(ui);
    return std::to_string(r) + (SignalActions() == before ? " restored" : " changed");
  });
  ASSERT_TRUE(c.WaitFor("Password:"));
  ASSERT_TRUE(c.WaitEcho(false));
  // A window-size change is caught like any other signal and ends the read.
  unsigned short cols = 80;
  EXPECT_EQ(c.Finish([&] {
    struct winsize ws = {40, ++cols, 0, 0};
    ioctl(c.slave(), TIOCSWINSZ, &ws);
  }),
            "-1 restored");
  EXPECT_TRUE(c.EchoOn());
}

// Without a terminal the prompt goes to standard error and the answer comes
// from standard input; its end fails the read.
TEST(UiConsole, WithoutTerminalUsesTheStandardStreams) {
  morvane_test::Pipe in, err;
  Child c;
  c.StartDetached(
      [] {
        std::string out;
        for (int i = 0; i < 3; i++) out += (i ? " " : "") + ReadPw("Password:", 0);
        return out;
      },
      [&] {
        dup2(in.read_fd, 0);
        dup2(err.write_fd, 2);
        for (morvane_test::Pipe* p : {&in, &err}) {
          p->CloseRead();
          p->CloseWrite();
        }
      });
  in.CloseRead();
  err.CloseWrite();
  ASSERT_TRUE(morvane_test::WriteAll(in.write_fd, "from pipe\nno newline"));
  in.CloseWrite();
  EXPECT_EQ(c.Finish(), "0:from pipe -1: -1:");
  EXPECT_EQ(ReadAll(err.read_fd).substr(0, 10), "Password:\n");
}

TEST(UiConsole, ErrorMarkLeftOnStandardInputIsCleared) {
  // An earlier interrupted read leaves the error mark on the standard input
  // stream, which outlives console sessions; the next prompt still reads.
  morvane_test::Pipe in;
  Child c;
  c.StartDetached(
      [] {
        const bool marked = ferror(stdin) != 0;
        return std::string(marked ? "marked " : "clean ") + ReadPw("Password:", 0);
      },
      [&] {
        dup2(in.write_fd, 0);  // write-only: reading fails and marks the stream
        (void)fgetc(stdin);
        dup2(in.read_fd, 0);
        in.CloseRead();
        in.CloseWrite();
        close(2);
      });
  in.CloseRead();
  ASSERT_TRUE(morvane_test::WriteAll(in.write_fd, "again\n"));
  in.CloseWrite();
  EXPECT_EQ(c.Finish(), "marked 0:again");
}

TEST(UiConsole, SessionHoldsLockThirtyOne) {
  Child c;
  c.StartOnTerminal([] {
    morvane_test::InstallLockingCallback();
    morvane_test::StartRecordingLocks();
    const std::string r = ReadPw("Password:", 0);
    std::string locks;
    for (const auto& e : morvane_test::StopRecordingLocks({CRYPTO_LOCK_UI}))
      locks += " " + std::to_string(e.mode);
    return r + locks;
  });
  ASSERT_TRUE(c.WaitFor("Password:"));
  ASSERT_TRUE(c.WaitEcho(false));
  c.Type("x\n");
  EXPECT_EQ(c.Finish(), "0:x 9 10");
}

TEST(UiConsole, FailedOpenReleasesTheLockAndTheStreams) {
  // No terminal and no standard input: reading the terminal settings fails
  // with an error other than "not a terminal", so the session cannot open.
  morvane_test::Pipe err;
  Child c;
  c.StartDetached(
      [] {
        auto open_fds = [] {
          int n = 0;
          for (int fd = 0; fd < 256; fd++) n += fcntl(fd, F_GETFD) != -1;
          return n;
        };
        morvane_test::InstallLockingCallback();
        const int fds = open_fds();
        morvane_test::StartRecordingLocks();
        const std::string first = ReadPw("Password:", 0);
        const std::string second = ReadPw("Password:", 0);  // the lock is free again
        std::string locks;
        for (const auto& e : morvane_test::StopRecordingLocks({CRYPTO_LOCK_UI}))
          locks += " " + std::to_string(e.mode);
        return first + " " + second + locks + (open_fds() == fds ? " closed" : " leaked");
      },
      [&] {
        dup2(err.write_fd, 2);
        err.CloseRead();
        err.CloseWrite();
        close(0);
      });
  err.CloseWrite();
  EXPECT_EQ(c.Finish(), "-1: -1: 9 10 9 10 closed");
  EXPECT_EQ(ReadAll(err.read_fd), "");  // nothing was prompted
}

}  // namespace
