// Extension lists: searches with lastpos, criticality, insertion at a
// position, building single extensions, and the certificate, revocation-list
// and revocation-entry calls, tested once through a table of the three.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "cert_builder.h"
#include "der_util.h"
#include "test_support.h"

namespace {

constexpr int kNidKeyUsage = 83;          // RFC 5280, 4.2.1.3
constexpr int kNidBasicConstraints = 87;  // RFC 5280, 4.2.1.9
constexpr int kNidSubjectKeyId = 82;      // RFC 5280, 4.2.1.2

// An extension of type nid holding the one byte `tag`.
X509_EXTENSION* Ext(int nid, int crit, unsigned char tag) {
  ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
  EXPECT_EQ(1, ASN1_STRING_set(data, &tag, 1));
  X509_EXTENSION* ex = X509_EXTENSION_create_by_NID(nullptr, nid, crit, data);
  EXPECT_NE(nullptr, ex);
  ASN1_OCTET_STRING_free(data);
  return ex;
}

int Tag(X509_EXTENSION* ex) {
  return ex != nullptr ? X509_EXTENSION_get_data(ex)->data[0] : -1;
}

// key usage, basic constraints, key usage, basic constraints (critical),
// subject key id: tags 0 to 4.
STACK* FiveExtensions() {
  STACK* sk = nullptr;
  const int nids[] = {kNidKeyUsage, kNidBasicConstraints, kNidKeyUsage, kNidBasicConstraints,
                      kNidSubjectKeyId};
  for (int i = 0; i < 5; i++) {
    X509_EXTENSION* ex = Ext(nids[i], i == 3, static_cast<unsigned char>(i));
    EXPECT_NE(nullptr, X509v3_add_ext(&sk, ex, -1));
    X509_EXTENSION_free(ex);
  }
  return sk;
}

void FreeExts(STACK* sk) {
  sk_pop_free(sk, [](void* p) { X509_EXTENSION_free(static_cast<X509_EXTENSION*>(p)); });
}

TEST(ExtensionList, SearchFromLastpos) {
  STACK* sk = FiveExtensions();
  const struct {
    int lastpos, want;
  } cases[] = {{-1, 1}, {1, 3}, {3, -1}, {-5, 1}, {0, 1}, {5, -1}, {0x7fffffff, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lastpos);
    EXPECT_EQ(c.want, X509v3_get_ext_by_NID(sk, kNidBasicConstraints, c.lastpos));
    EXPECT_EQ(c.want, X509v3_get_ext_by_OBJ(sk, OBJ_nid2obj(kNidBasicConstraints), c.lastpos));
  }
  EXPECT_EQ(-2, X509v3_get_ext_by_NID(sk, 100000, -1));
  EXPECT_EQ(-1, X509v3_get_ext_by_NID(nullptr, kNidKeyUsage, -1));
  EXPECT_EQ(3, X509v3_get_ext_by_critical(sk, 1, -1));
  EXPECT_EQ(-1, X509v3_get_ext_by_critical(sk, 7, 3));
  EXPECT_EQ(4, X509v3_get_ext_by_critical(sk, 0, 2));
  EXPECT_EQ(5, X509v3_get_ext_count(sk));
  EXPECT_EQ(0, X509v3_get_ext_count(nullptr));
  EXPECT_EQ(2, Tag(X509v3_get_ext(sk, 2)));
  EXPECT_EQ(nullptr, X509v3_get_ext(sk, 5));
  EXPECT_EQ(nullptr, X509v3_get_ext(sk, -1));
  EXPECT_EQ(nullptr, X509v3_delete_ext(sk, 5));
  X509_EXTENSION* gone = X509v3_delete_ext(sk, 0);
  EXPECT_EQ(0, Tag(gone));
  X509_EXTENSION_free(gone);
  EXPECT_EQ(1, Tag(X509v3_get_ext(sk, 0)));
  FreeExts(sk);
}

TEST(ExtensionList, AddAtPosition) {
  const struct {
    int loc;
    std::vector<int> tags;
  } cases[] = {{0, {9, 0, 1}}, {9, {0, 1, 9}}, {-1, {0, 1, 9}}, {1, {0, 9, 1}}, {2, {0, 1, 9}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.loc);
    STACK* sk = nullptr;
    for (unsigned char t : {0, 1}) {
      X509_EXTENSION* ex = Ext(kNidKeyUsage, 0, t);
      ASSERT_NE(nullptr, X509v3_add_ext(&sk, ex, -1));
      X509_EXTENSION_free(ex);
    }
    X509_EXTENSION* ex = Ext(kNidKeyUsage, 0, 9);
    ASSERT_EQ(sk, X509v3_add_ext(&sk, ex, c.loc));
    std::vector<int> tags;
    for (int i = 0; i < X509v3_get_ext_count(sk); i++) tags.push_back(Tag(X509v3_get_ext(sk, i)));
    EXPECT_EQ(c.tags, tags);
    for (int i = 0; i < 3; i++) EXPECT_NE(ex, X509v3_get_ext(sk, i));  // a copy went in
    X509_EXTENSION_free(ex);
    FreeExts(sk);
  }
  X509_EXTENSION* ex = Ext(kNidKeyUsage, 0, 9);
  EXPECT_EQ(nullptr, X509v3_add_ext(nullptr, ex, 0));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509V3_ADD_EXT, ERR_R_PASSED_NULL_PARAMETER}});
  X509_EXTENSION_free(ex);
}

