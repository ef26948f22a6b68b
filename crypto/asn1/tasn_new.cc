// Creation of any value from its item: structures with their mandatory
// fields, the absent values of OPTIONAL fields, the creation callbacks and
// reference counts, and the primitives' initial values.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>

#include "asn1/internal.h"

namespace morvane::asn1 {

namespace {

void template_clear(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt);

// Stores an int in a field that holds it in place of a pointer (BOOLEAN).
void set_int_field(ASN1_VALUE** pval, int value) { memcpy(pval, &value, sizeof value); }

// Sets the field to its item's absent value.
void item_clear(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  switch (it->itype) {
    case ASN1_KIND_EXTERN: {
      const auto* ef = static_cast<const ASN1_EXTERN_FUNCS*>(it->funcs);
      if (ef != nullptr && ef->asn1_ex_clear != nullptr)
        ef->asn1_ex_clear(pval, it);
      else
        *pval = nullptr;
      return;
    }
    case ASN1_KIND_PRIMITIVE:
      if (it->templates != nullptr) {
        template_clear(pval, it->templates);
        return;
      }
      [[fallthrough]];
    case ASN1_KIND_MSTRING: {
      const auto* pf = static_cast<const ASN1_PRIMITIVE_FUNCS*>(
          it->itype == ASN1_KIND_PRIMITIVE ? it->funcs : nullptr);
      if (pf != nullptr) {
        if (pf->prim_clear != nullptr)
          pf->prim_clear(pval, it);
        else
          *pval = nullptr;
      } else if (it->itype == ASN1_KIND_PRIMITIVE && it->utype == ASN1_UT_BOOLEAN) {
        set_int_field(pval, static_cast<int>(it->size));
      } else {
        *pval = nullptr;
      }
      return;
    }
    default:  // SEQUENCE, NDEF SEQUENCE, CHOICE, compatibility
      *pval = nullptr;
  }
}

void template_clear(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt) {
  if (tt->flags & (ASN1_TF_ADB_MASK | ASN1_TF_SK_MASK))
    *pval = nullptr;
  else
    item_clear(pval, tt->item);
}

// Creates a CHOICE or a sequence; `choice` selects the first.
int structure_new(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine, bool choice) {
  const int pre = run_callback(ASN1_CBOP_NEW_PRE, pval, it);
  if (pre == 0) goto auxerr;
  if (pre == 2) return 1;  // the callback made the value
  if (!combine) {
    *pval = static_cast<ASN1_VALUE*>(MORVANE_malloc(it->size));
    if (*pval == nullptr) goto memerr;
    memset(*pval, 0, it->size);
  }
  if (choice) {
    asn1_set_choice_selector(pval, -1, it);
  } else {
    if (!combine) {
      asn1_do_lock(pval, 0, it);
      asn1_enc_init(pval, it);
    }
    for (long i = 0; i < it->tcount; i++) {
      const ASN1_TEMPLATE* tt = &it->templates[i];
      if (!ASN1_template_new(asn1_get_field_ptr(pval, tt), tt)) goto memerr2;
    }
  }
  if (!run_callback(ASN1_CBOP_NEW_POST, pval, it)) goto auxerr;
  return 1;

memerr2:
  item_ex_free(pval, it, combine);
memerr:
  ASN1err(ASN1_F_ASN1_ITEM_EX_COMBINE_NEW, ERR_R_MALLOC_FAILURE);
  return 0;
auxerr:
  ASN1err(ASN1_F_ASN1_ITEM_EX_COMBINE_NEW, ASN1_R_AUX_ERROR);
  item_ex_free(pval, it, combine);
  return 0;
}

}  // namespace

int item_ex_new(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine) {
  // A primitive's field is written by its creation below at the field's own
  // width (a BOOLEAN is an int in place of a pointer); every other kind's
  // field is a pointer, null until the value exists.
  const bool primitive = it->itype == ASN1_KIND_PRIMITIVE || it->itype == ASN1_KIND_MSTRING;
  if (!combine && !primitive) *pval = nullptr;
  bool ok = true;
  switch (it->itype) {
    case ASN1_KIND_EXTERN: {
      const auto* ef = static_cast<const ASN1_EXTERN_FUNCS*>(it->funcs);
      if (ef != nullptr && ef->asn1_ex_new != nullptr) ok = ef->asn1_ex_new(pval, it) != 0;
      break;
    }
    case ASN1_KIND_COMPAT: {
      const auto* cf = static_cast<const ASN1_COMPAT_FUNCS*>(it->funcs);
      if (cf != nullptr && cf->asn1_new != nullptr) {
        *pval = static_cast<ASN1_VALUE*>(cf->asn1_new());
        ok = *pval != nullptr;
      }
      break;
    }
    case ASN1_KIND_PRIMITIVE:
      if (it->templates != nullptr) {
        ok = ASN1_template_new(pval, it->templates) != 0;
        break;
      }
      [[fallthrough]];
    case ASN1_KIND_MSTRING:
      ok = ASN1_primitive_new(pval, it) != 0;
      break;
    case ASN1_KIND_CHOICE:
      return structure_new(pval, it, combine, true);
    case ASN1_KIND_SEQUENCE:
    case ASN1_KIND_NDEF_SEQUENCE:
      return structure_new(pval, it, combine, false);
    default:
      break;
  }
  if (!ok) ASN1err(ASN1_F_ASN1_ITEM_EX_COMBINE_NEW, ERR_R_MALLOC_FAILURE);
  return ok ? 1 : 0;
}

}  // namespace morvane::asn1

