// The certificate store: its cache and duplicates, the lock it takes, the
// issuer search over several certificates of one subject, the file loaders
// and the hashed-directory method, over PKITS certificates and revocation
// lists (../shared/vectors/pkits, NIST PKITS, 2048-bit RSA edition).

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <string.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "cert_builder.h"
#include "chain_util.h"
#include "der_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::TempPath;

std::string Pkits(const std::string& rel) {
  return morvane_test::VectorFile("pkits/" + rel);
}

#define PKITS_OR_SKIP()                                                     \
  do {                                                                      \
    if (morvane_test::VectorFile("pkits/certs").empty())                    \
      GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present"; \
  } while (0)

X509* Cert(const std::string& name) {
  return x509_test::Decode(d2i_X509, morvane_test::ReadFileBytes(Pkits("certs/" + name + ".crt")));
}

X509_CRL* Crl(const std::string& name) {
  return x509_test::Decode(d2i_X509_CRL,
                           morvane_test::ReadFileBytes(Pkits("crls/" + name + ".crl")));
}

void WriteBytes(const std::string& path, const Bytes& b) {
  morvane_test::WriteFile(path, std::string(b.begin(), b.end()));
}

std::string Hex8(unsigned long h) {
  char buf[16];
  snprintf(buf, sizeof(buf), "%08lx", h);
  return buf;
}

// Writes the named PKITS certificates and CRLs ("crl:" prefix) as one PEM
// file.
void WritePem(const std::string& path, const std::vector<std::string>& names) {
  BIO* out = BIO_new_file(path.c_str(), "w");
  ASSERT_NE(nullptr, out);
  for (const std::string& n : names) {
    if (n.rfind("crl:", 0) == 0) {
      X509_CRL* crl = Crl(n.substr(4));
      EXPECT_EQ(1, PEM_write_bio_X509_CRL(out, crl));
      X509_CRL_free(crl);
    } else {
      X509* x = Cert(n);
      EXPECT_EQ(1, PEM_write_bio_X509(out, x));
      X509_free(x);
    }
  }
  BIO_free(out);
}

struct StoreFree {
  void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
using StorePtr = std::unique_ptr<X509_STORE, StoreFree>;

TEST(Store, SameCertificateTwiceIsRefusedAndTheCacheUnchanged) {
  PKITS_OR_SKIP();
  StorePtr store(X509_STORE_new());
  X509* ta = Cert("TrustAnchorRootCertificate");
  X509* copy = Cert("TrustAnchorRootCertificate");
  ASSERT_NE(nullptr, ta);
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), ta));
  const auto locks = morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509_STORE});
  EXPECT_EQ((std::vector<morvane_test::LockEvent>{
                morvane_test::WriteLock(CRYPTO_LOCK_X509_STORE),
                morvane_test::WriteUnlock(CRYPTO_LOCK_X509_STORE)}),
            locks);
  EXPECT_EQ(2, ta->references);
  EXPECT_EQ(0, X509_STORE_add_cert(store.get(), copy));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  EXPECT_EQ(1, sk_num(store->objs));
  EXPECT_EQ(1, copy->references);
  EXPECT_EQ(0, X509_STORE_add_cert(store.get(), nullptr));
  EXPECT_ERRORS({});
  X509_free(ta);
  X509_free(copy);
}

TEST(Store, SameCrlTwiceIsRefusedAnotherOfItsIssuerHeld) {
  PKITS_OR_SKIP();
  StorePtr store(X509_STORE_new());
  X509_CRL* a = Crl("TrustAnchorRootCRL");
  X509_CRL* b = Crl("TrustAnchorRootCRL");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), a));
  EXPECT_EQ(0, X509_STORE_add_crl(store.get(), b));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CRL, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  EXPECT_EQ(1, sk_num(store->objs));
  // Two lists of one issuer (a complete and a delta list) are both held.
  X509_CRL* complete = Crl("deltaCRLCA1CRL");
  X509_CRL* delta = Crl("deltaCRLCA1deltaCRL");
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), delta));
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), complete));
  EXPECT_EQ(3, sk_num(store->objs));
  EXPECT_ERRORS({});
  X509_CRL_free(a);
  X509_CRL_free(b);
  X509_CRL_free(complete);
  X509_CRL_free(delta);
}

// Delta lists are the built-in revocation check's: a check the application
// installs as cert_crl decides alone (PKITS 4.15.4: the delta list revokes
// the certificate, the complete list does not).
TEST(Store, AnInstalledCrlCheckDecidesAlone) {
  PKITS_OR_SKIP();
  Morvane_add_all_digests();
  StorePtr store(X509_STORE_new());
  X509* ta = Cert("TrustAnchorRootCertificate");
  X509* ca = Cert("deltaCRLCA1Cert");
  X509* ee = Cert("InvaliddeltaCRLTest4EE");
  X509_CRL* complete = Crl("deltaCRLCA1CRL");
  X509_CRL* delta = Crl("deltaCRLCA1deltaCRL");
  ASSERT_NE(nullptr, ee);
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), ta));
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), ca));
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), complete));
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), delta));
  for (bool own : {false, true}) {
    SCOPED_TRACE(own);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store.get(), ee, nullptr));
    X509_STORE_CTX_set_time(ctx, 0, 1577836800);
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
    if (own) ctx->cert_crl = [](X509_STORE_CTX*, X509_CRL*, X509*) { return 1; };
    EXPECT_EQ(own ? 1 : 0, X509_verify_cert(ctx));
    EXPECT_EQ(own ? X509_V_OK : X509_V_ERR_CERT_REVOKED, X509_STORE_CTX_get_error(ctx));
    X509_STORE_CTX_free(ctx);
  }
  ERR_clear_error();
  for (X509* x : {ta, ca, ee}) X509_free(x);
  X509_CRL_free(complete);
  X509_CRL_free(delta);
}

TEST(Store, CertificatesOfOneSubjectAreAllHeld) {
  PKITS_OR_SKIP();
  // The new key's CA certificate and the self-issued one that links the
  // keys share their subject.
  StorePtr store(X509_STORE_new());
  X509* old_key = Cert("BasicSelfIssuedNewKeyOldWithNewCACert");
  X509* new_key = Cert("BasicSelfIssuedNewKeyCACert");
  ASSERT_EQ(0, X509_NAME_cmp(X509_get_subject_name(old_key), X509_get_subject_name(new_key)));
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), new_key));
  X509* ta = Cert("TrustAnchorRootCertificate");
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), ta));
  X509_free(ta);
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), old_key));
  EXPECT_EQ(3, sk_num(store->objs));
  // A search sorts the cache, those of one name in the order added.
  const int first =
      X509_OBJECT_idx_by_subject(store->objs, X509_LU_X509, X509_get_subject_name(new_key));
  EXPECT_EQ(1, sk_is_sorted(store->objs));
  ASSERT_GE(first, 0);
  ASSERT_LT(first, 2);
  EXPECT_EQ(new_key, reinterpret_cast<X509_OBJECT*>(sk_value(store->objs, first))->data.x509);
  EXPECT_EQ(old_key, reinterpret_cast<X509_OBJECT*>(sk_value(store->objs, first + 1))->data.x509);
  X509_OBJECT probe;
  probe.type = X509_LU_X509;
  probe.data.x509 = new_key;
  X509_OBJECT* found = X509_OBJECT_retrieve_match(store->objs, &probe);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(new_key, found->data.x509);
  EXPECT_EQ(-1, X509_OBJECT_idx_by_subject(store->objs, 3, X509_get_subject_name(new_key)));
  X509_free(old_key);
  X509_free(new_key);
}

// Revocation lists of one issuer that share a signature value (so that
// telling them apart takes their encodings): each addition costs the same
// number of allocations, the 64th as the second, where a comparison with
// every list of the name made each cost more than the last.  (One more
// now and then grows the cache or its index.)
TEST(Store, AddingCostsTheSameHoweverManyShareTheName) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  constexpr int kLists = 64;
  std::vector<X509_CRL*> crls;
  for (int i = 0; i < kLists; i++) {
    crls.push_back(morvane_test::MakeCrl("Issuer", {{i + 1, {}}}, 1577836800 + i));
    const ASN1_BIT_STRING* first = crls[0]->signature;
    ASSERT_EQ(1, ASN1_STRING_set(crls[i]->signature, first->data, first->length));
  }
  StorePtr store(X509_STORE_new());
  std::vector<long> cost;
  for (X509_CRL* crl : crls) {
    const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
    EXPECT_EQ(1, X509_STORE_add_crl(store.get(), crl));
    const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
    cost.push_back(after.mallocs + after.reallocs - before.mallocs - before.reallocs);
  }
  for (int i = 2; i < kLists; i++) EXPECT_LE(cost[i], cost[1] + 1) << "list " << i;
  // Each is still refused a second time.
  EXPECT_EQ(0, X509_STORE_add_crl(store.get(), crls[kLists / 2]));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CRL, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  EXPECT_EQ(kLists, sk_num(store->objs));
  // A list that the caller pushed onto the cache itself counts as held too.
  X509_CRL* pushed = morvane_test::MakeCrl("Issuer", {{kLists + 1, {}}});
  auto* obj = static_cast<X509_OBJECT*>(CRYPTO_malloc(sizeof(X509_OBJECT), __FILE__, __LINE__));
  obj->type = X509_LU_CRL;
  obj->data.crl = pushed;
  X509_OBJECT_up_ref_count(obj);
  ASSERT_GT(sk_push(store->objs, reinterpret_cast<char*>(obj)), 0);
  EXPECT_EQ(0, X509_STORE_add_crl(store.get(), pushed));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CRL, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  X509_CRL_free(pushed);
  for (X509_CRL* crl : crls) X509_CRL_free(crl);
}

