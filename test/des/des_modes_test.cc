// Single-DES modes: the FIPS 81 examples, each mode against a reference built
// from single ECB blocks, the short-block and IV rules, splitting and in-place
// operation, and widths outside 1..64.

#include <cstring>

#include <gtest/gtest.h>

#include <morvane/des.h>

#include "des_test_util.h"
#include "test_support.h"

namespace {

using des_test::Block;
using des_test::Bytes;
using des_test::Ecb;
using des_test::FromHex;
using des_test::Lcg;
using des_test::Schedule;
using des_test::ToHex;
using des_test::Xor;

// FIPS 81, Appendices B-E: key, IV and the text "Now is the time for all ".
const char kKey[] = "0123456789abcdef";
const char kIv[] = "1234567890abcdef";
const char kPlain[] = "4e6f77206973207468652074696d6520666f7220616c6c20";

struct Iv {
  DES_cblock b;
  explicit Iv(const std::string& hex) { des_test::ToBlock(FromHex(hex), b); }
  std::string Hex() const { return ToHex(des_test::FromBlock(b)); }
};

TEST(DesModes, Fips81Cbc) {
  DES_key_schedule ks = Schedule(kKey);
  const Bytes pt = FromHex(kPlain);
  Bytes ct(pt.size());
  Iv iv(kIv);
  DES_ncbc_encrypt(pt.data(), ct.data(), 24, &ks, &iv.b, DES_ENCRYPT);
  EXPECT_EQ(ToHex(ct), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
  EXPECT_EQ(iv.Hex(), "683788499a7c05f6");
  Iv iv2(kIv);
  Bytes back(pt.size());
  DES_ncbc_encrypt(ct.data(), back.data(), 24, &ks, &iv2.b, DES_DECRYPT);
  EXPECT_EQ(back, pt);
  EXPECT_EQ(iv2.Hex(), "683788499a7c05f6");

  // The same bytes from DES_cbc_encrypt, which leaves the IV alone.
  Iv iv3(kIv);
  Bytes ct2(pt.size());
  DES_cbc_encrypt(pt.data(), ct2.data(), 24, &ks, &iv3.b, DES_ENCRYPT);
  EXPECT_EQ(ct2, ct);
  EXPECT_EQ(iv3.Hex(), kIv);
  DES_cbc_encrypt(ct.data(), ct2.data(), 24, &ks, &iv3.b, DES_DECRYPT);
  EXPECT_EQ(ct2, pt);
  EXPECT_EQ(iv3.Hex(), kIv);
}

TEST(DesModes, Fips81Cfb64AndOfb64) {
  DES_key_schedule ks = Schedule(kKey);
  const Bytes pt = FromHex(kPlain);
  Bytes out(pt.size());
  Iv iv(kIv);
  int num = 0;
  DES_cfb64_encrypt(pt.data(), out.data(), 24, &ks, &iv.b, &num, DES_ENCRYPT);
  EXPECT_EQ(ToHex(out), "f3096249c7f46e51a69e839b1a92f78403467133898ea622");
  EXPECT_EQ(num, 0);
  Iv iv2(kIv);
  DES_cfb_encrypt(pt.data(), out.data(), 64, 24, &ks, &iv2.b, DES_ENCRYPT);
  EXPECT_EQ(ToHex(out), "f3096249c7f46e51a69e839b1a92f78403467133898ea622");
  EXPECT_EQ(iv2.Hex(), iv.Hex());  // both end on the last ciphertext block
  EXPECT_EQ(iv2.Hex(), "03467133898ea622");

  Iv iv3(kIv);
  num = 0;
  DES_ofb64_encrypt(pt.data(), out.data(), 24, &ks, &iv3.b, &num);
  EXPECT_EQ(ToHex(out), "f3096249c7f46e5135f24a242eeb3d3f3d6d5be3255af8c3");
  Iv iv4(kIv);
  DES_ofb_encrypt(pt.data(), out.data(), 64, 3, &ks, &iv4.b);
  EXPECT_EQ(ToHex(out), "f3096249c7f46e5135f24a242eeb3d3f3d6d5be3255af8c3");
  EXPECT_EQ(iv4.Hex(), iv3.Hex());

  // Decryption.
  Iv iv5(kIv);
  num = 0;
  Bytes back(pt.size());
  DES_cfb64_encrypt(FromHex("f3096249c7f46e51a69e839b1a92f78403467133898ea622").data(), back.data(),
                    24, &ks, &iv5.b, &num, DES_DECRYPT);
  EXPECT_EQ(back, pt);
}

// 8-bit CFB of the FIPS 81 text; the value agrees with libgcrypt's CFB8.
TEST(DesModes, Cfb8) {
  DES_key_schedule ks = Schedule(kKey);
  const Bytes pt = FromHex(kPlain);
  Bytes out(pt.size());
  Iv iv(kIv);
  DES_cfb_encrypt(pt.data(), out.data(), 8, 24, &ks, &iv.b, DES_ENCRYPT);
  EXPECT_EQ(ToHex(out), "f31fda07011462ee187f43d80a7cd9b5b0d290da6e5b9a87");
  EXPECT_EQ(iv.Hex(), ToHex(Bytes(out.end() - 8, out.end())));
  Iv iv2(kIv);
  Bytes back(pt.size());
  DES_cfb_encrypt(out.data(), back.data(), 8, 24, &ks, &iv2.b, DES_DECRYPT);
  EXPECT_EQ(back, pt);
}

TEST(DesModes, CbcShortLastBlock) {
  DES_key_schedule ks = Schedule(kKey);
  const Bytes pt = FromHex("0102030405060708090000000000000000");  // 9 bytes used
  Bytes ct(16, 0xee);
  Iv iv(kIv);
  DES_ncbc_encrypt(pt.data(), ct.data(), 9, &ks, &iv.b, DES_ENCRYPT);
  // The second block is the zero-padded ninth byte, chained.
  const Bytes c0 = Ecb(ks, Xor(Block(pt, 0, 8), FromHex(kIv)), DES_ENCRYPT);
  const Bytes c1 = Ecb(ks, Xor(Block(pt, 8, 1), c0), DES_ENCRYPT);
  EXPECT_EQ(ToHex(ct), ToHex(c0) + ToHex(c1));
  EXPECT_EQ(iv.Hex(), ToHex(c1));

  Bytes back(16, 0xee);
  Iv iv2(kIv);
  DES_ncbc_encrypt(ct.data(), back.data(), 9, &ks, &iv2.b, DES_DECRYPT);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 9), Bytes(pt.begin(), pt.begin() + 9));
  EXPECT_EQ(back[9], 0xee);  // only 9 bytes written
  EXPECT_EQ(iv2.Hex(), ToHex(c1));

