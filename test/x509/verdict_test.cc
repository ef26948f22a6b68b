// A revocation verdict comes only from lists whose signatures the call
// checked under the key above the certificate, and no verdict from state a
// change to an object can make stale:
// - a stranger's newer delta list never hides the issuer's revoking one,
//   whatever the chain's keys (DSA keys that take their parameters from the
//   key above, one to three levels deep) and whatever errors the callback
//   accepts (a chain without an anchor has keys nothing vouches for: its
//   lists are checked too, a few per call, then error 8);
// - a key, signature or signature algorithm changed in place after a
//   verification gives 7 (or 8 for a list);
// - a signed message whose CA name has two keys checks each forged list at
//   most once per key, however many signers it has.

#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "chain_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using namespace x509_test;
using morvane_test::CertSpec;
using morvane_test::MakeCert;
using morvane_test::MakeCrl;

constexpr time_t kDay = 86400;
constexpr int kNidMd5WithRsa = 8, kNidData = 21, kNidSigned = 22;
constexpr long kLeafSerial = 5;
// RFC 5280, 5.2.3 and 5.2.4: cRLNumber 1 to 3, a deltaCRLIndicator naming
// complete list 1.
const CertExt kNumber1{88, false, FromHex("020101")};
const CertExt kNumber2{88, false, FromHex("020102")};
const CertExt kNumber3{88, false, FromHex("020103")};
const CertExt kDeltaOf1{140, true, FromHex("020101")};

X509* Decoded(X509* x) {
  X509* d = Decode(d2i_X509, Encode(i2d_X509, x));
  X509_free(x);
  return d;
}
X509_CRL* Decoded(X509_CRL* c) {
  X509_CRL* d = Decode(d2i_X509_CRL, Encode(i2d_X509_CRL, c));
  X509_CRL_free(c);
  return d;
}

// A certificate whose key leaves its parameters to the key above (signed
// again by the issuer's DSA key).
X509* WithoutParameters(X509* x, EVP_PKEY* issuer_key) {
  ASN1_TYPE_free(x->cert_info->key->algor->parameter);
  x->cert_info->key->algor->parameter = nullptr;
  EXPECT_GT(X509_sign(x, issuer_key, EVP_dss1()), 0);
  return x;
}

enum class Shape { kAnchored, kNoAnchor, kSelfSignedUntrusted, kDsa1, kDsa2, kDsa3 };

// A chain (decoded): the store's anchor (or none), the caller's
// certificates, the leaf, and the key and name its lists are issued under.
struct Built {
  X509* anchor = nullptr;
  std::vector<X509*> untrusted;
  X509* leaf = nullptr;
  EVP_PKEY* list_key = nullptr;  // not owned
  std::string list_issuer;
  std::vector<EVP_PKEY*> owned_keys;

  explicit Built(Shape shape) {
    switch (shape) {
      case Shape::kAnchored:
        anchor = Decoded(MakeCert({"Root", "", 2, 1, kCaExts, RsaKey(), RsaKey()}));
        Leaf("Root", RsaKey());
        break;
      case Shape::kNoAnchor:
        untrusted.push_back(Decoded(MakeCert({"CA", "Root", 2, 2, kCaExts, RsaKey(), RsaKey2()})));
        Leaf("CA", RsaKey());
        break;
      case Shape::kSelfSignedUntrusted:
        untrusted.push_back(Decoded(MakeCert({"Root", "", 2, 1, kCaExts, RsaKey(), RsaKey()})));
        Leaf("Root", RsaKey());
        break;
      default: {
        const int depth = static_cast<int>(shape) - static_cast<int>(Shape::kDsa1) + 1;
        EVP_PKEY* above = DsaKey();
        anchor = Decoded(MakeCert({"DsaRoot", "", 2, 1, kCaExts, above, above}));
        std::string above_name = "DsaRoot";
        for (int i = 1; i <= depth; i++) {
          EVP_PKEY* key = DsaKeySharingParameters(DsaKey());
          owned_keys.push_back(key);
          const std::string name = "DsaCA" + std::to_string(i);
          untrusted.insert(
              untrusted.begin(),
              Decoded(WithoutParameters(
                  MakeCert({name, above_name, 2, 10 + i, kCaExts, key, above}), above)));
          above = key;
          above_name = name;
        }
        Leaf(above_name, above);
      }
    }
  }
  ~Built() {
    X509_free(anchor);
    for (X509* x : untrusted) X509_free(x);
    X509_free(leaf);
    for (EVP_PKEY* k : owned_keys) EVP_PKEY_free(k);
  }
  Built(const Built&) = delete;
  Built& operator=(const Built&) = delete;

