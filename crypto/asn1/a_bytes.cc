// The legacy string decoders: a string under any tag of a mask, and a string
// under one tag whose constructed form (X.690, 8.21.6) is collated from its
// pieces.
//
// Implementation notes: every read is bounded by the caller's input (start
// plus length), also for the pieces of a constructed string, and nesting of
// constructed pieces stops at kMaxNest levels below the outer string, as in
// the template decoder.  A string passed in keeps its buffer only when that
// buffer is known to hold the content and its trailing zero.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "asn1/internal.h"

namespace {

constexpr int kMaxNest = 5;  // constructed levels below the outer string

ASN1_STRING* bytes_d2i(ASN1_STRING** a, const unsigned char** pp, long length, int tag, int xclass,
                       int depth);

// Joins the pieces of the constructed string whose content starts at c->p
// into `ret`.  The pieces are read up to c->max; a definite content ends
// after c->slen octets, an indefinite one at its end-of-contents octets.
bool collate(ASN1_STRING* ret, ASN1_const_CTX* c, int depth) {
  if (ret == nullptr) {
    c->error = ERR_R_PASSED_NULL_PARAMETER;
    ASN1err(ASN1_F_ASN1_COLLATE_PRIMITIVE, c->error);
    return false;
  }
  BUF_MEM b = {0, nullptr, 0};
  ASN1_STRING* os = nullptr;
  size_t num = 0;
  c->error = 0;
  for (;;) {
    if (c->inf & ASN1_HDR_INDEFINITE) {
      c->eos = ASN1_const_check_infinite_end(&c->p, static_cast<long>(c->max - c->p));
      if (c->eos) break;
    } else if (c->slen <= 0) {
      break;
    }
    c->q = c->p;
    if (bytes_d2i(&os, &c->p, static_cast<long>(c->max - c->p), c->tag, c->xclass, depth + 1) ==
        nullptr) {
      c->error = ERR_R_ASN1_LIB;
      break;
    }
    if (num + static_cast<size_t>(os->length) >= INT_MAX ||
        !BUF_MEM_grow_clean(&b, static_cast<int>(num + os->length))) {
      c->error = ERR_R_BUF_LIB;
      break;
    }
    if (os->length > 0) memcpy(b.data + num, os->data, os->length);
    num += os->length;
    if (!(c->inf & ASN1_HDR_INDEFINITE)) c->slen -= c->p - c->q;
  }
  ASN1_STRING_free(os);
  if (c->error == 0 && !asn1_const_Finish(c)) {
    // asn1_const_Finish set c->error
  } else if (c->error == 0) {
    ret->length = static_cast<int>(num);
    MORVANE_free(ret->data);
    ret->data = reinterpret_cast<unsigned char*>(b.data);
    return true;
  }
  ASN1err(ASN1_F_ASN1_COLLATE_PRIMITIVE, c->error);
  if (b.data != nullptr) {
    MORVANE_cleanse(b.data, static_cast<size_t>(b.max));
    MORVANE_free(b.data);
  }
  return false;
}

ASN1_STRING* bytes_d2i(ASN1_STRING** a, const unsigned char** pp, long length, int tag, int xclass,
                       int depth) {
  ASN1_STRING* ret = (a == nullptr || *a == nullptr) ? ASN1_STRING_new() : *a;
  if (ret == nullptr) return nullptr;
  int reason = 0;
  const unsigned char* p = *pp;
  long len = 0;
  int ptag = 0, pclass = 0;
  const int inf = ASN1_get_object(&p, &len, &ptag, &pclass, length);
  if (inf & ASN1_HDR_ERROR) {
    reason = ASN1_R_BAD_OBJECT_HEADER;
  } else if (ptag != tag) {
    reason = ASN1_R_WRONG_TAG;
  } else if (inf & ASN1_HDR_CONSTRUCTED) {
    if (depth > kMaxNest) {
      reason = ASN1_R_NESTED_ASN1_STRING;
    } else {
      ASN1_const_CTX c = {};
      c.pp = pp;
      c.p = p;
      c.inf = inf;
      c.slen = len;
      c.tag = tag;
      c.xclass = xclass;
      c.max = *pp + length;
      if (collate(ret, &c, depth))
        p = c.p;
      else
        reason = ERR_R_NESTED_ASN1_ERROR;
    }
  } else if (len == 0) {
    MORVANE_free(ret->data);
    ret->data = nullptr;
  } else if (len >= INT_MAX) {
    reason = ASN1_R_TOO_LONG;
  } else {
    // A buffer of `length` octets holds len octets and the zero only when
    // it is longer than len.
    unsigned char* s = ret->data;
    if (s == nullptr || ret->length <= len) {
      s = static_cast<unsigned char*>(MORVANE_malloc(len + 1));
      if (s == nullptr) {
        reason = ERR_R_MALLOC_FAILURE;
      } else {
        MORVANE_free(ret->data);
        ret->data = s;
      }
    }
    if (reason == 0) {
      memcpy(s, p, len);
      s[len] = 0;
      p += len;
    }
  }
  if (reason != 0) {
    ASN1err(ASN1_F_D2I_ASN1_BYTES, reason);
    if (a == nullptr || *a != ret) ASN1_STRING_free(ret);
    return nullptr;
  }
  if (!(inf & ASN1_HDR_CONSTRUCTED)) ret->length = static_cast<int>(len);
  ret->type = tag;
  if (a != nullptr) *a = ret;
  *pp = p;
  return ret;
}

}  // namespace

