// Certificates, requests, revocation lists, SPKACs, trust records and names
// as text, over the inputs of test/data/print/x509_inputs.txt and the
// expected outputs beside them; the subject key sections with and without
// keys; failed writes; four PKITS certificates printed whole against the
// layouts of test/data/print/pkits-*.txt; and every PKITS certificate and
// revocation list printed whole and dumped, as a sweep for crashes.

#include <dirent.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "print_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using print_test::Expected;
using print_test::MemOut;
using print_test::ThroughFile;

const Bytes& Der(const std::string& label) {
  static const std::map<std::string, Bytes> der = [] {
    std::map<std::string, Bytes> m;
    for (const auto& r : print_test::Rows("x509_inputs.txt", "DER"))
      m[r[0]] = morvane_test::FromHex(r[1]);
    return m;
  }();
  return der.at(label);
}

// Decodes the input `label` with d2i.
template <typename T>
T* Decode(const std::string& label, T* (*d2i)(T**, const unsigned char**, long)) {
  const Bytes& der = Der(label);
  const unsigned char* p = der.data();
  T* x = d2i(nullptr, &p, static_cast<long>(der.size()));
  EXPECT_NE(nullptr, x) << label;
  return x;
}

constexpr unsigned long kNoKey = X509_FLAG_NO_PUBKEY;