// A caller that removes (and frees) an object of the cache and pushes
// another leaves the count as it was: the next addition indexes the cache
// anew all the same, whether or not a search sorted it in between, so the
// removed object's copy is added and nothing freed is read (ASan).
TEST(Store, AnObjectTheCallerRemovedIsNoLongerHeld) {
  for (const bool sorted_between : {false, true}) {
    SCOPED_TRACE(sorted_between ? "sorted in between" : "added at once");
    StorePtr store(X509_STORE_new());
    X509* a = morvane_test::MakeCert({"A", "", 2, 1, {}});
    X509* b = morvane_test::MakeCert({"B", "", 2, 2, {}});
    X509* c = morvane_test::MakeCert({"C", "", 2, 3, {}});
    EXPECT_EQ(1, X509_STORE_add_cert(store.get(), a));
    EXPECT_EQ(1, X509_STORE_add_cert(store.get(), b));
    const int at = X509_OBJECT_idx_by_subject(store->objs, X509_LU_X509, X509_get_subject_name(a));
    ASSERT_GE(at, 0);
    auto* removed = reinterpret_cast<X509_OBJECT*>(sk_delete(store->objs, at));
    X509_OBJECT_free_contents(removed);
    CRYPTO_free(removed);
    auto* obj = static_cast<X509_OBJECT*>(CRYPTO_malloc(sizeof(X509_OBJECT), __FILE__, __LINE__));
    obj->type = X509_LU_X509;
    obj->data.x509 = c;
    X509_OBJECT_up_ref_count(obj);
    ASSERT_GT(sk_push(store->objs, reinterpret_cast<char*>(obj)), 0);
    if (sorted_between) {
      EXPECT_GE(X509_OBJECT_idx_by_subject(store->objs, X509_LU_X509, X509_get_subject_name(c)), 0);
    }
    X509* copy = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, a));
    EXPECT_EQ(1, X509_STORE_add_cert(store.get(), copy));
    EXPECT_EQ(0, X509_STORE_add_cert(store.get(), c));
    EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
    EXPECT_EQ(3, sk_num(store->objs));
    for (X509* x : {a, b, c, copy}) X509_free(x);
  }
}

// Copies of the DER object `der` whose signatures differ only in their
// first two octets (k), so that they share the signature's last 16 octets.
std::vector<Bytes> SignatureHeads(const Bytes& der, int signature_length, int n) {
  std::vector<Bytes> out;
  for (int k = 0; k < n; k++) {
    out.push_back(der);
    out.back()[der.size() - signature_length] = static_cast<unsigned char>(k >> 8);
    out.back()[der.size() - signature_length + 1] = static_cast<unsigned char>(k);
  }
  return out;
}

// Objects that share a name, a serial number (a list's lastUpdate) and the
// signature's last 16 octets, added to one store: distinct ones are all
// kept and each is found by its copy, which is refused, as is the object
// itself added again.
struct SharedShape {
  const char* name;
  int type;
  std::vector<Bytes> (*make)(int n);
};

const SharedShape kSharedShapes[] = {
    {"Certificates", X509_LU_X509,
     [](int n) {
       X509* x = morvane_test::MakeCert({"Shared", "", 2, 7, {}});
       const Bytes der = x509_test::Encode(i2d_X509, x);
       const int length = x->signature->length;
       X509_free(x);
       return SignatureHeads(der, length, n);
     }},
    {"RevocationLists", X509_LU_CRL,
     [](int n) {
       X509_CRL* crl = morvane_test::MakeCrl("Shared", {{3, {}}});
       const Bytes der = x509_test::Encode(i2d_X509_CRL, crl);
       const int length = crl->signature->length;
       X509_CRL_free(crl);
       return SignatureHeads(der, length, n);
     }},
};

class StoreSharedShapes : public testing::TestWithParam<SharedShape> {};

TEST_P(StoreSharedShapes, AllKeptAllFoundCopiesRefused) {
  const SharedShape& shape = GetParam();
  constexpr int kObjects = 300;
  const std::vector<Bytes> ders = shape.make(kObjects);
  const bool cert = shape.type == X509_LU_X509;
  auto decode = [cert](const Bytes& der) -> void* {
    return cert ? static_cast<void*>(x509_test::Decode(d2i_X509, der))
                : static_cast<void*>(x509_test::Decode(d2i_X509_CRL, der));
  };
  auto add = [cert](X509_STORE* s, void* v) {
    return cert ? X509_STORE_add_cert(s, static_cast<X509*>(v))
                : X509_STORE_add_crl(s, static_cast<X509_CRL*>(v));
  };
  auto release = [cert](void* v) {
    cert ? X509_free(static_cast<X509*>(v)) : X509_CRL_free(static_cast<X509_CRL*>(v));
  };
  StorePtr store(X509_STORE_new());
  std::vector<void*> held;
  for (const Bytes& der : ders) {
    held.push_back(decode(der));
    ASSERT_NE(nullptr, held.back());
    EXPECT_EQ(1, add(store.get(), held.back()));
  }
  EXPECT_EQ(kObjects, sk_num(store->objs));
  EXPECT_ERRORS({});
  const int func = cert ? X509_F_X509_STORE_ADD_CERT : X509_F_X509_STORE_ADD_CRL;
  for (int k = 0; k < kObjects; k += 37) {
    void* copy = decode(ders[k]);
    X509_OBJECT probe;
    probe.type = shape.type;
    probe.data.ptr = static_cast<char*>(copy);
    X509_OBJECT* found = X509_OBJECT_retrieve_match(store->objs, &probe);
    ASSERT_NE(nullptr, found) << k;
    EXPECT_EQ(held[k], found->data.ptr) << k;
    EXPECT_EQ(0, add(store.get(), copy)) << k;
    EXPECT_EQ(0, add(store.get(), held[k])) << k;
    EXPECT_ERRORS({{ERR_LIB_X509, func, X509_R_CERT_ALREADY_IN_HASH_TABLE},
                   {ERR_LIB_X509, func, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
    release(copy);
  }
  EXPECT_EQ(kObjects, sk_num(store->objs));
  for (void* v : held) release(v);
}

INSTANTIATE_TEST_SUITE_P(Shapes, StoreSharedShapes, testing::ValuesIn(kSharedShapes),
                         [](const testing::TestParamInfo<SharedShape>& info) {
                           return std::string(info.param.name);
                         });

// A certificate or list changed after it was added is still the one held:
// adding it again is refused, and the cache keeps one.
struct Change {
  const char* name;
  bool list;  // the list is changed and added again, else the certificate
  void (*change)(X509* x, X509_CRL* crl);
};

X509_NAME* OtherName() {
  X509_NAME* name = X509_NAME_new();
  X509_NAME_add_entry_by_txt(name, "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>("Renamed"), -1, -1, 0);
  return name;
}

const Change kChanges[] = {
    {"CertificateRenamed", false,
     [](X509* x, X509_CRL*) {
       X509_NAME* name = OtherName();
       X509_set_subject_name(x, name);
       X509_NAME_free(name);
     }},
    {"SubjectChangedInPlace", false,
     [](X509* x, X509_CRL*) {
       X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "O", ASN1_MB_ASCII,
                                  reinterpret_cast<const unsigned char*>("Other"), -1, -1, 0);
     }},
    {"SerialChanged", false,
     [](X509* x, X509_CRL*) {
       ASN1_INTEGER* serial = ASN1_INTEGER_new();
       ASN1_INTEGER_set(serial, 99);
       X509_set_serialNumber(x, serial);
       ASN1_INTEGER_free(serial);
     }},
    {"ListRenamed", true,
     [](X509*, X509_CRL* crl) {
       X509_NAME* name = OtherName();
       X509_CRL_set_issuer_name(crl, name);
       X509_NAME_free(name);
     }},
};

class StoreChangedObjects : public testing::TestWithParam<Change> {};

TEST_P(StoreChangedObjects, AreNotAddedTwice) {
  const Change& c = GetParam();
  StorePtr store(X509_STORE_new());
  X509* made = morvane_test::MakeCert({"Held", "", 2, 2, {}});
  X509_CRL* made_crl = morvane_test::MakeCrl("Held", {});
  X509* x = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, made));
  X509_CRL* crl = x509_test::Decode(d2i_X509_CRL, x509_test::Encode(i2d_X509_CRL, made_crl));
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), made));
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), made_crl));
  // Another certificate and list of the same names: the decoded ones differ
  // from those made in their serial number and lastUpdate.
  ASN1_INTEGER_set(X509_get_serialNumber(x), 3);
  x->cert_info->enc.modified = 1;
  ASN1_TIME_set(crl->crl->lastUpdate, 1577836801);
  crl->crl->enc.modified = 1;
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), x));
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), crl));
  c.change(x, crl);
  const bool list = c.list;
  EXPECT_EQ(0, list ? X509_STORE_add_crl(store.get(), crl) : X509_STORE_add_cert(store.get(), x));
  EXPECT_ERRORS({{ERR_LIB_X509, list ? X509_F_X509_STORE_ADD_CRL : X509_F_X509_STORE_ADD_CERT,
                  X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  EXPECT_EQ(4, sk_num(store->objs));
  X509_free(x);
  X509_free(made);
  X509_CRL_free(crl);
  X509_CRL_free(made_crl);
}

INSTANTIATE_TEST_SUITE_P(Changes, StoreChangedObjects, testing::ValuesIn(kChanges),
                         [](const testing::TestParamInfo<Change>& info) {
                           return std::string(info.param.name);
                         });

// A certificate or list made in memory and its copies decoded from its DER
// are one: whichever comes second is refused; a certificate's also when
// only one of them has its cached facts made.
TEST(Store, MadeAndDecodedCopiesAreOne) {
  for (const int order : {0, 1, 2}) {  // made, copy; copy, made; copy, copy with its facts
    SCOPED_TRACE(order);
    StorePtr store(X509_STORE_new());
    X509* made = morvane_test::MakeCert({"Made", "", 2, 5, {}});
    X509_CRL* made_crl = morvane_test::MakeCrl("Made", {{5, {}}});
    X509* copy[2];
    X509_CRL* copy_crl[2];
    for (int i = 0; i < 2; i++) {
      copy[i] = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, made));
      copy_crl[i] = x509_test::Decode(d2i_X509_CRL, x509_test::Encode(i2d_X509_CRL, made_crl));
    }
    EXPECT_EQ(1, X509_check_purpose(copy[1], -1, 0));
    X509* const certs[][2] = {{made, copy[0]}, {copy[0], made}, {copy[0], copy[1]}};
    X509_CRL* const crls[][2] = {
        {made_crl, copy_crl[0]}, {copy_crl[0], made_crl}, {copy_crl[0], copy_crl[1]}};
    EXPECT_EQ(1, X509_STORE_add_cert(store.get(), certs[order][0]));
    EXPECT_EQ(1, X509_STORE_add_crl(store.get(), crls[order][0]));
    EXPECT_EQ(0, X509_STORE_add_cert(store.get(), certs[order][1]));
    EXPECT_EQ(0, X509_STORE_add_crl(store.get(), crls[order][1]));
    EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, X509_R_CERT_ALREADY_IN_HASH_TABLE},
                   {ERR_LIB_X509, X509_F_X509_STORE_ADD_CRL, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
    EXPECT_EQ(2, sk_num(store->objs));
    X509_free(made);
    X509_CRL_free(made_crl);
    for (int i = 0; i < 2; i++) {
      X509_free(copy[i]);
      X509_CRL_free(copy_crl[i]);
    }
  }
}

