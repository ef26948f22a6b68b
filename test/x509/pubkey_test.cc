// Public-key structures: every SubjectPublicKeyInfo of the Wycheproof files
// (../shared/vectors/wycheproof, "publicKeyDer" of each test group) decodes
// and re-encodes exactly; the type-dispatching key codecs; and, where the
// algorithm's key encodings are built (checked at run time, the tests skip
// naming what is missing otherwise), the parameters X509_PUBKEY_set writes,
// the key cache and its publication under lock 10, and d2i_AutoPrivateKey.

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using x509_test::Decode;
using x509_test::Encode;

// Every "publicKeyDer" of a Wycheproof file, in file order.
std::vector<Bytes> SpkisOf(const std::string& path) {
  const std::string text = morvane_test::ReadFile(path);
  std::vector<Bytes> out;
  const std::string field = "\"publicKeyDer\"";
  for (size_t at = 0; (at = text.find(field, at)) != std::string::npos;) {
    const size_t open = text.find('"', text.find(':', at + field.size()));
    const size_t close = text.find('"', open + 1);
    out.push_back(FromHex(text.substr(open + 1, close - open - 1)));
    at = close;
  }
  return out;
}

std::vector<Bytes> SpkisOrSkip(const std::string& file, bool* skipped) {
  const std::string path = morvane_test::VectorFile("wycheproof/" + file);
  *skipped = path.empty();
  return path.empty() ? std::vector<Bytes>{} : SpkisOf(path);
}

TEST(Wycheproof, EverySubjectPublicKeyInfoRoundTrips) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "wycheproof");
  size_t count = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() != ".json") continue;
    for (const Bytes& der : SpkisOf(e.path().string())) {
      SCOPED_TRACE(e.path().filename().string() + " " + std::to_string(count));
      count++;
      X509_PUBKEY* pk = Decode(d2i_X509_PUBKEY, der);
      ASSERT_NE(nullptr, pk);
      EXPECT_EQ(der, Encode(i2d_X509_PUBKEY, pk));
      X509_PUBKEY_free(pk);
    }
  }
  EXPECT_EQ(3832u, count);  // ECDSA, RSA-PSS, DSA and RSA signature groups
  EXPECT_ERRORS({});
}

// RFC 5480, 2.1.1: id-ecPublicKey with the named curve secp256r1.
TEST(Wycheproof, NamedCurveParameter) {
  bool skipped;
  const std::vector<Bytes> spkis = SpkisOrSkip("ecdsa_secp256r1_sha256_test.json", &skipped);
  if (skipped) GTEST_SKIP() << "published vectors not found (wycheproof)";
  ASSERT_FALSE(spkis.empty());
  X509_PUBKEY* pk = Decode(d2i_X509_PUBKEY, spkis[0]);
  ASSERT_NE(nullptr, pk);
  EXPECT_EQ(408, OBJ_obj2nid(pk->algor->algorithm));
  ASSERT_NE(nullptr, pk->algor->parameter);
  ASSERT_EQ(ASN1_UT_OBJECT, pk->algor->parameter->type);
  char text[64];
  OBJ_obj2txt(text, sizeof text, pk->algor->parameter->value.object, 1);
  EXPECT_STREQ("1.2.840.10045.3.1.7", text);
  EXPECT_EQ(ASN1_STRING_BITS_LEFT, pk->public_key->flags & (ASN1_STRING_BITS_LEFT | 7));
  X509_PUBKEY_free(pk);
}

TEST(KeyCodecs, UnsupportedTypes) {
  EVP_PKEY* dh = EVP_PKEY_new();
  ASSERT_NE(nullptr, dh);
  EVP_PKEY_assign(dh, EVP_PKEY_DH, nullptr);
  unsigned char* out = nullptr;
  EXPECT_EQ(-1, i2d_PrivateKey(dh, &out));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_I2D_PRIVATEKEY, ASN1_R_UNSUPPORTED_PUBLIC_KEY_TYPE}});
  EXPECT_EQ(-1, i2d_PublicKey(dh, &out));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_I2D_PUBLICKEY, ASN1_R_UNSUPPORTED_PUBLIC_KEY_TYPE}});
  EXPECT_EQ(nullptr, out);
  // A decode of an unknown type leaves the caller's container as it was.
  const Bytes der = FromHex("3003020100");
  const unsigned char* p = der.data();
  EVP_PKEY* given = dh;
  EXPECT_EQ(nullptr, d2i_PrivateKey(EVP_PKEY_DH, &given, &p, static_cast<long>(der.size())));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_PRIVATEKEY, ASN1_R_UNKNOWN_PUBLIC_KEY_TYPE}});
  EXPECT_EQ(dh, given);
  EXPECT_EQ(EVP_PKEY_DH, dh->type);
  EXPECT_EQ(der.data(), p);
  EVP_PKEY_free(dh);
  // No structure or no key bits: no key, and no error.
  EXPECT_EQ(nullptr, X509_PUBKEY_get(nullptr));
  X509_PUBKEY* empty = X509_PUBKEY_new();
  ASN1_BIT_STRING_free(empty->public_key);
  empty->public_key = nullptr;
  EXPECT_EQ(nullptr, X509_PUBKEY_get(empty));
  X509_PUBKEY_free(empty);
  EXPECT_EQ(0, i2d_PUBKEY(nullptr, nullptr));
  EXPECT_ERRORS({});
}

