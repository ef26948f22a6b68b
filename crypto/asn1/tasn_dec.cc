// The template decoder: BER and DER input into the value that an item
// describes, allocating as it goes.
//
// Implementation notes: everything decoded is outside input.  Each step
// reads within the length it was given; a header's length is checked against
// what remains before any content is touched.  Recursion follows the item's
// templates and is bounded at kMaxDepth nested items; constructed strings
// recurse at most kMaxStringNest levels; indefinite elements kept whole are
// walked with a counter, not recursion.  The header cache (ASN1_TLC) keeps
// the last header read while OPTIONAL candidates are compared with it, so a
// run of absent fields costs one header read and no allocation.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "asn1/internal.h"

namespace morvane::asn1 {

namespace {

constexpr int kMaxDepth = 30;      // nested items in one decode
constexpr int kMaxStringNest = 5;  // levels of a constructed string

int item_d2i(ASN1_VALUE** pval, const unsigned char** in, long len, const ASN1_ITEM* it, int tag,
             int aclass, char opt, ASN1_TLC* ctx, int depth);
int template_ex_d2i(ASN1_VALUE** val, const unsigned char** in, long inlen, const ASN1_TEMPLATE* tt,
                    char opt, ASN1_TLC* ctx, int depth);

void tlc_clear(ASN1_TLC* ctx) {
  if (ctx != nullptr) ctx->valid = 0;
}

// Consumes end-of-contents octets at *in when they are there.
bool check_eoc(const unsigned char** in, long len) {
  const unsigned char* p = *in;
  if (len < 2 || p[0] != 0 || p[1] != 0) return false;
  *in += 2;
  return true;
}

// The header check shared by every step: 1 read (and advanced past), -1 an
// OPTIONAL element with another tag, 0 error.
int check_tlen(long* olen, int* otag, int* oclass, bool* inf, bool* cst, const unsigned char** in,
               long len, int exptag, int expclass, char opt, ASN1_TLC* ctx) {
  const unsigned char* p = *in;
  const unsigned char* const q = p;
  int i;
  long plen;
  int ptag, pclass;
  if (ctx != nullptr && ctx->valid) {
    i = ctx->ret;
    plen = ctx->plen;
    pclass = ctx->pclass;
    ptag = ctx->ptag;
    p += ctx->hdrlen;
  } else {
    i = ASN1_get_object(&p, &plen, &ptag, &pclass, len);
    // X.690 8.1.3.2: the indefinite form is for constructed elements only.
    if ((i & ASN1_HDR_INDEFINITE) && !(i & ASN1_HDR_CONSTRUCTED)) i |= ASN1_HDR_ERROR;
    if (ctx != nullptr) {
      ctx->ret = i;
      ctx->plen = plen;
      ctx->pclass = pclass;
      ctx->ptag = ptag;
      ctx->hdrlen = static_cast<int>(p - q);
      ctx->valid = 1;
    }
  }
  if (i & ASN1_HDR_ERROR) {
    ASN1err(ASN1_F_ASN1_CHECK_TLEN, ASN1_R_BAD_OBJECT_HEADER);
    tlc_clear(ctx);
    return 0;
  }
  if (exptag >= 0) {
    if (exptag != ptag || expclass != pclass) {
      if (opt) return -1;  // the cache stays for the next candidate
      tlc_clear(ctx);
      ASN1err(ASN1_F_ASN1_CHECK_TLEN, ASN1_R_WRONG_TAG);
      return 0;
    }
    tlc_clear(ctx);
  }
  if (i & ASN1_HDR_INDEFINITE) plen = len - (p - q);
  if (inf != nullptr) *inf = (i & ASN1_HDR_INDEFINITE) != 0;
  if (cst != nullptr) *cst = (i & ASN1_HDR_CONSTRUCTED) != 0;
  if (olen != nullptr) *olen = plen;
  if (oclass != nullptr) *oclass = pclass;
  if (otag != nullptr) *otag = ptag;
  *in = p;
  return 1;
}

// The end of an indefinite element kept whole, by counting EOCs.
bool find_end(const unsigned char** in, long len) {
  const unsigned char* p = *in;
  unsigned long expected_eoc = 1;
  while (len > 0) {
    if (check_eoc(&p, len)) {
      len -= 2;
      if (--expected_eoc == 0) break;
      continue;
    }
    const unsigned char* q = p;
    long plen;
    bool inf;
    if (!check_tlen(&plen, nullptr, nullptr, &inf, nullptr, &p, len, -1, 0, 0, nullptr)) {
      ASN1err(ASN1_F_ASN1_FIND_END, ERR_R_NESTED_ASN1_ERROR);
      return false;
    }
    if (inf)
      expected_eoc++;
    else
      p += plen;
    len -= p - q;
  }
  if (expected_eoc != 0) {
    ASN1err(ASN1_F_ASN1_FIND_END, ASN1_R_MISSING_EOC);
    return false;
  }
  *in = p;
  return true;
}

// A growing buffer for the pieces of a constructed string.
struct Collected {
  unsigned char* data = nullptr;
  long length = 0;
  long capacity = 0;
};

bool collect_data(Collected* buf, const unsigned char** p, long plen) {
  if (plen > INT_MAX - 1 - buf->length) {
    ASN1err(ASN1_F_COLLECT_DATA, ASN1_R_TOO_LONG);
    return false;
  }
  if (buf->length + plen + 1 > buf->capacity) {
    long cap = buf->capacity * 2;
    if (cap < buf->length + plen + 1) cap = buf->length + plen + 1;
    if (cap > INT_MAX) cap = INT_MAX;
    auto* d = static_cast<unsigned char*>(MORVANE_realloc(buf->data, cap));
    if (d == nullptr) {
      ASN1err(ASN1_F_COLLECT_DATA, ERR_R_MALLOC_FAILURE);
      return false;
    }
    buf->data = d;
    buf->capacity = cap;
  }
  memcpy(buf->data + buf->length, *p, plen);
  buf->length += plen;
  *p += plen;
  return true;
}

// The string types, whose BER encoding may be constructed (X.690 8.6.4,
// 8.7.3, 8.23); every other primitive type is always primitive (8.3.1 for
// INTEGER, 8.19.1 for OBJECT IDENTIFIER).
bool may_be_constructed(int utype) {
  switch (utype) {
    case ASN1_UT_BIT_STRING:
    case ASN1_UT_OCTET_STRING:
    case ASN1_UT_OBJECT_DESCRIPTOR:
    case ASN1_UT_UTF8STRING:
    case ASN1_UT_NUMERICSTRING:
    case ASN1_UT_PRINTABLESTRING:
    case ASN1_UT_T61STRING:
    case ASN1_UT_VIDEOTEXSTRING:
    case ASN1_UT_IA5STRING:
    case ASN1_UT_UTCTIME:
    case ASN1_UT_GENERALIZEDTIME:
    case ASN1_UT_GRAPHICSTRING:
    case ASN1_UT_VISIBLESTRING:
    case ASN1_UT_GENERALSTRING:
    case ASN1_UT_UNIVERSALSTRING:
    case ASN1_UT_BMPSTRING:
      return true;
    default:
      return false;
  }
}

// A constructed string being gathered: its type, and for a BIT STRING the
// unused bits of the last piece so far (-1 before the first).
struct Pieces {
  int utype;
  int unused = -1;
};

// A piece of a constructed BIT STRING is a BIT STRING (X.690 8.6.4), of any
// other string an OCTET STRING (8.7.3; a character string is encoded as an
// OCTET STRING under its own tag, 8.23); a piece under the string's own
// universal tag is taken too.
bool piece_tag_ok(const Pieces& pc, int tag, int aclass) {
  if (aclass != ASN1_CLASS_UNIVERSAL) return false;
  return tag == pc.utype || (pc.utype != ASN1_UT_BIT_STRING && tag == ASN1_UT_OCTET_STRING);
}

// Appends a primitive BIT STRING piece: its bits without its unused-bits
// octet.  Only the last piece may leave bits unused, and an empty piece none
// (X.690 8.6.2, 8.6.4).
bool collect_bits(Collected* buf, Pieces* pc, const unsigned char** p, long plen) {
  if (pc->unused > 0 || plen < 1 || (*p)[0] > 7 || (plen == 1 && (*p)[0] != 0)) {
    ASN1err(ASN1_F_ASN1_COLLECT, ASN1_R_ILLEGAL_BITSTRING_FORMAT);
    return false;
  }
  pc->unused = (*p)[0];
  (*p)++;
  return plen == 1 || collect_data(buf, p, plen - 1);
}

// Appends the contents of the primitive pieces of a constructed string,
// each checked to be a piece of that string.
bool collect(Collected* buf, Pieces* pc, const unsigned char** in, long len, bool inf, int depth) {
  const unsigned char* p = *in;
  while (len > 0) {
    const unsigned char* q = p;
    if (check_eoc(&p, len)) {
      if (!inf) {
        ASN1err(ASN1_F_ASN1_COLLECT, ASN1_R_UNEXPECTED_EOC);
        return false;
      }
      inf = false;
      break;
    }
    long plen;
    int ptag, pclass;
    bool ininf, cst;
    if (!check_tlen(&plen, &ptag, &pclass, &ininf, &cst, &p, len, -1, 0, 0, nullptr)) {
      ASN1err(ASN1_F_ASN1_COLLECT, ERR_R_NESTED_ASN1_ERROR);
      return false;
    }
    if (!piece_tag_ok(*pc, ptag, pclass)) {
      ASN1err(ASN1_F_ASN1_COLLECT, ASN1_R_WRONG_TAG);
      return false;
    }
    if (cst) {
      if (depth >= kMaxStringNest) {
        ASN1err(ASN1_F_ASN1_COLLECT, ASN1_R_NESTED_ASN1_STRING);
        return false;
      }
      if (!collect(buf, pc, &p, plen, ininf, depth + 1)) return false;
    } else if (pc->utype == ASN1_UT_BIT_STRING) {
      if (!collect_bits(buf, pc, &p, plen)) return false;
    } else if (plen > 0 && !collect_data(buf, &p, plen)) {
      return false;
    }
    len -= p - q;
  }
  if (inf) {
    ASN1err(ASN1_F_ASN1_COLLECT, ASN1_R_MISSING_EOC);
    return false;
  }
  *in = p;
  return true;
}

// A primitive element, a multi-string (tag: the type read) or ANY.
int d2i_ex_primitive(ASN1_VALUE** pval, const unsigned char** in, long inlen, const ASN1_ITEM* it,
                     int tag, int aclass, char opt, ASN1_TLC* ctx) {
  if (pval == nullptr) {
    ASN1err(ASN1_F_ASN1_D2I_EX_PRIMITIVE, ASN1_R_ILLEGAL_NULL);
    return 0;
  }
  int utype;
  if (it->itype == ASN1_KIND_MSTRING) {
    utype = tag;
    tag = -1;
  } else {
    utype = static_cast<int>(it->utype);
  }
  const unsigned char* p;
  if (utype == ASN1_UT_ANY) {
    if (tag >= 0) {
      ASN1err(ASN1_F_ASN1_D2I_EX_PRIMITIVE, ASN1_R_ILLEGAL_TAGGED_ANY);
      return 0;
    }
    if (opt) {
      ASN1err(ASN1_F_ASN1_D2I_EX_PRIMITIVE, ASN1_R_ILLEGAL_OPTIONAL_ANY);
      return 0;
    }
    p = *in;
    int oclass;
    bool ocst;
    if (!check_tlen(nullptr, &utype, &oclass, nullptr, &ocst, &p, inlen, -1, 0, 0, ctx)) {
      ASN1err(ASN1_F_ASN1_D2I_EX_PRIMITIVE, ERR_R_NESTED_ASN1_ERROR);
      return 0;
    }
    // A universal tag above 30 names no type code (258 would pose as a
    // negative INTEGER), and tag 0 is reserved for end-of-contents (a value
    // of type 0 would be written as 00 00): each is kept whole like a
    // tagged element.  So are the constructed types without a code of
    // their own (EXTERNAL, EMBEDDED PDV, CHARACTER STRING).
    const bool structured = utype == ASN1_UT_EXTERNAL || utype == 11 || utype == 29;
    if (oclass != ASN1_CLASS_UNIVERSAL || utype > 30 || utype == ASN1_UT_EOC ||
        (structured && ocst))
      utype = ASN1_UT_OTHER;
  }
  if (tag == -1) {
    tag = utype;
    aclass = ASN1_CLASS_UNIVERSAL;
  }
  p = *in;
  long plen;
  bool inf, cst;
  int ret = check_tlen(&plen, nullptr, nullptr, &inf, &cst, &p, inlen, tag, aclass, opt, ctx);
  if (ret == 0) {
    ASN1err(ASN1_F_ASN1_D2I_EX_PRIMITIVE, ERR_R_NESTED_ASN1_ERROR);
    return 0;
  }
  if (ret == -1) return -1;
  ret = 0;
  Collected buf;
  char free_cont = 0;
  const unsigned char* cont;
  long len;
  if (utype == ASN1_UT_SEQUENCE || utype == ASN1_UT_SET || utype == ASN1_UT_OTHER) {
    if (utype == ASN1_UT_OTHER) {
      tlc_clear(ctx);
    } else if (!cst) {
      ASN1err(ASN1_F_ASN1_D2I_EX_PRIMITIVE, ASN1_R_TYPE_NOT_CONSTRUCTED);
      return 0;
    }
    cont = *in;
    if (inf) {
      if (!find_end(&p, plen)) goto err;
      len = p - cont;
    } else {
      len = p - cont + plen;
      p += plen;
    }
  } else if (cst) {
    if (!may_be_constructed(utype)) {
      ASN1err(ASN1_F_ASN1_D2I_EX_PRIMITIVE, ASN1_R_TYPE_NOT_PRIMITIVE);
      return 0;
    }
    free_cont = 1;  // the pieces gathered so far go on every failure
    Pieces pieces{utype};
    // A BIT STRING's content starts with the unused bits of its last piece.
    const unsigned char none = 0;
    const unsigned char* zero = &none;
    if (utype == ASN1_UT_BIT_STRING && !collect_data(&buf, &zero, 1)) goto err;
    if (!collect(&buf, &pieces, &p, plen, inf, 0)) goto err;
    if (!collect_data(&buf, &p, 0)) goto err;  // room for the terminating zero
    if (pieces.unused > 0) buf.data[0] = static_cast<unsigned char>(pieces.unused);
    buf.data[buf.length] = 0;
    cont = buf.data;
    len = buf.length;
  } else {
    cont = p;
    len = plen;
    p += plen;
  }
  // A length past an int is refused by the conversion as too long.
  if (!asn1_ex_c2i(pval, cont, len > INT_MAX ? -1 : static_cast<int>(len), utype, &free_cont, it))
    goto err;
  *in = p;
  ret = 1;
err:
  if (free_cont) MORVANE_free(buf.data);
  return ret;
}

// Untagged (or IMPLICIT) template: SET OF, SEQUENCE OF or one item.
int template_noexp_d2i(ASN1_VALUE** val, const unsigned char** in, long len,
                       const ASN1_TEMPLATE* tt, char opt, ASN1_TLC* ctx, int depth) {
  if (val == nullptr) return 0;
  const unsigned long flags = tt->flags;
  const int aclass = static_cast<int>(flags & ASN1_TF_TAG_CLASS);
  const int combine = static_cast<int>(flags & ASN1_TF_COMBINE);
  const unsigned char* p = *in;
  int ret;
  if (flags & ASN1_TF_SK_MASK) {
    int sktag, skaclass;
    if (flags & ASN1_TF_IMPLICIT) {
      sktag = static_cast<int>(tt->tag);
      skaclass = aclass;
    } else {
      skaclass = ASN1_CLASS_UNIVERSAL;
      sktag = (flags & ASN1_TF_SET_OF) ? ASN1_UT_SET : ASN1_UT_SEQUENCE;
    }
    bool sk_eoc, cst;
    ret = check_tlen(&len, nullptr, nullptr, &sk_eoc, &cst, &p, len, sktag, skaclass, opt, ctx);
    if (ret == 0) {
      ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ERR_R_NESTED_ASN1_ERROR);
      return 0;
    }
    if (ret == -1) return -1;
    // X.690 8.10.1, 8.12.1: a SEQUENCE OF or SET OF is constructed, under an
    // IMPLICIT tag too; a primitive one is refused even in BER.
    if (!cst) {
      ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ASN1_R_TYPE_NOT_CONSTRUCTED);
      return 0;
    }
    STACK* sk = reinterpret_cast<STACK*>(*val);
    if (sk == nullptr) {
      sk = sk_new_null();
      *val = reinterpret_cast<ASN1_VALUE*>(sk);
    } else {  // reused: its old elements go
      for (int i = 0; i < sk_num(sk); i++) {
        auto* v = reinterpret_cast<ASN1_VALUE*>(sk_value(sk, i));
        ASN1_item_ex_free(&v, tt->item);
      }
      sk_zero(sk);
    }
    if (sk == nullptr) {
      ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ERR_R_MALLOC_FAILURE);
      goto err;
    }
    while (len > 0) {
      const unsigned char* q = p;
      if (check_eoc(&p, len)) {
        if (!sk_eoc) {
          ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ASN1_R_UNEXPECTED_EOC);
          goto err;
        }
        sk_eoc = false;
        break;
      }
      ASN1_VALUE* skfield = nullptr;
      if (!item_d2i(&skfield, &p, len, tt->item, -1, 0, 0, ctx, depth)) {
        ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ERR_R_NESTED_ASN1_ERROR);
        goto err;
      }
      len -= p - q;
      if (!sk_push(sk, reinterpret_cast<char*>(skfield))) {
        ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ERR_R_MALLOC_FAILURE);
        ASN1_item_ex_free(&skfield, tt->item);
        goto err;
      }
    }
    if (sk_eoc) {
      ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ASN1_R_MISSING_EOC);
      goto err;
    }
  } else {
    const bool implicit = (flags & ASN1_TF_IMPLICIT) != 0;
    ret = item_d2i(val, &p, len, tt->item, implicit ? static_cast<int>(tt->tag) : -1,
                   (implicit ? aclass : 0) | combine, opt, ctx, depth);
    if (ret == 0) {
      ASN1err(ASN1_F_ASN1_TEMPLATE_NOEXP_D2I, ERR_R_NESTED_ASN1_ERROR);
      goto err;
    }
    if (ret == -1) return -1;
  }
  *in = p;
  return 1;
