// The base64 filter: encodes what is written through it and decodes what is
// read through it, in lines of 64 characters or, with BIO_FLAGS_BASE64_NO_NL,
// as one unbroken text.
//
// Implementation notes: the first read or write fixes the direction (a later
// change restarts the coder).  Reading first looks for the first line that
// decodes, dropping the lines before it (armour lines such as "-----BEGIN
// ...-----", blank lines, and header lines that do not decode), then decodes
// up to 1024 characters at a time, one line a call.  A padded group ends one
// run of data: text after it, on its line or after it, is read as new groups
// (what the writer makes when flushed between writes, or files joined),
// while a line starting with "-" or the source's end ends the data there.  A
// source that asks to retry but says it is at its end (a memory stream the
// caller wrote) is its end for now: what is held, a last line without a line
// end too, is decoded; after a padded group the read then ends with 0, after
// other text with the source's retry (the text may go on), and a later read
// goes on.  BIO_eof is the filter's own: 0 while it holds decoded bytes or
// text to decode.  A decoding failure (a character outside the alphabet, an
// over-long line, a bad group, characters of an unfinished group left when
// the source ends) delivers what was decoded before it and then ends the
// stream with -1, never with the 0 of a clean end, "decode error" queued by
// the read that returns it.

#include <limits.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "evp/internal.h"
#include "internal/wipe.h"

