// The error-text loaders: after ERR_load_crypto_strings every library prints
// its name (or lib(N) for the libraries without one) and every function and
// reason it registers prints its own text; the numbers of texts per library
// are pinned; loading twice registers once; freeing and reloading restores
// everything.

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/comp.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/dso.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/lhash.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>
#include <morvane/ui.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

namespace {

// The libraries that ERR_load_crypto_strings covers (library 0 and the
// system library aside), in its order, with their loaders, the number of
// function and reason texts each registers and its name text (null: printed
// as lib(N)).
struct Library {
  int lib;
  void (*loader)(void);
  int functions;
  int reasons;
  const char* name;
};
const Library kLibraries[] = {
    {ERR_LIB_BN, ERR_load_BN_strings, 40, 18, "bignum routines"},
    {ERR_LIB_RSA, ERR_load_RSA_strings, 43, 43, "rsa routines"},
    {ERR_LIB_DH, ERR_load_DH_strings, 10, 5, "Diffie-Hellman routines"},
    {ERR_LIB_EVP, ERR_load_EVP_strings, 43, 52, "digital envelope routines"},
    {ERR_LIB_BUF, ERR_load_BUF_strings, 6, 0, "memory buffer routines"},
    {ERR_LIB_OBJ, ERR_load_OBJ_strings, 7, 2, "object identifier routines"},
    {ERR_LIB_PEM, ERR_load_PEM_strings, 26, 16, "PEM routines"},
    {ERR_LIB_DSA, ERR_load_DSA_strings, 19, 7, "dsa routines"},
    {ERR_LIB_X509, ERR_load_X509_strings, 45, 23, "x509 certificate routines"},
    {ERR_LIB_ASN1, ERR_load_ASN1_strings, 112, 113, "asn1 encoding routines"},
    {ERR_LIB_CONF, ERR_load_CONF_strings, 21, 15, "configuration file routines"},
    {ERR_LIB_CRYPTO, ERR_load_CRYPTO_strings, 9, 1, "common Ostrand routines"},
    {ERR_LIB_EC, ERR_load_EC_strings, 108, 38, "elliptic curve routines"},
    {ERR_LIB_ECDSA, ERR_load_ECDSA_strings, 4, 7, nullptr},
    {ERR_LIB_ECDH, ERR_load_ECDH_strings, 2, 3, nullptr},
    {ERR_LIB_BIO, ERR_load_BIO_strings, 32, 29, "BIO routines"},
    {ERR_LIB_PKCS7, ERR_load_PKCS7_strings, 28, 46, "PKCS7 routines"},
    {ERR_LIB_X509V3, ERR_load_X509V3_strings, 61, 65, "X509 V3 routines"},
    {ERR_LIB_PKCS12, ERR_load_PKCS12_strings, 29, 22, "PKCS12 routines"},
    {ERR_LIB_RAND, ERR_load_RAND_strings, 10, 11, "random number generator"},
    {ERR_LIB_DSO, ERR_load_DSO_strings, 37, 17, "DSO support routines"},
    {ERR_LIB_ENGINE, ERR_load_ENGINE_strings, 37, 40, "engine routines"},
    {ERR_LIB_OCSP, ERR_load_OCSP_strings, 18, 30, "OCSP routines"},
    {ERR_LIB_UI, ERR_load_UI_strings, 12, 7, nullptr},
    {ERR_LIB_COMP, ERR_load_COMP_strings, 4, 3, nullptr},
};

constexpr int kMaxCode = 0xFFF;
// Libraries number their own reasons from 99 up; below are the common ones.
constexpr int kFirstOwnReason = 70;

std::string Text(unsigned long e) {
  char buf[256];
  ERR_error_string_n(e, buf, sizeof(buf));
  return buf;
}

// "error:" and the code in eight upper-case hex digits.
std::string Hex(unsigned long e) {
  char buf[16];
  snprintf(buf, sizeof(buf), "%08lX", e);
  return std::string("error:") + buf;
}

std::vector<int> RegisteredFunctions(int lib) {
  std::vector<int> out;
  for (int f = 1; f <= kMaxCode; f++)
    if (ERR_func_error_string(ERR_PACK(lib, f, 0)) != nullptr) out.push_back(f);
  return out;
}

std::vector<int> RegisteredReasons(int lib) {
  std::vector<int> out;
  for (int r = kFirstOwnReason; r <= kMaxCode; r++)
    if (ERR_reason_error_string(ERR_PACK(lib, 0, r)) != nullptr) out.push_back(r);
  return out;
}

TEST(ErrLoad, EveryLibraryPrintsEveryRegisteredCode) {
  ERR_load_crypto_strings();
  for (const Library& l : kLibraries) {
    SCOPED_TRACE("library " + std::to_string(l.lib));
    const std::string lib_part = l.name != nullptr ? l.name : "lib(" + std::to_string(l.lib) + ")";
    if (l.name != nullptr)
      EXPECT_STREQ(ERR_lib_error_string(ERR_PACK(l.lib, 0, 0)), l.name);
    else
      EXPECT_EQ(ERR_lib_error_string(ERR_PACK(l.lib, 0, 0)), nullptr);

    const std::vector<int> functions = RegisteredFunctions(l.lib);
    const std::vector<int> reasons = RegisteredReasons(l.lib);
    EXPECT_EQ(static_cast<int>(functions.size()), l.functions);
    EXPECT_EQ(static_cast<int>(reasons.size()), l.reasons);
    for (int f : functions) {
      const unsigned long e = ERR_PACK(l.lib, f, ERR_R_MALLOC_FAILURE);
      const char* name = ERR_func_error_string(e);
      ASSERT_NE(name, nullptr);
      EXPECT_NE(*name, '\0');
      EXPECT_EQ(Text(e), Hex(e) + ":" + lib_part + ":" + name + ":malloc failure");
    }
    ASSERT_FALSE(functions.empty());
    const char* first = ERR_func_error_string(ERR_PACK(l.lib, functions[0], 0));
    for (int r : reasons) {
      const unsigned long e = ERR_PACK(l.lib, functions[0], r);
      const char* text = ERR_reason_error_string(e);
      ASSERT_NE(text, nullptr);
      EXPECT_NE(*text, '\0');
      EXPECT_EQ(Text(e), Hex(e) + ":" + lib_part + ":" + first + ":" + text);
    }
  }
}

TEST(ErrLoad, LibrariesWithoutNamePrintTheirNumber) {
  ERR_load_crypto_strings();
  for (int lib = ERR_LIB_UI; lib <= ERR_LIB_STORE; lib++) {
    const unsigned long e = ERR_PACK(lib, 0, 0);
    EXPECT_EQ(Text(e), Hex(e) + ":lib(" + std::to_string(lib) + "):func(0):reason(0)");
  }
}

TEST(ErrLoad, TheStoreTextsAreLeftOut) {
  ERR_load_crypto_strings();
  EXPECT_TRUE(RegisteredFunctions(ERR_LIB_STORE).empty());
  EXPECT_TRUE(RegisteredReasons(ERR_LIB_STORE).empty());
}

TEST(ErrLoad, EachLoaderRegistersItsOwnLibraryOnly) {
  for (const Library& l : kLibraries) {
    ERR_free_strings();
    l.loader();
    EXPECT_EQ(static_cast<int>(RegisteredFunctions(l.lib).size()), l.functions) << l.lib;
    for (const Library& other : kLibraries) {
      if (other.lib == l.lib) continue;
      for (int f = 99; f <= 110; f++)  // every library's first function codes
        EXPECT_EQ(ERR_func_error_string(ERR_PACK(other.lib, f, 0)), nullptr) << l.lib;
    }
  }
}

TEST(ErrLoad, CommonAndSystemTexts) {
  ERR_load_crypto_strings();
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_SYS, SYS_F_FOPEN, ENOENT))
                .rfind("error:02001002:system library:fopen:", 0),
            0u);
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ENOENT)), strerror(ENOENT));
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_RSA, 0, ERR_R_BN_LIB)), "BN lib");
}

