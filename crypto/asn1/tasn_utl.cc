// The routines that creation, freeing, decoding and encoding of templates
// share, and the tag-to-mask table of multi-strings.

#include <stddef.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "asn1/internal.h"

// The public records' layout on this platform (LP64).
static_assert(offsetof(ASN1_ITEM, utype) == 8 && offsetof(ASN1_ITEM, templates) == 16 &&
              offsetof(ASN1_ITEM, funcs) == 32 && offsetof(ASN1_ITEM, sname) == 48 &&
              sizeof(ASN1_ITEM) == 56);
static_assert(offsetof(ASN1_TEMPLATE, offset) == 16 && offsetof(ASN1_TEMPLATE, item) == 32 &&
              offsetof(ASN1_TEMPLATE, adb) == 32 && sizeof(ASN1_TEMPLATE) == 40);
static_assert(offsetof(ASN1_AUX, ref_offset) == 12 && offsetof(ASN1_AUX, asn1_cb) == 24 &&
              offsetof(ASN1_AUX, enc_offset) == 32 && sizeof(ASN1_AUX) == 40);
static_assert(offsetof(ASN1_ADB, tbl) == 24 && offsetof(ASN1_ADB, default_tt) == 40 &&
              sizeof(ASN1_ADB_TABLE) == 48);
static_assert(ASN1_TF_SET_ORDER == (ASN1_TF_SET_OF | ASN1_TF_SEQUENCE_OF));

namespace morvane::asn1 {

namespace {

template <typename T>
T* at_offset(ASN1_VALUE* base, long offset) {
  return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(base) + offset);
}

bool is_sequence(const ASN1_ITEM* it) {
  return it->itype == ASN1_KIND_SEQUENCE || it->itype == ASN1_KIND_NDEF_SEQUENCE;
}

// The cached encoding of *pval, or null when its item keeps none.
ASN1_ENCODING* enc_of(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  if (pval == nullptr || *pval == nullptr || !is_sequence(it)) return nullptr;
  const ASN1_AUX* aux = aux_of(it);
  if (aux == nullptr || !(aux->flags & ASN1_AUX_ENCODING)) return nullptr;
  return at_offset<ASN1_ENCODING>(*pval, aux->enc_offset);
}

}  // namespace

const ASN1_AUX* aux_of(const ASN1_ITEM* it) {
  if (!is_sequence(it) && it->itype != ASN1_KIND_CHOICE) return nullptr;
  return static_cast<const ASN1_AUX*>(it->funcs);
}

int run_callback(int op, ASN1_VALUE** pval, const ASN1_ITEM* it) {
  const ASN1_AUX* aux = aux_of(it);
  if (aux == nullptr || aux->asn1_cb == nullptr) return 1;
  return aux->asn1_cb(op, pval, it);
}

}  // namespace morvane::asn1

using namespace morvane::asn1;

/* see morvane/asn1t.h */
ASN1_VALUE** asn1_get_field_ptr(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt) {
  if (tt->flags & ASN1_TF_COMBINE) return pval;
  return at_offset<ASN1_VALUE*>(*pval, static_cast<long>(tt->offset));
}

/* see morvane/asn1t.h */
int asn1_get_choice_selector(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  return *at_offset<int>(*pval, it->utype);
}

/* see morvane/asn1t.h */
int asn1_set_choice_selector(ASN1_VALUE** pval, int value, const ASN1_ITEM* it) {
  int* sel = at_offset<int>(*pval, it->utype);
  const int old = *sel;
  *sel = value;
  return old;
}

/* see morvane/asn1t.h */
int asn1_do_lock(ASN1_VALUE** pval, int op, const ASN1_ITEM* it) {
  if (pval == nullptr || *pval == nullptr || !is_sequence(it)) return 0;
  const ASN1_AUX* aux = aux_of(it);
  if (aux == nullptr || !(aux->flags & ASN1_AUX_REFCOUNT)) return 0;
  int* count = at_offset<int>(*pval, aux->ref_offset);
  if (op == 0) {
    *count = 1;
    return 1;
  }
  return CRYPTO_add(count, op, aux->ref_lock);
}

