// Base64 (RFC 4648, section 4; the line form of RFC 1421): the one-shot block
// coders and the streaming coder of EVP_ENCODE_CTX that the PEM armour uses.
//
// Implementation notes: every input byte is sorted by a class table into an
// alphabet value (0 to 63, "=" as 0), white space, end of line, carriage
// return, end of data ("-") or "not base64".  A byte with its top bit set is
// never base64.  The streaming decoder stores the alphabet characters of a
// line and decodes them 64 at a time (or at the end of the input); a byte that
// is not base64, or data after the padded group, ends it with -1, the bytes
// decoded before it counted, so that corrupt text never passes for a shorter
// message.  Only padding and a line starting with "-" end the data (a "-"
// inside a line is corrupt text): where one call ends, or what blanks end a
// line, never does, so any split of a text decodes alike.  The end, once
// seen, is kept in the context's `length` (kDataEnded, kDataClosed), so that
// a later call answers as the rest of one call would.
// Output counts are ints: an encoder input whose output count would pass
// INT_MAX is refused.

#include <limits.h>
#include <stddef.h>
#include <string.h>

#include <array>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "internal/cpu.h"

static_assert(sizeof(((EVP_ENCODE_CTX*)nullptr)->enc_data) == 80);

#if defined(__x86_64__)
namespace morvane::evp {
// With AVX-512 VBMI (encode_vbmi.cc): the characters of n bytes, padded as
// encode_block() pads them, without the terminating zero; the count.  And
// whole lines of 48 bytes, 64 characters and a newline each.
size_t encode_vbmi(unsigned char* t, const unsigned char* f, size_t n) noexcept;
void encode_lines_vbmi(unsigned char* t, const unsigned char* f, size_t lines) noexcept;
}  // namespace morvane::evp
#endif

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Character classes beside the alphabet values 0 to 63.
constexpr unsigned char kWhiteSpace = 0xE0;  // tab, space
constexpr unsigned char kEndOfLine = 0xF0;   // line feed
constexpr unsigned char kReturn = 0xF1;      // carriage return
constexpr unsigned char kEndOfData = 0xF2;   // "-", the start of an armour line
constexpr unsigned char kError = 0xFF;       // anything else

// White space, end of line, carriage return and end of data: characters the
// coders step over or stop at, but never store.  A bad character is not one.
constexpr bool skipped(unsigned char cls) {
  return (cls | 0x13) == 0xF3;
}

constexpr std::array<unsigned char, 256> make_classes() {
  std::array<unsigned char, 256> t{};
  for (auto& c : t) c = kError;
  for (int i = 0; i < 64; i++)
    t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  t['='] = 0;
  t['\t'] = kWhiteSpace;
  t[' '] = kWhiteSpace;
  t['\n'] = kEndOfLine;
  t['\r'] = kReturn;
  t['-'] = kEndOfData;
  return t;
}

constexpr std::array<unsigned char, 256> kClasses = make_classes();
static_assert(kClasses['A'] == 0 && kClasses['/'] == 63 && kClasses[0xC1] == kError);
static_assert(skipped(kWhiteSpace) && skipped(kEndOfData) && !skipped(kError) && !skipped(0));

// The decoder's `length` once the data has ended: after a padded group,
// where blanks, line ends and a "-" may follow but no more data; after a
// "-", where nothing more is read.  A line's decoded length is never below 0.
constexpr int kDataEnded = -1;
constexpr int kDataClosed = -2;

unsigned char class_of(unsigned char c) {
  return kClasses[c];
}

// The encoded length of n bytes (4 characters for every 3 or part of 3).
constexpr size_t encoded_size(size_t n) {
  return (n + 2) / 3 * 4;
}

// The largest input whose encoding, with a newline per line, keeps an int
// count.
constexpr size_t kMaxBlockInput = static_cast<size_t>(INT_MAX) / 4 * 3;

// Whether the VBMI encoder serves: looked up once per call of the API.
bool vbmi() {
#if defined(__x86_64__)
  return morvane::internal::Has(morvane::internal::kVbmi);
#else
  return false;
#endif
}

