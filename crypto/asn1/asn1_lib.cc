// Identifier-and-length headers (X.690, 8.1.2 and 8.1.3), the string value
// ASN1_STRING, and the parse context of the legacy decoders.
//
// Implementation notes: the header reader counts the octets still available
// from the first identifier octet and refuses to look past them, also when
// the caller passes a negative count.  ASN1_STRING_set cannot know the size of
// a buffer handed over by ASN1_STRING_set0 (exactly `length` octets), so it
// reallocates whenever the new contents and their zero octet would not fit in
// `length` octets.

#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

static_assert(offsetof(ASN1_STRING, type) == 4 && offsetof(ASN1_STRING, data) == 8 &&
              offsetof(ASN1_STRING, flags) == 16 && sizeof(ASN1_STRING) == 24);
static_assert(offsetof(ASN1_OBJECT, nid) == 16 && offsetof(ASN1_OBJECT, data) == 24 &&
              offsetof(ASN1_OBJECT, flags) == 32 && sizeof(ASN1_OBJECT) == 40);
static_assert(offsetof(ASN1_CTX, slen) == 32 && offsetof(ASN1_CTX, pp) == 56 &&
              sizeof(ASN1_CTX) == sizeof(ASN1_const_CTX));

const char ASN1_version[] = "ASN.1 part of " MORVANE_VERSION_TEXT;

namespace {

constexpr long kMaxLength = 0x7FFFFFFF;  // longest content the reader accepts
constexpr long kMaxTagSoFar = 0xFFFFFF;  // tag bound before the last octet

// Reads the length octets at *pp with `max` octets available (X.690, 8.1.3).
// Returns false on a malformed or truncated length; *inf is set for the
// indefinite form, whose length reads as 0.
bool get_length(const unsigned char** pp, bool* inf, long* rl, long max) {
  const unsigned char* p = *pp;
  if (max-- < 1) return false;
  long ret = 0;
  if (*p == 0x80) {
    *inf = true;
    p++;
  } else {
    *inf = false;
    long n = *p & 0x7F;
    if (*p++ & 0x80) {
      if (n > 4 || max < n) return false;  // at most 4 long-form octets
      while (n-- > 0) ret = (ret << 8) | *p++;
      if (ret > kMaxLength) return false;
    } else {
      ret = n;
    }
  }
  *pp = p;
  *rl = ret;
  return true;
}

// Number of base-128 groups of a tag of 31 or more.
int tag_groups(int tag) {
  int n = 0;
  for (unsigned int t = static_cast<unsigned int>(tag); t > 0; t >>= 7) n++;
  return n;
}

void put_length(unsigned char** pp, int length) {
  unsigned char* p = *pp;
  if (length <= 127) {
    *p++ = static_cast<unsigned char>(length);
  } else {
    int n = 0;
    for (int l = length; l > 0; l >>= 8) n++;
    *p++ = static_cast<unsigned char>(0x80 | n);
    for (int i = n; i > 0; i--) {
      p[i - 1] = static_cast<unsigned char>(length & 0xFF);
      length >>= 8;
    }
    p += n;
  }
  *pp = p;
}

template <typename Ptr>
int check_infinite_end(Ptr* p, long len) {
  if (len <= 0) return 1;
  if (len >= 2 && (*p)[0] == 0 && (*p)[1] == 0) {
    *p += 2;
    return 1;
  }
  return 0;
}

template <typename Ctx>
int finish(Ctx* c) {
  if (c->inf == (ASN1_HDR_CONSTRUCTED | ASN1_HDR_INDEFINITE) && !c->eos) {
    if (!check_infinite_end(&c->p, c->slen)) {
      c->error = ERR_R_MISSING_ASN1_EOS;
      return 0;
    }
  }
  if ((c->slen != 0 && !(c->inf & ASN1_HDR_INDEFINITE)) ||
      (c->slen < 0 && (c->inf & ASN1_HDR_INDEFINITE))) {
    c->error = ERR_R_ASN1_LENGTH_MISMATCH;
    return 0;
  }
  return 1;
}

}  // namespace

