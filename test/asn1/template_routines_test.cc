// The public template routines (field pointers, CHOICE selectors, reference
// counts, the cached encoding, ANY DEFINED BY) driven from C over items
// declared in C (template_routines.c), and ASN1_TYPE_set1.  Encodings are
// written by hand from X.690; the OIDs are those of PKCS #7 (RFC 2315) and
// PKCS #1 (RFC 8017).

#include <string.h>

#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "template_routines.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

// Decodes `der` with the C run `trip` and returns the re-encoding as hex.
template <typename Trip>
std::string Reencode(const Bytes& der, Trip trip) {
  unsigned char out[64];
  const int n = trip(der.data(), static_cast<long>(der.size()), out, sizeof out);
  if (n < 0 || n > static_cast<int>(sizeof out)) return "failed";
  return ToHex(out, static_cast<size_t>(n));
}

TEST(Asn1TemplateRoutines, CombinedFieldIsTheParentItself) {
  EXPECT_EQ(1, ct_field_pointers());
  EXPECT_ERRORS({});
}

TEST(Asn1TemplateRoutines, ChoiceSetterReturnsTheOldSelector) {
  int got[4];
  ct_choice_selectors(got);
  EXPECT_EQ((std::vector<int>{-1, -1, 1, 1}), std::vector<int>(got, got + 4));
}

TEST(Asn1TemplateRoutines, ChoiceDecodedSetsItsSelectorAndRunsTheCallback) {
  struct Case {
    const char* der;
    int selector;
  } cases[] = {
      {"020105", 0},          // INTEGER 5
      {"A103" "0401AA", 1},   // [1] EXPLICIT OCTET STRING AA
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.der);
    const Bytes der = FromHex(c.der);
    unsigned char out[16];
    int selector = -2, ops[16], nops = 0;
    const int n = ct_choice_round_trip(der.data(), static_cast<long>(der.size()), out,
                                       sizeof out, &selector, ops, &nops);
    ASSERT_EQ(static_cast<int>(der.size()), n);
    EXPECT_EQ(ToHex(der), ToHex(out, static_cast<size_t>(n)));
    EXPECT_EQ(c.selector, selector);
    // Decoding: D2I_PRE, the creation's NEW_PRE and NEW_POST, D2I_POST; two
    // encodings (sizing, then writing): I2D_PRE each (a CHOICE with a
    // present alternative skips I2D_POST); freeing: FREE_PRE, FREE_POST.
    EXPECT_EQ((std::vector<int>{ASN1_CBOP_D2I_PRE, ASN1_CBOP_NEW_PRE, ASN1_CBOP_NEW_POST,
                                ASN1_CBOP_D2I_POST, ASN1_CBOP_I2D_PRE, ASN1_CBOP_I2D_PRE,
                                ASN1_CBOP_FREE_PRE, ASN1_CBOP_FREE_POST}),
              std::vector<int>(ops, ops + nops));
  }
  EXPECT_ERRORS({});
}

TEST(Asn1TemplateRoutines, ReferenceCountUnderTheItemsLock) {
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  int got[5];
  ct_reference_counts(got);
  // 1 after creation, 2, 1, and 0 at the last release; no count elsewhere.
  EXPECT_EQ((std::vector<int>{1, 2, 1, 0, 0}), std::vector<int>(got, got + 5));
  // Three changes under the item's lock, then the free of the reset count.
  std::vector<morvane_test::LockEvent> want;
  for (int i = 0; i < 4; i++) {
    want.push_back(morvane_test::WriteLock(CT_REF_LOCK));
    want.push_back(morvane_test::WriteUnlock(CT_REF_LOCK));
  }
  EXPECT_EQ(want, morvane_test::StopRecordingLocks({CT_REF_LOCK}));
}

TEST(Asn1TemplateRoutines, CachedEncodingSavedRestoredAndFreed) {
  const Bytes octets = FromHex("3081030201 05");
  unsigned char restored[16] = {};
  int got[7], advanced = -1;
  ct_cached_encoding(octets.data(), static_cast<int>(octets.size()), got, restored, &advanced);
  // Modified after creation: 0; saved: 1; restored: 1 with the length;
  // after freeing: 0; an item without cache: save 1, restore 0.
  EXPECT_EQ((std::vector<int>{0, 1, 1, 6, 0, 1, 0}), std::vector<int>(got, got + 7));
  EXPECT_EQ(6, advanced);
  EXPECT_EQ(ToHex(octets), ToHex(restored, 6));
}

TEST(Asn1TemplateRoutines, DecodedEncodingIsReusedUntilModified) {
  // A BER SEQUENCE with a long-form length: the cache gives it back as read;
  // once modified, the encoder writes DER.
  const Bytes ber = FromHex("308103 020105");
  EXPECT_EQ("308103020105", Reencode(ber, [](const unsigned char* d, long n, unsigned char* o,
                                             int room) {
              return ct_enc_round_trip(d, n, 0, o, room);
            }));
  EXPECT_EQ("3003020105", Reencode(ber, [](const unsigned char* d, long n, unsigned char* o,
                                           int room) {
              return ct_enc_round_trip(d, n, 1, o, room);
            }));
  EXPECT_ERRORS({});
}

