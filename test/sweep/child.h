// Runs one call in a forked child, so that a crash or a sanitizer report
// ends only the child: "" when it exited normally with status 0, else what
// happened to it.  Tables of such calls check their results in the child
// with Require.
#ifndef MORVANE_TEST_SWEEP_CHILD_H
#define MORVANE_TEST_SWEEP_CHILD_H

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/err.h>

namespace morvane_test {

template <typename Fn>
std::string RunInChild(Fn&& fn, unsigned seconds) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) dup2(devnull, 0);  // no console to prompt on
    alarm(seconds);
    fn();
    ERR_clear_error();
    _exit(0);  // no leak check: children leave their objects
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return "waitpid failed";
  if (WIFEXITED(status))
    return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return "signal " + std::to_string(sig) + (sig == SIGALRM ? " (timed out)" : "");
  }
  return "status " + std::to_string(status);
}

// One named call, and a table of them each run in its own child.
struct Call {
  const char* what;
  std::function<void()> run;
};

inline void RunAll(const std::vector<Call>& calls, unsigned seconds = 20) {
  for (const Call& c : calls) EXPECT_EQ("", RunInChild(c.run, seconds)) << c.what;
}

// Fails the child (exit status 3) unless `ok`.
inline void Require(bool ok) {
  if (!ok) _exit(3);
}

}  // namespace morvane_test

#endif  // MORVANE_TEST_SWEEP_CHILD_H
