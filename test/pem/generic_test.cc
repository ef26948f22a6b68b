// The generic typed reader and writer: which block names a reader accepts,
// the "Expecting:" note, decoding and encoding failures, the FILE forms; the
// writer's one buffer; library 9's texts and the version text.

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/pem.h>

#include "pem_test_util.h"
#include "test_support.h"

namespace {

using pem_test::MemBio;

std::string OneBlock(const std::string& name) {
  return "-----BEGIN " + name + "-----\nZm9vYmFy\n-----END " + name + "-----\n";
}

struct MatchCase {
  const char* wanted;
  const char* found;
  bool accepted;
};

const MatchCase kMatchCases[] = {
    {"ANY PRIVATE KEY", "ENCRYPTED PRIVATE KEY", true},
    {"ANY PRIVATE KEY", "PRIVATE KEY", true},
    {"ANY PRIVATE KEY", "RSA PRIVATE KEY", true},
    {"ANY PRIVATE KEY", "DSA PRIVATE KEY", true},
    {"ANY PRIVATE KEY", "EC PRIVATE KEY", true},
    {"ANY PRIVATE KEY", "ANY PRIVATE KEY", true},
    {"ANY PRIVATE KEY", "PUBLIC KEY", false},
    {"ANY PRIVATE KEY", "RSA PUBLIC KEY", false},
    {"ANY PRIVATE KEY", "DH PARAMETERS", false},
    {"ANY PRIVATE KEY", "DSA PARAMETERS", false},
    {"RSA PRIVATE KEY", "PRIVATE KEY", false},
    {"CERTIFICATE", "X509 CERTIFICATE", true},
    {"X509 CERTIFICATE", "CERTIFICATE", false},
    {"CERTIFICATE", "TRUSTED CERTIFICATE", false},
    {"CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST", true},
    {"NEW CERTIFICATE REQUEST", "CERTIFICATE REQUEST", false},
    {"TRUSTED CERTIFICATE", "CERTIFICATE", true},
    {"TRUSTED CERTIFICATE", "X509 CERTIFICATE", true},
    {"PKCS7", "CERTIFICATE", true},
    {"PKCS7", "PKCS #7 SIGNED DATA", true},
    {"PKCS7", "X509 CERTIFICATE", false},
    {"X509 CRL", "X509 CRL", true},
    {"X509 CRL", "x509 crl", false},
};

TEST(PemBytesRead, NameMatching) {
  for (const MatchCase& c : kMatchCases) {
    SCOPED_TRACE(std::string(c.wanted) + " <- " + c.found);
    BIO* b = MemBio(OneBlock(c.found));
    unsigned char* data = nullptr;
    char* nm = nullptr;
    long len = 0;
    EXPECT_EQ(c.accepted ? 1 : 0,
              PEM_bytes_read_bio(&data, &len, &nm, c.wanted, b, nullptr, nullptr));
    if (c.accepted) {
      EXPECT_STREQ(c.found, nm);
      EXPECT_EQ("foobar", std::string(reinterpret_cast<char*>(data), static_cast<size_t>(len)));
      MORVANE_free(data);
      MORVANE_free(nm);
      EXPECT_ERRORS({});
    } else {
      const std::string note = std::string("Expecting: ") + c.wanted;
      EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_NO_START_LINE, note.c_str()}});
    }
    BIO_free(b);
  }
}

TEST(PemBytesRead, SkipsOtherBlocksAndMayKeepTheName) {
  BIO* b = MemBio(OneBlock("PUBLIC KEY") + OneBlock("X509 CRL") + OneBlock("EC PRIVATE KEY") +
                  OneBlock("PRIVATE KEY"));
  unsigned char* data = nullptr;
  long len = 0;
  ASSERT_EQ(1, PEM_bytes_read_bio(&data, &len, nullptr, "ANY PRIVATE KEY", b, nullptr, nullptr));
  EXPECT_EQ(6, len);
  MORVANE_free(data);
  char* nm = nullptr;
  ASSERT_EQ(1, PEM_bytes_read_bio(&data, &len, &nm, "ANY PRIVATE KEY", b, nullptr, nullptr));
  EXPECT_STREQ("PRIVATE KEY", nm);
  MORVANE_free(data);
  MORVANE_free(nm);
  BIO_free(b);
}

// A block that fails to read ends the search with its own error, and no
// note is added to it.
TEST(PemBytesRead, BadBlockEndsTheSearch) {
  BIO* b = MemBio("-----BEGIN OTHER-----\nZm9vYmFy\n-----END WRONG-----\n" + OneBlock("WANTED"));
  unsigned char* data = nullptr;
  long len = 0;
  EXPECT_EQ(0, PEM_bytes_read_bio(&data, &len, nullptr, "WANTED", b, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_BAD_END_LINE}});
  BIO_free(b);
}

