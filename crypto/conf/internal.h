// Shared inside the configuration component: the character classes that
// drive the parser, and the parser itself (conf_parse.cc), which both
// methods of conf_def.cc use as their load_bio operation.
#ifndef MORVANE_CRYPTO_CONF_INTERNAL_H
#define MORVANE_CRYPTO_CONF_INTERNAL_H

#include <stddef.h>

#include <morvane/conf.h>

namespace morvane::conf {

// Bits of a class word; a method's table holds one word per byte value.
enum : unsigned short {
  kDigit = 0x0001,
  kUpper = 0x0002,
  kLower = 0x0004,
  kEof = 0x0008,  // end of text: only the NUL byte
  kWhite = 0x0010,
  kEscape = 0x0020,
  kQuote = 0x0040,
  kComment = 0x0080,
  kUnderscore = 0x0100,
  kPunct = 0x0200,
  kDoublingQuote = 0x0400,  // a quote that stands for itself when doubled
  kFirstComment = 0x0800,   // a comment only as the first non-blank byte
  kHighByte = 0x1000,       // assigned to 0x80-0xFF; no rule tests it
};

// Characters of names and keys, and the narrower set of variable names.
inline constexpr unsigned short kNameChars = kDigit | kUpper | kLower | kUnderscore | kPunct;
inline constexpr unsigned short kVarNameChars = kDigit | kUpper | kLower | kUnderscore;

// The class word of byte `c` under the method of `conf`.
inline unsigned short classes_of(const CONF* conf, char c) {
  return static_cast<const unsigned short*>(conf->meth_data)[static_cast<unsigned char>(c)];
}

// Stores `value` in `section` as _CONF_add_string does, except that a record
// it replaces is not searched for in the section's list: its name and value
// are freed and it stays there as a gap (all fields null), counted in *gaps,
// so that a redefinition costs O(1).  close_gaps removes every gap, keeping
// the order of the other records; no list with gaps may be handed out.
int add_string_leaving_gap(CONF* conf, CONF_VALUE* section, CONF_VALUE* value, size_t* gaps);
void close_gaps(CONF* conf);

// The load_bio operation of both methods: parses the text read from `in`
// into conf's table.  1 on success; 0 with a CONF error and the data
// "line N" queued, N stored in *eline when eline is not null.
int load_bio(CONF* conf, BIO* in, long* eline);

}  // namespace morvane::conf

#endif  // MORVANE_CRYPTO_CONF_INTERNAL_H
