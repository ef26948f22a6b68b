// Single attributes: building them from an object and a value, replacing
// their data, and reading their values back.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "test_support.h"

namespace {

using morvane_test::FromHex;

constexpr int kNidChallengePassword = 54;  // PKCS #9 (RFC 2985, 5.4.1)
constexpr int kNidContentType = 50;        // PKCS #9 (RFC 2985, 5.3.1)
constexpr int kNidPkcs7Data = 21;

const unsigned char* U(const char* s) {
  return reinterpret_cast<const unsigned char*>(s);
}

std::string Text(const ASN1_STRING* s) {
  return std::string(reinterpret_cast<const char*>(s->data), static_cast<size_t>(s->length));
}

TEST(Attribute, SetDataForms) {
  X509_ATTRIBUTE* attr =
      X509_ATTRIBUTE_create_by_NID(nullptr, kNidChallengePassword, 0, nullptr, -1);
  ASSERT_NE(nullptr, attr);
  EXPECT_EQ(0, X509_ATTRIBUTE_count(attr));  // type 0: an empty SET
  EXPECT_EQ(0, attr->single);
  EXPECT_EQ(nullptr, X509_ATTRIBUTE_get0_type(attr, 0));
  // len bytes of a string type.
  ASSERT_EQ(1, X509_ATTRIBUTE_set1_data(attr, ASN1_UT_UTF8STRING, "secret", 3));
  EXPECT_EQ(1, X509_ATTRIBUTE_count(attr));
  auto* s =
      static_cast<ASN1_STRING*>(X509_ATTRIBUTE_get0_data(attr, 0, ASN1_UT_UTF8STRING, nullptr));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("sec", Text(s));
  // A character form: the rule of challengePassword picks the string type.
  ASSERT_EQ(1, X509_ATTRIBUTE_set1_data(attr, ASN1_MB_ASCII, "abc", 3));
  EXPECT_EQ(ASN1_UT_PRINTABLESTRING, ASN1_TYPE_get(X509_ATTRIBUTE_get0_type(attr, 0)));
  // len -1: a copy of the value at data.
  ASN1_OBJECT* data = OBJ_nid2obj(kNidPkcs7Data);
  ASSERT_EQ(1, X509_ATTRIBUTE_set1_data(attr, ASN1_UT_OBJECT, data, -1));
  auto* obj = static_cast<ASN1_OBJECT*>(X509_ATTRIBUTE_get0_data(attr, 0, ASN1_UT_OBJECT, nullptr));
  ASSERT_NE(nullptr, obj);
  EXPECT_EQ(0, OBJ_cmp(data, obj));
  // Type mismatch and positions past the count.
  EXPECT_EQ(nullptr, X509_ATTRIBUTE_get0_data(attr, 0, ASN1_UT_UTF8STRING, nullptr));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_ATTRIBUTE_GET0_DATA, X509_R_WRONG_TYPE}});
  EXPECT_EQ(nullptr, X509_ATTRIBUTE_get0_data(attr, 1, ASN1_UT_OBJECT, nullptr));
  EXPECT_EQ(nullptr, X509_ATTRIBUTE_get0_type(attr, -1));
  EXPECT_ERRORS({});
  X509_ATTRIBUTE_free(attr);
}

// Values that cannot be made leave the attribute as it was.
TEST(Attribute, SetDataRefused) {
  X509_ATTRIBUTE* attr =
      X509_ATTRIBUTE_create_by_NID(nullptr, kNidChallengePassword, ASN1_UT_UTF8STRING, "pw", 2);
  ASSERT_NE(nullptr, attr);
  const struct {
    int type;
    int len;
    int reason;
  } cases[] = {
      {ASN1_UT_OBJECT, 2, X509_R_WRONG_TYPE},  // a length with a non-string type
      {ASN1_UT_NULL, 0, X509_R_WRONG_TYPE},
      {-1, 2, X509_R_WRONG_TYPE},
      {ASN1_UT_UTF8STRING, -2, X509_R_WRONG_TYPE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(0, X509_ATTRIBUTE_set1_data(attr, c.type, "xx", c.len));
    EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_ATTRIBUTE_SET1_DATA, c.reason}});
    EXPECT_EQ("pw", Text(static_cast<ASN1_STRING*>(
                        X509_ATTRIBUTE_get0_data(attr, 0, ASN1_UT_UTF8STRING, nullptr))));
  }
  // Text that is not in its character form (BMP: two bytes a character).
  EXPECT_EQ(0, X509_ATTRIBUTE_set1_data(attr, ASN1_MB_BMP, "abc", 3));
  const unsigned long last = ERR_peek_last_error();
  EXPECT_EQ(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_GET_FUNC(last));
  EXPECT_EQ(ERR_R_ASN1_LIB, ERR_GET_REASON(last));
  ERR_clear_error();
  EXPECT_EQ(1, X509_ATTRIBUTE_count(attr));
  EXPECT_EQ(0, X509_ATTRIBUTE_set1_data(nullptr, ASN1_UT_UTF8STRING, "x", 1));
  X509_ATTRIBUTE_free(attr);
}