  // A length of 0 writes nothing and keeps the IV; so does a negative one.
  Iv iv3(kIv);
  Bytes none(8, 0x11);
  DES_ncbc_encrypt(pt.data(), none.data(), 0, &ks, &iv3.b, DES_ENCRYPT);
  DES_ncbc_encrypt(pt.data(), none.data(), -8, &ks, &iv3.b, DES_ENCRYPT);
  EXPECT_EQ(none, Bytes(8, 0x11));
  EXPECT_EQ(iv3.Hex(), kIv);
}

TEST(DesModes, PcbcMatchesReference) {
  DES_key_schedule ks = Schedule("3b3898371520f75e");
  Lcg rng(10);
  for (size_t len : {1u, 8u, 13u, 16u, 40u}) {
    const Bytes pt = rng.Fill(len), ivb = rng.Fill(8);
    const size_t padded = (len + 7) / 8 * 8;
    Bytes want;
    Bytes x = ivb;
    for (size_t off = 0; off < len; off += 8) {
      const Bytes p = Block(pt, off, len - off < 8 ? len - off : 8);
      const Bytes c = Ecb(ks, Xor(p, x), DES_ENCRYPT);
      want.insert(want.end(), c.begin(), c.end());
      x = Xor(p, c);
    }
    Bytes ct(padded);
    Iv iv(ToHex(ivb));
    DES_pcbc_encrypt(pt.data(), ct.data(), static_cast<long>(len), &ks, &iv.b, DES_ENCRYPT);
    EXPECT_EQ(ToHex(ct), ToHex(want));
    EXPECT_EQ(iv.Hex(), ToHex(ivb));  // never written
    Bytes back(padded, 0);
    DES_pcbc_encrypt(ct.data(), back.data(), static_cast<long>(len), &ks, &iv.b, DES_DECRYPT);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + len), pt);
    EXPECT_EQ(iv.Hex(), ToHex(ivb));
  }
}

