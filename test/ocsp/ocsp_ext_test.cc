// The 36 extension accessors: each of the nine operations on each of the
// four objects that carry extensions, checked against the list that object
// keeps.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;

constexpr int kNidNonce = 366;
constexpr int kNidArchiveCutoff = 370;

// One object's accessors, each wrapped to take the object as void*, and the
// list they must work on.
struct Accessors {
  const char* name;
  void* (*make)();
  void (*destroy)(void*);
  STACK** (*list)(void*);
  int (*count)(void*);
  int (*by_nid)(void*, int, int);
  int (*by_obj)(void*, ASN1_OBJECT*, int);
  int (*by_critical)(void*, int, int);
  X509_EXTENSION* (*get)(void*, int);
  X509_EXTENSION* (*del)(void*, int);
  void* (*get1_d2i)(void*, int, int*, int*);
  int (*add1_i2d)(void*, int, void*, int, unsigned long);
  int (*add)(void*, X509_EXTENSION*, int);
};

#define ACCESSORS(P, T, LIST)                                                            \
  Accessors {                                                                            \
#P, [] { return static_cast<void*>(T##_new()); },                                      \
        [](void* x) { T##_free(static_cast<T*>(x)); },                                      \
        [](void* x) { return &static_cast<T*>(x)->LIST; },                                  \
        [](void* x) { return P##_get_ext_count(static_cast<T*>(x)); },                      \
        [](void* x, int nid, int last) {                                                    \
          return P##_get_ext_by_NID(static_cast<T*>(x), nid, last);                         \
        },                                                                                  \
        [](void* x, ASN1_OBJECT* o, int last) {                                             \
          return P##_get_ext_by_OBJ(static_cast<T*>(x), o, last);                           \
        },                                                                                  \
        [](void* x, int crit, int last) {                                                   \
          return P##_get_ext_by_critical(static_cast<T*>(x), crit, last);                   \
        },                                                                                  \
        [](void* x, int loc) { return P##_get_ext(static_cast<T*>(x), loc); },              \
        [](void* x, int loc) { return P##_delete_ext(static_cast<T*>(x), loc); },           \
        [](void* x, int nid, int* crit, int* idx) {                                         \
          return P##_get1_ext_d2i(static_cast<T*>(x), nid, crit, idx);                      \
        },                                                                                  \
        [](void* x, int nid, void* v, int crit, unsigned long flags) {                      \
          return P##_add1_ext_i2d(static_cast<T*>(x), nid, v, crit, flags);                 \
        },                                                                                  \
        [](void* x, X509_EXTENSION* ex, int loc) { return P##_add_ext(static_cast<T*>(x), ex, loc); } \
  }

const Accessors kObjects[] = {
    ACCESSORS(OCSP_REQUEST, OCSP_REQUEST, tbsRequest->requestExtensions),
    ACCESSORS(OCSP_ONEREQ, OCSP_ONEREQ, singleRequestExtensions),
    ACCESSORS(OCSP_BASICRESP, OCSP_BASICRESP, tbsResponseData->responseExtensions),
    ACCESSORS(OCSP_SINGLERESP, OCSP_SINGLERESP, singleExtensions),
};

void PrintTo(const Accessors& a, std::ostream* os) {
  *os << a.name;
}

class OcspExtAccessors : public testing::TestWithParam<Accessors> {};

TEST_P(OcspExtAccessors, EachOperation) {
  const Accessors& a = GetParam();
  void* x = a.make();
  ASSERT_NE(nullptr, x);
  ERR_clear_error();
  EXPECT_EQ(0, a.count(x));
  EXPECT_EQ(-1, a.by_nid(x, kNidNonce, -1));

  // add_ext inserts a copy: a non-critical nonce, then a second one in
  // front of it.
  ASN1_OCTET_STRING* v = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(v, reinterpret_cast<const unsigned char*>("\x04\x01\x07"), 3);
  X509_EXTENSION* nonce = X509_EXTENSION_create_by_NID(nullptr, kNidNonce, 0, v);
  ASN1_OCTET_STRING_free(v);
  ASSERT_NE(nullptr, nonce);
  EXPECT_EQ(1, a.add(x, nonce, -1));
  EXPECT_EQ(1, a.add(x, nonce, 0));
  EXPECT_EQ(2, a.count(x));
  EXPECT_NE(nonce, a.get(x, 0));
  EXPECT_EQ(2, sk_num(*a.list(x)));

  // add1_ext_i2d encodes a critical archive cutoff at the end.
  ASN1_GENERALIZEDTIME* cutoff = ASN1_GENERALIZEDTIME_new();
  ASSERT_EQ(1, ASN1_GENERALIZEDTIME_set_string(cutoff, "20200101000000Z"));
  EXPECT_EQ(1, a.add1_i2d(x, kNidArchiveCutoff, cutoff, 1, X509V3_ADD_DEFAULT));
  EXPECT_EQ(0, a.add1_i2d(x, kNidArchiveCutoff, cutoff, 1, X509V3_ADD_DEFAULT));
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_X509V3, X509V3_F_X509V3_ADD1_I2D, X509V3_R_EXTENSION_EXISTS}}));
  EXPECT_EQ(3, a.count(x));

  // The lookups, on the object's own list.
  EXPECT_EQ(0, a.by_nid(x, kNidNonce, -1));
  EXPECT_EQ(1, a.by_nid(x, kNidNonce, 0));
  EXPECT_EQ(-1, a.by_nid(x, kNidNonce, 1));
  EXPECT_EQ(2, a.by_obj(x, OBJ_nid2obj(kNidArchiveCutoff), -1));
  EXPECT_EQ(-1, a.by_obj(x, OBJ_nid2obj(kNidArchiveCutoff), 2));
  EXPECT_EQ(2, a.by_critical(x, 1, -1));
  EXPECT_EQ(0, a.by_critical(x, 0, -1));
  EXPECT_EQ(1, a.by_critical(x, 0, 0));
  EXPECT_EQ(reinterpret_cast<X509_EXTENSION*>(sk_value(*a.list(x), 2)), a.get(x, 2));
  EXPECT_EQ(nullptr, a.get(x, 3));

  // get1_ext_d2i decodes with its criticality; a second nonce makes the
  // search without index ambiguous.
  int crit = -5;
  auto* got = static_cast<ASN1_GENERALIZEDTIME*>(a.get1_d2i(x, kNidArchiveCutoff, &crit, nullptr));
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(1, crit);
  EXPECT_EQ(0, ASN1_STRING_cmp(got, cutoff));
  ASN1_GENERALIZEDTIME_free(got);
  EXPECT_EQ(nullptr, a.get1_d2i(x, kNidNonce, &crit, nullptr));
  EXPECT_EQ(-2, crit);
  int idx = 0;
  auto* second = static_cast<ASN1_OCTET_STRING*>(a.get1_d2i(x, kNidNonce, &crit, &idx));
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(1, idx);
  EXPECT_EQ(0, crit);
  EXPECT_EQ(3, second->length);
  ASN1_OCTET_STRING_free(second);

  // delete_ext hands the extension over and closes the gap.
  X509_EXTENSION* gone = a.del(x, 0);
  ASSERT_NE(nullptr, gone);
  EXPECT_EQ(kNidNonce, OBJ_obj2nid(X509_EXTENSION_get_object(gone)));
  X509_EXTENSION_free(gone);
  EXPECT_EQ(nullptr, a.del(x, 5));
  EXPECT_EQ(2, a.count(x));
  EXPECT_EQ(1, a.by_nid(x, kNidArchiveCutoff, -1));

  EXPECT_TRUE(ErrorsAre({}));
  ASN1_GENERALIZEDTIME_free(cutoff);
  X509_EXTENSION_free(nonce);
  a.destroy(x);
}

INSTANTIATE_TEST_SUITE_P(Objects, OcspExtAccessors, testing::ValuesIn(kObjects),
                         [](const testing::TestParamInfo<Accessors>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