namespace {

constexpr int kChunk = 1024;  // raw input per step, both ways

enum Direction { kNone = 0, kEncode = 1, kDecode = 2 };

struct B64Ctx {
  int buf_len;  // bytes in buf
  int buf_off;  // bytes of buf already delivered or written on
  int tmp_len;  // bytes in tmp
  int tmp_nl;   // 1 while the rest of a dropped line is skipped
  int encode;   // Direction
  int start;    // 1 until the first valid line was found (reading)
  int cont;     // 1 while the source may deliver more, else its last result
  int padded;   // 1 while nothing but blank lines came after a padded group
  int failed;   // 1 when the text turned out corrupt, 2 once that was reported
  EVP_ENCODE_CTX base64;
  unsigned char buf[1502];    // coded output waiting to be passed on
  unsigned char tmp[kChunk];  // raw input (reading), leftover bytes (unbroken writing)
};

B64Ctx* state(BIO* b) {
  return static_cast<B64Ctx*>(b->ptr);
}

bool no_newlines(const BIO* b) {
  return BIO_test_flags(b, BIO_FLAGS_BASE64_NO_NL) != 0;
}

int b64_new(BIO* b) {
  auto* ctx = static_cast<B64Ctx*>(MORVANE_malloc(sizeof(B64Ctx)));
  if (ctx == nullptr) {
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  memset(ctx, 0, sizeof(*ctx));
  ctx->cont = 1;
  ctx->start = 1;
  b->init = 1;
  b->ptr = ctx;
  b->flags = 0;
  b->num = 0;
  return 1;
}

int b64_free(BIO* b) {
  if (b == nullptr) return 0;
  if (b->ptr != nullptr) {
    // Decoded text may be key material (a PEM body).
    morvane::internal::wipe(b->ptr, sizeof(B64Ctx));
    MORVANE_free(b->ptr);
  }
  b->ptr = nullptr;
  b->init = 0;
  b->flags = 0;
  return 1;
}

// Ends a read stream that turned out corrupt.  The reason is queued when a
// read reports the failure, after the bytes decoded before the fault: a
// reader that stops before them never sees it.
void fail(B64Ctx* ctx) {
  ctx->cont = -1;
  if (ctx->failed == 0) ctx->failed = 1;
}

// Whether the source ended while the line decoder held the characters of
// lines that left a group unfinished: text that was cut, or a line that is
// not base64 after the data.  (When the decoder itself sees the end of the
// data it holds none.)
bool cut_at_end(const B64Ctx* ctx) {
  return ctx->cont == 0 && !ctx->start && ctx->base64.num != 0;
}

morvane::evp::Pending pending(B64Ctx* ctx) {
  MORVANE_assert(ctx->buf_len <= (int)sizeof(ctx->buf));
  MORVANE_assert(ctx->buf_len >= ctx->buf_off);
  return {ctx->buf, ctx->buf_off, ctx->buf_len};
}

int b64_write(BIO* b, const char* data, int inl) {
  B64Ctx* ctx = state(b);
  if (ctx == nullptr || b->next_bio == nullptr) return 0;
  BIO_clear_retry_flags(b);
  if (ctx->encode != kEncode) {
    ctx->encode = kEncode;
    ctx->buf_len = ctx->buf_off = ctx->tmp_len = 0;
    EVP_EncodeInit(&ctx->base64);
  }
  int result = 0;
  if (!pending(ctx).drain(b, &result)) return result;
  if (data == nullptr || inl <= 0) return 0;  // a flush drains this way

  auto in = reinterpret_cast<const unsigned char*>(data);
  int ret = 0;
  while (inl > 0) {
    int n = inl > kChunk ? kChunk : inl;
    if (no_newlines(b)) {
      if (ctx->tmp_len > 0) {
        // Complete the leftover group first.
        MORVANE_assert(ctx->tmp_len <= 3);
        n = 3 - ctx->tmp_len;
        if (n > inl) n = inl;
        memcpy(ctx->tmp + ctx->tmp_len, in, static_cast<size_t>(n));
        ctx->tmp_len += n;
        ret += n;
        if (ctx->tmp_len < 3) break;
        ctx->buf_len = EVP_EncodeBlock(ctx->buf, ctx->tmp, ctx->tmp_len);
        ctx->tmp_len = 0;
      } else {
        if (n < 3) {
          memcpy(ctx->tmp, in, static_cast<size_t>(n));
          ctx->tmp_len = n;
          ret += n;
          break;
        }
        n -= n % 3;
        ctx->buf_len = EVP_EncodeBlock(ctx->buf, in, n);
        ret += n;
      }
    } else {
      EVP_EncodeUpdate(&ctx->base64, ctx->buf, &ctx->buf_len, in, n);
      ret += n;
    }
    MORVANE_assert(ctx->buf_len <= (int)sizeof(ctx->buf));
    inl -= n;
    in += n;
    ctx->buf_off = 0;
    if (!pending(ctx).drain(b, &result)) return ret == 0 ? result : ret;
  }
  return ret;
}

int b64_puts(BIO* b, const char* str) {
  const size_t n = strlen(str);
  return b64_write(b, str, n > INT_MAX ? INT_MAX : static_cast<int>(n));
}

bool blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether s[0, n) holds only blanks.
bool only_blanks(const unsigned char* s, int n) {
  int i = 0;
  while (i < n && blank(s[i])) i++;
  return i == n;
}

// Whether s[0, n) holds only base64 characters and blanks.
bool only_base64(const unsigned char* s, int n) {
  for (int i = 0; i < n; i++) {
    const unsigned char c = s[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
          c == '/' || c == '=' || blank(c)))
      return false;
  }
  return true;
}

// The end of the first "=" run in s[0, n), or -1 when it has no "=".
int end_of_pad_run(const unsigned char* s, int n) {
  const void* eq = memchr(s, '=', static_cast<size_t>(n));
  if (eq == nullptr) return -1;
  int e = static_cast<int>(static_cast<const unsigned char*>(eq) - s);
  while (e < n && s[e] == '=') e++;
  return e;
}

// Whether a reading filter holds text that more text could complete or
// that is still to be decoded: characters other than blanks, or those of an
// unfinished group in the line decoder.
bool holds_text(const B64Ctx* ctx) {
  return !only_blanks(ctx->tmp, ctx->tmp_len) || ctx->base64.num != 0;
}

// After a padded group, with nothing but blanks held, a source that asks to
// retry but says it is at its end (dry: a memory stream at its end does
// both): the group ends the data, as the decoder reads it.  A source that
// may have more (a socket) is waited for, and so is one at its end after
// unpadded text, which may go on.
bool pad_ends_data(const B64Ctx* ctx, bool dry) {
  return dry && ctx->padded && !holds_text(ctx);
}

// Decodes one line (or a part of one) into buf after `*decoded` bytes: the
// decoder's result, 0 only for the end of the data (at a "-").  A padded
// group ends the decoder's run of data: what follows it, on the line or
// after it, is new groups for a fresh decoder.
int decode_line(B64Ctx* ctx, const unsigned char* s, int len, int* decoded) {
  for (;;) {
    // Up to the end of the first "=" run when text follows it.
    const int e = end_of_pad_run(s, len);
    const int cut = e >= 0 && !only_blanks(s + e, len - e) ? e : len;
    int n = 0;
    int rc = EVP_DecodeUpdate(&ctx->base64, ctx->buf + *decoded, &n, s, cut);
    *decoded += n;
    ctx->padded = 0;
    if (rc == 0 && e >= 0 && memchr(s, '-', static_cast<size_t>(cut)) == nullptr) {
      // The end of the decoder's data: at a "-" when the text holds one,
      // else at the padded group it ends with.
      int k = cut;
      while (k > 0 && blank(s[k - 1])) k--;
      if (k > 0 && s[k - 1] == '=') {
        EVP_DecodeInit(&ctx->base64);
        ctx->padded = 1;
        rc = 1;
      }
    }
    if (rc <= 0 || cut == len) return rc;
    s += cut;
    len -= cut;
  }
}

// Whether a line that does not decode is base64 text gone wrong rather than
// a header: nothing but base64 characters up to its first "=" run, or in
// all when it has none.
bool base64_gone_wrong(const unsigned char* s, int n) {
  const int e = end_of_pad_run(s, n);
  return only_base64(s, e >= 0 ? e : n);
}

// Start of data, line mode: drops the lines in tmp that do not decode (blank
// lines among them) and keeps the text from the first one that does, or
// that is base64 text gone wrong (its fault is then reported, not passed
// over as a header's).  True when it was found; false when more text is
// needed.  A line ends at a line feed or at a carriage return (text whose
// lines end with CR alone).  At the end of the source, and when `dry` (the
// source has nothing now and says it is at its end), an unfinished last
// line is tried as a line too; when dry and it does not decode, the rest of
// that line, if more comes, is dropped with it.
bool find_first_line(B64Ctx* ctx, bool dry) {
  unsigned char* const tmp = ctx->tmp;
  const int len = ctx->tmp_len;
  int p = 0;  // start of the current line
  for (int q = 0; q < len; q++) {
    const bool last = q + 1 == len && (ctx->cont <= 0 || dry);
    if (tmp[q] != '\n' && tmp[q] != '\r' && !last) continue;
    const int end = q + 1;
    const bool unfinished = tmp[q] != '\n' && tmp[q] != '\r' && ctx->cont > 0;
    if (ctx->tmp_nl) {  // the tail of a line being dropped: drop it
      ctx->tmp_nl = unfinished;
      p = end;
      continue;
    }
    if (only_blanks(tmp + p, end - p)) {
      p = end;
      continue;
    }
    int num = 0;
    const int k = decode_line(ctx, tmp + p, end - p, &num);
    EVP_DecodeInit(&ctx->base64);
    ctx->padded = 0;
    if (k == 1 || num > 0 || (k < 0 && base64_gone_wrong(tmp + p, end - p))) {
      memmove(tmp, tmp + p, static_cast<size_t>(len - p));
      ctx->tmp_len = len - p;
      ctx->start = 0;
      return true;
    }
    // A line that does not decode; when unfinished, its rest (if more
    // comes) too.
    p = end;
    if (unfinished) ctx->tmp_nl = 1;
  }
  if (p == 0 && len == kChunk) {
    // 1024 characters without a line end: skip the rest of that line.
    ctx->tmp_nl = 1;
    ctx->tmp_len = 0;
  } else {
    // Keep only the unfinished line after the dropped ones.
    memmove(tmp, tmp + p, static_cast<size_t>(len - p));
    ctx->tmp_len = len - p;
  }
  return false;
}

// Unbroken text: decodes the whole groups of 4 in tmp into buf, keeping the
// 1 to 3 characters after them; the byte count, or -1 for a bad group (or,
// at the end of the source, for kept characters other than line ends and
// white space: a cut group).  A padded group before the last one ends a run
// of data, and the groups after it are new data; one with "=" in its first
// two places, or a character after its "=", is bad.
int decode_unbroken(B64Ctx* ctx) {
  const int len = ctx->tmp_len;
  const int whole = len & ~3;
  if (ctx->cont <= 0) {
    for (int i = whole; i < len; i++) {
      if (strchr(" \t\r\n", ctx->tmp[i]) == nullptr || ctx->tmp[i] == '\0') return -1;
    }
  }
  int z = 0;
  int from = 0;
  for (;;) {
    const void* eq = memchr(ctx->tmp + from, '=', static_cast<size_t>(whole - from));
    if (eq == nullptr) break;
    const int to = (static_cast<int>(static_cast<const unsigned char*>(eq) - ctx->tmp) | 3) + 1;
    if (to >= whole) break;  // the last group: below
    const unsigned char* g = ctx->tmp + to - 4;
    if (g[0] == '=' || g[1] == '=' || g[3] != '=') return -1;
    const int got = EVP_DecodeBlock(ctx->buf + z, ctx->tmp + from, to - from);
    if (got < 0) return -1;
    z += got - (g[2] == '=' ? 2 : 1);
    from = to;
  }
  int got = EVP_DecodeBlock(ctx->buf + z, ctx->tmp + from, whole - from);
  if (got < 0) return -1;
  if (whole - from > 2 && ctx->tmp[whole - 1] == '=') {
    got--;
    if (ctx->tmp[whole - 2] == '=') got--;
  }
  z += got;
  memmove(ctx->tmp, ctx->tmp + whole, static_cast<size_t>(len - whole));
  ctx->tmp_len = len - whole;
  return z;
}

int b64_read(BIO* b, char* out, int outl) {
  B64Ctx* ctx = state(b);
  if (out == nullptr || ctx == nullptr || b->next_bio == nullptr) return 0;
  BIO_clear_retry_flags(b);
  if (ctx->encode != kDecode) {
    ctx->encode = kDecode;
    ctx->buf_len = ctx->buf_off = ctx->tmp_len = 0;
    ctx->padded = 0;
    EVP_DecodeInit(&ctx->base64);
  }
  int ret = 0;
  ret += pending(ctx).deliver(out, outl);

  // A stream that ended in an error keeps reporting it.
  int ret_code = ctx->cont < 0 ? ctx->cont : 0;
  // A padded group was followed by the end of what a source that asks to
  // retry holds: the data ends there for this read (0, no retry), and a
  // later read goes on with what the source holds by then.
  bool pad_end = false;
  while (outl > 0 && ctx->cont > 0) {
    const bool unbroken = no_newlines(b);
    // The source has nothing now: what is held, an unfinished line too, is
    // decoded before the retry is passed on, or a message shorter than the
    // 1024-character window would never be read.  Before the first line of
    // data only a source at its end (dry) has its unfinished line tried.
    bool held_only = false;
    bool dry = false;
    int i = BIO_read(b->next_bio, ctx->tmp + ctx->tmp_len, kChunk - ctx->tmp_len);
    if (i <= 0) {
      ret_code = i;
      if (BIO_should_retry(b->next_bio)) {
        dry = BIO_eof(b->next_bio) == 1;
        if (!unbroken && pad_ends_data(ctx, dry)) {
          pad_end = true;
          ret_code = 0;
          break;
        }
        if (unbroken || ctx->tmp_len == 0 || (ctx->start && !dry)) break;
        held_only = true;
      } else {
        ctx->cont = i;
        if (ctx->tmp_len == 0) {
          if (cut_at_end(ctx)) {
            fail(ctx);
            ret_code = -1;
          }
          break;
        }
      }
      i = 0;  // decode what is held
    }
    ctx->tmp_len += i;

    if (!unbroken && ctx->start) {
      if (!find_first_line(ctx, dry)) {
        if (held_only) break;  // an unfinished line that may go on
        continue;
      }
    } else if (!unbroken && !held_only && ctx->tmp_len < kChunk && ctx->cont > 0) {
      continue;  // collect up to 1024 characters first
    }

    int decoded;
    int rc;
    if (unbroken) {
      decoded = decode_unbroken(ctx);
      rc = decoded < 0 ? -1 : 1;
      if (decoded < 0) decoded = 0;
    } else {
      // Whole lines while the source goes on: the tail of a line cut by the
      // 1024-character window waits for the rest of its line, unless the
      // source has nothing more for now.  (The decoder reads a line split
      // anywhere alike.)
      int upto = ctx->tmp_len;
      if (ctx->cont > 0 && !held_only) {
        int nl = upto - 1;
        while (nl >= 0 && ctx->tmp[nl] != '\n') nl--;
        if (nl >= 0) upto = nl + 1;
      }
      // One line a call: a line that ends a whole number of groups is
      // decoded at once, so that the decoder holds only the characters of
      // lines that left a group unfinished (a cut, or text that is not
      // base64, when the source ends there).  A line whose padded group
      // ends the decoder's data is followed by new groups, from a fresh
      // decoder; a line starting with "-" ends the data.
      rc = 1;
      decoded = 0;
      for (int p = 0; p < upto && rc > 0;) {
        const void* nl = memchr(ctx->tmp + p, '\n', static_cast<size_t>(upto - p));
        const int end = nl != nullptr
                            ? static_cast<int>(static_cast<const unsigned char*>(nl) - ctx->tmp)
                            : upto;  // the line's feed, or the end
        int k = p;
        while (k < end && (ctx->tmp[k] == ' ' || ctx->tmp[k] == '\t' || ctx->tmp[k] == '\r')) k++;
        const int q = end < upto ? end + 1 : upto;
        if (k != end) {
          rc = decode_line(ctx, ctx->tmp + p, q - p, &decoded);
        } else {
          // Blanks: the decoder only counts the line's end (the tail of a
          // line whose head came earlier).
          int n = 0;
          rc = EVP_DecodeUpdate(&ctx->base64, ctx->buf + decoded, &n, ctx->tmp + p, q - p);
          decoded += n;
        }
        p = q;
      }
      memmove(ctx->tmp, ctx->tmp + upto, static_cast<size_t>(ctx->tmp_len - upto));
      ctx->tmp_len -= upto;
    }
    ctx->buf_off = 0;
    ctx->buf_len = decoded;
    if (rc < 0 || cut_at_end(ctx)) {
      // Corrupt text: deliver what came before the fault, then fail.
      fail(ctx);
      ret_code = -1;
    } else if (rc == 0 && !unbroken) {
      ctx->cont = 0;  // the decoder saw the end of the data
      ret_code = 0;   // whatever the source said at its last read
    }
    ret += pending(ctx).deliver(out, outl);
    if (held_only) {
      if (ctx->cont > 0 && pad_ends_data(ctx, dry)) {
        pad_end = true;
        ret_code = 0;
      }
      break;
    }
  }
  // Once the data has ended (or failed) there is nothing to wait for,
  // whatever the source said at its last read.
  if (ctx->cont > 0 && !pad_end) BIO_copy_next_retry(b);
  if (ret != 0) return ret;
  if (ret_code < 0 && ctx->failed == 1) {
    EVPerr(EVP_F_B64_READ, EVP_R_DECODE_ERROR);
    ctx->failed = 2;
  }
  return morvane::bio::RetryIsNoEnd(b, ret_code);
}

long b64_ctrl(BIO* b, int cmd, long num, void* ptr) {
  B64Ctx* ctx = state(b);
  if (ctx == nullptr) return 0;
  switch (cmd) {
    case BIO_CTRL_RESET:
      ctx->cont = 1;
      ctx->start = 1;
      ctx->tmp_nl = 0;
      ctx->padded = 0;
      ctx->failed = 0;
      ctx->encode = kNone;
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_EOF:
      // The filter's own end: decoded bytes waiting, or text held to be
      // decoded (or encoded), are none.  Once the data ended (or failed),
      // what is left of the text is never delivered.
      if (ctx->buf_len > ctx->buf_off) return 0;
      if (ctx->cont <= 0) return 1;
      if (ctx->encode == kEncode ? ctx->base64.num != 0 || ctx->tmp_len != 0
                                 : ctx->encode == kDecode && holds_text(ctx))
        return 0;
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_PENDING:
      if (ctx->buf_len - ctx->buf_off > 0) return ctx->buf_len - ctx->buf_off;
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_WPENDING:
      if (ctx->buf_len - ctx->buf_off > 0) return ctx->buf_len - ctx->buf_off;
      if (ctx->encode == kEncode && (ctx->base64.num != 0 || ctx->tmp_len != 0)) return 1;
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_FLUSH:
      // Only a writing filter has text to finish; a reading one keeps what
      // it decoded.
      while (ctx->encode == kEncode) {
        while (ctx->buf_len != ctx->buf_off) {
          const int i = b64_write(b, nullptr, 0);
          if (i < 0) return i;
          if (i == 0 && ctx->buf_len != ctx->buf_off) return 0;  // refused without retry
        }
        if (no_newlines(b)) {
          if (ctx->tmp_len == 0) break;
          ctx->buf_len = EVP_EncodeBlock(ctx->buf, ctx->tmp, ctx->tmp_len);
          ctx->buf_off = 0;
          ctx->tmp_len = 0;
        } else {
          if (ctx->base64.num == 0) break;
          ctx->buf_off = 0;
          EVP_EncodeFinal(&ctx->base64, ctx->buf, &ctx->buf_len);
        }
      }
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_DUP:
      return 1;
    case BIO_C_DO_STATE_MACHINE:
      return morvane::evp::forward_state_machine(b, cmd, num, ptr);
    default:
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
  }
}

long b64_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return morvane::evp::forward_callback_ctrl(b, cmd, fp);
}

constinit BIO_METHOD methods_b64 = {
    BIO_TYPE_BASE64, "base64 encoding", b64_write, b64_read, b64_puts,
    nullptr,         b64_ctrl,          b64_new,   b64_free, b64_callback_ctrl,
};

}  // namespace

/* see morvane/evp.h */
BIO_METHOD* BIO_f_base64(void) {
  return &methods_b64;
}