// Replacing the data frees the old value: nothing accumulates.
TEST(Attribute, SetDataFreesTheOldValue) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  X509_ATTRIBUTE* attr =
      X509_ATTRIBUTE_create_by_NID(nullptr, kNidChallengePassword, ASN1_UT_UTF8STRING, "pw", 2);
  ASSERT_NE(nullptr, attr);
  const long before = morvane_test::GetAllocCounts().live_blocks;
  for (int i = 0; i < 3; i++)
    ASSERT_EQ(1, X509_ATTRIBUTE_set1_data(attr, ASN1_UT_UTF8STRING, "pw", 2));
  EXPECT_EQ(before, morvane_test::GetAllocCounts().live_blocks);
  X509_ATTRIBUTE_free(attr);
  // The single form (one bare value, here an OBJECT) is freed too.
  const long start = morvane_test::GetAllocCounts().live_blocks;
  X509_ATTRIBUTE* single =
      x509_test::Decode(d2i_X509_ATTRIBUTE, FromHex("300e 0609 2a864886f70d010903 0601 00"));
  ASSERT_NE(nullptr, single);
  EXPECT_EQ(1, single->single);
  ASSERT_EQ(1, X509_ATTRIBUTE_set1_data(single, ASN1_UT_UTF8STRING, "pw", 2));
  EXPECT_EQ(0, single->single);
  X509_ATTRIBUTE_free(single);
  EXPECT_EQ(start, morvane_test::GetAllocCounts().live_blocks);
}

TEST(Attribute, Create) {
  // Into the caller's attribute: filled, returned and kept on failure.
  X509_ATTRIBUTE* mine = X509_ATTRIBUTE_new();
  X509_ATTRIBUTE* attr = mine;
  EXPECT_EQ(mine, X509_ATTRIBUTE_create_by_txt(
                      &attr, "contentType", ASN1_UT_OBJECT,
                      reinterpret_cast<const unsigned char*>(OBJ_nid2obj(kNidPkcs7Data)), -1));
  EXPECT_EQ(kNidContentType, OBJ_obj2nid(X509_ATTRIBUTE_get0_object(mine)));
  EXPECT_EQ(nullptr,
            X509_ATTRIBUTE_create_by_txt(&attr, "noSuchThing", ASN1_UT_UTF8STRING, U("a"), 1));
  EXPECT_EQ(mine, attr);
  const unsigned long last = ERR_peek_last_error();
  EXPECT_EQ(X509_F_X509_ATTRIBUTE_CREATE_BY_TXT, ERR_GET_FUNC(last));
  EXPECT_EQ(X509_R_INVALID_FIELD_NAME, ERR_GET_REASON(last));
  ERR_clear_error();
  EXPECT_EQ(nullptr, X509_ATTRIBUTE_create_by_OBJ(&attr, OBJ_nid2obj(kNidContentType), -3, "", 0));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_ATTRIBUTE_SET1_DATA, X509_R_WRONG_TYPE}});
  EXPECT_EQ(mine, attr);
  X509_ATTRIBUTE_free(mine);
  // A new one is stored through a pointer to null.
  attr = nullptr;
  X509_ATTRIBUTE* made = X509_ATTRIBUTE_create_by_OBJ(&attr, OBJ_nid2obj(kNidChallengePassword),
                                                      ASN1_UT_UTF8STRING, "pw", 2);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(made, attr);
  // It encodes as Attribute (X.501): the object and a SET of one value.
  EXPECT_EQ(FromHex("3011 0609 2a864886f70d010907 3104 0c02 7077"),
            x509_test::Encode(i2d_X509_ATTRIBUTE, made));
  X509_ATTRIBUTE_free(made);
  EXPECT_EQ(nullptr, X509_ATTRIBUTE_create_by_NID(nullptr, 100000, ASN1_UT_UTF8STRING, "a", 1));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_ATTRIBUTE_CREATE_BY_NID, X509_R_UNKNOWN_NID}});
  EXPECT_EQ(0, X509_ATTRIBUTE_set1_object(nullptr, OBJ_nid2obj(kNidContentType)));
  EXPECT_EQ(nullptr, X509_ATTRIBUTE_get0_object(nullptr));
  EXPECT_EQ(0, X509_ATTRIBUTE_count(nullptr));
  EXPECT_ERRORS({});
}

}  // namespace

