// The console prompt method: prompts on the controlling terminal, answers
// read with echo switched off unless a prompt asks for it.
//
// Implementation notes: one console session runs at a time, under static lock
// 31 from open to close, and the state below belongs to it.  While an answer
// is read, every catchable signal (SIGUSR1 and SIGUSR2 excepted) is caught by
// a handler that only records it; the handlers are installed without
// SA_RESTART, so a signal interrupts the read, which then fails (SIGINT: the
// session reports an interruption).  The terminal settings read at open and
// the previous signal actions are put back after every answer.  The terminal
// streams opened here buffer through two arrays of this file, wiped once the
// streams are closed (fclose would free stdio's own buffers, with the typed
// pass phrase in them, unwiped); the standard streams used as a fallback
// belong to the application and keep their buffers.

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <iterator>

#include <morvane/crypto.h>
#include <morvane/ui.h>

#include "internal/wipe.h"
#include "ui/internal.h"

namespace {

// Answers are read into a buffer of this size with fgets(size - 1), so an
// answer keeps at most kResultSize - 2 characters; the rest of a longer line
// is read and dropped.
constexpr int kResultSize = 1024;
constexpr int kDiscardPiece = 4;

// The signals caught during a read, by name: every standard signal except
// SIGKILL and SIGSTOP, which cannot be caught, and SIGUSR1 and SIGUSR2, which
// are left to the application.
constexpr int kCaughtSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,   SIGFPE,  SIGSEGV,
    SIGPIPE, SIGALRM, SIGTERM, SIGCHLD, SIGCONT,   SIGTSTP, SIGTTIN,  SIGTTOU, SIGURG,
    SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGWINCH, SIGIO,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
constexpr size_t kNumCaught = std::size(kCaughtSignals);

// ---- console state: valid between open and close, guarded by lock 31 ----
constinit FILE* tty_in = nullptr;
constinit FILE* tty_out = nullptr;
constinit struct termios tty_orig = {};  // the input's settings read at open
constinit bool is_a_tty = false;
constinit volatile sig_atomic_t intr_signal = 0;  // last signal caught during a read
constinit struct sigaction saved_actions[kNumCaught] = {};
constinit bool action_saved[kNumCaught] = {};
constinit char tty_in_buffer[BUFSIZ] = {};
constinit char tty_out_buffer[BUFSIZ] = {};

void record_signal(int sig) { intr_signal = sig; }

void catch_signals() {
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = record_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a signal interrupts the pending read
  for (size_t i = 0; i < kNumCaught; i++)
    action_saved[i] = sigaction(kCaughtSignals[i], &sa, &saved_actions[i]) == 0;
}

void restore_signals() {
  for (size_t i = 0; i < kNumCaught; i++) {
    if (action_saved[i]) sigaction(kCaughtSignals[i], &saved_actions[i], nullptr);
    action_saved[i] = false;
  }
}

// Applies the settings read at open with ECHO cleared or set.  Without a
// terminal there is nothing to switch, which is success.
bool set_echo(bool on) {
  if (!is_a_tty) return true;
  struct termios t = tty_orig;
  if (on)
    t.c_lflag |= ECHO;
  else
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  return tcsetattr(fileno(tty_in), TCSANOW, &t) == 0;
}

// Reads and drops the rest of an overlong line, up to its newline.
bool discard_rest_of_line() {
  char piece[kDiscardPiece];
  bool ok = false;
  for (;;) {
    if (fgets(piece, sizeof(piece), tty_in) == nullptr || feof(tty_in) || ferror(tty_in)) break;
    if (strchr(piece, '\n') != nullptr) {
      ok = true;
      break;
    }
  }
  morvane::internal::wipe(piece);
  return ok;
}

// Reads one line into `result` and stores it as the record's answer: 1, or 0
// on end of input, a read error (an interrupting signal among them) or a
// rejected answer.
int read_answer(UI* ui, UI_STRING* uis, bool strip_nl, char* result) {
  // An interrupted read leaves the error mark on the stream; the standard
  // input stream outlives the session, so start every read from a clean one.
  clearerr(tty_in);
  result[0] = '\0';
  if (fgets(result, kResultSize - 1, tty_in) == nullptr || feof(tty_in) || ferror(tty_in))
    return 0;
  char* nl = strchr(result, '\n');
  if (nl != nullptr) {
    if (strip_nl) *nl = '\0';
  } else if (!discard_rest_of_line()) {
    return 0;
  }
  return UI_set_result(ui, uis, result) >= 0 ? 1 : 0;
}

// Reads one answer with echo as asked and with the signals caught, then puts
// back the terminal and the signal actions: 1, 0 on failure, -1 on SIGINT.
int read_string_inner(UI* ui, UI_STRING* uis, bool echo, bool strip_nl) {
  char result[kResultSize];
  int ok = 0;
  intr_signal = 0;
  catch_signals();
  const bool echo_switched = !echo && set_echo(false);
  if (echo || echo_switched) ok = read_answer(ui, uis, strip_nl, result);
  if (intr_signal == SIGINT) ok = -1;
  if (!echo) {
    fputc('\n', tty_out);  // the user's Enter was not shown
    fflush(tty_out);
  }
  if (echo_switched && !set_echo(true)) ok = 0;
  restore_signals();
  morvane::internal::wipe(result);
  return ok;
}

// Opens the terminal for `mode` on a buffer of ours (line-buffered, as stdio
// buffers a terminal); null when it cannot be opened.
FILE* open_tty(const char* mode, char* buffer) {
  FILE* f = fopen("/dev/tty", mode);
  if (f != nullptr && setvbuf(f, buffer, _IOLBF, BUFSIZ) != 0) {
    fclose(f);
    f = nullptr;
  }
  return f;
}

void close_streams() {
  if (tty_in != stdin) fclose(tty_in);
  if (tty_out != stderr) fclose(tty_out);
  tty_in = nullptr;
  tty_out = nullptr;
  morvane::internal::wipe(tty_in_buffer);
  morvane::internal::wipe(tty_out_buffer);
}

int open_console(UI* /*ui*/) {
  CRYPTO_w_lock(CRYPTO_LOCK_UI);
  is_a_tty = true;
  tty_in = open_tty("r", tty_in_buffer);
  if (tty_in == nullptr) tty_in = stdin;
  tty_out = open_tty("w", tty_out_buffer);
  if (tty_out == nullptr) tty_out = stderr;
  if (tcgetattr(fileno(tty_in), &tty_orig) == -1) {
    if (errno == ENOTTY || errno == EINVAL) {
      is_a_tty = false;  // a pipe or a file: prompts work, echo is left alone
    } else {
      // The session will not be closed: give back what was taken here.
      close_streams();
      CRYPTO_w_unlock(CRYPTO_LOCK_UI);
      return 0;
    }
  }
  return 1;
}

int write_string(UI* /*ui*/, UI_STRING* uis) {
  const enum UI_string_types type = UI_get_string_type(uis);
  if (type == UIT_ERROR || type == UIT_INFO) {
    fputs(UI_get0_output_string(uis), tty_out);
    fflush(tty_out);
  }
  return 1;
}

int read_string(UI* ui, UI_STRING* uis) {
  const bool echo = (UI_get_input_flags(uis) & UI_INPUT_FLAG_ECHO) != 0;
  switch (UI_get_string_type(uis)) {
    case UIT_PROMPT:
      fputs(UI_get0_output_string(uis), tty_out);
      fflush(tty_out);
      return read_string_inner(ui, uis, echo, true);
    case UIT_VERIFY: {
      fprintf(tty_out, "Verifying - %s", UI_get0_output_string(uis));
      fflush(tty_out);
      const int ok = read_string_inner(ui, uis, echo, true);
      if (ok <= 0) return ok;
      const char* test = UI_get0_test_string(uis);
      if (test == nullptr || strcmp(UI_get0_result_string(uis), test) != 0) {
        fputs("Verify failure\n", tty_out);
        fflush(tty_out);
        return 0;
      }
      return 1;
    }
    case UIT_BOOLEAN: {
      fputs(UI_get0_output_string(uis), tty_out);
      if (const char* action = UI_get0_action_string(uis)) fputs(action, tty_out);
      fflush(tty_out);
      return read_string_inner(ui, uis, echo, false);
    }
    default:
      return 1;
  }
}

int close_console(UI* /*ui*/) {
  close_streams();
  CRYPTO_w_unlock(CRYPTO_LOCK_UI);
  return 1;
}

constinit char console_name[] = "Morvane default user interface";

constinit UI_METHOD console_method = {
    console_name, open_console, write_string, nullptr, read_string, close_console, nullptr,
};

}  // namespace

/* see morvane/ui.h */
UI_METHOD* UI_Morvane(void) { return &console_method; }
