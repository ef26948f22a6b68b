// Pass-phrase encryption of PEM bodies (RFC 1421, 4.6.1): the Proc-Type and
// DEK-Info lines, their parsing, decryption in place, the default
// pass-phrase callback, and encrypted writes read back.  Writes draw their
// IVs from a fixed random method, so every run encrypts the same bytes.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/rand.h>
#include <morvane/ui.h>

#include "pem_test_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using pem_test::Block;
using pem_test::MemBio;
using pem_test::ReadBlock;
using pem_test::Repeat;

// ---- fixed random bytes and pass phrases ---------------------------------

int Counting(unsigned char* buf, int num) {
  for (int i = 0; i < num; i++) buf[i] = static_cast<unsigned char>(0x10 + i);
  return 1;
}
const RAND_METHOD kFixedRandom = {
    [](const void*, int) {},         Counting, [] {},
    [](const void*, int, double) {}, Counting, [] { return 1; },
};

class PemCrypt : public testing::Test {
 protected:
  void SetUp() override {
    Morvane_add_all_ciphers();
    RAND_set_rand_method(&kFixedRandom);
  }
  void TearDown() override { RAND_set_rand_method(nullptr); }
};

// A callback that answers with `g_answer` and returns `g_result` (or the
// answer's length when it is -2), recording the rwflag it was given.
const char* g_answer = "";
int g_result = -2;
int g_rwflag = -1;
int Scripted(char* buf, int size, int rwflag, void*) {
  g_rwflag = rwflag;
  const size_t n = strlen(g_answer);
  memcpy(buf, g_answer, n < static_cast<size_t>(size) ? n : static_cast<size_t>(size));
  return g_result == -2 ? static_cast<int>(n) : g_result;
}

char kPhrase[] = "pass phrase";

// An OCTET STRING of "foobar" x 8: DER 04 30 and the 48 bytes (X.690, 8.7).
std::string OctetDer() {
  return std::string("\x04\x30", 2) + Repeat("foobar", 8);
}
ASN1_OCTET_STRING* NewOctets() {
  ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
  const std::string v = Repeat("foobar", 8);
  ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>(v.data()), 48);
  return s;
}
i2d_of_void* const kI2dOctets = reinterpret_cast<i2d_of_void*>(i2d_ASN1_OCTET_STRING);
d2i_of_void* const kD2iOctets = reinterpret_cast<d2i_of_void*>(d2i_ASN1_OCTET_STRING);

// Writes the OCTET STRING as "TEST" encrypted with `enc` under kPhrase.
std::string WriteEncrypted(const EVP_CIPHER* enc) {
  ASN1_OCTET_STRING* s = NewOctets();
  BIO* b = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, PEM_ASN1_write_bio(kI2dOctets, "TEST", b, reinterpret_cast<char*>(s), enc,
                                  reinterpret_cast<unsigned char*>(kPhrase), 11, nullptr, nullptr));
  const std::string text = pem_test::Contents(b);
  BIO_free(b);
  ASN1_OCTET_STRING_free(s);
  return text;
}

