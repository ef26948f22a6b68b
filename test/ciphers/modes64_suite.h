// The byte-wise modes shared by the 64-bit block ciphers (ECB, CBC, 64-bit CFB
// and OFB), as one typed suite: known answers (with non-zero direction flags
// other than 1), agreement with the modes built by hand from each cipher's ECB
// entry at every length and offset, pieces of any size, in place, when OFB
// writes its register, and lengths and offsets out of range.  A test program instantiates it with
// INSTANTIATE_TYPED_TEST_SUITE_P over its ciphers; each cipher type gives
//   kName, kKeyBytes, kKey, kIv, kMessage, kCbc, kCfb, kOfb (hex known answers),
//   kCheckOffsets (whether CFB/OFB offsets outside 0..7 must be no-ops),
//   a constructor from key bytes, and Ecb, Cbc, Cfb, Ofb over its functions.
#ifndef MORVANE_TEST_CIPHERS_MODES64_SUITE_H
#define MORVANE_TEST_CIPHERS_MODES64_SUITE_H

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"
#include "type_names.h"

namespace modes64_test {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

inline Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

template <class M>
Bytes RefCbc(const M& m, Bytes iv, const Bytes& in, size_t n, bool enc) {
  Bytes out;
  for (size_t off = 0; off < n; off += 8) {
    uint8_t blk[8] = {}, c[8];
    for (size_t i = 0; i < 8 && (!enc || off + i < n); i++) blk[i] = in[off + i];
    std::memcpy(c, blk, 8);
    if (enc) {
      for (int i = 0; i < 8; i++) blk[i] ^= iv[i];
      m.Ecb(blk, blk, 1);
      iv.assign(blk, blk + 8);
      out.insert(out.end(), blk, blk + 8);
    } else {
      m.Ecb(c, blk, 0);
      for (int i = 0; i < 8; i++) blk[i] ^= iv[i];
      iv.assign(c, c + 8);
      out.insert(out.end(), blk, blk + std::min<size_t>(8, n - off));
    }
  }
  return out;
}

// Byte-wise CFB (feedback of ciphertext) or OFB (feedback of the keystream).
template <class M>
Bytes RefStream(const M& m, Bytes iv, int num, const Bytes& in, bool cfb, bool enc) {
  Bytes out;
  for (uint8_t v : in) {
    if (num == 0) m.Ecb(iv.data(), iv.data(), 1);
    const uint8_t o = static_cast<uint8_t>(v ^ iv[num]);
    out.push_back(o);
    if (cfb) iv[num] = enc ? o : v;
    num = (num + 1) & 7;
  }
  return out;
}

// Splits n into random pieces (empty ones included); with `step` 8 every piece
// but the last is a multiple of 8.
inline std::vector<size_t> Pieces(std::mt19937& rng, size_t n, size_t step) {
  std::vector<size_t> p;
  while (n > 0) {
    size_t k = rng() % 20;
    if (step > 1) k = k / 4 * step;
    p.push_back(std::min(k, n));
    n -= p.back();
  }
  return p;
}

// Runs mode 0 (CFB encrypt), 1 (CFB decrypt) or 2 (OFB).
template <class M>
void Stream(const M& m, int mode, const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int* num) {
  if (mode < 2)
    m.Cfb(in, out, n, iv, num, mode == 0 ? -1 : 0);  // any non-zero flag encrypts
  else
    m.Ofb(in, out, n, iv, num);
}

template <class M>
class Modes64 : public ::testing::Test {};
TYPED_TEST_SUITE_P(Modes64);

TYPED_TEST_P(Modes64, KnownAnswers) {
  const TypeParam m(FromHex(TypeParam::kKey));
  const Bytes msg = FromHex(TypeParam::kMessage), iv0 = FromHex(TypeParam::kIv);
  const size_t n = msg.size(), padded = (n + 7) / 8 * 8;
  Bytes iv = iv0, out(padded, 0xAA);
  m.Cbc(msg.data(), out.data(), static_cast<long>(n), iv.data(), 2);  // any non-zero encrypts
  EXPECT_EQ(ToHex(out), ToHex(FromHex(TypeParam::kCbc)));
  EXPECT_EQ(iv, Bytes(out.end() - 8, out.end()));  // the last ciphertext block
  Bytes back(padded, 0xAA);
  iv = iv0;
  m.Cbc(out.data(), back.data(), static_cast<long>(padded), iv.data(), 0);
  back.resize(n);
  EXPECT_EQ(back, msg);
  for (int mode : {0, 1, 2}) {
    const Bytes src = mode == 1 ? FromHex(TypeParam::kCfb) : msg;
    const Bytes want = FromHex(mode == 0 ? TypeParam::kCfb : mode == 1 ? TypeParam::kMessage
                                                                       : TypeParam::kOfb);
    Bytes dst(n);
    int num = 0;
    iv = iv0;
    Stream(m, mode, src.data(), dst.data(), static_cast<long>(n), iv.data(), &num);
    EXPECT_EQ(ToHex(dst), ToHex(want)) << "mode " << mode;
    EXPECT_EQ(num, static_cast<int>(n % 8));
  }
}

TYPED_TEST_P(Modes64, AgreeWithModesBuiltFromEcb) {
  std::mt19937 rng(1);
  for (size_t n = 0; n <= 41; n++) {
    const TypeParam m(RandomBytes(rng, TypeParam::kKeyBytes));
    const Bytes iv0 = RandomBytes(rng, 8), msg = RandomBytes(rng, n);
    const size_t padded = (n + 7) / 8 * 8;
    // CBC encryption writes whole blocks, decryption only n bytes.
    Bytes iv = iv0, ct(padded + 8, 0xEE);
    m.Cbc(msg.data(), ct.data(), static_cast<long>(n), iv.data(), 1);
    const Bytes ref = RefCbc(m, iv0, msg, n, true);
    EXPECT_EQ(Bytes(ct.begin(), ct.begin() + padded), ref) << n;
    EXPECT_EQ(ct[padded], 0xEE) << "wrote past the padded length";
    EXPECT_EQ(iv, n > 0 ? Bytes(ref.end() - 8, ref.end()) : iv0);
    Bytes pt(padded + 8, 0xEE);
    iv = iv0;
    m.Cbc(ct.data(), pt.data(), static_cast<long>(n), iv.data(), 0);
    EXPECT_EQ(Bytes(pt.begin(), pt.begin() + n), msg) << n;
    EXPECT_EQ(Bytes(pt.begin(), pt.begin() + n), RefCbc(m, iv0, ct, n, false));
    EXPECT_EQ(pt[n], 0xEE) << "wrote past the length";
    EXPECT_EQ(iv, n > 0 ? Bytes(ref.end() - 8, ref.end()) : iv0);
    for (int start = 0; start < 8; start++) {
      for (int mode : {0, 1, 2}) {
        Bytes out(n);
        iv = iv0;
        int num = start;
        Stream(m, mode, msg.data(), out.data(), static_cast<long>(n), iv.data(), &num);
        EXPECT_EQ(out, RefStream(m, iv0, start, msg, mode < 2, mode == 0)) << n << " " << start;
        EXPECT_EQ(num, static_cast<int>((start + n) % 8));
      }
    }
  }
}

TYPED_TEST_P(Modes64, PiecesOfAnySizeContinueOneMessage) {
  std::mt19937 rng(2);
  for (int trial = 0; trial < 40; trial++) {
    const TypeParam m(RandomBytes(rng, TypeParam::kKeyBytes));
    const Bytes iv0 = RandomBytes(rng, 8), msg = RandomBytes(rng, rng() % 100);
    const long n = static_cast<long>(msg.size());
    // CBC: pieces of whole blocks, the last one of any size.
    Bytes whole((msg.size() + 7) / 8 * 8), split(whole.size()), iv_whole = iv0, iv_split = iv0;
    m.Cbc(msg.data(), whole.data(), n, iv_whole.data(), 1);
    size_t off = 0;
    for (size_t k : Pieces(rng, msg.size(), 8)) {
      m.Cbc(msg.data() + off, split.data() + off, static_cast<long>(k), iv_split.data(), 1);
      off += k;
    }
    EXPECT_EQ(split, whole);
    EXPECT_EQ(iv_split, iv_whole);
    // CFB and OFB: pieces of any size, in place on odd trials.
    for (int mode : {0, 1, 2}) {
      Bytes a(msg.size()), b = msg, iva = iv0, ivb = iv0;
      int numa = 0, numb = 0;
      Stream(m, mode, msg.data(), a.data(), n, iva.data(), &numa);
      off = 0;
      for (size_t k : Pieces(rng, msg.size(), 1)) {
        Stream(m, mode, (trial % 2 ? b : msg).data() + off, b.data() + off, static_cast<long>(k),
               ivb.data(), &numb);
        off += k;
      }
      EXPECT_EQ(b, a) << "mode " << mode;
      EXPECT_EQ(ivb, iva);
      EXPECT_EQ(numb, numa);
    }
  }
}

TYPED_TEST_P(Modes64, InPlaceBlocksEqualOutOfPlaceAndRoundTrip) {
  std::mt19937 rng(3);
  for (size_t n : {1u, 7u, 8u, 9u, 16u, 23u, 64u, 77u}) {
    const TypeParam m(RandomBytes(rng, TypeParam::kKeyBytes));
    const Bytes iv0 = RandomBytes(rng, 8), msg = RandomBytes(rng, n);
    const long len = static_cast<long>(n);
    const size_t padded = (n + 7) / 8 * 8;
    uint8_t block[8], ecb[8];
    m.Ecb(iv0.data(), ecb, 1);
    std::memcpy(block, iv0.data(), 8);
    m.Ecb(block, block, 2);  // any non-zero flag encrypts
    EXPECT_EQ(std::memcmp(block, ecb, 8), 0);
    m.Ecb(block, block, 0);
    EXPECT_EQ(std::memcmp(block, iv0.data(), 8), 0);

    Bytes out(padded), iv = iv0, buf = msg, iv2 = iv0;
    m.Cbc(msg.data(), out.data(), len, iv.data(), 1);
    buf.resize(padded);
    m.Cbc(buf.data(), buf.data(), len, iv2.data(), 1);
    EXPECT_EQ(buf, out);
    iv2 = iv0;
    m.Cbc(buf.data(), buf.data(), len, iv2.data(), 0);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + len), msg);
    // The block past n was read as ciphertext and left alone.
    EXPECT_EQ(Bytes(buf.begin() + len, buf.end()), Bytes(out.begin() + len, out.end()));
  }
}