err:
  ASN1_template_free(val, tt);
  return 0;
}

// A template with its EXPLICIT wrapper, if any.
int template_ex_d2i(ASN1_VALUE** val, const unsigned char** in, long inlen, const ASN1_TEMPLATE* tt,
                    char opt, ASN1_TLC* ctx, int depth) {
  if (val == nullptr) return 0;
  const unsigned long flags = tt->flags;
  if (!(flags & ASN1_TF_EXPLICIT)) return template_noexp_d2i(val, in, inlen, tt, opt, ctx, depth);
  const int aclass = static_cast<int>(flags & ASN1_TF_TAG_CLASS);
  const unsigned char* p = *in;
  long len;
  bool exp_eoc, cst;
  int ret = check_tlen(&len, nullptr, nullptr, &exp_eoc, &cst, &p, inlen, static_cast<int>(tt->tag),
                       aclass, opt, ctx);
  const unsigned char* q = p;
  if (ret == 0) {
    ASN1err(ASN1_F_ASN1_TEMPLATE_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
    return 0;
  }
  if (ret == -1) return -1;
  if (!cst) {
    ASN1err(ASN1_F_ASN1_TEMPLATE_EX_D2I, ASN1_R_EXPLICIT_TAG_NOT_CONSTRUCTED);
    return 0;
  }
  if (!template_noexp_d2i(val, &p, len, tt, 0, ctx, depth)) {
    ASN1err(ASN1_F_ASN1_TEMPLATE_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
    return 0;
  }
  len -= p - q;
  if (exp_eoc) {
    if (!check_eoc(&p, len)) {
      ASN1err(ASN1_F_ASN1_TEMPLATE_EX_D2I, ASN1_R_MISSING_EOC);
      goto err;
    }
  } else if (len != 0) {
    ASN1err(ASN1_F_ASN1_TEMPLATE_EX_D2I, ASN1_R_EXPLICIT_LENGTH_MISMATCH);
    goto err;
  }
  *in = p;
  return 1;
err:
  ASN1_template_free(val, tt);
  return 0;
}

// A SEQUENCE (definite or indefinite) into *pval.
int sequence_d2i(ASN1_VALUE** pval, const unsigned char** in, long len, const ASN1_ITEM* it,
                 int tag, int aclass, char opt, ASN1_TLC* ctx, int depth,
                 const ASN1_TEMPLATE** errtt) {
  const ASN1_AUX* aux = aux_of(it);
  const unsigned char* p = *in;
  const long tmplen = len;
  if (tag == -1) {
    tag = ASN1_UT_SEQUENCE;
    aclass = ASN1_CLASS_UNIVERSAL;
  }
  bool seq_eoc, cst;
  int ret = check_tlen(&len, nullptr, nullptr, &seq_eoc, &cst, &p, len, tag, aclass, opt, ctx);
  if (ret == 0) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
    return 0;
  }
  if (ret == -1) return -1;
  bool seq_nolen = seq_eoc;
  if (aux != nullptr && (aux->flags & ASN1_AUX_BROKEN)) {
    len = tmplen - (p - *in);
    seq_nolen = true;
  }
  if (!cst) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_SEQUENCE_NOT_CONSTRUCTED);
    return 0;
  }
  if (*pval == nullptr && !ASN1_item_ex_new(pval, it)) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
    return 0;
  }
  if (!run_callback(ASN1_CBOP_D2I_PRE, pval, it)) goto auxerr;
  long i;
  for (i = 0; i < it->tcount; i++) {
    const ASN1_TEMPLATE* seqtt = asn1_do_adb(pval, &it->templates[i], 1);
    if (seqtt == nullptr) return 0;
    ASN1_VALUE** pseqval = asn1_get_field_ptr(pval, seqtt);
    if (len == 0) break;
    const unsigned char* q = p;
    if (check_eoc(&p, len)) {
      if (!seq_eoc) {
        ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_UNEXPECTED_EOC);
        return 0;
      }
      len -= p - q;
      seq_eoc = false;
      break;
    }
    // The last field is never optional here: data remains for it.
    const char isopt =
        (i == it->tcount - 1) ? 0 : static_cast<char>((seqtt->flags & ASN1_TF_OPTIONAL) != 0);
    ret = template_ex_d2i(pseqval, &p, len, seqtt, isopt, ctx, depth);
    if (ret == 0) {
      *errtt = seqtt;
      return 0;
    }
    if (ret == -1) {
      ASN1_template_free(pseqval, seqtt);
      continue;
    }
    len -= p - q;
  }
  if (seq_eoc && !check_eoc(&p, len)) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_MISSING_EOC);
    return 0;
  }
  if (!seq_nolen && len != 0) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_SEQUENCE_LENGTH_MISMATCH);
    return 0;
  }
  for (; i < it->tcount; i++) {
    const ASN1_TEMPLATE* seqtt = asn1_do_adb(pval, &it->templates[i], 1);
    if (seqtt == nullptr) return 0;
    if (!(seqtt->flags & ASN1_TF_OPTIONAL)) {
      *errtt = seqtt;
      ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_FIELD_MISSING);
      return 0;
    }
    ASN1_template_free(asn1_get_field_ptr(pval, seqtt), seqtt);
  }
  // An element longer than INT_MAX octets cannot be cached (the length is an
  // int): refused rather than cut to its low bits.
  if (p - *in > INT_MAX || !asn1_enc_save(pval, *in, static_cast<int>(p - *in), it)) goto auxerr;
  *in = p;
  if (!run_callback(ASN1_CBOP_D2I_POST, pval, it)) goto auxerr;
  return 1;