std::string Der(ASN1_OCTET_STRING* s) {
  unsigned char* out = nullptr;
  const int n = i2d_ASN1_OCTET_STRING(s, &out);
  std::string d(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  MORVANE_free(out);
  return d;
}

// True when `header` is "Proc-Type: 4,ENCRYPTED\nDEK-Info: <name>," and
// 2 * iv_len upper-case hex digits ([0-9A-F]) and a line feed.
bool HeaderMatches(const std::string& header, const std::string& name, int iv_len) {
  const std::string head = "Proc-Type: 4,ENCRYPTED\nDEK-Info: " + name + ",";
  const size_t digits = 2 * static_cast<size_t>(iv_len);
  if (header.size() != head.size() + digits + 1 || header.compare(0, head.size(), head) != 0 ||
      header.back() != '\n')
    return false;
  for (size_t i = head.size(); i < head.size() + digits; i++)
    if (!((header[i] >= '0' && header[i] <= '9') || (header[i] >= 'A' && header[i] <= 'F')))
      return false;
  return true;
}

// ---- header lines ---------------------------------------------------------

TEST(PemHeaderLines, ProcTypeWords) {
  const struct {
    int type;
    const char* line;
  } cases[] = {{10, "Proc-Type: 4,ENCRYPTED\n"},
               {20, "Proc-Type: 4,MIC-ONLY\n"},
               {30, "Proc-Type: 4,MIC-CLEAR\n"},
               {40, "Proc-Type: 4,BAD-TYPE\n"},
               {0, "Proc-Type: 4,BAD-TYPE\n"}};
  for (const auto& c : cases) {
    char buf[PEM_BUFSIZE] = "";
    PEM_proc_type(buf, c.type);
    EXPECT_STREQ(c.line, buf);
  }
}

TEST(PemHeaderLines, DekInfoInUpperCaseHex) {
  char buf[PEM_BUFSIZE] = "Proc-Type: 4,ENCRYPTED\n";
  char iv[] = "\x01\x23\x45\x67\x89\xab\xcd\xef";
  PEM_dek_info(buf, "DES-EDE3-CBC", 8, iv);
  EXPECT_STREQ("Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC,0123456789ABCDEF\n", buf);
  char none[PEM_BUFSIZE] = "";
  PEM_dek_info(none, "RC4", 0, iv);
  EXPECT_STREQ("DEK-Info: RC4,\n", none);
  char negative[PEM_BUFSIZE] = "";
  PEM_dek_info(negative, "RC4", -1, iv);
  EXPECT_STREQ("DEK-Info: RC4,", negative);
}

// The digits go in only when they, the line feed and the terminator fit the
// 1024 bytes: at one byte short the line stops after the ",", and the byte
// past the buffer is never written.
TEST(PemHeaderLines, DekInfoStaysInsideTheBuffer) {
  char iv[8] = {};
  for (size_t before : {995u, 994u}) {
    char area[PEM_BUFSIZE + 1];
    memset(area, 'x', before);
    area[before] = '\0';
    area[PEM_BUFSIZE] = 0x5a;
    PEM_dek_info(area, "T", 8, iv);
    const size_t prefix = before + strlen("DEK-Info: T,");
    EXPECT_EQ(before == 995u ? prefix : prefix + 17, strlen(area));
    EXPECT_EQ(0x5a, area[PEM_BUFSIZE]);
  }
}

// ---- parsing --------------------------------------------------------------

struct InfoCase {
  const char* header;
  int result;
  const EVP_CIPHER* (*cipher)();  // the cipher found, null for none
  const char* iv;                 // hex of the 16-byte area
  int func, reason;               // the one error queued, 0 for none
};

const char kZeroIv[] = "00000000000000000000000000000000";
const InfoCase kInfoCases[] = {
    {"", 1, nullptr, nullptr, 0, 0},
    {"\nanything", 1, nullptr, nullptr, 0, 0},
    {"Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC,0123456789ABCDEF\n", 1, EVP_des_ede3_cbc,
     "0123456789ABCDEF0000000000000000", 0, 0},
    // Either case, text after the digits and later lines ignored.
    {"Proc-Type: 4,ENCRYPTED\nDEK-Info: AES-128-CBC,00112233445566778899aabbccddeeff and more\n"
     "X-Other: ignored\n",
     1, EVP_aes_128_cbc, "00112233445566778899AABBCCDDEEFF", 0, 0},
    {"Proc-Type: 4,ENCRYPTED\nDEK-Info: RC4,\n", 1, EVP_rc4, kZeroIv, 0, 0},
    {"Proc-Type: 3,ENCRYPTED\nDEK-Info: DES-EDE3-CBC,0123456789ABCDEF\n", 0, nullptr, nullptr, 0,
     0},
    {"Proc-Type: 4,MIC-ONLY\n", 0, nullptr, nullptr, PEM_F_PEM_GET_EVP_CIPHER_INFO,
     PEM_R_NOT_ENCRYPTED},
    {"Comment: first\nProc-Type: 4,ENCRYPTED\n", 0, nullptr, nullptr, PEM_F_PEM_GET_EVP_CIPHER_INFO,
     PEM_R_NOT_PROC_TYPE},
    {"Proc-Type: 4,ENCRYPTED", 0, nullptr, nullptr, PEM_F_PEM_GET_EVP_CIPHER_INFO,
     PEM_R_SHORT_HEADER},
    {"Proc-Type: 4,ENCRYPTED\nDEK-Inf: DES-EDE3-CBC,0123456789ABCDEF\n", 0, nullptr, nullptr,
     PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_NOT_DEK_INFO},
    {"Proc-Type: 4,ENCRYPTED\nDEK-Info: des-ede3-cbc,0123456789ABCDEF\n", 0, nullptr, nullptr,
     PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_UNSUPPORTED_ENCRYPTION},
    {"Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC,0123456789ABCDE\n", 0, nullptr, nullptr,
     PEM_F_LOAD_IV, PEM_R_BAD_IV_CHARS},
    // A cipher without IV needs no separator.
    {"Proc-Type: 4,ENCRYPTED\nDEK-Info: RC4", 1, EVP_rc4, kZeroIv, 0, 0},
};

TEST_F(PemCrypt, CipherInfoFromHeaders) {
  for (const InfoCase& c : kInfoCases) {
    SCOPED_TRACE(c.header);
    // The header alone in a block of its own size, so that a read past its
    // end is a fault; the IV area full of 0xAA beforehand.
    std::vector<char> header(c.header, c.header + strlen(c.header) + 1);
    EVP_CIPHER_INFO info;
    memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(c.result, PEM_get_EVP_CIPHER_INFO(header.data(), &info));
    if (c.reason != 0) {
      EXPECT_ERRORS({{ERR_LIB_PEM, c.func, c.reason}});
    } else {
      EXPECT_ERRORS({});
    }
    if (c.result == 1) {
      EXPECT_EQ(c.cipher != nullptr ? c.cipher() : nullptr, info.cipher);
      if (c.iv != nullptr) {
        EXPECT_EQ(FromHex(c.iv), Bytes(info.iv, info.iv + 16));
      }
    }
  }
  EVP_CIPHER_INFO info;
  EXPECT_EQ(1, PEM_get_EVP_CIPHER_INFO(nullptr, &info));
  EXPECT_EQ(nullptr, info.cipher);
}

// A header that ends right after the cipher name: the terminator is not
// taken for the separator, and the IV is not read past it.
TEST_F(PemCrypt, HeaderEndingAfterTheNameHasNoIv) {
  const char text[] = "Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC";
  std::vector<char> header(text, text + sizeof text);
  EVP_CIPHER_INFO info;
  EXPECT_EQ(0, PEM_get_EVP_CIPHER_INFO(header.data(), &info));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_LOAD_IV, PEM_R_BAD_IV_CHARS}});
}

