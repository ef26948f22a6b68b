// MIME header parsing for S/MIME framing (RFC 2045, RFC 5751): header lists
// with their parameters, the line-end and boundary tests that the framing
// shares.  Also the seam of the header tests, which build mime_hdr.cc into
// their own program; nothing here is part of the library's interface.
#ifndef MORVANE_CRYPTO_ASN1_MIME_HDR_H
#define MORVANE_CRYPTO_ASN1_MIME_HDR_H

#include <morvane/types.h>

namespace morvane::asn1 {

// One parameter of a header: the name lower-cased, the value in its case as
// read; either may be null.
struct MIME_PARAM {
  char* param_name;
  char* param_value;
};

// One header: name and value lower-cased (either may be null) and a STACK of
// MIME_PARAM sorted by name.
struct MIME_HEADER {
  char* name;
  char* value;
  STACK* params;
};

// Lines are read in pieces of at most this many bytes, and a terminating zero.
constexpr int kMimeLine = 1024;

// A header line, joined from its pieces, holds at most this many bytes
// with a terminating zero: 65,535 without its line end (LF or CR LF).
constexpr int kMimeHeaderLine = 65536;

// The most headers and parameters, together, that one header section may
// hold: each costs a few small blocks, far more than the few bytes of text
// that make one, so a section of more is refused as it is read.
constexpr int kMaxMimeRecords = 10000;

// Reads whole header lines from `bio` (pieces joined up to a line feed) up
// to a line that starts with CR or LF (the blank line that ends the headers,
// which is consumed) or the end of input; a line that does not fit in
// kMimeHeaderLine fails the list ("header too long" under `func`).
// Returns a STACK of MIME_HEADER sorted by name, or null when the list
// itself cannot be allocated, the section holds more than kMaxMimeRecords
// headers and parameters (reading stops at the line that passes the bound)
// or a read of the stream fails ("stream read error" queued under `func`:
// a failed read is no end of the headers); a header or parameter that
// cannot be allocated is left out.
STACK* mime_parse_hdr(BIO* bio, int func);
// Frees a list from mime_parse_hdr; null is ignored.
void mime_hdrs_free(STACK* headers);
// The header or parameter of that exact (lower-case) name, or null.
MIME_HEADER* mime_hdr_find(STACK* headers, const char* name);
MIME_PARAM* mime_param_find(MIME_HEADER* hdr, const char* name);

// Removes the CR and LF characters that end the `*len` bytes at `line`
// (updating *len); true when an LF was among them.
bool strip_eol(const char* line, int* len);
// Whether `line` (linelen bytes) is a delimiter of the multipart body with
// boundary `bound`: 0 no, 1 a part delimiter ("--" bound), 2 the closing one
// ("--" bound "--").
int mime_bound_check(const char* line, int linelen, const char* bound, int blen);

}  // namespace morvane::asn1

#endif  // MORVANE_CRYPTO_ASN1_MIME_HDR_H
