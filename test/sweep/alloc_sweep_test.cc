// Calls whose output a failed allocation could spoil, run with each of their
// allocations failing in turn: every run fails with a reason queued, or
// gives exactly what the call gives with memory to spare.  A generated SET,
// an encrypted message (decrypted with memory), a decryption, a
// verification, a bundle loaded into a store, a PFX parsed, the printed
// forms of a certificate and an OCSP response, and calls that must say why
// they failed.  The keys and certificates are those of the PKCS#7 tests,
// whose environment installs the counting allocator; each test needs its
// own process for it (ctest runs each test in one).

#include <functional>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "pkcs7_fixture.h"
#include "test_support.h"

namespace {

using namespace pkcs7_test;
using Output = std::optional<std::string>;  // none: the call failed

// The allocation that fails while armed (1 = the first), 0 for none, and
// the counts around the armed span.
long fail_at = 0;
morvane_test::AllocCounts armed_from, armed_to;

void Arm() {
  armed_from = morvane_test::GetAllocCounts();
  morvane_test::FailAllocationAfter(fail_at);
}
void Disarm() {
  morvane_test::FailAllocationAfter(0);
  armed_to = morvane_test::GetAllocCounts();
}

// `run` arms around the call it sweeps.  Its first run warms what the
// library makes once; the second counts the call's allocations.
void Sweep(const std::string& reference, const std::function<Output()>& run) {
  fail_at = 0;
  ASSERT_EQ(run(), Output(reference));
  ASSERT_EQ(run(), Output(reference));
  const long allocations = armed_to.mallocs + armed_to.reallocs - armed_from.mallocs -
                           armed_from.reallocs;
  ASSERT_GT(allocations, 0);
  ERR_clear_error();
  int failed = 0;
  for (fail_at = 1; fail_at <= allocations; fail_at++) {
    const Output got = run();
    if (got.has_value()) {
      EXPECT_EQ(*got, reference) << "allocation " << fail_at;
    } else {
      failed++;
      EXPECT_NE(ERR_peek_error(), 0u) << "allocation " << fail_at << ": no reason queued";
    }
    ERR_clear_error();
  }
  fail_at = 0;
  EXPECT_GT(failed, 0);
}

CONF* LoadConf(const std::string& text) {
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  EXPECT_EQ(NCONF_load_bio(conf, in, nullptr), 1);
  BIO_free(in);
  return conf;
}

// A SET's members are sorted by their encodings (X.690, 11.6) in memory of
// their own: a failure there fails the call, not a SET unwritten or
// unsorted.
TEST(AllocSweep, GeneratedSet) {
  CONF* conf = LoadConf("[s]\na = INTEGER:5\nb = INTEGER:3\nc = BOOL:TRUE\n"
                        "[q]\na = SET:s\nb = INTEGER:1\n");
  const char* const kSet = "3109" "0101ff" "020103" "020105";
  const struct {
    const char* text;
    std::string der;
  } rows[] = {
      {"SET:s", kSet},
      {"EXPLICIT:1,SET:s", std::string("a10b") + kSet},
      {"SEQUENCE:q", std::string("300e") + kSet + "020101"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    Sweep(r.der, [&]() -> Output {
      Arm();
      ASN1_TYPE* t = ASN1_generate_nconf(r.text, conf);
      Disarm();
      if (t == nullptr) return std::nullopt;
      unsigned char* der = nullptr;
      const int n = i2d_ASN1_TYPE(t, &der);
      const std::string hex = morvane_test::ToHex(der, n > 0 ? static_cast<size_t>(n) : 0);
      MORVANE_free(der);
      ASN1_TYPE_free(t);
      return hex;
    });
  }
  NCONF_free(conf);
}

const std::string kContent = "Content that takes more than one block of the cipher.\n";

std::string Decrypted(PKCS7* p7, X509* cert) {
  BIO* out = BIO_new(BIO_s_mem());
  const int ok = PKCS7_decrypt(p7, UserKey(0), cert, out, PKCS7_FLAG_BINARY);
  const std::string text = ok == 1 ? MemText(out) : "(decryption failed)";
  BIO_free(out);
  return text;
}

// A message written without its IV, or without all of its content, is a
// failure of the encryption, not a message that decrypts to something else.
TEST(AllocSweep, Encrypt) {
  STACK* certs = StackOf({UserCert(0)});
  for (const EVP_CIPHER* cipher : {EVP_aes_128_cbc(), EVP_rc2_40_cbc()}) {
    SCOPED_TRACE(EVP_CIPHER_nid(cipher));
    Sweep(kContent, [&]() -> Output {
      BIO* in = MemOf(kContent);
      Arm();
      PKCS7* p7 = PKCS7_encrypt(certs, in, cipher, PKCS7_FLAG_BINARY);
      Disarm();
      BIO_free(in);
      if (p7 == nullptr) return std::nullopt;
      const std::string text = Decrypted(p7, UserCert(0));
      PKCS7_free(p7);
      return text;
    });
  }
  sk_free(certs);
}

// A key block whose decryption ran out of memory fails the call: it is not
// a block that does not open, whose substitute key gives garbage (always
// with a stream cipher, one time in 256 with a block cipher's padding).
// Each run decrypts with a fresh copy of the key, so that what a failed run
// left in the key's blinding does not reach the next.
TEST(AllocSweep, Decrypt) {
  STACK* certs = StackOf({UserCert(1), UserCert(0)});
  for (const EVP_CIPHER* cipher : {EVP_rc4(), EVP_aes_128_cbc()}) {
    BIO* in = MemOf(kContent);
    PKCS7* p7 = PKCS7_encrypt(certs, in, cipher, PKCS7_FLAG_BINARY);
    BIO_free(in);
    ASSERT_NE(p7, nullptr);
    for (X509* cert : {UserCert(0), static_cast<X509*>(nullptr)}) {
      SCOPED_TRACE(testing::Message() << EVP_CIPHER_nid(cipher) << (cert ? " with" : " without")
                                      << " the certificate");
      Sweep(kContent, [&]() -> Output {
        EVP_PKEY* key = EVP_PKEY_new();
        EVP_PKEY_assign_RSA(key, RSAPrivateKey_dup(UserKey(0)->pkey.rsa));
        BIO* out = BIO_new(BIO_s_mem());
        Arm();
        const int ok = PKCS7_decrypt(p7, key, cert, out, PKCS7_FLAG_BINARY);
        Disarm();
        const Output text = ok == 1 ? Output(MemText(out)) : std::nullopt;
        BIO_free(out);
        EVP_PKEY_free(key);
        return text;
      });
    }
    PKCS7_free(p7);
  }
  sk_free(certs);
}

// A verification whose signer's issuer and serial two certificates carry
// (the first of another key) succeeds with the content, or fails.
TEST(AllocSweep, Verify) {
  X509* twin = MakeCert(UserKey(2), "Morvane Sweep Twin", 100, RsaKey(0),
                        X509_get_subject_name(CaCert()));
  BIO* in = MemOf(kContent);
  PKCS7* p7 = PKCS7_sign(UserCert(0), UserKey(0), nullptr, in,
                         PKCS7_FLAG_BINARY | PKCS7_FLAG_NO_CERTS);
  BIO_free(in);
  ASSERT_NE(p7, nullptr);
  ASSERT_EQ(PKCS7_add_certificate(p7, twin), 1);
  ASSERT_EQ(PKCS7_add_certificate(p7, UserCert(0)), 1);
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  Sweep(kContent, [&]() -> Output {
    BIO* out = BIO_new(BIO_s_mem());
    Arm();
    const int ok = PKCS7_verify(p7, nullptr, store, nullptr, out, PKCS7_FLAG_BINARY);
    Disarm();
    const Output text = ok == 1 ? Output(MemText(out)) : std::nullopt;
    BIO_free(out);
    return text;
  });
  X509_STORE_free(store);
  PKCS7_free(p7);
  X509_free(twin);
}

// A printed extension whose printer ran out of memory fails the print: it
// is not the raw octets ("0." for CA:FALSE), an extension left out, or an
// empty type.  print(out) gives 1 with the text in out, or 0; the reference
// text holds `part`.
void SweepPrinter(const std::function<int(BIO*)>& print, const char* part) {
  BIO* ref = BIO_new(BIO_s_mem());
  ASSERT_EQ(print(ref), 1);
  const std::string reference = MemText(ref);
  BIO_free(ref);
  ASSERT_NE(reference.find(part), std::string::npos);
  Sweep(reference, [&]() -> Output {
    BIO* out = BIO_new(BIO_s_mem());
    Arm();
    const int ok = print(out);
    Disarm();
    const Output got = ok == 1 ? Output(MemText(out)) : std::nullopt;
    BIO_free(out);
    return got;
  });
}

X509* CertWithExtensions() {
  X509* x = MakeCert(RsaKey(3), "Morvane Sweep Print", 7, RsaKey(0),
                     X509_get_subject_name(CaCert()));
  for (const auto& [name, value] :
       {std::pair{"basicConstraints", "critical,CA:FALSE"},
        {"keyUsage", "digitalSignature,keyEncipherment"},
        {"extendedKeyUsage", "serverAuth"},
        {"subjectAltName", "DNS:sweep.example,email:a@sweep.example"}}) {
    X509_EXTENSION* ext = X509V3_EXT_nconf(nullptr, nullptr, name, value);
    EXPECT_NE(ext, nullptr) << name;
    EXPECT_EQ(X509_add_ext(x, ext, -1), 1);
    X509_EXTENSION_free(ext);
  }
  return x;
}

TEST(AllocSweep, CertificatePrint) {
  X509* x = CertWithExtensions();
  SweepPrinter([x](BIO* out) { return X509_print_ex(out, x, 0, 0); }, "CA:FALSE");
  X509_free(x);
}

// A signed basic response with a nonce and a certificate, in its envelope.
OCSP_RESPONSE* SignedResponse() {
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, UserCert(0), CaCert());
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  EXPECT_NE(OCSP_basic_add1_status(bs, id, V_OCSP_CERTSTATUS_REVOKED, 1, now, now, now), nullptr);
  EXPECT_EQ(OCSP_basic_add1_nonce(bs, nullptr, 0), 1);
  EXPECT_EQ(OCSP_basic_sign(bs, UserCert(0), UserKey(0), EVP_sha1(), nullptr, 0), 1);
  OCSP_RESPONSE* r = OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, bs);
  ASN1_TIME_free(now);
  OCSP_CERTID_free(id);
  OCSP_BASICRESP_free(bs);
  return r;
}

