// Hexadecimal and character dumps of a byte range, one line per row, handed
// to a line sink: a stream, a FILE, or the caller's own function.  A trailing
// run of spaces and NULs is not dumped but summed up in one last line.
//
// Implementation notes: the row width shrinks by one byte for every four
// columns of indentation beyond six, and never below one byte, so that every
// indentation up to the limit of 128 still prints data.

#include <stdio.h>
#include <string.h>

#include <morvane/bio.h>

namespace {

using LineSink = int (*)(const void* data, size_t len, void* u);

constexpr int kMaxIndent = 128;
constexpr char kHex[] = "0123456789abcdef";

// Bytes per row for an indentation of 0 to 128: 16 up to indent 6, one fewer
// for every further four columns, and at least 1.
constexpr int RowWidth(int indent) {
  int width = 16 - (indent - (indent > 6 ? 6 : indent) + 3) / 4;
  return width < 1 ? 1 : width;
}
static_assert(RowWidth(0) == 16 && RowWidth(6) == 16 && RowWidth(7) == 15);
static_assert(RowWidth(10) == 15 && RowWidth(11) == 14 && RowWidth(66) == 1);
static_assert(RowWidth(67) == 1 && RowWidth(kMaxIndent) == 1);

// A line under construction.  The longest one (indent 128, a long offset and
// one byte) is far below the capacity.
struct Line {
  char text[289];
  size_t len = 0;

  void Add(const char* s, size_t n) {
    if (n > sizeof(text) - 1 - len) n = sizeof(text) - 1 - len;
    memcpy(text + len, s, n);
    len += n;
  }
  void Add(const char* s) { Add(s, strlen(s)); }
  void Add(char c) { Add(&c, 1); }
};

int dump(LineSink sink, void* u, const char* s, int len, int indent) {
  if (s == nullptr || len <= 0) return 0;
  const auto* data = reinterpret_cast<const unsigned char*>(s);
  // The trailing run of spaces and NULs is summed up, not dumped.
  size_t total = static_cast<size_t>(len);
  size_t n = total;
  while (n > 0 && (data[n - 1] == ' ' || data[n - 1] == '\0')) n--;

  if (indent < 0) indent = 0;
  if (indent > kMaxIndent) indent = kMaxIndent;
  char spaces[kMaxIndent + 1];
  memset(spaces, ' ', static_cast<size_t>(indent));
  spaces[indent] = '\0';
  const size_t width = static_cast<size_t>(RowWidth(indent));

  int ret = 0;
  char scratch[24];
  for (size_t row = 0; row * width < n; row++) {
    const size_t start = row * width;
    Line line;
    line.Add(spaces, static_cast<size_t>(indent));
    BIO_snprintf(scratch, sizeof(scratch), "%04lx - ", static_cast<unsigned long>(start));
    line.Add(scratch);
    for (size_t j = 0; j < width; j++) {
      if (start + j < n) {
        unsigned char c = data[start + j];
        char hex[3] = {kHex[c >> 4], kHex[c & 15], j == 7 ? '-' : ' '};
        line.Add(hex, 3);
      } else {
        line.Add("   ");  // keeps the character column aligned
      }
    }
    line.Add("  ");
    for (size_t j = 0; j < width && start + j < n; j++) {
      unsigned char c = data[start + j];
      line.Add(c >= 0x20 && c <= 0x7e ? static_cast<char>(c) : '.');
    }
    line.Add('\n');
    ret += sink(line.text, line.len, u);
  }
  if (n < total) {
    Line line;
    line.Add(spaces, static_cast<size_t>(indent));
    BIO_snprintf(scratch, sizeof(scratch), "%04lx - ", static_cast<unsigned long>(total));
    line.Add(scratch);
    line.Add("<SPACES/NULS>\n");
    ret += sink(line.text, line.len, u);
  }
  return ret;
}

// The stream sink adds up bytes written; the FILE sink adds up lines.
int write_bio(const void* data, size_t len, void* bp) {
  return BIO_write(static_cast<BIO*>(bp), data, static_cast<int>(len));
}

int write_fp(const void* data, size_t len, void* fp) {
  return static_cast<int>(fwrite(data, len, 1, static_cast<FILE*>(fp)));
}

}  // namespace

/* see morvane/bio.h */
int BIO_dump_indent_cb(int (*cb)(const void* data, size_t len, void* u), void* u, const char* s,
                       int len, int indent) {
  return dump(cb, u, s, len, indent);
}

int BIO_dump_cb(int (*cb)(const void* data, size_t len, void* u), void* u, const char* s,
                int len) {
  return dump(cb, u, s, len, 0);
}

int BIO_dump(BIO* bp, const char* s, int len) { return dump(write_bio, bp, s, len, 0); }

int BIO_dump_indent(BIO* bp, const char* s, int len, int indent) {
  return dump(write_bio, bp, s, len, indent);
}

int BIO_dump_fp(FILE* fp, const char* s, int len) { return dump(write_fp, fp, s, len, 0); }

int BIO_dump_indent_fp(FILE* fp, const char* s, int len, int indent) {
  return dump(write_fp, fp, s, len, indent);
}