TEST(CertificatePrint, WholeOutputs) {
  struct Case {
    const char* input;
    unsigned long nmflags, cflag;
    int result;
  } cases[] = {
      {"cert-v3", 0, kNoKey, 1},
      {"cert-v3-multiline", NAME_PF_SEP_MULTILINE, 0x387, 1},
      {"cert-v1", NAME_PF_SEP_CPLUS_SPC, kNoKey, 1},
      {"cert-neg-serial", 0, kNoKey, 1},
      {"cert-neg-long-serial", 0, 0x2F3, 1},
      {"cert-bad-time", 0, kNoKey, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const std::string label = std::string(c.input) == "cert-v3-multiline" ? "cert-v3" : c.input;
    X509* x = Decode(label, d2i_X509);
    const std::string want = Expected(std::string(c.input) + ".txt");
    MemOut out;
    EXPECT_EQ(c.result, X509_print_ex(out, x, c.nmflags, c.cflag));
    EXPECT_EQ(want, out.Text());
    int fr;
    EXPECT_EQ(want, ThroughFile([&](FILE* fp) { return X509_print_ex_fp(fp, x, c.nmflags, c.cflag); },
                                &fr));
    EXPECT_EQ(c.result, fr);
    X509_free(x);
  }
  ERR_clear_error();
}

// Without a key the section reads "Unable to load Public Key" and the
// queued errors follow; X509_print is X509_print_ex with flags 0.
TEST(CertificatePrint, KeyThatDoesNotLoad) {
  X509* x = Decode("cert-neg-serial", d2i_X509);
  MemOut out, plain;
  EXPECT_EQ(1, X509_print_ex(out, x, 0, 0));
  const std::string key =
      "        Subject Public Key Info:\n"
      "            Public Key Algorithm: 1.2.3.4\n"
      "            Unable to load Public Key\n";
  const std::string want = Expected("cert-neg-serial.txt");
  const size_t sig = want.find("\n    Signature Algorithm") + 1;
  const std::string text = out.Text();
  ASSERT_GT(text.size(), want.size() + key.size());
  EXPECT_EQ(want.substr(0, sig) + key, text.substr(0, sig + key.size()));
  EXPECT_EQ(want.substr(sig), text.substr(text.size() - (want.size() - sig)));
  EXPECT_NE(std::string::npos, text.find("error:", sig + key.size()));
  EXPECT_EQ(1, X509_print(plain, x));
  EXPECT_EQ(text, plain.Text());
  X509_free(x);
  ERR_clear_error();
}

TEST(CertificatePrintWithKeys, RsaKey) {
  X509* x = Decode("cert-v1", d2i_X509);
  EVP_PKEY* pkey = X509_get_pubkey(x);
  if (pkey == nullptr) {
    X509_free(x);
    ERR_clear_error();
    GTEST_SKIP() << "RSA is not built yet: the certificate's key does not load";
  }
  EVP_PKEY_free(pkey);
  MemOut out;
  EXPECT_EQ(1, X509_print_ex(out, x, 0, ~static_cast<unsigned long>(X509_FLAG_NO_PUBKEY)));
  EXPECT_EQ(
      "        Subject Public Key Info:\n"
      "            Public Key Algorithm: rsaEncryption\n"
      "            RSA Public Key: (12 bit)\n"
      "                Modulus (12 bit): 3233 (0xca1)\n"
      "                Exponent: 17 (0x11)\n",
      out.Text());
  X509_free(x);
}

// Runs print(stream) once whole, counting its writes, then once for each of
// them with that write failing (every such run must give 0), and once for
// each with that write taking one octet only: a run gives 1 exactly when
// the text came out whole.
template <typename Print>
void ExpectEveryFailedWriteSeen(Print print, const std::string& what) {
  BIO* whole = morvane_test::NewScriptedStream();
  ASSERT_EQ(1, print(whole)) << what;
  const int writes = morvane_test::Script(whole).writes;
  const std::string text = morvane_test::Script(whole).output;
  BIO_free(whole);
  for (int at = 0; at < writes; at++) {
    for (const auto& step : {morvane_test::ScriptStep::Fail(), morvane_test::ScriptStep::Move(1)}) {
      BIO* b = morvane_test::NewScriptedStream();
      auto& script = morvane_test::Script(b);
      for (int i = 0; i < at; i++) script.write_script.push_back(morvane_test::ScriptStep::Move(0));
      script.write_script.push_back(step);
      const int r = print(b);
      const bool complete = morvane_test::Script(b).output == text;
      EXPECT_EQ(complete ? 1 : 0, r)
          << what
          << (step.kind == morvane_test::ScriptStep::kFail ? ", failed write " : ", short write ")
          << at << " of " << writes;
      if (step.kind == morvane_test::ScriptStep::kFail) {
        EXPECT_FALSE(complete) << what << " " << at;
      }
      BIO_free(b);
    }
  }
  ERR_clear_error();
}

// One failed or short write, whichever it is, makes the printer give 0, the
// names' compatible form (flags 0) and the object texts included, and so do
// the subject key (one that does not load, with the queue after it, and an
// RSA key), the extension list and the trust record; the same for the
// revocation list and OCSP printers.
TEST(CertificatePrint, FailedWrites) {
  for (const char* input : {"cert-v3", "cert-v1"}) {
    X509* x = Decode(input, d2i_X509);
    ASSERT_EQ(1, X509_alias_set1(x, reinterpret_cast<const unsigned char*>("alias"), -1));
    for (unsigned long nmflags : {0UL, NAME_PF_SEP_CPLUS_SPC})
      ExpectEveryFailedWriteSeen([&](BIO* b) { return X509_print_ex(b, x, nmflags, 0); },
                                 input + std::string(" ") + std::to_string(nmflags));
    X509_free(x);
  }
}

TEST(OtherPrinters, FailedWrites) {
  for (const char* input : {"crl-v2", "crl-v1"}) {
    X509_CRL* x = Decode(input, d2i_X509_CRL);
    ExpectEveryFailedWriteSeen([&](BIO* b) { return X509_CRL_print(b, x); }, input);
    X509_CRL_free(x);
  }
  OCSP_RESPONSE* resp = Decode("ocsp-response", d2i_OCSP_RESPONSE);
  ExpectEveryFailedWriteSeen([&](BIO* b) { return OCSP_RESPONSE_print(b, resp, 0); }, "response");
  OCSP_RESPONSE_free(resp);
  OCSP_REQUEST* req = Decode("ocsp-request", d2i_OCSP_REQUEST);
  ExpectEveryFailedWriteSeen([&](BIO* b) { return OCSP_REQUEST_print(b, req, 0); }, "request");
  OCSP_REQUEST_free(req);
  NETSCAPE_SPKI* s = Decode("spki-unknown-key", d2i_NETSCAPE_SPKI);
  ExpectEveryFailedWriteSeen([&](BIO* b) { return NETSCAPE_SPKI_print(b, s); }, "spki");
  NETSCAPE_SPKI_free(s);
}

// A signature of 128 octets: 7 lines of 18 and one of 2, each 8 blanks in.
TEST(CertificatePrint, SignatureLines) {
  X509* x = Decode("cert-v3", d2i_X509);
  MemOut out;
  EXPECT_EQ(1, X509_signature_print(out, x->sig_alg, x->signature));
  const std::string want = Expected("cert-v3.txt");
  EXPECT_EQ(want.substr(want.find("\n    Signature Algorithm") + 1), out.Text());
  X509_free(x);
}

TEST(RequestPrint, WholeOutputs) {
  for (const char* input : {"req-empty", "req-no-attributes", "req-attributes"}) {
    SCOPED_TRACE(input);
    X509_REQ* x = Decode(input, d2i_X509_REQ);
    MemOut out;
    EXPECT_EQ(1, X509_REQ_print_ex(out, x, 0, kNoKey));
    EXPECT_EQ(Expected(std::string(input) + ".txt"), out.Text());
    X509_REQ_free(x);
  }
  ERR_clear_error();
}

TEST(RequestPrint, FileFormAndFailedWrite) {
  X509_REQ* x = Decode("req-empty", d2i_X509_REQ);
  int fr;
  const std::string text = ThroughFile([&](FILE* fp) { return X509_REQ_print_fp(fp, x); }, &fr);
  EXPECT_EQ(1, fr);
  EXPECT_EQ(0u, text.find("Certificate Request:\n    Data:\n        Version: 0 (0x0)\n"));
  EXPECT_NE(std::string::npos, text.find("            Public Key Algorithm: rsaEncryption\n"));
  ERR_clear_error();
  BIO* b = morvane_test::NewScriptedStream();
  morvane_test::Script(b).write_script = {morvane_test::ScriptStep::Fail()};
  EXPECT_EQ(0, X509_REQ_print(b, x));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_REQ_PRINT_EX, ERR_R_BUF_LIB}});
  BIO_free(b);
  X509_REQ_free(x);
}