TEST(AllocSweep, OcspResponsePrint) {
  OCSP_RESPONSE* r = SignedResponse();
  ASSERT_NE(r, nullptr);
  SweepPrinter([r](BIO* out) { return OCSP_RESPONSE_print(out, r, 0); }, "Response Extensions");
  OCSP_RESPONSE_free(r);
}

// A signed request: its requestor name, a nonce and the signer's certificate.
TEST(AllocSweep, OcspRequestPrint) {
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  ASSERT_NE(OCSP_request_add0_id(req, OCSP_cert_to_id(nullptr, UserCert(0), CaCert())), nullptr);
  ASSERT_EQ(OCSP_request_add1_nonce(req, nullptr, 0), 1);
  ASSERT_EQ(OCSP_request_sign(req, UserCert(0), UserKey(0), nullptr, nullptr, 0), 1);
  SweepPrinter([req](BIO* out) { return OCSP_REQUEST_print(out, req, 0); }, "Requestor Name");
  OCSP_REQUEST_free(req);
}

// Calls that fail with a reason queued: signing an OCSP response or request
// (through the certificates they add), an object from its dotted text, a
// policy added to verification parameters.
TEST(AllocSweep, FailuresQueueAReason) {
  STACK* extra = StackOf({CaCert()});
  Sweep("1", [&]() -> Output {
    OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
    Arm();
    const int ok = OCSP_basic_sign(bs, UserCert(0), UserKey(0), EVP_sha1(), extra, 0);
    Disarm();
    OCSP_BASICRESP_free(bs);
    return ok == 1 ? Output("1") : std::nullopt;
  });
  Sweep("1", [&]() -> Output {
    OCSP_REQUEST* req = OCSP_REQUEST_new();
    Arm();
    const int ok = OCSP_request_sign(req, UserCert(0), UserKey(0), nullptr, extra, 0);
    Disarm();
    OCSP_REQUEST_free(req);
    return ok == 1 ? Output("1") : std::nullopt;
  });
  sk_free(extra);
  Sweep("1.2.840.113549.1.1.99", [&]() -> Output {
    Arm();
    ASN1_OBJECT* o = OBJ_txt2obj("1.2.840.113549.1.1.99", 1);
    Disarm();
    char text[80];
    const Output got =
        o != nullptr && OBJ_obj2txt(text, sizeof text, o, 1) > 0 ? Output(text) : std::nullopt;
    ASN1_OBJECT_free(o);
    return got;
  });
  Sweep("2", [&]() -> Output {
    X509_VERIFY_PARAM* param = X509_VERIFY_PARAM_new();
    ASN1_OBJECT* first = OBJ_txt2obj("1.2.3", 1);
    ASN1_OBJECT* second = OBJ_txt2obj("1.2.4", 1);
    Arm();
    const bool ok = X509_VERIFY_PARAM_add0_policy(param, first) == 1 &&
                    X509_VERIFY_PARAM_add0_policy(param, second) == 1;
    Disarm();
    const int n = sk_num(param->policies);
    if (n < 2) ASN1_OBJECT_free(second);  // not taken
    if (n < 1) ASN1_OBJECT_free(first);
    X509_VERIFY_PARAM_free(param);
    return ok ? Output(std::to_string(n)) : std::nullopt;
  });
  // Bad input: a text that is no name and no dotted number.
  ERR_clear_error();
  EXPECT_EQ(OBJ_txt2obj("", 0), nullptr);
  EXPECT_NE(ERR_get_error(), 0u);
  EXPECT_EQ(OBJ_txt2obj("1.", 1), nullptr);
  EXPECT_NE(ERR_get_error(), 0u);
  ERR_clear_error();
}

