// MIME header lists: the header parser of S/MIME framing, its lookups, and
// the line-end and boundary tests shared with the multipart splitter.
//
// Implementation notes: each line is scanned once by a small state machine
// (a header's name, its type, parameter names and values, quoted text and
// comments); a line that starts with white space continues the latest header
// with more parameters (RFC 5322, 2.2.3 folding).  Texts are cut out of the
// line buffer in place and copied when a record is made.  The records of a
// section are counted as they are made, so a section of very many tiny
// headers is refused before its records outgrow the text.

#include "asn1/mime_hdr.h"

#include <ctype.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "internal/line_read.h"

namespace morvane::asn1 {
namespace {

enum State { kStart, kType, kName, kValue, kQuote, kComment };

bool is_space(char c) {
  return isspace(static_cast<unsigned char>(c)) != 0;
}

// Leading white space and one opening quote, then trailing white space and
// one closing quote, come off.  A text that is empty or blank, or a lone
// opening quote, is null; a pair of quotes around nothing is the empty text.
char* strip_ends(char* text) {
  char* p = text;
  while (*p != '\0' && is_space(*p)) p++;
  if (*p == '\0') return nullptr;
  if (*p == '"' && *++p == '\0') return nullptr;
  char* end = p + strlen(p);
  while (end > p && is_space(end[-1])) end--;
  if (end > p && end[-1] == '"') end--;
  *end = '\0';
  return p;
}

// A copy of `text` (null for null); lower-cased when `lower`.  Sets *failed
// when the copy cannot be made.
char* copy_text(const char* text, bool lower, bool* failed) {
  if (text == nullptr) return nullptr;
  char* copy = BUF_strdup(text);
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  if (lower)
    for (char* p = copy; *p != '\0'; p++)
      if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  return copy;
}

int name_cmp(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  return strcmp(a, b);
}

int mime_hdr_cmp(const char* const* a, const char* const* b) {
  return name_cmp(reinterpret_cast<const MIME_HEADER*>(*a)->name,
                  reinterpret_cast<const MIME_HEADER*>(*b)->name);
}

int mime_param_cmp(const char* const* a, const char* const* b) {
  return name_cmp(reinterpret_cast<const MIME_PARAM*>(*a)->param_name,
                  reinterpret_cast<const MIME_PARAM*>(*b)->param_name);
}

void mime_param_free(void* p) {
  auto* param = static_cast<MIME_PARAM*>(p);
  MORVANE_free(param->param_name);
  MORVANE_free(param->param_value);
  MORVANE_free(param);
}

void mime_hdr_free(void* p) {
  auto* hdr = static_cast<MIME_HEADER*>(p);
  MORVANE_free(hdr->name);
  MORVANE_free(hdr->value);
  sk_pop_free(hdr->params, mime_param_free);
  MORVANE_free(hdr);
}

// Appends a header to the list; the new header, or null when it cannot be
// made (nothing is added then).
MIME_HEADER* add_header(STACK* headers, const char* name, const char* value) {
  auto* hdr = static_cast<MIME_HEADER*>(MORVANE_malloc(sizeof(MIME_HEADER)));
  if (hdr == nullptr) return nullptr;
  bool failed = false;
  hdr->name = copy_text(name, true, &failed);
  hdr->value = copy_text(value, true, &failed);
  hdr->params = sk_new(mime_param_cmp);
  if (failed || hdr->params == nullptr || !sk_push(headers, reinterpret_cast<char*>(hdr))) {
    mime_hdr_free(hdr);
    return nullptr;
  }
  return hdr;
}

void add_param(MIME_HEADER* hdr, const char* name, const char* value) {
  if (hdr == nullptr) return;
  auto* param = static_cast<MIME_PARAM*>(MORVANE_malloc(sizeof(MIME_PARAM)));
  if (param == nullptr) return;
  bool failed = false;
  param->param_name = copy_text(name, true, &failed);
  param->param_value = copy_text(value, false, &failed);
  if (failed || !sk_push(hdr->params, reinterpret_cast<char*>(param))) mime_param_free(param);
}

// The list being read, with the number of records it was asked to hold;
// past kMaxMimeRecords nothing more is added.
struct Section {
  STACK* headers;
  MIME_HEADER* latest = nullptr;
  int records = 0;