TEST(DesModes, PcbcErrorPropagates) {
  DES_key_schedule ks = Schedule(kKey);
  const Bytes pt = FromHex(kPlain);
  Bytes ct(24), back(24);
  Iv iv(kIv);
  DES_pcbc_encrypt(pt.data(), ct.data(), 24, &ks, &iv.b, DES_ENCRYPT);
  ct[9] ^= 0x04;  // one bit of block 1
  DES_pcbc_encrypt(ct.data(), back.data(), 24, &ks, &iv.b, DES_DECRYPT);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 8), Bytes(pt.begin(), pt.begin() + 8));
  EXPECT_NE(Bytes(back.begin() + 8, back.begin() + 16), Bytes(pt.begin() + 8, pt.begin() + 16));
  EXPECT_NE(Bytes(back.begin() + 16, back.end()), Bytes(pt.begin() + 16, pt.end()));
}

// k-bit CFB (FIPS 81, 6) on a 64-bit register: the unit is w = (k+7)/8 bytes,
// all of whose bits meet the keystream; the register takes in the first k bits
// of the ciphertext unit.
Bytes CfbReference(DES_key_schedule& ks, int k, const Bytes& in, const Bytes& iv, bool enc) {
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
      const uint8_t c = in[off + i] ^ o[i];
      out.push_back(c);
      unit = unit << 8 | (enc ? c : in[off + i]);
    }
    const uint64_t fb = unit >> (8 * w - static_cast<size_t>(k));
    reg = k == 64 ? fb : (reg << k) | fb;
  }
  return out;
}

TEST(DesModes, CfbEveryWidth) {
  DES_key_schedule ks = Schedule("fedcba9876543210");
  Lcg rng(11);
  const Bytes ivb = rng.Fill(8);
  for (int k = 1; k <= 64; k++) {
    const size_t w = (static_cast<size_t>(k) + 7) / 8;
    const Bytes pt = rng.Fill(w * 5);
    const Bytes want = CfbReference(ks, k, pt, ivb, true);
    Bytes ct(pt.size());
    Iv iv(ToHex(ivb));
    DES_cfb_encrypt(pt.data(), ct.data(), k, static_cast<long>(pt.size()), &ks, &iv.b, DES_ENCRYPT);
    EXPECT_EQ(ToHex(ct), ToHex(want)) << "numbits " << k;
    // In place, and back.
    Bytes buf = ct;
    Iv iv2(ToHex(ivb));
    DES_cfb_encrypt(buf.data(), buf.data(), k, static_cast<long>(buf.size()), &ks, &iv2.b,
                    DES_DECRYPT);
    EXPECT_EQ(buf, pt) << "numbits " << k;
    EXPECT_EQ(iv2.Hex(), iv.Hex()) << "numbits " << k;
  }
}

TEST(DesModes, CfbPartialUnitsAndBadWidths) {
  DES_key_schedule ks = Schedule(kKey);
  const Bytes pt = FromHex("00112233445566778899");
  Bytes out(10, 0xee);
  Iv iv(kIv);
  DES_cfb_encrypt(pt.data(), out.data(), 12, 5, &ks, &iv.b, DES_ENCRYPT);
  EXPECT_NE(out[3], 0xee);
  EXPECT_EQ(out[4], 0xee);  // a fifth byte is less than a unit of two
  for (int bad : {0, -1, 65, 1000}) {
    Bytes o(10, 0xee);
    Iv iv2(kIv);
    DES_cfb_encrypt(pt.data(), o.data(), bad, 10, &ks, &iv2.b, DES_ENCRYPT);
    EXPECT_EQ(o, Bytes(10, 0xee)) << bad;
    EXPECT_EQ(iv2.Hex(), kIv) << bad;
    DES_ofb_encrypt(pt.data(), o.data(), bad, 10, &ks, &iv2.b);
    EXPECT_EQ(o, Bytes(10, 0xee)) << bad;
    EXPECT_EQ(iv2.Hex(), kIv) << bad;
  }
}