auxerr:
  ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_AUX_ERROR);
  return 0;
}

// An untagged ANY alternative: it matches whatever element comes, so it is
// tried as a mandatory field (an ANY has no tag by which it could be absent,
// and the primitive decoder refuses it as optional).
bool plain_any(const ASN1_TEMPLATE* tt) {
  if (tt->flags & (ASN1_TF_SK_MASK | ASN1_TF_TAG_MASK | ASN1_TF_ADB_MASK)) return false;
  const ASN1_ITEM* it = tt->item;
  return it->itype == ASN1_KIND_PRIMITIVE && it->templates == nullptr && it->utype == ASN1_UT_ANY;
}

// A CHOICE: the first alternative present.
int choice_d2i(ASN1_VALUE** pval, const unsigned char** in, long len, const ASN1_ITEM* it, char opt,
               ASN1_TLC* ctx, int depth, const ASN1_TEMPLATE** errtt) {
  const unsigned char* p = *in;
  if (!run_callback(ASN1_CBOP_D2I_PRE, pval, it)) goto auxerr;
  if (*pval != nullptr) {
    // Decoding into an existing CHOICE: the old alternative goes first, so
    // that a new one is never read over another's value.
    const int old = asn1_get_choice_selector(pval, it);
    if (old >= 0 && old < it->tcount) {
      const ASN1_TEMPLATE* tt = &it->templates[old];
      ASN1_template_free(asn1_get_field_ptr(pval, tt), tt);
    }
    asn1_set_choice_selector(pval, -1, it);
  } else if (!ASN1_item_ex_new(pval, it)) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
    return 0;
  }
  long i;
  for (i = 0; i < it->tcount; i++) {
    const ASN1_TEMPLATE* tt = &it->templates[i];
    const char altopt = plain_any(tt) ? 0 : 1;
    const int ret = template_ex_d2i(asn1_get_field_ptr(pval, tt), &p, len, tt, altopt, ctx, depth);
    if (ret == -1) continue;
    if (ret > 0) break;
    *errtt = tt;
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
    return 0;
  }
  if (i == it->tcount) {
    if (opt) {
      ASN1_item_ex_free(pval, it);
      return -1;
    }
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_NO_MATCHING_CHOICE_TYPE);
    return 0;
  }
  asn1_set_choice_selector(pval, static_cast<int>(i), it);
  *in = p;
  if (!run_callback(ASN1_CBOP_D2I_POST, pval, it)) goto auxerr;
  return 1;