// A signature value that ends in zero octets, which the encoder may drop:
// the object and its copy decoded from its DER are still one.
TEST(Store, SignaturesEndingInZerosKeepCopiesOne) {
  X509* made = morvane_test::MakeCert({"Zeros", "", 2, 5, {}});
  X509_CRL* made_crl = morvane_test::MakeCrl("Zeros", {});
  Bytes sig(made->signature->data, made->signature->data + made->signature->length);
  sig.insert(sig.end(), {0, 0});
  ASSERT_EQ(1, ASN1_STRING_set(made->signature, sig.data(), static_cast<int>(sig.size())));
  ASSERT_EQ(1, ASN1_STRING_set(made_crl->signature, sig.data(), static_cast<int>(sig.size())));
  X509* copy = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, made));
  X509_CRL* copy_crl = x509_test::Decode(d2i_X509_CRL, x509_test::Encode(i2d_X509_CRL, made_crl));
  StorePtr store(X509_STORE_new());
  EXPECT_EQ(1, X509_STORE_add_cert(store.get(), made));
  EXPECT_EQ(1, X509_STORE_add_crl(store.get(), made_crl));
  EXPECT_EQ(0, X509_STORE_add_cert(store.get(), copy));
  EXPECT_EQ(0, X509_STORE_add_crl(store.get(), copy_crl));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, X509_R_CERT_ALREADY_IN_HASH_TABLE},
                 {ERR_LIB_X509, X509_F_X509_STORE_ADD_CRL, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  X509_free(made);
  X509_free(copy);
  X509_CRL_free(made_crl);
  X509_CRL_free(copy_crl);
}

// Certificates built in memory that cannot be encoded (no key), their
// subjects never encoded, are told apart by subject and serial number: with
// 200 of one serial held, another of a new subject or serial is kept, and
// one of a held subject and serial is a duplicate.
struct BareCase {
  const char* name;
  const char* subject;
  long serial;
  int added;
};

const BareCase kBareCases[] = {
    {"NewSubject", "bare 1x", 1, 1},
    {"NewSerial", "bare 1", 2, 1},
    {"HeldSubjectAndSerial", "bare 1", 1, 0},
};

X509* BareCert(const char* subject, long serial) {
  X509* x = X509_new();
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>(subject), -1, -1, 0);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  return x;
}

TEST(Store, UnencodableCertificatesBySubjectAndSerial) {
  StorePtr store(X509_STORE_new());
  std::vector<X509*> held;
  for (int k = 0; k < 200; k++) {
    held.push_back(BareCert(("bare " + std::to_string(k)).c_str(), 1));
    EXPECT_EQ(1, X509_STORE_add_cert(store.get(), held.back()));
  }
  EXPECT_EQ(0, X509_STORE_add_cert(store.get(), held[100]));
  ERR_clear_error();
  for (const BareCase& c : kBareCases) {
    SCOPED_TRACE(c.name);
    X509* x = BareCert(c.subject, c.serial);
    EXPECT_EQ(c.added, X509_STORE_add_cert(store.get(), x));
    if (c.added == 0) {
      EXPECT_ERRORS(
          {{ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
    }
    X509_free(x);
  }
  EXPECT_EQ(202, sk_num(store->objs));
  for (X509* x : held) X509_free(x);
  ERR_clear_error();
}

// An issuer step that refuses the first candidate it is offered, then
// accepts any other.
X509* refused = nullptr;
int RefuseFirst(X509_STORE_CTX*, X509*, X509* issuer) {
  if (refused == nullptr) refused = issuer;
  return issuer != refused;
}

TEST(Store, IssuerSearchGoesOnPastACandidateThatFails) {
  PKITS_OR_SKIP();
  StorePtr store(X509_STORE_new());
  X509* old_key = Cert("BasicSelfIssuedNewKeyOldWithNewCACert");
  X509* new_key = Cert("BasicSelfIssuedNewKeyCACert");
  X509* ee = Cert("ValidBasicSelfIssuedOldWithNewTest1EE");
  ASSERT_NE(nullptr, ee);
  ASSERT_EQ(1, X509_STORE_add_cert(store.get(), old_key));
  ASSERT_EQ(1, X509_STORE_add_cert(store.get(), new_key));
  X509_STORE_CTX ctx;
  memset(&ctx, 0, sizeof(ctx));
  ctx.ctx = store.get();
  ctx.check_issued = RefuseFirst;
  refused = nullptr;
  X509* issuer = nullptr;
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(1, X509_STORE_CTX_get1_issuer(&issuer, &ctx, ee));
  const auto locks = morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509_STORE});
  EXPECT_EQ(2u, locks.size());  // one scan of the cache
  ASSERT_NE(nullptr, issuer);
  EXPECT_NE(refused, issuer);
  EXPECT_TRUE(issuer == old_key || issuer == new_key);
  EXPECT_EQ(3, issuer->references);
  X509_free(issuer);
  X509_free(old_key);
  X509_free(new_key);
  X509_free(ee);
}

TEST(Store, LoadLocationsNeedsAFileOrADirectory) {
  StorePtr store(X509_STORE_new());
  EXPECT_EQ(0, X509_STORE_load_locations(store.get(), nullptr, nullptr));
  EXPECT_ERRORS({});
  // A directory that does not exist fails, named; nothing is added.
  EXPECT_EQ(0, X509_STORE_load_locations(store.get(), nullptr, ".:no/such/dir"));
  EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_STAT, ENOENT},
                 {ERR_LIB_X509, X509_F_ADD_CERT_DIR, X509_R_INVALID_DIRECTORY, "dir=no/such/dir"}});
  EXPECT_EQ(0, sk_num(store->get_cert_methods));
}

