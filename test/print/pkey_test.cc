// Keys and parameters as text over the cases of test/data/print/keys.txt.
// The RSA, DSA and DH printers read only the keys' public fields, so the
// cases set those fields on records of their own; the checks that need a
// key made by its algorithm (decoded RSA and DSA keys, elliptic curves)
// skip, naming the algorithm, while it is not built.

#include <stdio.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "print_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using print_test::MemOut;
using print_test::Rows;
using print_test::ThroughFile;

// A number from hex text, '-' first for a negative one; null for "-".
BIGNUM* Num(const std::string& hex) {
  if (hex == "-") return nullptr;
  BIGNUM* b = nullptr;
  const bool neg = hex[0] == '-';
  EXPECT_GT(BN_hex2bn(&b, hex.c_str() + (neg ? 1 : 0)), 0) << hex;
  BN_set_negative(b, neg);
  return b;
}

// The octets as the number printer lays them out after its label: a
// newline and off + 4 blanks before every 15th, "%02x" joined by ':'.
std::string Octets(const std::string& hex, int off) {
  const morvane_test::Bytes b = morvane_test::FromHex(hex);
  std::string s;
  char t[4];
  for (size_t i = 0; i < b.size(); i++) {
    if (i % 15 == 0) s += "\n" + std::string(static_cast<size_t>(off + 4), ' ');
    snprintf(t, sizeof t, "%02x", b[i]);
    s += t;
    if (i + 1 < b.size()) s += ":";
  }
  return s + "\n";
}

struct Dh : DH {
  Dh() { memset(static_cast<DH*>(this), 0, sizeof(DH)); }
  ~Dh() {
    BN_free(p);
    BN_free(g);
  }
};

struct Rsa : RSA {
  Rsa() { memset(static_cast<RSA*>(this), 0, sizeof(RSA)); }
  ~Rsa() {
    for (BIGNUM* b : {n, e, d, p, q, dmp1, dmq1, iqmp}) BN_free(b);
  }
};

struct Dsa : DSA {
  Dsa() { memset(static_cast<DSA*>(this), 0, sizeof(DSA)); }
  ~Dsa() {
    for (BIGNUM* b : {p, q, g, pub_key, priv_key}) BN_free(b);
  }
};

TEST(KeyPrint, NumberForms) {
  for (const auto& r : Rows("keys.txt", "DH")) {
    SCOPED_TRACE(r[0]);
    Dh dh;
    dh.p = Num(r[1]);
    dh.g = Num(r[2]);
    dh.length = std::stol(r[3]);
    MemOut out;
    EXPECT_EQ(1, DHparams_print(out, &dh));
    EXPECT_EQ(r[4], out.Text());
    int fr;
    EXPECT_EQ(r[4], ThroughFile([&](FILE* fp) { return DHparams_print_fp(fp, &dh); }, &fr));
    EXPECT_EQ(1, fr);
  }
  EXPECT_ERRORS({});
}

TEST(KeyPrint, Rsa) {
  for (const auto& r : Rows("keys.txt", "RSA")) {
    SCOPED_TRACE(r[0]);
    Rsa rsa;
    BIGNUM** fields[] = {&rsa.n, &rsa.e, &rsa.d, &rsa.p, &rsa.q, &rsa.dmp1, &rsa.dmq1, &rsa.iqmp};
    for (size_t i = 0; i < 8; i++) *fields[i] = Num(r[i + 1]);
    const int off = std::stoi(r[9]);
    MemOut out;
    EXPECT_EQ(1, RSA_print(out, &rsa, off));
    EXPECT_EQ(r[10], out.Text());
    int fr;
    EXPECT_EQ(r[10], ThroughFile([&](FILE* fp) { return RSA_print_fp(fp, &rsa, off); }, &fr));
    EXPECT_EQ(1, fr);
  }
  EXPECT_ERRORS({});
}