namespace {

constexpr int kNidChallenge = 54;
constexpr int kNidUnstructuredName = 49;  // PKCS #9 (RFC 2985, 5.4.2)

// challengePassword "a", unstructuredName "b", challengePassword "c".
STACK* ThreeAttributes() {
  STACK* sk = nullptr;
  const int nids[] = {kNidChallenge, kNidUnstructuredName, kNidChallenge};
  const char* values[] = {"a", "b", "c"};
  for (int i = 0; i < 3; i++)
    EXPECT_NE(nullptr,
              X509at_add1_attr_by_NID(&sk, nids[i], ASN1_UT_UTF8STRING,
                                      reinterpret_cast<const unsigned char*>(values[i]), 1));
  return sk;
}

void FreeAttrs(STACK* sk) {
  sk_pop_free(sk, [](void* p) { X509_ATTRIBUTE_free(static_cast<X509_ATTRIBUTE*>(p)); });
}

std::string DataText(void* s) {
  return s != nullptr
             ? std::string(reinterpret_cast<const char*>(static_cast<ASN1_STRING*>(s)->data),
                           static_cast<size_t>(static_cast<ASN1_STRING*>(s)->length))
             : "(null)";
}

TEST(AttributeList, DataByObject) {
  STACK* sk = ThreeAttributes();
  ASN1_OBJECT* challenge = OBJ_nid2obj(kNidChallenge);
  ASN1_OBJECT* unstructured = OBJ_nid2obj(kNidUnstructuredName);
  const struct {
    ASN1_OBJECT* obj;
    int lastpos;
    const char* want;
  } cases[] = {
      {challenge, -1, "a"},      {challenge, 0, "c"},
      {challenge, 2, "(null)"},  {challenge, -2, "(null)"},  // twice: not unique
      {unstructured, -2, "b"},   {unstructured, -3, "b"},    // one value
      {challenge, -3, "(null)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lastpos);
    EXPECT_EQ(c.want, DataText(X509at_get0_data_by_OBJ(sk, c.obj, c.lastpos, ASN1_UT_UTF8STRING)));
  }
  // A second value makes the attribute fail the -3 test.
  X509_ATTRIBUTE* attr = X509at_get_attr(sk, 1);
  ASN1_TYPE* extra = ASN1_TYPE_new();
  ASN1_TYPE_set(extra, ASN1_UT_NULL, nullptr);
  ASSERT_TRUE(sk_push(attr->value.set, reinterpret_cast<char*>(extra)));
  EXPECT_EQ("(null)", DataText(X509at_get0_data_by_OBJ(sk, unstructured, -3, ASN1_UT_UTF8STRING)));
  EXPECT_EQ("b", DataText(X509at_get0_data_by_OBJ(sk, unstructured, -2, ASN1_UT_UTF8STRING)));
  EXPECT_EQ(nullptr, X509at_get0_data_by_OBJ(nullptr, unstructured, -1, ASN1_UT_UTF8STRING));
  EXPECT_ERRORS({});
  FreeAttrs(sk);
}

// The request calls, once each, on a request's own list.
TEST(AttributeList, RequestCalls) {
  X509_REQ* req = X509_REQ_new();
  ASSERT_NE(nullptr, req);
  sk_free(req->req_info->attributes);
  req->req_info->attributes = nullptr;  // a request without attributes
  EXPECT_EQ(-1, X509_REQ_get_attr_count(req));
  EXPECT_EQ(-1, X509_REQ_get_attr_by_NID(req, kNidChallenge, -1));
  const auto* v = reinterpret_cast<const unsigned char*>("pw");
  EXPECT_EQ(1, X509_REQ_add1_attr_by_NID(req, kNidChallenge, ASN1_UT_UTF8STRING, v, 2));
  EXPECT_EQ(1, X509_REQ_add1_attr_by_txt(req, "unstructuredName", ASN1_UT_UTF8STRING, v, 2));
  EXPECT_EQ(1,
            X509_REQ_add1_attr_by_OBJ(req, OBJ_nid2obj(kNidChallenge), ASN1_UT_UTF8STRING, v, 1));
  EXPECT_EQ(0, X509_REQ_add1_attr_by_NID(req, 100000, ASN1_UT_UTF8STRING, v, 2));
  ERR_clear_error();
  X509_ATTRIBUTE* attr =
      X509_ATTRIBUTE_create_by_NID(nullptr, kNidUnstructuredName, ASN1_UT_UTF8STRING, "x", 1);
  EXPECT_EQ(1, X509_REQ_add1_attr(req, attr));
  X509_ATTRIBUTE_free(attr);
  EXPECT_EQ(4, X509_REQ_get_attr_count(req));
  EXPECT_EQ(2, X509_REQ_get_attr_by_NID(req, kNidChallenge, 0));
  EXPECT_EQ(3, X509_REQ_get_attr_by_OBJ(req, OBJ_nid2obj(kNidUnstructuredName), 1));
  EXPECT_EQ(kNidUnstructuredName,
            OBJ_obj2nid(X509_ATTRIBUTE_get0_object(X509_REQ_get_attr(req, 1))));
  X509_ATTRIBUTE* gone = X509_REQ_delete_attr(req, 0);
  ASSERT_NE(nullptr, gone);
  X509_ATTRIBUTE_free(gone);
  EXPECT_EQ(3, X509_REQ_get_attr_count(req));
  EXPECT_EQ(nullptr, X509_REQ_get_attr(req, 3));
  // The request encodes with its attributes: [0] IMPLICIT SET OF Attribute.
  unsigned char* der = nullptr;
  EXPECT_GT(i2d_X509_REQ(req, &der), 0);
  MORVANE_free(der);
  EXPECT_ERRORS({});
  X509_REQ_free(req);
}

}  // namespace
