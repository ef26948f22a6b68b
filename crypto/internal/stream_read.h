// How the library's loaders (configuration text, text databases, PEM, MIME
// headers, object lists, hex lines) take a stream's answer to a read: more
// data, the end of the input, or a failure.  The answer is the stream's
// result and retry flags, never what it queued: many streams (descriptors,
// sockets, an application's own) fail without queuing anything, and a
// stream may queue an error and still deliver.
//
// The rule: a positive result is data; 0 is the end of the input.  A
// negative result without the retry flag is a failure.  A negative result
// with the retry flag is no failure: when the stream says it is at its end
// (BIO_eof), as an empty memory stream does, it is the end of the input; a
// filter says so only when it holds nothing, in or out, and its own source
// is at its end, so a chain is at its end only when all of it is.
// Otherwise the read is made again at once, kStreamRetries
// times at most in a row (an interrupted system call, a test filter that
// refuses at random), and a source that still has nothing to give after
// that fails the read.  A loader cannot wait for a source that may never
// deliver, and must not take it for the end of its input.
//
// Implementation notes: header only and through the public stream calls,
// so that test programs which compile a library source of their own link
// without the library's hidden symbols.  Nothing is kept between calls.
#ifndef MORVANE_INTERNAL_STREAM_READ_H
#define MORVANE_INTERNAL_STREAM_READ_H

#include <morvane/bio.h>

namespace morvane::internal {

// The retries in a row granted to a stream that asks for one and is not at
// its end.
inline constexpr int kStreamRetries = 16;

// One read by a loader: `op()` is a BIO_read or BIO_gets call on `b`.  Its
// result when 0 or more (0: the end of the input); 0 for a retry at the end
// of the input; -1 for a failure or a source that kept asking to retry.
template <class Op>
int read_or_fail(BIO* b, Op op) {
  for (int retries = 0;; retries++) {
    const int n = op();
    if (n >= 0) return n;
    if (b == nullptr || !BIO_should_retry(b)) return -1;
    if (BIO_eof(b) > 0) return 0;
    if (retries == kStreamRetries) return -1;
  }
}

// BIO_gets by the rule above; buf holds empty text when the result is not
// positive.
inline int gets_or_fail(BIO* b, char* buf, int size) {
  const int n = read_or_fail(b, [&] { return BIO_gets(b, buf, size); });
  if (n <= 0 && size > 0) buf[0] = '\0';
  return n;
}

// BIO_read by the rule above; a stream that claims more than `len` bytes is
// taken at `len`, so that no caller reads past its buffer.
inline int read_or_fail(BIO* b, void* buf, int len) {
  const int n = read_or_fail(b, [&] { return BIO_read(b, buf, len); });
  return n > len ? len : n;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_STREAM_READ_H
