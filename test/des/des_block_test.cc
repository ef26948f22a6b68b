// The DES block function and key schedule: published known answers (FIPS 81,
// SP 800-20, Grabbe's worked example with its intermediate values, which pin
// the word forms), parity and weak keys, checked scheduling, random keys.

#include <bit>
#include <cstring>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/rand.h>

#include "des/internal.h"
#include "des_test_util.h"

namespace {

using des_test::Bytes;
using des_test::Cblock;
using des_test::Fips81;
using des_test::FromHex;
using des_test::Schedule;
using des_test::ToHex;

TEST(DesBlock, PublishedBlocks) {
  const struct {
    const char *key, *plain, *cipher;
  } kCases[] = {
      // FIPS 81, Appendix B: ECB on "Now is the time for all ".
      {Fips81::kKey, "4e6f772069732074", "3fa40e8a984d4815"},
      {Fips81::kKey, "68652074696d6520", "6a271787ab8883f9"},
      {Fips81::kKey, "666f7220616c6c20", "893d51ec4b563b53"},
      // SP 800-20, Tables A.1 and A.2, first entries (the full tables run from
      // the vector files in the CAVP runner).
      {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
      {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
  };
  for (const auto& c : kCases) {
    DES_key_schedule ks = Schedule(c.key);
    Cblock b(c.plain);
    DES_ecb_encrypt(&b.b, &b.b, &ks, DES_ENCRYPT);
    EXPECT_EQ(b.Hex(), c.cipher) << c.plain;
    DES_ecb_encrypt(&b.b, &b.b, &ks, DES_DECRYPT);
    EXPECT_EQ(b.Hex(), c.plain);
  }
}

// J. O. Grabbe, "The DES Algorithm Illustrated": key 133457799BBCDFF1 takes
// 0123456789ABCDEF to 85E813540F0AB405; IP of the text is L0 = CC00CCFF,
// R0 = F0AAF0AA, and the last round leaves R16 L16 = 0A4CD995 43423234.
TEST(DesBlock, WordFormsOfGrabbesExample) {
  DES_key_schedule ks = Schedule("133457799bbcdff1");
  // DES_encrypt1 and 3: bytes 0-3 and 4-7 as little-endian words.
  DES_LONG w[2] = {0x67452301u, 0xefcdab89u};
  DES_encrypt1(w, &ks, DES_ENCRYPT);
  EXPECT_EQ(w[0], 0x5413e885u);
  EXPECT_EQ(w[1], 0x05b40a0fu);
  DES_encrypt1(w, &ks, DES_DECRYPT);
  EXPECT_EQ(w[0], 0x67452301u);
  DES_encrypt3(w, &ks, &ks, &ks);  // one key thrice is single DES
  EXPECT_EQ(w[0], 0x5413e885u);
  EXPECT_EQ(w[1], 0x05b40a0fu);
  DES_decrypt3(w, &ks, &ks, &ks);
  EXPECT_EQ(w[1], 0xefcdab89u);
  // DES_encrypt2 works between IP and FP: word 0 holds R, word 1 holds L,
  // each with bit 1 of the standard at bit 0; the output halves are swapped.
  const auto rev = [](uint32_t v) {
    uint32_t r = 0;
    for (int i = 0; i < 32; i++) r |= (v >> i & 1) << (31 - i);
    return r;
  };
  DES_LONG f[2] = {rev(0xf0aaf0aau), rev(0xcc00ccffu)};
  DES_encrypt2(f, &ks, DES_ENCRYPT);
  EXPECT_EQ(f[0], rev(0x43423234u));
  EXPECT_EQ(f[1], rev(0x0a4cd995u));
  DES_encrypt2(f, &ks, DES_DECRYPT);
  EXPECT_EQ(f[0], rev(0xf0aaf0aau));
  EXPECT_EQ(f[1], rev(0xcc00ccffu));
}

TEST(DesBlock, TwoKeyFormUsesTheFirstKeyThird) {
  DES_key_schedule k1 = Schedule("0123456789abcdef"), k2 = Schedule("fedcba9876543210");
  for (int enc : {DES_ENCRYPT, DES_DECRYPT}) {
    Cblock in("0011223344556677"), a, b;
    DES_ecb2_encrypt(&in.b, &a.b, &k1, &k2, enc);
    DES_ecb3_encrypt(&in.b, &b.b, &k1, &k2, &k1, enc);
    EXPECT_EQ(a.Hex(), b.Hex());
    EXPECT_NE(a.Hex(), in.Hex());
  }
}

// ---- parity, weak keys, checked scheduling -------------------------------

// The rounds the block functions run (in assembly on x86-64) against their
// portable form, both ways, on random keys and halves.
TEST(DesBlock, RoundsMatchThePortableForm) {
  des_test::Lcg rng(0x5eed);
  for (int i = 0; i < 4000; i++) {
    DES_key_schedule ks;
    DES_cblock key;
    memcpy(key, rng.Fill(8).data(), 8);
    DES_set_key_unchecked(&key, &ks);
    const uint32_t a = static_cast<uint32_t>(rng.Next()), b = static_cast<uint32_t>(rng.Next());
    uint32_t a1 = a, b1 = b, a2 = a, b2 = b;
    if (i % 2 == 0) {
      morvane::des::rounds<true>(a1, b1, &ks);
      morvane::des::rounds_c<true>(a2, b2, &ks);
    } else {
      morvane::des::rounds<false>(a1, b1, &ks);
      morvane::des::rounds_c<false>(a2, b2, &ks);
    }
    ASSERT_EQ(a1, a2) << i;
    ASSERT_EQ(b1, b2) << i;
  }
}

TEST(DesKeys, OddParity) {
  DES_cblock k = {0x00, 0x01, 0xfe, 0xff, 0x10, 0x11, 0x7f, 0x80};
  DES_set_odd_parity(&k);
  EXPECT_EQ(ToHex(k, 8), "0101fefe10107f80");
  EXPECT_EQ(DES_check_key_parity(&k), 1);
  k[7] ^= 1;
  EXPECT_EQ(DES_check_key_parity(&k), 0);
  for (int b = 0; b < 256; b++) {
    DES_cblock one = {static_cast<unsigned char>(b), 1, 1, 1, 1, 1, 1, 1};
    DES_set_odd_parity(&one);
    EXPECT_EQ(one[0] & 0xfe, b & 0xfe);
    EXPECT_EQ(std::popcount(static_cast<unsigned>(one[0])) % 2, 1);
  }
  // The schedule ignores the parity bits.
  const DES_key_schedule a = Schedule("0123456789abcdef"), c = Schedule("0022446688aaccee");
  EXPECT_EQ(std::memcmp(&a, &c, sizeof(a)), 0);
}

// The weak and semi-weak keys of FIPS 74, 3.6 (odd parity).
const char* const kWeak[16] = {
    "0101010101010101", "fefefefefefefefe", "1f1f1f1f0e0e0e0e", "e0e0e0e0f1f1f1f1",
    "01fe01fe01fe01fe", "fe01fe01fe01fe01", "1fe01fe00ef10ef1", "e01fe01ff10ef10e",
    "01e001e001f101f1", "e001e001f101f101", "1ffe1ffe0efe0efe", "fe1ffe1ffe0efe0e",
    "011f011f010e010e", "1f011f010e010e01", "e0fee0fef1fef1fe", "fee0fee0fef1fef1"};

TEST(DesKeys, WeakKeys) {
  for (const char* hex : kWeak) {
    Cblock k(hex);
    EXPECT_EQ(DES_is_weak_key(&k.b), 1) << hex;
    DES_key_schedule ks, untouched;
    std::memset(&ks, 0xa5, sizeof(ks));
    untouched = ks;
    EXPECT_EQ(DES_set_key_checked(&k.b, &ks), -2) << hex;
    EXPECT_EQ(std::memcmp(&ks, &untouched, sizeof(ks)), 0);
    // The first byte with even parity: the parity test comes first, and the
    // weak-key list no longer matches.
    k.b[0] = 0x00;
    EXPECT_EQ(DES_set_key_checked(&k.b, &ks), -1) << hex;
    EXPECT_EQ(DES_is_weak_key(&k.b), 0) << hex;
    EXPECT_EQ(std::memcmp(&ks, &untouched, sizeof(ks)), 0);
  }
  // A weak key is weak: encrypting twice is the identity (FIPS 74, 3.6).
  DES_key_schedule ks = Schedule(kWeak[1]);
  Cblock b("0102030405060708");
  DES_ecb_encrypt(&b.b, &b.b, &ks, DES_ENCRYPT);
  DES_ecb_encrypt(&b.b, &b.b, &ks, DES_ENCRYPT);
  EXPECT_EQ(b.Hex(), "0102030405060708");
}

TEST(DesKeys, CheckedSchedulingAndTheCheckKeySwitch) {
  Cblock good(Fips81::kKey), weak(kWeak[0]), bad_parity("0023456789abcdef");
  const DES_key_schedule want = Schedule(Fips81::kKey);
  DES_key_schedule ks;
  EXPECT_EQ(DES_set_key_checked(&good.b, &ks), 0);
  EXPECT_EQ(std::memcmp(&ks, &want, sizeof(ks)), 0);
  ASSERT_EQ(DES_check_key, 0);
  EXPECT_EQ(DES_set_key(&weak.b, &ks), 0);
  EXPECT_EQ(DES_key_sched(&bad_parity.b, &ks), 0);
  EXPECT_EQ(std::memcmp(&ks, &want, sizeof(ks)), 0);  // parity bits ignored
  DES_check_key = 1;
  EXPECT_EQ(DES_set_key(&weak.b, &ks), -2);
  EXPECT_EQ(DES_key_sched(&bad_parity.b, &ks), -1);
  DES_check_key = 0;
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
  Cblock k;
  EXPECT_EQ(DES_random_key(&k.b), 1);
  EXPECT_EQ(draws, 2);
  EXPECT_EQ(k.Hex(), "0123456789abcdef");
  const RAND_METHOD failing = {nullptr, Failing, nullptr, nullptr, Failing, nullptr};
  RAND_set_rand_method(&failing);
  EXPECT_EQ(DES_random_key(&k.b), 0);
  RAND_set_rand_method(nullptr);
}

}  // namespace
