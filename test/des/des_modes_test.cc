// Single- and triple-DES modes: ECB, CBC, 64-bit CFB and OFB through the
// shared 64-bit mode suite; the modes of DES alone (CBC without IV update,
// CFB and OFB of every width, PCBC, DESX) against the FIPS 81 examples and
// against references built from single ECB blocks.

#include <cstring>

#include <gtest/gtest.h>

#include <morvane/des.h>

#include "../ciphers/modes64_suite.h"
#include "des_test_util.h"

namespace {

using des_test::Block;
using des_test::Bytes;
using des_test::Cblock;
using des_test::Ecb;
using des_test::Fips81;
using des_test::FromHex;
using des_test::Lcg;
using des_test::Schedule;
using des_test::ToHex;
using des_test::Xor;

DES_cblock* B(const uint8_t* p) {
  return reinterpret_cast<DES_cblock*>(const_cast<uint8_t*>(p));
}

// Single DES in the shared suite, with the FIPS 81 example as known answers.
struct Des : Fips81 {
  static constexpr const char* kName = "Des";
  static constexpr size_t kKeyBytes = 8;
  static constexpr bool kCheckOffsets = false;
  static constexpr const char* kMessage = kText;
  explicit Des(const Bytes& key) : ks(Schedule(key)) {}
  void Ecb(const uint8_t* in, uint8_t* out, int enc) const { DES_ecb_encrypt(B(in), B(out), K(), enc); }
  void Cbc(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int enc) const {
    DES_ncbc_encrypt(in, out, n, K(), B(iv), enc);
  }
  void Cfb(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int* num, int enc) const {
    DES_cfb64_encrypt(in, out, n, K(), B(iv), num, enc);
  }
  void Ofb(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int* num) const {
    DES_ofb64_encrypt(in, out, n, K(), B(iv), num);
  }
  DES_key_schedule* K() const { return const_cast<DES_key_schedule*>(&ks); }
  DES_key_schedule ks;
};

// Triple DES; with the FIPS 81 key in all three places it is single DES.
struct Tdes : Fips81 {
  static constexpr const char* kName = "Tdes";
  static constexpr size_t kKeyBytes = 24;
  static constexpr bool kCheckOffsets = false;
  static constexpr const char* kKey = "0123456789abcdef0123456789abcdef0123456789abcdef";
  static constexpr const char* kMessage = kText;
  explicit Tdes(const Bytes& key) {
    for (int i = 0; i < 3; i++) ks[i] = Schedule(Bytes(key.begin() + 8 * i, key.begin() + 8 * i + 8));
  }
  void Ecb(const uint8_t* in, uint8_t* out, int enc) const {
    DES_ecb3_encrypt(B(in), B(out), K(0), K(1), K(2), enc);
  }
  void Cbc(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int enc) const {
    DES_ede3_cbc_encrypt(in, out, n, K(0), K(1), K(2), B(iv), enc);
  }
  void Cfb(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int* num, int enc) const {
    DES_ede3_cfb64_encrypt(in, out, n, K(0), K(1), K(2), B(iv), num, enc);
  }
  void Ofb(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int* num) const {
    DES_ede3_ofb64_encrypt(in, out, n, K(0), K(1), K(2), B(iv), num);
  }
  DES_key_schedule* K(int i) const { return const_cast<DES_key_schedule*>(&ks[i]); }
  DES_key_schedule ks[3];
};

}  // namespace

namespace modes64_test {
using DesCiphers = ::testing::Types<Des, Tdes>;
INSTANTIATE_TYPED_TEST_SUITE_P(Des, Modes64, DesCiphers, ::TypeNames);
}  // namespace modes64_test