// A store that cannot be made says why, whichever allocation failed.
TEST(StoreAlloc, FailedAllocationsSaySo) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  int failures = 0;
  for (long n = 1; n <= 8; n++) {
    ERR_clear_error();
    morvane_test::FailAllocationAfter(n);
    X509_STORE* store = X509_STORE_new();
    morvane_test::FailAllocationAfter(0);
    if (store != nullptr) {
      X509_STORE_free(store);
      continue;
    }
    failures++;
    EXPECT_EQ(ERR_peek_last_error(),
              ERR_PACK(ERR_LIB_X509, X509_F_X509_STORE_NEW, ERR_R_MALLOC_FAILURE))
        << n;
  }
  EXPECT_GE(failures, 3);  // the store, its cache, its method list, its parameters
  ERR_clear_error();
}

// Loading a directory into a store with each allocation of the call
// failing in turn: 1, or 0 with the reason queued, also when the lookup
// itself cannot be made (X509_LOOKUP_new, the directory state) or attached.
TEST(StoreAlloc, LoadLocationsWithoutMemorySaysWhy) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  TempPath dir(TempPath::kDir);
  const auto allocations = [] {
    const morvane_test::AllocCounts c = morvane_test::GetAllocCounts();
    return c.mallocs + c.reallocs;
  };
  X509_STORE* whole = X509_STORE_new();
  const long before = allocations();
  ASSERT_EQ(1, X509_STORE_load_locations(whole, nullptr, dir.c_str()));
  const long n = allocations() - before;
  X509_STORE_free(whole);
  int failures = 0;
  for (long k = 1; k <= n; k++) {
    X509_STORE* store = X509_STORE_new();
    ERR_clear_error();
    morvane_test::FailAllocationAfter(k);
    const int r = X509_STORE_load_locations(store, nullptr, dir.c_str());
    morvane_test::FailAllocationAfter(0);
    if (r == 0) {
      failures++;
      EXPECT_NE(0UL, ERR_peek_last_error()) << "allocation " << k << " of " << n;
    }
    X509_STORE_free(store);
  }
  EXPECT_GE(failures, 3);  // the lookup, its state and its buffer at least
  ERR_clear_error();
}

TEST(Lookup, DispatchWithoutMethod) {
  X509_LOOKUP* lu = X509_LOOKUP_new(nullptr);
  ASSERT_NE(nullptr, lu);
  X509_OBJECT obj;
  EXPECT_EQ(0, X509_LOOKUP_init(lu));
  EXPECT_EQ(0, X509_LOOKUP_shutdown(lu));
  EXPECT_EQ(-1, X509_LOOKUP_ctrl(lu, 1, nullptr, 0, nullptr));
  EXPECT_EQ(0, X509_LOOKUP_by_subject(lu, 1, nullptr, &obj));
  EXPECT_EQ(0, X509_LOOKUP_by_issuer_serial(lu, 1, nullptr, nullptr, &obj));
  EXPECT_EQ(0, X509_LOOKUP_by_fingerprint(lu, 1, nullptr, 0, &obj));
  EXPECT_EQ(0, X509_LOOKUP_by_alias(lu, 1, nullptr, 0, &obj));
  X509_LOOKUP_free(lu);
  X509_LOOKUP_free(nullptr);
}

TEST(Lookup, FileMethodSlots) {
  X509_LOOKUP* lu = X509_LOOKUP_new(X509_LOOKUP_file());
  EXPECT_STREQ("Load file into cache", X509_LOOKUP_file()->name);
  EXPECT_STREQ("Load certs from files in a directory", X509_LOOKUP_hash_dir()->name);
  EXPECT_EQ(1, X509_LOOKUP_init(lu));
  EXPECT_EQ(0, X509_LOOKUP_ctrl(lu, X509_L_ADD_DIR, "x", 1, nullptr));
  X509_OBJECT obj;
  EXPECT_EQ(0, X509_LOOKUP_by_subject(lu, 1, nullptr, &obj));
  X509_LOOKUP_free(lu);
}

TEST(Lookup, AddingTheSameMethodTwiceGivesOneLookup) {
  StorePtr store(X509_STORE_new());
  X509_LOOKUP* a = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  X509_LOOKUP* b = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  EXPECT_EQ(a, b);
  EXPECT_EQ(store.get(), a->store_ctx);
  EXPECT_EQ(1, sk_num(store->get_cert_methods));
}

TEST(Loaders, DerFilesAndFailures) {
  PKITS_OR_SKIP();
  StorePtr store(X509_STORE_new());
  X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  const std::string ta = Pkits("certs/TrustAnchorRootCertificate.crt");
  EXPECT_EQ(1, X509_load_cert_file(lu, nullptr, X509_FILETYPE_ASN1));
  EXPECT_EQ(1, X509_load_cert_file(lu, ta.c_str(), X509_FILETYPE_ASN1));
  EXPECT_EQ(0, X509_load_cert_file(lu, ta.c_str(), X509_FILETYPE_ASN1));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  // The file method's control: a DER file is loaded as such.
  EXPECT_EQ(1, X509_LOOKUP_load_file(lu, Pkits("certs/GoodCACert.crt").c_str(),
                                     X509_FILETYPE_ASN1));
  EXPECT_EQ(1, X509_load_crl_file(lu, Pkits("crls/GoodCACRL.crl").c_str(), X509_FILETYPE_ASN1));
  EXPECT_EQ(3, sk_num(store->objs));
  EXPECT_ERRORS({});

  EXPECT_EQ(0, X509_load_cert_file(lu, ta.c_str(), 7));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_LOAD_CERT_FILE, X509_R_BAD_X509_FILETYPE}});
  TempPath missing;
  const std::string gone = missing.path() + ".absent";
  EXPECT_EQ(0, X509_load_crl_file(lu, gone.c_str(), X509_FILETYPE_ASN1));
  const std::string q = morvane_test::DrainErrors();
  EXPECT_NE(std::string::npos, q.find("reason 2 ")) << q;
  // A CRL file read as a certificate does not decode.
  EXPECT_EQ(0, X509_load_cert_file(lu, Pkits("crls/GoodCACRL.crl").c_str(), X509_FILETYPE_ASN1));
  const std::string q2 = morvane_test::DrainErrors();
  EXPECT_NE(std::string::npos, q2.find("reason 13 ")) << q2;
}

// A device passed as a file is refused unread, its path named; a FIFO
// that no writer holds reads as empty.  Neither blocks nor spins (a
// watchdog fails the run).
TEST(Loaders, DevicesAndIdleFifosNeverWait) {
  StorePtr store(X509_STORE_new());
  X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  TempPath fifo;
  ASSERT_EQ(0, unlink(fifo.c_str()) | mkfifo(fifo.c_str(), 0644));
  alarm(20);
  for (const char* path : {fifo.c_str(), "/dev/zero"}) {
    for (int type : {X509_FILETYPE_PEM, X509_FILETYPE_ASN1}) {
      EXPECT_EQ(0, X509_load_cert_file(lu, path, type) + X509_load_crl_file(lu, path, type) +
                       X509_load_cert_crl_file(lu, path, type));
      const std::string q = morvane_test::DrainErrors();
      EXPECT_EQ(path != fifo.path(), q.find(std::string(path) + " (not a regular file)") != q.npos);
    }
  }
  alarm(0);
}

TEST(Loaders, EmptyFilesKeepTheCallersErrors) {
  StorePtr store(X509_STORE_new());
  X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  ERR_put_error(ERR_LIB_X509, 0, X509_R_WRONG_TYPE, "caller", 1);
  TempPath dir(TempPath::kDir);
  setenv("SSL_CERT_FILE", dir.Join("none.pem").c_str(), 1);
  setenv("SSL_CERT_DIR", dir.Join("nodir").c_str(), 1);
  EXPECT_EQ(1, X509_STORE_set_default_paths(store.get()));
  unsetenv("SSL_CERT_FILE");
  unsetenv("SSL_CERT_DIR");
  EXPECT_ERRORS({{ERR_LIB_X509, 0, X509_R_WRONG_TYPE}});
  EXPECT_EQ(2, sk_num(store->get_cert_methods));
  (void)lu;
}

