// Multibyte conversion: text in one of four input forms into the narrowest
// character-string type that a mask permits, and the PrintableString
// classifier.
//
// Implementation notes: every pass over the input is one walk (`traverse`)
// with a per-character action.  Lengths of the result are computed in size_t
// from the character count, which is at most the input length, and refused
// above INT_MAX before anything is allocated or the caller's string touched.

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

namespace {

// Octets of one character in each fixed-width form.
int char_width(int form) {
  switch (form) {
    case ASN1_MB_ASCII:
      return 1;
    case ASN1_MB_BMP:
      return 2;
    case ASN1_MB_UNIV:
      return 4;
    default:
      return 0;  // UTF-8
  }
}

// Walks the len octets at p, character by character in form `inform`,
// calling act(value) for each: a result of 0 or less ends the walk with that
// result.  Returns 1 at the end of the input, -1 on malformed UTF-8.  The
// fixed-width forms must come in whole characters (checked by the caller).
template <typename Act>
int traverse(const unsigned char* p, size_t len, int inform, Act act) {
  const int width = char_width(inform);
  while (len > 0) {
    unsigned long value;
    size_t used;
    if (width == 0) {
      const int n = UTF8_getc(p, len > INT_MAX ? INT_MAX : static_cast<int>(len), &value);
      if (n <= 0) return -1;
      used = static_cast<size_t>(n);
    } else {
      value = 0;
      for (int i = 0; i < width; i++) value = (value << 8) | p[i];
      used = static_cast<size_t>(width);
    }
    p += used;
    len -= used;
    const int r = act(value);
    if (r <= 0) return r;
  }
  return 1;
}

// X.680, 41.4: the characters of PrintableString.
bool is_printable(unsigned long c) {
  if (c > 127) return false;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != 0 && strchr(" '()+,-./:=?", static_cast<int>(c)) != nullptr;
}

// The mask bits a character can clear; once none is left the rest of the
// walk would change nothing.  Only a Universal input can hold a value above
// 0x7FFFFFFF, which clears every bit but UniversalString's.
constexpr unsigned long kNarrowable =
    ASN1_MASK_PRINTABLESTRING | ASN1_MASK_IA5STRING | ASN1_MASK_T61STRING | ASN1_MASK_BMPSTRING;

unsigned long narrowable(unsigned long mask, int inform) {
  return inform == ASN1_MB_UNIV ? mask & ~ASN1_MASK_UNIVERSALSTRING : mask & kNarrowable;
}

// Clears from `mask` the types that cannot hold character c.  UTF-8 (and so
// the UTF8String that stands in for other types) ends at 0x7FFFFFFF.
unsigned long narrow(unsigned long mask, unsigned long c) {
  if (!is_printable(c)) mask &= ~ASN1_MASK_PRINTABLESTRING;
  if (c > 0x7F) mask &= ~ASN1_MASK_IA5STRING;
  if (c > 0xFF) mask &= ~ASN1_MASK_T61STRING;
  if (c > 0xFFFF) mask &= ~ASN1_MASK_BMPSTRING;
  if (c > 0x7FFFFFFF) mask &= ASN1_MASK_UNIVERSALSTRING;
  return mask;
}

struct Choice {
  int type;  // type code
  int form;  // its octet form
};

Choice choose(unsigned long mask) {
  if (mask & ASN1_MASK_PRINTABLESTRING) return {ASN1_UT_PRINTABLESTRING, ASN1_MB_ASCII};
  if (mask & ASN1_MASK_IA5STRING) return {ASN1_UT_IA5STRING, ASN1_MB_ASCII};
  if (mask & ASN1_MASK_T61STRING) return {ASN1_UT_T61STRING, ASN1_MB_ASCII};
  if (mask & ASN1_MASK_BMPSTRING) return {ASN1_UT_BMPSTRING, ASN1_MB_BMP};
  if (mask & ASN1_MASK_UNIVERSALSTRING) return {ASN1_UT_UNIVERSALSTRING, ASN1_MB_UNIV};
  return {ASN1_UT_UTF8STRING, ASN1_MB_UTF8};
}

void size_error(int reason, const char* what, long limit) {
  ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, reason);
  char num[24];
  snprintf(num, sizeof num, "%ld", limit);
  ERR_add_error_data(2, what, num);
}

}  // namespace

/* see morvane/asn1.h */
int ASN1_mbstring_copy(ASN1_STRING** out, const unsigned char* in, int len, int inform,
                       unsigned long mask) {
  return ASN1_mbstring_ncopy(out, in, len, inform, mask, 0, 0);
}