/* see morvane/asn1.h */
int ASN1_get_object(const unsigned char** pp, long* plength, int* ptag, int* pclass, long omax) {
  const unsigned char* p = *pp;
  long max = omax;
  long tag = 0;
  if (max <= 0) goto err;
  {
    const int ret = *p & ASN1_CONSTRUCTED;
    const int xclass = *p & ASN1_CLASS_PRIVATE;
    if ((*p & 0x1F) == 0x1F) {  // high tag number form (X.690, 8.1.2.4)
      p++;
      if (--max == 0) goto err;
      // The number in the fewest octets (8.1.2.4.2 c), and only a number
      // above 30 in this form (8.1.2.2).
      if (*p == 0x80) goto bad_tag;
      while (*p & 0x80) {
        tag = (tag << 7) | (*p++ & 0x7F);
        if (--max == 0 || tag > kMaxTagSoFar) goto err;
      }
      tag = (tag << 7) | (*p++ & 0x7F);
      if (tag < 31) goto bad_tag;
    } else {
      tag = *p++ & 0x1F;
    }
    if (--max == 0) goto err;
    *ptag = static_cast<int>(tag);
    *pclass = xclass;
    bool inf = false;
    long length = 0;
    if (!get_length(&p, &inf, &length, max)) goto err;
    *plength = length;
    int result = ret | (inf ? ASN1_HDR_INDEFINITE : 0);
    if (length > omax - (p - *pp)) {
      ASN1err(ASN1_F_ASN1_GET_OBJECT, ASN1_R_TOO_LONG);
      result |= ASN1_HDR_ERROR;
    }
    *pp = p;
    return result;
  }
err:
  ASN1err(ASN1_F_ASN1_GET_OBJECT, ASN1_R_HEADER_TOO_LONG);
  return ASN1_HDR_ERROR;
bad_tag:
  ASN1err(ASN1_F_ASN1_GET_OBJECT, ASN1_R_BAD_TAG);
  return ASN1_HDR_ERROR;
}

/* see morvane/asn1.h */
void ASN1_put_object(unsigned char** pp, int constructed, int length, int tag, int xclass) {
  if (length < 0) {  // ASN1_object_size sizes no buffer for it either
    ASN1err(ASN1_F_ASN1_PUT_OBJECT, ASN1_R_LENGTH_ERROR);
    return;
  }
  unsigned char* p = *pp;
  int id = (constructed ? ASN1_CONSTRUCTED : 0) | (xclass & ASN1_CLASS_PRIVATE);
  if (tag < 31) {
    *p++ = static_cast<unsigned char>(id | (tag & 0x1F));
  } else {
    *p++ = static_cast<unsigned char>(id | 0x1F);
    const int n = tag_groups(tag);
    for (int i = n - 1; i >= 0; i--) {  // least significant group last
      p[i] = static_cast<unsigned char>((tag & 0x7F) | (i != n - 1 ? 0x80 : 0));
      tag >>= 7;
    }
    p += n;
  }
  if (constructed == 2)
    *p++ = 0x80;
  else
    put_length(&p, length);
  *pp = p;
}

/* see morvane/asn1.h */
int ASN1_put_eoc(unsigned char** pp) {
  unsigned char* p = *pp;
  *p++ = 0;
  *p++ = 0;
  *pp = p;
  return 2;
}

/* see morvane/asn1.h */
int ASN1_object_size(int constructed, int length, int tag) {
  if (length < 0) return -1;
  int64_t ret = 1 + (tag >= 31 ? tag_groups(tag) : 0);
  if (constructed == 2) {
    ret += 3;
  } else {
    ret++;
    if (length > 127)
      for (int l = length; l > 0; l >>= 8) ret++;
  }
  ret += length;
  return ret > INT_MAX ? -1 : static_cast<int>(ret);
}

/* see morvane/asn1.h */
int ASN1_check_infinite_end(unsigned char** p, long len) { return check_infinite_end(p, len); }

/* see morvane/asn1.h */
int ASN1_const_check_infinite_end(const unsigned char** p, long len) {
  return check_infinite_end(p, len);
}

// ---- legacy parse context --------------------------------------------------

/* see morvane/asn1.h */
int asn1_GetSequence(ASN1_const_CTX* c, long* length) {
  const unsigned char* q = c->p;
  c->inf = ASN1_get_object(&c->p, &c->slen, &c->tag, &c->xclass, *length);
  if (c->inf & ASN1_HDR_ERROR) {
    c->error = ERR_R_BAD_GET_ASN1_OBJECT_CALL;
    return 0;
  }
  if (c->tag != ASN1_UT_SEQUENCE) {
    c->error = ERR_R_EXPECTING_AN_ASN1_SEQUENCE;
    return 0;
  }
  *length -= c->p - q;
  if (c->max != nullptr && *length < 0) {
    c->error = ERR_R_ASN1_LENGTH_MISMATCH;
    return 0;
  }
  // An indefinite sequence spans what is left after its header.
  if (c->inf == (ASN1_HDR_CONSTRUCTED | ASN1_HDR_INDEFINITE)) c->slen = *length;
  c->eos = 0;
  return 1;
}

/* see morvane/asn1.h */
int asn1_Finish(ASN1_CTX* c) { return finish(c); }

/* see morvane/asn1.h */
int asn1_const_Finish(ASN1_const_CTX* c) { return finish(c); }

