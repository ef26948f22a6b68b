#include "test_support.h"

#include <morvane/crypto.h>
#include <morvane/err.h>

#include <malloc.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace morvane_test {

Bytes FromHex(const std::string& hex) {
  Bytes out;
  int hi = -1;
  for (char c : hex) {
    if (isspace(static_cast<unsigned char>(c))) continue;
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else {
      ADD_FAILURE() << "bad hex digit in " << hex;
      return out;
    }
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) ADD_FAILURE() << "odd hex length: " << hex;
  return out;
}

std::string ToHex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

// ---- allocation hooks -----------------------------------------------------

namespace {
AllocCounts g_counts;
long g_fail_countdown = 0;
long g_fail_run = 0;  // failures still to come after the next one
long g_fail_every = 0;

bool ShouldFail() {
  if (g_fail_every > 0 && --g_fail_countdown <= 0) {
    g_fail_countdown = g_fail_every;
    return true;
  }
  if (g_fail_countdown > 0 && --g_fail_countdown == 0) {
    if (g_fail_run > 0) {
      g_fail_run--;
      g_fail_countdown = 1;
    }
    return true;
  }
  return false;
}
void AddLive(void* p) {
  g_counts.live_bytes += malloc_usable_size(p);
  if (g_counts.live_bytes > g_counts.peak_bytes) g_counts.peak_bytes = g_counts.live_bytes;
}
void* CountingMalloc(size_t n) {
  g_counts.mallocs++;
  if (ShouldFail()) return nullptr;
  void* p = malloc(n);
  if (p) {
    g_counts.live_blocks++;
    AddLive(p);
  }
  return p;
}
void* CountingRealloc(void* p, size_t n) {
  g_counts.reallocs++;
  if (ShouldFail()) return nullptr;
  const size_t old = p ? malloc_usable_size(p) : 0;
  void* q = realloc(p, n);
  if (q) {
    if (!p) g_counts.live_blocks++;
    g_counts.live_bytes -= old;
    AddLive(q);
  }
  return q;
}
void CountingFree(void* p) {
  g_counts.frees++;
  if (p) {
    g_counts.live_blocks--;
    g_counts.live_bytes -= malloc_usable_size(p);
  }
  free(p);
}
}  // namespace

bool InstallCountingAllocator() {
  return CRYPTO_set_mem_functions(CountingMalloc, CountingRealloc, CountingFree) == 1;
}
AllocCounts GetAllocCounts() { return g_counts; }
void ResetAllocPeak() {
  g_counts.peak_bytes = g_counts.live_bytes;
}
void FailAllocationAfter(long n) { FailAllocationsAfter(n, 1); }
std::vector<long> SweepSteps() {
  std::vector<long> ks;
  for (long k = 3; k <= 20; k++) ks.push_back(k);
  for (long k : {23, 29, 37, 50, 64, 90, 128, 200}) ks.push_back(k);
  return ks;
}
void FailEveryAllocation(long k) {
  g_fail_every = k;
  g_fail_countdown = k;
}
void FailAllocationsAfter(long n, long count) {
  g_fail_every = 0;
  g_fail_countdown = n;
  g_fail_run = n > 0 && count > 1 ? count - 1 : 0;
}

namespace {
ReleaseTracking g_released;
void* TrackMalloc(size_t n, const char*, int) {
  g_released.requests++;
  void* p = malloc(n);
  g_released.live[p] = n;
  return p;
}
void* TrackRealloc(void* p, size_t n, const char*, int) {
  g_released.requests++;
  g_released.live.erase(p);
  void* q = realloc(p, n);
  g_released.live[q] = n;
  return q;
}
void TrackFree(void* p) {
  auto it = g_released.live.find(p);
  if (it != g_released.live.end()) {
    g_released.freed.emplace_back(static_cast<char*>(p), it->second);
    g_released.live.erase(it);
  }
  free(p);
}
}  // namespace

bool InstallReleaseTracking() {
  return CRYPTO_set_mem_ex_functions(TrackMalloc, TrackRealloc, TrackFree) == 1;
}
ReleaseTracking& Released() { return g_released; }

// ---- locking --------------------------------------------------------------

std::ostream& operator<<(std::ostream& os, const LockEvent& e) {
  const char* what = "";
  switch (e.mode) {
    case 9: what = "write lock"; break;
    case 10: what = "write unlock"; break;
    case 5: what = "read lock"; break;
    case 6: what = "read unlock"; break;
  }
  return os << "(" << e.mode << (*what ? " " : "") << what << ", " << e.type << ")";
}