  void Leaf(const std::string& issuer, EVP_PKEY* key) {
    leaf = Decoded(MakeCert({"Leaf", issuer, 2, kLeafSerial, {}, RsaKey2(), key}));
    list_key = key;
    list_issuer = issuer;
  }

  // The issuer's complete list (not listing the leaf), its delta list
  // revoking the leaf, and `strangers` newer delta lists of another key
  // that list nothing.  Decoded, new.
  std::vector<X509_CRL*> Lists(time_t now, int strangers) const {
    std::vector<X509_CRL*> lists = {
        Decoded(MakeCrl(list_issuer, {}, now - 2 * kDay, now + 5 * kDay, {kNumber1}, list_key)),
        Decoded(MakeCrl(list_issuer, {{kLeafSerial, {}}}, now - 60, now + kDay,
                        {kNumber2, kDeltaOf1}, list_key))};
    for (int i = 0; i < strangers; i++)
      lists.push_back(Decoded(MakeCrl(list_issuer, {}, now - 30 + i, now + kDay,
                                      {kNumber3, kDeltaOf1}, StrangerKey())));
    return lists;
  }

  static EVP_PKEY* StrangerKey() {
    static EVP_PKEY* k = NewRsaKey(512);
    return k;
  }
};

int AcceptNoList(int ok, X509_STORE_CTX* ctx) {
  return ok || X509_STORE_CTX_get_error(ctx) == X509_V_ERR_UNABLE_TO_GET_CRL;
}
int AcceptNoAnchor(int ok, X509_STORE_CTX* ctx) {
  const int e = X509_STORE_CTX_get_error(ctx);
  return ok || e == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
         e == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN || e == X509_V_ERR_UNABLE_TO_GET_CRL;
}

struct DeltaCase {
  const char* name;
  Shape shape;
  int (*cb)(int, X509_STORE_CTX*);
  int strangers;
  bool strict;
  Outcome want;
};

constexpr Outcome kRevoked{0, X509_V_ERR_CERT_REVOKED};
constexpr Outcome kUnchecked{0, X509_V_ERR_CRL_SIGNATURE_FAILURE};

const DeltaCase kDeltaCases[] = {
    {"Anchored", Shape::kAnchored, nullptr, 1, false, kRevoked},
    {"AnchoredSoftFail", Shape::kAnchored, AcceptNoList, 1, false, kRevoked},
    {"AnchoredLenient", Shape::kAnchored, AcceptNoAnchor, 1, false, kRevoked},
    {"AnchoredManyStrangers", Shape::kAnchored, AcceptNoAnchor, 9, false, kRevoked},
    {"NoAnchorAccepted", Shape::kNoAnchor, AcceptNoAnchor, 1, false, kRevoked},
    {"NoAnchorPastTheBound", Shape::kNoAnchor, AcceptNoAnchor, 9, false, kUnchecked},
    {"SelfSignedAccepted", Shape::kSelfSignedUntrusted, AcceptNoAnchor, 1, false, kRevoked},
    {"SelfSignedPastTheBound", Shape::kSelfSignedUntrusted, AcceptNoAnchor, 9, false, kUnchecked},
    {"DsaOneLevel", Shape::kDsa1, nullptr, 1, false, kRevoked},
    {"DsaOneLevelSoftFail", Shape::kDsa1, AcceptNoList, 1, false, kRevoked},
    {"DsaTwoLevels", Shape::kDsa2, nullptr, 1, false, kRevoked},
    {"DsaTwoLevelsStrict", Shape::kDsa2, nullptr, 1, true, kRevoked},
    {"DsaTwoLevelsSoftFail", Shape::kDsa2, AcceptNoList, 1, true, kRevoked},
    {"DsaThreeLevels", Shape::kDsa3, nullptr, 1, false, kRevoked},
    {"DsaThreeLevelsStrict", Shape::kDsa3, AcceptNoList, 1, true, kRevoked},
};

void PrintTo(const DeltaCase& c, std::ostream* os) {
  *os << c.name;
}

class DeltaList : public testing::TestWithParam<DeltaCase> {};

TEST_P(DeltaList, CountsOnlyOnceItsSignatureVerified) {
  const DeltaCase& c = GetParam();
  AddAlgorithms();
  Built b(c.shape);
  const time_t now = time(nullptr);
  std::vector<X509_CRL*> lists = b.Lists(now, c.strangers);
  X509_STORE* store = X509_STORE_new();
  if (b.anchor != nullptr) {
    ASSERT_EQ(1, X509_STORE_add_cert(store, b.anchor));
  }
  STACK* untrusted = sk_new_null();
  for (X509* x : b.untrusted) sk_push(untrusted, reinterpret_cast<char*>(x));
  STACK* crls = sk_new_null();
  // The strangers' lists first, as a sender would put them.
  for (auto it = lists.rbegin(); it != lists.rend(); ++it)
    sk_push(crls, reinterpret_cast<char*>(*it));
  // Twice: the second run meets the verdicts the first one kept.
  for (int run = 0; run < 2; run++) {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, b.leaf, untrusted));
    if (c.cb != nullptr) X509_STORE_CTX_set_verify_cb(ctx, c.cb);
    X509_STORE_CTX_set0_crls(ctx, crls);
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | (c.strict ? X509_V_FLAG_X509_STRICT : 0));
    const Outcome got{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
    EXPECT_EQ(c.want, got) << "run " << run;
    X509_STORE_CTX_free(ctx);
    morvane_test::DrainErrors();  // what the strangers' signature checks queued
  }
  sk_free(crls);
  sk_free(untrusted);
  X509_STORE_free(store);
  for (X509_CRL* l : lists) X509_CRL_free(l);
}