// A registered cipher whose IV would not fit the 16-byte area is refused
// when read, not written past the area.
TEST_F(PemCrypt, ReaderRefusesIvPastSixteenBytes) {
  const int nid = OBJ_create("1.3.6.1.4.1.55555.1", "WIDE-IV-CIPHER", "wide IV cipher");
  ASSERT_NE(0, nid);
  static EVP_CIPHER wide = *EVP_aes_128_cbc();
  wide.nid = nid;
  wide.iv_len = 24;
  ASSERT_EQ(1, EVP_add_cipher(&wide));
  const std::string text =
      "Proc-Type: 4,ENCRYPTED\nDEK-Info: WIDE-IV-CIPHER," + std::string(48, 'A') + "\n";
  std::vector<char> header(text.begin(), text.end());
  header.push_back('\0');
  EVP_CIPHER_INFO info;
  EXPECT_EQ(0, PEM_get_EVP_CIPHER_INFO(header.data(), &info));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_UNSUPPORTED_ENCRYPTION}});
  // Nor does decryption take such a cipher from a record built by hand.
  info.cipher = &wide;
  unsigned char data[16] = {};
  long len = 16;
  EXPECT_EQ(0, PEM_do_header(&info, data, &len, nullptr, kPhrase));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_DO_HEADER, PEM_R_UNSUPPORTED_ENCRYPTION}});
}

// ---- encrypted writes -----------------------------------------------------

struct WriteCase {
  const EVP_CIPHER* (*cipher)();
  const char* name;
  int iv_len;
};
const WriteCase kWriteCases[] = {
    {EVP_des_ede3_cbc, "DES-EDE3-CBC", 8},
    {EVP_aes_128_cbc, "AES-128-CBC", 16},
    {EVP_aes_256_cbc, "AES-256-CBC", 16},
};