/* see morvane/asn1t.h */
void asn1_enc_init(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  ASN1_ENCODING* enc = enc_of(pval, it);
  if (enc == nullptr) return;
  enc->enc = nullptr;
  enc->len = 0;
  enc->modified = 1;
  enc->digested = 0;
}

/* see morvane/asn1t.h */
void asn1_enc_free(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  ASN1_ENCODING* enc = enc_of(pval, it);
  if (enc == nullptr) return;
  MORVANE_free(enc->enc);
  enc->enc = nullptr;
  enc->len = 0;
  enc->modified = 1;
  enc->digested = 0;
}

/* see morvane/asn1t.h */
int asn1_enc_save(ASN1_VALUE** pval, const unsigned char* in, int inlen, const ASN1_ITEM* it) {
  ASN1_ENCODING* enc = enc_of(pval, it);
  if (enc == nullptr) return 1;
  // Whatever happens, the old octets (and their digest) are no longer the
  // structure's encoding.
  MORVANE_free(enc->enc);
  enc->enc = nullptr;
  enc->len = 0;
  enc->modified = 1;
  enc->digested = 0;
  if (inlen < 0 || (inlen > 0 && in == nullptr)) return 0;
  enc->enc = static_cast<unsigned char*>(MORVANE_malloc(inlen > 0 ? inlen : 1));
  if (enc->enc == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (inlen > 0) memcpy(enc->enc, in, static_cast<size_t>(inlen));
  enc->len = inlen;
  enc->modified = 0;
  return 1;
}

/* see morvane/asn1t.h */
int asn1_enc_restore(int* len, unsigned char** out, ASN1_VALUE** pval, const ASN1_ITEM* it) {
  const ASN1_ENCODING* enc = enc_of(pval, it);
  if (enc == nullptr || enc->modified) return 0;
  if (out != nullptr) {
    if (enc->len > 0) memcpy(*out, enc->enc, static_cast<size_t>(enc->len));
    *out += enc->len;
  }
  if (len != nullptr) *len = static_cast<int>(enc->len);
  return 1;
}

/* see morvane/asn1t.h */
const ASN1_TEMPLATE* asn1_do_adb(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt, int nullerr) {
  if (!(tt->flags & ASN1_TF_ADB_MASK)) return tt;
  const ASN1_ADB* adb = tt->adb;
  ASN1_VALUE* sfld = *at_offset<ASN1_VALUE*>(*pval, static_cast<long>(adb->offset));
  long selector = 0;  // an absent selector counts as 0
  if (sfld != nullptr) {
    if (tt->flags & ASN1_TF_ADB_OID)
      selector = OBJ_obj2nid(reinterpret_cast<ASN1_OBJECT*>(sfld));
    else
      selector = ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(sfld));
  }
  for (long i = 0; i < adb->tblcount; i++)
    if (adb->tbl[i].value == selector) return &adb->tbl[i].tt;
  if (adb->default_tt != nullptr) return adb->default_tt;
  if (nullerr) ASN1err(ASN1_F_ASN1_DO_ADB, ASN1_R_UNSUPPORTED_ANY_DEFINED_BY_TYPE);
  return nullptr;
}

namespace {

// The mask bit of each universal tag 0..30 (0x1000: a type that no mask names).
constexpr unsigned long kTag2Bit[31] = {
    0,      0,      0,      0x0400, 0x0200, 0,      0,      0x1000,  // 0-7
    0x1000, 0x1000, 0x1000, 0x1000, 0x2000, 0x1000, 0x1000, 0x1000,  // 8-15
    0x10000, 0,     0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x4000,  // 16-23
    0x8000, 0x0020, 0x0040, 0x0080, 0x0100, 0x1000, 0x0800,          // 24-30
};

}  // namespace

/* see morvane/asn1t.h */
unsigned long ASN1_tag2bit(int tag) {
  if (tag < 0 || tag > 30) return 0;
  return kTag2Bit[tag];
}