TEST(PemAsn1Read, UndecodableBytesAreAnAsn1Error) {
  BIO* b = MemBio(OneBlock("TEST"));
  EXPECT_EQ(nullptr, PEM_ASN1_read_bio(reinterpret_cast<d2i_of_void*>(d2i_ASN1_OCTET_STRING),
                                       "TEST", b, nullptr, nullptr, nullptr));
  unsigned long last = 0, e;
  while ((e = ERR_get_error()) != 0) last = e;
  EXPECT_EQ(ERR_PACK(ERR_LIB_PEM, PEM_F_PEM_ASN1_READ_BIO, ERR_R_ASN1_LIB), last);
  BIO_free(b);
}

// The reader hands the caller's object to the decoder, which reuses it.
TEST(PemAsn1Read, ReusesTheCallersObject) {
  // DER of OCTET STRING "foo" (X.690, 8.7): 04 03 66 6F 6F, base64 "BANmb28=".
  BIO* b = MemBio("-----BEGIN TEST-----\nBANmb28=\n-----END TEST-----\n");
  ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
  void* x = s;
  void* got = PEM_ASN1_read_bio(reinterpret_cast<d2i_of_void*>(d2i_ASN1_OCTET_STRING), "TEST", b,
                                &x, nullptr, nullptr);
  EXPECT_EQ(static_cast<void*>(s), got);
  EXPECT_EQ(3, ASN1_STRING_length(s));
  ASN1_OCTET_STRING_free(s);
  BIO_free(b);
}

TEST(PemAsn1Write, EncoderFailureWritesNothing) {
  BIO* b = BIO_new(BIO_s_mem());
  auto failing = [](void*, unsigned char**) { return -1; };
  char x = 0;
  EXPECT_EQ(0, PEM_ASN1_write_bio(failing, "TEST", b, &x, nullptr, nullptr, 0, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_ASN1_WRITE_BIO, ERR_R_ASN1_LIB}});
  // Empty DER: the block is written, but a body of nothing is no success.
  auto empty = [](void*, unsigned char**) { return 0; };
  EXPECT_EQ(0, PEM_ASN1_write_bio(empty, "TEST", b, &x, nullptr, nullptr, 0, nullptr, nullptr));
  EXPECT_ERRORS({});
  EXPECT_EQ("-----BEGIN TEST-----\n-----END TEST-----\n", pem_test::Contents(b));
  BIO_free(b);
}

TEST(PemAsn1File, WriteThenRead) {
  ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>("foo"), 3);
  FILE* f = tmpfile();
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(1, PEM_ASN1_write(reinterpret_cast<i2d_of_void*>(i2d_ASN1_OCTET_STRING), "TEST", f,
                              reinterpret_cast<char*>(s), nullptr, nullptr, 0, nullptr, nullptr));
  ASN1_OCTET_STRING_free(s);
  rewind(f);
  char text[64] = {};
  ASSERT_EQ(49u, fread(text, 1, sizeof text, f));
  EXPECT_STREQ("-----BEGIN TEST-----\nBANmb28=\n-----END TEST-----\n", text);
  rewind(f);
  auto* got = static_cast<ASN1_OCTET_STRING*>(PEM_ASN1_read(
      reinterpret_cast<d2i_of_void*>(d2i_ASN1_OCTET_STRING), "TEST", f, nullptr, nullptr, nullptr));
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(0, memcmp("foo", ASN1_STRING_data(got), 3));
  ASN1_OCTET_STRING_free(got);
  EXPECT_EQ(nullptr, PEM_ASN1_read(reinterpret_cast<d2i_of_void*>(d2i_ASN1_OCTET_STRING), "TEST", f,
                                   nullptr, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_NO_START_LINE, "Expecting: TEST"}});
  fclose(f);
}

// What the header allows to be null: streams, header, callback, user data,
// the name out-parameter, the object to reuse, the cipher and the phrase.
TEST(PemNullArguments, AllowedNullsFailOrDefault) {
  EXPECT_EQ(0, PEM_write_bio(nullptr, "TEST", nullptr, nullptr, 0));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_WRITE_BIO, ERR_R_BUF_LIB}});
  unsigned char* data = nullptr;
  long len = 0;
  EXPECT_EQ(0, PEM_bytes_read_bio(&data, &len, nullptr, "TEST", nullptr, nullptr, nullptr));
  EXPECT_NE("", morvane_test::DrainErrors());
  EXPECT_EQ(nullptr, PEM_ASN1_read_bio(reinterpret_cast<d2i_of_void*>(d2i_ASN1_OCTET_STRING),
                                       "TEST", nullptr, nullptr, nullptr, nullptr));
  EXPECT_NE("", morvane_test::DrainErrors());
  ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
  EXPECT_EQ(0, PEM_ASN1_write_bio(reinterpret_cast<i2d_of_void*>(i2d_ASN1_OCTET_STRING), "TEST",
                                  nullptr, reinterpret_cast<char*>(s), nullptr, nullptr, 0,
                                  nullptr, nullptr));
  EXPECT_NE("", morvane_test::DrainErrors());
  ASN1_OCTET_STRING_free(s);
  EVP_CIPHER_INFO info = {};
  unsigned char byte = 0;
  len = 1;
  EXPECT_EQ(1, PEM_do_header(&info, &byte, &len, nullptr, nullptr));  // no cipher: nothing to do
  EXPECT_ERRORS({});
}

