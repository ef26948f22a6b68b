// The template encoder: any value of an item as DER (streaming structures
// with indefinite lengths on request).
//
// Implementation notes: every encoding is two passes over the same routines,
// a sizing pass without output and a writing pass.  Internally a length is
// positive, 0 for an element left out, and -1 for a failure, which every
// level passes up (never summed as a length).  The top level compares what
// the writing pass wrote with what the sizing pass measured and fails rather
// than hand back unwritten octets.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "asn1/internal.h"

namespace morvane::asn1 {

namespace {

int item_i2d(ASN1_VALUE** pval, unsigned char** out, const ASN1_ITEM* it, int tag, int aclass);

// Adds a part's length to a running total: false on failure or overflow.
bool add_len(int* total, int part) {
  if (part < 0 || part > INT_MAX - *total) return false;
  *total += part;
  return true;
}

// One SET OF element while sorting.
struct DerEnc {
  unsigned char* data;
  int length;
  ASN1_VALUE* field;
};

// DER order of SET OF elements (X.690 11.6): octet by octet, a prefix first.
int der_cmp(const void* a, const void* b) {
  const auto* d1 = static_cast<const DerEnc*>(a);
  const auto* d2 = static_cast<const DerEnc*>(b);
  const int n = d1->length < d2->length ? d1->length : d2->length;
  const int cmp = n > 0 ? memcmp(d1->data, d2->data, n) : 0;
  return cmp != 0 ? cmp : d1->length - d2->length;
}

// Writes the elements of a SET OF or SEQUENCE OF; SET OF sorted (do_sort
// 1), and under SET_ORDER (do_sort 2) the STACK rewritten in that order.
bool set_seq_out(STACK* sk, unsigned char** out, int skcontlen, const ASN1_ITEM* item, int do_sort,
                 int iclass) {
  const int n = sk_num(sk);
  if (!do_sort || n < 2) {
    for (int i = 0; i < n; i++) {
      auto* skitem = reinterpret_cast<ASN1_VALUE*>(sk_value(sk, i));
      if (item_i2d(&skitem, out, item, -1, iclass) < 0) return false;
    }
    return true;
  }
  auto* derlst = static_cast<DerEnc*>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(DerEnc)));
  auto* tmpdat = static_cast<unsigned char*>(MORVANE_malloc(skcontlen > 0 ? skcontlen : 1));
  bool ok = derlst != nullptr && tmpdat != nullptr;
  if (!ok) ASN1err(ASN1_F_ASN1_TEMPLATE_EX_I2D, ERR_R_MALLOC_FAILURE);
  unsigned char* p = tmpdat;
  for (int i = 0; ok && i < n; i++) {
    auto* skitem = reinterpret_cast<ASN1_VALUE*>(sk_value(sk, i));
    derlst[i].data = p;
    derlst[i].field = skitem;
    derlst[i].length = item_i2d(&skitem, &p, item, -1, iclass);
    ok = derlst[i].length >= 0;
  }
  ok = ok && p - tmpdat == skcontlen;
  if (ok) {
    qsort(derlst, n, sizeof(DerEnc), der_cmp);
    p = *out;
    for (int i = 0; i < n; i++) {
      if (derlst[i].length > 0) memcpy(p, derlst[i].data, derlst[i].length);
      p += derlst[i].length;
    }
    *out = p;
    if (do_sort == 2)
      for (int i = 0; i < n; i++) sk_set(sk, i, reinterpret_cast<char*>(derlst[i].field));
  }
  MORVANE_free(derlst);
  MORVANE_free(tmpdat);
  return ok;
}