TEST(Loaders, DefaultPathsKeepTheCallersMark) {
  StorePtr store(X509_STORE_new());
  TempPath dir(TempPath::kDir);
  setenv("SSL_CERT_FILE", dir.Join("none.pem").c_str(), 1);
  setenv("SSL_CERT_DIR", dir.Join("nodir").c_str(), 1);
  EXPECT_TRUE(morvane_test::KeepsCallersMark(
      [&] { return X509_STORE_set_default_paths(store.get()) == 1; }));
  unsetenv("SSL_CERT_FILE");
  unsetenv("SSL_CERT_DIR");
}

TEST(Loaders, PemFileWhoseSecondCertificateIsHeld) {
  PKITS_OR_SKIP();
  TempPath pem;
  WritePem(pem.path(), {"GoodCACert", "TrustAnchorRootCertificate"});
  StorePtr store(X509_STORE_new());
  X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  X509* ta = Cert("TrustAnchorRootCertificate");
  ASSERT_EQ(1, X509_STORE_add_cert(store.get(), ta));
  X509_free(ta);
  EXPECT_EQ(0, X509_load_cert_file(lu, pem.c_str(), X509_FILETYPE_PEM));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, X509_R_CERT_ALREADY_IN_HASH_TABLE}});
  EXPECT_EQ(2, sk_num(store->objs));  // the first was added
  // The mixed loader counts every object, added or not.
  EXPECT_EQ(2, X509_load_cert_crl_file(lu, pem.c_str(), X509_FILETYPE_PEM));
  morvane_test::DrainErrors();
  EXPECT_EQ(2, sk_num(store->objs));
}

TEST(Loaders, PemFileWithoutCertificate) {
  PKITS_OR_SKIP();
  TempPath pem;
  WritePem(pem.path(), {"crl:GoodCACRL"});
  StorePtr store(X509_STORE_new());
  X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  EXPECT_EQ(0, X509_load_cert_file(lu, pem.c_str(), X509_FILETYPE_PEM));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_NO_START_LINE, "Expecting: TRUSTED CERTIFICATE"},
                 {ERR_LIB_X509, X509_F_X509_LOAD_CERT_FILE, ERR_R_PEM_LIB}});
  // Read as a mixed file, the CRL is loaded; as CRLs, too.
  EXPECT_EQ(1, X509_load_cert_crl_file(lu, pem.c_str(), X509_FILETYPE_PEM));
  EXPECT_EQ(1, sk_num(store->objs));
  EXPECT_ERRORS({});
}

TEST(Loaders, PemFilesKeepTheCallersErrors) {
  PKITS_OR_SKIP();
  TempPath pem;
  WritePem(pem.path(), {"GoodCACert", "TrustAnchorRootCertificate"});
  TempPath crls;
  WritePem(crls.path(), {"crl:GoodCACRL", "crl:TrustAnchorRootCRL"});
  StorePtr store(X509_STORE_new());
  X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  ERR_put_error(ERR_LIB_X509, 0, X509_R_WRONG_TYPE, "caller", 1);
  EXPECT_EQ(2, X509_load_cert_file(lu, pem.c_str(), X509_FILETYPE_PEM));
  EXPECT_EQ(2, X509_load_crl_file(lu, crls.c_str(), X509_FILETYPE_PEM));
  EXPECT_ERRORS({{ERR_LIB_X509, 0, X509_R_WRONG_TYPE}});
  EXPECT_EQ(4, sk_num(store->objs));
}

TEST(Loaders, LoadLocationsReadsAPemFile) {
  PKITS_OR_SKIP();
  TempPath pem;
  WritePem(pem.path(), {"GoodCACert", "crl:GoodCACRL"});
  StorePtr store(X509_STORE_new());
  EXPECT_EQ(1, X509_STORE_load_locations(store.get(), pem.c_str(), nullptr));
  EXPECT_EQ(2, sk_num(store->objs));
  TempPath empty;
  EXPECT_EQ(0, X509_STORE_load_locations(store.get(), empty.c_str(), nullptr));
  morvane_test::DrainErrors();
}

// A PEM file of revocation lists that share issuer, lastUpdate and the
// signature's last 16 octets loads whole, and a second time adds nothing.
TEST(Loaders, PemFileOfListsOfOneShape) {
  constexpr int kLists = 300;
  TempPath pem;
  BIO* out = BIO_new_file(pem.c_str(), "w");
  ASSERT_NE(nullptr, out);
  for (const Bytes& der : kSharedShapes[1].make(kLists)) {
    X509_CRL* crl = x509_test::Decode(d2i_X509_CRL, der);
    EXPECT_EQ(1, PEM_write_bio_X509_CRL(out, crl));
    X509_CRL_free(crl);
  }
  BIO_free(out);
  StorePtr store(X509_STORE_new());
  EXPECT_EQ(1, X509_STORE_load_locations(store.get(), pem.c_str(), nullptr));
  EXPECT_EQ(kLists, sk_num(store->objs));
  EXPECT_ERRORS({});
  X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
  EXPECT_EQ(kLists, X509_load_cert_crl_file(lu, pem.c_str(), X509_FILETYPE_PEM));
  EXPECT_EQ(kLists, sk_num(store->objs));
  morvane_test::DrainErrors();
}

// The certificate `der` with its serial number re-encoded with a redundant
// leading zero octet (X.690, 8.3.2 forbids it), which the decoder refuses.
Bytes WithPaddedSerial(const Bytes& der) {
  // The content of the element at `at`, and where the element ends.
  auto content = [&der](size_t at, size_t* end) {
    size_t p = at + 1;
    size_t len = der[p++];
    if (len & 0x80) {
      const size_t n = len & 0x7f;
      len = 0;
      for (size_t i = 0; i < n; i++) len = len << 8 | der[p++];
    }
    *end = p + len;
    return p;
  };
  size_t cert_end, tbs_end, version_end, serial_end;
  const size_t tbs = content(0, &cert_end);
  const size_t version = content(tbs, &tbs_end);
  content(version, &version_end);
  const size_t serial = content(version_end, &serial_end);
  Bytes padded{0x00};
  padded.insert(padded.end(), der.begin() + serial, der.begin() + serial_end);
  const Bytes tbs_content = x509_test::Cat(
      {Bytes(der.begin() + version, der.begin() + version_end), x509_test::Tlv(0x02, padded),
       Bytes(der.begin() + serial_end, der.begin() + tbs_end)});
  return x509_test::Tlv(0x30, x509_test::Cat({x509_test::Tlv(0x30, tbs_content),
                                              Bytes(der.begin() + tbs_end, der.end())}));
}

std::string CertPem(const Bytes& der) {
  BIO* b = BIO_new(BIO_s_mem());
  EXPECT_GT(PEM_write_bio(b, "CERTIFICATE", const_cast<char*>(""),
                          const_cast<unsigned char*>(der.data()), static_cast<long>(der.size())),
            0);
  char* text = nullptr;
  const long n = BIO_get_mem_data(b, &text);
  std::string out(text, static_cast<size_t>(n));
  BIO_free(b);
  return out;
}

// A bundle holding a certificate that the decoder refuses, or a broken
// block: each loader loads the others and queues the reasons, and fails
// only when nothing in the file reads.
TEST(Loaders, UnreadableCertificateCostsItselfOnly) {
  const x509_test::ChainDer d = x509_test::MakeChainDer();
  const Bytes bad = WithPaddedSerial(d.ca);
  const unsigned char* p = bad.data();
  ASSERT_EQ(nullptr, d2i_X509(nullptr, &p, static_cast<long>(bad.size())));
  const std::string refusal = morvane_test::DrainErrors();
  ASSERT_NE(std::string::npos, refusal.find("lib 13 ")) << refusal;  // ASN.1
  const struct {
    const char* name;
    int (*load)(X509_STORE*, const char*);
    int func;
  } loaders[] = {
      {"load_locations",
       [](X509_STORE* s, const char* f) { return X509_STORE_load_locations(s, f, nullptr); },
       X509_F_X509_LOAD_CERT_CRL_FILE},
      {"cert_file",
       [](X509_STORE* s, const char* f) {
         return X509_load_cert_file(X509_STORE_add_lookup(s, X509_LOOKUP_file()), f,
                                    X509_FILETYPE_PEM);
       },
       X509_F_X509_LOAD_CERT_FILE},
      {"cert_crl_file",
       [](X509_STORE* s, const char* f) {
         return X509_load_cert_crl_file(X509_STORE_add_lookup(s, X509_LOOKUP_file()), f,
                                        X509_FILETYPE_PEM);
       },
       X509_F_X509_LOAD_CERT_CRL_FILE},
  };
  // Each bundle with what it loads and a reason it must queue: the
  // decoder's first, or that of a block whose body is not base64.
  const std::string decoder = refusal.substr(0, refusal.find('\n'));
  const std::string broken = "-----BEGIN CERTIFICATE-----\n!!!!\n-----END CERTIFICATE-----\n";
  const struct {
    std::string text;
    int loaded;
    std::string reason;
  } bundles[] = {
      {CertPem(d.root) + CertPem(bad) + CertPem(d.ca), 2, decoder},
      {CertPem(bad) + CertPem(d.root), 1, decoder},
      {CertPem(bad), 0, decoder},
      {CertPem(d.root) + broken + CertPem(d.ca), 2, "func 109 ("},
      // A block that decodes to nothing, and one with a body line of 253
      // characters, are passed over like broken ones.
      {CertPem(d.root) + "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n" +
           CertPem(d.ca),
       2, ", reason " + std::to_string(PEM_R_EMPTY_BLOCK) + " ("},
      {CertPem(d.root) + "-----BEGIN CERTIFICATE-----\nMIIB\n" + std::string(253, 'A') +
           "\n-----END CERTIFICATE-----\n" + CertPem(d.ca),
       2, ", reason " + std::to_string(PEM_R_BAD_BASE64_DECODE) + " ("},
  };
  for (const auto& l : loaders) {
    for (size_t i = 0; i < std::size(bundles); i++) {
      const auto& b = bundles[i];
      SCOPED_TRACE(std::string(l.name) + ", bundle " + std::to_string(i));
      TempPath pem;
      morvane_test::WriteFile(pem.path(), b.text);
      StorePtr store(X509_STORE_new());
      const int got = l.load(store.get(), pem.c_str());
      EXPECT_EQ(b.loaded, sk_num(store->objs));
      if (l.load == loaders[0].load)
        EXPECT_EQ(b.loaded > 0 ? 1 : 0, got);
      else
        EXPECT_EQ(b.loaded, got);
      EXPECT_EQ(ERR_PACK(ERR_LIB_X509, l.func, ERR_R_PEM_LIB), ERR_peek_last_error());
      const std::string queued = morvane_test::DrainErrors();
      EXPECT_NE(std::string::npos, queued.find(b.reason)) << queued;
    }
  }
}

