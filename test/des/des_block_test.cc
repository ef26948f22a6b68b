// The DES block function and key schedule: the round tables and the schedule
// layout against a bit-by-bit FIPS 46-3 reference, published known answers,
// parity and weak keys, random keys and the fixed texts.

#include <bit>
#include <cstring>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/rand.h>

#include "des_reference.h"
#include "des_test_util.h"
#include "test_support.h"

namespace {

using des_test::Bytes;
using des_test::FromHex;
using des_test::Lcg;
using des_test::Schedule;
using des_test::ToHex;

// The 6 bits of x in reverse order (x's bit 0 becomes the most significant).
int Reverse6(int x) {
  int r = 0;
  for (int i = 0; i < 6; i++) r |= (x >> i & 1) << (5 - i);
  return r;
}

TEST(DesTables, SPtransIsSBoxThenP) {
  for (int j = 0; j < 8; j++) {
    for (int x = 0; x < 64; x++) {
      const int s = des_ref::SBox(j, Reverse6(x));
      const uint64_t p =
          des_ref::Permute(static_cast<uint64_t>(s) << (28 - 4 * j), 32, des_ref::kP, 32);
      // Standard bit n at bit (n+2) mod 32.
      const DES_LONG want = std::rotl(des_ref::Reflect(static_cast<uint32_t>(p)), 3);
      EXPECT_EQ(DES_SPtrans[j][x], want) << "row " << j << " index " << x;
    }
  }
}

// The 6-bit group of subkey bits 6s+1..6s+6, the first of them lowest.
DES_LONG Group(uint64_t subkey, int s) {
  DES_LONG g = 0;
  for (int q = 0; q < 6; q++)
    g |= static_cast<DES_LONG>(des_ref::Bit(subkey, 48, 6 * s + q + 1)) << q;
  return g;
}

TEST(DesKeySchedule, RoundKeyLayout) {
  Lcg rng(1);
  for (int trial = 0; trial < 64; trial++) {
    const Bytes key = rng.Fill(8);
    uint64_t sub[16];
    des_ref::Subkeys(des_ref::Load64(key.data()), sub);
    const DES_key_schedule ks = Schedule(key);
    for (int i = 0; i < 16; i++) {
      DES_LONG w0 = 0, w1 = 0;
      for (int s = 0; s < 8; s += 2) w0 |= Group(sub[i], s) << (2 + 4 * s);
      for (int s = 1; s < 8; s += 2) w1 |= Group(sub[i], s) << (4 * (s - 1));
      EXPECT_EQ(ks.ks[i].deslong[0], w0) << ToHex(key) << " round " << i + 1;
      EXPECT_EQ(ks.ks[i].deslong[1], std::rotl(w1, 6)) << ToHex(key) << " round " << i + 1;
    }
  }
}

TEST(DesKeySchedule, ParityBitsAreIgnored) {
  const DES_key_schedule a = Schedule("0123456789abcdef");
  const DES_key_schedule b = Schedule("0022446688aaccee");
  EXPECT_EQ(std::memcmp(&a, &b, sizeof(a)), 0);
}

TEST(DesBlock, MatchesBitwiseReference) {
  Lcg rng(2);
  for (int trial = 0; trial < 200; trial++) {
    const Bytes key = rng.Fill(8), pt = rng.Fill(8);
    DES_key_schedule ks = Schedule(key);
    const uint64_t k = des_ref::Load64(key.data()), p = des_ref::Load64(pt.data());
    DES_cblock in, out;
    std::memcpy(in, pt.data(), 8);
    DES_ecb_encrypt(&in, &out, &ks, DES_ENCRYPT);
    const uint64_t c = des_ref::Des(k, p, true);
    EXPECT_EQ(des_ref::Load64(out), c) << ToHex(key) << " " << ToHex(pt);
    DES_ecb_encrypt(&out, &out, &ks, DES_DECRYPT);
    EXPECT_EQ(des_ref::Load64(out), p);

    // The word form and DES_encrypt1 directly.
    DES_LONG w[2];
    des_ref::ToWords(p, w);
    DES_encrypt1(w, &ks, 1);
    EXPECT_EQ(des_ref::FromWords(w), c);
  }
}

TEST(DesBlock, Encrypt2WorksInTheIpFrame) {
  Lcg rng(3);
  for (int trial = 0; trial < 50; trial++) {
    const Bytes key = rng.Fill(8), pt = rng.Fill(8);
    DES_key_schedule ks = Schedule(key);
    const uint64_t k = des_ref::Load64(key.data()), p = des_ref::Load64(pt.data());
    DES_LONG w[2], want[2];
    des_ref::IpFrame(p, w);
    DES_encrypt2(w, &ks, 1);
    des_ref::IpFrame(des_ref::Des(k, p, true), want);
    EXPECT_EQ(w[0], want[0]);
    EXPECT_EQ(w[1], want[1]);
    DES_encrypt2(w, &ks, 0);
    des_ref::IpFrame(p, want);
    EXPECT_EQ(w[0], want[0]);
    EXPECT_EQ(w[1], want[1]);
  }
}

TEST(DesBlock, TripleWithOneKeyIsSingleDes) {
  DES_key_schedule ks = Schedule("133457799bbcdff1");
  const uint64_t p = 0x0123456789abcdefULL;
  DES_LONG w[2];
  des_ref::ToWords(p, w);
  DES_encrypt3(w, &ks, &ks, &ks);
  // The worked example of J. O. Grabbe, "The DES Algorithm Illustrated".
  EXPECT_EQ(des_ref::FromWords(w), 0x85e813540f0ab405ULL);
  DES_decrypt3(w, &ks, &ks, &ks);
  EXPECT_EQ(des_ref::FromWords(w), p);
}

TEST(DesBlock, TripleDesMatchesThreeSingleSteps) {
  Lcg rng(4);
  for (int trial = 0; trial < 50; trial++) {
    const Bytes k1 = rng.Fill(8), k2 = rng.Fill(8), k3 = rng.Fill(8), pt = rng.Fill(8);
    DES_key_schedule s1 = Schedule(k1), s2 = Schedule(k2), s3 = Schedule(k3);
    const uint64_t p = des_ref::Load64(pt.data());
    const uint64_t c =
        des_ref::Des(des_ref::Load64(k3.data()),
                     des_ref::Des(des_ref::Load64(k2.data()),
                                  des_ref::Des(des_ref::Load64(k1.data()), p, true), false),
                     true);
    DES_cblock in, out;
    std::memcpy(in, pt.data(), 8);
    DES_ecb3_encrypt(&in, &out, &s1, &s2, &s3, DES_ENCRYPT);
    EXPECT_EQ(des_ref::Load64(out), c);
    DES_ecb3_encrypt(&out, &out, &s1, &s2, &s3, DES_DECRYPT);
    EXPECT_EQ(ToHex(des_test::FromBlock(out)), ToHex(pt));
    // Two-key form: the first key again as the third.
    DES_ecb2_encrypt(&in, &out, &s1, &s2, DES_ENCRYPT);
    DES_ecb3_encrypt(&in, &in, &s1, &s2, &s1, DES_ENCRYPT);
    EXPECT_EQ(std::memcmp(in, out, 8), 0);
  }
}

// FIPS 81, Appendix B: ECB with key 0123456789ABCDEF on "Now is the time for all ".
TEST(DesBlock, Fips81Ecb) {
  DES_key_schedule ks = Schedule("0123456789abcdef");
  const char* pairs[][2] = {{"4e6f772069732074", "3fa40e8a984d4815"},
                            {"68652074696d6520", "6a271787ab8883f9"},
                            {"666f7220616c6c20", "893d51ec4b563b53"}};
  for (const auto& pc : pairs) {
    DES_cblock b;
    des_test::ToBlock(FromHex(pc[0]), b);
    DES_ecb_encrypt(&b, &b, &ks, DES_ENCRYPT);
    EXPECT_EQ(ToHex(des_test::FromBlock(b)), pc[1]);
    DES_ecb_encrypt(&b, &b, &ks, DES_DECRYPT);
    EXPECT_EQ(ToHex(des_test::FromBlock(b)), pc[0]);
  }
}

// SP 800-20 tables (variable plaintext, inverse permutation, variable key,
// permutation operation, substitution table), as published in the CAVP
// triple-DES known-answer files with one key in all three positions; each runs
// through single DES and through the triple-DES block with that key thrice.
class Sp80020Tables : public ::testing::TestWithParam<const char*> {};

TEST_P(Sp80020Tables, EcbKnownAnswers) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("nist-cavp/des/KAT_TDES/") + GetParam());
  const auto records = morvane_test::ReadRsp(path);
  ASSERT_FALSE(records.empty());
  for (const auto& r : records) {
    DES_key_schedule ks = Schedule(r.Get("KEYs"));
    const bool encrypt = r.section.count("ENCRYPT") != 0;
    const Bytes in = FromHex(r.Get(encrypt ? "PLAINTEXT" : "CIPHERTEXT"));
    const std::string want = r.Get(encrypt ? "CIPHERTEXT" : "PLAINTEXT");
    DES_cblock b, b3;
    des_test::ToBlock(in, b);
    des_test::ToBlock(in, b3);
    DES_ecb_encrypt(&b, &b, &ks, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    DES_ecb3_encrypt(&b3, &b3, &ks, &ks, &ks, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    EXPECT_EQ(ToHex(des_test::FromBlock(b)), want) << GetParam() << " COUNT " << r.Get("COUNT");
    EXPECT_EQ(ToHex(des_test::FromBlock(b3)), want) << GetParam() << " COUNT " << r.Get("COUNT");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Sp80020Tables,
                         ::testing::Values("TECBvartext.rsp", "TECBinvperm.rsp", "TECBvarkey.rsp",
                                           "TECBpermop.rsp", "TECBsubtab.rsp"));

// SP 800-20, Table A.1 and A.2, first entries, typed from the publication so
// the block function is pinned even without the vector files.
TEST(DesBlock, Sp80020FirstEntries) {
  DES_key_schedule ks = Schedule("0101010101010101");
  DES_cblock b;
  des_test::ToBlock(FromHex("8000000000000000"), b);
  DES_ecb_encrypt(&b, &b, &ks, DES_ENCRYPT);
  EXPECT_EQ(ToHex(des_test::FromBlock(b)), "95f8a5e5dd31d900");
  DES_key_schedule ks2 = Schedule("8001010101010101");
  des_test::ToBlock(FromHex("0000000000000000"), b);
  DES_ecb_encrypt(&b, &b, &ks2, DES_ENCRYPT);
  EXPECT_EQ(ToHex(des_test::FromBlock(b)), "95a8d72813daa94d");
}

// ---- parity, weak keys, checked scheduling -------------------------------

TEST(DesKeys, OddParity) {
  DES_cblock k = {0x00, 0x01, 0xfe, 0xff, 0x10, 0x11, 0x7f, 0x80};
  DES_set_odd_parity(&k);
  const DES_cblock want = {0x01, 0x01, 0xfe, 0xfe, 0x10, 0x10, 0x7f, 0x80};
  EXPECT_EQ(std::memcmp(k, want, 8), 0);
  EXPECT_EQ(DES_check_key_parity(&k), 1);
  k[7] ^= 1;
  EXPECT_EQ(DES_check_key_parity(&k), 0);
  for (int b = 0; b < 256; b++) {
    DES_cblock one = {static_cast<unsigned char>(b), 1, 1, 1, 1, 1, 1, 1};
    DES_set_odd_parity(&one);
    EXPECT_EQ(one[0] & 0xfe, b & 0xfe);
    EXPECT_EQ(std::popcount(static_cast<unsigned>(one[0])) % 2, 1);
  }
}

// The weak and semi-weak keys of FIPS 74, 3.6 (odd parity).
const char* const kWeak[16] = {
    "0101010101010101", "fefefefefefefefe", "1f1f1f1f0e0e0e0e", "e0e0e0e0f1f1f1f1",
    "01fe01fe01fe01fe", "fe01fe01fe01fe01", "1fe01fe00ef10ef1", "e01fe01ff10ef10e",
    "01e001e001f101f1", "e001e001f101f101", "1ffe1ffe0efe0efe", "fe1ffe1ffe0efe0e",
    "011f011f010e010e", "1f011f010e010e01", "e0fee0fef1fef1fe", "fee0fee0fef1fef1"};

TEST(DesKeys, WeakKeys) {
  for (const char* hex : kWeak) {
    DES_cblock k;
    des_test::ToBlock(FromHex(hex), k);
    EXPECT_EQ(DES_is_weak_key(&k), 1) << hex;
    DES_key_schedule ks, untouched;
    std::memset(&ks, 0xa5, sizeof(ks));
    untouched = ks;
    EXPECT_EQ(DES_set_key_checked(&k, &ks), -2) << hex;
    EXPECT_EQ(std::memcmp(&ks, &untouched, sizeof(ks)), 0);
    // The first byte with even parity: the parity test comes first, and the
    // weak-key list no longer matches.
    k[0] = 0x00;
    EXPECT_EQ(DES_set_key_checked(&k, &ks), -1) << hex;
    EXPECT_EQ(DES_is_weak_key(&k), 0) << hex;
    EXPECT_EQ(std::memcmp(&ks, &untouched, sizeof(ks)), 0);
  }
  // A weak key is weak: encrypting twice is the identity (FIPS 74, 3.6).
  DES_key_schedule ks = Schedule(kWeak[1]);
  DES_cblock b = {1, 2, 3, 4, 5, 6, 7, 8};
  DES_ecb_encrypt(&b, &b, &ks, DES_ENCRYPT);
  DES_ecb_encrypt(&b, &b, &ks, DES_ENCRYPT);
  const DES_cblock orig = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(b, orig, 8), 0);
}

TEST(DesKeys, CheckedGoodKey) {
  DES_cblock k;
  des_test::ToBlock(FromHex("0123456789abcdef"), k);
  DES_key_schedule ks;
  EXPECT_EQ(DES_set_key_checked(&k, &ks), 0);
  const DES_key_schedule want = Schedule("0123456789abcdef");
  EXPECT_EQ(std::memcmp(&ks, &want, sizeof(ks)), 0);
}

TEST(DesKeys, CheckKeySwitch) {
  DES_cblock weak, bad_parity;
  des_test::ToBlock(FromHex(kWeak[0]), weak);
  des_test::ToBlock(FromHex("0023456789abcdef"), bad_parity);
  DES_key_schedule ks;
  ASSERT_EQ(DES_check_key, 0);
  EXPECT_EQ(DES_set_key(&weak, &ks), 0);
  EXPECT_EQ(DES_key_sched(&bad_parity, &ks), 0);
  const DES_key_schedule want = Schedule("0123456789abcdef");
  EXPECT_EQ(std::memcmp(&ks, &want, sizeof(ks)), 0);  // parity bits ignored
  DES_check_key = 1;
  EXPECT_EQ(DES_set_key(&weak, &ks), -2);
  EXPECT_EQ(DES_key_sched(&bad_parity, &ks), -1);
  DES_check_key = 0;
}

TEST(DesKeys, RandomKeysHaveParityAndAreNotWeak) {
  DES_cblock prev = {};
  for (int i = 0; i < 200; i++) {
    DES_cblock k;
    ASSERT_EQ(DES_random_key(&k), 1);
    EXPECT_EQ(DES_check_key_parity(&k), 1);
    EXPECT_EQ(DES_is_weak_key(&k), 0);
    EXPECT_NE(std::memcmp(k, prev, 8), 0);
    std::memcpy(prev, k, 8);
  }
}

// A generator that first yields a weak key with every parity bit wrong, then
// a good key.  The parity must be set before the weak-key test, or the first
// draw would be returned as it is: weak once its parity is fixed.
int draws = 0;
int WeakThenGood(unsigned char* buf, int num) {
  static const unsigned char kWeakEven[8] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  static const unsigned char kGood[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  std::memcpy(buf, draws++ == 0 ? kWeakEven : kGood, static_cast<size_t>(num));
  return 1;
}
int Failing(unsigned char*, int) {
  return 0;
}

TEST(DesKeys, RandomKeyNeverWeak) {
  const RAND_METHOD weak_first = {nullptr, WeakThenGood, nullptr, nullptr, WeakThenGood, nullptr};
  ASSERT_EQ(RAND_set_rand_method(&weak_first), 1);
  DES_cblock k;
  EXPECT_EQ(DES_random_key(&k), 1);
  EXPECT_EQ(draws, 2);
  EXPECT_EQ(ToHex(des_test::FromBlock(k)), "0123456789abcdef");

  const RAND_METHOD failing = {nullptr, Failing, nullptr, nullptr, Failing, nullptr};
  RAND_set_rand_method(&failing);
  EXPECT_EQ(DES_random_key(&k), 0);
  RAND_set_rand_method(nullptr);
}

TEST(DesText, OptionsAndVersions) {
  EXPECT_STREQ(DES_options(), "des(idx,cisc,4,long)");
  EXPECT_EQ(DES_options(), DES_options());
  EXPECT_STREQ(QARN_DES_version, "DES part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(QARN_brevik_version, "brevik part of Morvane 0.9.8o 01 Jun 2010");
}

}  // namespace