// Content octets of a primitive value: the length, -1 to leave the field out,
// -2 for a streamed OCTET STRING, -3 when the value cannot be written.
// *putype receives the type code of a multi-string or ANY.
int ex_i2c(ASN1_VALUE** pval, unsigned char* cout, int* putype, const ASN1_ITEM* it) {
  const auto* pf = static_cast<const ASN1_PRIMITIVE_FUNCS*>(it->funcs);
  if (pf != nullptr && pf->prim_i2c != nullptr) return pf->prim_i2c(pval, cout, putype, it);
  const bool plain_boolean = it->itype == ASN1_KIND_PRIMITIVE && it->utype == ASN1_UT_BOOLEAN;
  if (!plain_boolean && *pval == nullptr) return -1;
  int utype;
  if (it->itype == ASN1_KIND_MSTRING) {
    utype = reinterpret_cast<ASN1_STRING*>(*pval)->type;
    // A type outside the item's mask would not decode back.
    if (!(ASN1_tag2bit(utype & ~ASN1_UT_NEG) & static_cast<unsigned long>(it->utype))) return -3;
    *putype = utype;
  } else if (it->utype == ASN1_UT_ANY) {
    auto* typ = reinterpret_cast<ASN1_TYPE*>(*pval);
    utype = typ->type;
    *putype = utype;
    pval = &typ->value.asn1_value;
    // An empty ASN1_TYPE is left out; BOOLEAN and NULL hold no pointer.
    if (utype != ASN1_UT_BOOLEAN && utype != ASN1_UT_NULL && *pval == nullptr) return -1;
  } else {
    utype = *putype;
    // A time item holding a time of the other form (a UTCTime that an
    // adjustment past 2049 made a GeneralizedTime, or the reverse) would be
    // written under the item's tag in the other form's text, which no
    // reader takes for a time: refused, as a multi-string's foreign type is.
    if (utype == ASN1_UT_UTCTIME || utype == ASN1_UT_GENERALIZEDTIME) {
      const int held = reinterpret_cast<ASN1_STRING*>(*pval)->type;
      if ((held == ASN1_UT_UTCTIME || held == ASN1_UT_GENERALIZEDTIME) && held != utype) return -3;
    }
  }
  const unsigned char* cont;
  int len;
  unsigned char c;
  switch (utype) {
    case ASN1_UT_OBJECT: {
      const auto* obj = reinterpret_cast<ASN1_OBJECT*>(*pval);
      // An object without content octets (one never set, the undefined
      // object) has no encoding: X.690 8.19.2 asks for one subidentifier.
      if (obj->data == nullptr || obj->length <= 0) {
        ASN1err(ASN1_F_ASN1_TEMPLATE_EX_I2D, ASN1_R_INVALID_OBJECT_ENCODING);
        return -3;
      }
      cont = obj->data;
      len = obj->length;
      break;
    }
    case ASN1_UT_NULL:
      cont = nullptr;
      len = 0;
      break;
    case ASN1_UT_BOOLEAN: {
      int b;
      memcpy(&b, pval, sizeof b);
      if (b == -1) return -1;
      if (it->utype != ASN1_UT_ANY) {  // the item's size is the DEFAULT
        if (b != 0 && it->size > 0) return -1;
        if (b == 0 && it->size == 0) return -1;
      }
      c = static_cast<unsigned char>(b);
      cont = &c;
      len = 1;
      break;
    }
    case ASN1_UT_BIT_STRING:
      return i2c_ASN1_BIT_STRING(reinterpret_cast<ASN1_BIT_STRING*>(*pval),
                                 cout != nullptr ? &cout : nullptr);
    case ASN1_UT_INTEGER:
    case ASN1_UT_NEG_INTEGER:
    case ASN1_UT_ENUMERATED:
    case ASN1_UT_NEG_ENUMERATED:
      return i2c_ASN1_INTEGER(reinterpret_cast<ASN1_INTEGER*>(*pval),
                              cout != nullptr ? &cout : nullptr);
    default: {
      const auto* str = reinterpret_cast<ASN1_STRING*>(*pval);
      // A streamed string's content is left for the caller: only its header
      // and end-of-contents are written, and the string is not touched.
      if (it->size == ASN1_TF_NDEF && (str->flags & ASN1_STRING_NDEF)) return -2;
      if (utype < 0 && utype != ASN1_UT_OTHER) return -3;  // no type yet
      cont = str->data;
      len = str->data != nullptr ? str->length : 0;
      break;
    }
  }
  if (cout != nullptr && len > 0) memcpy(cout, cont, len);
  return len;
}

int i2d_ex_primitive(ASN1_VALUE** pval, unsigned char** out, const ASN1_ITEM* it, int tag,
                     int aclass) {
  int utype = static_cast<int>(it->utype);
  int len = ex_i2c(pval, nullptr, &utype, it);
  if (len == -1) return 0;
  if (len < -2) return -1;
  // The header of SEQUENCE, SET and other elements kept whole is in the
  // stored octets.
  const bool usetag = utype != ASN1_UT_SEQUENCE && utype != ASN1_UT_SET && utype != ASN1_UT_OTHER;
  int ndef = 0;
  if (len == -2) {
    ndef = 2;
    len = 0;
  }
  // The tag of a negative INTEGER or ENUMERATED is the code without 0x100.
  if (tag == -1) tag = utype & ~ASN1_UT_NEG;
  const int total = usetag ? ASN1_object_size(ndef, len, tag) : len;
  if (total < 0) return -1;
  if (out != nullptr) {
    if (usetag) ASN1_put_object(out, ndef, len, tag, aclass);
    if (ex_i2c(pval, *out, &utype, it) != (ndef ? -2 : len)) return -1;
    if (ndef)
      ASN1_put_eoc(out);
    else
      *out += len;
  }
  return total;
}