TEST_F(PemCrypt, EncryptedWritesReadBack) {
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.name);
    const std::string text = WriteEncrypted(c.cipher());
    BIO* b = MemBio(text);
    Block block;
    ASSERT_EQ(1, ReadBlock(b, &block));
    BIO_free(b);
    EXPECT_EQ("TEST", block.name);
    EXPECT_TRUE(HeaderMatches(block.header, c.name, c.iv_len)) << block.header;

    // The body is the DER under the key EVP_BytesToKey makes from the pass
    // phrase with MD5 and the IV's first 8 bytes as salt.
    const Bytes iv = FromHex(block.header.substr(block.header.size() - 1 - 2 * c.iv_len,
                                                 2 * static_cast<size_t>(c.iv_len)));
    unsigned char key[EVP_MAX_KEY_LENGTH];
    EVP_BytesToKey(c.cipher(), EVP_md5(), iv.data(), reinterpret_cast<unsigned char*>(kPhrase), 11,
                   1, key, nullptr);
    EVP_CIPHER_CTX ctx;
    EVP_CIPHER_CTX_init(&ctx);
    std::vector<unsigned char> plain(block.data.size() + 32);
    int n = 0, f = 0;
    ASSERT_EQ(1, EVP_DecryptInit_ex(&ctx, c.cipher(), nullptr, key, iv.data()));
    ASSERT_EQ(1, EVP_DecryptUpdate(&ctx, plain.data(), &n, pem_test::U(block.data),
                                   static_cast<int>(block.data.size())));
    ASSERT_EQ(1, EVP_DecryptFinal_ex(&ctx, plain.data() + n, &f));
    EVP_CIPHER_CTX_cleanup(&ctx);
    EXPECT_EQ(OctetDer(),
              std::string(reinterpret_cast<char*>(plain.data()), static_cast<size_t>(n + f)));

    // And the generic reader, given the pass phrase as user data, gives the
    // same DER back.
    b = MemBio(text);
    void* got = PEM_ASN1_read_bio(kD2iOctets, "TEST", b, nullptr, nullptr, kPhrase);
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(OctetDer(), Der(static_cast<ASN1_OCTET_STRING*>(got)));
    ASN1_OCTET_STRING_free(static_cast<ASN1_OCTET_STRING*>(got));
    BIO_free(b);
    EXPECT_ERRORS({});
  }
}

// PKITS (NIST), TrustAnchorRootCertificate.crt, as an ANY value through
// each cipher and back.
TEST_F(PemCrypt, PkitsTrustAnchorEncrypted) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "pkits/certs/TrustAnchorRootCertificate.crt");
  const Bytes der = morvane_test::ReadFileBytes(path);
  g_answer = "pass phrase";
  g_result = -2;
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.name);
    const unsigned char* p = der.data();
    ASN1_TYPE* cert = d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(nullptr, cert);
    BIO* b = BIO_new(BIO_s_mem());
    ASSERT_EQ(1, PEM_ASN1_write_bio(reinterpret_cast<i2d_of_void*>(i2d_ASN1_TYPE), "CERTIFICATE", b,
                                    reinterpret_cast<char*>(cert), c.cipher(), nullptr, 0, Scripted,
                                    nullptr));
    ASN1_TYPE_free(cert);
    auto* back =
        static_cast<ASN1_TYPE*>(PEM_ASN1_read_bio(reinterpret_cast<d2i_of_void*>(d2i_ASN1_TYPE),
                                                  "CERTIFICATE", b, nullptr, Scripted, nullptr));
    ASSERT_NE(nullptr, back);
    unsigned char* out = nullptr;
    const int n = i2d_ASN1_TYPE(back, &out);
    EXPECT_EQ(der, Bytes(out, out + n));
    MORVANE_free(out);
    ASN1_TYPE_free(back);
    BIO_free(b);
  }
}

// A cipher without IV: the salt is the zeroed IV area, so the key is
// EVP_BytesToKey with eight zero bytes of salt.
TEST_F(PemCrypt, CipherWithoutIvSaltsWithZeros) {
  const std::string text = WriteEncrypted(EVP_rc4());
  BIO* b = MemBio(text);
  Block block;
  ASSERT_EQ(1, ReadBlock(b, &block));
  BIO_free(b);
  EXPECT_EQ("Proc-Type: 4,ENCRYPTED\nDEK-Info: RC4,\n", block.header);
  const unsigned char zeros[8] = {};
  unsigned char key[16];
  EVP_BytesToKey(EVP_rc4(), EVP_md5(), zeros, reinterpret_cast<unsigned char*>(kPhrase), 11, 1, key,
                 nullptr);
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  std::vector<unsigned char> plain(block.data.size() + 16);
  int n = 0, f = 0;
  EVP_DecryptInit_ex(&ctx, EVP_rc4(), nullptr, key, nullptr);
  EVP_DecryptUpdate(&ctx, plain.data(), &n, pem_test::U(block.data),
                    static_cast<int>(block.data.size()));
  EVP_DecryptFinal_ex(&ctx, plain.data() + n, &f);
  EVP_CIPHER_CTX_cleanup(&ctx);
  EXPECT_EQ(OctetDer(),
            std::string(reinterpret_cast<char*>(plain.data()), static_cast<size_t>(n + f)));
}

