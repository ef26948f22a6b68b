// The generic item test: every item of the registry (crypto/asn1/items.def)
// is created and freed through the engine and through its own functions,
// X_free(NULL) does nothing, and the item names itself; a value of each item
// is encoded, decoded, encoded again and duplicated with equal octets, and
// every proper prefix of its encoding is refused.  The rows are generated
// from the registry, so a new item is covered by adding its row.

#include <set>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>
#include <morvane/krb5_asn.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/ocsp.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "test_support.h"

namespace {

struct ItemRow {
  const char* name;
  const ASN1_ITEM* it;
  void* (*make)();           // X_new, or null
  void (*release)(void* p);  // X_free, or null
};

const ItemRow kItems[] = {
#include "asn1_item_table.inc"
};

// Items whose value is held in the parent's field: a fresh one is the absent
// (or DEFAULT) value, which encodes to nothing.
const std::set<std::string> kInField = {"ASN1_BOOLEAN", "ASN1_TBOOLEAN", "ASN1_FBOOLEAN", "LONG",
                                        "ZLONG"};

std::string Encode(ASN1_VALUE* v, const ASN1_ITEM* it) {
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(v, &der, it);
  EXPECT_EQ(n, ASN1_item_i2d(v, nullptr, it));
  if (n <= 0) return "";
  std::string out(reinterpret_cast<char*>(der), n);
  MORVANE_free(der);
  return out;
}

ASN1_VALUE* Decode(const std::string& der, const ASN1_ITEM* it) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  return ASN1_item_d2i(nullptr, &p, static_cast<long>(der.size()), it);
}

// A SEQUENCE, streamed (indefinite length when asked) or not.
bool IsSequence(const ASN1_ITEM* it) {
  return it->itype == ASN1_KIND_SEQUENCE || it->itype == ASN1_KIND_NDEF_SEQUENCE;
}

// An item that is one SEQUENCE under an outer tag.
bool WrapsSequence(const ASN1_ITEM* it) {
  return it->itype == ASN1_KIND_PRIMITIVE && it->templates != nullptr &&
         !(it->templates->flags & ASN1_TF_SK_MASK) &&
         it->templates->item->itype == ASN1_KIND_SEQUENCE;
}

// Sets the absent INTEGER fields held as BIGNUMs (keys and parameters) to
// zero, in the fields of a SEQUENCE or CHOICE and of items combined into it,
// so that the value has every mandatory field.
void FillNumbers(ASN1_VALUE* v, const ASN1_ITEM* it) {
  if (it->itype != ASN1_KIND_SEQUENCE && it->itype != ASN1_KIND_CHOICE) return;
  for (long i = 0; i < it->tcount; i++) {
    const ASN1_TEMPLATE& tt = it->templates[i];
    if (tt.flags & ASN1_TF_COMBINE) {
      FillNumbers(v, tt.item);
    } else if ((tt.item == &BIGNUM_it || tt.item == &CBIGNUM_it) &&
               !(tt.flags & ASN1_TF_OPTIONAL)) {
      auto** field = reinterpret_cast<BIGNUM**>(reinterpret_cast<char*>(v) + tt.offset);
      if (*field == nullptr) *field = BN_new();
    }
  }
}