int template_i2d(ASN1_VALUE** pval, unsigned char** out, const ASN1_TEMPLATE* tt, int tag,
                 int iclass) {
  const unsigned long flags = tt->flags;
  int ttag, tclass = 0;
  if (flags & ASN1_TF_TAG_MASK) {
    if (tag != -1) return -1;  // a tag asked for twice
    ttag = static_cast<int>(tt->tag);
    tclass = static_cast<int>(flags & ASN1_TF_TAG_CLASS);
  } else if (tag != -1) {
    ttag = tag;
    tclass = iclass & ASN1_TF_TAG_CLASS;
  } else {
    ttag = -1;
  }
  iclass &= ~ASN1_TF_TAG_CLASS;
  const int ndef = ((flags & ASN1_TF_NDEF) && (iclass & ASN1_TF_NDEF)) ? 2 : 1;
  const bool explicit_tag = (flags & ASN1_TF_EXPLICIT) != 0;

  if (flags & ASN1_TF_SK_MASK) {
    STACK* sk = reinterpret_cast<STACK*>(*pval);
    if (sk == nullptr) return 0;
    int isset = 0;
    if (flags & ASN1_TF_SET_OF) isset = (flags & ASN1_TF_SEQUENCE_OF) ? 2 : 1;
    int sktag, skaclass;
    if (ttag != -1 && !explicit_tag) {
      sktag = ttag;
      skaclass = tclass;
    } else {
      skaclass = ASN1_CLASS_UNIVERSAL;
      sktag = isset ? ASN1_UT_SET : ASN1_UT_SEQUENCE;
    }
    int skcontlen = 0;
    for (int i = 0; i < sk_num(sk); i++) {
      auto* skitem = reinterpret_cast<ASN1_VALUE*>(sk_value(sk, i));
      if (!add_len(&skcontlen, item_i2d(&skitem, nullptr, tt->item, -1, iclass))) return -1;
    }
    const int sklen = ASN1_object_size(ndef, skcontlen, sktag);
    if (sklen < 0) return -1;
    const int ret = explicit_tag ? ASN1_object_size(ndef, sklen, ttag) : sklen;
    if (ret < 0 || out == nullptr) return ret;
    if (explicit_tag) ASN1_put_object(out, ndef, sklen, ttag, tclass);
    ASN1_put_object(out, ndef, skcontlen, sktag, skaclass);
    if (!set_seq_out(sk, out, skcontlen, tt->item, isset, iclass)) return -1;
    if (ndef == 2) {
      ASN1_put_eoc(out);
      if (explicit_tag) ASN1_put_eoc(out);
    }
    return ret;
  }

  if (explicit_tag) {
    const int i = item_i2d(pval, nullptr, tt->item, -1, iclass);
    if (i <= 0) return i;  // an absent inner value: no empty wrapper
    const int ret = ASN1_object_size(ndef, i, ttag);
    if (ret < 0) return -1;
    if (out != nullptr) {
      ASN1_put_object(out, ndef, i, ttag, tclass);
      if (item_i2d(pval, out, tt->item, -1, iclass) != i) return -1;
      if (ndef == 2) ASN1_put_eoc(out);
    }
    return ret;
  }
  return item_i2d(pval, out, tt->item, ttag, tclass | iclass);
}

int sequence_i2d(ASN1_VALUE** pval, unsigned char** out, const ASN1_ITEM* it, int tag, int aclass,
                 int ndef) {
  int seqcontlen;
  if (asn1_enc_restore(&seqcontlen, out, pval, it)) return seqcontlen;
  seqcontlen = 0;
  if (tag == -1) {
    tag = ASN1_UT_SEQUENCE;
    aclass = (aclass & ~ASN1_TF_TAG_CLASS) | ASN1_CLASS_UNIVERSAL;
  }
  if (!run_callback(ASN1_CBOP_I2D_PRE, pval, it)) return -1;
  for (long i = 0; i < it->tcount; i++) {
    const ASN1_TEMPLATE* seqtt = asn1_do_adb(pval, &it->templates[i], 1);
    if (seqtt == nullptr) return -1;
    ASN1_VALUE** pseqval = asn1_get_field_ptr(pval, seqtt);
    if (!add_len(&seqcontlen, template_i2d(pseqval, nullptr, seqtt, -1, aclass))) return -1;
  }
  const int seqlen = ASN1_object_size(ndef, seqcontlen, tag);
  if (seqlen < 0 || out == nullptr) return seqlen;
  ASN1_put_object(out, ndef, seqcontlen, tag, aclass);
  for (long i = 0; i < it->tcount; i++) {
    const ASN1_TEMPLATE* seqtt = asn1_do_adb(pval, &it->templates[i], 1);
    if (seqtt == nullptr) return -1;
    if (template_i2d(asn1_get_field_ptr(pval, seqtt), out, seqtt, -1, aclass) < 0) return -1;
  }
  if (ndef == 2) ASN1_put_eoc(out);
  if (!run_callback(ASN1_CBOP_I2D_POST, pval, it)) return -1;
  return seqlen;
}