int encode_block(unsigned char* t, const unsigned char* f, size_t n, bool vbmi) {
#if defined(__x86_64__)
  if (vbmi) {
    const size_t j = morvane::evp::encode_vbmi(t, f, n);
    t[j] = '\0';
    return static_cast<int>(j);
  }
#endif
  unsigned char* const start = t;
  for (; n >= 3; n -= 3, f += 3) {
    const unsigned long v = static_cast<unsigned long>(f[0]) << 16 | f[1] << 8 | f[2];
    *t++ = kAlphabet[(v >> 18) & 0x3f];
    *t++ = kAlphabet[(v >> 12) & 0x3f];
    *t++ = kAlphabet[(v >> 6) & 0x3f];
    *t++ = kAlphabet[v & 0x3f];
  }
  if (n != 0) {  // RFC 4648, 4: a last group of 1 or 2 bytes is padded with "="
    unsigned long v = static_cast<unsigned long>(f[0]) << 16;
    if (n == 2) v |= static_cast<unsigned long>(f[1]) << 8;
    *t++ = kAlphabet[(v >> 18) & 0x3f];
    *t++ = kAlphabet[(v >> 12) & 0x3f];
    *t++ = n == 2 ? kAlphabet[(v >> 6) & 0x3f] : '=';
    *t++ = '=';
  }
  *t = '\0';
  return static_cast<int>(t - start);
}

// Encodes one line of `len` bytes with its newline and a terminating zero;
// the characters written, the zero not counted.
int encode_line(unsigned char* out, const unsigned char* in, int len, bool vbmi) {
  const int j = encode_block(out, in, static_cast<size_t>(len), vbmi);
  out[j] = '\n';
  out[j + 1] = '\0';
  return j + 1;
}

}  // namespace

/* see morvane/evp.h */
void EVP_EncodeInit(EVP_ENCODE_CTX* ctx) {
  if (ctx == nullptr) return;
  ctx->length = 48;
  ctx->num = 0;
  ctx->line_num = 0;
}

/* see morvane/evp.h */
void EVP_EncodeUpdate(EVP_ENCODE_CTX* ctx, unsigned char* out, int* outl, const unsigned char* in,
                      int inl) {
  *outl = 0;
  if (ctx == nullptr || inl <= 0) return;
  MORVANE_assert(ctx->length <= (int)sizeof(ctx->enc_data));
  MORVANE_assert(ctx->length > 0 && ctx->num >= 0 && ctx->num < ctx->length);
  const size_t length = static_cast<size_t>(ctx->length);
  size_t pending = static_cast<size_t>(ctx->num);
  size_t left = static_cast<size_t>(inl);
  if (pending + left < length) {
    memcpy(ctx->enc_data + pending, in, left);
    ctx->num = static_cast<int>(pending + left);
    return;
  }
  // Each full line costs its characters and a newline: refuse what an int
  // count cannot hold.
  const size_t total = (pending + left) / length * (encoded_size(length) + 1);
  if (total > static_cast<size_t>(INT_MAX)) return;
  const bool fast = vbmi();
  size_t written = 0;
  if (pending != 0) {
    const size_t take = length - pending;
    memcpy(ctx->enc_data + pending, in, take);
    in += take;
    left -= take;
    written += static_cast<size_t>(encode_line(out, ctx->enc_data, ctx->length, fast));
  }
#if defined(__x86_64__)
  if (length == 48 && left >= length && fast) {
    const size_t lines = left / length;
    morvane::evp::encode_lines_vbmi(out + written, in, lines);
    written += lines * 65;
    in += lines * length;
    left -= lines * length;
    out[written] = '\0';
  }
#endif
  for (; left >= length; in += length, left -= length)
    written += static_cast<size_t>(encode_line(out + written, in, ctx->length, fast));
  if (left != 0) memcpy(ctx->enc_data, in, left);
  ctx->num = static_cast<int>(left);
  *outl = static_cast<int>(written);
}

/* see morvane/evp.h */
void EVP_EncodeFinal(EVP_ENCODE_CTX* ctx, unsigned char* out, int* outl) {
  *outl = 0;
  if (ctx == nullptr || ctx->num <= 0) return;
  MORVANE_assert(ctx->num < (int)sizeof(ctx->enc_data));
  *outl = encode_line(out, ctx->enc_data, ctx->num, vbmi());
  ctx->num = 0;
}