std::string Pem(X509* x) {
  BIO* b = BIO_new(BIO_s_mem());
  EXPECT_EQ(PEM_write_bio_X509(b, x), 1);
  const std::string text = MemText(b);
  BIO_free(b);
  return text;
}

// A bundle of four certificates and one broken block: memory that runs
// short fails the load, never taken for a broken block or for the end of
// the file.
TEST(AllocSweep, LoadCertCrlFile) {
  const std::string broken = "-----BEGIN CERTIFICATE-----\n!!!!\n-----END CERTIFICATE-----\n";
  morvane_test::TempPath file;
  morvane_test::WriteFile(file.path(), Pem(CaCert()) + Pem(UserCert(0)) + broken +
                                           Pem(UserCert(1)) + Pem(UserCert(2)));
  Sweep("4 loaded, 4 held, broken block queued", [&]() -> Output {
    X509_STORE* store = X509_STORE_new();
    X509_LOOKUP* lu = X509_STORE_add_lookup(store, X509_LOOKUP_file());
    Arm();
    const int n = X509_load_cert_crl_file(lu, file.c_str(), X509_FILETYPE_PEM);
    Disarm();
    const int held = sk_num(store->objs);
    X509_STORE_free(store);
    if (n == 0) return std::nullopt;
    bool queued = false;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
      queued = queued || e == ERR_PACK(ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_BAD_BASE64_DECODE);
    return std::to_string(n) + " loaded, " + std::to_string(held) + " held" +
           (queued ? ", broken block queued" : "");
  });
}

