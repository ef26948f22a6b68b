// A scriptable source/sink stream for tests of streams and filters.  Reads
// are served from `input`, writes are collected in `output`; a script of
// steps decides, call by call, whether an operation moves bytes (at most a
// given number), asks for a retry, reports end of data or fails.  With an
// empty script every call moves as much as it can (limited by the chunk
// sizes).  Each control command is recorded and answered like a memory
// stream would.
#ifndef MORVANE_TEST_SCRIPTED_STREAM_H
#define MORVANE_TEST_SCRIPTED_STREAM_H

#include <deque>
#include <string>
#include <vector>

#include <morvane/bio.h>

namespace morvane_test {

struct ScriptStep {
  enum Kind {
    kMove,   // move at most `limit` bytes (0: as many as possible)
    kRetry,  // return -1 with retry read or retry write set
    kEof,    // return 0, no retry flags
    kFail,   // return -1, no retry flags
  };
  Kind kind = kMove;
  int limit = 0;
  int retry_reason = 0;  // with kRetry: set BIO_FLAGS_IO_SPECIAL and this reason instead

  static ScriptStep Move(int limit) { return {kMove, limit, 0}; }
  static ScriptStep Retry() { return {kRetry, 0, 0}; }
  static ScriptStep RetrySpecial(int reason) { return {kRetry, 0, reason}; }
  static ScriptStep Eof() { return {kEof, 0, 0}; }
  static ScriptStep Fail() { return {kFail, 0, 0}; }
  // `n` retries in a row.
  static std::deque<ScriptStep> Retries(int n) { return std::deque<ScriptStep>(n, Retry()); }
  // `k` - 1 reads as usual, then one that fails.
  static std::deque<ScriptStep> FailAt(int k) {
    std::deque<ScriptStep> s(k - 1, Move(0));
    s.push_back(Fail());
    return s;
  }
};

struct ScriptedStream {
  std::string input;                    // bytes still to be read
  std::string output;                   // bytes written so far
  std::deque<ScriptStep> read_script;   // consumed by read and gets calls
  std::deque<ScriptStep> write_script;  // consumed by write and puts calls
  int max_read = 0;                     // bytes per read at most (0: no limit)
  int max_write = 0;                    // bytes per write at most (0: no limit)
  // What a read returns once `input` is empty and no step says otherwise:
  // true gives 0 (end of data), false gives -1 with retry read.
  bool eof_when_empty = true;
  long flush_result = 1;      // answer to BIO_CTRL_FLUSH
  std::vector<int> ctrl_log;  // every command received, in order
  int reads = 0, writes = 0;  // calls of the data functions
  bool* destroyed = nullptr;  // set to true by the destroy function
};

// The method table (type BIO_TYPE_SOURCE_SINK | 0x7e, name "scripted").
BIO_METHOD* ScriptedStreamMethod();
// A new scripted stream; its state is owned by the stream.
BIO* NewScriptedStream();
// The state of a stream made by NewScriptedStream.
ScriptedStream& Script(BIO* b);
// A scripted stream holding `text`, its reads following `script`; one that
// never `ends` asks to retry, and says it is not at its end, once the text
// is read.
BIO* NewScriptedSource(const std::string& text, std::deque<ScriptStep> script = {},
                       bool ends = true);
// A buffering filter over a writable memory stream holding `text`: once the
// text is read, reads give -1 with a retry, and the chain says it is at its
// end.
BIO* NewBufferedMemory(const std::string& text);

// A stream handing a loader `text` (of `lines` lines, the last without a
// line feed) by way of retries, and the line on which the loader must fail
// (0: the whole text loads): a buffering filter over a writable memory
// stream, with and without a last line feed; a stream asking to retry
// between pieces of lines, and 16 times in a row; one asking 17 times in a
// row (line 1); one that never reaches its end, with and without a last
// line feed (the line after the text); one whose Kth read fails, for every
// K up to the read that finds the end (line K, the last for that read).
struct RetryCase {
  BIO* in;
  long fail_line;
};
std::vector<RetryCase> RetryCases(const std::string& text, long lines);

}  // namespace morvane_test

#endif  // MORVANE_TEST_SCRIPTED_STREAM_H