TEST(Asn1TemplateRoutines, AnyDefinedByPicksRowDefaultOrNothing) {
  constexpr int kPkcs7Data = 21, kRsaEncryption = 6;
  EXPECT_EQ(0, ct_adb_choice(kPkcs7Data, 0, 1));
  EXPECT_EQ(1, ct_adb_choice(kRsaEncryption, 0, 1));
  EXPECT_EQ(1, ct_adb_choice(0, 0, 1));  // no selector: 0, no row, the default
  EXPECT_EQ(0, ct_adb_choice(kPkcs7Data, 1, 1));
  EXPECT_ERRORS({});
  EXPECT_EQ(2, ct_adb_choice(kRsaEncryption, 1, 0));
  EXPECT_ERRORS({});  // not asked for errors
  EXPECT_EQ(2, ct_adb_choice(kRsaEncryption, 1, 1));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_DO_ADB, ASN1_R_UNSUPPORTED_ANY_DEFINED_BY_TYPE}});
}

TEST(Asn1TemplateRoutines, AnyDefinedByRoundTrips) {
  struct Case {
    const char* der;
    int value_type;
  } cases[] = {
      // id-data: the row's OCTET STRING
      {"3010" "06092A864886F70D010701" "A003" "0401AA", ASN1_UT_OCTET_STRING},
      // rsaEncryption: the default's ANY, here an INTEGER
      {"3010" "06092A864886F70D010101" "A003" "020105", ASN1_UT_INTEGER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.der);
    int type = -1;
    EXPECT_EQ(ToHex(FromHex(c.der)),
              Reencode(FromHex(c.der), [&type](const unsigned char* d, long n, unsigned char* o,
                                               int room) {
                return ct_adb_round_trip(d, n, o, room, &type);
              }));
    EXPECT_EQ(c.value_type, type);
  }
  EXPECT_ERRORS({});
}

// ---- ASN1_TYPE_set1 -------------------------------------------------------

TEST(Asn1TypeSet1, CopiesObjectsAndStrings) {
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASN1_OBJECT* obj = OBJ_txt2obj("1.2.3.4", 1);
  ASSERT_NE(nullptr, obj);
  ASSERT_EQ(1, ASN1_TYPE_set1(t, ASN1_UT_OBJECT, obj));
  EXPECT_NE(obj, t->value.object);
  ASN1_OBJECT_free(obj);  // the copy is the type's own
  char text[32];
  OBJ_obj2txt(text, sizeof text, t->value.object, 1);
  EXPECT_STREQ("1.2.3.4", text);

  ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(os, reinterpret_cast<const unsigned char*>("abc"), 3);
  ASSERT_EQ(1, ASN1_TYPE_set1(t, ASN1_UT_OCTET_STRING, os));
  EXPECT_NE(os, t->value.octet_string);
  ASN1_OCTET_STRING_free(os);
  EXPECT_EQ(ASN1_UT_OCTET_STRING, ASN1_TYPE_get(t));
  EXPECT_EQ("616263", ToHex(t->value.octet_string->data, 3));

  ASSERT_EQ(1, ASN1_TYPE_set1(t, ASN1_UT_NULL, nullptr));
  EXPECT_EQ(ASN1_UT_NULL, ASN1_TYPE_get(t));
  EXPECT_EQ(nullptr, t->value.ptr);
  ASN1_TYPE_free(t);
  EXPECT_ERRORS({});
}

TEST(Asn1ItemI2d, FailedBufferSaysSo) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(os, reinterpret_cast<const unsigned char*>("abc"), 3);
  unsigned char* out = nullptr;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(-1, ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(os), &out, &ASN1_OCTET_STRING_it));
  morvane_test::FailAllocationAfter(0);
  EXPECT_EQ(nullptr, out);
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_I2D, ERR_R_MALLOC_FAILURE}});
  ASN1_OCTET_STRING_free(os);
}

TEST(Asn1TypeSet1, FailedCopyLeavesTheValueAsItWas) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASN1_INTEGER* old = ASN1_INTEGER_new();
  ASN1_INTEGER_set(old, 7);
  ASN1_TYPE_set(t, ASN1_UT_INTEGER, old);
  ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(os, reinterpret_cast<const unsigned char*>("abc"), 3);
  ASN1_OBJECT* obj = OBJ_txt2obj("1.2.3.4", 1);
  for (int type : {ASN1_UT_OCTET_STRING, ASN1_UT_OBJECT}) {
    const void* value = type == ASN1_UT_OBJECT ? static_cast<const void*>(obj) : os;
    for (long fail = 1; fail <= 3; fail++) {
      morvane_test::FailAllocationAfter(fail);
      const int r = ASN1_TYPE_set1(t, type, value);
      morvane_test::FailAllocationAfter(0);
      if (r == 1) {  // the copy needed fewer allocations: put the integer back
        old = ASN1_INTEGER_new();
        ASN1_INTEGER_set(old, 7);
        ASN1_TYPE_set(t, ASN1_UT_INTEGER, old);
        continue;
      }
      SCOPED_TRACE(fail);
      EXPECT_EQ(ASN1_UT_INTEGER, t->type);
      EXPECT_EQ(old, t->value.integer);
      EXPECT_EQ(7, ASN1_INTEGER_get(t->value.integer));
    }
  }
  ERR_clear_error();
  ASN1_OBJECT_free(obj);
  ASN1_OCTET_STRING_free(os);
  ASN1_TYPE_free(t);
}

TEST(Asn1TypeSet1, BooleanStoredAsGiven) {
  ASN1_TYPE* t = ASN1_TYPE_new();
  int anything = 0;
  ASSERT_EQ(1, ASN1_TYPE_set1(t, ASN1_UT_BOOLEAN, &anything));
  EXPECT_EQ(ASN1_UT_BOOLEAN, t->type);
  EXPECT_NE(0, t->value.boolean);  // a non-null value is TRUE
  ASSERT_EQ(1, ASN1_TYPE_set1(t, ASN1_UT_BOOLEAN, nullptr));
  EXPECT_EQ(0, t->value.boolean);
  ASN1_TYPE_free(t);
}

}  // namespace
