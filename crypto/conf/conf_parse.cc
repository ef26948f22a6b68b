// The configuration text parser: logical lines (continuations joined,
// comments removed), section headers, name = value lines, and the value copy
// that resolves quotes, escapes and variable references.
//
// Implementation notes: a physical line may arrive in several read pieces;
// its end (CR LF stripping, the continuation escape) is only looked at once
// its newline or the end of input has arrived, so where a piece ends never
// changes what a line means.  Every scan moves forward, so a line costs time
// linear in its length plus what expansion adds; a header whose name stops
// on a byte it cannot pass fails instead of scanning again from the same
// place.  Expansion is bounded: one value may not grow past
// CONF_MAX_VALUE_LENGTH, nor one load add more than kExpansionBudget bytes.
// A redefined name leaves a gap in its section's list instead of being
// searched for there; the gaps are closed in one pass before the load
// returns (and earlier when they outnumber the records), so the lists come
// out as if each old record had been removed at once.  Only the end of the
// input ends a load: a failed read or a NUL byte fails it.  A read that asks
// to retry is the end when the stream is at its end (an empty memory stream
// behind a buffering filter says so); a source that is not, and still has
// nothing after a bounded number of retries in a row, fails the load as a
// failed read does (internal/stream_read.h), so that a load never ends
// early with sections missing.

#include <limits.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>

#include "conf/internal.h"
#include "internal/stream_read.h"

namespace morvane::conf {
namespace {

// Lines are read in pieces of at most kPiece - 2 bytes (BIO_gets with a size
// of kPiece - 1 leaves room for its NUL).
constexpr int kPiece = 512;

// The most that variable expansion may add over one load.
constexpr size_t kExpansionBudget = size_t{16} << 20;

// Byte classification under one method's table.
class Classes {
 public:
  explicit Classes(const CONF* conf) : conf_(conf) {}
  bool is(char c, unsigned short mask) const { return (classes_of(conf_, c) & mask) != 0; }
  bool eof(char c) const { return is(c, kEof); }
  bool white(char c) const { return is(c, kWhite); }
  bool escape(char c) const { return is(c, kEscape); }

  char* skip_white(char* p) const {
    while (white(*p) && !eof(*p)) p++;
    return p;
  }
  // An escape and the byte it escapes (only the escape before the end).
  char* skip_escape(char* p) const { return eof(p[1]) ? p + 1 : p + 2; }
  // A run of name characters; escaped bytes belong to the run.
  char* skip_name(char* p) const {
    for (;;) {
      if (escape(*p))
        p = skip_escape(p);
      else if (is(*p, kNameChars))
        p++;
      else
        return p;
    }
  }
  // A quoted run from its opening quote q to after its closing q (or to the
  // end of text), handing each byte of its content to `emit`.  In a quote
  // run an escape makes the next byte content (the quote too); in a
  // doubling-quote run there are no escapes and qq stands for one q.
  template <typename Emit>
  char* quoted_run(char* p, Emit emit) const {
    const char q = *p++;
    const bool doubling = is(q, kDoublingQuote);
    while (!eof(*p)) {
      if (*p == q) {
        if (!doubling || p[1] != q) break;
        p++;
      } else if (!doubling && escape(*p) && eof(*++p)) {
        break;
      }
      emit(*p++);
    }
    return *p == q ? p + 1 : p;
  }