TEST_F(PemCrypt, WrongPhraseAndMissingPhrase) {
  const std::string text = WriteEncrypted(EVP_des_ede3_cbc());
  char wrong[] = "not the phrase";
  BIO* b = MemBio(text);
  EXPECT_EQ(nullptr, PEM_ASN1_read_bio(kD2iOctets, "TEST", b, nullptr, nullptr, wrong));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_DECRYPTFINAL_EX, EVP_R_BAD_DECRYPT},
                 {ERR_LIB_PEM, PEM_F_PEM_DO_HEADER, PEM_R_BAD_DECRYPT}});
  BIO_free(b);
  // A callback that gives nothing, or claims more than the buffer holds.
  g_answer = "pass phrase";
  for (int result : {0, -1, PEM_BUFSIZE + 1}) {
    g_result = result;
    b = MemBio(text);
    EXPECT_EQ(nullptr, PEM_ASN1_read_bio(kD2iOctets, "TEST", b, nullptr, Scripted, nullptr));
    EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_DO_HEADER, PEM_R_BAD_PASSWORD_READ}});
    EXPECT_EQ(0, g_rwflag);
    BIO_free(b);
  }
  g_result = -2;
  b = MemBio(text);
  void* got = PEM_ASN1_read_bio(kD2iOctets, "TEST", b, nullptr, Scripted, nullptr);
  EXPECT_NE(nullptr, got);
  ASN1_OCTET_STRING_free(static_cast<ASN1_OCTET_STRING*>(got));
  BIO_free(b);
}

TEST_F(PemCrypt, WriterWithoutPhraseWritesNothing) {
  ASN1_OCTET_STRING* s = NewOctets();
  BIO* b = BIO_new(BIO_s_mem());
  g_answer = "";
  for (int result : {0, -1, PEM_BUFSIZE + 1}) {
    g_result = result;
    EXPECT_EQ(0, PEM_ASN1_write_bio(kI2dOctets, "TEST", b, reinterpret_cast<char*>(s),
                                    EVP_aes_128_cbc(), nullptr, 0, Scripted, nullptr));
    EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_ASN1_WRITE_BIO, PEM_R_READ_KEY}});
    EXPECT_EQ(1, g_rwflag);
  }
  g_result = -2;
  // An empty phrase through the default callback's user data is none.
  char empty[] = "";
  EXPECT_EQ(0, PEM_ASN1_write_bio(kI2dOctets, "TEST", b, reinterpret_cast<char*>(s),
                                  EVP_aes_128_cbc(), nullptr, 0, nullptr, empty));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_ASN1_WRITE_BIO, PEM_R_READ_KEY}});
  EXPECT_EQ("", pem_test::Contents(b));
  ASN1_OCTET_STRING_free(s);
  BIO_free(b);
}

// Ciphers whose IV passes 16 bytes, or whose two header lines with their
// terminator pass 1024 bytes, are refused before anything is written.
TEST_F(PemCrypt, WriterRefusesCiphersPastTheFixedAreas) {
  ASN1_OCTET_STRING* s = NewOctets();
  BIO* b = BIO_new(BIO_s_mem());
  EVP_CIPHER wide = *EVP_aes_128_cbc();
  wide.iv_len = 24;
  const int long_nid = OBJ_create("1.3.6.1.4.1.55555.2", std::string(957, 'X').c_str(), "long");
  const int fit_nid = OBJ_create("1.3.6.1.4.1.55555.3", std::string(956, 'Y').c_str(), "fits");
  ASSERT_NE(0, long_nid);
  ASSERT_NE(0, fit_nid);
  EVP_CIPHER long_name = *EVP_aes_128_cbc();
  long_name.nid = long_nid;  // 36 + 957 + 2 * 16 = 1025 bytes of header
  EVP_CIPHER no_name = *EVP_aes_128_cbc();
  no_name.nid = 99999;
  for (const EVP_CIPHER* c : {&wide, &long_name, &no_name}) {
    EXPECT_EQ(0,
              PEM_ASN1_write_bio(kI2dOctets, "TEST", b, reinterpret_cast<char*>(s), c,
                                 reinterpret_cast<unsigned char*>(kPhrase), 11, nullptr, nullptr));
    const std::string errors = morvane_test::DrainErrors();
    EXPECT_NE(std::string::npos, errors.find("reason 113 ")) << errors;
  }
  EXPECT_EQ("", pem_test::Contents(b));
  // One byte less fits: 1023 characters of header and the terminator.
  EVP_CIPHER fits = *EVP_aes_128_cbc();
  fits.nid = fit_nid;
  EXPECT_EQ(1, PEM_ASN1_write_bio(kI2dOctets, "TEST", b, reinterpret_cast<char*>(s), &fits,
                                  reinterpret_cast<unsigned char*>(kPhrase), 11, nullptr, nullptr));
  const std::string text = pem_test::Contents(b);
  const size_t at = text.find("DEK-Info: ");
  ASSERT_NE(std::string::npos, at);
  EXPECT_EQ(10 + 956 + 1 + 32u, text.find('\n', at) - at);
  ASN1_OCTET_STRING_free(s);
  BIO_free(b);
}