auxerr:
  ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_AUX_ERROR);
  return 0;
}

int item_d2i(ASN1_VALUE** pval, const unsigned char** in, long len, const ASN1_ITEM* it, int tag,
             int aclass, char opt, ASN1_TLC* ctx, int depth) {
  if (pval == nullptr) return 0;
  const bool combine = (aclass & ASN1_TF_COMBINE) != 0;
  aclass &= ~ASN1_TF_COMBINE;
  const ASN1_TEMPLATE* errtt = nullptr;
  int ret = 0;
  if (++depth > kMaxDepth) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_DEPTH_EXCEEDED);
    goto err;
  }
  switch (it->itype) {
    case ASN1_KIND_PRIMITIVE:
      if (it->templates != nullptr) {
        if (tag != -1 || opt) {
          ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_ILLEGAL_OPTIONS_ON_ITEM_TEMPLATE);
          goto err;
        }
        return template_ex_d2i(pval, in, len, it->templates, opt, ctx, depth);
      }
      return d2i_ex_primitive(pval, in, len, it, tag, aclass, opt, ctx);
    case ASN1_KIND_MSTRING: {
      const unsigned char* p = *in;
      int otag, oclass;
      if (!check_tlen(nullptr, &otag, &oclass, nullptr, nullptr, &p, len, -1, 0, 1, ctx)) {
        ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
        goto err;
      }
      if (oclass != ASN1_CLASS_UNIVERSAL) {
        if (opt) return -1;
        ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_MSTRING_NOT_UNIVERSAL);
        goto err;
      }
      if (!(ASN1_tag2bit(otag) & static_cast<unsigned long>(it->utype))) {
        if (opt) return -1;
        ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_MSTRING_WRONG_TAG);
        goto err;
      }
      return d2i_ex_primitive(pval, in, len, it, otag, 0, 0, ctx);
    }
    case ASN1_KIND_EXTERN: {
      const auto* ef = static_cast<const ASN1_EXTERN_FUNCS*>(it->funcs);
      return ef->asn1_ex_d2i(pval, in, len, it, tag, aclass, opt, ctx);
    }
    case ASN1_KIND_CHOICE:
      ret = choice_d2i(pval, in, len, it, opt, ctx, depth, &errtt);
      break;
    case ASN1_KIND_SEQUENCE:
    case ASN1_KIND_NDEF_SEQUENCE:
      ret = sequence_d2i(pval, in, len, it, tag, aclass, opt, ctx, depth, &errtt);
      break;
    default:  // the old-style codec is not supported
      ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_UNSUPPORTED_TYPE);
      return 0;
  }
  if (ret != 0) return ret;