/* see morvane/asn1.h */
void asn1_add_error(const unsigned char* address, int offset) {
  char addr[24];  // 20 digits of a 64-bit address and the terminator
  char off[16];
  snprintf(addr, sizeof addr, "%lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
  snprintf(off, sizeof off, "%d", offset);
  ERR_add_error_data(4, "address=", addr, " offset=", off);
}

// ---- the string value -------------------------------------------------------

/* see morvane/asn1.h */
ASN1_STRING* ASN1_STRING_type_new(int type) {
  auto* ret = static_cast<ASN1_STRING*>(MORVANE_malloc(sizeof(ASN1_STRING)));
  if (ret == nullptr) {
    ASN1err(ASN1_F_ASN1_STRING_TYPE_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ret->length = 0;
  ret->type = type;
  ret->data = nullptr;
  ret->flags = 0;
  return ret;
}

/* see morvane/asn1.h */
ASN1_STRING* ASN1_STRING_new(void) { return ASN1_STRING_type_new(ASN1_UT_OCTET_STRING); }

/* see morvane/asn1.h */
void ASN1_STRING_free(ASN1_STRING* a) {
  if (a == nullptr) return;
  MORVANE_free(a->data);
  MORVANE_free(a);
}

/* see morvane/asn1.h */
int ASN1_STRING_set(ASN1_STRING* str, const void* data, int len) {
  const auto* src = static_cast<const unsigned char*>(data);
  if (len < -1) {  // -1 is the only length with a meaning below 0
    ASN1err(ASN1_F_ASN1_STRING_SET, ASN1_R_LENGTH_ERROR);
    return 0;
  }
  if (len == -1) {
    if (src == nullptr) return 0;
    const size_t n = strlen(static_cast<const char*>(data));
    if (n >= INT_MAX) {
      ASN1err(ASN1_F_ASN1_STRING_SET, ASN1_R_STRING_TOO_LONG);
      return 0;
    }
    len = static_cast<int>(n);
  }
  if (len == INT_MAX) {  // no room for the zero octet
    ASN1err(ASN1_F_ASN1_STRING_SET, ASN1_R_STRING_TOO_LONG);
    return 0;
  }
  // A buffer of `length` octets holds len + 1 only when len < length.
  if (str->length <= len || str->data == nullptr) {
    unsigned char* old = str->data;
    // The source may lie inside the buffer that is about to move.
    const uintptr_t o = reinterpret_cast<uintptr_t>(old);
    const uintptr_t s = reinterpret_cast<uintptr_t>(src);
    const bool inside = old != nullptr && src != nullptr && s >= o &&
                        s < o + static_cast<uintptr_t>(str->length);
    const size_t offset = inside ? s - o : 0;
    auto* grown = static_cast<unsigned char*>(old == nullptr ? MORVANE_malloc(len + 1)
                                                             : MORVANE_realloc(old, len + 1));
    if (grown == nullptr) {
      ASN1err(ASN1_F_ASN1_STRING_SET, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    str->data = grown;
    if (inside) src = grown + offset;
  }
  str->length = len;
  if (src != nullptr) {
    memmove(str->data, src, len);
    str->data[len] = 0;
  }
  return 1;
}

/* see morvane/asn1.h */
void ASN1_STRING_set0(ASN1_STRING* str, void* data, int len) {
  MORVANE_free(str->data);
  str->data = static_cast<unsigned char*>(data);
  str->length = len > 0 ? len : 0;
}

/* see morvane/asn1.h */
ASN1_STRING* ASN1_STRING_dup(const ASN1_STRING* str) {
  if (str == nullptr) return nullptr;
  ASN1_STRING* ret = ASN1_STRING_type_new(str->type);
  if (ret == nullptr) return nullptr;
  if (!ASN1_STRING_set(ret, str->data, str->length)) {
    ASN1_STRING_free(ret);
    return nullptr;
  }
  ret->flags = str->flags;
  return ret;
}

/* see morvane/asn1.h */
int ASN1_STRING_cmp(const ASN1_STRING* a, const ASN1_STRING* b) {
  if (a->length != b->length) return a->length - b->length;
  if (a->length != 0) {
    const int c = memcmp(a->data, b->data, a->length);
    if (c != 0) return c;
  }
  return a->type - b->type;
}

/* see morvane/asn1.h */
int ASN1_STRING_length(const ASN1_STRING* x) { return x->length; }

/* see morvane/asn1.h */
void ASN1_STRING_length_set(ASN1_STRING* x, int len) {
  if (len >= 0) x->length = len;
}

/* see morvane/asn1.h */
int ASN1_STRING_type(ASN1_STRING* x) { return x->type; }

/* see morvane/asn1.h */
unsigned char* ASN1_STRING_data(ASN1_STRING* x) { return x->data; }
