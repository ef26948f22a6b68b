// Signatures against published vectors: Wycheproof's RSASSA-PKCS1-v1_5
// verification and generation files, and NIST CAVP's FIPS 186-2 and 186-3
// signature files (PKCS#1 v1.5, ANSI X9.31 and PSS) in both directions.

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::FromHex;

const EVP_MD* DigestOf(const std::string& name) {
  static const std::map<std::string, const EVP_MD*> digests = {
      {"SHA-1", EVP_sha1()},     {"SHA1", EVP_sha1()},      {"SHA-224", EVP_sha224()},
      {"SHA224", EVP_sha224()},  {"SHA-256", EVP_sha256()}, {"SHA256", EVP_sha256()},
      {"SHA-384", EVP_sha384()}, {"SHA384", EVP_sha384()},  {"SHA-512", EVP_sha512()},
      {"SHA512", EVP_sha512()}};
  auto it = digests.find(name);
  return it == digests.end() ? nullptr : it->second;
}

Bytes Hash(const EVP_MD* md, const Bytes& msg) {
  Bytes out(static_cast<size_t>(EVP_MD_size(md)));
  unsigned int len = 0;
  EXPECT_EQ(1, EVP_Digest(msg.data(), msg.size(), out.data(), &len, md, nullptr));
  return out;
}

// ---- Wycheproof -------------------------------------------------------------

// rsa_signature_*_test.json through RSA_verify with the file's digest: valid
// and acceptable (a DigestInfo without NULL) cases verify, invalid ones
// (BER-encoded padding among them) do not.  Each file with its counts of
// valid, acceptable and invalid cases.
struct VerifyFile {
  const char* name;
  int valid, acceptable, invalid;
};
void PrintTo(const VerifyFile& f, std::ostream* os) { *os << f.name; }

constexpr VerifyFile kVerifyFiles[] = {
    {"rsa_signature_2048_sha224_test.json", 7, 1, 250},
    {"rsa_signature_2048_sha256_test.json", 9, 1, 249},
    {"rsa_signature_2048_sha512_test.json", 8, 1, 250},
    {"rsa_signature_3072_sha256_test.json", 8, 1, 250},
    {"rsa_signature_3072_sha512_test.json", 8, 1, 251},
    {"rsa_signature_4096_sha256_test.json", 7, 1, 250},
    {"rsa_signature_4096_sha512_test.json", 7, 1, 251},
    {"rsa_signature_8192_sha256_test.json", 7, 1, 250},
    {"rsa_signature_8192_sha512_test.json", 7, 1, 251},
};

// The nine files hold 2,329 cases: 68 valid, 9 acceptable, 2,252 invalid.
TEST(WycheproofVerifyFiles, Totals) {
  int valid = 0, acceptable = 0, invalid = 0;
  for (const VerifyFile& f : kVerifyFiles) {
    valid += f.valid;
    acceptable += f.acceptable;
    invalid += f.invalid;
  }
  EXPECT_EQ(68, valid);
  EXPECT_EQ(9, acceptable);
  EXPECT_EQ(2252, invalid);
}

class WycheproofVerify : public testing::TestWithParam<VerifyFile> {};

TEST_P(WycheproofVerify, RsaVerify) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + GetParam().name);
  std::string key_hex;
  Rsa key;
  int valid = 0, acceptable = 0, invalid = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    if (t.Get("publicKeyAsn") != key_hex) {
      key_hex = t.Get("publicKeyAsn");
      const Bytes der = FromHex(key_hex);
      const unsigned char* p = der.data();
      key.reset(d2i_RSAPublicKey(nullptr, &p, static_cast<long>(der.size())));
      ASSERT_TRUE(key) << morvane_test::DrainErrors();
    }
    const EVP_MD* md = DigestOf(t.Get("sha"));
    ASSERT_NE(nullptr, md);
    const Bytes h = Hash(md, FromHex(t.Get("msg")));
    const Bytes sig = FromHex(t.Get("sig"));
    const int r = RSA_verify(EVP_MD_type(md), h.data(), static_cast<unsigned>(h.size()), sig.data(),
                             static_cast<unsigned>(sig.size()), key.get());
    ERR_clear_error();
    if (t.Get("result") == "invalid") {
      EXPECT_EQ(0, r) << "tcId " << t.id << " " << t.Get("comment");
      invalid++;
    } else {
      EXPECT_EQ(1, r) << "tcId " << t.id << " " << t.Get("comment");
      (t.Get("result") == "acceptable" ? acceptable : valid)++;
    }
  }
  EXPECT_EQ(GetParam().valid, valid);
  EXPECT_EQ(GetParam().acceptable, acceptable);
  EXPECT_EQ(GetParam().invalid, invalid);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofVerify, testing::ValuesIn(kVerifyFiles));