INSTANTIATE_TEST_SUITE_P(Chains, DeltaList, testing::ValuesIn(kDeltaCases),
                         [](const testing::TestParamInfo<DeltaCase>& info) {
                           return std::string(info.param.name);
                         });

// The revoked signer of a message puts a stranger's newer delta list into
// it: the chain (DSA keys inheriting their parameters two levels deep)
// still finds the issuer's revoking delta list in the store.
TEST(DeltaListInMessage, TheSignerCannotHideItsRevocation) {
  AddAlgorithms();
  Built b(Shape::kDsa2);
  const time_t now = time(nullptr);
  std::vector<X509_CRL*> lists = b.Lists(now, 1);
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, b.anchor));
  ASSERT_EQ(1, X509_STORE_add_crl(store, lists[0]));
  ASSERT_EQ(1, X509_STORE_add_crl(store, lists[1]));
  ASSERT_EQ(1, X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK));
  STACK* certs = sk_new_null();
  for (X509* x : b.untrusted) sk_push(certs, reinterpret_cast<char*>(x));
  BIO* data = BIO_new_mem_buf(const_cast<char*>("signed text\n"), -1);
  PKCS7* p7 = PKCS7_sign(b.leaf, RsaKey2(), certs, data, PKCS7_FLAG_BINARY);
  BIO_free(data);
  ASSERT_NE(nullptr, p7);
  ASSERT_EQ(1, PKCS7_add_crl(p7, lists[2]));
  EXPECT_EQ(0, PKCS7_verify(p7, nullptr, store, nullptr, nullptr, PKCS7_FLAG_BINARY));
  EXPECT_EQ(ERR_PACK(ERR_LIB_PKCS7, PKCS7_F_PKCS7_VERIFY, PKCS7_R_CERTIFICATE_VERIFY_ERROR),
            ERR_peek_last_error());
  morvane_test::DrainErrors();
  PKCS7_free(p7);
  sk_free(certs);
  X509_STORE_free(store);
  for (X509_CRL* l : lists) X509_CRL_free(l);
}

// ---- changes in place after a verification ----

// The root's key (RSA, EC or DSA), a leaf it issued and its list.
enum class Root { kRsa, kEc, kDsa };

EVP_PKEY* RootKey(Root r) {
  return r == Root::kRsa ? RsaKey() : r == Root::kEc ? EcKey() : DsaKey();
}

struct ChangeCase {
  const char* name;
  Root root;
  void (*change)(X509* root, X509* leaf, X509_CRL* list);
  int error_without_lists;  // 0: only with the revocation check
  int error_with_lists;
};

// The EC point of a key of the same curve as EcKey(), fresh.
void RefillEcContainer(X509* root, X509*, X509_CRL*) {
  EC_KEY* other = EC_KEY_new_by_curve_name(415);  // prime256v1
  ASSERT_EQ(1, EC_KEY_generate_key(other));
  EVP_PKEY* holder = EVP_PKEY_new();
  EVP_PKEY_assign_EC_KEY(holder, other);
  const Bytes point = Encode(i2d_PublicKey, holder);
  EVP_PKEY_free(holder);
  EVP_PKEY* lent = X509_get_pubkey(root);
  EVP_PKEY* into = lent;
  const unsigned char* p = point.data();
  ASSERT_EQ(lent, d2i_PublicKey(EVP_PKEY_EC, &into, &p, static_cast<long>(point.size())));
  EVP_PKEY_free(lent);
}

void SetOtherRsa(X509* root, X509*, X509_CRL*) {
  EVP_PKEY* lent = X509_get_pubkey(root);
  RSA* other = EVP_PKEY_get1_RSA(RsaKey2());
  ASSERT_EQ(1, EVP_PKEY_set1_RSA(lent, other));
  RSA_free(other);
  EVP_PKEY_free(lent);
}

