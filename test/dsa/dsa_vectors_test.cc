// DSA against published vectors (../shared/vectors, skipped when absent):
// NIST CAVP's FIPS 186-3 DSA files (nist-cavp/dss/186-3dsatestvectors) and
// Project Wycheproof's DSA files.  DSA here has 160-bit subgroups: the
// L = 1024, N = 160 groups must give the published results (a changed y,
// outside the subgroup of order q, refused as a key: -1), every other
// group "bad q value" and -1.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "pk_test_util.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using morvane_test::FromHex;
using morvane_test::RspRecord;
using pk_test::Bn;
using pk_test::Dsa;
using pk_test::Hex;
using pk_test::HexBn;
using pk_test::Sig;

const char kDir[] = "nist-cavp/dss/186-3dsatestvectors/";

// The digest named by a section "L=1024, N=160, SHA-256" or a Wycheproof
// "SHA-256".
const EVP_MD* DigestNamed(const std::string& text) {
  const size_t at = text.find("SHA-");
  const std::string name = text.substr(at);
  if (name == "SHA-1") return EVP_sha1();
  if (name == "SHA-224") return EVP_sha224();
  if (name == "SHA-256") return EVP_sha256();
  if (name == "SHA-384") return EVP_sha384();
  if (name == "SHA-512") return EVP_sha512();
  ADD_FAILURE() << "no digest in " << text;
  return EVP_sha1();
}

// The digest of a message, cut to its first 20 bytes (FIPS 186-3, 4.6: the
// leftmost N bits, N = 160).
std::vector<uint8_t> Digest20(const EVP_MD* md, const std::vector<uint8_t>& msg) {
  std::vector<uint8_t> out(64);
  unsigned int n = 0;
  EXPECT_EQ(1, EVP_Digest(msg.data(), msg.size(), out.data(), &n, md, nullptr));
  out.resize(n < 20 ? n : 20);
  return out;
}

// Walks a response file: a record with P, Q and G sets the group of the
// records that follow.
struct Groups {
  std::string p, q, g;
  bool Take(const RspRecord& r) {
    if (!r.Has("P") || r.Has("Msg") || r.Has("X")) return false;
    p = r.Get("P");
    q = r.Get("Q");
    g = r.Get("G");
    return true;
  }
  Dsa Key() const {
    Dsa dsa(DSA_new());
    dsa->p = Hex(p);
    dsa->q = Hex(q);
    dsa->g = Hex(g);
    return dsa;
  }
};

bool Is1024(const RspRecord& r) {
  return r.section.count("mod") && r.section.at("mod").rfind("L=1024, N=160", 0) == 0;
}

TEST(DsaNist, SigVer) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string(kDir) + "SigVer.rsp");
  Groups grp;
  int cases = 0, passes = 0, other = 0, y_changed = 0;
  for (const RspRecord& r : morvane_test::ReadRsp(path)) {
    if (grp.Take(r) || !r.Has("Msg")) continue;
    SCOPED_TRACE(r.section.at("mod") + ", Msg " + r.Get("Msg").substr(0, 16));
    Dsa dsa = grp.Key();
    dsa->pub_key = Hex(r.Get("Y"));
    Sig sig(DSA_SIG_new());
    sig->r = Hex(r.Get("R"));
    sig->s = Hex(r.Get("S"));
    const auto md = Digest20(DigestNamed(r.section.at("mod")), FromHex(r.Get("Msg")));
    const int got = DSA_do_verify(md.data(), static_cast<int>(md.size()), sig.get(), dsa.get());
    if (Is1024(r)) {
      const bool pass = r.Get("Result")[0] == 'P';
      if (r.Get("Result").find("Y changed") != std::string::npos) {
        // A y outside the subgroup of order q: the key is refused.
        EXPECT_EQ(-1, got);
        EXPECT_TRUE(ErrorsAre({{ERR_LIB_DSA, DSA_F_DSA_DO_VERIFY, DSA_R_BAD_PUBLIC_KEY}}));
        y_changed++;
      } else {
        EXPECT_EQ(pass ? 1 : 0, got);
      }
      cases++;
      passes += pass;
      ERR_clear_error();
    } else {
      EXPECT_EQ(-1, got);
      EXPECT_TRUE(ErrorsAre({{ERR_LIB_DSA, DSA_F_DSA_DO_VERIFY, DSA_R_BAD_Q_VALUE}}));
      other++;
    }
  }
  EXPECT_EQ(75, cases);
  EXPECT_EQ(35, passes);
  EXPECT_EQ(10, y_changed);
  EXPECT_GT(other, 0);
}