// Feeding a message in pieces gives the bytes of one call.
TEST(DesModes, Cfb64AndOfb64InPieces) {
  DES_key_schedule ks = Schedule(kKey);
  Lcg rng(12);
  const Bytes pt = rng.Fill(100);
  for (int mode = 0; mode < 2; mode++) {
    Bytes whole(pt.size());
    Iv iv(kIv);
    int num = 0;
    if (mode == 0)
      DES_cfb64_encrypt(pt.data(), whole.data(), 100, &ks, &iv.b, &num, DES_ENCRYPT);
    else
      DES_ofb64_encrypt(pt.data(), whole.data(), 100, &ks, &iv.b, &num);
    EXPECT_EQ(num, 100 % 8);
    for (int trial = 0; trial < 20; trial++) {
      Bytes pieces(pt.size());
      Iv iv2(kIv);
      int n2 = 0;
      for (size_t off = 0; off < pt.size();) {
        size_t len = rng.Next() % 20;
        if (off + len > pt.size()) len = pt.size() - off;
        if (mode == 0)
          DES_cfb64_encrypt(pt.data() + off, pieces.data() + off, static_cast<long>(len), &ks,
                            &iv2.b, &n2, DES_ENCRYPT);
        else
          DES_ofb64_encrypt(pt.data() + off, pieces.data() + off, static_cast<long>(len), &ks,
                            &iv2.b, &n2);
        off += len;
      }
      EXPECT_EQ(pieces, whole) << "mode " << mode;
      EXPECT_EQ(n2, num);
      EXPECT_EQ(iv2.Hex(), iv.Hex());
    }
  }
}

TEST(DesModes, Ofb64Position) {
  DES_key_schedule ks = Schedule(kKey);
  const Bytes pt(16, 0);
  Bytes a(16), b(16);
  Iv iv(kIv), iv2(kIv);
  int num = 0, num2 = 0;
  DES_ofb64_encrypt(pt.data(), a.data(), 16, &ks, &iv.b, &num);
  DES_ofb64_encrypt(pt.data(), b.data(), 5, &ks, &iv2.b, &num2);
  DES_ofb64_encrypt(pt.data() + 5, b.data() + 5, 11, &ks, &iv2.b, &num2);
  EXPECT_EQ(a, b);
  EXPECT_EQ(num2, 0);
  EXPECT_EQ(iv2.Hex(), ToHex(Bytes(a.begin() + 8, a.end())));  // the second keystream block
  // Three bytes from position 2 encrypt no block and leave the IV alone.
  Iv iv3(kIv);
  int num3 = 2;
  Bytes c(3);
  DES_ofb64_encrypt(pt.data(), c.data(), 3, &ks, &iv3.b, &num3);
  EXPECT_EQ(ToHex(c), std::string(kIv).substr(4, 6));
  EXPECT_EQ(iv3.Hex(), kIv);
  EXPECT_EQ(num3, 5);
}