// Parameters of the same p and q but another generator (g squared).
DSA* OtherDsaParameters() {
  DSA* from = EVP_PKEY_get1_DSA(DsaKey());
  DSA* other = DSA_new();
  other->p = BN_dup(from->p);
  other->q = BN_dup(from->q);
  other->g = BN_new();
  BN_CTX* bn = BN_CTX_new();
  EXPECT_EQ(1, BN_mod_mul(other->g, from->g, from->g, from->p, bn));
  BN_CTX_free(bn);
  DSA_free(from);
  return other;
}

void CopyOtherParameters(X509* root, X509*, X509_CRL*) {
  DSA* other = OtherDsaParameters();
  EVP_PKEY* params = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(params, other);
  EVP_PKEY* lent = X509_get_pubkey(root);
  ASSERT_EQ(1, EVP_PKEY_copy_parameters(lent, params));
  EVP_PKEY_free(lent);
  EVP_PKEY_free(params);
}

void ReplaceKeyBits(X509* root, X509*, X509_CRL*) {
  X509_PUBKEY* key = root->cert_info->key;
  EVP_PKEY_free(key->pkey);
  key->pkey = nullptr;
  const Bytes other = Encode(i2d_PublicKey, RsaKey2());
  ASSERT_EQ(1, ASN1_BIT_STRING_set(key->public_key, const_cast<unsigned char*>(other.data()),
                                   static_cast<int>(other.size())));
}

// The parameters' octets in the SubjectPublicKeyInfo set to others.
void ReplaceKeyParameters(X509* root, X509*, X509_CRL*) {
  X509_PUBKEY* key = root->cert_info->key;
  EVP_PKEY_free(key->pkey);
  key->pkey = nullptr;
  DSA* other = OtherDsaParameters();
  const Bytes der = Encode(i2d_DSAparams, other);
  DSA_free(other);
  ASSERT_EQ(ASN1_UT_SEQUENCE, key->algor->parameter->type);
  ASSERT_EQ(1, ASN1_STRING_set(key->algor->parameter->value.sequence, der.data(),
                               static_cast<int>(der.size())));
}

void FlipLeafSignature(X509*, X509* leaf, X509_CRL*) {
  leaf->signature->data[leaf->signature->length - 1] ^= 1;
}

void LeafSignedWithMd5(X509*, X509* leaf, X509_CRL*) {
  ASN1_OBJECT_free(leaf->sig_alg->algorithm);
  leaf->sig_alg->algorithm = OBJ_nid2obj(kNidMd5WithRsa);
}

void FlipListSignature(X509*, X509*, X509_CRL* list) {
  list->signature->data[list->signature->length - 1] ^= 1;
}

void ListSignedWithMd5(X509*, X509*, X509_CRL* list) {
  ASN1_OBJECT_free(list->sig_alg->algorithm);
  list->sig_alg->algorithm = OBJ_nid2obj(kNidMd5WithRsa);
}

// A field set through its setter: the signed part is no longer the one
// decoded, and is encoded afresh.
void SetLeafSerial(X509*, X509* leaf, X509_CRL*) {
  ASN1_INTEGER* serial = ASN1_INTEGER_new();
  ASN1_INTEGER_set(serial, kLeafSerial + 1);
  ASSERT_EQ(1, X509_set_serialNumber(leaf, serial));
  ASN1_INTEGER_free(serial);
}

void SetListNextUpdate(X509*, X509*, X509_CRL* list) {
  ASN1_TIME* t = ASN1_TIME_set(nullptr, kChainMoment + 2 * kDay);
  ASSERT_EQ(1, X509_CRL_set_nextUpdate(list, t));
  ASN1_TIME_free(t);
}

// Another object's signed part decoded into this one's (the object itself
// is not told): the digest kept with the old octets goes with them.
void DecodeOtherLeafPart(X509*, X509* leaf, X509_CRL*) {
  X509* other = MakeCert({"Leaf", "Root", 2, kLeafSerial + 1, {}, RsaKey2()});
  const Bytes der = Encode(i2d_X509_CINF, other->cert_info);
  X509_free(other);
  const unsigned char* p = der.data();
  ASSERT_NE(nullptr, d2i_X509_CINF(&leaf->cert_info, &p, static_cast<long>(der.size())));
}

void DecodeOtherListPart(X509*, X509*, X509_CRL* list) {
  X509_CRL* other = MakeCrl("Root", {{98, {}}}, kChainMoment - kDay, kChainMoment + kDay, {});
  const Bytes der = Encode(i2d_X509_CRL_INFO, other->crl);
  X509_CRL_free(other);
  const unsigned char* p = der.data();
  ASSERT_NE(nullptr, d2i_X509_CRL_INFO(&list->crl, &p, static_cast<long>(der.size())));
}

// The digest registry emptied, then SHA-256 alone registered again: the
// SHA-1 signatures verify no more, kept verdicts or not.
void DropDigests(X509*, X509*, X509_CRL*) {
  EVP_cleanup();
  ASSERT_EQ(1, EVP_add_digest(EVP_sha256()));
}

