// The PEM armour itself (RFC 1421, 4.4; RFC 7468): reading one block of
// begin line, optional header lines, base64 body and end line from a stream,
// and writing one.
//
// Implementation notes: the reader takes the stream line by line in a
// 256-byte buffer (at most 253 bytes a line), drops the trailing bytes at or
// below 0x20 (read as signed, so 0x80 to 0xFF too) and puts one line feed
// back; line lengths count that line feed.  A block whose first line after
// the begin line is already body has no header and no line-length rule; a
// block with a header (or an empty line after the begin line) takes body lines
// of exactly 64 characters until a shorter one, which must be followed by the
// end line.  Buffer sizes are computed in size_t and kept within INT_MAX,
// the limit of the growable buffers and of the base64 decoder.

#include <limits.h>
#include <stddef.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>

#include "internal/stream_read.h"
#include "internal/wipe.h"
#include "pem/internal.h"

namespace {

constexpr char kBegin[] = "-----BEGIN ";  // 11 characters
constexpr char kEnd[] = "-----END ";      // 9 characters
constexpr char kTail[] = "-----\n";       // 6 characters
constexpr size_t kBeginLen = sizeof kBegin - 1;
constexpr size_t kEndLen = sizeof kEnd - 1;
constexpr size_t kTailLen = sizeof kTail - 1;

// A full body line: 64 base64 characters and the line feed.
constexpr size_t kFullLine = 65;

// The writer's output buffer and the input it encodes at a time: 5120 bytes
// give at most 107 lines of 65 characters, 6955 bytes with the encoder's
// pending group.
constexpr size_t kWriteBuffer = 8192;
constexpr size_t kWriteChunk = 5120;
static_assert((kWriteChunk + 47) / 48 * 65 + 1 <= kWriteBuffer);

// One line as the reader takes it: the bytes with the line feed put back and
// a terminator, and its length counting the line feed.  A line longer than
// the buffer keeps its first 253 bytes (`kept` counting the line feed put
// after them) and its full length in `len`.  `failed` is set once the
// stream failed: no line is read after that.
struct Line {
  char buf[256];
  size_t len = 0;
  size_t kept = 0;
  bool failed = false;