TEST(ExtensionList, Criticality) {
  const struct {
    int crit, stored, read;
  } cases[] = {{0, -1, 0}, {7, 255, 1}, {1, 255, 1}, {-1, 255, 1}};
  X509_EXTENSION* ex = X509_EXTENSION_new();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.crit);
    ASSERT_EQ(1, X509_EXTENSION_set_critical(ex, c.crit));
    EXPECT_EQ(c.stored, ex->critical);
    EXPECT_EQ(c.read, X509_EXTENSION_get_critical(ex));
  }
  EXPECT_EQ(0, X509_EXTENSION_set_critical(nullptr, 1));
  EXPECT_EQ(0, X509_EXTENSION_get_critical(nullptr));
  X509_EXTENSION_free(ex);
}

TEST(ExtensionList, Create) {
  ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
  ASSERT_EQ(1, ASN1_STRING_set(data, "\x30\x00", 2));
  // Into the caller's extension: filled and returned.
  X509_EXTENSION* mine = X509_EXTENSION_new();
  X509_EXTENSION* ex = mine;
  EXPECT_EQ(mine, X509_EXTENSION_create_by_OBJ(&ex, OBJ_nid2obj(kNidBasicConstraints), 1, data));
  EXPECT_EQ(kNidBasicConstraints, OBJ_obj2nid(X509_EXTENSION_get_object(mine)));
  EXPECT_EQ(0, ASN1_STRING_cmp(data, X509_EXTENSION_get_data(mine)));
  EXPECT_NE(data, X509_EXTENSION_get_data(mine));
  EXPECT_EQ(1, X509_EXTENSION_get_critical(mine));
  // A failure leaves the caller's extension with the caller.
  EXPECT_EQ(nullptr, X509_EXTENSION_create_by_OBJ(&ex, nullptr, 0, data));
  EXPECT_EQ(mine, ex);
  X509_EXTENSION_free(mine);
  // A new one is stored through a pointer to null.
  ex = nullptr;
  X509_EXTENSION* made = X509_EXTENSION_create_by_NID(&ex, kNidKeyUsage, 0, data);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(made, ex);
  EXPECT_EQ(-1, made->critical);
  X509_EXTENSION_free(made);
  EXPECT_EQ(nullptr, X509_EXTENSION_create_by_NID(nullptr, 100000, 0, data));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_EXTENSION_CREATE_BY_NID, X509_R_UNKNOWN_NID}});
  EXPECT_EQ(nullptr, X509_EXTENSION_create_by_NID(nullptr, kNidKeyUsage, 0, nullptr));
  EXPECT_EQ(nullptr, X509_EXTENSION_get_object(nullptr));
  EXPECT_EQ(nullptr, X509_EXTENSION_get_data(nullptr));
  EXPECT_EQ(0, X509_EXTENSION_set_object(nullptr, OBJ_nid2obj(kNidKeyUsage)));
  EXPECT_EQ(0, X509_EXTENSION_set_data(nullptr, data));
  EXPECT_ERRORS({});
  ASN1_OCTET_STRING_free(data);
}

// ---- the per-object calls ---------------------------------------------------

// The seven calls of one owner, on an object made by `make`.
struct Owner {
  const char* name;
  void* (*make)();
  void (*free)(void*);
  int (*count)(void*);
  int (*by_nid)(void*, int, int);
  int (*by_obj)(void*, ASN1_OBJECT*, int);
  int (*by_critical)(void*, int, int);
  X509_EXTENSION* (*get)(void*, int);
  X509_EXTENSION* (*del)(void*, int);
  int (*add)(void*, X509_EXTENSION*, int);
};