constexpr int kCertFails = X509_V_ERR_CERT_SIGNATURE_FAILURE;
constexpr int kListFails = X509_V_ERR_CRL_SIGNATURE_FAILURE;

// A changed key fails the list first when lists are checked (they are
// checked before the chain's signatures).
const ChangeCase kChangeCases[] = {
    {"EcContainerRefilled", Root::kEc, RefillEcContainer, kCertFails, kListFails},
    {"RsaContainerSet", Root::kRsa, SetOtherRsa, kCertFails, kListFails},
    {"DsaParametersCopied", Root::kDsa, CopyOtherParameters, kCertFails, kListFails},
    {"KeyBitsReplaced", Root::kRsa, ReplaceKeyBits, kCertFails, kListFails},
    {"KeyParametersReplaced", Root::kDsa, ReplaceKeyParameters, kCertFails, kListFails},
    {"LeafSignatureValue", Root::kRsa, FlipLeafSignature, kCertFails, kCertFails},
    {"LeafSignatureAlgorithm", Root::kRsa, LeafSignedWithMd5, kCertFails, kCertFails},
    {"ListSignatureValue", Root::kRsa, FlipListSignature, 0, kListFails},
    {"ListSignatureAlgorithm", Root::kRsa, ListSignedWithMd5, 0, kListFails},
    {"LeafFieldSet", Root::kRsa, SetLeafSerial, kCertFails, kCertFails},
    {"ListFieldSet", Root::kRsa, SetListNextUpdate, 0, kListFails},
    {"LeafSignedPartDecodedAgain", Root::kRsa, DecodeOtherLeafPart, kCertFails, kCertFails},
    {"ListSignedPartDecodedAgain", Root::kRsa, DecodeOtherListPart, 0, kListFails},
    {"DigestsUnregistered", Root::kRsa, DropDigests, kCertFails, kListFails},
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
  *os << c.name;
}

class InPlaceChange : public testing::TestWithParam<ChangeCase> {};