// A value that has something to encode: fresh multi-strings and ANY values
// have no type yet and get the first one their item accepts (NULL for ANY);
// a SEQUENCE kept whole gets an empty one; a CHOICE its first list or string alternative;
// an attribute gets an empty SET of
// values (a fresh one has chosen no form yet); a structure's mandatory fields
// of those kinds get such values, and its mandatory INTEGERs a value (a
// Netscape key record's version 0: a fresh LONG is absent); a SEQUENCE
// under an outer tag is filled as the SEQUENCE.
ASN1_VALUE* MakeValue(const ASN1_ITEM* it) {
  ASN1_VALUE* v = ASN1_item_new(it);
  if (it == &X509_ATTRIBUTE_it) {
    auto* attr = reinterpret_cast<X509_ATTRIBUTE*>(v);
    attr->single = 0;
    attr->value.set = sk_new_null();
  } else if (it->itype == ASN1_KIND_CHOICE &&
             *reinterpret_cast<int*>(reinterpret_cast<char*>(v) + it->utype) < 0) {
    // A fresh CHOICE has chosen nothing: take the first alternative that is
    // a list (empty) or a string.
    for (long i = 0; i < it->tcount; i++) {
      const ASN1_TEMPLATE& tt = it->templates[i];
      const bool string = tt.item->itype == ASN1_KIND_PRIMITIVE && tt.item->templates == nullptr &&
                          tt.item->utype != ASN1_UT_ANY && tt.item->utype != ASN1_UT_OBJECT &&
                          tt.item->utype != ASN1_UT_BOOLEAN && tt.item->utype != ASN1_UT_SEQUENCE;
      if (!(tt.flags & ASN1_TF_SK_MASK) && !string) continue;
      auto** field = reinterpret_cast<void**>(reinterpret_cast<char*>(v) + tt.offset);
      *field = (tt.flags & ASN1_TF_SK_MASK) ? static_cast<void*>(sk_new_null())
                                            : static_cast<void*>(ASN1_item_new(tt.item));
      *reinterpret_cast<int*>(reinterpret_cast<char*>(v) + it->utype) = static_cast<int>(i);
      break;
    }
  } else if (it->itype == ASN1_KIND_MSTRING) {
    int tag = 0;
    while (tag == ASN1_UT_SEQUENCE || !(ASN1_tag2bit(tag) & static_cast<unsigned long>(it->utype)))
      tag++;
    reinterpret_cast<ASN1_STRING*>(v)->type = tag;
  } else if (it->itype == ASN1_KIND_PRIMITIVE && it->utype == ASN1_UT_ANY) {
    ASN1_TYPE_set(reinterpret_cast<ASN1_TYPE*>(v), ASN1_UT_NULL, nullptr);
  } else if (it->itype == ASN1_KIND_PRIMITIVE && it->utype == ASN1_UT_SEQUENCE) {
    ASN1_STRING_set(reinterpret_cast<ASN1_STRING*>(v), "\x30\x00", 2);  // kept whole
  } else if (IsSequence(it) || WrapsSequence(it)) {
    // A SEQUENCE under an outer tag has the structure of the inner one.
    const ASN1_ITEM* seq = IsSequence(it) ? it : it->templates->item;
    for (long i = 0; i < seq->tcount; i++) {
      const ASN1_TEMPLATE* tt = &seq->templates[i];
      const ASN1_ITEM* f = tt->item;
      if (f == &ASN1_INTEGER_it && !(tt->flags & (ASN1_TF_OPTIONAL | ASN1_TF_SK_MASK))) {
        // A fresh INTEGER is written as zero; a value of its own shows more.
        ASN1_INTEGER_set(*reinterpret_cast<ASN1_INTEGER**>(reinterpret_cast<char*>(v) + tt->offset),
                         1);
        continue;
      }
      if ((tt->flags & ASN1_TF_ADB_MASK) && tt->adb->default_tt != nullptr &&
          tt->adb->default_tt->item == &ASN1_ANY_it) {
        // A fresh selector names no row: the default ANY gets a NULL.
        const ASN1_TEMPLATE* d = tt->adb->default_tt;
        auto** field = reinterpret_cast<ASN1_VALUE**>(reinterpret_cast<char*>(v) + d->offset);
        if (*field == nullptr) *field = MakeValue(&ASN1_ANY_it);
        continue;
      }
      if (f == &LONG_it && !(tt->flags & ASN1_TF_OPTIONAL)) {
        // A fresh LONG is absent; a mandatory one gets a value.
        *reinterpret_cast<long*>(reinterpret_cast<char*>(v) + tt->offset) = 1;
        continue;
      }
      if (f == &ASN1_ENUMERATED_it && !(tt->flags & (ASN1_TF_OPTIONAL | ASN1_TF_SK_MASK))) {
        // A fresh ENUMERATED has no octets either (an OCSP response status).
        ASN1_ENUMERATED_set(
            *reinterpret_cast<ASN1_ENUMERATED**>(reinterpret_cast<char*>(v) + tt->offset), 1);
        continue;
      }
      if ((tt->flags & (ASN1_TF_OPTIONAL | ASN1_TF_SK_MASK | ASN1_TF_ADB_MASK)) ||
          !(f->itype == ASN1_KIND_MSTRING || IsSequence(f) || f->itype == ASN1_KIND_CHOICE ||
            WrapsSequence(f) || (f->itype == ASN1_KIND_PRIMITIVE && f->utype == ASN1_UT_ANY)))
        continue;
      auto** field = reinterpret_cast<ASN1_VALUE**>(reinterpret_cast<char*>(v) + tt->offset);
      ASN1_item_ex_free(field, f);
      *field = MakeValue(f);
    }
  }
  FillNumbers(v, it);
  // The mandatory INTEGERs of the password-based and PKCS#8 structures.
  if (it == &PBEPARAM_it) ASN1_INTEGER_set(reinterpret_cast<PBEPARAM*>(v)->iter, 1);
  if (it == &PBKDF2PARAM_it) ASN1_INTEGER_set(reinterpret_cast<PBKDF2PARAM*>(v)->iter, 1);
  if (it == &PKCS8_PRIV_KEY_INFO_it)
    ASN1_INTEGER_set(reinterpret_cast<PKCS8_PRIV_KEY_INFO*>(v)->version, 0);
  if (it == &NETSCAPE_PKEY_it) reinterpret_cast<NETSCAPE_PKEY*>(v)->version = 0;
  // PKCS#12 bags: a type that selects a value, and the value.
  auto cert_bag = [](PKCS12_BAGS* b) {
    ASN1_OBJECT_free(b->type);
    b->type = OBJ_nid2obj(158);
    ASN1_TYPE_free(b->value.other);
    b->value.x509cert = ASN1_OCTET_STRING_new();
  };
  if (it == &PKCS12_BAGS_it) cert_bag(reinterpret_cast<PKCS12_BAGS*>(v));
  if (it == &PKCS12_SAFEBAG_it) {
    auto* bag = reinterpret_cast<PKCS12_SAFEBAG*>(v);
    ASN1_OBJECT_free(bag->type);
    bag->type = OBJ_nid2obj(152);
    ASN1_TYPE_free(bag->value.other);
    bag->value.bag = PKCS12_BAGS_new();
    cert_bag(bag->value.bag);
  }
  // A policy qualifier names its kind: a CPS pointer (id-qt-cps, NID 164).
  if (it == &POLICYQUALINFO_it) {
    auto* q = reinterpret_cast<POLICYQUALINFO*>(v);
    ASN1_OBJECT_free(q->pqualid);
    q->pqualid = OBJ_nid2obj(164);
    ASN1_TYPE_free(q->d.other);
    q->d.cpsuri = ASN1_IA5STRING_new();
  }
  return v;
}

