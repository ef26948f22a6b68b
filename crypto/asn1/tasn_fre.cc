// Freeing of any value from its item: reference counts, the free callbacks,
// fields released from the last to the first, and every field left holding
// its absent value.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/stack.h>

#include "asn1/internal.h"

namespace morvane::asn1 {

namespace {

// Releases a CHOICE or a sequence; `choice` selects the first.
void structure_free(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine, bool choice) {
  if (!choice && asn1_do_lock(pval, -1, it) > 0) return;  // other references remain
  if (run_callback(ASN1_CBOP_FREE_PRE, pval, it) == 2) return;
  if (choice) {
    const int i = asn1_get_choice_selector(pval, it);
    if (i >= 0 && i < it->tcount) {
      const ASN1_TEMPLATE* tt = &it->templates[i];
      ASN1_template_free(asn1_get_field_ptr(pval, tt), tt);
    }
  } else {
    asn1_enc_free(pval, it);
    // Last field first, so that an ANY DEFINED BY field is resolved while its
    // selector before it still exists.
    for (long i = it->tcount - 1; i >= 0; i--) {
      const ASN1_TEMPLATE* tt = asn1_do_adb(pval, &it->templates[i], 0);
      if (tt == nullptr) continue;  // no row and no default: left alone
      ASN1_template_free(asn1_get_field_ptr(pval, tt), tt);
    }
  }
  run_callback(ASN1_CBOP_FREE_POST, pval, it);
  if (!combine) {
    MORVANE_free(*pval);
    *pval = nullptr;
  }
}

}  // namespace

void item_ex_free(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine) {
  if (pval == nullptr) return;
  if (it->itype != ASN1_KIND_PRIMITIVE && *pval == nullptr) return;
  switch (it->itype) {
    case ASN1_KIND_PRIMITIVE:
      if (it->templates != nullptr) {
        ASN1_template_free(pval, it->templates);
        return;
      }
      [[fallthrough]];
    case ASN1_KIND_MSTRING:
      ASN1_primitive_free(pval, it);
      return;
    case ASN1_KIND_CHOICE:
      structure_free(pval, it, combine, true);
      return;
    case ASN1_KIND_COMPAT: {
      const auto* cf = static_cast<const ASN1_COMPAT_FUNCS*>(it->funcs);
      if (cf != nullptr && cf->asn1_free != nullptr) cf->asn1_free(*pval);
      return;
    }
    case ASN1_KIND_EXTERN: {
      const auto* ef = static_cast<const ASN1_EXTERN_FUNCS*>(it->funcs);
      if (ef != nullptr && ef->asn1_ex_free != nullptr) ef->asn1_ex_free(pval, it);
      return;
    }
    case ASN1_KIND_SEQUENCE:
    case ASN1_KIND_NDEF_SEQUENCE:
      structure_free(pval, it, combine, false);
      return;
    default:
      return;
  }
}

}  // namespace morvane::asn1

using namespace morvane::asn1;

/* see morvane/asn1.h */
void ASN1_item_free(ASN1_VALUE* val, const ASN1_ITEM* it) {
  if (val == nullptr) return;  // nothing to free: the item is not read
  item_ex_free(&val, it, false);
}

/* see morvane/asn1t.h */
void ASN1_item_ex_free(ASN1_VALUE** pval, const ASN1_ITEM* it) { item_ex_free(pval, it, false); }

/* see morvane/asn1t.h */
void ASN1_template_free(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt) {
  if (tt->flags & ASN1_TF_SK_MASK) {
    STACK* sk = reinterpret_cast<STACK*>(*pval);
    for (int i = 0; i < sk_num(sk); i++) {
      auto* vtmp = reinterpret_cast<ASN1_VALUE*>(sk_value(sk, i));
      item_ex_free(&vtmp, tt->item, false);
    }
    sk_free(sk);
    *pval = nullptr;
    return;
  }
  item_ex_free(pval, tt->item, (tt->flags & ASN1_TF_COMBINE) != 0);
}

/* see morvane/asn1t.h */
void ASN1_primitive_free(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  long utype;
  if (it != nullptr) {
    const auto* pf = static_cast<const ASN1_PRIMITIVE_FUNCS*>(
        it->itype == ASN1_KIND_PRIMITIVE ? it->funcs : nullptr);
    if (pf != nullptr && pf->prim_free != nullptr) {
      pf->prim_free(pval, it);
      return;
    }
  }
  ASN1_TYPE* typ = nullptr;
  if (it == nullptr) {  // the contents of an ASN1_TYPE
    typ = reinterpret_cast<ASN1_TYPE*>(*pval);
    utype = typ->type;
    pval = reinterpret_cast<ASN1_VALUE**>(&typ->value.asn1_value);
    if (utype != ASN1_UT_BOOLEAN && *pval == nullptr) return;
  } else if (it->itype == ASN1_KIND_MSTRING) {
    utype = ASN1_UT_UNDEF;  // a string of any type
    if (*pval == nullptr) return;
  } else {
    utype = it->utype;
    if (utype != ASN1_UT_BOOLEAN && *pval == nullptr) return;
  }
  switch (utype) {
    case ASN1_UT_OBJECT:
      ASN1_OBJECT_free(reinterpret_cast<ASN1_OBJECT*>(*pval));
      break;
    case ASN1_UT_BOOLEAN: {
      // The field is the value: reset it and release nothing.
      const int absent = it != nullptr ? static_cast<int>(it->size) : -1;
      memcpy(pval, &absent, sizeof absent);
      return;
    }
    case ASN1_UT_NULL:
      break;
    case ASN1_UT_ANY:
      ASN1_primitive_free(pval, nullptr);
      MORVANE_free(*pval);
      break;
    default:
      ASN1_STRING_free(reinterpret_cast<ASN1_STRING*>(*pval));
      break;
  }
  *pval = nullptr;
}