// rsa_pkcs1_*_sig_gen_test.json: RSA_sign with the file's key (decoded from
// its PKCS#8 form) gives the published signature byte for byte.
class WycheproofSign : public testing::TestWithParam<const char*> {};

TEST_P(WycheproofSign, RsaSign) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + GetParam());
  std::string key_hex;
  Rsa key;
  int n = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    if (t.Get("privateKeyPkcs8") != key_hex) {
      key_hex = t.Get("privateKeyPkcs8");
      const Bytes der = morvane_test::Pkcs8PrivateKey(FromHex(key_hex));
      const unsigned char* p = der.data();
      key.reset(d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(der.size())));
      ASSERT_TRUE(key) << morvane_test::DrainErrors();
    }
    const EVP_MD* md = DigestOf(t.Get("sha"));
    ASSERT_NE(nullptr, md);
    const Bytes h = Hash(md, FromHex(t.Get("msg")));
    Bytes sig(static_cast<size_t>(RSA_size(key.get())));
    unsigned int len = 0;
    ASSERT_EQ(1, RSA_sign(EVP_MD_type(md), h.data(), static_cast<unsigned>(h.size()), sig.data(),
                          &len, key.get()))
        << "tcId " << t.id << ": " << morvane_test::DrainErrors();
    sig.resize(len);
    EXPECT_EQ(t.Get("sig"), morvane_test::ToHex(sig)) << "tcId " << t.id;
    n++;
  }
  EXPECT_GT(n, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofSign,
                         testing::Values("rsa_pkcs1_1024_sig_gen_test.json",
                                         "rsa_pkcs1_1536_sig_gen_test.json",
                                         "rsa_pkcs1_2048_sig_gen_test.json",
                                         "rsa_pkcs1_3072_sig_gen_test.json",
                                         "rsa_pkcs1_4096_sig_gen_test.json"));

// ---- NIST CAVP --------------------------------------------------------------

// One case of a CAVP signature file: the values in force when its
// paragraph (a run of lines without a blank one) holding Msg was read; the
// key's values (n, e, d) stay in force from earlier paragraphs.
using Case = std::map<std::string, std::string>;

std::vector<Case> ReadCases(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<Case> cases;
  Case state;
  bool has_msg = false;
  auto end_paragraph = [&]() {
    if (has_msg) cases.push_back(state);
    has_msg = false;
    for (const char* k : {"Msg", "S", "SaltVal", "Result"}) state.erase(k);
  };
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) {
      end_paragraph();
      continue;
    }
    if (line[0] == '#' || line[0] == '[') continue;
    const size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq);
    state[name] = line.substr(eq + 3);
    if (name == "Msg") has_msg = true;
  }
  end_paragraph();
  return cases;
}

// The key of a case: n, e and (when known) d.
Rsa CaseKey(const Case& c) {
  Rsa key(RSA_new());
  key->n = Hex(c.at("n"));
  key->e = Hex(c.at("e"));
  auto d = c.find("d");
  if (d != c.end() && d->second != "0") key->d = Hex(d->second);
  return key;
}

// The signature S of a case, as many bytes as the modulus has (the files
// drop leading zero digits).
Bytes Signature(const Case& c) {
  std::string hex = c.at("S");
  const size_t digits = (c.at("n").size() + 1) / 2 * 2;
  if (hex.size() < digits) hex.insert(0, digits - hex.size(), '0');
  return FromHex(hex);
}

// The message of a case; some files drop a leading zero digit, which comes
// back here.
Bytes Message(const Case& c) {
  std::string hex = c.at("Msg");
  if (hex.size() % 2 != 0) hex.insert(0, 1, '0');
  return FromHex(hex);
}

// The salt of a PSS case; "00" stands for the empty salt.
Bytes Salt(const Case& c) {
  const std::string hex = c.at("SaltVal");
  return hex == "00" ? Bytes() : FromHex(hex);
}

// A case's key, digest and the digest of its message.
struct Prepared {
  Rsa key;
  const EVP_MD* md;
  Bytes hash;
};
Prepared Prepare(const Case& c) {
  Prepared p{CaseKey(c), DigestOf(c.at("SHAAlg")), {}};
  p.hash = Hash(p.md, Message(c));
  return p;
}

bool Passes(const Case& c) {
  return c.at("Result")[0] == 'P';
}

// The X9.31 identifier of a digest, 0x38 for SHA-224, which RSA_X931_hash_id
// does not know but the files use.
int X931Id(const EVP_MD* md) {
  const int id = RSA_X931_hash_id(EVP_MD_type(md));
  return id != -1 ? id : (md == EVP_sha224() ? 0x38 : -1);
}

// A file, its number of cases, and the share of them one test takes (those
// whose position modulo `of` is `part`), so that no test takes long.
struct NistFile {
  const char* path;
  int cases;
  int part = 0, of = 1;
};