int item_i2d(ASN1_VALUE** pval, unsigned char** out, const ASN1_ITEM* it, int tag, int aclass) {
  if (it->itype != ASN1_KIND_PRIMITIVE && *pval == nullptr) return 0;
  switch (it->itype) {
    case ASN1_KIND_PRIMITIVE:
      if (it->templates != nullptr) return template_i2d(pval, out, it->templates, tag, aclass);
      return i2d_ex_primitive(pval, out, it, tag, aclass);
    case ASN1_KIND_MSTRING:
      return i2d_ex_primitive(pval, out, it, -1, aclass);
    case ASN1_KIND_EXTERN: {
      const auto* ef = static_cast<const ASN1_EXTERN_FUNCS*>(it->funcs);
      return ef->asn1_ex_i2d(pval, out, it, tag, aclass);
    }
    case ASN1_KIND_CHOICE: {
      if (!run_callback(ASN1_CBOP_I2D_PRE, pval, it)) return -1;
      const int i = asn1_get_choice_selector(pval, it);
      if (i >= 0 && i < it->tcount) {
        const ASN1_TEMPLATE* chtt = &it->templates[i];
        return template_i2d(asn1_get_field_ptr(pval, chtt), out, chtt, -1, aclass);
      }
      run_callback(ASN1_CBOP_I2D_POST, pval, it);
      return 0;
    }
    case ASN1_KIND_NDEF_SEQUENCE:
      return sequence_i2d(pval, out, it, tag, aclass, (aclass & ASN1_TF_NDEF) ? 2 : 1);
    case ASN1_KIND_SEQUENCE:
      return sequence_i2d(pval, out, it, tag, aclass, 1);
    default:  // the old-style codec is not supported
      return -1;
  }
}

// The public entry: sizing, allocation, writing, and the check that the
// writing pass wrote what the sizing pass measured.
int item_i2d_top(ASN1_VALUE* val, unsigned char** out, const ASN1_ITEM* it, int flags) {
  if (out == nullptr) return item_i2d(&val, nullptr, it, -1, flags);
  if (*out != nullptr) {
    unsigned char* const start = *out;
    const int len = item_i2d(&val, out, it, -1, flags);
    if (len > 0 && *out - start != len) return -1;
    return len;
  }
  const int len = item_i2d(&val, nullptr, it, -1, flags);
  if (len <= 0) return len;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(len));
  if (buf == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_I2D, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  unsigned char* p = buf;
  if (item_i2d(&val, &p, it, -1, flags) != len || p - buf != len) {
    MORVANE_free(buf);
    return -1;
  }
  *out = buf;
  return len;
}

}  // namespace

}  // namespace morvane::asn1

using namespace morvane::asn1;

/* see morvane/asn1.h */
int ASN1_item_i2d(ASN1_VALUE* val, unsigned char** out, const ASN1_ITEM* it) {
  return item_i2d_top(val, out, it, 0);
}

/* see morvane/asn1.h */
int ASN1_item_ndef_i2d(ASN1_VALUE* val, unsigned char** out, const ASN1_ITEM* it) {
  return item_i2d_top(val, out, it, ASN1_TF_NDEF);
}

/* see morvane/asn1t.h */
int ASN1_item_ex_i2d(ASN1_VALUE** pval, unsigned char** out, const ASN1_ITEM* it, int tag,
                     int aclass) {
  return item_i2d(pval, out, it, tag, aclass);
}

/* see morvane/asn1t.h */
int ASN1_template_i2d(ASN1_VALUE** pval, unsigned char** out, const ASN1_TEMPLATE* tt) {
  return template_i2d(pval, out, tt, -1, 0);
}

/* see morvane/asn1.h */
void* ASN1_item_dup(const ASN1_ITEM* it, void* x) {
  if (x == nullptr) return nullptr;
  unsigned char* b = nullptr;
  const int len = ASN1_item_i2d(static_cast<ASN1_VALUE*>(x), &b, it);
  if (b == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_DUP, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  const unsigned char* p = b;
  void* ret = ASN1_item_d2i(nullptr, &p, len, it);
  MORVANE_free(b);
  return ret;
}
