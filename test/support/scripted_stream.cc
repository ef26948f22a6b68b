// The scriptable test stream: see scripted_stream.h.

#include "scripted_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace morvane_test {
namespace {

ScriptedStream& State(BIO* b) {
  return *static_cast<ScriptedStream*>(b->ptr);
}

ScriptStep Next(std::deque<ScriptStep>& script) {
  if (script.empty()) return ScriptStep::Move(0);
  ScriptStep s = script.front();
  script.pop_front();
  return s;
}

// Applies a non-moving step; returns its result.
int Stop(BIO* b, const ScriptStep& s, int retry_kind) {
  switch (s.kind) {
    case ScriptStep::kRetry:
      if (s.retry_reason != 0) {
        BIO_set_retry_special(b);
        b->retry_reason = s.retry_reason;
      } else {
        BIO_set_flags(b, retry_kind | BIO_FLAGS_SHOULD_RETRY);
      }
      return -1;
    case ScriptStep::kEof:
      return 0;
    default:
      return -1;
  }
}

int Limit(int want, int step_limit, int chunk) {
  if (step_limit > 0) want = std::min(want, step_limit);
  if (chunk > 0) want = std::min(want, chunk);
  return want;
}

int scripted_read(BIO* b, char* out, int outl) {
  ScriptedStream& st = State(b);
  st.reads++;
  BIO_clear_retry_flags(b);
  ScriptStep s = Next(st.read_script);
  if (s.kind != ScriptStep::kMove) return Stop(b, s, BIO_FLAGS_READ);
  if (st.input.empty()) {
    if (st.eof_when_empty) return 0;
    BIO_set_retry_read(b);
    return -1;
  }
  int n = Limit(std::min<int>(outl, static_cast<int>(st.input.size())), s.limit, st.max_read);
  if (n <= 0) return 0;
  memcpy(out, st.input.data(), static_cast<size_t>(n));
  st.input.erase(0, static_cast<size_t>(n));
  return n;
}

int scripted_write(BIO* b, const char* in, int inl) {
  ScriptedStream& st = State(b);
  st.writes++;
  BIO_clear_retry_flags(b);
  ScriptStep s = Next(st.write_script);
  if (s.kind != ScriptStep::kMove) return Stop(b, s, BIO_FLAGS_WRITE);
  int n = Limit(inl, s.limit, st.max_write);
  if (n <= 0) return 0;
  st.output.append(in, static_cast<size_t>(n));
  return n;
}

int scripted_puts(BIO* b, const char* str) {
  return scripted_write(b, str, static_cast<int>(strlen(str)));
}

int scripted_gets(BIO* b, char* buf, int size) {
  ScriptedStream& st = State(b);
  st.reads++;
  BIO_clear_retry_flags(b);
  if (size <= 0) return 0;
  buf[0] = '\0';
  ScriptStep s = Next(st.read_script);
  if (s.kind != ScriptStep::kMove) return Stop(b, s, BIO_FLAGS_READ);
  if (st.input.empty() && !st.eof_when_empty) {
    BIO_set_retry_read(b);
    return -1;
  }
  size_t end = st.input.find('\n');
  size_t n = end == std::string::npos ? st.input.size() : end + 1;
  n = static_cast<size_t>(
      Limit(static_cast<int>(std::min(n, static_cast<size_t>(size - 1))), s.limit, st.max_read));
  memcpy(buf, st.input.data(), n);
  buf[n] = '\0';
  st.input.erase(0, n);
  return static_cast<int>(n);
}

long scripted_ctrl(BIO* b, int cmd, long num, void*) {
  ScriptedStream& st = State(b);
  st.ctrl_log.push_back(cmd);
  switch (cmd) {
    case BIO_CTRL_RESET:
      st.input.clear();
      st.output.clear();
      return 1;
    case BIO_CTRL_EOF:
      return st.input.empty() && st.eof_when_empty;
    case BIO_CTRL_PENDING:
      return static_cast<long>(st.input.size());
    case BIO_CTRL_WPENDING:
      return 0;
    case BIO_CTRL_FLUSH:
      return st.flush_result;
    case BIO_CTRL_GET_CLOSE:
      return b->shutdown;
    case BIO_CTRL_SET_CLOSE:
      b->shutdown = static_cast<int>(num);
      return 1;
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

int scripted_new(BIO* b) {
  b->ptr = new ScriptedStream;
  b->init = 1;
  return 1;
}

int scripted_free(BIO* b) {
  if (b == nullptr) return 0;
  ScriptedStream* st = static_cast<ScriptedStream*>(b->ptr);
  if (st != nullptr && st->destroyed != nullptr) *st->destroyed = true;
  delete st;
  b->ptr = nullptr;
  return 1;
}

BIO_METHOD g_method = {
    BIO_TYPE_SOURCE_SINK | 0x7e,
    "scripted",
    scripted_write,
    scripted_read,
    scripted_puts,
    scripted_gets,
    scripted_ctrl,
    scripted_new,
    scripted_free,
    nullptr,
};

}  // namespace

BIO_METHOD* ScriptedStreamMethod() {
  return &g_method;
}
BIO* NewScriptedStream() {
  return BIO_new(&g_method);
}
ScriptedStream& Script(BIO* b) {
  return State(b);
}
BIO* NewScriptedSource(const std::string& text, std::deque<ScriptStep> script, bool ends) {
  BIO* b = NewScriptedStream();
  State(b).input = text;
  State(b).read_script = std::move(script);
  State(b).eof_when_empty = ends;
  return b;
}
BIO* NewBufferedMemory(const std::string& text) {
  BIO* mem = BIO_new(BIO_s_mem());
  BIO_write(mem, text.data(), static_cast<int>(text.size()));
  return BIO_push(BIO_new(BIO_f_buffer()), mem);
}
std::vector<RetryCase> RetryCases(const std::string& text, long lines) {
  using S = ScriptStep;
  std::vector<RetryCase> cases = {
      {NewBufferedMemory(text), 0},
      {NewBufferedMemory(text + "\n"), 0},
      {NewScriptedSource(text, {S::Retry(), S::Move(2), S::Retry(), S::Retry()}), 0},
      {NewScriptedSource(text, S::Retries(16)), 0},
      {NewScriptedSource(text, S::Retries(17)), 1},
      {NewScriptedSource(text, {}, false), lines},
      {NewScriptedSource(text + "\n", {}, false), lines + 1},
  };
  for (int k = 1; k <= lines + 1; k++)
    cases.push_back({NewScriptedSource(text, S::FailAt(k)), std::min<long>(k, lines)});
  return cases;
}

}  // namespace morvane_test
