// BOOLEAN fields through the template engine: a mandatory BOOLEAN of each
// form (ASN1_BOOLEAN, ASN1_TBOOLEAN, ASN1_FBOOLEAN) as the last field of a
// structure, created, encoded, decoded and freed.  The field is an int held
// in place of a pointer: creation must write it at that width, never past the
// structure's block (AddressSanitizer reports any wider write here) nor over
// the field after it.

#include <stddef.h>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>

#include "test_support.h"

using morvane_test::Bytes;
using morvane_test::ToHex;

// INTEGER, BOOLEAN, then the BOOLEAN form under test as the last field: the
// last int ends the 16-byte block.
#define BOOL_TAIL(name, form)                                                             \
  struct name {                                                                           \
    ASN1_INTEGER* num;                                                                    \
    ASN1_BOOLEAN first;                                                                   \
    ASN1_BOOLEAN last;                                                                    \
  };                                                                                      \
  static_assert(sizeof(name) == 16 && offsetof(name, last) == 12, "last ends the block"); \
  ASN1_SEQUENCE(name) = {                                                                 \
      ASN1_SIMPLE(name, num, ASN1_INTEGER),                                               \
      ASN1_SIMPLE(name, first, ASN1_BOOLEAN),                                             \
      ASN1_SIMPLE(name, last, form),                                                      \
  } ASN1_SEQUENCE_END(name)

BOOL_TAIL(PlainTail, ASN1_BOOLEAN);
BOOL_TAIL(TrueTail, ASN1_TBOOLEAN);
BOOL_TAIL(FalseTail, ASN1_FBOOLEAN);

namespace {

// The fields every tail shares (the three structs have one layout).
struct Fields {
  ASN1_INTEGER* num;
  ASN1_BOOLEAN first;
  ASN1_BOOLEAN last;
};

struct Row {
  const char* name;
  const ASN1_ITEM* it;
  int created;  // the last field's value after creation: absent or DEFAULT
  int set;      // a value that differs from the DEFAULT, so it is encoded
  const char* der;
};

// X.690, 8.2 and 11.1: BOOLEAN is one content octet, TRUE written as FF.
const Row kRows[] = {
    {"ASN1_BOOLEAN", &PlainTail_it, -1, 0xFF, "30090201050101000101ff"},
    {"ASN1_TBOOLEAN", &TrueTail_it, 1, 0, "3009020105010100010100"},
    {"ASN1_FBOOLEAN", &FalseTail_it, 0, 0xFF, "30090201050101000101ff"},
};

Bytes Encode(ASN1_VALUE* v, const ASN1_ITEM* it) {
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(v, &der, it);
  Bytes out;
  if (n > 0) out.assign(der, der + n);
  MORVANE_free(der);
  return out;
}

TEST(BooleanField, NewEncodeDecodeFreeAtTheFieldsWidth) {
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.name);
    ASN1_VALUE* v = ASN1_item_new(r.it);
    ASSERT_NE(nullptr, v);
    auto* f = reinterpret_cast<Fields*>(v);
    EXPECT_EQ(-1, f->first);
    EXPECT_EQ(r.created, f->last);
    ASSERT_EQ(1, ASN1_INTEGER_set(f->num, 5));
    f->first = 0;
    f->last = r.set;
    const Bytes der = Encode(v, r.it);
    EXPECT_EQ(r.der, ToHex(der));
    ASN1_item_free(v, r.it);

    const unsigned char* p = der.data();
    ASN1_VALUE* back = ASN1_item_d2i(nullptr, &p, static_cast<long>(der.size()), r.it);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(der.data() + der.size(), p);
    auto* g = reinterpret_cast<Fields*>(back);
    EXPECT_EQ(5, ASN1_INTEGER_get(g->num));
    EXPECT_EQ(0, g->first);
    EXPECT_EQ(r.set, g->last);
    EXPECT_EQ(ToHex(der), ToHex(Encode(back, r.it)));
    ASN1_item_free(back, r.it);
  }
}

// Creating one BOOLEAN field in place leaves the int after it alone.
TEST(BooleanField, ExNewWritesOnlyItsInt) {
  const ASN1_ITEM* forms[] = {&ASN1_BOOLEAN_it, &ASN1_TBOOLEAN_it, &ASN1_FBOOLEAN_it};
  const int created[] = {-1, 1, 0};
  for (int i = 0; i < 3; i++) {
    Fields f = {nullptr, 0x55, 0x66};
    ASSERT_EQ(1, ASN1_item_ex_new(reinterpret_cast<ASN1_VALUE**>(&f.first), forms[i])) << i;
    EXPECT_EQ(created[i], f.first) << i;
    EXPECT_EQ(0x66, f.last) << i;
    EXPECT_EQ(nullptr, f.num) << i;
    ASN1_item_ex_free(reinterpret_cast<ASN1_VALUE**>(&f.first), forms[i]);
    EXPECT_EQ(created[i], f.first) << i;
    EXPECT_EQ(0x66, f.last) << i;
  }
}

}  // namespace