err:
  if (!combine) ASN1_item_ex_free(pval, it);
  if (errtt != nullptr)
    ERR_add_error_data(4, "Field=", errtt->field_name != nullptr ? errtt->field_name : "",
                       ", Type=", it->sname);
  else
    ERR_add_error_data(2, "Type=", it->sname);
  return 0;
}

}  // namespace

}  // namespace morvane::asn1

using namespace morvane::asn1;

/* see morvane/asn1t.h */
int asn1_ex_c2i(ASN1_VALUE** pval, const unsigned char* cont, int len, int utype, char* free_cont,
                const ASN1_ITEM* it) {
  const auto* pf = static_cast<const ASN1_PRIMITIVE_FUNCS*>(it->funcs);
  if (len < 0 || len > INT_MAX - 1) {  // a collected buffer holds len + 1 octets
    ASN1err(ASN1_F_ASN1_EX_C2I, ASN1_R_TOO_LONG);
    return 0;
  }
  // X.690 8.3.1, 8.3.2, 8.4: an INTEGER or ENUMERATED has its content in
  // the fewest octets, one at least, whichever item holds it (big numbers
  // and longs too).
  if ((utype == ASN1_UT_INTEGER || utype == ASN1_UT_ENUMERATED) && !integer_content_ok(cont, len)) {
    ASN1err(ASN1_F_ASN1_EX_C2I, ASN1_R_ILLEGAL_INTEGER);
    return 0;
  }
  if (pf != nullptr && pf->prim_c2i != nullptr) {
    // The item's own conversion never takes the buffer over: the caller
    // keeps freeing it.
    char fc = 0;
    return pf->prim_c2i(pval, cont, len, utype, &fc, it);
  }
  ASN1_VALUE** opval = nullptr;
  ASN1_TYPE* typ = nullptr;
  int ret = 0;
  if (it->utype == ASN1_UT_ANY) {
    if (*pval == nullptr) {
      if (!ASN1_primitive_new(pval, it)) return 0;
    }
    typ = reinterpret_cast<ASN1_TYPE*>(*pval);
    if (typ->type != utype) ASN1_TYPE_set(typ, utype, nullptr);
    opval = pval;
    pval = &typ->value.asn1_value;
  }
  switch (utype) {
    case ASN1_UT_OBJECT:
      if (!c2i_ASN1_OBJECT(reinterpret_cast<ASN1_OBJECT**>(pval), &cont, len)) goto err;
      break;
    case ASN1_UT_NULL:
      if (len != 0) {
        ASN1err(ASN1_F_ASN1_EX_C2I, ASN1_R_NULL_IS_WRONG_LENGTH);
        goto err;
      }
      *pval = reinterpret_cast<ASN1_VALUE*>(1);
      break;
    case ASN1_UT_BOOLEAN:
      if (len != 1) {
        ASN1err(ASN1_F_ASN1_EX_C2I, ASN1_R_BOOLEAN_IS_WRONG_LENGTH);
        goto err;
      } else {
        const int b = cont[0];
        memcpy(pval, &b, sizeof b);
      }
      break;
    case ASN1_UT_BIT_STRING:
      if (!c2i_ASN1_BIT_STRING(reinterpret_cast<ASN1_BIT_STRING**>(pval), &cont, len)) goto err;
      break;
    case ASN1_UT_INTEGER:
    case ASN1_UT_NEG_INTEGER:
    case ASN1_UT_ENUMERATED:
    case ASN1_UT_NEG_ENUMERATED: {
      auto** tint = reinterpret_cast<ASN1_INTEGER**>(pval);
      if (!c2i_ASN1_INTEGER(tint, &cont, len)) goto err;
      (*tint)->type = (utype & ~ASN1_UT_NEG) | ((*tint)->type & ASN1_UT_NEG);
      break;
    }
    default: {
      if (utype == ASN1_UT_BMPSTRING && (len & 1)) {
        ASN1err(ASN1_F_ASN1_EX_C2I, ASN1_R_BMPSTRING_IS_WRONG_LENGTH);
        goto err;
      }
      if (utype == ASN1_UT_UNIVERSALSTRING && (len & 3)) {
        ASN1err(ASN1_F_ASN1_EX_C2I, ASN1_R_UNIVERSALSTRING_IS_WRONG_LENGTH);
        goto err;
      }
      ASN1_STRING* stmp;
      if (*pval == nullptr) {
        stmp = ASN1_STRING_type_new(utype);
        if (stmp == nullptr) {
          ASN1err(ASN1_F_ASN1_EX_C2I, ERR_R_MALLOC_FAILURE);
          goto err;
        }
        *pval = reinterpret_cast<ASN1_VALUE*>(stmp);
      } else {
        stmp = reinterpret_cast<ASN1_STRING*>(*pval);
        stmp->type = utype;
      }
      if (*free_cont) {
        MORVANE_free(stmp->data);
        stmp->data = const_cast<unsigned char*>(cont);
        stmp->length = static_cast<int>(len);
        *free_cont = 0;
      } else if (!ASN1_STRING_set(stmp, cont, static_cast<int>(len))) {
        ASN1err(ASN1_F_ASN1_EX_C2I, ERR_R_MALLOC_FAILURE);
        ASN1_STRING_free(stmp);
        *pval = nullptr;
        goto err;
      }
      break;
    }
  }
  if (typ != nullptr && utype == ASN1_UT_NULL) typ->value.ptr = nullptr;
  ret = 1;
err:
  if (!ret && typ != nullptr) {
    ASN1_primitive_free(opval, it);  // the whole ASN1_TYPE; the field becomes null
  }
  return ret;
}