namespace {
constexpr int kMaxLockTypes = 256;
struct ServedLock {
  std::mutex mutex;
  std::atomic<std::thread::id> owner{};
};
ServedLock g_served[kMaxLockTypes];
std::atomic<bool> g_recording{false};
std::mutex g_record_mutex;
std::vector<LockEvent> g_records;

// Records the request when recording; false (and a failure) for a lock
// number out of range.
bool Record(int mode, int type, const char* file, int line) {
  if (g_recording.load()) {
    std::lock_guard<std::mutex> guard(g_record_mutex);
    g_records.push_back({mode, type});
  }
  if (type < 0 || type >= kMaxLockTypes) {
    ADD_FAILURE() << "lock number " << type << " out of range at " << file << ":" << line;
    return false;
  }
  return true;
}

void LockingCallback(int mode, int type, const char* file, int line) {
  if (!Record(mode, type, file, line)) return;
  ServedLock& l = g_served[type];
  std::thread::id self = std::this_thread::get_id();
  if (mode & CRYPTO_LOCK) {
    if (l.owner.load() == self) {
      ADD_FAILURE() << "lock " << type << " taken twice by one thread at " << file << ":" << line;
      return;
    }
    l.mutex.lock();
    l.owner.store(self);
  } else {
    if (l.owner.load() != self) {
      ADD_FAILURE() << "lock " << type << " released without being held at " << file << ":"
                    << line;
      return;
    }
    l.owner.store(std::thread::id());
    l.mutex.unlock();
  }
}

std::shared_mutex g_shared[kMaxLockTypes];
void SharedLockingCallback(int mode, int type, const char* file, int line) {
  if (!Record(mode, type, file, line)) return;
  std::shared_mutex& m = g_shared[type];
  if (mode & CRYPTO_READ)
    (mode & CRYPTO_LOCK) ? m.lock_shared() : m.unlock_shared();
  else
    (mode & CRYPTO_LOCK) ? m.lock() : m.unlock();
}

unsigned long ThreadIdCallback() { return static_cast<unsigned long>(pthread_self()); }
}  // namespace

void InstallLockingCallback() { CRYPTO_set_locking_callback(LockingCallback); }
void InstallSharedLockingCallback() { CRYPTO_set_locking_callback(SharedLockingCallback); }
void InstallThreadIdCallback() { CRYPTO_set_id_callback(ThreadIdCallback); }

void StartRecordingLocks() {
  std::lock_guard<std::mutex> guard(g_record_mutex);
  g_records.clear();
  g_recording.store(true);
}

std::vector<LockEvent> StopRecordingLocks() {
  g_recording.store(false);
  std::lock_guard<std::mutex> guard(g_record_mutex);
  std::vector<LockEvent> out;
  out.swap(g_records);
  return out;
}

std::vector<LockEvent> OnlyLocks(const std::vector<LockEvent>& events,
                                 std::initializer_list<int> types) {
  std::vector<LockEvent> out;
  for (const LockEvent& e : events)
    for (int t : types)
      if (e.type == t) out.push_back(e);
  return out;
}

std::vector<LockEvent> StopRecordingLocks(std::initializer_list<int> types) {
  return OnlyLocks(StopRecordingLocks(), types);
}

// ---- error queue ----------------------------------------------------------

namespace {
struct QueuedError {
  unsigned long code;
  std::string data;
  std::string where;
};

std::vector<QueuedError> TakeErrors() {
  std::vector<QueuedError> out;
  const char *file, *data;
  int line, flags;
  while (unsigned long e = ERR_get_error_line_data(&file, &line, &data, &flags))
    out.push_back({e, (flags & ERR_TXT_STRING) && data ? data : "",
                   std::string(file ? file : "?") + ":" + std::to_string(line)});
  return out;
}

std::string Describe(unsigned long e) {
  auto text = [](const char* s) { return std::string(s ? s : "no text"); };
  return "lib " + std::to_string(ERR_GET_LIB(e)) + " (" + text(ERR_lib_error_string(e)) +
         "), func " + std::to_string(ERR_GET_FUNC(e)) + " (" + text(ERR_func_error_string(e)) +
         "), reason " + std::to_string(ERR_GET_REASON(e)) + " (" +
         text(ERR_reason_error_string(e)) + ")";
}

std::string Describe(const std::vector<QueuedError>& q) {
  std::string s;
  for (const QueuedError& e : q)
    s += "  " + Describe(e.code) + (e.data.empty() ? "" : " [" + e.data + "]") + " at " + e.where +
         "\n";
  return s.empty() ? "  (empty)\n" : s;
}
}  // namespace