TYPED_TEST_P(Modes64, OfbWritesIvOnlyWhenItMadeANewBlock) {
  const TypeParam m(FromHex(TypeParam::kKey));
  const Bytes msg = FromHex(TypeParam::kMessage), iv0 = FromHex(TypeParam::kIv);
  Bytes iv = iv0, out(8);
  int num = 0;
  m.Ofb(msg.data(), out.data(), 0, iv.data(), &num);
  EXPECT_EQ(iv, iv0);
  m.Ofb(msg.data(), out.data(), 3, iv.data(), &num);
  EXPECT_NE(iv, iv0);  // one keystream block made
  const Bytes after = iv;
  m.Ofb(msg.data() + 3, out.data() + 3, 5, iv.data(), &num);
  EXPECT_EQ(iv, after);  // offsets 3..7 of the same block
  EXPECT_EQ(num, 0);
}

// Lengths of 0 or below, and offsets outside 0..7, change nothing.
TYPED_TEST_P(Modes64, BadLengthsAndOffsetsAreNoOps) {
  const TypeParam m(FromHex(TypeParam::kKey));
  const Bytes msg = FromHex(TypeParam::kMessage), iv0 = FromHex(TypeParam::kIv);
  for (long len : {0L, -1L, -8L, -13L, LONG_MIN}) {
    Bytes out(16, 0x77), iv = iv0;
    int num = 3;
    m.Cbc(msg.data(), out.data(), len, iv.data(), 1);
    m.Cbc(msg.data(), out.data(), len, iv.data(), 0);
    for (int mode : {0, 1, 2}) Stream(m, mode, msg.data(), out.data(), len, iv.data(), &num);
    EXPECT_EQ(out, Bytes(16, 0x77)) << len;
    EXPECT_EQ(iv, iv0);
    EXPECT_EQ(num, 3);
  }
  if (!TypeParam::kCheckOffsets) return;
  for (int bad : {-1, 8, 9, 1000, INT_MIN, INT_MAX}) {
    Bytes out(16, 0x77), iv = iv0;
    int num = bad;
    for (int mode : {0, 1, 2}) Stream(m, mode, msg.data(), out.data(), 16, iv.data(), &num);
    EXPECT_EQ(out, Bytes(16, 0x77)) << bad;
    EXPECT_EQ(iv, iv0);
    EXPECT_EQ(num, bad);
  }
}

REGISTER_TYPED_TEST_SUITE_P(Modes64, KnownAnswers, AgreeWithModesBuiltFromEcb,
                            PiecesOfAnySizeContinueOneMessage, InPlaceBlocksEqualOutOfPlaceAndRoundTrip,
                            OfbWritesIvOnlyWhenItMadeANewBlock,
                            BadLengthsAndOffsetsAreNoOps);

}  // namespace modes64_test

#endif  // MORVANE_TEST_CIPHERS_MODES64_SUITE_H