#define OWNER(P, T)                                                                     \
  Owner {                                                                               \
#P, [] { return static_cast<void*>(T##_new()); },                                     \
        [](void* x) { T##_free(static_cast<T*>(x)); },                                    \
        [](void* x) { return P##_get_ext_count(static_cast<T*>(x)); },                    \
        [](void* x, int nid, int last) { return P##_get_ext_by_NID(static_cast<T*>(x), nid, last); }, \
        [](void* x, ASN1_OBJECT* o, int last) {                                           \
          return P##_get_ext_by_OBJ(static_cast<T*>(x), o, last);                         \
        },                                                                                \
        [](void* x, int crit, int last) {                                                 \
          return P##_get_ext_by_critical(static_cast<T*>(x), crit, last);                 \
        },                                                                                \
        [](void* x, int loc) { return P##_get_ext(static_cast<T*>(x), loc); },            \
        [](void* x, int loc) { return P##_delete_ext(static_cast<T*>(x), loc); },         \
        [](void* x, X509_EXTENSION* ex, int loc) { return P##_add_ext(static_cast<T*>(x), ex, loc); } \
  }

const Owner kOwners[] = {OWNER(X509, X509), OWNER(X509_CRL, X509_CRL),
                         OWNER(X509_REVOKED, X509_REVOKED)};

TEST(ExtensionList, PerObjectCalls) {
  for (const Owner& o : kOwners) {
    SCOPED_TRACE(o.name);
    void* x = o.make();
    ASSERT_NE(nullptr, x);
    EXPECT_EQ(0, o.count(x));  // no extensions: 0, not -1
    EXPECT_EQ(-1, o.by_nid(x, kNidKeyUsage, -1));
    for (unsigned char t : {0, 1, 2}) {
      X509_EXTENSION* ex = Ext(t == 1 ? kNidBasicConstraints : kNidKeyUsage, t == 2, t);
      EXPECT_EQ(1, o.add(x, ex, t == 2 ? 0 : -1));  // the last one goes first
      X509_EXTENSION_free(ex);
    }
    EXPECT_EQ(3, o.count(x));
    EXPECT_EQ(2, Tag(o.get(x, 0)));
    EXPECT_EQ(1, o.by_nid(x, kNidKeyUsage, 0));
    EXPECT_EQ(2, o.by_obj(x, OBJ_nid2obj(kNidBasicConstraints), -1));
    EXPECT_EQ(0, o.by_critical(x, 1, -1));
    X509_EXTENSION* gone = o.del(x, 0);
    EXPECT_EQ(2, Tag(gone));
    X509_EXTENSION_free(gone);
    EXPECT_EQ(2, o.count(x));
    EXPECT_EQ(nullptr, o.get(x, 2));
    o.free(x);
  }
}

// A section of extensions added to a decoded certificate or revocation
// list is in its encoding: the signed part is no longer the one decoded.
TEST(ExtensionList, SectionAddedToADecodedObjectIsEncoded) {
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>("[ext]\nbasicConstraints = CA:FALSE\n"), -1);
  long line = 0;
  ASSERT_EQ(1, NCONF_load_bio(conf, in, &line));
  BIO_free(in);
  X509* made = morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}});
  const morvane_test::Bytes cert_der = x509_test::Encode(i2d_X509, made);
  X509_free(made);
  X509_CRL* made_crl = morvane_test::MakeCrl("Root", {});
  const morvane_test::Bytes crl_der = x509_test::Encode(i2d_X509_CRL, made_crl);
  X509_CRL_free(made_crl);
  const struct {
    const char* name;
    bool crl;
    int (*add)(CONF*, X509V3_CTX*, void*);
  } rows[] = {
      {"add_nconf", false,
       [](CONF* c, X509V3_CTX* ctx, void* x) {
         return X509V3_EXT_add_nconf(c, ctx, "ext", static_cast<X509*>(x));
       }},
      {"add_conf", false,
       [](CONF* c, X509V3_CTX* ctx, void* x) {
         return X509V3_EXT_add_conf(c->data, ctx, "ext", static_cast<X509*>(x));
       }},
      {"CRL_add_nconf", true,
       [](CONF* c, X509V3_CTX* ctx, void* x) {
         return X509V3_EXT_CRL_add_nconf(c, ctx, "ext", static_cast<X509_CRL*>(x));
       }},
      {"CRL_add_conf", true,
       [](CONF* c, X509V3_CTX* ctx, void* x) {
         return X509V3_EXT_CRL_add_conf(c->data, ctx, "ext", static_cast<X509_CRL*>(x));
       }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    X509V3_CTX ctx = {};
    X509V3_set_ctx(&ctx, nullptr, nullptr, nullptr, nullptr, 0);
    X509V3_set_nconf(&ctx, conf);
    if (r.crl) {
      X509_CRL* crl = x509_test::Decode(d2i_X509_CRL, crl_der);
      ASSERT_EQ(1, r.add(conf, &ctx, crl));
      X509_CRL* back = x509_test::Decode(d2i_X509_CRL, x509_test::Encode(i2d_X509_CRL, crl));
      EXPECT_EQ(1, X509_CRL_get_ext_count(back));
      X509_CRL_free(back);
      X509_CRL_free(crl);
    } else {
      X509* x = x509_test::Decode(d2i_X509, cert_der);
      ASSERT_EQ(1, r.add(conf, &ctx, x));
      X509* back = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, x));
      EXPECT_EQ(1, X509_get_ext_count(back));
      X509_free(back);
      X509_free(x);
    }
  }
  EXPECT_ERRORS({});
  NCONF_free(conf);
}

}  // namespace