/* see morvane/asn1.h */
ASN1_VALUE* ASN1_item_d2i(ASN1_VALUE** pval, const unsigned char** in, long len,
                          const ASN1_ITEM* it) {
  // Refused before anything is decoded: a value passed in stays as it is.
  if (morvane::asn1::null_input(in, len, ASN1_F_ASN1_ITEM_EX_D2I)) return nullptr;
  if (it == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  ASN1_TLC ctx = {};
  ASN1_VALUE* tmp = nullptr;
  if (pval == nullptr) pval = &tmp;
  if (item_d2i(pval, in, len, it, -1, 0, 0, &ctx, 0) > 0) return *pval;
  return nullptr;
}

/* see morvane/asn1t.h */
int ASN1_item_ex_d2i(ASN1_VALUE** pval, const unsigned char** in, long len, const ASN1_ITEM* it,
                     int tag, int aclass, char opt, ASN1_TLC* ctx) {
  return item_d2i(pval, in, len, it, tag, aclass, opt, ctx, 0);
}

/* see morvane/asn1t.h */
int ASN1_template_d2i(ASN1_VALUE** pval, const unsigned char** in, long len,
                      const ASN1_TEMPLATE* tt) {
  ASN1_TLC ctx = {};
  return template_ex_d2i(pval, in, len, tt, 0, &ctx, 0);
}