TEST(KeyPrint, Dsa) {
  for (const auto& r : Rows("keys.txt", "DSA")) {
    SCOPED_TRACE(r[0]);
    Dsa dsa;
    dsa.p = Num(r[1]);
    dsa.q = Num(r[2]);
    dsa.g = Num(r[3]);
    dsa.pub_key = Num(r[4]);
    dsa.priv_key = Num(r[5]);
    const int off = std::stoi(r[6]);
    MemOut out;
    EXPECT_EQ(1, DSA_print(out, &dsa, off));
    EXPECT_EQ(r[7], out.Text());
    int fr;
    EXPECT_EQ(r[7], ThroughFile([&](FILE* fp) { return DSA_print_fp(fp, &dsa, off); }, &fr));
    EXPECT_EQ(1, fr);
    const std::string params =
        "DSA-Parameters: (5 bit)\n    p: 23 (0x17)\n    q: 11 (0xb)\n    g: 4 (0x4)\n";
    MemOut po;
    EXPECT_EQ(1, DSAparams_print(po, &dsa));
    EXPECT_EQ(params, po.Text());
    EXPECT_EQ(params, ThroughFile([&](FILE* fp) { return DSAparams_print_fp(fp, &dsa); }, &fr));
  }
  EXPECT_ERRORS({});
}

// A 1024-bit modulus with its top bit set (the RFC 2409 second Oakley
// prime): 129 octets with the leading 00, 8 lines of 15 and one of 9.
TEST(KeyPrint, LongModulus) {
  Rsa rsa;
  rsa.n = get_rfc2409_prime_1024(nullptr);
  rsa.e = Num("10001");
  morvane_test::Bytes n(128);
  ASSERT_EQ(128, BN_bn2bin(rsa.n, n.data()));
  MemOut out;
  ASSERT_EQ(1, RSA_print(out, &rsa, 0));
  const std::string want = "Modulus (1024 bit):" + Octets("00" + morvane_test::ToHex(n), 0) +
                           "Exponent: 65537 (0x10001)\n";
  EXPECT_EQ(want, out.Text());
  size_t lines = 0;
  for (char c : out.Text()) lines += c == '\n';
  EXPECT_EQ(11u, lines);  // the label, 9 lines of octets, the exponent
}