// A stream that fails between blocks, or inside one, is neither the file's
// end nor a broken block: what was read before stays loaded, the reading
// ends and the load fails (the file may have held more), and the failure
// is queued, the system's error first, then the
// reader's "BIO lib" (it reads no more after the failure).  The file is
// a pipe whose writer stays open, so that the read after the text waits,
// until a timer's signal (whose handler asks for no restart) makes it fail
// with EINTR.
void Interrupted(int) {}

TEST(Loaders, AStreamThatFailsIsNoEnd) {
  const x509_test::ChainDer d = x509_test::MakeChainDer();
  const std::string ca = CertPem(d.ca);
  const struct {
    const char* name;
    std::string text;  // what the pipe holds when the read waits
    int loaded;
  } rows[] = {
      {"between blocks", CertPem(d.root) + ca, 2},
      {"inside a block", CertPem(d.root) + ca.substr(0, ca.size() / 2), 1},
  };
  struct sigaction on = {}, was = {};
  on.sa_handler = Interrupted;
  sigemptyset(&on.sa_mask);
  ASSERT_EQ(0, sigaction(SIGALRM, &on, &was));
  // The certificate loader and the bundle loader alike.
  for (const bool bundle : {false, true}) {
    for (const auto& r : rows) {
      SCOPED_TRACE(std::string(r.name) + (bundle ? ", bundle" : ""));
      TempPath dir(TempPath::kDir);
      const std::string pipe = dir.Join("pipe");
      ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
      const int writer = open(pipe.c_str(), O_RDWR);  // does not wait for a reader
      ASSERT_GE(writer, 0);
      ASSERT_EQ(static_cast<ssize_t>(r.text.size()), write(writer, r.text.data(), r.text.size()));
      StorePtr store(X509_STORE_new());
      X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
      itimerval every = {{0, 10000}, {0, 10000}}, off = {};
      ASSERT_EQ(0, setitimer(ITIMER_REAL, &every, nullptr));
      const int got = bundle ? X509_load_cert_crl_file(lu, pipe.c_str(), X509_FILETYPE_PEM)
                             : X509_load_cert_file(lu, pipe.c_str(), X509_FILETYPE_PEM);
      setitimer(ITIMER_REAL, &off, nullptr);
      close(writer);
      EXPECT_EQ(0, got);  // the file may have held more
      EXPECT_EQ(r.loaded, sk_num(store->objs));
      EXPECT_EQ(ERR_PACK(ERR_LIB_SYS, SYS_F_FREAD, EINTR), ERR_peek_error());
      if (bundle) {
        EXPECT_EQ(ERR_PACK(ERR_LIB_X509, X509_F_X509_LOAD_CERT_CRL_FILE, ERR_R_PEM_LIB),
                  ERR_peek_last_error());
        ERR_clear_error();
      } else {
        EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_FREAD, EINTR},
                       {ERR_LIB_BIO, BIO_F_FILE_READ, ERR_R_SYS_LIB},
                       {ERR_LIB_PEM, PEM_F_PEM_READ_BIO, ERR_R_BIO_LIB},
                       {ERR_LIB_X509, X509_F_X509_LOAD_CERT_FILE, ERR_R_PEM_LIB}});
      }
    }
  }
  sigaction(SIGALRM, &was, nullptr);
}

// A file without PEM blocks (empty, DER, a folder named as the file) loads
// nothing, and the failure says which file and why.
TEST(Loaders, FilesWithoutPemBlocksSayWhy) {
  TempPath empty, der, dir(TempPath::kDir);
  morvane_test::WriteFile(der.path(), std::string("\x30\x03\x02\x01\x05", 5));
  for (const TempPath* p : {&empty, &der, &dir}) {
    SCOPED_TRACE(p->path());
    StorePtr store(X509_STORE_new());
    ERR_clear_error();
    EXPECT_EQ(0, X509_STORE_load_locations(store.get(), p->c_str(), nullptr));
    const char* data = nullptr;
    int flags = 0;
    const unsigned long e = ERR_peek_last_error_line_data(nullptr, nullptr, &data, &flags);
    EXPECT_EQ(X509_F_X509_LOAD_CERT_CRL_FILE, ERR_GET_FUNC(e));
    // A folder cannot be read: the read error comes first, not an end.
    EXPECT_EQ(p == &dir ? ERR_R_PEM_LIB : X509_R_NO_CERTIFICATE_OR_CRL_FOUND, ERR_GET_REASON(e));
    EXPECT_EQ("file=" + p->path(), data);
    if (p == &dir) {
      EXPECT_EQ(ERR_PACK(ERR_LIB_SYS, SYS_F_FREAD, EISDIR), ERR_peek_error());
    }
    EXPECT_EQ(0, sk_num(store->objs));
  }
  ERR_clear_error();
}

// A directory holding files named by hash; type 2 reads them as DER.
class HashDir : public testing::Test {
 protected:
  void SetUp() override {
    if (morvane_test::VectorFile("pkits/certs").empty())
      GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present";
    ta_ = Cert("TrustAnchorRootCertificate");
    ca_ = Cert("GoodCACert");
    ASSERT_NE(nullptr, ta_);
    ASSERT_NE(nullptr, ca_);
    store_.reset(X509_STORE_new());
    ctx_.ctx = store_.get();
  }
  void TearDown() override {
    X509_free(ta_);
    X509_free(ca_);
  }
  X509_LOOKUP* AddDir(const std::string& list) {
    X509_LOOKUP* lu = X509_STORE_add_lookup(store_.get(), X509_LOOKUP_hash_dir());
    EXPECT_EQ(1, X509_LOOKUP_add_dir(lu, list.c_str(), X509_FILETYPE_ASN1));
    return lu;
  }
  X509* ta_ = nullptr;
  X509* ca_ = nullptr;
  StorePtr store_;
  X509_STORE_CTX ctx_{};
  TempPath dir_{TempPath::kDir};
};

TEST_F(HashDir, ServesTheTrustAnchorAndACrl) {
  const unsigned long h = X509_NAME_hash(X509_get_subject_name(ca_));
  WriteBytes(dir_.Join("9e747f8c.0"), morvane_test::ReadFileBytes(
                                            Pkits("certs/TrustAnchorRootCertificate.crt")));
  WriteBytes(dir_.Join(Hex8(h) + ".r0"),
             morvane_test::ReadFileBytes(Pkits("crls/GoodCACRL.crl")));
  AddDir(dir_.path());
  X509_OBJECT obj;
  ASSERT_EQ(1, X509_STORE_get_by_subject(&ctx_, X509_LU_X509, X509_get_subject_name(ta_), &obj));
  EXPECT_EQ(0, X509_cmp(ta_, obj.data.x509));
  X509_OBJECT_free_contents(&obj);
  ASSERT_EQ(1, X509_STORE_get_by_subject(&ctx_, X509_LU_CRL, X509_get_subject_name(ca_), &obj));
  EXPECT_EQ(0, X509_NAME_cmp(X509_get_subject_name(ca_), obj.data.crl->crl->issuer));
  X509_OBJECT_free_contents(&obj);
  // Not there: none, and nothing queued.
  EXPECT_EQ(0, X509_STORE_get_by_subject(&ctx_, X509_LU_CRL, X509_get_subject_name(ta_), &obj));
  EXPECT_EQ(2, sk_num(store_->objs));
  EXPECT_ERRORS({});
  X509_LOOKUP* lu = X509_STORE_add_lookup(store_.get(), X509_LOOKUP_hash_dir());
  EXPECT_EQ(0, X509_LOOKUP_by_subject(lu, 3, X509_get_subject_name(ta_), &obj));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_GET_CERT_BY_SUBJECT, X509_R_WRONG_LOOKUP_TYPE}});
}