/* see morvane/asn1.h */
ASN1_STRING* d2i_ASN1_type_bytes(ASN1_STRING** a, const unsigned char** pp, long length,
                                 unsigned long type_mask) {
  if (morvane::asn1::null_input(pp, length, ASN1_F_D2I_ASN1_TYPE_BYTES)) return nullptr;
  const unsigned char* p = *pp;
  long len = 0;
  int tag = 0, xclass = 0;
  int reason = 0;
  const int inf = ASN1_get_object(&p, &len, &tag, &xclass, length);
  if (inf & ASN1_HDR_ERROR) {
    reason = 0;  // the header's own reason is on the queue
  } else if (tag >= 32) {
    reason = ASN1_R_TAG_VALUE_TOO_HIGH;
  } else if (!(ASN1_tag2bit(tag) & type_mask)) {
    reason = ASN1_R_WRONG_TYPE;
  } else if (tag == ASN1_UT_BIT_STRING) {
    return d2i_ASN1_BIT_STRING(a, pp, length);
  } else if (len >= INT_MAX) {
    reason = ASN1_R_TOO_LONG;
  } else {
    ASN1_STRING* ret = (a == nullptr || *a == nullptr) ? ASN1_STRING_new() : *a;
    if (ret == nullptr) return nullptr;
    unsigned char* s = nullptr;
    if (len != 0) {
      s = static_cast<unsigned char*>(MORVANE_malloc(len + 1));
      if (s == nullptr) {
        ASN1err(ASN1_F_D2I_ASN1_TYPE_BYTES, ERR_R_MALLOC_FAILURE);
        if (a == nullptr || *a != ret) ASN1_STRING_free(ret);
        return nullptr;
      }
      memcpy(s, p, len);
      s[len] = 0;
      p += len;
    }
    MORVANE_free(ret->data);
    ret->data = s;
    ret->length = static_cast<int>(len);
    ret->type = tag;
    if (a != nullptr) *a = ret;
    *pp = p;
    return ret;
  }
  ASN1err(ASN1_F_D2I_ASN1_TYPE_BYTES, reason);
  return nullptr;
}

/* see morvane/asn1.h */
ASN1_STRING* d2i_ASN1_bytes(ASN1_STRING** a, const unsigned char** pp, long length, int tag,
                            int xclass) {
  if (morvane::asn1::null_input(pp, length, ASN1_F_D2I_ASN1_BYTES)) return nullptr;
  return bytes_d2i(a, pp, length, tag, xclass, 0);
}