TEST(KeyPrint, MissingParameters) {
  Dsa dsa;
  dsa.pub_key = Num("12");
  MemOut out;
  EXPECT_EQ(0, DSA_print(out, &dsa, 0));
  EXPECT_ERRORS({{ERR_LIB_DSA, DSA_F_DSA_PRINT, DSA_R_MISSING_PARAMETERS}});
  EXPECT_EQ(0, DSAparams_print(out, &dsa));
  EXPECT_ERRORS({{ERR_LIB_DSA, DSA_F_DSAPARAMS_PRINT, DSA_R_MISSING_PARAMETERS}});
  EXPECT_EQ("", out.Text());
  Dh dh;
  EXPECT_EQ(0, DHparams_print(out, &dh));
  EXPECT_ERRORS({{ERR_LIB_DH, DH_F_DHPARAMS_PRINT, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(0, RSA_print(out, nullptr, 0));
  EXPECT_ERRORS({{ERR_LIB_RSA, RSA_F_RSA_PRINT, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(0, EC_KEY_print(out, nullptr, 0));
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_PRINT, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(0, ECPKParameters_print(out, nullptr, 0));
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_ECPKPARAMETERS_PRINT, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(0, ECParameters_print(out, nullptr));
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_ECPARAMETERS_PRINT, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ("", out.Text());
}

// Every write that fails ends the printer with 0; only the Diffie-Hellman
// printer names the failure ("BUF lib").
TEST(KeyPrint, FailedWrites) {
  Rsa rsa;
  rsa.n = Num("0102030405060708090A0B0C0D0E0F10");
  rsa.e = Num("3");
  Dh dh;
  dh.p = Num("0102030405060708090A0B0C0D0E0F10");
  dh.g = Num("2");
  for (int fail_at = 0; fail_at < 6; fail_at++) {
    SCOPED_TRACE(fail_at);
    for (int which = 0; which < 2; which++) {
      BIO* b = morvane_test::NewScriptedStream();
      auto& script = morvane_test::Script(b);
      for (int i = 0; i < fail_at; i++)
        script.write_script.push_back(morvane_test::ScriptStep::Move(0));
      script.write_script.push_back(morvane_test::ScriptStep::Fail());
      if (which == 0) {
        EXPECT_EQ(0, RSA_print(b, &rsa, 0));
        EXPECT_ERRORS({});
      } else {
        EXPECT_EQ(0, DHparams_print(b, &dh));
        EXPECT_ERRORS({{ERR_LIB_DH, DH_F_DHPARAMS_PRINT, ERR_R_BUF_LIB}});
      }
      BIO_free(b);
    }
  }
}

// With keys made by their algorithms.

TEST(KeyPrintWithKeys, DecodedRsaKey) {
  // RSAPublicKey (RFC 8017, A.1.1) of the textbook key: n 3233, e 17.
  const morvane_test::Bytes der = morvane_test::FromHex("3007 0202 0CA1 020111");
  const unsigned char* p = der.data();
  RSA* rsa = d2i_RSAPublicKey(nullptr, &p, static_cast<long>(der.size()));
  if (rsa == nullptr) {
    ERR_clear_error();
    GTEST_SKIP() << "RSA is not built yet: d2i_RSAPublicKey gives no key";
  }
  MemOut out;
  EXPECT_EQ(1, RSA_print(out, rsa, 0));
  EXPECT_EQ("Modulus (12 bit): 3233 (0xca1)\nExponent: 17 (0x11)\n", out.Text());
  RSA_free(rsa);
}

TEST(KeyPrintWithKeys, DecodedDsaParameters) {
  // Dss-Parms (RFC 3279, 2.3.2) of the toy key: p 23, q 11, g 4.
  const morvane_test::Bytes der = morvane_test::FromHex("3009 020117 02010B 020104");
  const unsigned char* p = der.data();
  DSA* dsa = d2i_DSAparams(nullptr, &p, static_cast<long>(der.size()));
  if (dsa == nullptr) {
    ERR_clear_error();
    GTEST_SKIP() << "DSA is not built yet: d2i_DSAparams gives no parameters";
  }
  MemOut out;
  EXPECT_EQ(1, DSAparams_print(out, dsa));
  EXPECT_EQ("DSA-Parameters: (5 bit)\n    p: 23 (0x17)\n    q: 11 (0xb)\n    g: 4 (0x4)\n",
            out.Text());
  DSA_free(dsa);
}

// P-256 (FIPS 186-4, D.1.2.3): p, b, the generator, the order and the seed.
constexpr const char* kP256P = "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF";
constexpr const char* kP256A = "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC";
constexpr const char* kP256B = "5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B";
constexpr const char* kP256G =
    "046B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296"
    "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5";
constexpr const char* kP256N = "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551";
constexpr const char* kP256Seed = "C49D360886E704936A6678E1139D26B7819F7E90";

TEST(KeyPrintWithKeys, EcKey) {
  EC_GROUP* group = EC_GROUP_new_by_curve_name(415);
  if (group == nullptr) {
    ERR_clear_error();
    GTEST_SKIP() << "elliptic curves are not built yet: no group for prime256v1";
  }
  EC_KEY* key = EC_KEY_new();
  if (key == nullptr) {
    EC_GROUP_free(group);
    ERR_clear_error();
    GTEST_SKIP() << "elliptic-curve keys are not built yet (EC_KEY_new is disabled)";
  }
  EC_GROUP_set_asn1_flag(group, 1);
  ASSERT_EQ(1, EC_KEY_set_group(key, group));
  ASSERT_EQ(1, EC_KEY_set_public_key(key, EC_GROUP_get0_generator(group)));
  MemOut named;
  ASSERT_EQ(1, EC_KEY_print(named, key, 2));
  EXPECT_EQ("  pub: " + Octets(kP256G, 2) + "  ASN1 OID: prime256v1\n", named.Text());

  EC_GROUP_set_asn1_flag(group, 0);
  ASSERT_EQ(1, EC_KEY_set_group(key, group));
  MemOut explicit_form;
  ASSERT_EQ(1, EC_KEY_print(explicit_form, key, 0));
  EXPECT_EQ("pub: " + Octets(kP256G, 0) +
                "Field Type: prime-field\nPrime:" + Octets(std::string("00") + kP256P, 0) +
                "A:   " + Octets(std::string("00") + kP256A, 0) + "B:   " + Octets(kP256B, 0) +
                "Generator (uncompressed):" + Octets(kP256G, 0) +
                "Order: " + Octets(std::string("00") + kP256N, 0) +
                "Cofactor:  1 (0x1)\nSeed:" + Octets(kP256Seed, 0),
            explicit_form.Text());
  MemOut params;
  ASSERT_EQ(1, ECParameters_print(params, key));
  EXPECT_EQ(0, params.Text().find("ECDSA-Parameters: (256 bit)\n    Field Type: prime-field\n"));
  EXPECT_ERRORS({});
  EC_KEY_free(key);
  EC_GROUP_free(group);
}

}  // namespace