testing::AssertionResult ErrorsAre(std::vector<ErrEntry> expected) {
  const std::vector<QueuedError> got = TakeErrors();
  bool same = got.size() == expected.size();
  for (size_t i = 0; same && i < got.size(); i++) {
    const ErrEntry& x = expected[i];
    same = got[i].code == ERR_PACK(x.lib, x.func, x.reason) &&
           (x.data == nullptr || got[i].data == x.data);
  }
  if (same) return testing::AssertionSuccess();
  std::string want;
  for (const ErrEntry& x : expected)
    want += "  " + Describe(ERR_PACK(x.lib, x.func, x.reason)) +
            (x.data ? std::string(" [") + x.data + "]" : "") + "\n";
  return testing::AssertionFailure() << "error queue:\n"
                                     << Describe(got) << "expected:\n"
                                     << (want.empty() ? "  (empty)\n" : want);
}

std::string DrainErrors() {
  std::string s;
  for (const QueuedError& e : TakeErrors())
    s += Describe(e.code) + (e.data.empty() ? "" : " [" + e.data + "]") + "\n";
  return s;
}

testing::AssertionResult KeepsCallersMark(const std::function<bool()>& call) {
  ERR_clear_error();
  for (const bool unmarked_above : {false, true}) {
    ERR_put_error(ERR_LIB_USER, 1, 1, "caller's marked entry", 1);
    if (ERR_set_mark() != 1) return testing::AssertionFailure() << "ERR_set_mark";
    if (unmarked_above) ERR_put_error(ERR_LIB_USER, 1, 2, "caller's entry above the mark", 1);
    const char* when = unmarked_above ? " (an unmarked entry above the mark)"
                                      : " (the mark on the newest entry)";
    if (!call()) {
      return testing::AssertionFailure() << "the call did not give its result" << when
                                         << "; queue:\n" << DrainErrors();
    }
    if (ERR_pop_to_mark() != 1)
      return testing::AssertionFailure() << "the caller's mark is gone" << when;
    testing::AssertionResult left = ErrorsAre({{ERR_LIB_USER, 1, 1}});
    if (!left) return left << when;
  }
  return testing::AssertionSuccess();
}

// ---- files and pipes ------------------------------------------------------

TempPath::TempPath(Kind kind) {
  const char* tmp = getenv("TMPDIR");
  path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/morvane-test-XXXXXX";
  if (kind == kDir) {
    if (mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << strerror(errno);
  } else {
    const int fd = mkstemp(path_.data());
    if (fd < 0) ADD_FAILURE() << "mkstemp: " << strerror(errno);
    else close(fd);
  }
}

TempPath::~TempPath() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out.flush()) ADD_FAILURE() << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Pipe::Pipe() {
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return;
  }
  read_fd = fds[0];
  write_fd = fds[1];
}
Pipe::~Pipe() {
  CloseRead();
  CloseWrite();
}
void Pipe::CloseRead() {
  if (read_fd >= 0) close(read_fd);
  read_fd = -1;
}
void Pipe::CloseWrite() {
  if (write_fd >= 0) close(write_fd);
  write_fd = -1;
}

bool WriteAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

// ---- published vectors ----------------------------------------------------

std::string VectorsDir() { return MORVANE_VECTORS_DIR; }

std::string TestDataFile(const std::string& relative) {
  return std::string(MORVANE_TEST_DATA_DIR) + "/" + relative;
}