TEST(DesModes, OfbWidths) {
  DES_key_schedule ks = Schedule(kKey);
  // Width 8 is FIPS 81 8-bit OFB: the register shifts in each keystream byte.
  const Bytes pt = FromHex(kPlain);
  Bytes out(24);
  Iv iv(kIv);
  DES_ofb_encrypt(pt.data(), out.data(), 8, 24, &ks, &iv.b);
  Bytes reg = FromHex(kIv), want;
  for (size_t i = 0; i < 24; i++) {
    const Bytes o = Ecb(ks, reg, DES_ENCRYPT);
    want.push_back(pt[i] ^ o[0]);
    reg.erase(reg.begin());
    reg.push_back(o[0]);
  }
  EXPECT_EQ(ToHex(out), ToHex(want));
  EXPECT_EQ(iv.Hex(), ToHex(reg));

  // Width 4: one byte a unit, its high nibble written as zero.
  Iv iv2(kIv);
  Bytes nib(24);
  DES_ofb_encrypt(pt.data(), nib.data(), 4, 24, &ks, &iv2.b);
  for (uint8_t b : nib) EXPECT_EQ(b & 0xf0, 0);
  // Any width against a model of the register as one little-endian 64-bit
  // number: the unit is its k low-order bits, and the register drops its k
  // lowest bits and takes the keystream's k lowest bits in at the top.
  Lcg rng(13);
  for (int k = 1; k <= 64; k++) {
    const size_t w = (static_cast<size_t>(k) + 7) / 8;
    const uint64_t mask = k == 64 ? ~uint64_t{0} : (uint64_t{1} << k) - 1;
    const Bytes msg = rng.Fill(w * 6);
    auto le = [](const uint8_t* p, size_t n) {
      uint64_t v = 0;
      for (size_t i = 0; i < n; i++) v |= static_cast<uint64_t>(p[i]) << (8 * i);
      return v;
    };
    const Bytes ivb = FromHex(kIv);
    uint64_t reg = le(ivb.data(), 8);
    Bytes want;
    for (size_t u = 0; u < 6; u++) {
      Bytes r(8);
      for (int i = 0; i < 8; i++) r[i] = static_cast<uint8_t>(reg >> (8 * i));
      const Bytes o = Ecb(ks, r, DES_ENCRYPT);
      const uint64_t e = le(o.data(), 8);
      const uint64_t c = (le(msg.data() + u * w, w) ^ e) & mask;
      for (size_t i = 0; i < w; i++) want.push_back(static_cast<uint8_t>(c >> (8 * i)));
      reg = k == 64 ? e : (reg >> k) | (e & mask) << (64 - k);
    }
    Bytes ct(msg.size());
    Iv a(kIv);
    DES_ofb_encrypt(msg.data(), ct.data(), k, 6, &ks, &a.b);
    EXPECT_EQ(ToHex(ct), ToHex(want)) << "numbits " << k;
    Bytes regb(8);
    for (int i = 0; i < 8; i++) regb[i] = static_cast<uint8_t>(reg >> (8 * i));
    EXPECT_EQ(a.Hex(), ToHex(regb)) << "numbits " << k;
  }
  // Every width is its own inverse on the bits it covers.
  for (int k = 1; k <= 64; k++) {
    const size_t w = (static_cast<size_t>(k) + 7) / 8;
    Bytes msg = rng.Fill(w * 4);
    for (size_t u = 0; u < 4; u++) {  // keep only the unit's k low-order bits
      uint64_t v = 0;
      for (size_t i = 0; i < w; i++) v |= static_cast<uint64_t>(msg[u * w + i]) << (8 * i);
      if (k < 64) v &= (uint64_t{1} << k) - 1;
      for (size_t i = 0; i < w; i++) msg[u * w + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    Bytes ct(msg.size()), back(msg.size());
    Iv a(kIv), b(kIv);
    DES_ofb_encrypt(msg.data(), ct.data(), k, 4, &ks, &a.b);
    DES_ofb_encrypt(ct.data(), back.data(), k, 4, &ks, &b.b);
    EXPECT_EQ(back, msg) << "numbits " << k;
    EXPECT_EQ(a.Hex(), b.Hex());
  }
}

TEST(DesModes, Ofb64AgreesWithOfbUnits) {
  DES_key_schedule ks = Schedule(kKey);
  Lcg rng(14);
  const Bytes pt = rng.Fill(16);
  Bytes a(16), b(16);
  Iv iv(kIv), iv2(kIv);
  int num = 0;
  DES_ofb_encrypt(pt.data(), a.data(), 64, 2, &ks, &iv.b);
  DES_ofb64_encrypt(pt.data(), b.data(), 16, &ks, &iv2.b, &num);
  EXPECT_EQ(a, b);
  EXPECT_EQ(iv.Hex(), iv2.Hex());
}

TEST(DesModes, Desx) {
  DES_key_schedule ks = Schedule(kKey);
  Lcg rng(15);
  const Bytes pt = rng.Fill(21);
  DES_cblock zero = {};
  // All-zero whitening is plain CBC.
  Bytes a(24), b(24);
  Iv iv(kIv), iv2(kIv);
  DES_xcbc_encrypt(pt.data(), a.data(), 21, &ks, &iv.b, &zero, &zero, DES_ENCRYPT);
  DES_ncbc_encrypt(pt.data(), b.data(), 21, &ks, &iv2.b, DES_ENCRYPT);
  EXPECT_EQ(a, b);
  EXPECT_EQ(iv.Hex(), iv2.Hex());

  // Otherwise E(p ^ chain ^ inw) ^ outw.
  const Bytes inw = rng.Fill(8), outw = rng.Fill(8);
  DES_cblock in_w, out_w;
  des_test::ToBlock(inw, in_w);
  des_test::ToBlock(outw, out_w);
  Bytes want, chain = FromHex(kIv);
  for (size_t off = 0; off < 21; off += 8) {
    chain =
        Xor(Ecb(ks, Xor(Xor(Block(pt, off, 21 - off < 8 ? 21 - off : 8), chain), inw), DES_ENCRYPT),
            outw);
    want.insert(want.end(), chain.begin(), chain.end());
  }
  Iv iv3(kIv);
  DES_xcbc_encrypt(pt.data(), a.data(), 21, &ks, &iv3.b, &in_w, &out_w, DES_ENCRYPT);
  EXPECT_EQ(ToHex(a), ToHex(want));
  EXPECT_EQ(iv3.Hex(), ToHex(chain));
  Iv iv4(kIv);
  Bytes back(24, 0xee);
  DES_xcbc_encrypt(a.data(), back.data(), 21, &ks, &iv4.b, &in_w, &out_w, DES_DECRYPT);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 21), pt);
  EXPECT_EQ(back[21], 0xee);
  EXPECT_EQ(iv4.Hex(), ToHex(chain));
}