TEST_F(HashDir, NumbersStopAtTheFirstMissingFile) {
  const std::string hash = Hex8(X509_NAME_hash(X509_get_subject_name(ta_)));
  ASSERT_EQ("9e747f8c", hash);
  WriteBytes(dir_.Join(hash + ".0"),
             morvane_test::ReadFileBytes(Pkits("certs/TrustAnchorRootCertificate.crt")));
  WriteBytes(dir_.Join(hash + ".2"), morvane_test::ReadFileBytes(Pkits("certs/GoodCACert.crt")));
  AddDir(dir_.path());
  X509_OBJECT obj;
  ASSERT_EQ(1, X509_STORE_get_by_subject(&ctx_, X509_LU_X509, X509_get_subject_name(ta_), &obj));
  X509_OBJECT_free_contents(&obj);
  EXPECT_EQ(1, sk_num(store_->objs));
}

// A file of the hash that does not load (junk, or a folder) is passed over
// for the next number, and not read again while it is unchanged.
TEST_F(HashDir, AFileThatDoesNotLoadIsPassedOver) {
  const std::string hash = Hex8(X509_NAME_hash(X509_get_subject_name(ta_)));
  const std::string ca_hash = Hex8(X509_NAME_hash(X509_get_subject_name(ca_)));
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "folder" : "junk");
    Morvane_add_all_digests();
    TempPath dir(TempPath::kDir);
    for (const std::string& h : {hash, ca_hash}) {
      if (folder) {
        ASSERT_EQ(0, mkdir(dir.Join(h + ".0").c_str(), 0700));
      } else {
        morvane_test::WriteFile(dir.Join(h + ".0"), "not a certificate");
      }
    }
    WriteBytes(dir.Join(hash + ".1"),
               morvane_test::ReadFileBytes(Pkits("certs/TrustAnchorRootCertificate.crt")));
    StorePtr store(X509_STORE_new());
    X509_LOOKUP* lu = X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir());
    ASSERT_EQ(1, X509_LOOKUP_add_dir(lu, dir.path().c_str(), X509_FILETYPE_ASN1));
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store.get(), ca_, nullptr));
    EXPECT_EQ(1, X509_verify_cert(ctx)) << X509_STORE_CTX_get_error(ctx);
    X509_STORE_CTX_free(ctx);
    EXPECT_ERRORS({});
    // A search that finds nothing keeps the reasons of the file that did not
    // load; the next one does not read it again.
    X509_OBJECT obj;
    EXPECT_EQ(0, X509_LOOKUP_by_subject(lu, X509_LU_X509, X509_get_subject_name(ca_), &obj));
    EXPECT_NE("", morvane_test::DrainErrors());
    EXPECT_EQ(0, X509_LOOKUP_by_subject(lu, X509_LU_X509, X509_get_subject_name(ca_), &obj));
    EXPECT_ERRORS({});
  }
}

TEST_F(HashDir, DirectoryListSkipsEmptyAndRepeatedEntries) {
  TempPath a(TempPath::kDir);
  TempPath b(TempPath::kDir);
  AddDir(a.path() + "::" + b.path() + ":" + a.path() + ":");
  X509_OBJECT obj;
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(0, X509_STORE_get_by_subject(&ctx_, X509_LU_X509, X509_get_subject_name(ta_), &obj));
  const auto locks = morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509_STORE});
  // The cache search, then one search after reading both directories (the
  // lists of lookups and directories are read under the read lock).
  EXPECT_EQ(4, std::count_if(locks.begin(), locks.end(), [](const morvane_test::LockEvent& e) {
              return (e.mode & CRYPTO_WRITE) != 0;
            }));
  X509_LOOKUP* lu = X509_STORE_add_lookup(store_.get(), X509_LOOKUP_hash_dir());
  EXPECT_EQ(0, X509_LOOKUP_add_dir(lu, "", X509_FILETYPE_PEM));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_ADD_CERT_DIR, X509_R_INVALID_DIRECTORY}});
}

TEST_F(HashDir, DefaultPathsHonourTheEnvironment) {
  const std::string hash = Hex8(X509_NAME_hash(X509_get_subject_name(ta_)));
  // The directory list comes from SSL_CERT_DIR and its files are read as
  // PEM; the file from SSL_CERT_FILE.
  WritePem(dir_.Join(hash + ".0"), {"TrustAnchorRootCertificate"});
  TempPath file;
  WritePem(file.path(), {"GoodCACert"});
  setenv("SSL_CERT_DIR", dir_.c_str(), 1);
  setenv("SSL_CERT_FILE", file.c_str(), 1);
  EXPECT_EQ(1, X509_STORE_set_default_paths(store_.get()));
  unsetenv("SSL_CERT_DIR");
  unsetenv("SSL_CERT_FILE");
  EXPECT_ERRORS({});
  ASSERT_EQ(2, sk_num(store_->get_cert_methods));
  EXPECT_EQ(1, sk_num(store_->objs));  // the file, read at once
  X509_OBJECT obj;
  ASSERT_EQ(1, X509_STORE_get_by_subject(&ctx_, X509_LU_X509, X509_get_subject_name(ta_), &obj));
  EXPECT_EQ(0, X509_cmp(ta_, obj.data.x509));
  X509_OBJECT_free_contents(&obj);
  EXPECT_EQ(2, sk_num(store_->objs));
}

TEST(Defaults, Locations) {
  EXPECT_STREQ("/usr/local/ssl/certs", X509_get_default_cert_dir());
  EXPECT_STREQ("/usr/local/ssl/cert.pem", X509_get_default_cert_file());
  EXPECT_STREQ("/usr/local/ssl/private", X509_get_default_private_dir());
  EXPECT_STREQ("SSL_CERT_DIR", X509_get_default_cert_dir_env());
  EXPECT_STREQ("SSL_CERT_FILE", X509_get_default_cert_file_env());
}

/* ---- names that compare equal across string types, case and spacing ---- */

// "CN=<text>" as a value of the string type.
X509_NAME* Cn(int type, const char* text) {
  X509_NAME* name = X509_NAME_new();
  EXPECT_EQ(1, X509_NAME_add_entry_by_txt(name, "CN", type,
                                          reinterpret_cast<const unsigned char*>(text), -1, -1, 0));
  return name;
}

// Names that X509_NAME_cmp orders inconsistently: "Root" as a UTF8String
// equals it as a PrintableString, which folds case and spaces against
// another PrintableString only, while other types compare by tag.
struct NameSpec {
  int type;
  const char* text;
};
const NameSpec kNames[] = {
    {ASN1_UT_UTF8STRING, "Root"},        {ASN1_UT_PRINTABLESTRING, "Root"},
    {ASN1_UT_PRINTABLESTRING, " rOOT "}, {ASN1_UT_T61STRING, "Root"},
    {ASN1_UT_PRINTABLESTRING, "Other"},  {ASN1_UT_UTF8STRING, "Other"},
    {ASN1_UT_PRINTABLESTRING, "Zed  a"}, {ASN1_UT_UTF8STRING, "Abc"},
    {ASN1_UT_IA5STRING, "ROOT"},         {ASN1_UT_PRINTABLESTRING, "zed A"},
    {ASN1_UT_UTF8STRING, "Roo"},         {ASN1_UT_PRINTABLESTRING, "Rooz"},
    {ASN1_UT_UTF8STRING, "root"},        {ASN1_UT_PRINTABLESTRING, "R o"},
    {ASN1_UT_T61STRING, "Rp"},           {ASN1_UT_UTF8STRING, "R o"},
};

constexpr time_t kListMoment = 1609459200;  // 2021-01-01

// A list dated `age` seconds before kListMoment, revoking the serial
// numbers given, then renamed to `issuer` when not null (its signature then
// fails: a list that can never count).
X509_CRL* ListOf(const NameSpec* issuer, std::vector<long> revoked, time_t age) {
  std::vector<morvane_test::CrlEntry> entries;
  for (long serial : revoked) entries.push_back({serial, {}});
  X509_CRL* crl = morvane_test::MakeCrl("Root", entries, kListMoment - age, kListMoment + 86400 * 7);
  if (issuer != nullptr) {
    X509_NAME* name = Cn(issuer->type, issuer->text);
    X509_CRL_set_issuer_name(crl, name);
    X509_NAME_free(name);
  }
  return crl;
}