  void clear() {
    buf[0] = '\0';
    len = kept = 0;
  }
  bool starts_with(const char* prefix, size_t n) const {
    return kept >= n && memcmp(buf, prefix, n) == 0;
  }
};

bool trailing(char c) {
  return static_cast<signed char>(c) <= ' ';
}

// Reads the next line into `line`; false at the end of the input, or when
// the stream fails (line.failed is then set), leaving `line` as it was.  A
// line is read whole: the pieces a stream hands out before the line feed (a
// line longer than the buffer, a read that stopped early and was asked
// again) are joined, and of the bytes past the buffer's 253 only the length
// is counted, so that the rest never reads as lines of its own.
bool read_line(BIO* bp, Line& line) {
  if (line.failed) return false;
  char buf[sizeof line.buf];
  morvane::internal::Wiper w(buf);
  char rest[sizeof line.buf];  // what is read past the 253 bytes kept; wiped when used
  size_t rest_used = 0;
  struct RestWiper {
    char* p;
    const size_t& n;
    ~RestWiper() { morvane::internal::wipe(p, n); }
  } wr{rest, rest_used};
  size_t i = 0;    // bytes kept in buf
  size_t at = 0;   // bytes of the line read
  size_t len = 0;  // set when bytes other than trailing ones were dropped
  for (;;) {
    const bool keep = i < 253;
    char* to = keep ? buf + i : rest;
    const int size = keep ? static_cast<int>(254 - i) : 254;
    if (!keep) rest_used = sizeof rest;
    const int got = morvane::internal::gets_or_fail(bp, to, size);
    if (got < 0) {
      line.failed = true;
      return false;
    }
    if (got == 0) break;
    // A stream that claims more than it may write is taken at its limit.
    const size_t m = got > size - 1 ? static_cast<size_t>(size - 1) : static_cast<size_t>(got);
    if (keep) {
      i += m;
    } else {
      for (size_t k = 0; k < m; k++)
        if (!trailing(rest[k])) len = at + k + 1;
    }
    at += m;
    if (to[m - 1] == '\n') break;
  }
  if (at == 0) return false;
  if (len == 0) {
    while (i > 0 && trailing(buf[i - 1])) i--;
    len = i;
  }
  buf[i] = '\n';
  buf[i + 1] = '\0';
  memcpy(line.buf, buf, i + 2);
  line.kept = i + 1;
  line.len = len + 1;
  return true;
}

// Appends n bytes to a growable buffer holding `used` bytes of text, keeping
// a terminator after them; each growth asks for used + n + 9 bytes.  False
// when the size passes INT_MAX or the growth fails.
bool append(BUF_MEM* b, size_t& used, const char* s, size_t n, bool wipe_old) {
  const size_t want = used + n + 9;
  if (n > INT_MAX || want > static_cast<size_t>(INT_MAX)) return false;
  const int w = static_cast<int>(want);
  if (!(wipe_old ? BUF_MEM_grow_clean(b, w) : BUF_MEM_grow(b, w))) return false;
  memcpy(b->data + used, s, n);
  used += n;
  b->data[used] = '\0';
  return true;
}

// Hands out the storage of a growable buffer and frees the record.
char* release(BUF_MEM* b) {
  char* data = b->data;
  b->data = nullptr;
  b->length = b->max = 0;
  BUF_MEM_free(b);
  return data;
}

// The number of characters PEM_write_bio writes for `len` bytes: 65 for every
// 48 bytes, and a shorter line with its line feed for the rest.
size_t body_chars(size_t len) {
  const size_t rest = len % 48;
  return len / 48 * kFullLine + (rest != 0 ? (rest + 2) / 3 * 4 + 1 : 0);
}

// Writes all n bytes in one call.
bool put(BIO* bp, const void* s, size_t n) {
  if (n == 0) return true;
  return n <= static_cast<size_t>(INT_MAX) &&
         BIO_write(bp, s, static_cast<int>(n)) == static_cast<int>(n);
}

bool put_line(BIO* bp, const char* open, const char* name) {
  return put(bp, open, strlen(open)) && put(bp, name, strlen(name)) && put(bp, kTail, kTailLen);
}

// The three buffers of one block being read, freed (and wiped) with the
// reader unless handed out.
struct Block {
  BUF_MEM* name = BUF_MEM_new();
  BUF_MEM* header = BUF_MEM_new();
  BUF_MEM* body = BUF_MEM_new();
  size_t name_len = 0, header_len = 0, body_len = 0;
  Line line;  // the line being read, with the stream's failure

  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() {
    BUF_MEM_free(name);
    BUF_MEM_free(header);
    BUF_MEM_free(body);
  }
};

// Reads one block into `b`, the body decoded; 0 on success, -1 for a body
// that decodes to nothing, else the reason to queue.
int read_block(BIO* bp, Block& b) {
  if (b.name == nullptr || b.header == nullptr || b.body == nullptr) return ERR_R_MALLOC_FAILURE;
  Line& line = b.line;
  morvane::internal::Wiper w(line.buf);
  // The begin line: "-----BEGIN ", the name, "-----".
  for (;;) {
    if (!read_line(bp, line)) return PEM_R_NO_START_LINE;
    if (line.kept != line.len || !line.starts_with(kBegin, kBeginLen)) continue;
    const size_t rest = strlen(line.buf + kBeginLen);
    if (rest < kTailLen || memcmp(line.buf + kBeginLen + rest - kTailLen, kTail, kTailLen) != 0)
      continue;
    if (!append(b.name, b.name_len, line.buf + kBeginLen, rest - kTailLen, false))
      return ERR_R_MALLOC_FAILURE;
    break;
  }
  // Header lines, up to an empty line; an end line here means the lines
  // gathered were the body of a block without header.  An empty line ends
  // the header whatever came before it: a body followed by an empty line
  // before the end line is read as a header, and the empty body fails.
  bool no_header = false;
  while (read_line(bp, line)) {
    if (line.buf[0] == '\n') break;
    if (line.starts_with(kEnd, kEndLen)) {
      no_header = true;
      break;
    }
    if (!append(b.header, b.header_len, line.buf, line.kept, false)) return ERR_R_MALLOC_FAILURE;
  }
  if (no_header) {
    BUF_MEM* t = b.header;
    b.header = b.body;
    b.body = t;
    b.body_len = b.header_len;
    b.header_len = 0;
  } else {
    // Body lines of 64 characters; the first other line is the last one.
    while (read_line(bp, line)) {
      const bool last = line.len != kFullLine;
      if (line.starts_with(kEnd, kEndLen) || line.len > kFullLine) break;
      if (!append(b.body, b.body_len, line.buf, line.kept, true)) return ERR_R_MALLOC_FAILURE;
      if (last) {
        line.clear();
        read_line(bp, line);
        break;
      }
    }
  }
  // The end line: "-----END ", the same name, "-----".
  if (line.len != kEndLen + b.name_len + kTailLen || !line.starts_with(kEnd, kEndLen) ||
      memcmp(line.buf + kEndLen, b.name->data, b.name_len) != 0 ||
      memcmp(line.buf + kEndLen + b.name_len, kTail, kTailLen) != 0)
    return PEM_R_BAD_END_LINE;
  // The header is text even when empty.
  if (b.header_len == 0 && !append(b.header, b.header_len, "", 0, false))
    return ERR_R_MALLOC_FAILURE;
  // Decoded in place: the decoder writes at most 3 bytes for every 4
  // characters it has read.
  EVP_ENCODE_CTX ctx;
  EVP_DecodeInit(&ctx);
  auto* body = reinterpret_cast<unsigned char*>(b.body->data);
  int n = 0, k = 0;
  if (b.body_len != 0 && EVP_DecodeUpdate(&ctx, body, &n, body, static_cast<int>(b.body_len)) < 0)
    return PEM_R_BAD_BASE64_DECODE;
  if (EVP_DecodeFinal(&ctx, body + n, &k) < 0) return PEM_R_BAD_BASE64_DECODE;
  morvane::internal::wipe(ctx);
  b.body_len = static_cast<size_t>(n) + static_cast<size_t>(k);
  return b.body_len == 0 ? -1 : 0;
}

}  // namespace