 private:
  const CONF* conf_;
};

// Ends the line at its comment, if any.
void clear_comments(const Classes& k, char* p) {
  for (;; p++) {
    if (k.is(*p, kFirstComment)) {
      *p = '\0';
      return;
    }
    if (!k.white(*p)) break;
  }
  for (;;) {
    if (k.is(*p, kComment)) {
      *p = '\0';
      return;
    }
    if (k.is(*p, kQuote | kDoublingQuote))
      p = k.quoted_run(p, [](char) {});
    else if (k.escape(*p))
      p = k.skip_escape(p);
    else if (k.eof(*p))
      return;
    else
      p++;
  }
}

// The translation of an escaped byte in a value.
char unescape(char c) {
  switch (c) {
    case 'r':
      return '\r';
    case 'n':
      return '\n';
    case 'b':
      return '\b';
    case 't':
      return '\t';
    default:
      return c;
  }
}

class Parser {
 public:
  Parser(CONF* conf, BIO* in) : conf_(conf), in_(in), k_(conf) {}
  ~Parser() {
    BUF_MEM_free(line_);
    MORVANE_free(section_);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Reads the whole input; false after queuing the error.
  bool run();
  long line_number() const { return eline_; }
  // Removes the gaps that redefinitions left in the section lists.
  void close_gaps() {
    if (gaps_ != 0) morvane::conf::close_gaps(conf_);
    gaps_ = 0;
  }

 private:
  bool process_line(char* s);
  bool section_header(char* s);
  bool assignment(char* s);
  CONF_VALUE* find_or_create_section(const char* name);
  bool copy_value(const char* section, char** pto, char* from);
  bool expand(BUF_MEM* buf, size_t* to, const char* section, char** from, const char* end);

  CONF* conf_;
  BIO* in_;
  Classes k_;
  BUF_MEM* line_ = nullptr;
  char* section_ = nullptr;   // the current section's name
  CONF_VALUE* sv_ = nullptr;  // the current section's record
  long eline_ = 0;
  size_t budget_ = kExpansionBudget;
  size_t gaps_ = 0;  // records replaced during this load, left in their lists
};

bool Parser::run() {
  line_ = BUF_MEM_new();
  if (line_ == nullptr) {
    CONFerr(CONF_F_DEF_LOAD_BIO, ERR_R_BUF_LIB);
    return false;
  }
  section_ = MORVANE_strdup("default");
  if (section_ == nullptr || !_CONF_new_data(conf_)) {
    CONFerr(CONF_F_DEF_LOAD_BIO, ERR_R_MALLOC_FAILURE);
    return false;
  }
  sv_ = find_or_create_section(section_);
  if (sv_ == nullptr) return false;

  // The logical line collects at the start of the buffer: `len` bytes so
  // far, of which the current physical line began at `start`.
  size_t len = 0;
  size_t start = 0;
  bool again = false;  // a logical line is in progress
  for (;;) {
    if (len > static_cast<size_t>(INT_MAX - kPiece) ||
        !BUF_MEM_grow(line_, static_cast<int>(len) + kPiece)) {
      CONFerr(CONF_F_DEF_LOAD_BIO, ERR_R_BUF_LIB);
      return false;
    }
    char* p = line_->data + len;
    p[0] = '\0';
    const int got = morvane::internal::gets_or_fail(in_, p, kPiece - 1);
    p[kPiece - 1] = '\0';
    const size_t n = strlen(p);
    // A failed read is no end of input, and a NUL would silently cut its
    // line: both fail the load, naming the line being read.
    if (got < 0 || n < static_cast<size_t>(got < kPiece - 1 ? got : kPiece - 1)) {
      eline_++;
      CONFerr(CONF_F_DEF_LOAD_BIO, got < 0 ? CONF_R_READ_ERROR : CONF_R_NUL_BYTE);
      return false;
    }
    if (n == 0 && !again) return true;  // end of input
    len += n;
    if (n > 0 && p[n - 1] != '\n') {
      // A piece of a long line, or a last line without newline: the rest
      // of the physical line follows (or the end of input ends it).
      again = true;
      continue;
    }
    // The physical line ends here, at its newline or at the end of input.
    again = false;
    eline_++;
    char* d = line_->data;
    while (len > start && (d[len - 1] == '\r' || d[len - 1] == '\n')) len--;
    d[len] = '\0';
    // A trailing escape, itself not escaped, joins the next line: the line
    // break goes, the next line's leading white space stays.  Escapes pair
    // off from the left, so an odd run at the end leaves one unpaired.  The
    // run is counted within this physical line only: what an earlier join
    // left ends in an even run, so the parity is the same, and a line of
    // escapes costs no rescan of the lines it joined.
    size_t run = 0;
    while (len - run > start && k_.escape(d[len - run - 1])) run++;
    if (run % 2 == 1) {
      d[--len] = '\0';
      if (n > 0) {
        again = true;
        start = len;
        continue;
      }
    }
    len = start = 0;
    if (!process_line(d)) return false;
  }
}

bool Parser::process_line(char* s) {
  clear_comments(k_, s);
  s = k_.skip_white(s);
  if (k_.eof(*s)) return true;  // blank
  if (*s == '[') return section_header(s + 1);
  return assignment(s);
}

bool Parser::section_header(char* s) {
  char* start = k_.skip_white(s);
  char* from = start;
  char* end;
  for (;;) {
    end = k_.skip_name(from);
    char* p = k_.skip_white(end);
    if (*p == ']') break;
    // The end of the line, or a byte that is neither part of a name, white
    // space nor the closing bracket.
    if (k_.eof(*p) || p == from) {
      CONFerr(CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_CLOSE_SQUARE_BRACKET);
      return false;
    }
    from = p;
  }
  *end = '\0';
  if (!copy_value(nullptr, &section_, start)) return false;
  sv_ = find_or_create_section(section_);
  return sv_ != nullptr;
}

bool Parser::assignment(char* s) {
  char* name = s;
  const char* psection = nullptr;
  char* end = k_.skip_name(s);
  if (end[0] == ':' && end[1] == ':') {
    *end = '\0';
    psection = name;
    name = end + 2;
    end = k_.skip_name(name);
  }
  char* p = k_.skip_white(end);
  if (*p != '=') {
    CONFerr(CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_EQUAL_SIGN);
    return false;
  }
  *end = '\0';
  char* start = k_.skip_white(p + 1);
  char* stop = start + strlen(start);
  while (stop > start && k_.white(stop[-1])) stop--;
  *stop = '\0';

  auto* v = static_cast<CONF_VALUE*>(MORVANE_malloc(sizeof(CONF_VALUE)));
  if (v == nullptr) {
    CONFerr(CONF_F_DEF_LOAD_BIO, ERR_R_MALLOC_FAILURE);
    return false;
  }
  v->section = nullptr;
  v->value = nullptr;
  v->name = MORVANE_strdup(name);
  auto discard = [v] {
    MORVANE_free(v->name);
    MORVANE_free(v->value);
    MORVANE_free(v);
  };
  if (v->name == nullptr) {
    CONFerr(CONF_F_DEF_LOAD_BIO, ERR_R_MALLOC_FAILURE);
    discard();
    return false;
  }
  if (psection == nullptr) psection = section_;
  if (!copy_value(psection, &v->value, start)) {
    discard();
    return false;
  }
  CONF_VALUE* target = sv_;
  if (strcmp(psection, section_) != 0) {
    target = find_or_create_section(psection);
    if (target == nullptr) {
      discard();
      return false;
    }
  }
  if (!add_string_leaving_gap(conf_, target, v, &gaps_)) {
    CONFerr(CONF_F_DEF_LOAD_BIO, ERR_R_MALLOC_FAILURE);
    discard();
    return false;
  }
  // Gaps are closed once they outnumber the records, so that closing costs
  // O(1) per redefinition and they never take more room than the records.
  if (gaps_ > conf_->data->num_items) close_gaps();
  return true;
}

CONF_VALUE* Parser::find_or_create_section(const char* name) {
  CONF_VALUE* v = _CONF_get_section(conf_, name);
  if (v == nullptr) v = _CONF_new_section(conf_, name);
  if (v == nullptr) CONFerr(CONF_F_DEF_LOAD_BIO, CONF_R_UNABLE_TO_CREATE_NEW_SECTION);
  return v;
}

// Copies the text at `from` into a new string, resolving quotes, escapes and
// variable references (looked up in `section`, then as _CONF_get_string
// falls back); on success replaces *pto, freeing the old string.  `from` is
// written to while a variable name is looked up, and restored.
bool Parser::copy_value(const char* section, char** pto, char* from) {
  BUF_MEM* buf = BUF_MEM_new();
  if (buf == nullptr) return false;  // the buffer layer queued its error
  const char* const end = from + strlen(from);
  // Invariant: the buffer holds room for what is copied (`to` bytes), the
  // rest of the source and a NUL, since every other step copies at most one
  // byte per source byte it consumes.
  if (end - from >= INT_MAX || !BUF_MEM_grow(buf, static_cast<int>(end - from) + 1)) {
    BUF_MEM_free(buf);
    return false;
  }
  size_t to = 0;
  for (;;) {
    const char c = *from;
    if (k_.is(c, kQuote | kDoublingQuote)) {
      from = k_.quoted_run(from, [&](char b) { buf->data[to++] = b; });
    } else if (k_.escape(c)) {
      const char v = from[1];
      if (k_.eof(v)) break;
      buf->data[to++] = unescape(v);
      from += 2;
    } else if (k_.eof(c)) {
      break;
    } else if (c == '$') {
      if (!expand(buf, &to, section, &from, end)) {
        BUF_MEM_free(buf);
        return false;
      }
    } else {
      buf->data[to++] = *from++;
    }
  }
  buf->data[to] = '\0';
  MORVANE_free(*pto);
  *pto = buf->data;
  MORVANE_free(buf);
  return true;
}

// Expands the reference at *from ("$name", "${name}", "$(name)", with an
// optional "section::" before the name), appending its value at *to and
// moving *from past the reference.
bool Parser::expand(BUF_MEM* buf, size_t* to, const char* section, char** from,
                    const char* end) {
  char* s = *from + 1;
  char closer = 0;
  if (*s == '{')
    closer = '}';
  else if (*s == '(')
    closer = ')';
  if (closer != 0) s++;

  const char* sect = section;
  char* name = s;
  char* e = s;
  while (k_.is(*e, kVarNameChars)) e++;
  char* sect_end = nullptr;
  if (e[0] == ':' && e[1] == ':') {
    sect = name;
    sect_end = e;
    name = e + 2;
    e = name;
    while (k_.is(*e, kVarNameChars)) e++;
  }
  const char after = *e;
  if (closer != 0 && after != closer) {
    CONFerr(CONF_F_STR_COPY, CONF_R_NO_CLOSE_BRACE);
    return false;
  }
  // Terminate the names in place for the lookup, then restore the bytes.
  if (sect_end != nullptr) *sect_end = '\0';
  *e = '\0';
  const char* value = _CONF_get_string(conf_, sect, name);
  *e = after;
  if (sect_end != nullptr) *sect_end = ':';
  if (closer != 0) e++;
  if (value == nullptr) {
    CONFerr(CONF_F_STR_COPY, CONF_R_VARIABLE_HAS_NO_VALUE);
    return false;
  }

  const size_t n = strlen(value);
  if (n > CONF_MAX_VALUE_LENGTH || *to + n > CONF_MAX_VALUE_LENGTH || n > budget_) {
    // Chained references can double a value at each line: refuse to build
    // values past the bound rather than exhaust memory.
    CONFerr(CONF_F_STR_COPY, CONF_R_VARIABLE_HAS_NO_VALUE);
    return false;
  }
  budget_ -= n;
  const size_t need = *to + n + static_cast<size_t>(end - e) + 1;
  if (need > static_cast<size_t>(buf->length)) {
    if (need > INT_MAX || !BUF_MEM_grow_clean(buf, static_cast<int>(need))) return false;
  }
  memcpy(buf->data + *to, value, n);
  *to += n;
  *from = e;
  return true;
}

}  // namespace

int load_bio(CONF* conf, BIO* in, long* eline) {
  const bool had_table = conf->data != nullptr;
  Parser parser(conf, in);
  const bool ok = parser.run();
  parser.close_gaps();
  if (ok) return 1;
  const long line = parser.line_number();
  if (eline != nullptr) *eline = line;
  char text[24];
  BIO_snprintf(text, sizeof(text), "%ld", line);
  ERR_add_error_data(2, "line ", text);
  if (!had_table) _CONF_free_data(conf);
  return 0;
}

}  // namespace morvane::conf