using namespace morvane::asn1;

/* see morvane/asn1.h */
ASN1_VALUE* ASN1_item_new(const ASN1_ITEM* it) {
  ASN1_VALUE* ret = nullptr;
  if (ASN1_item_ex_new(&ret, it) > 0) return ret;
  return nullptr;
}

/* see morvane/asn1t.h */
int ASN1_item_ex_new(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  return item_ex_new(pval, it, false);
}

/* see morvane/asn1t.h */
int ASN1_template_new(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt) {
  // A combined item has no absent value of its own (its field is the parent
  // structure itself): it is created even when OPTIONAL.
  if ((tt->flags & ASN1_TF_OPTIONAL) && !(tt->flags & ASN1_TF_COMBINE)) {
    template_clear(pval, tt);
    return 1;
  }
  // An ANY DEFINED BY field stays null: its rows name the field, which the
  // zero-filled structure already holds as null.
  if (tt->flags & ASN1_TF_ADB_MASK) return 1;
  if (tt->flags & ASN1_TF_SK_MASK) {
    *pval = reinterpret_cast<ASN1_VALUE*>(sk_new_null());
    if (*pval == nullptr) {
      ASN1err(ASN1_F_ASN1_TEMPLATE_NEW, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    return 1;
  }
  return item_ex_new(pval, tt->item, (tt->flags & ASN1_TF_COMBINE) != 0);
}

/* see morvane/asn1t.h */
int ASN1_primitive_new(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  if (it != nullptr && it->itype == ASN1_KIND_PRIMITIVE && it->funcs != nullptr) {
    const auto* pf = static_cast<const ASN1_PRIMITIVE_FUNCS*>(it->funcs);
    if (pf->prim_new != nullptr) return pf->prim_new(pval, it);
  }
  const long utype =
      (it == nullptr || it->itype == ASN1_KIND_MSTRING) ? ASN1_UT_UNDEF : it->utype;
  switch (utype) {
    case ASN1_UT_OBJECT:
      *pval = reinterpret_cast<ASN1_VALUE*>(OBJ_nid2obj(0)  /* the undefined object */);
      return 1;
    case ASN1_UT_BOOLEAN:
      set_int_field(pval, static_cast<int>(it->size));
      return 1;
    case ASN1_UT_NULL:
      *pval = reinterpret_cast<ASN1_VALUE*>(1);  // the presence marker
      return 1;
    case ASN1_UT_ANY: {
      auto* typ = static_cast<ASN1_TYPE*>(MORVANE_malloc(sizeof(ASN1_TYPE)));
      *pval = reinterpret_cast<ASN1_VALUE*>(typ);
      if (typ == nullptr) {
        ASN1err(ASN1_F_ASN1_ITEM_EX_COMBINE_NEW, ERR_R_MALLOC_FAILURE);
        return 0;
      }
      typ->type = ASN1_UT_UNDEF;
      typ->value.ptr = nullptr;
      return 1;
    }
    default:
      *pval = reinterpret_cast<ASN1_VALUE*>(ASN1_STRING_type_new(static_cast<int>(utype)));
      return *pval != nullptr;
  }
}
