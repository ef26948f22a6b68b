// Helpers shared by the test suites.  Tests may use the standard library
// freely; the library itself may not.
#ifndef MORVANE_TEST_SUPPORT_H
#define MORVANE_TEST_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace morvane_test {

using Bytes = std::vector<uint8_t>;

// Hex text (upper or lower case, spaces ignored) to bytes; aborts the test on
// a malformed string.
Bytes FromHex(const std::string& hex);
std::string ToHex(const uint8_t* p, size_t n);
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

// ---- allocation hooks -----------------------------------------------------
// Installs counting hooks over malloc/realloc/free.  Must run before the
// library's first allocation, so only in a test's own process (each test runs
// in one).  Returns false when the library refused the hooks.
bool InstallCountingAllocator();
struct AllocCounts {
  long mallocs = 0;
  long reallocs = 0;
  long frees = 0;        // includes free(NULL)
  long live_blocks = 0;  // blocks handed out and not yet freed
  size_t live_bytes = 0;  // usable bytes of those blocks
  size_t peak_bytes = 0;  // the most live_bytes reached since the last reset
};
AllocCounts GetAllocCounts();
// Starts a new peak: peak_bytes becomes live_bytes.
void ResetAllocPeak();
// Makes the n-th allocation from now (1 = the next) fail, once; 0 disables.
// Counts malloc and realloc calls through the counting hooks.
void FailAllocationAfter(long n);
// The same for `count` allocations in a row, the n-th from now the first.
void FailAllocationsAfter(long n, long count);
// Makes every k-th allocation from now fail (0: none), until changed.
void FailEveryAllocation(long k);
// The k of allocation-failure sweeps: every k from 3 to 20, then steps to 200.
std::vector<long> SweepSteps();

// Hooks (installed as InstallCountingAllocator is) that count requests and,
// on free, keep a copy of what the block held, so a test can see what was
// left behind in released memory.  Returns false when the library refused
// the hooks.
bool InstallReleaseTracking();
struct ReleaseTracking {
  std::map<void*, size_t> live;    // blocks handed out, with their sizes
  std::vector<std::string> freed;  // what each freed block held, in order
  int requests = 0;                // malloc and realloc calls
};
ReleaseTracking& Released();

// ---- locking --------------------------------------------------------------
// One request that reached the locking callback: CRYPTO_LOCK/CRYPTO_UNLOCK
// combined with CRYPTO_READ/CRYPTO_WRITE, and the lock number.
struct LockEvent {
  int mode;
  int type;
  bool operator==(const LockEvent&) const = default;
};
std::ostream& operator<<(std::ostream& os, const LockEvent& e);
// Shorthands for the four requests the library makes.
inline LockEvent WriteLock(int type) { return {9, type}; }
inline LockEvent WriteUnlock(int type) { return {10, type}; }
inline LockEvent ReadLock(int type) { return {5, type}; }
inline LockEvent ReadUnlock(int type) { return {6, type}; }

// Installs a locking callback that serves every lock number (0 to 255) with a
// real mutex, read and write requests alike, so it is safe with several
// threads.  A thread that takes a lock it holds, or releases one it does not
// hold, fails the test instead of hanging.
void InstallLockingCallback();
// The same with CRYPTO_READ served as a shared lock, so that readers
// overlap (what the library must be free of data races under).
void InstallSharedLockingCallback();
// Installs a thread-id callback that tells threads apart (pthread_self).
void InstallThreadIdCallback();
// Records the requests that reach the locking callback from now on, in order,
// dropping earlier records; StopRecordingLocks ends recording and returns them.
void StartRecordingLocks();
std::vector<LockEvent> StopRecordingLocks();
// The same, keeping only the requests on the given lock numbers.
std::vector<LockEvent> StopRecordingLocks(std::initializer_list<int> types);
std::vector<LockEvent> OnlyLocks(const std::vector<LockEvent>& events,
                                 std::initializer_list<int> types);

// ---- error queue ----------------------------------------------------------
// One expected entry of the thread's error queue; `data`, when not null, is
// the text attached to the entry (ERR_add_error_data).
struct ErrEntry {
  int lib;
  int func;
  int reason;
  const char* data = nullptr;
};
// Takes every entry off this thread's error queue and succeeds when they are
// `expected`, in order; the message lists the whole queue otherwise.
testing::AssertionResult ErrorsAre(std::vector<ErrEntry> expected);
// The queue as text ("lib 9 (...), func 100 (...), reason 65 (...) [data]"
// one entry a line), emptying it.
std::string DrainErrors();

// Runs `call` between the caller's ERR_set_mark and ERR_pop_to_mark, twice:
// with the mark on the newest entry, and with an unmarked entry above the
// marked one.  Succeeds when `call` returns true both times and the pop
// finds the mark and leaves exactly the marked entry (what the call queued
// goes, and the call left no mark of its own).  Empties the queue first.
testing::AssertionResult KeepsCallersMark(const std::function<bool()>& call);