// Verifies x against store at kListMoment (with CRL checking when asked):
// X509_verify_cert's result times 100 plus the error.
int VerifyAt(X509_STORE* store, X509* x, bool crls) {
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, x, nullptr));
  X509_STORE_CTX_set_time(ctx, 0, kListMoment);
  if (crls) X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
  const int out = 100 * X509_verify_cert(ctx) + X509_STORE_CTX_get_error(ctx);
  X509_STORE_CTX_free(ctx);
  return out;
}

// Every order of adding: the root's old list, its newer one revoking the
// leaf, lists under names equal or close to the root's, and lists of other
// issuers; then every order of the root among certificates of such names.
TEST(StoreNames, EveryOrderFindsTheRootAndItsNewestList) {
  Morvane_add_all_digests();
  const morvane_test::Bytes ca = {0x30, 0x03, 0x01, 0x01, 0xFF};
  X509* root = morvane_test::MakeCert({"Root", "", 2, 1, {{87, true, ca}}});
  X509* leaf = morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}});
  std::vector<X509_CRL*> lists = {ListOf(nullptr, {}, 86400), ListOf(nullptr, {5}, 60)};
  for (int k : {1, 4, 6, 7, 9}) lists.push_back(ListOf(&kNames[k], {}, k == 1 ? 3600 : 30));
  std::vector<X509*> certs = {root};
  for (int k : {1, 2, 4, 5, 7}) {
    certs.push_back(morvane_test::MakeCert({"Root", "", 2, 10 + k, {{87, true, ca}},
                                            x509_test::RsaKey2(), x509_test::RsaKey2()}));
    X509_NAME* name = Cn(kNames[k].type, kNames[k].text);
    X509_set_subject_name(certs.back(), name);
    X509_set_issuer_name(certs.back(), name);
    X509_NAME_free(name);
  }
  std::vector<int> order(lists.size());
  int orders = 0, revoked = 0;
  for (int i = 0; i < static_cast<int>(order.size()); i++) order[i] = i;
  do {
    X509_STORE* store = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(store, root));
    for (int i : order) ASSERT_EQ(1, X509_STORE_add_crl(store, lists[i]));
    revoked += VerifyAt(store, leaf, true) == X509_V_ERR_CERT_REVOKED;
    orders++;
    X509_STORE_free(store);
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(5040, orders);
  EXPECT_EQ(orders, revoked);
  order.resize(certs.size());
  for (int i = 0; i < static_cast<int>(order.size()); i++) order[i] = i;
  orders = 0;
  int found = 0;
  do {
    X509_STORE* store = X509_STORE_new();
    for (int i : order) ASSERT_EQ(1, X509_STORE_add_cert(store, certs[i]));
    found += VerifyAt(store, root, false) == 100;
    orders++;
    X509_STORE_free(store);
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(720, orders);
  EXPECT_EQ(orders, found);
  for (X509_CRL* crl : lists) X509_CRL_free(crl);
  for (X509* x : certs) X509_free(x);
  X509_free(leaf);
}

// Certificates and lists under each name, added in random orders: each is
// found by its own name and matched in the cache.
TEST(StoreNames, EachObjectIsFoundByItsNameInAnyOrder) {
  std::vector<X509_OBJECT> objects;
  for (const NameSpec& n : kNames) {
    X509_NAME* name = Cn(n.type, n.text);
    for (int copy = 0; copy < 2; copy++) {
      X509* x = morvane_test::MakeCert({"Root", "", 2, static_cast<long>(objects.size()), {}});
      X509_set_subject_name(x, name);
      X509_CRL* crl = morvane_test::MakeCrl("Root", {}, kListMoment - copy);
      X509_CRL_set_issuer_name(crl, name);
      X509_OBJECT o{};
      o.type = X509_LU_X509;
      o.data.x509 = x;
      objects.push_back(o);
      o.type = X509_LU_CRL;
      o.data.crl = crl;
      objects.push_back(o);
    }
    X509_NAME_free(name);
  }
  std::mt19937 rng(97);
  for (int round = 0; round < 200; round++) {
    std::shuffle(objects.begin(), objects.end(), rng);
    X509_STORE* store = X509_STORE_new();
    for (X509_OBJECT& o : objects)
      ASSERT_EQ(1, o.type == X509_LU_X509 ? X509_STORE_add_cert(store, o.data.x509)
                                          : X509_STORE_add_crl(store, o.data.crl));
    X509_STORE_CTX ctx;
    ASSERT_EQ(1, X509_STORE_CTX_init(&ctx, store, nullptr, nullptr));
    for (X509_OBJECT& o : objects) {
      X509_NAME* name = o.type == X509_LU_X509 ? X509_get_subject_name(o.data.x509)
                                               : o.data.crl->crl->issuer;
      X509_OBJECT got{};
      ASSERT_EQ(1, X509_STORE_get_by_subject(&ctx, o.type, name, &got));
      X509_NAME* got_name = got.type == X509_LU_X509 ? X509_get_subject_name(got.data.x509)
                                                     : got.data.crl->crl->issuer;
      EXPECT_EQ(0, X509_NAME_cmp(name, got_name));
      X509_OBJECT_free_contents(&got);
      const X509_OBJECT* match = X509_OBJECT_retrieve_match(store->objs, &o);
      ASSERT_NE(nullptr, match);
      EXPECT_EQ(o.data.ptr, match->data.ptr);
    }
    X509_STORE_CTX_cleanup(&ctx);
    X509_STORE_free(store);
  }
  for (X509_OBJECT& o : objects) X509_OBJECT_free_contents(&o);
}

// The same objects added one by one while searches through the stack sort
// the cache between additions: after each addition the store finds, under
// every name, the first object added whose name X509_NAME_cmp calls equal,
// as a search of the objects in the order added does; and a copy of any
// object is refused.
TEST(StoreNames, SearchesThroughTheStackBetweenAdditions) {
  std::vector<X509_OBJECT> objects;
  std::vector<X509_NAME*> probes;
  for (const NameSpec& n : kNames) {
    probes.push_back(Cn(n.type, n.text));
    X509* x = morvane_test::MakeCert({"Root", "", 2, static_cast<long>(objects.size()), {}});
    X509_set_subject_name(x, probes.back());
    X509_CRL* crl = morvane_test::MakeCrl("Root", {}, kListMoment);
    X509_CRL_set_issuer_name(crl, probes.back());
    objects.push_back({X509_LU_X509, {reinterpret_cast<char*>(x)}});
    objects.push_back({X509_LU_CRL, {reinterpret_cast<char*>(crl)}});
  }
  const auto name_of = [](const X509_OBJECT& o) {
    return o.type == X509_LU_X509 ? X509_get_subject_name(o.data.x509) : o.data.crl->crl->issuer;
  };
  std::mt19937 rng(105);
  for (int round = 0; round < 20; round++) {
    std::shuffle(objects.begin(), objects.end(), rng);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_CTX ctx;
    ASSERT_EQ(1, X509_STORE_CTX_init(&ctx, store, nullptr, nullptr));
    for (size_t k = 0; k < objects.size(); k++) {
      ASSERT_EQ(1, objects[k].type == X509_LU_X509
                       ? X509_STORE_add_cert(store, objects[k].data.x509)
                       : X509_STORE_add_crl(store, objects[k].data.crl));
      if (rng() % 3 == 0) {
        EXPECT_NE(nullptr, X509_OBJECT_retrieve_match(store->objs, &objects[rng() % (k + 1)]));
      }
      for (X509_NAME* name : probes) {
        for (int type : {X509_LU_X509, X509_LU_CRL}) {
          const X509_OBJECT* first = nullptr;
          for (size_t j = 0; j <= k && first == nullptr; j++)
            if (objects[j].type == type && X509_NAME_cmp(name_of(objects[j]), name) == 0)
              first = &objects[j];
          X509_OBJECT got{};
          ASSERT_EQ(first != nullptr, X509_STORE_get_by_subject(&ctx, type, name, &got));
          if (first != nullptr) {
            EXPECT_EQ(first->data.ptr, got.data.ptr) << round << " " << k;
          }
          X509_OBJECT_free_contents(&got);
        }
      }
    }
    for (X509_OBJECT& o : objects)
      EXPECT_EQ(0, o.type == X509_LU_X509 ? X509_STORE_add_cert(store, o.data.x509)
                                          : X509_STORE_add_crl(store, o.data.crl));
    ERR_clear_error();
    X509_STORE_CTX_cleanup(&ctx);
    X509_STORE_free(store);
  }
  for (X509_OBJECT& o : objects) X509_OBJECT_free_contents(&o);
  for (X509_NAME* name : probes) X509_NAME_free(name);
}

}  // namespace