TEST(ErrLoad, EachLoaderRegistersItsOwnLibraryOnce) {
  ERR_load_RSA_strings();
  EXPECT_STREQ(ERR_func_error_string(ERR_PACK(ERR_LIB_RSA, RSA_F_RSA_SIGN, 0)), "RSA_sign");
  EXPECT_EQ(ERR_func_error_string(ERR_PACK(ERR_LIB_EVP, 100, 0)), nullptr);
  LHASH* table = ERR_get_string_table();
  ASSERT_NE(table, nullptr);
  const unsigned long items = lh_num_items(table);
  const unsigned long inserts = table->num_insert;
  ERR_load_RSA_strings();
  EXPECT_EQ(lh_num_items(table), items);
  EXPECT_EQ(table->num_insert, inserts);  // the second call registers nothing
}

TEST(ErrLoad, FreeingAndLoadingAgainRestoresEverything) {
  ERR_load_crypto_strings();
  ERR_free_strings();
  EXPECT_EQ(ERR_func_error_string(ERR_PACK(ERR_LIB_ASN1, 100, 0)), nullptr);
  EXPECT_EQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ENOENT)), nullptr);
  ERR_load_crypto_strings();
  for (const Library& l : kLibraries) {
    EXPECT_EQ(static_cast<int>(RegisteredFunctions(l.lib).size()), l.functions) << l.lib;
    EXPECT_EQ(static_cast<int>(RegisteredReasons(l.lib).size()), l.reasons) << l.lib;
  }
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ENOENT)), strerror(ENOENT));
}

}  // namespace

// A few registered texts, exactly as they print.
TEST(ErrLoadAll, SampleTextsAreExact) {
  ERR_load_crypto_strings();
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_DSO, 0, DSO_R_NO_FILE_SPECIFICATION)),
               "no file spec" "ification");
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_DSO, 0, DSO_R_FUNCTIONALITY_NOT_SUPPORTED)),
               "functionality not supported");
  ERR_free_strings();
}