// The same for requests, with their key, attributes and extensions.
TEST(RequestPrint, FailedWrites) {
  for (const char* input : {"req-empty", "req-attributes"}) {
    X509_REQ* x = Decode(input, d2i_X509_REQ);
    ExpectEveryFailedWriteSeen([&](BIO* b) { return X509_REQ_print(b, x); }, input);
    X509_REQ_free(x);
  }
}

TEST(RequestExtensions, FoundInTheirAttribute) {
  X509_REQ* x = Decode("req-attributes", d2i_X509_REQ);
  STACK* exts = X509_REQ_get_extensions(x);
  ASSERT_NE(nullptr, exts);
  EXPECT_EQ(2, sk_num(exts));
  sk_pop_free(exts, [](void* ex) { X509_EXTENSION_free(static_cast<X509_EXTENSION*>(ex)); });
  X509_REQ_free(x);
  X509_REQ* none = Decode("req-empty", d2i_X509_REQ);
  EXPECT_EQ(nullptr, X509_REQ_get_extensions(none));
  X509_REQ_free(none);
  EXPECT_EQ(1, X509_REQ_extension_nid(172));
  EXPECT_EQ(1, X509_REQ_extension_nid(171));
  EXPECT_EQ(0, X509_REQ_extension_nid(54));
}

TEST(CrlPrint, WholeOutputs) {
  for (const char* input : {"crl-v2", "crl-v1"}) {
    SCOPED_TRACE(input);
    X509_CRL* x = Decode(input, d2i_X509_CRL);
    const std::string want = Expected(std::string(input) + ".txt");
    MemOut out;
    EXPECT_EQ(1, X509_CRL_print(out, x));
    EXPECT_EQ(want, out.Text());
    int fr;
    EXPECT_EQ(want, ThroughFile([&](FILE* fp) { return X509_CRL_print_fp(fp, x); }, &fr));
    EXPECT_EQ(1, fr);
    X509_CRL_free(x);
  }
  EXPECT_ERRORS({});
}