// ---- the default callback -------------------------------------------------

TEST(PemDefCallback, UserDataIsCutAndHasNoMinimum) {
  char buf[16];
  memset(buf, '#', sizeof buf);
  char key[] = "secret phrase";
  EXPECT_EQ(6, PEM_def_callback(buf, 6, 0, key));
  EXPECT_EQ("secret######", std::string(buf, 12));
  char shorter[] = "ab";
  EXPECT_EQ(2, PEM_def_callback(buf, 16, 1, shorter));
  EXPECT_EQ("ab", std::string(buf, 2));
  char empty[] = "";
  EXPECT_EQ(0, PEM_def_callback(buf, 16, 0, empty));
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(0, PEM_def_callback(buf, -1, 0, key));
  EXPECT_EQ('#', buf[0]);
  EXPECT_ERRORS({});
}

// A prompt method answering from a list, recording the prompts.
std::vector<std::string> g_answers;
size_t g_next = 0;
std::vector<std::string> g_prompts;
int Answer(UI* ui, UI_STRING* uis) {
  g_prompts.push_back(UI_get0_output_string(uis));
  if (g_next >= g_answers.size()) return -1;
  return UI_set_result(ui, uis, g_answers[g_next++].c_str()) == 0 ? 1 : 0;
}

class PemPrompt : public testing::Test {
 protected:
  void SetUp() override {
    g_next = 0;
    g_prompts.clear();
    method_ = UI_create_method("answers");
    UI_method_set_reader(method_, Answer);
    UI_set_default_method(method_);
  }
  void TearDown() override {
    UI_set_default_method(nullptr);
    UI_destroy_method(method_);
    EVP_set_pw_prompt(nullptr);
  }
  UI_METHOD* method_ = nullptr;
};

TEST_F(PemPrompt, AsksAgainUntilFourCharacters) {
  g_answers = {"abc", "", "abcd"};
  char buf[PEM_BUFSIZE];
  testing::internal::CaptureStderr();
  EXPECT_EQ(4, PEM_def_callback(buf, sizeof buf, 0, nullptr));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_STREQ("abcd", buf);
  EXPECT_EQ(std::vector<std::string>(3, "Enter PEM pass phrase:"), g_prompts);
  EXPECT_EQ(Repeat("phrase is too short, needs to be at least 4 chars\n", 2), err);
}

TEST_F(PemPrompt, WritingAsksTwiceWithTheStoredPrompt) {
  g_answers = {"phrase", "phrase"};
  EVP_set_pw_prompt("Stored:");
  char buf[PEM_BUFSIZE];
  EXPECT_EQ(6, PEM_def_callback(buf, sizeof buf, 1, nullptr));
  EXPECT_EQ(std::vector<std::string>(2, "Stored:"), g_prompts);
}

TEST_F(PemPrompt, FailedPromptClearsTheBuffer) {
  g_answers = {};
  char buf[32];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(-1, PEM_def_callback(buf, 16, 0, nullptr));
  EXPECT_EQ(std::string(16, '\0') + std::string(16, '#'), std::string(buf, 32));
  const std::string errors = morvane_test::DrainErrors();
  EXPECT_NE(std::string::npos, errors.find("reason 109 ")) << errors;
}

}  // namespace