TEST_P(InPlaceChange, IsJudgedByTheNextVerification) {
  const ChangeCase& c = GetParam();
  AddAlgorithms();
  for (const bool lists : {false, true}) {
    if (!lists && c.error_without_lists == 0) continue;
    SCOPED_TRACE(lists ? "with its list" : "without lists");
    MORVANE_add_all_algorithms_noconf();  // again after a change that dropped them
    EVP_PKEY* key = RootKey(c.root);
    X509* root = Decoded(MakeCert({"Root", "", 2, 1, kCaExts, key, key}));
    X509* leaf = Decoded(MakeCert({"Leaf", "Root", 2, kLeafSerial, {}, RsaKey2(), key}));
    X509_CRL* list =
        Decoded(MakeCrl("Root", {{99, {}}}, kChainMoment - kDay, kChainMoment + kDay, {}, key));
    X509_STORE* store = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(store, root));
    STACK* crls = sk_new_null();
    sk_push(crls, reinterpret_cast<char*>(list));
    auto verify = [&] {
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, nullptr));
      X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
      if (lists) {
        X509_STORE_CTX_set0_crls(ctx, crls);
        X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
      }
      const Outcome got{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
      X509_STORE_CTX_free(ctx);
      morvane_test::DrainErrors();
      return got;
    };
    EXPECT_EQ((Outcome{1, X509_V_OK}), verify());
    c.change(root, leaf, list);
    const Outcome want{0, lists ? c.error_with_lists : c.error_without_lists};
    EXPECT_EQ(want, verify());
    EXPECT_EQ(want, verify());
    sk_free(crls);
    X509_STORE_free(store);
    X509_CRL_free(list);
    X509_free(leaf);
    X509_free(root);
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, InPlaceChange, testing::ValuesIn(kChangeCases),
                         [](const testing::TestParamInfo<ChangeCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- what a signed message of many signers costs ----

// The CA name Root has two keys, each with a certificate in the store and a
// list of its own; the signers' certificates alternate between them.  The
// message carries `forged` newer lists naming no key: each chain's choice
// meets all of them before its own key's list, and each is checked once per
// key in the call, not once per signer.
TEST(SessionCost, EachForgedListIsCheckedOncePerKey) {
  AddAlgorithms();
  CountingRsaPublic public_ops;  // for the keys decoded from here on
  constexpr int kSigners = 8;
  constexpr int kForged = 40;
  EVP_PKEY* keys[2] = {RsaKey(), RsaKey2()};
  X509_STORE* store = X509_STORE_new();
  const time_t now = time(nullptr);
  for (int k = 0; k < 2; k++) {
    X509* root = Decoded(MakeCert({"Root", "", 2, 1 + k, kCaExts, keys[k], keys[k]}));
    ASSERT_EQ(1, X509_STORE_add_cert(store, root));
    X509_free(root);
    X509_CRL* own = Decoded(MakeCrl("Root", {}, now - kDay, now + kDay, {}, keys[k]));
    ASSERT_EQ(1, X509_STORE_add_crl(store, own));
    X509_CRL_free(own);
  }
  ASSERT_EQ(1, X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK));
  PKCS7* p7 = PKCS7_new();
  ASSERT_EQ(1, PKCS7_set_type(p7, kNidSigned));
  ASSERT_EQ(1, PKCS7_content_new(p7, kNidData));
  std::vector<X509*> signers;
  for (int i = 0; i < kSigners; i++) {
    const std::string cn = "Signer " + std::to_string(i);
    signers.push_back(Decoded(MakeCert({cn, "Root", 2, 100 + i, {}, RsaKey(), keys[i % 2]})));
    ASSERT_NE(nullptr, PKCS7_add_signature(p7, signers.back(), RsaKey(), EVP_sha1()));
    ASSERT_EQ(1, PKCS7_add_certificate(p7, signers.back()));
  }
  EVP_PKEY* forger = NewRsaKey(1024);  // the keys' size, so that each check is made
  for (int i = 0; i < kForged; i++) {
    X509_CRL* forged =
        Decoded(MakeCrl("Root", {}, now - 2 * kForged - 10 + i, now + kDay, {}, forger));
    ASSERT_EQ(1, PKCS7_add_crl(p7, forged));
    X509_CRL_free(forged);
  }
  BIO* bio = PKCS7_dataInit(p7, nullptr);
  ASSERT_NE(nullptr, bio);
  ASSERT_EQ(12, BIO_write(bio, "signed text\n", 12));
  BIO_flush(bio);
  ASSERT_EQ(1, PKCS7_dataFinal(p7, bio));
  BIO_free_all(bio);
  PKCS7* received = PKCS7_dup(p7);  // as a receiver decodes it
  ASSERT_NE(nullptr, received);
  public_ops.reset();
  EXPECT_EQ(1, PKCS7_verify(received, nullptr, store, nullptr, nullptr, 0));
  morvane_test::DrainErrors();
  // Each forged list under each key, both keys' own lists under each, and
  // per signer its signature and its certificate's link, under one root or
  // both.
  EXPECT_LE(public_ops.count(), 2 * (kForged + 2) + 3 * kSigners);
  EXPECT_GE(public_ops.count(), kForged);
  PKCS7_free(received);
  PKCS7_free(p7);
  for (X509* x : signers) X509_free(x);
  EVP_PKEY_free(forger);
  X509_STORE_free(store);
}

}  // namespace

// ---- keys a verification shares with other calls ----

namespace shared_keys {

// A leaf "signed" under key's y for any content, (r, s) = ((y^z mod p) mod
// q, r / z mod q), z = 7: what g = 1 would accept.  Decoded, new.
X509* ForgedUnder(EVP_PKEY* key, const std::string& issuer) {
  X509* x = MakeCert({"Forged", issuer, 2, 77, {}, RsaKey(), key});
  DSA* dsa = EVP_PKEY_get1_DSA(key);
  DSA_SIG* sig = DSA_SIG_new();
  sig->r = BN_new();
  sig->s = BN_new();
  BIGNUM* z = BN_new();
  BN_set_word(z, 7);
  BN_CTX* bn = BN_CTX_new();
  BN_mod_exp(sig->s, dsa->pub_key, z, dsa->p, bn);
  BN_nnmod(sig->r, sig->s, dsa->q, bn);
  BN_mod_inverse(z, z, dsa->q, bn);
  BN_mod_mul(sig->s, sig->r, z, dsa->q, bn);
  const Bytes der = Encode(i2d_DSA_SIG, sig);
  EXPECT_EQ(1, ASN1_BIT_STRING_set(x->signature, const_cast<unsigned char*>(der.data()),
                                   static_cast<int>(der.size())));
  BN_CTX_free(bn);
  BN_free(z);
  DSA_SIG_free(sig);
  DSA_free(dsa);
  return Decoded(x);
}

Bytes KeyEncoding(X509* x) {
  EVP_PKEY* k = X509_get_pubkey(x);
  Bytes der = Encode(i2d_PUBKEY, k);
  EVP_PKEY_free(k);
  return der;
}

Outcome Verify(X509_STORE* store, X509* leaf, const std::vector<X509*>& chain) {
  STACK* untrusted = sk_new_null();
  for (X509* x : chain) sk_push(untrusted, reinterpret_cast<char*>(x));
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, untrusted));
  const Outcome got{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
  X509_STORE_CTX_free(ctx);
  sk_free(untrusted);
  morvane_test::DrainErrors();
  return got;
}

}  // namespace shared_keys