TEST(DsaNist, SigGenWithPrecomputedPairs) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string(kDir) + "SigGen.txt");
  Groups grp;
  int cases = 0;
  for (const RspRecord& r : morvane_test::ReadRsp(path)) {
    if (grp.Take(r) || !r.Has("Msg") || !Is1024(r)) continue;
    SCOPED_TRACE(r.section.at("mod") + ", Msg " + r.Get("Msg").substr(0, 16));
    Dsa dsa = grp.Key();
    dsa->priv_key = Hex(r.Get("X"));
    dsa->pub_key = Hex(r.Get("Y"));
    Bn k = HexBn(r.Get("K"));
    dsa->kinv = BN_mod_inverse(nullptr, k.get(), dsa->q, pk_test::Ctx());
    dsa->r = BN_new();
    ASSERT_EQ(1, BN_mod_exp(dsa->r, dsa->g, k.get(), dsa->p, pk_test::Ctx()));
    ASSERT_TRUE(BN_nnmod(dsa->r, dsa->r, dsa->q, pk_test::Ctx()));
    const auto md = Digest20(DigestNamed(r.section.at("mod")), FromHex(r.Get("Msg")));
    Sig sig(DSA_do_sign(md.data(), static_cast<int>(md.size()), dsa.get()));
    ASSERT_NE(nullptr, sig);
    EXPECT_EQ(pk_test::Canon(r.Get("R")), pk_test::ToHex(sig->r));
    EXPECT_EQ(pk_test::Canon(r.Get("S")), pk_test::ToHex(sig->s));
    EXPECT_EQ(1, DSA_do_verify(md.data(), static_cast<int>(md.size()), sig.get(), dsa.get()));
    cases++;
  }
  EXPECT_EQ(75, cases);
}

// Y = G^X mod P for the L = 1024, N = 160 key pairs: a signature made with X
// verifies with the published Y.
TEST(DsaNist, KeyPair) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string(kDir) + "KeyPair.rsp");
  Groups grp;
  int cases = 0;
  const std::vector<uint8_t> md(20, 0x5a);
  for (const RspRecord& r : morvane_test::ReadRsp(path)) {
    if (grp.Take(r) || !r.Has("X") || !r.section.count("mod") ||
        r.section.at("mod") != "L=1024, N=160")
      continue;
    SCOPED_TRACE(r.Get("X"));
    Dsa signer = grp.Key(), verifier = grp.Key();
    signer->priv_key = Hex(r.Get("X"));
    verifier->pub_key = Hex(r.Get("Y"));
    Bn y(BN_new());
    ASSERT_EQ(1, BN_mod_exp(y.get(), signer->g, signer->priv_key, signer->p, pk_test::Ctx()));
    EXPECT_EQ(0, BN_cmp(y.get(), verifier->pub_key));
    Sig sig(DSA_do_sign(md.data(), 20, signer.get()));
    ASSERT_NE(nullptr, sig);
    EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), verifier.get()));
    cases++;
  }
  EXPECT_GT(cases, 0);
}

// Wycheproof's DSA files have 224- and 256-bit q: every case is refused
// with -1, whatever its signature, and nothing crashes or leaks.
TEST(DsaWycheproof, LargerSubgroupsAreRefused) {
  const char* const files[] = {
      "dsa_2048_224_sha224_test.json",       "dsa_2048_224_sha224_p1363_test.json",
      "dsa_2048_224_sha256_test.json",       "dsa_2048_224_sha256_p1363_test.json",
      "dsa_2048_256_sha256_test.json",       "dsa_2048_256_sha256_p1363_test.json",
      "dsa_3072_256_sha256_test.json",       "dsa_3072_256_sha256_p1363_test.json"};
  for (const char* name : files) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + name);
    SCOPED_TRACE(name);
    int cases = 0;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      Dsa dsa(DSA_new());
      dsa->p = Hex(t.Get("publicKey.p"));
      dsa->q = Hex(t.Get("publicKey.q"));
      dsa->g = Hex(t.Get("publicKey.g"));
      dsa->pub_key = Hex(t.Get("publicKey.y"));
      const auto md = Digest20(DigestNamed(t.Get("sha")), FromHex(t.Get("msg")));
      const auto sig = FromHex(t.Get("sig"));
      EXPECT_EQ(-1, DSA_verify(0, md.data(), static_cast<int>(md.size()), sig.data(),
                               static_cast<int>(sig.size()), dsa.get()))
          << "tcId " << t.id;
      ERR_clear_error();
      cases++;
    }
    EXPECT_GT(cases, 0);
  }
}

}  // namespace