/* see morvane/asn1.h */
int ASN1_mbstring_ncopy(ASN1_STRING** out, const unsigned char* in, int len, int inform,
                        unsigned long mask, long minsize, long maxsize) {
  if (len == -1 && in != nullptr) {
    const size_t n = strlen(reinterpret_cast<const char*>(in));
    if (n > INT_MAX) {
      ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ASN1_R_STRING_TOO_LONG);
      return -1;
    }
    len = static_cast<int>(n);
  }
  if (len < 0 || (in == nullptr && len != 0)) {
    ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ASN1_R_LENGTH_ERROR);
    return -1;
  }
  if (mask == 0) mask = ASN1_MASK_DIRECTORYSTRING;
  const size_t inlen = static_cast<size_t>(len);

  // Count the characters.
  size_t nchar = 0;
  switch (inform) {
    case ASN1_MB_ASCII:
      nchar = inlen;
      break;
    case ASN1_MB_BMP:
    case ASN1_MB_UNIV: {
      const size_t width = static_cast<size_t>(char_width(inform));
      if (inlen % width != 0) {
        ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, inform == ASN1_MB_BMP
                                                ? ASN1_R_INVALID_BMPSTRING_LENGTH
                                                : ASN1_R_INVALID_UNIVERSALSTRING_LENGTH);
        return -1;
      }
      nchar = inlen / width;
      break;
    }
    case ASN1_MB_UTF8:
      if (traverse(in, inlen, inform, [&](unsigned long) { return ++nchar, 1; }) < 0) {
        ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ASN1_R_INVALID_UTF8STRING);
        return -1;
      }
      break;
    default:
      ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ASN1_R_UNKNOWN_FORMAT);
      return -1;
  }
  if (minsize > 0 && nchar < static_cast<size_t>(minsize)) {
    size_error(ASN1_R_STRING_TOO_SHORT, "minsize=", minsize);
    return -1;
  }
  if (maxsize > 0 && nchar > static_cast<size_t>(maxsize)) {
    size_error(ASN1_R_STRING_TOO_LONG, "maxsize=", maxsize);
    return -1;
  }

  // Keep the types that hold every character.
  if (narrowable(mask, inform)) {
    traverse(in, inlen, inform, [&](unsigned long c) {
      mask = narrow(mask, c);
      return narrowable(mask, inform) ? 1 : 0;
    });
  }
  if (mask == 0) {
    ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ASN1_R_ILLEGAL_CHARACTERS);
    return -1;
  }
  const Choice choice = choose(mask);
  if (out == nullptr) return choice.type;

  // Octets of the result.
  size_t outlen;
  if (choice.form == inform) {
    outlen = inlen;
  } else if (choice.form == ASN1_MB_UTF8) {
    outlen = 0;
    traverse(in, inlen, inform, [&](unsigned long c) {
      outlen += static_cast<size_t>(UTF8_putc(nullptr, 0, c));
      return 1;
    });
  } else {
    outlen = nchar * static_cast<size_t>(char_width(choice.form));
  }
  if (outlen >= INT_MAX) {  // the terminator must fit too
    ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ASN1_R_STRING_TOO_LONG);
    return -1;
  }

  ASN1_STRING* dest = *out;
  const bool made = dest == nullptr;
  if (made) {
    dest = ASN1_STRING_type_new(choice.type);
    if (dest == nullptr) {
      ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ERR_R_MALLOC_FAILURE);
      return -1;
    }
    *out = dest;
  } else {
    MORVANE_free(dest->data);
    dest->data = nullptr;
    dest->length = 0;
    dest->type = choice.type;
  }

  unsigned char* buf = nullptr;
  if (choice.form == inform) {
    const unsigned char* src = in != nullptr ? in : reinterpret_cast<const unsigned char*>("");
    if (!ASN1_STRING_set(dest, src, len)) goto fail;
    return choice.type;
  }
  buf = static_cast<unsigned char*>(MORVANE_malloc(outlen + 1));
  if (buf == nullptr) goto fail;
  dest->length = static_cast<int>(outlen);
  dest->data = buf;
  buf[outlen] = 0;
  traverse(in, inlen, inform, [&](unsigned long c) {
    switch (choice.form) {
      case ASN1_MB_ASCII:
        *buf++ = static_cast<unsigned char>(c);
        break;
      case ASN1_MB_BMP:
        *buf++ = static_cast<unsigned char>(c >> 8);
        *buf++ = static_cast<unsigned char>(c);
        break;
      case ASN1_MB_UNIV:
        *buf++ = static_cast<unsigned char>(c >> 24);
        *buf++ = static_cast<unsigned char>(c >> 16);
        *buf++ = static_cast<unsigned char>(c >> 8);
        *buf++ = static_cast<unsigned char>(c);
        break;
      default:
        buf += UTF8_putc(buf, 6, c);
        break;
    }
    return 1;
  });
  return choice.type;

fail:
  ASN1err(ASN1_F_ASN1_MBSTRING_NCOPY, ERR_R_MALLOC_FAILURE);
  if (made) {
    ASN1_STRING_free(dest);
    *out = nullptr;
  }
  return -1;
}

/* see morvane/asn1.h */
int ASN1_PRINTABLE_type(const unsigned char* s, int len) {
  if (s == nullptr) return ASN1_UT_PRINTABLESTRING;
  bool ia5 = false;
  for (size_t i = 0; (len <= 0 || i < static_cast<size_t>(len)) && s[i] != 0; i++) {
    if (s[i] & 0x80) return ASN1_UT_T61STRING;
    if (!is_printable(s[i])) ia5 = true;
  }
  return ia5 ? ASN1_UT_IA5STRING : ASN1_UT_PRINTABLESTRING;
}

/* see morvane/asn1.h */
int ASN1_UNIVERSALSTRING_to_string(ASN1_UNIVERSALSTRING* s) {
  if (s->type != ASN1_UT_UNIVERSALSTRING || s->length % 4 != 0) return 0;
  const unsigned char* p = s->data;
  for (int i = 0; i < s->length; i += 4) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 0) return 0;
  }
  const int n = s->length / 4;
  for (int i = 0; i < n; i++) s->data[i] = s->data[4 * i + 3];
  if (n > 0) s->data[n] = 0;
  s->length = n;
  s->type = n == 0 ? ASN1_UT_PRINTABLESTRING : ASN1_PRINTABLE_type(s->data, n);
  return 1;
}
