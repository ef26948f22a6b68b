// Helpers shared by the test suites.  Tests may use the standard library
// freely; the library itself may not.
#ifndef MORVANE_TEST_SUPPORT_H
#define MORVANE_TEST_SUPPORT_H

#include <cstddef>
#include <cstdint>
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
};
AllocCounts GetAllocCounts();
// Makes the n-th allocation from now (1 = the next) fail, once; 0 disables.
// Counts malloc and realloc calls through the counting hooks.
void FailAllocationAfter(long n);

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
// Installs a thread-id callback that tells threads apart (pthread_self).
void InstallThreadIdCallback();
// Records the requests that reach the locking callback from now on, in order,
// dropping earlier records; StopRecordingLocks ends recording and returns them.
void StartRecordingLocks();
std::vector<LockEvent> StopRecordingLocks();

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

// Skips the current test, with a message, when a vector file is missing.
#define MORVANE_VECTOR_PATH_OR_SKIP(var, relative)                                    \
  std::string var = ::morvane_test::VectorFile(relative);                             \
  if (var.empty()) {                                                                  \
    GTEST_SKIP() << "published vectors not found (" << (relative)                     \
                 << "); configure with -DMORVANE_VECTORS_DIR=<folder> to run this test"; \
  }

#endif  // MORVANE_TEST_SUPPORT_H