namespace {

// DES_cbc_encrypt gives DES_ncbc_encrypt's bytes and leaves the IV alone.
TEST(DesModes, CbcWithoutIvUpdate) {
  DES_key_schedule ks = Schedule(Fips81::kKey);
  const Bytes pt = FromHex(Fips81::kText);
  Bytes ct(24), back(24);
  Cblock iv(Fips81::kIv);
  DES_cbc_encrypt(pt.data(), ct.data(), 24, &ks, &iv.b, DES_ENCRYPT);
  EXPECT_EQ(ToHex(ct), Fips81::kCbc);
  DES_cbc_encrypt(ct.data(), back.data(), 24, &ks, &iv.b, DES_DECRYPT);
  EXPECT_EQ(back, pt);
  EXPECT_EQ(iv.Hex(), Fips81::kIv);
}

// k-bit CFB (FIPS 81, 6) on a 64-bit register: the unit is w = (k+7)/8 bytes,
// all of whose bits meet the keystream; the register takes in the first k bits
// of the ciphertext unit.
Bytes CfbReference(DES_key_schedule& ks, int k, const Bytes& in, const Bytes& iv) {
  const size_t w = (static_cast<size_t>(k) + 7) / 8;
  uint64_t reg = 0;
  for (int i = 0; i < 8; i++) reg = reg << 8 | iv[i];
  Bytes out;
  for (size_t off = 0; off + w <= in.size(); off += w) {
    Bytes r(8);
    for (int i = 0; i < 8; i++) r[i] = static_cast<uint8_t>(reg >> (56 - 8 * i));
    const Bytes o = Ecb(ks, r, DES_ENCRYPT);
    uint64_t unit = 0;
    for (size_t i = 0; i < w; i++) {
      out.push_back(in[off + i] ^ o[i]);
      unit = unit << 8 | out.back();
    }
    const uint64_t fb = unit >> (8 * w - static_cast<size_t>(k));
    reg = k == 64 ? fb : (reg << k) | fb;
  }
  return out;
}

TEST(DesModes, CfbEveryWidth) {
  DES_key_schedule ks = Schedule(Fips81::kKey);
  const Bytes text = FromHex(Fips81::kText);
  Bytes out(24);
  Cblock iv(Fips81::kIv);
  DES_cfb_encrypt(text.data(), out.data(), 64, 24, &ks, &iv.b, DES_ENCRYPT);
  EXPECT_EQ(ToHex(out), Fips81::kCfb);
  EXPECT_EQ(iv.Hex(), "03467133898ea622");  // the last ciphertext block
  // 8-bit CFB of the FIPS 81 text; the value agrees with libgcrypt's CFB8.
  Cblock iv8(Fips81::kIv);
  DES_cfb_encrypt(text.data(), out.data(), 8, 24, &ks, &iv8.b, DES_ENCRYPT);
  EXPECT_EQ(ToHex(out), "f31fda07011462ee187f43d80a7cd9b5b0d290da6e5b9a87");
  Lcg rng(11);
  const Bytes ivb = rng.Fill(8);
  for (int k = 1; k <= 64; k++) {
    const size_t w = (static_cast<size_t>(k) + 7) / 8, full = 5 * w;
    const Bytes pt = rng.Fill(full + w - 1);  // and a remainder short of a unit
    const long n = static_cast<long>(pt.size());
    const std::string want = ToHex(CfbReference(ks, k, pt, ivb)) + std::string(2 * w - 2, 'e');
    Bytes ct(pt.size(), 0xee), ct3(pt.size(), 0xee);
    Cblock a(ivb), b(ivb), c(ivb);
    DES_cfb_encrypt(pt.data(), ct.data(), k, n, &ks, &a.b, DES_ENCRYPT);
    EXPECT_EQ(ToHex(ct), want) << "numbits " << k;
    // With one key thrice, triple DES gives the same; in place, and back.
    DES_ede3_cfb_encrypt(pt.data(), ct3.data(), k, n, &ks, &ks, &ks, &c.b, DES_ENCRYPT);
    EXPECT_EQ(ToHex(ct3), want) << "numbits " << k;
    DES_cfb_encrypt(ct.data(), ct.data(), k, n, &ks, &b.b, DES_DECRYPT);
    EXPECT_EQ(ToHex(ct), ToHex(Bytes(pt.begin(), pt.begin() + static_cast<long>(full))) +
                             std::string(2 * w - 2, 'e'));
    EXPECT_EQ(b.Hex(), a.Hex()) << k;
    EXPECT_EQ(c.Hex(), a.Hex()) << k;
  }
}

// OFB of every width against a model of the register as one little-endian
// 64-bit number: the unit is its k low-order bits, and the register drops its
// k lowest bits and takes the keystream's k lowest bits in at the top.  For k
// a multiple of 8 that is FIPS 81's byte-wise OFB.
TEST(DesModes, OfbEveryWidth) {
  DES_key_schedule ks = Schedule(Fips81::kKey);
  const Bytes text = FromHex(Fips81::kText);
  Bytes out(24);
  Cblock iv(Fips81::kIv);
  DES_ofb_encrypt(text.data(), out.data(), 64, 3, &ks, &iv.b);
  EXPECT_EQ(ToHex(out), Fips81::kOfb);
  auto le = [](const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; i++) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
  };
  Lcg rng(13);
  for (int k = 1; k <= 64; k++) {
    const size_t w = (static_cast<size_t>(k) + 7) / 8;
    const uint64_t mask = k == 64 ? ~uint64_t{0} : (uint64_t{1} << k) - 1;
    const Bytes msg = rng.Fill(w * 6);
    uint64_t reg = le(FromHex(Fips81::kIv).data(), 8);
    Bytes want;
    for (size_t u = 0; u < 6; u++) {
      Bytes r(8);
      for (int i = 0; i < 8; i++) r[i] = static_cast<uint8_t>(reg >> (8 * i));
      const uint64_t e = le(Ecb(ks, r, DES_ENCRYPT).data(), 8);
      const uint64_t c = (le(msg.data() + u * w, w) ^ e) & mask;
      for (size_t i = 0; i < w; i++) want.push_back(static_cast<uint8_t>(c >> (8 * i)));
      reg = k == 64 ? e : (reg >> k) | (e & mask) << (64 - k);
    }
    Bytes ct(msg.size());
    Cblock a(Fips81::kIv);
    DES_ofb_encrypt(msg.data(), ct.data(), k, 6, &ks, &a.b);
    EXPECT_EQ(ToHex(ct), ToHex(want)) << "numbits " << k;
    EXPECT_EQ(le(a.b, 8), reg) << "numbits " << k;
  }
}