// ---- files and pipes ------------------------------------------------------
// A unique empty file (or directory) under $TMPDIR (or /tmp), removed with
// all it holds when the object goes.
class TempPath {
 public:
  enum Kind { kFile, kDir };
  explicit TempPath(Kind kind = kFile);
  ~TempPath();
  TempPath(const TempPath&) = delete;
  TempPath& operator=(const TempPath&) = delete;
  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  // `name` inside the directory.
  std::string Join(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
// Whole-file helpers; they fail the test when the file cannot be written/read.
void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);

// A pipe, both ends closed when the object goes (or earlier by hand).
struct Pipe {
  int read_fd = -1;
  int write_fd = -1;
  Pipe();
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void CloseRead();
  void CloseWrite();
};
// Writes every byte (false on error); reads until end of file.
bool WriteAll(int fd, const std::string& data);
std::string ReadAll(int fd);

// ---- published vectors ----------------------------------------------------
// The folder of published vectors, or "" when the build has none.
std::string VectorsDir();
// Full path of a file under the vectors folder, or "" when it is absent.
std::string VectorFile(const std::string& relative);

// One record of a NIST CAVP response file (.rsp): its keys in file order and
// the bracketed section headers in force ("[ENCRYPT]", "[L = 20]").
struct RspRecord {
  std::map<std::string, std::string> fields;
  std::map<std::string, std::string> section;  // "L" -> "20", "ENCRYPT" -> ""
  std::string Get(const std::string& key) const;
  bool Has(const std::string& key) const { return fields.count(key) != 0; }
};
// Reads every record of a response file; a record is a run of "key = value"
// lines ended by a blank line.  Fails the test when the file cannot be read.
std::vector<RspRecord> ReadRsp(const std::string& path);

// Full path of `relative` under test/data/ (expected outputs kept with the
// tests); its `key = value` records read with ReadRsp.
std::string TestDataFile(const std::string& relative);
// A record value written in double quotes with C escapes (\n \r \t \b \"
// \\ \xHH), for texts with white space at their ends or control bytes.
std::string Unquote(const std::string& quoted);
// The rows of section `section` of a record file (read with ReadRsp) whose
// lines read `label = field | field | ...`: each row is the label followed by
// the fields, trimmed, a field in double quotes unquoted.  Rows come in label
// order.
std::vector<std::vector<std::string>> ReadTableRows(const std::string& path,
                                                    const std::string& section);

// A JSON value (enough for Wycheproof files).  Numbers keep their text.
struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = kNull;
  std::string text;         // string, number, "true"/"false"
  std::string key;          // the member name, for the members of an object
  std::vector<Json> items;  // array elements, or object members in file order
  // The member `key` of an object; a null value when absent.
  const Json& operator[](const std::string& name) const;
};
// Parses `text`; fails the test and returns null on malformed JSON.
Json ParseJson(const std::string& text);

// One Wycheproof test: its fields and those of its group as text (nested
// objects flattened as "key.name", arrays of strings joined by ","), its
// flags, and the file's "algorithm".
struct WycheproofTest {
  int id = 0;
  std::map<std::string, std::string> fields;
  std::map<std::string, std::string> group;
  std::vector<std::string> flags;
  std::string Get(const std::string& key) const;        // test field, else group field
  bool HasFlag(const std::string& flag) const;
};
// Every test of every group of a Wycheproof file, in file order.
std::vector<WycheproofTest> ReadWycheproof(const std::string& path);

// DER and PEM: the bytes of a file; the decoded body of the `index`-th
// "-----BEGIN `label`-----" block of a PEM text (fails the test when absent).
Bytes ReadFileBytes(const std::string& path);
Bytes PemBody(const std::string& pem, const std::string& label, int index = 0);
Bytes FromBase64(const std::string& text);  // whitespace ignored
// The privateKey octets of a PKCS#8 PrivateKeyInfo (RFC 5208, 5), such as
// the PKCS#1 RSAPrivateKey of Wycheproof's "privateKeyPkcs8".
Bytes Pkcs8PrivateKey(const Bytes& pkcs8);

// ---- code paths -----------------------------------------------------------
// The library picks hardware code (AES-NI, SHA extensions) at run time;
// MORVANE_NO_HWCRYPT switches it off ("1": all of it, or a comma-separated
// list such as "vaes").  To compare the paths, a test program registers one
// transcript function (a fixed run over the API returning every output byte)
// by calling ServeTranscript from a static initialiser.  TranscriptWithSwitch
// runs the program again with MORVANE_NO_HWCRYPT=`value`; in that child the
// initialiser writes the transcript to a file and exits before any test runs.
// Returns the child's transcript, failing the test if it could not be had.
using TranscriptFn = Bytes (*)();
int ServeTranscript(TranscriptFn transcript);
Bytes TranscriptWithSwitch(const char* value);
// Fails the test unless `transcript`, run in this process, gives the bytes
// that the child with MORVANE_NO_HWCRYPT=`value` writes.
void ExpectSameTranscriptWithSwitch(TranscriptFn transcript, const char* value);

}  // namespace morvane_test

// Fails (EXPECT) unless the thread's error queue holds exactly the given
// entries, in order, and leaves it empty:
//   EXPECT_ERRORS({{ERR_LIB_UI, UI_F_UI_CTRL, UI_R_UNKNOWN_CONTROL_COMMAND}});
//   EXPECT_ERRORS({});   // the queue is empty
#define EXPECT_ERRORS(...) EXPECT_TRUE(::morvane_test::ErrorsAre(__VA_ARGS__))
#define ASSERT_ERRORS(...) ASSERT_TRUE(::morvane_test::ErrorsAre(__VA_ARGS__))

// Skips the current test, with a message, when a vector file is missing.
#define MORVANE_VECTOR_PATH_OR_SKIP(var, relative)                                    \
  std::string var = ::morvane_test::VectorFile(relative);                             \
  if (var.empty()) {                                                                  \
    GTEST_SKIP() << "published vectors not found (" << (relative)                     \
                 << "); configure with -DMORVANE_VECTORS_DIR=<folder> to run this test"; \
  }

#endif  // MORVANE_TEST_SUPPORT_H
