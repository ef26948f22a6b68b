// Whole lines and reads to the real end of a stream, for the library's line
// readers (hex values, object lists, MIME headers) and copies.
//
// A stream's line read (BIO_gets) hands out what it has: a non-blocking
// source, a stream pair or a filter may give a line in several pieces, and
// a reader that took each piece for a line would read a value cut short or
// take the rest of a line for a line of its own.  read_line joins the pieces
// until a line feed or the end of the input, each piece taken by the read
// rule of stream_read.h; a line that does not fit the reader's buffer is
// refused, never cut.
//
// Nothing is written past the reader's buffer, whatever a stream returns:
// a stream that hands out a whole buffer's worth (it broke the rule of line
// reads, which keeps a place for the terminator) has its piece taken as
// having no terminator, and the reader's own terminator takes the last
// place.
//
// Implementation notes: header only and through the public stream calls,
// like stream_read.h.  A chain without line reads is read a byte at a time,
// so that no byte past the line is taken from it: a reader that owns the
// rest of the stream puts a buffer filter in front instead.
#ifndef MORVANE_INTERNAL_LINE_READ_H
#define MORVANE_INTERNAL_LINE_READ_H

#include <morvane/bio.h>

#include "internal/stream_read.h"

namespace morvane::internal {

// read_line's result for a line that does not fit.
inline constexpr int kLineTooLong = -2;

// A read by the read rule that never takes a retry for the end while the
// stream still says it holds data (BIO_pending): such a read is made again,
// kStreamRetries times at most, then fails.  `op` as for read_or_fail.
template <class Op>
int read_to_end(BIO* b, Op op) {
  for (int tries = 0;; tries++) {
    bool retried = false;
    const int n = read_or_fail(b, [&] {
      const int r = op();
      retried = r < 0;
      return r;
    });
    if (n != 0 || !retried || BIO_pending(b) <= 0) return n;
    if (tries == kStreamRetries) return -1;
  }
}

// BIO_read by read_to_end, taken at most at `len` bytes as read_or_fail's.
inline int read_to_end(BIO* b, void* buf, int len) {
  const int n = read_to_end(b, [&] { return BIO_read(b, buf, len); });
  return n > len ? len : n;
}

// Whether the chain from `b` reads lines: its stream has a line read, and
// one that passes line reads straight on (the null, line-buffer and
// non-blocking test filters) has a next stream that reads lines.  (A null
// stream counts as one: the calls report it.)
inline bool has_line_reads(const BIO* b) {
  for (; b != nullptr && b->method != nullptr; b = b->next_bio) {
    if (b->method->bgets == nullptr) return false;
    const int type = b->method->type;
    if (type != BIO_TYPE_NULL_FILTER && type != BIO_TYPE_LINEBUFFER && type != BIO_TYPE_NBIO_TEST)
      return true;
  }
  return true;
}

// One piece of a line into buf (size >= 2), by read_to_end: BIO_gets, or
// one byte from a chain without line reads.  buf holds the piece as text,
// at most size - 1 bytes; its length, 0 at the end, -1 for a failure.
inline int read_piece(BIO* b, char* buf, int size) {
  const bool lines = has_line_reads(b);
  int n = read_to_end(b, [&] { return lines ? BIO_gets(b, buf, size) : BIO_read(b, buf, 1); });
  if (n > size - 1) n = size - 1;  // a full piece: no terminator of its own
  buf[n > 0 ? n : 0] = '\0';
  return n;
}

// Joins pieces of a line into buf (size >= 2) as text until a line feed,
// the end of the input, or at least `want` bytes (at most size - 1).  Its
// length (0: the end of the input, nothing read), or -1 when a read fails.
inline int read_line_start(BIO* b, char* buf, int size, int want) {
  buf[0] = '\0';
  int len = 0;
  while (len < want) {
    const int n = read_piece(b, buf + len, size - len);
    if (n <= 0) return n < 0 ? -1 : len;
    len += n;
    if (buf[len - 1] == '\n') break;
  }
  return len;
}

// Reads one whole line of `b` into buf as text: the pieces up to and with a
// line feed, or up to the end of the input.  Returns its length (0: the end
// of the input, nothing read), -1 when a read fails, or kLineTooLong when
// the line does not fit in size - 1 bytes.  A line that fills the buffer
// exactly and whose line feed follows is whole: the line feed is taken from
// the stream but not stored; with `crlf`, so are a CR and the line feed (or
// the end of the input) after it, so that the limit counts the line
// without its end either way.
inline int read_line(BIO* b, char* buf, int size, bool crlf = false) {
  if (size < 2) {
    if (size == 1) buf[0] = '\0';
    return kLineTooLong;
  }
  const int len = read_line_start(b, buf, size, size - 1);
  if (len < size - 1 || buf[len - 1] == '\n') return len;
  char next[2];
  int n = read_piece(b, next, sizeof next);
  if (crlf && n > 0 && next[0] == '\r') n = read_piece(b, next, sizeof next);
  if (n < 0) return -1;
  return n == 0 || next[0] == '\n' ? len : kLineTooLong;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_LINE_READ_H