// Widths outside 1..64 touch neither output nor IV, in every CFB/OFB form;
// CFB leaves a remainder shorter than a unit alone.
TEST(DesModes, BadWidthsTouchNothing) {
  DES_key_schedule ks = Schedule(Fips81::kKey);
  const Bytes pt = FromHex("00112233445566778899");
  for (int bad : {0, -1, -3, 65, 1000}) {
    Bytes o(10, 0xee);
    Cblock iv(Fips81::kIv);
    DES_cfb_encrypt(pt.data(), o.data(), bad, 10, &ks, &iv.b, DES_ENCRYPT);
    DES_ofb_encrypt(pt.data(), o.data(), bad, 10, &ks, &iv.b);
    DES_ede3_cfb_encrypt(pt.data(), o.data(), bad, 10, &ks, &ks, &ks, &iv.b, DES_ENCRYPT);
    EXPECT_EQ(o, Bytes(10, 0xee)) << bad;
    EXPECT_EQ(iv.Hex(), Fips81::kIv) << bad;
  }
}

// PCBC: c = E(p ^ x) with x the previous p ^ c (the IV first); DESX:
// c = E(p ^ chain ^ inw) ^ outw.  Both zero-pad a short last block, write
// only the message's length when decrypting and work in place.
TEST(DesModes, PcbcAndDesxMatchReferences) {
  DES_key_schedule ks = Schedule("3b3898371520f75e");
  Lcg rng(10);
  const Bytes inw = rng.Fill(8), outw = rng.Fill(8);
  Cblock in_w(inw), out_w(outw), zero;
  for (size_t len : {1u, 8u, 13u, 16u, 40u}) {
    const Bytes pt = rng.Fill(len), ivb = rng.Fill(8);
    const size_t padded = (len + 7) / 8 * 8;
    Bytes pcbc, desx, x = ivb, chain = ivb;
    for (size_t off = 0; off < len; off += 8) {
      const Bytes p = Block(pt, off, len - off);
      const Bytes c = Ecb(ks, Xor(p, x), DES_ENCRYPT);
      pcbc.insert(pcbc.end(), c.begin(), c.end());
      x = Xor(p, c);
      chain = Xor(Ecb(ks, Xor(Xor(p, chain), inw), DES_ENCRYPT), outw);
      desx.insert(desx.end(), chain.begin(), chain.end());
    }
    for (int mode : {0, 1}) {
      Bytes ct(padded), back(padded, 0xee);
      Cblock iv(ivb), iv2(ivb);
      if (mode == 0) {
        DES_pcbc_encrypt(pt.data(), ct.data(), static_cast<long>(len), &ks, &iv.b, DES_ENCRYPT);
        back = ct;
        DES_pcbc_encrypt(back.data(), back.data(), static_cast<long>(len), &ks, &iv2.b, DES_DECRYPT);
        EXPECT_EQ(iv.Hex(), ToHex(ivb));  // never written
      } else {
        DES_xcbc_encrypt(pt.data(), ct.data(), static_cast<long>(len), &ks, &iv.b, &in_w.b,
                         &out_w.b, DES_ENCRYPT);
        back = ct;
        DES_xcbc_encrypt(back.data(), back.data(), static_cast<long>(len), &ks, &iv2.b, &in_w.b,
                         &out_w.b, DES_DECRYPT);
        EXPECT_EQ(iv.Hex(), ToHex(chain));
        EXPECT_EQ(iv2.Hex(), ToHex(chain));
      }
      EXPECT_EQ(ToHex(ct), ToHex(mode == 0 ? pcbc : desx)) << len;
      EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(len)), pt) << len;
      EXPECT_EQ(Bytes(back.begin() + static_cast<long>(len), back.end()),
                Bytes(ct.begin() + static_cast<long>(len), ct.end()));
    }
    // All-zero whitening is plain CBC.
    Bytes a(padded), b(padded);
    Cblock iv(ivb), iv2(ivb);
    DES_xcbc_encrypt(pt.data(), a.data(), static_cast<long>(len), &ks, &iv.b, &zero.b, &zero.b, 1);
    DES_ncbc_encrypt(pt.data(), b.data(), static_cast<long>(len), &ks, &iv2.b, 1);
    EXPECT_EQ(a, b);
  }
}

}  // namespace