std::string Unquote(const std::string& q) {
  static const char kEscapes[] = "n\nr\rt\tb\b";
  std::string out;
  if (q.size() < 2 || q.front() != '"' || q.back() != '"') ADD_FAILURE() << "not quoted: " << q;
  for (size_t i = 1; i + 1 < q.size(); i++) {
    char c = q[i];
    if (c == '\\' && i + 2 < q.size()) {
      c = q[++i];
      if (c == 'x') {
        c = static_cast<char>(std::stoi(q.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else if (const char* e = strchr(kEscapes, c);
                 c != 0 && e != nullptr && (e - kEscapes) % 2 == 0) {
        c = e[1];
      }
    }
    out += c;
  }
  return out;
}

std::string VectorFile(const std::string& relative) {
  std::string dir = VectorsDir();
  if (dir.empty()) return "";
  std::string path = dir + "/" + relative;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  return path;
}

std::string RspRecord::Get(const std::string& key) const {
  auto it = fields.find(key);
  if (it == fields.end()) {
    ADD_FAILURE() << "record has no field " << key;
    return "";
  }
  return it->second;
}

static std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isspace(static_cast<unsigned char>(s[b]))) b++;
  while (e > b && isspace(static_cast<unsigned char>(s[e - 1]))) e--;
  return s.substr(b, e - b);
}

std::vector<RspRecord> ReadRsp(const std::string& path) {
  std::vector<RspRecord> out;
  std::ifstream in(path);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return out;
  }
  std::map<std::string, std::string> section;
  RspRecord cur;
  bool section_open = false;  // consecutive [..] lines form one header block
  std::string line;
  auto flush = [&] {
    if (!cur.fields.empty()) {
      cur.section = section;
      out.push_back(cur);
    }
    cur = RspRecord();
  };
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty()) {
      flush();
      section_open = false;
      continue;
    }
    if (line[0] == '#') continue;
    if (line[0] == '[') {
      flush();
      if (!section_open) section.clear();
      section_open = true;
      std::string body = line.substr(1, line.find(']') == std::string::npos
                                            ? std::string::npos
                                            : line.find(']') - 1);
      size_t eq = body.find('=');
      if (eq == std::string::npos)
        section[Trim(body)] = "";
      else
        section[Trim(body.substr(0, eq))] = Trim(body.substr(eq + 1));
      continue;
    }
    section_open = false;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      cur.fields[line] = "";
    } else {
      cur.fields[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
    }
  }
  flush();
  return out;
}

std::vector<std::vector<std::string>> ReadTableRows(const std::string& path,
                                                    const std::string& section) {
  std::vector<std::vector<std::string>> rows;
  for (const RspRecord& r : ReadRsp(path)) {
    if (r.section.count(section) == 0) continue;
    for (const auto& [label, value] : r.fields) {
      std::vector<std::string> row{label};
      for (size_t start = 0;;) {
        const size_t bar = value.find('|', start);
        std::string field = Trim(value.substr(start, bar == std::string::npos ? bar : bar - start));
        row.push_back(field.size() >= 2 && field[0] == '"' ? Unquote(field) : field);
        if (bar == std::string::npos) break;
        start = bar + 1;
      }
      rows.push_back(row);
    }
  }
  if (rows.empty()) ADD_FAILURE() << "no rows in [" << section << "] of " << path;
  return rows;
}

// ---- code paths -------------------------------------------------------------

namespace {
constexpr char kTranscriptVar[] = "MORVANE_TEST_TRANSCRIPT";
constexpr char kSwitchVar[] = "MORVANE_NO_HWCRYPT";
}  // namespace

int ServeTranscript(TranscriptFn transcript) {
  const char* path = getenv(kTranscriptVar);
  if (path == nullptr) return 0;
  const Bytes t = transcript();
  FILE* f = fopen(path, "wb");
  const bool ok = f != nullptr && fwrite(t.data(), 1, t.size(), f) == t.size();
  if (f != nullptr && fclose(f) != 0) _exit(3);
  _exit(ok ? 0 : 3);
}

Bytes TranscriptWithSwitch(const char* value) {
  const TempPath file;
  const std::string& path = file.path();
  // The environment of this process with the two variables set.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; e++) {
    const std::string v = *e;
    if (v.rfind(std::string(kTranscriptVar) + "=", 0) != 0 &&
        v.rfind(std::string(kSwitchVar) + "=", 0) != 0)
      env.push_back(v);
  }
  env.push_back(std::string(kSwitchVar) + "=" + value);
  env.push_back(std::string(kTranscriptVar) + "=" + path);
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  char exe[] = "/proc/self/exe";
  char* argv[] = {exe, nullptr};
  pid_t pid;
  int status = 0;
  const int rc = posix_spawn(&pid, exe, nullptr, nullptr, argv, envp.data());
  if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "the child with " << kSwitchVar << "=" << value << " failed (spawn " << rc
                  << ", status " << status << ")";
    return {};
  }
  return ReadFileBytes(path);
}

void ExpectSameTranscriptWithSwitch(TranscriptFn transcript, const char* value) {
  const Bytes mine = transcript();
  const Bytes theirs = TranscriptWithSwitch(value);
  ASSERT_EQ(mine.size(), theirs.size()) << "MORVANE_NO_HWCRYPT=" << value;
  EXPECT_TRUE(mine == theirs) << "MORVANE_NO_HWCRYPT=" << value;
}

}  // namespace morvane_test