/* see morvane/evp.h */
int EVP_EncodeBlock(unsigned char* t, const unsigned char* f, int n) {
  if (n <= 0) {
    *t = '\0';
    return 0;
  }
  if (static_cast<size_t>(n) > kMaxBlockInput) return 0;
  return encode_block(t, f, static_cast<size_t>(n), vbmi());
}

/* see morvane/evp.h */
void EVP_DecodeInit(EVP_ENCODE_CTX* ctx) {
  if (ctx == nullptr) return;
  ctx->length = 30;
  ctx->num = 0;
  ctx->line_num = 0;
  ctx->expect_nl = 0;
}

/* see morvane/evp.h */
int EVP_DecodeBlock(unsigned char* t, const unsigned char* f, int n) {
  if (n < 0) {  // a negative multiple of 4 would pass the count check below
    EVPerr(EVP_F_EVP_DECODEBLOCK, EVP_R_INVALID_LENGTH);
    return -1;
  }
  // Leading tab and space, trailing white space, line ends and "-".
  while (n > 0 && class_of(*f) == kWhiteSpace) {
    f++;
    n--;
  }
  while (n > 3 && skipped(class_of(f[n - 1]))) n--;
  if (n % 4 != 0) return -1;
  int ret = 0;
  for (int i = 0; i < n; i += 4) {
    const unsigned char a = class_of(f[i]), b = class_of(f[i + 1]), c = class_of(f[i + 2]),
                        d = class_of(f[i + 3]);
    if ((a | b | c | d) & 0x80) return -1;
    const unsigned long v = static_cast<unsigned long>(a) << 18 |
                            static_cast<unsigned long>(b) << 12 |
                            static_cast<unsigned long>(c) << 6 | d;
    *t++ = static_cast<unsigned char>(v >> 16);
    *t++ = static_cast<unsigned char>(v >> 8);
    *t++ = static_cast<unsigned char>(v);
    ret += 3;
  }
  return ret;
}

namespace {

// Decodes the n stored characters (whole groups) into *out, advancing it
// and adding the bytes to *ret, padding left out; n becomes 0.  The
// padding's count (1 or 2: the stored text ends the data), 0 for none or
// nothing stored, -1 for a group that does not decode.  The padding left
// out is the "=" that end the stored text, wherever they came from: a last
// line of 64 characters may have had its first "=" in an earlier call.  No
// other character follows a "=" in the stored text.
int decode_stored(EVP_ENCODE_CTX* ctx, const unsigned char* d, int* n, unsigned char** out,
                  int* ret) {
  const int k = *n;
  if (k == 0) return 0;
  *n = 0;
  const int pad = (d[k - 1] == '=') + (k >= 2 && d[k - 1] == '=' && d[k - 2] == '=');
  const int got = EVP_DecodeBlock(*out, d, k);
  if (got < 0) return -1;
  *ret += got - pad;
  *out += got;
  ctx->length = got;
  return pad;
}

}  // namespace