std::string Subject(X509* x) {
  char buf[256];
  return x == nullptr ? "none" : X509_NAME_oneline(X509_get_subject_name(x), buf, sizeof buf);
}

// A key comparison that ran out of memory fails the parse: the key's
// certificate is never handed out as another one.
TEST(AllocSweep, Pkcs12Parse) {
  STACK* ca = StackOf({CaCert(), UserCert(1)});
  PKCS12* p12 = PKCS12_create(const_cast<char*>("pw"), const_cast<char*>("user"), UserKey(0),
                              UserCert(0), ca, 0, 0, 1, 1, 0);
  sk_free(ca);
  ASSERT_NE(p12, nullptr);
  const std::string reference = "key, " + Subject(UserCert(0)) + "; " + Subject(CaCert()) + "; " +
                                Subject(UserCert(1)) + "; ";
  Sweep(reference, [&]() -> Output {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK* others = nullptr;
    Arm();
    const int ok = PKCS12_parse(p12, "pw", &key, &cert, &others);
    Disarm();
    if (ok != 1) {
      EXPECT_EQ(key, nullptr);
      EXPECT_EQ(cert, nullptr);
      EXPECT_EQ(others, nullptr);
      return std::nullopt;
    }
    std::string got = std::string(key != nullptr ? "key" : "no key") + ", " + Subject(cert) + "; ";
    for (int i = 0; i < sk_num(others); i++)
      got += Subject(reinterpret_cast<X509*>(sk_value(others, i))) + "; ";
    EVP_PKEY_free(key);
    X509_free(cert);
    sk_pop_free(others, [](void* x) { X509_free(static_cast<X509*>(x)); });
    return got;
  });
  PKCS12_free(p12);
}

}  // namespace