TEST(SpkiPrint, WholeOutput) {
  NETSCAPE_SPKI* s = Decode("spki-unknown-key", d2i_NETSCAPE_SPKI);
  MemOut out;
  EXPECT_EQ(1, NETSCAPE_SPKI_print(out, s));
  EXPECT_EQ(Expected("spki-unknown-key.txt"), out.Text());
  NETSCAPE_SPKI_free(s);
  ERR_clear_error();
}

TEST(SpkiPrintWithKeys, RsaKey) {
  NETSCAPE_SPKI* s = Decode("spki-rsa", d2i_NETSCAPE_SPKI);
  EVP_PKEY* pkey = X509_PUBKEY_get(s->spkac->pubkey);
  if (pkey == nullptr) {
    NETSCAPE_SPKI_free(s);
    ERR_clear_error();
    GTEST_SKIP() << "RSA is not built yet: the SPKAC's key does not load";
  }
  EVP_PKEY_free(pkey);
  MemOut out;
  EXPECT_EQ(1, NETSCAPE_SPKI_print(out, s));
  EXPECT_EQ(
      "Netscape SPKI:\n"
      "  Public Key Algorithm: rsaEncryption\n"
      "  RSA Public Key: (12 bit)\n"
      "  Modulus (12 bit): 3233 (0xca1)\n"
      "  Exponent: 17 (0x11)\n"
      "  Signature Algorithm: UNKNOWN\n"
      "      01\n",
      out.Text());
  NETSCAPE_SPKI_free(s);
}

TEST(NamePrint, OneLineForm) {
  for (const auto& r : print_test::Rows("x509_inputs.txt", "ONELINE")) {
    SCOPED_TRACE(r[0]);
    X509_NAME* name = Decode(r[1], d2i_X509_NAME);
    MemOut out, ex;
    EXPECT_EQ(1, X509_NAME_print(out, name, 8));
    EXPECT_EQ(r[2], out.Text());
    // Name flags 0 select this printer.
    EXPECT_EQ(1, X509_NAME_print_ex(ex, name, 8, 0));
    EXPECT_EQ(r[2], ex.Text());
    int fr;
    EXPECT_EQ(r[2], ThroughFile([&](FILE* fp) { return X509_NAME_print_ex_fp(fp, name, 4, 0); },
                                &fr));
    EXPECT_EQ(1, fr);
    X509_NAME_free(name);
  }
  X509_NAME* name = Decode("name-street", d2i_X509_NAME);
  BIO* b = morvane_test::NewScriptedStream();
  morvane_test::Script(b).write_script = {morvane_test::ScriptStep::Fail()};
  EXPECT_EQ(0, X509_NAME_print(b, name, 0));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_NAME_PRINT, ERR_R_BUF_LIB}});
  BIO_free(b);
  X509_NAME_free(name);
}

TEST(TrustRecordPrint, Table) {
  for (const auto& r : print_test::Rows("x509_inputs.txt", "AUX")) {
    SCOPED_TRACE(r[0]);
    X509_CERT_AUX* aux = Decode(r[1], d2i_X509_CERT_AUX);
    MemOut out;
    EXPECT_EQ(1, X509_CERT_AUX_print(out, aux, std::stoi(r[2])));
    EXPECT_EQ(r[3], out.Text());
    X509_CERT_AUX_free(aux);
  }
  MemOut out;
  EXPECT_EQ(1, X509_CERT_AUX_print(out, nullptr, 0));
  EXPECT_EQ("", out.Text());
}

// What the header lets be null.
TEST(X509Print, NullArguments) {
  EXPECT_EQ(nullptr, X509_get_pubkey(nullptr));
  EXPECT_EQ(nullptr, X509_REQ_get_pubkey(nullptr));
  EXPECT_EQ(nullptr, X509_REQ_get_extensions(nullptr));
  MemOut out;
  EXPECT_EQ(1, X509V3_extensions_print(out, "T", nullptr, 0, 4));
  EXPECT_EQ("", out.Text());
}