// The key cached for one SubjectPublicKeyInfo does not survive a decode of
// another into the same structure.
TEST(KeyCodecs, DecodeIntoExistingDropsCachedKey) {
  const Bytes der = FromHex("301a300d06092a864886f70d0101010500030900300602010f020103");
  X509_PUBKEY* pk = Decode(d2i_X509_PUBKEY, der);
  ASSERT_NE(nullptr, pk);
  pk->pkey = EVP_PKEY_new();  // as X509_PUBKEY_get would have cached it
  const unsigned char* p = der.data();
  ASSERT_EQ(pk, d2i_X509_PUBKEY(&pk, &p, static_cast<long>(der.size())));
  EXPECT_EQ(nullptr, pk->pkey);
  X509_PUBKEY_free(pk);
}

// ---- with keys -------------------------------------------------------------

// Whether the error queue says an operation is not built ("called a function
// that was disabled"); empties the queue.
bool Disabled() {
  bool disabled = false;
  for (unsigned long e; (e = ERR_get_error()) != 0;)
    disabled = disabled || ERR_GET_REASON(e) == ERR_R_DISABLED;
  return disabled;
}

// The first SubjectPublicKeyInfo of a Wycheproof file.
Bytes FirstSpki(const std::string& file) {
  bool skipped;
  const std::vector<Bytes> spkis = SpkisOrSkip(file, &skipped);
  return spkis.empty() ? Bytes{} : spkis[0];
}

// The key of `spki` with the caller's reference, or null.  *missing names
// the component whose key encodings are not built (the decode failed with
// "called a function that was disabled"), or says the vectors are absent.
EVP_PKEY* KeyOf(const Bytes& spki, const char* component, std::string* missing) {
  if (spki.empty()) {
    *missing = "published vectors not found (wycheproof)";
    return nullptr;
  }
  const unsigned char* p = spki.data();
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
  if (key != nullptr) return key;
  if (Disabled())
    *missing = std::string(component) + " key encodings are not built yet";
  else
    ADD_FAILURE() << "the key does not decode";
  return nullptr;
}