/* see morvane/pem.h */
int PEM_read_bio(BIO* bp, char** name, char** header, unsigned char** data, long* len) {
  Block b;
  int reason = read_block(bp, b);
  // A stream that failed ends the block with its own reason, wherever it
  // was: before a begin line that is no end of the input, inside a block no
  // broken block.
  if (b.line.failed) reason = ERR_R_BIO_LIB;
  if (reason != 0) {
    if (reason > 0) PEMerr(PEM_F_PEM_READ_BIO, reason);
    return 0;
  }
  *name = release(b.name);
  *header = release(b.header);
  *data = reinterpret_cast<unsigned char*>(release(b.body));
  *len = static_cast<long>(b.body_len);
  b.name = b.header = b.body = nullptr;
  return 1;
}

/* see morvane/pem.h */
int PEM_read(FILE* fp, char** name, char** header, unsigned char** data, long* len) {
  return morvane::pem::on_file(fp, PEM_F_PEM_READ, 0,
                               [&](BIO* b) { return PEM_read_bio(b, name, header, data, len); });
}

/* see morvane/pem.h */
int PEM_write_bio(BIO* bp, const char* name, char* header, unsigned char* data, long len) {
  // The result counts the body's characters in an int.
  if (len < 0 || body_chars(static_cast<unsigned long>(len)) > static_cast<size_t>(INT_MAX)) {
    PEMerr(PEM_F_PEM_WRITE_BIO, ERR_R_BUF_LIB);
    return 0;
  }
  if (!put_line(bp, kBegin, name) || (header != nullptr && header[0] != '\0' &&
                                      (!put(bp, header, strlen(header)) || !put(bp, "\n", 1)))) {
    PEMerr(PEM_F_PEM_WRITE_BIO, ERR_R_BUF_LIB);
    return 0;
  }
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(kWriteBuffer));
  if (buf == nullptr) {
    PEMerr(PEM_F_PEM_WRITE_BIO, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  EVP_ENCODE_CTX ctx;
  EVP_EncodeInit(&ctx);
  size_t left = static_cast<size_t>(len), total = 0;
  bool ok = true;
  while (ok && left > 0) {
    const size_t n = left < kWriteChunk ? left : kWriteChunk;
    int out = 0;
    EVP_EncodeUpdate(&ctx, buf, &out, data, static_cast<int>(n));
    ok = put(bp, buf, static_cast<size_t>(out));
    total += static_cast<size_t>(out);
    data += n;
    left -= n;
  }
  if (ok) {
    int out = 0;
    EVP_EncodeFinal(&ctx, buf, &out);
    ok = put(bp, buf, static_cast<size_t>(out));
    total += static_cast<size_t>(out);
  }
  morvane::internal::wipe(buf, kWriteBuffer);
  MORVANE_free(buf);
  morvane::internal::wipe(ctx);
  if (!ok || !put_line(bp, kEnd, name)) {
    PEMerr(PEM_F_PEM_WRITE_BIO, ERR_R_BUF_LIB);
    return 0;
  }
  return static_cast<int>(total);
}

/* see morvane/pem.h */
int PEM_write(FILE* fp, const char* name, char* header, unsigned char* data, long len) {
  return morvane::pem::on_file(fp, PEM_F_PEM_WRITE, 0,
                               [&](BIO* b) { return PEM_write_bio(b, name, header, data, len); });
}