TEST(Asn1Items, EveryItemRoundTrips) {
  for (const ItemRow& row : kItems) {
    SCOPED_TRACE(row.name);
    if (kInField.count(row.name) != 0) continue;
    ASN1_VALUE* v = MakeValue(row.it);
    const std::string first = Encode(v, row.it);
    ASSERT_FALSE(first.empty());
    ASN1_VALUE* back = Decode(first, row.it);
    ASSERT_NE(nullptr, back);
    const std::string second = Encode(back, row.it);
    EXPECT_EQ(first, second);  // a fresh INTEGER too: written as zero
    ASN1_VALUE* again = Decode(second, row.it);
    EXPECT_EQ(second, Encode(again, row.it));
    auto* dup = static_cast<ASN1_VALUE*>(ASN1_item_dup(row.it, back));
    EXPECT_EQ(second, Encode(dup, row.it));
    for (size_t n = 0; n < second.size(); n++) {
      EXPECT_EQ(nullptr, Decode(second.substr(0, n), row.it)) << n;
    }
    ERR_clear_error();
    for (ASN1_VALUE* x : {v, back, again, dup}) ASN1_item_free(x, row.it);
  }
}

TEST(Asn1Items, EveryItemCreatesAndFrees) {
  for (const ItemRow& row : kItems) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(std::string(row.name), row.it->sname);
    ASN1_VALUE* v = ASN1_item_new(row.it);
    // BOOLEAN and LONG values live in the field itself and may read as null.
    if (kInField.count(row.name) == 0) {
      EXPECT_NE(nullptr, v);
    }
    ASN1_item_free(v, row.it);
    ASN1_item_free(nullptr, row.it);
    if (row.make != nullptr) {
      void* x = row.make();
      EXPECT_NE(nullptr, x);
      row.release(x);
    }
    if (row.release != nullptr) row.release(nullptr);
  }
  EXPECT_ERRORS({});
}

}  // namespace