// The OCSP hashes: SHA-1 of the subject's DER and of the key's octets.
TEST(OcspIdPrint, Hashes) {
  X509* x = Decode("cert-v1", d2i_X509);
  unsigned char* name = nullptr;
  const int n = i2d_X509_NAME(x->cert_info->subject, &name);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdlen;
  ASSERT_EQ(1, EVP_Digest(name, static_cast<size_t>(n), md, &mdlen, EVP_sha1(), nullptr));
  std::string want = "        Subject OCSP hash: ";
  char hex[3];
  for (unsigned int i = 0; i < mdlen; i++) snprintf(hex, sizeof hex, "%02X", md[i]), want += hex;
  const ASN1_BIT_STRING* key = x->cert_info->key->public_key;
  ASSERT_EQ(1, EVP_Digest(key->data, static_cast<size_t>(key->length), md, &mdlen, EVP_sha1(),
                          nullptr));
  want += "\n        Public key OCSP hash: ";
  for (unsigned int i = 0; i < mdlen; i++) snprintf(hex, sizeof hex, "%02X", md[i]), want += hex;
  MemOut out;
  EXPECT_EQ(1, X509_ocspid_print(out, x));
  EXPECT_EQ(want + "\n", out.Text());
  MORVANE_free(name);
  X509_free(x);
}

// Whole PKITS certificates through X509_print_ex with the default flags: a
// CA and three end entities whose extensions differ (alternative names of
// two kinds, a user-notice qualifier), every extension through its method.
TEST(PkitsPrint, WholeCertificates) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  for (const char* name : {"GoodCACert", "ValidRFC822nameConstraintsTest21EE",
                           "ValidDNSnameConstraintsTest30EE", "UserNoticeQualifierTest15EE"}) {
    SCOPED_TRACE(name);
    const Bytes der = morvane_test::ReadFileBytes(dir + "/" + name + ".crt");
    const unsigned char* p = der.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(nullptr, x);
    MemOut out;
    EXPECT_EQ(1, X509_print_ex(out, x, 0, 0));
    EXPECT_EQ(Expected(std::string("pkits-") + name + ".txt"), out.Text());
    X509_free(x);
  }
  EXPECT_ERRORS({});
}

// Every PKITS certificate and revocation list prints whole (names in the
// compatible form and one component a line) and dumps as DER, with the
// sanitizers watching.
std::vector<std::string> Files(const std::string& dir, const char* suffix) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, suffix) == 0) out.push_back(dir + "/" + name);
  }
  closedir(d);
  return out;
}

TEST(PkitsPrint, NoCrashSweep) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits");
  size_t certs = 0, crls = 0;
  for (const std::string& path : Files(dir + "/certs", ".crt")) {
    const Bytes der = morvane_test::ReadFileBytes(path);
    const unsigned char* p = der.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(nullptr, x) << path;
    for (unsigned long nm : {0UL, NAME_PF_SEP_MULTILINE | ASN1_PF_ESC_2253 | ASN1_PF_ESC_CTRL |
                                      ASN1_PF_ESC_MSB | ASN1_PF_UTF8_CONVERT |
                                      ASN1_PF_DUMP_UNKNOWN | NAME_PF_FN_LN | NAME_PF_FN_ALIGN}) {
      BIO* out = BIO_new(BIO_s_null());
      EXPECT_EQ(1, X509_print_ex(out, x, nm, 0)) << path;
      BIO_free(out);
    }
    BIO* out = BIO_new(BIO_s_null());
    EXPECT_EQ(1, ASN1_parse_dump(out, der.data(), static_cast<long>(der.size()), 1, -1)) << path;
    EXPECT_EQ(1, X509_ocspid_print(out, x));
    BIO_free(out);
    X509_free(x);
    ERR_clear_error();
    certs++;
  }
  for (const std::string& path : Files(dir + "/crls", ".crl")) {
    const Bytes der = morvane_test::ReadFileBytes(path);
    const unsigned char* p = der.data();
    X509_CRL* x = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(nullptr, x) << path;
    BIO* out = BIO_new(BIO_s_null());
    EXPECT_EQ(1, X509_CRL_print(out, x)) << path;
    EXPECT_EQ(1, ASN1_parse_dump(out, der.data(), static_cast<long>(der.size()), 0, 0)) << path;
    BIO_free(out);
    X509_CRL_free(x);
    crls++;
  }
  EXPECT_EQ(405u, certs);
  EXPECT_EQ(173u, crls);
}

}  // namespace