// A chain built through a look-alike root whose key has g = 1 fails, and
// leaves the keys of the genuine intermediate and of the leaf, which take
// their parameters from above, as they were: a leaf forged under the
// intermediate's y is then refused on the genuine chain.
TEST(SharedKeys, AFailedChainLendsNothingToTheCertificates) {
  using namespace shared_keys;
  AddAlgorithms();
  EVP_PKEY* root_key = DsaKey();
  EVP_PKEY* ca_key = DsaKeySharingParameters(root_key);
  EVP_PKEY* leaf_key = DsaKeySharingParameters(root_key);
  EVP_PKEY* odd_key = DsaKeySharingParameters(root_key);
  BN_one(odd_key->pkey.dsa->g);
  X509* root = Decoded(MakeCert({"DsaRoot", "", 2, 1, kCaExts, root_key, root_key}));
  X509* look = Decoded(MakeCert({"DsaRoot", "", 2, 2, kCaExts, odd_key, root_key}));
  X509* ca = Decoded(
      WithoutParameters(MakeCert({"DsaCA", "DsaRoot", 2, 3, kCaExts, ca_key, root_key}), root_key));
  X509* leaf =
      Decoded(WithoutParameters(MakeCert({"Leaf", "DsaCA", 2, 4, {}, leaf_key, ca_key}), ca_key));
  X509* forged = ForgedUnder(ca_key, "DsaCA");
  const Bytes ca_der = KeyEncoding(ca), leaf_der = KeyEncoding(leaf);
  X509_STORE* empty = X509_STORE_new();
  EXPECT_EQ(0, Verify(empty, leaf, {ca, look}).result);
  EXPECT_EQ(ca_der, KeyEncoding(ca));
  EXPECT_EQ(leaf_der, KeyEncoding(leaf));
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, root));
  EXPECT_EQ((Outcome{0, X509_V_ERR_CERT_SIGNATURE_FAILURE}), Verify(store, forged, {ca}));
  EXPECT_EQ((Outcome{1, X509_V_OK}), Verify(store, leaf, {ca}));  // PKITS-like inheritance
  X509_STORE_free(store);
  X509_STORE_free(empty);
  for (X509* x : {root, look, ca, leaf, forged}) X509_free(x);
  for (EVP_PKEY* k : {ca_key, leaf_key, odd_key}) EVP_PKEY_free(k);
}

// ---- signers of one message ----

namespace signers {

constexpr long kStrictSerial = 5;  // the one signer whose chain takes no error

int AllButOneLenient(int ok, X509_STORE_CTX* ctx) {
  return ok || ASN1_INTEGER_get(X509_get_serialNumber(ctx->cert)) != kStrictSerial;
}
int NoAnchorNeeded(int ok, X509_STORE_CTX* ctx) {
  const int e = X509_STORE_CTX_get_error(ctx);
  return ok || e == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
         e == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT || e == X509_V_ERR_CERT_UNTRUSTED;
}

// PKCS7_verify of "signed text" by `signers` (with `key`) carrying `certs`
// and `lists`, decoded as received.
int VerifyMessage(X509_STORE* store, const std::vector<X509*>& signers,
                  const std::vector<X509*>& certs, const std::vector<X509_CRL*>& lists,
                  EVP_PKEY* key = RsaKey2()) {
  PKCS7* p7 = PKCS7_new();
  EXPECT_EQ(1, PKCS7_set_type(p7, kNidSigned));
  EXPECT_EQ(1, PKCS7_content_new(p7, kNidData));
  for (X509* x : signers) {
    EXPECT_NE(nullptr, PKCS7_add_signature(p7, x, key, EVP_sha1()));
    EXPECT_EQ(1, PKCS7_add_certificate(p7, x));
  }
  for (X509* x : certs) EXPECT_EQ(1, PKCS7_add_certificate(p7, x));
  for (X509_CRL* l : lists) EXPECT_EQ(1, PKCS7_add_crl(p7, l));
  BIO* bio = PKCS7_dataInit(p7, nullptr);
  EXPECT_EQ(12, BIO_write(bio, "signed text\n", 12));
  BIO_flush(bio);
  EXPECT_EQ(1, PKCS7_dataFinal(p7, bio));
  BIO_free_all(bio);
  PKCS7* received = PKCS7_dup(p7);
  const int ok = PKCS7_verify(received, nullptr, store, nullptr, nullptr, 0);
  morvane_test::DrainErrors();
  PKCS7_free(received);
  PKCS7_free(p7);
  return ok;
}

}  // namespace signers

