// Lookups over the built-in object table through the public API: NID to
// object (the undefined object, retired and out-of-range NIDs) and object to
// NID (by the NID field, by content, unknown content).

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "test_support.h"

namespace {

TEST(ObjLookup, NidToObject) {
  ASN1_OBJECT_free(OBJ_nid2obj(0));  // built-in: left alone
  EXPECT_STREQ("UNDEF", OBJ_nid2obj(0)->sn);
  EXPECT_EQ(nullptr, OBJ_nid2obj(102));  // retired (objects.txt)
  EXPECT_ERRORS({{ERR_LIB_OBJ, OBJ_F_OBJ_NID2OBJ, OBJ_R_UNKNOWN_NID}});
  EXPECT_EQ(nullptr, OBJ_nid2obj(-1));  // nothing added at run time
  EXPECT_EQ(nullptr, OBJ_nid2obj(1 << 20));
  EXPECT_ERRORS({});
}

TEST(ObjLookup, ObjectToNid) {
  // 1.2.840.113549.1.1.1, rsaEncryption (RFC 8017, A.1), NID 6.
  static const unsigned char kRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
  ASN1_OBJECT* o = ASN1_OBJECT_new();
  EXPECT_EQ(0, OBJ_obj2nid(o));  // no content
  o->data = kRsa;
  o->length = sizeof kRsa;
  EXPECT_EQ(6, OBJ_obj2nid(o));
  o->length = sizeof kRsa - 1;  // 1.2.840.113549.1.1, pkcs-1
  EXPECT_EQ(186, OBJ_obj2nid(o));
  static const unsigned char kUnknown[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x7F};
  o->data = kUnknown;  // 1.2.840.113549.1.1.127: not in the table
  o->length = sizeof kUnknown;
  EXPECT_EQ(0, OBJ_obj2nid(o));
  o->nid = 21;  // the NID field wins without a search
  EXPECT_EQ(21, OBJ_obj2nid(o));
  ASN1_OBJECT_free(o);
  EXPECT_EQ(0, OBJ_obj2nid(nullptr));
  EXPECT_EQ(21, OBJ_obj2nid(OBJ_nid2obj(21)));
}

}  // namespace