/* see morvane/evp.h */
int EVP_DecodeUpdate(EVP_ENCODE_CTX* ctx, unsigned char* out, int* outl, const unsigned char* in,
                     int inl) {
  if (ctx == nullptr) {
    *outl = 0;
    return -1;
  }
  int n = ctx->num;
  int ln = ctx->line_num;
  int exp_nl = ctx->expect_nl;
  int ret = 0;  // bytes written
  // A padded group ended the data (in an earlier call too): only blanks,
  // line ends and a "-" may follow.
  bool ended = ctx->length == kDataEnded;
  bool closed = ctx->length == kDataClosed;  // a "-" ended it: nothing is read
  int rv = ended || closed ? 0 : 1;
  unsigned char* const d = ctx->enc_data;
  MORVANE_assert(n >= 0 && n < (int)sizeof(ctx->enc_data));
  bool after_pad = n > 0 && d[n - 1] == '=';  // only "=" may be stored next

  if (inl <= 0 || closed) {
    rv = 0;
    inl = 0;
  }
  for (int i = 0; i < inl; i++) {
    // Alphabet characters other than "=" that fill no line, keep the line
    // within its bound and are not the input's last are only stored: the
    // common case, taken as a run.
    if (!after_pad && !ended) {
      int room = 63 - n;
      if (79 - ln < room) room = 79 - ln;
      if (inl - 1 - i < room) room = inl - 1 - i;
      int k = 0;
      while (k < room && class_of(in[i + k]) < 64 && in[i + k] != '=') {
        d[n + k] = in[i + k];
        k++;
      }
      if (k > 0) {
        n += k;
        ln += k;
        i += k;
        exp_nl = 0;
      }
    }
    if (ln >= 80) {  // a line too long for the buffer
      rv = -1;
      break;
    }
    const unsigned char tmp = in[i];
    const unsigned char v = class_of(tmp);
    if (v == kError) {  // not base64: the message is corrupt
      rv = -1;
      break;
    }
    if (ended) {
      // After the padded group only line ends and white space may follow,
      // or an armour line: more data would go unread behind the result 0.
      if (v == kEndOfData) {
        closed = true;
        break;
      }
      if (!skipped(v)) {
        rv = -1;
        break;
      }
      continue;
    }
    const bool dash = v == kEndOfData;
    if (!skipped(v) && tmp != '=' && after_pad) {
      // A character after "=" that is no "=" itself: data after the end.
      // The whole padded group before it counts, as it would had a call
      // ended after it.
      if ((n & 3) == 0 && decode_stored(ctx, d, &n, &out, &ret) > 0) ended = true;
      rv = -1;
      break;
    }
    if (dash) {
      // A "-" that starts a line (nothing stored on the line; blanks may
      // come first), or that follows a padded group, ends the data: an
      // armour line.  Elsewhere it is no base64, and after a cut group the
      // text is corrupt.  The whole groups before it count, as they would
      // had a call ended after them (inside a line, only when it stored no
      // cut group: a header word is no data).
      const bool armour = ln == 0 || after_pad;
      const int whole = armour ? n & ~3 : (n & 3) == 0 ? n : 0;
      int k = whole;
      rv = decode_stored(ctx, d, &k, &out, &ret) < 0 || whole != n || !armour ? -1 : 0;
      n -= whole;
      memmove(d, d + whole, static_cast<size_t>(n));
      closed = rv == 0;
      break;
    }
    if (!skipped(v)) {
      MORVANE_assert(n < (int)sizeof(ctx->enc_data));
      d[n++] = tmp;
      ln++;
      after_pad = tmp == '=';
    }
    if (v == kReturn) {
      ln = 0;
      if (exp_nl) continue;
    }
    if (v == kEndOfLine) {
      ln = 0;
      if (exp_nl) {
        exp_nl = 0;
        continue;
      }
    }
    exp_nl = 0;

    // A full line, or whole groups at the end of the input: decode what is
    // stored.  The end of the input with nothing stored (blanks after a
    // full line, an empty line) ends nothing: more may follow.
    const bool at_end = i + 1 == inl;
    if (!((at_end && (n & 3) == 0) || n >= 64)) continue;
    if (!at_end) exp_nl = 1;
    const int got = decode_stored(ctx, d, &n, &out, &ret);
    after_pad = false;
    if (got < 0) {  // stored characters are whole groups of the alphabet
      rv = -1;
      break;
    }
    if (got > 0) {  // a padded group ends the data
      rv = 0;
      ended = true;
    }
  }
  *outl = ret;
  ctx->num = n;
  ctx->line_num = ln;
  ctx->expect_nl = exp_nl;
  if (closed)
    ctx->length = kDataClosed;
  else if (ended)
    ctx->length = kDataEnded;
  return rv;
}

/* see morvane/evp.h */
int EVP_DecodeFinal(EVP_ENCODE_CTX* ctx, unsigned char* out, int* outl) {
  *outl = 0;
  if (ctx == nullptr) return -1;
  if (ctx->num == 0) return 1;
  MORVANE_assert(ctx->num > 0 && ctx->num < (int)sizeof(ctx->enc_data));
  const int got = EVP_DecodeBlock(out, ctx->enc_data, ctx->num);
  if (got < 0) return -1;
  ctx->num = 0;
  *outl = got;
  return 1;
}