// Two signers under two CAs that nothing in the store vouches for, each CA
// with a complete list, a delta list and five newer deltas of a stranger:
// each signer verifies alone (seven checks), and so they do together.
TEST(MessageSigners, EachChainHasItsOwnBoundOfUnvouchedChecks) {
  using namespace signers;
  AddAlgorithms();
  const time_t now = time(nullptr);
  std::vector<X509*> cas, people;
  std::vector<X509_CRL*> lists;
  EVP_PKEY* keys[2] = {RsaKey(), RsaKey2()};
  for (int i = 0; i < 2; i++) {
    const std::string ca = "CA" + std::to_string(i);
    cas.push_back(Decoded(MakeCert({ca, "Root", 2, 1 + i, kCaExts, keys[i], RsaKey()})));
    people.push_back(
        Decoded(MakeCert({"Signer" + std::to_string(i), ca, 2, 10 + i, {}, RsaKey2(), keys[i]})));
    lists.push_back(Decoded(MakeCrl(ca, {}, now - 2 * kDay, now + kDay, {kNumber1}, keys[i])));
    lists.push_back(
        Decoded(MakeCrl(ca, {}, now - 60, now + kDay, {kNumber2, kDeltaOf1}, keys[i])));
    for (int j = 0; j < 5; j++)
      lists.push_back(Decoded(MakeCrl(ca, {}, now - 30 + j, now + kDay, {kNumber3, kDeltaOf1},
                                      Built::StrangerKey())));
  }
  X509_STORE* store = X509_STORE_new();
  store->verify_cb = NoAnchorNeeded;
  ASSERT_EQ(1, X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK));
  for (X509* x : people) EXPECT_EQ(1, VerifyMessage(store, {x}, cas, lists));
  EXPECT_EQ(1, VerifyMessage(store, people, cas, lists));
  X509_STORE_free(store);
  for (X509* x : people) X509_free(x);
  for (X509* x : cas) X509_free(x);
  for (X509_CRL* l : lists) X509_CRL_free(l);
}

// The first signer's chain is cut by the depth below the CA whose key takes
// its parameters from the root (its callback accepts that); the second
// signer's chain has the CA under the root, and verifies as alone.
TEST(MessageSigners, AKeyMetWithNothingAboveServesNoOtherChain) {
  using namespace signers;
  AddAlgorithms();
  EVP_PKEY* root_key = DsaKey();
  EVP_PKEY* ca_key = DsaKeySharingParameters(root_key);
  EVP_PKEY* sub_key = DsaKeySharingParameters(root_key);
  X509* root = Decoded(MakeCert({"DsaRoot", "", 2, 1, kCaExts, root_key, root_key}));
  X509* ca = Decoded(
      WithoutParameters(MakeCert({"DsaCA", "DsaRoot", 2, 2, kCaExts, ca_key, root_key}), root_key));
  X509* sub = Decoded(MakeCert({"DsaB", "DsaCA", 2, 3, kCaExts, sub_key, ca_key}));
  X509* deep = Decoded(MakeCert({"Deep", "DsaB", 2, 4, {}, RsaKey2(), sub_key}));
  X509* near = Decoded(MakeCert({"Near", "DsaCA", 2, 5, {}, RsaKey2(), ca_key}));
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, root));
  ASSERT_EQ(1, X509_STORE_set_depth(store, 2));
  store->verify_cb = AllButOneLenient;
  EXPECT_EQ(1, VerifyMessage(store, {near}, {ca}, {}));
  EXPECT_EQ(1, VerifyMessage(store, {deep, near}, {ca, sub}, {}));
  X509_STORE_free(store);
  for (X509* x : {root, ca, sub, deep, near}) X509_free(x);
  for (EVP_PKEY* k : {ca_key, sub_key}) EVP_PKEY_free(k);
}

// A signer whose DSA key takes its parameters from the CA's: its signature
// is checked under the key with the parameters of the chain verified, and
// its certificate's key is left without them.
TEST(MessageSigners, ASignerKeyTakesTheChainsParameters) {
  using namespace signers;
  AddAlgorithms();
  EVP_PKEY* signer_key = DsaKeySharingParameters(DsaKey());
  X509* root = Decoded(MakeCert({"DsaRoot", "", 2, 1, kCaExts, DsaKey(), DsaKey()}));
  X509* signer = Decoded(
      WithoutParameters(MakeCert({"Signer", "DsaRoot", 2, 2, {}, signer_key, DsaKey()}), DsaKey()));
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, root));
  EXPECT_EQ(1, VerifyMessage(store, {signer}, {}, {}, signer_key));
  EVP_PKEY* lent = X509_get_pubkey(signer);
  EXPECT_EQ(1, EVP_PKEY_missing_parameters(lent));
  EVP_PKEY_free(lent);
  X509_STORE_free(store);
  X509_free(signer);
  X509_free(root);
  EVP_PKEY_free(signer_key);
}