// Every buffer mode gives the same bytes in place as out of place.
TEST(DesModes, InPlaceEqualsOutOfPlace) {
  DES_key_schedule ks = Schedule(kKey);
  Lcg rng(16);
  const Bytes pt = rng.Fill(40);
  DES_cblock w1 = {1, 2, 3, 4, 5, 6, 7, 8}, w2 = {8, 7, 6, 5, 4, 3, 2, 1};
  for (int mode = 0; mode < 6; mode++) {
    for (int enc = 0; enc < 2; enc++) {
      Bytes out(40), buf = pt;
      Iv a(kIv), b(kIv);
      int n1 = 3, n2 = 3;
      auto run = [&](const unsigned char* in, unsigned char* o, DES_cblock* iv, int* num) {
        switch (mode) {
          case 0:
            DES_ncbc_encrypt(in, o, 40, &ks, iv, enc);
            break;
          case 1:
            DES_pcbc_encrypt(in, o, 40, &ks, iv, enc);
            break;
          case 2:
            DES_cfb_encrypt(in, o, 16, 40, &ks, iv, enc);
            break;
          case 3:
            DES_cfb64_encrypt(in, o, 40, &ks, iv, num, enc);
            break;
          case 4:
            DES_ofb64_encrypt(in, o, 40, &ks, iv, num);
            break;
          case 5:
            DES_xcbc_encrypt(in, o, 40, &ks, iv, &w1, &w2, enc);
            break;
        }
      };
      run(pt.data(), out.data(), &a.b, &n1);
      run(buf.data(), buf.data(), &b.b, &n2);
      EXPECT_EQ(buf, out) << "mode " << mode << " enc " << enc;
      EXPECT_EQ(a.Hex(), b.Hex());
      EXPECT_EQ(n1, n2);
    }
  }
}

}  // namespace