std::vector<NistFile> Shares(const char* path, int cases, int of) {
  std::vector<NistFile> all;
  for (int i = 0; i < of; i++) all.push_back({path, cases, i, of});
  return all;
}

std::vector<NistFile> Join(std::vector<NistFile> a, const std::vector<NistFile>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string FileName(const testing::TestParamInfo<NistFile>& info) {
  std::string name = info.param.path;
  name = name.substr(0, 5) + "_" + name.substr(name.find('/') + 1);
  for (char& ch : name)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name + "_" + std::to_string(info.param.part);
}

// The cases of the test's share (the count checked over the whole file).
std::vector<Case> LoadNist(const NistFile& f) {
  const std::string path = morvane_test::VectorFile(std::string("nist-cavp/dss/") + f.path);
  if (path.empty()) return {};
  std::vector<Case> cases = ReadCases(path);
  EXPECT_EQ(static_cast<size_t>(f.cases), cases.size()) << f.path;
  std::vector<Case> share;
  for (size_t i = 0; i < cases.size(); i++)
    if (static_cast<int>(i % static_cast<size_t>(f.of)) == f.part) share.push_back(cases[i]);
  return share;
}

#define NIST_CASES_OR_SKIP(var)                       \
  const std::vector<Case> var = LoadNist(GetParam()); \
  if (var.empty())                                    \
    GTEST_SKIP() << "published vectors not found (nist-cavp/dss/" << GetParam().path << ")";

// SigVer15: RSA_verify over the message's digest.
class NistSigVer15 : public testing::TestWithParam<NistFile> {};

TEST_P(NistSigVer15, RsaVerify) {
  NIST_CASES_OR_SKIP(cases);
  for (const Case& c : cases) {
    const auto [key, md, h] = Prepare(c);
    const Bytes sig = Signature(c);
    const int r = RSA_verify(EVP_MD_type(md), h.data(), static_cast<unsigned>(h.size()), sig.data(),
                             static_cast<unsigned>(sig.size()), key.get());
    ERR_clear_error();
    EXPECT_EQ(Passes(c) ? 1 : 0, r) << c.at("S");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, NistSigVer15,
                         testing::Values(NistFile{"186-2rsatestvectors/SigVer15_186-3.rsp", 450},
                                         NistFile{"186-3rsatestvectors/SigVer15_186-3.rsp", 270}),
                         FileName);

// SigVerRSA and SigVer931 (X9.31): public decryption with padding 5 gives
// the digest followed by its identifier.
class NistSigVer931 : public testing::TestWithParam<NistFile> {};

TEST_P(NistSigVer931, PublicDecrypt) {
  NIST_CASES_OR_SKIP(cases);
  for (const Case& c : cases) {
    auto [key, md, expect] = Prepare(c);
    expect.push_back(static_cast<unsigned char>(X931Id(md)));
    const Bytes sig = Signature(c);
    Bytes out(static_cast<size_t>(RSA_size(key.get())));
    const int n = RSA_public_decrypt(static_cast<int>(sig.size()), sig.data(), out.data(),
                                     key.get(), RSA_X931_PADDING);
    ERR_clear_error();
    const bool ok = n > 0 && Bytes(out.begin(), out.begin() + n) == expect;
    EXPECT_EQ(Passes(c), ok) << c.at("S");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, NistSigVer931,
                         testing::Values(NistFile{"186-2rsatestvectors/SigVerRSA.rsp", 360},
                                         NistFile{"186-3rsatestvectors/SigVer931_186-3.rsp", 270}),
                         FileName);

// SigVerPSS: public decryption without padding, then RSA_verify_PKCS1_PSS
// with the salt length of the case.
class NistSigVerPss : public testing::TestWithParam<NistFile> {};

TEST_P(NistSigVerPss, VerifyPss) {
  NIST_CASES_OR_SKIP(cases);
  for (const Case& c : cases) {
    const auto [key, md, h] = Prepare(c);
    const Bytes sig = Signature(c);
    const int slen = static_cast<int>(Salt(c).size());
    Bytes em(static_cast<size_t>(RSA_size(key.get())));
    int r = RSA_public_decrypt(static_cast<int>(sig.size()), sig.data(), em.data(), key.get(),
                               RSA_NO_PADDING);
    if (r > 0) r = RSA_verify_PKCS1_PSS(key.get(), h.data(), md, em.data(), slen);
    ERR_clear_error();
    EXPECT_EQ(Passes(c) ? 1 : 0, r > 0 ? 1 : 0) << c.at("S");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, NistSigVerPss,
                         testing::Values(NistFile{"186-2rsatestvectors/SigVerPSS_186-3.rsp", 450},
                                         NistFile{"186-3rsatestvectors/SigVerPSS_186-3.rsp", 270}),
                         FileName);

// SigGen15: RSA_sign gives the published signature.
class NistSigGen15 : public testing::TestWithParam<NistFile> {};

TEST_P(NistSigGen15, RsaSign) {
  NIST_CASES_OR_SKIP(cases);
  for (const Case& c : cases) {
    const auto [key, md, h] = Prepare(c);
    Bytes sig(static_cast<size_t>(RSA_size(key.get())));
    unsigned int len = 0;
    ASSERT_EQ(1, RSA_sign(EVP_MD_type(md), h.data(), static_cast<unsigned>(h.size()), sig.data(),
                          &len, key.get()))
        << morvane_test::DrainErrors();
    sig.resize(len);
    EXPECT_EQ(morvane_test::ToHex(Signature(c)), morvane_test::ToHex(sig));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, NistSigGen15,
    testing::ValuesIn(Join(Shares("186-2rsatestvectors/SigGen15_186-2.txt", 250, 5),
                           Shares("186-3rsatestvectors/SigGen15_186-3.txt", 150, 3))),
    FileName);

// SigGenRSA and SigGen931: the digest and its identifier signed with padding
// 5 give the published signature.
class NistSigGen931 : public testing::TestWithParam<NistFile> {};

TEST_P(NistSigGen931, PrivateEncrypt) {
  NIST_CASES_OR_SKIP(cases);
  for (const Case& c : cases) {
    auto [key, md, block] = Prepare(c);
    block.push_back(static_cast<unsigned char>(X931Id(md)));
    Bytes sig(static_cast<size_t>(RSA_size(key.get())));
    const int n = RSA_private_encrypt(static_cast<int>(block.size()), block.data(), sig.data(),
                                      key.get(), RSA_X931_PADDING);
    ASSERT_EQ(RSA_size(key.get()), n) << morvane_test::DrainErrors();
    EXPECT_EQ(morvane_test::ToHex(Signature(c)), morvane_test::ToHex(sig));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, NistSigGen931,
    testing::ValuesIn(Join(Shares("186-2rsatestvectors/SigGenRSA_186-2.txt", 200, 5),
                           Shares("186-3rsatestvectors/SigGen931_186-3.txt", 150, 3))),
    FileName);

// SigGenPSS: the salt comes from a random method whose next draw of the
// salt's length returns the file's SaltVal, so the signature is the
// published one; every other draw (the blinding's) goes to the default
// method.
Bytes g_salt;
const RAND_METHOD* g_default = nullptr;
int SaltBytes(unsigned char* buf, int num) {
  if (!g_salt.empty() && static_cast<size_t>(num) == g_salt.size()) {
    std::copy(g_salt.begin(), g_salt.end(), buf);
    g_salt.clear();
    return 1;
  }
  return g_default->bytes(buf, num);
}
void Seed(const void* buf, int num) {
  g_default->seed(buf, num);
}
void Cleanup() {
  g_default->cleanup();
}
void Add(const void* buf, int num, double entropy) {
  g_default->add(buf, num, entropy);
}
int PseudoBytes(unsigned char* buf, int num) {
  return g_default->pseudorand(buf, num);
}
int Status() {
  return g_default->status();
}

// Puts the salt method in place for the life of the object.
class SaltMethod {
 public:
  SaltMethod() {
    g_default = RAND_get_rand_method();
    RAND_set_rand_method(&kMethod);
  }
  ~SaltMethod() { RAND_set_rand_method(g_default); }

 private:
  static constexpr RAND_METHOD kMethod = {Seed, SaltBytes, Cleanup, Add, PseudoBytes, Status};
};

class NistSigGenPss : public testing::TestWithParam<NistFile> {};

TEST_P(NistSigGenPss, AddPssThenRaw) {
  NIST_CASES_OR_SKIP(cases);
  SaltMethod salt_method;
  for (const Case& c : cases) {
    const auto [key, md, h] = Prepare(c);
    g_salt = Salt(c);
    const size_t k = static_cast<size_t>(RSA_size(key.get()));
    Bytes em(k), sig(k);
    ASSERT_EQ(1, RSA_padding_add_PKCS1_PSS(key.get(), em.data(), h.data(), md,
                                           static_cast<int>(g_salt.size())))
        << morvane_test::DrainErrors();
    ASSERT_EQ(static_cast<int>(k), RSA_private_encrypt(static_cast<int>(k), em.data(), sig.data(),
                                                       key.get(), RSA_NO_PADDING))
        << morvane_test::DrainErrors();
    EXPECT_EQ(morvane_test::ToHex(Signature(c)), morvane_test::ToHex(sig));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, NistSigGenPss,
    testing::ValuesIn(Join(Shares("186-2rsatestvectors/SigGenPSS_186-2.txt", 250, 5),
                           Shares("186-3rsatestvectors/SigGenPSS_186-3.txt", 150, 3))),
    FileName);

}  // namespace