#define KEY_OR_SKIP(var, file, component)                            \
  std::string var##_missing;                                         \
  EVP_PKEY* var = KeyOf(FirstSpki(file), component, &var##_missing); \
  if (var == nullptr) {                                              \
    if (!var##_missing.empty()) GTEST_SKIP() << var##_missing;       \
    return;                                                          \
  }

// The structure of the first SubjectPublicKeyInfo of `file`, decoded once
// its key is known to decode (the test skips otherwise).
#define PUBKEY_OR_SKIP(var, file, component)                   \
  KEY_OR_SKIP(var##_probe, file, component);                   \
  EVP_PKEY_free(var##_probe);                                  \
  X509_PUBKEY* var = Decode(d2i_X509_PUBKEY, FirstSpki(file)); \
  ASSERT_NE(nullptr, var)

constexpr char kRsaFile[] = "rsa_signature_2048_sha256_test.json";
constexpr char kDsaFile[] = "dsa_2048_224_sha224_test.json";
constexpr char kEcFile[] = "ecdsa_secp256r1_sha256_test.json";

Bytes SpkiOf(EVP_PKEY* key) {
  X509_PUBKEY* pk = nullptr;
  EXPECT_EQ(1, X509_PUBKEY_set(&pk, key));
  const Bytes der = pk != nullptr ? Encode(i2d_X509_PUBKEY, pk) : Bytes{};
  X509_PUBKEY_free(pk);
  return der;
}

int ParameterType(const Bytes& spki) {
  X509_PUBKEY* pk = Decode(d2i_X509_PUBKEY, spki);
  const int type =
      pk != nullptr && pk->algor->parameter != nullptr ? pk->algor->parameter->type : -1;
  X509_PUBKEY_free(pk);
  return type;
}

// RFC 3279, 2.3.1: an RSA key always has a NULL parameter; DSA (2.3.2) and
// EC keys get their parameters unless the container's save_parameters is 0.
TEST(WithKeys, ParametersWritten) {
  struct Case {
    const char* file;
    const char* component;
    int saved_type;  // with save_parameters 1
  } const cases[] = {
      {kRsaFile, "RSA", ASN1_UT_NULL},
      {kDsaFile, "DSA", ASN1_UT_SEQUENCE},
      {kEcFile, "EC", ASN1_UT_OBJECT},
  };
  int ran = 0;
  std::string missing;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes spki = FirstSpki(c.file);
    EVP_PKEY* key = KeyOf(spki, c.component, &missing);
    if (key == nullptr) continue;
    ran++;
    key->save_parameters = 1;
    const Bytes saved = SpkiOf(key);
    EXPECT_EQ(spki, saved);  // the published encoding, parameters and all
    EXPECT_EQ(c.saved_type, ParameterType(saved));
    key->save_parameters = 0;
    EXPECT_EQ(ASN1_UT_NULL, ParameterType(SpkiOf(key)));
    EVP_PKEY_free(key);
  }
  if (ran == 0 && !missing.empty()) GTEST_SKIP() << missing;
}

// A named-curve key with its group's flag cleared writes explicit parameters.
TEST(WithKeys, ExplicitCurveParameters) {
  KEY_OR_SKIP(key, kEcFile, "EC");
  EC_GROUP* group = const_cast<EC_GROUP*>(EC_KEY_get0_group(key->pkey.ec));
  ASSERT_NE(nullptr, group);
  EC_GROUP_set_asn1_flag(group, 0);
  EXPECT_EQ(ASN1_UT_SEQUENCE, ParameterType(SpkiOf(key)));
  EVP_PKEY_free(key);
}

TEST(WithKeys, CachedKeyHasThreeReferences) {
  PUBKEY_OR_SKIP(pk, kDsaFile, "DSA");
  EVP_PKEY* a = X509_PUBKEY_get(pk);
  EVP_PKEY* b = X509_PUBKEY_get(pk);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, b);
  EXPECT_EQ(3, a->references);
  EVP_PKEY_free(a);
  EVP_PKEY_free(b);
  X509_PUBKEY_free(pk);
}

TEST(WithKeys, TypedDecoderRefusesOtherType) {
  KEY_OR_SKIP(probe, kDsaFile, "DSA");
  EVP_PKEY_free(probe);
  const Bytes spki = FirstSpki(kDsaFile);
  const unsigned char* p = spki.data();
  EXPECT_EQ(nullptr, d2i_RSA_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
  EXPECT_EQ(spki.data(), p);
  ERR_clear_error();
  DSA* dsa = d2i_DSA_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
  ASSERT_NE(nullptr, dsa);
  EXPECT_EQ(spki.data() + spki.size(), p);
  EXPECT_EQ(spki, Encode(i2d_DSA_PUBKEY, dsa));
  DSA_free(dsa);
}

// A DSA key whose parameters are inherited from its issuer (the algorithm
// has none) decodes, with its parameters missing.
TEST(WithKeys, DsaKeyWithoutParameters) {
  PUBKEY_OR_SKIP(pk, kDsaFile, "DSA");
  ASN1_TYPE_free(pk->algor->parameter);
  pk->algor->parameter = nullptr;
  EVP_PKEY* key = X509_PUBKEY_get(pk);
  ASSERT_NE(nullptr, key);
  EXPECT_EQ(1, EVP_PKEY_missing_parameters(key));
  EVP_PKEY_free(key);
  X509_PUBKEY_free(pk);
}

// The cache is filled once: a key published by another thread while this
// one decoded is the one returned, and the key decoded here is dropped.
// The other thread is played by the locking callback, which publishes a key
// of its own the moment lock 10 is first asked for.
X509_PUBKEY* g_target = nullptr;
EVP_PKEY* g_other = nullptr;

void PublishingLock(int mode, int type, const char*, int) {
  if (type == CRYPTO_LOCK_EVP_PKEY && (mode & CRYPTO_LOCK) && g_other != nullptr &&
      g_target->pkey == nullptr) {
    g_target->pkey = g_other;
    g_other = nullptr;
  }
}

TEST(WithKeys, CacheKeepsTheKeyPublishedFirst) {
  PUBKEY_OR_SKIP(pk, kDsaFile, "DSA");
  EVP_PKEY* other = KeyOf(FirstSpki(kDsaFile), "DSA", &pk_probe_missing);
  ASSERT_NE(nullptr, other);
  g_target = pk;
  g_other = other;
  CRYPTO_set_locking_callback(PublishingLock);
  EVP_PKEY* got = X509_PUBKEY_get(pk);
  CRYPTO_set_locking_callback(nullptr);
  EXPECT_EQ(other, got);
  EXPECT_EQ(other, pk->pkey);
  EXPECT_EQ(2, other->references);
  EVP_PKEY_free(got);
  X509_PUBKEY_free(pk);  // frees `other`; the key decoded was freed already
}

TEST(WithKeys, ThreadsShareOneCachedKey) {
  PUBKEY_OR_SKIP(pk, kDsaFile, "DSA");
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  constexpr int kThreads = 8;
  EVP_PKEY* got[kThreads] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; i++) threads.emplace_back([&, i] { got[i] = X509_PUBKEY_get(pk); });
  for (std::thread& t : threads) t.join();
  for (EVP_PKEY* k : got) EXPECT_EQ(pk->pkey, k);
  EXPECT_EQ(kThreads + 1, pk->pkey->references);
  for (EVP_PKEY* k : got) EVP_PKEY_free(k);
  X509_PUBKEY_free(pk);
}

// d2i_AutoPrivateKey by element count: DSA's six INTEGERs (FIPS 186-3
// KeyPair, L=1024 N=160, first key); an ECPrivateKey (RFC 5915, 3) with
// parameters and public key (P-256, first key), four elements; without the
// optional fields it is taken for RSA and fails.
TEST(WithKeys, AutoPrivateKeyByElementCount) {
  using x509_test::Cat;
  using x509_test::Tlv;
  MORVANE_VECTOR_PATH_OR_SKIP(dsa_path, "nist-cavp/dss/186-3dsatestvectors/KeyPair.rsp");
  MORVANE_VECTOR_PATH_OR_SKIP(ec_path, "nist-cavp/dss/186-3ecdsatestvectors/KeyPair.rsp");
  auto integer = [](const std::string& hex) {  // X.690, 8.3: the shortest two's complement
    Bytes v = FromHex(hex);
    while (v.size() > 1 && v[0] == 0) v.erase(v.begin());
    if (v[0] & 0x80) v.insert(v.begin(), 0);
    return Tlv(0x02, v);
  };
  const std::vector<morvane_test::RspRecord> dsa = morvane_test::ReadRsp(dsa_path);
  ASSERT_GE(dsa.size(), 2u);
  const Bytes dsa_der = Tlv(
      0x30, Cat({FromHex("020100"), integer(dsa[0].Get("P")), integer(dsa[0].Get("Q")),
                 integer(dsa[0].Get("G")), integer(dsa[1].Get("Y")), integer(dsa[1].Get("X"))}));
  // The first key after the [P-256] header.
  const std::string ec_text = morvane_test::ReadFile(ec_path);
  auto value = [&](const std::string& key) {
    const size_t at = ec_text.find("\n" + key + " = ", ec_text.find("[P-256]"));
    const size_t from = at + key.size() + 4;
    return at == std::string::npos
               ? std::string()
               : ec_text.substr(from, ec_text.find_first_of("\r\n", from) - from);
  };
  ASSERT_EQ(64u, value("d").size());
  const Bytes d = Tlv(0x04, FromHex(value("d")));
  const Bytes curve = Tlv(0xA0, FromHex("06082a8648ce3d030107"));
  const Bytes point = Tlv(0xA1, Tlv(0x03, FromHex("0004" + value("Qx") + value("Qy"))));
  struct Case {
    const char* name;
    Bytes der;
    int type;  // 0: fails
  } const cases[] = {
      {"DSA", dsa_der, EVP_PKEY_DSA},
      {"EC", Tlv(0x30, Cat({FromHex("020101"), d, curve, point})), EVP_PKEY_EC},
      {"EC without optional fields", Tlv(0x30, Cat({FromHex("020101"), d})), 0},
  };
  int ran = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned char* p = c.der.data();
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(c.der.size()));
    if (Disabled()) continue;  // not built
    ran++;
    EXPECT_EQ(c.type, key != nullptr ? key->type : 0);
    EVP_PKEY_free(key);
  }
  if (ran == 0) GTEST_SKIP() << "DSA and EC private-key encodings are not built yet";
}

// Writing a DSA key's SubjectPublicKeyInfo (the bare INTEGER beside its
// Dss-Parms) leaves the key as it was: its own encoding keeps its form.
TEST(PubkeyEncode, WritingADsaKeyLeavesItsForm) {
  EVP_PKEY* key = x509_test::DsaKey();
  ASSERT_EQ(1, key->pkey.dsa->write_params);
  const Bytes own = Encode(i2d_PublicKey, key);
  const Bytes spki = Encode(i2d_PUBKEY, key);
  EXPECT_EQ(1, key->pkey.dsa->write_params);
  EXPECT_EQ(own, Encode(i2d_PublicKey, key));
  EXPECT_EQ(spki, Encode(i2d_PUBKEY, key));
  const unsigned char* p = spki.data();
  EVP_PKEY* back = d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(1, EVP_PKEY_cmp(key, back));
  EVP_PKEY_free(back);
}

}  // namespace