  bool full() const { return records > kMaxMimeRecords; }
  void header(const char* name, const char* value) {
    if (++records <= kMaxMimeRecords) latest = add_header(headers, name, value);
  }
  void param(const char* name, const char* value) {
    if (++records <= kMaxMimeRecords) add_param(latest, name, value);
  }
};

}  // namespace

STACK* mime_parse_hdr(BIO* bio, int func) {
  STACK* headers = sk_new(mime_hdr_cmp);
  if (headers == nullptr) return nullptr;
  auto* line = static_cast<char*>(MORVANE_malloc(kMimeHeaderLine));
  if (line == nullptr) {
    ASN1err(func, ERR_R_MALLOC_FAILURE);
    mime_hdrs_free(headers);
    return nullptr;
  }
  Section section{headers};
  int len;
  while ((len = morvane::internal::read_line(bio, line, kMimeHeaderLine, true)) > 0) {
    if (line[0] == '\0' || line[0] == '\r' || line[0] == '\n') break;  // end of the headers
    State state = section.latest != nullptr && is_space(line[0]) ? kName : kStart;
    State saved = kStart;
    char* q = line;  // start of the text being read
    char* name = nullptr;
    char* p = line;
    for (; *p != '\0' && *p != '\r' && *p != '\n'; p++) {
      const char c = *p;
      switch (state) {
        case kStart:
          if (c == ':') {
            *p = '\0';
            name = strip_ends(q);
            q = p + 1;
            state = kType;
          }
          break;
        case kType:
          if (c == ';') {
            *p = '\0';
            section.header(name, strip_ends(q));
            name = nullptr;
            q = p + 1;
            state = kName;
          } else if (c == '(') {
            saved = kType;
            state = kComment;
          }
          break;
        case kName:
          if (c == '=') {
            *p = '\0';
            name = strip_ends(q);
            q = p + 1;
            state = kValue;
          }
          break;
        case kValue:
          if (c == ';') {
            *p = '\0';
            section.param(name, strip_ends(q));
            name = nullptr;
            q = p + 1;
            state = kName;
          } else if (c == '"') {
            state = kQuote;
          } else if (c == '(') {
            saved = kValue;
            state = kComment;
          }
          break;
        case kQuote:
          if (c == '"') state = kValue;
          break;
        case kComment:
          if (c == ')') state = saved;
          break;
      }
    }
    *p = '\0';
    if (state == kType)
      section.header(name, strip_ends(q));
    else if (state == kValue)
      section.param(name, strip_ends(q));
    if (section.full()) break;
  }
  MORVANE_free(line);
  if (len < 0)
    ASN1err(func, len == morvane::internal::kLineTooLong ? ASN1_R_HEADER_TOO_LONG
                                                         : ASN1_R_STREAM_READ_ERROR);
  if (len < 0 || section.full()) {
    mime_hdrs_free(headers);
    return nullptr;
  }
  return headers;
}

void mime_hdrs_free(STACK* headers) {
  sk_pop_free(headers, mime_hdr_free);
}

MIME_HEADER* mime_hdr_find(STACK* headers, const char* name) {
  MIME_HEADER key = {const_cast<char*>(name), nullptr, nullptr};
  const int i = sk_find(headers, reinterpret_cast<char*>(&key));
  return i < 0 ? nullptr : reinterpret_cast<MIME_HEADER*>(sk_value(headers, i));
}

MIME_PARAM* mime_param_find(MIME_HEADER* hdr, const char* name) {
  MIME_PARAM key = {const_cast<char*>(name), nullptr};
  const int i = sk_find(hdr->params, reinterpret_cast<char*>(&key));
  return i < 0 ? nullptr : reinterpret_cast<MIME_PARAM*>(sk_value(hdr->params, i));
}

bool strip_eol(const char* line, int* len) {
  bool lf = false;
  int n = *len;
  for (; n > 0; n--) {
    const char c = line[n - 1];
    if (c == '\n')
      lf = true;
    else if (c != '\r')
      break;
  }
  *len = n;
  return lf;
}

int mime_bound_check(const char* line, int linelen, const char* bound, int blen) {
  if (linelen < 0) linelen = static_cast<int>(strlen(line));
  if (blen < 0) blen = static_cast<int>(strlen(bound));
  if (blen > linelen - 2) return 0;
  if (memcmp(line, "--", 2) != 0 || memcmp(line + 2, bound, blen) != 0) return 0;
  if (linelen - 2 - blen >= 2 && memcmp(line + 2 + blen, "--", 2) == 0) return 2;
  return 1;
}

}  // namespace morvane::asn1