// ---- the writer's memory --------------------------------------------------

bool g_recording = false;
long g_allocations = 0;
size_t g_largest = 0;
void* RecordMalloc(size_t n, const char*, int) {
  if (g_recording) {
    g_allocations++;
    if (n > g_largest) g_largest = n;
  }
  return malloc(n);
}
void* RecordRealloc(void* p, size_t n, const char*, int) {
  if (g_recording) {
    g_allocations++;
    if (n > g_largest) g_largest = n;
  }
  return realloc(p, n);
}

TEST(PemWriteMemory, OneBufferOf8192BytesWhateverTheSize) {
  ASSERT_EQ(1, CRYPTO_set_mem_ex_functions(RecordMalloc, RecordRealloc, free));
  BIO* b = BIO_new(BIO_s_null());
  for (size_t size : {1u, 5120u, 5121u, 100000u, 2000000u}) {
    SCOPED_TRACE(size);
    std::string data(size, 'x');
    g_allocations = 0;
    g_largest = 0;
    g_recording = true;
    EXPECT_LT(0, PEM_write_bio(b, "DATA", nullptr, pem_test::U(data), static_cast<long>(size)));
    g_recording = false;
    EXPECT_EQ(1, g_allocations);
    EXPECT_EQ(8192u, g_largest);
  }
  BIO_free(b);
}

// ---- texts ----------------------------------------------------------------

TEST(PemTexts, FunctionsReasonsAndVersion) {
  ERR_load_PEM_strings();
  struct Text {
    int code;
    const char* text;
  };
  const Text functions[] = {
      {100, "PEM_def_callback"},
      {101, "LOAD_IV"},
      {102, "PEM_ASN1_read"},
      {103, "PEM_ASN1_read_bio"},
      {104, "PEM_ASN1_write"},
      {105, "PEM_ASN1_write_bio"},
      {106, "PEM_do_header"},
      {107, "PEM_get_EVP_CIPHER_INFO"},
      {108, "PEM_read"},
      {109, "PEM_read_bio"},
      {110, "PEM_SealFinal"},
      {111, "PEM_SealInit"},
      {112, "PEM_SignFinal"},
      {113, "PEM_write"},
      {114, "PEM_write_bio"},
      {115, "PEM_X509_INFO_read"},
      {116, "PEM_X509_INFO_read_bio"},
      {117, "PEM_X509_INFO_write_bio"},
      {118, "PEM_F_PEM_WRITE_PKCS8PRIVATEKEY"},
      {119, "PEM_PK8PKEY"},
      {120, "d2i_PKCS8PrivateKey_bio"},
      {121, "d2i_PKCS8PrivateKey_fp"},
      {123, "PEM_READ_BIO_PRIVATEKEY"},
      {124, "PEM_READ_PRIVATEKEY"},
      {125, "DO_PK8PKEY_FP"},
      {126, "DO_PK8PKEY"},
  };
  const Text reasons[] = {
      {100, "bad base64 decode"},      {101, "bad decrypt"},
      {102, "bad end line"},           {103, "bad iv chars"},
      {104, "bad password read"},      {105, "not dek info"},
      {106, "not encrypted"},          {107, "not proc type"},
      {108, "no start line"},          {109, "problems getting password"},
      {110, "public key no rsa"},      {111, "read key"},
      {112, "short header"},           {113, "unsupported cipher"},
      {114, "unsupported encryption"}, {115, "error converting private key"},
      {116, "empty block"},
  };
  for (const auto& f : functions) {
    const char* t = ERR_func_error_string(ERR_PACK(ERR_LIB_PEM, f.code, 0));
    ASSERT_NE(nullptr, t) << f.code;
    EXPECT_STREQ(f.text, t);
  }
  EXPECT_EQ(nullptr, ERR_func_error_string(ERR_PACK(ERR_LIB_PEM, 122, 0)));
  EXPECT_EQ(nullptr, ERR_func_error_string(ERR_PACK(ERR_LIB_PEM, 127, 0)));
  for (const auto& r : reasons) {
    const char* t = ERR_reason_error_string(ERR_PACK(ERR_LIB_PEM, 0, r.code));
    ASSERT_NE(nullptr, t) << r.code;
    EXPECT_STREQ(r.text, t);
  }
  EXPECT_EQ(nullptr, ERR_reason_error_string(ERR_PACK(ERR_LIB_PEM, 0, 117)));
  EXPECT_STREQ("PEM part of Morvane 0.9.8o 01 Jun 2010", PEM_version);
}

}  // namespace
