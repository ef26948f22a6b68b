// The bit-sliced DES: its generated S-box circuits against the FIPS 46-3
// tables on every input; long runs built from the SP 800-20 tables (records
// that share one key, repeated past the batch widths) in ECB both ways and
// CBC and CFB decryption; and every parallel mode on random keys at the
// lengths around the batch boundaries against block-by-block references,
// in place and out of place.  ctest runs this program with the hardware
// code and with MORVANE_NO_HWCRYPT=1, so the same answers hold on the lanes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/evp.h>

#include "des_test_util.h"

namespace slices_logic {
#include "des/des_slices.inc"
}  // namespace slices_logic

namespace {

using des_test::Bytes;
using des_test::FromHex;
using des_test::Lcg;
using des_test::ToHex;

// FIPS 46-3, the S-boxes: row b1 b6, column b2 b3 b4 b5.
constexpr uint8_t kSbox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

// The gates on 64-bit words: bit v of each word is one evaluation.
struct WordOps {
  template <int kImm>
  static uint64_t tern(uint64_t a, uint64_t b, uint64_t c) {
    uint64_t r = 0;
    for (int i = 0; i < 8; i++) {
      if (((kImm >> i) & 1) == 0) continue;
      r |= ((i & 4) ? a : ~a) & ((i & 2) ? b : ~b) & ((i & 1) ? c : ~c);
    }
    return r;
  }
};

using SboxFn = void (*)(const uint64_t (&)[6], uint64_t&, uint64_t&, uint64_t&, uint64_t&);
const SboxFn kSboxLogic[8] = {
    slices_logic::sbox_logic1<WordOps, uint64_t>, slices_logic::sbox_logic2<WordOps, uint64_t>,
    slices_logic::sbox_logic3<WordOps, uint64_t>, slices_logic::sbox_logic4<WordOps, uint64_t>,
    slices_logic::sbox_logic5<WordOps, uint64_t>, slices_logic::sbox_logic6<WordOps, uint64_t>,
    slices_logic::sbox_logic7<WordOps, uint64_t>, slices_logic::sbox_logic8<WordOps, uint64_t>};

// All 64 inputs at once: bit v of x[i] is input bit b(i+1) of the value v,
// b1 its top bit; every output bit, XORed into a word of ones and into one of
// zeros, must be the table's.
TEST(DesSliceLogic, EverySboxOnEveryInput) {
  uint64_t x[6] = {};
  for (int v = 0; v < 64; v++)
    for (int i = 0; i < 6; i++) x[i] |= uint64_t{(v >> (5 - i)) & 1u} << v;
  for (int box = 0; box < 8; box++) {
    uint64_t y[4] = {}, n[4] = {~0ull, ~0ull, ~0ull, ~0ull};
    kSboxLogic[box](x, y[0], y[1], y[2], y[3]);
    kSboxLogic[box](x, n[0], n[1], n[2], n[3]);
    for (int v = 0; v < 64; v++) {
      const int row = ((v >> 4) & 2) | (v & 1), col = (v >> 1) & 15;
      for (int t = 0; t < 4; t++) {
        const unsigned want = (kSbox[box][row][col] >> (3 - t)) & 1u;
        EXPECT_EQ((y[t] >> v) & 1u, want) << "S" << box + 1 << " input " << v << " bit " << t;
        EXPECT_EQ((~n[t] >> v) & 1u, want) << "S" << box + 1 << " input " << v << " bit " << t;
      }
    }
  }
}

// Whole blocks of a parallel mode through the library, 3-key triple DES or
// (with `single`) DES under the first key.
enum class Op { kEcbEncrypt, kEcbDecrypt, kCbcDecrypt, kCfbDecrypt };
const char* const kOpNames[] = {"ECB encrypt", "ECB decrypt", "CBC decrypt", "CFB decrypt"};

struct Keys {
  DES_key_schedule ks[3];
  Bytes raw;
  explicit Keys(const Bytes& key24) : raw(key24) {
    for (int i = 0; i < 3; i++)
      ks[i] = des_test::Schedule(Bytes(key24.begin() + 8 * i, key24.begin() + 8 * i + 8));
  }
};

// Runs op over `in` into `out` (which may be `in`); `iv` is updated.
void RunMode(Op op, Keys& k, bool single, const uint8_t* in, uint8_t* out, size_t len, uint8_t* iv) {
  const long n = static_cast<long>(len);
  auto* v = reinterpret_cast<DES_cblock*>(iv);
  switch (op) {
    case Op::kEcbEncrypt:
    case Op::kEcbDecrypt: {
      // The envelope hands every whole block of an update over at once.
      EVP_CIPHER_CTX ctx;
      EVP_CIPHER_CTX_init(&ctx);
      int outl = 0;
      ASSERT_EQ(EVP_CipherInit_ex(&ctx, single ? EVP_des_ecb() : EVP_des_ede3_ecb(), nullptr,
                                  k.raw.data(), nullptr, op == Op::kEcbEncrypt ? 1 : 0),
                1);
      EVP_CIPHER_CTX_set_padding(&ctx, 0);
      ASSERT_EQ(EVP_CipherUpdate(&ctx, out, &outl, in, static_cast<int>(len)), 1);
      EXPECT_EQ(static_cast<size_t>(outl), len);
      EVP_CIPHER_CTX_cleanup(&ctx);
      break;
    }
    case Op::kCbcDecrypt:
      if (single)
        DES_ncbc_encrypt(in, out, n, &k.ks[0], v, DES_DECRYPT);
      else
        DES_ede3_cbc_encrypt(in, out, n, &k.ks[0], &k.ks[1], &k.ks[2], v, DES_DECRYPT);
      break;
    case Op::kCfbDecrypt: {
      int num = 0;
      if (single)
        DES_cfb64_encrypt(in, out, n, &k.ks[0], v, &num, DES_DECRYPT);
      else
        DES_ede3_cfb64_encrypt(in, out, n, &k.ks[0], &k.ks[1], &k.ks[2], v, &num, DES_DECRYPT);
      break;
    }
  }
}

// The block function on one block, through the single-block entry points.
Bytes Block(Keys& k, bool single, const Bytes& b, bool encrypt) {
  DES_cblock x, y;
  std::memcpy(x, b.data(), 8);
  const int e = encrypt ? DES_ENCRYPT : DES_DECRYPT;
  if (single)
    DES_ecb_encrypt(&x, &y, &k.ks[0], e);
  else
    DES_ecb3_encrypt(&x, &y, &k.ks[0], &k.ks[1], &k.ks[2], e);
  return Bytes(y, y + 8);
}

// The mode block by block over the first `len` bytes of `in`; the IV is
// updated.  CBC and CFB over a length that is not whole blocks: the last
// partial block as the modes define it (CBC decryption reads a whole block).
Bytes Reference(Op op, Keys& k, bool single, const Bytes& in, size_t len, Bytes& iv) {
  Bytes out(len);
  Bytes chain = iv;
  for (size_t off = 0; off < len; off += 8) {
    const size_t take = len - off < 8 ? len - off : 8;
    const Bytes c = des_test::Block(in, off, take);
    Bytes y;
    switch (op) {
      case Op::kEcbEncrypt:
        y = Block(k, single, c, true);
        break;
      case Op::kEcbDecrypt:
        y = Block(k, single, c, false);
        break;
      case Op::kCbcDecrypt:
        y = des_test::Xor(Block(k, single, take == 8 ? c : des_test::Block(in, off), false), chain);
        chain = take == 8 ? c : des_test::Block(in, off);
        break;
      case Op::kCfbDecrypt: {
        const Bytes e = Block(k, single, chain, true);
        y = des_test::Xor(c, e);
        if (take == 8) {
          chain = c;
        } else {  // the register takes the ciphertext bytes in
          for (size_t i = 0; i < take; i++) chain[i] = c[i];
          for (size_t i = take; i < 8; i++) chain[i] = e[i];
        }
        break;
      }
    }
    std::memcpy(out.data() + off, y.data(), take);
  }
  iv = chain;
  return out;
}

// Block counts around the batch widths (256 and 512 blocks) and the least
// run worth a batch (36), alone and as a remainder, and odd remainders.
constexpr size_t kBlockCounts[] = {0,   1,   3,   4,   5,   31,  32,  33,  35,  36,  37,  63,
                                   64,  127, 128, 129, 255, 256, 257, 300, 383, 384, 511, 512,
                                   513, 515, 547, 548, 549, 640, 767, 768, 1024, 1061};

TEST(DesSlicePaths, ParallelModesMatchBlockByBlock) {
  Lcg rng(0x5eed1e5);
  for (const bool single : {false, true}) {
    for (const size_t blocks : kBlockCounts) {
      for (int o = 0; o < 4; o++) {
        const Op op = static_cast<Op>(o);
        // CBC and CFB also on a length with a partial last block.
        for (const size_t extra : {size_t{0}, size_t{5}}) {
          if (extra != 0 && (op == Op::kEcbEncrypt || op == Op::kEcbDecrypt)) continue;
          Keys k(rng.Fill(24));
          const size_t len = 8 * blocks + extra;
          const Bytes iv0 = rng.Fill(8), in = rng.Fill(8 * blocks + 8);
          Bytes ref_iv = iv0;
          const Bytes want = Reference(op, k, single, in, len, ref_iv);
          for (const bool in_place : {false, true}) {
            SCOPED_TRACE(std::string(kOpNames[o]) + (single ? " DES " : " 3DES ") +
                         std::to_string(blocks) + " blocks + " + std::to_string(extra) +
                         (in_place ? " in place" : " out of place"));
            Bytes buf = in, out(len + 1, 0xa5), iv = iv0;
            uint8_t* dst = in_place ? buf.data() : out.data();
            RunMode(op, k, single, buf.data(), dst, len, iv.data());
            EXPECT_EQ(ToHex(Bytes(dst, dst + len)), ToHex(want));
            if (op == Op::kCbcDecrypt || op == Op::kCfbDecrypt) {
              EXPECT_EQ(ToHex(iv), ToHex(ref_iv));
            }
            if (!in_place) {
              EXPECT_EQ(out.back(), 0xa5) << "wrote past the end";
            }
          }
        }
      }
    }
  }
}

// One key's records of an SP 800-20 table (KAT_TDES, whose vartext and
// invperm tables use a single key): plaintexts and ciphertexts in order.
struct KatRun {
  Bytes key, plain, cipher;
};

KatRun ReadKat(const std::string& path) {
  KatRun r;
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (rec.section.count("ENCRYPT") == 0) continue;
    const Bytes key = FromHex(rec.Get("KEYs"));
    if (r.key.empty()) r.key = key;
    if (key != r.key) continue;
    const Bytes p = FromHex(rec.Get("PLAINTEXT")), c = FromHex(rec.Get("CIPHERTEXT"));
    r.plain.insert(r.plain.end(), p.begin(), p.end());
    r.cipher.insert(r.cipher.end(), c.begin(), c.end());
  }
  return r;
}

Bytes Repeat(const Bytes& b, int times) {
  Bytes r;
  for (int i = 0; i < times; i++) r.insert(r.end(), b.begin(), b.end());
  return r;
}

// The known answers in one long call: ECB both ways gives the tables'
// blocks; CBC decryption of the ciphertexts gives each plaintext XOR the
// ciphertext before; CFB decryption of the plaintexts (the register starting
// at the first) gives each plaintext XOR the ciphertext of the one before.
TEST(DesSlicePaths, Sp80020TablesInLongRuns) {
  for (const char* table : {"vartext", "invperm"}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("nist-cavp/des/KAT_TDES/TECB") + table + ".rsp");
    const KatRun kat = ReadKat(path);
    ASSERT_EQ(kat.plain.size(), 64u * 8);
    for (const int times : {1, 5, 9}) {  // 64, 320 and 576 blocks
      const Bytes p = Repeat(kat.plain, times), c = Repeat(kat.cipher, times);
      const size_t len = p.size();
      for (const bool single : {false, true}) {
        SCOPED_TRACE(std::string(table) + " x" + std::to_string(times) + (single ? " DES" : " 3DES"));
        Keys k(Repeat(kat.key, 3));
        Bytes out(len), iv(8, 0);
        RunMode(Op::kEcbEncrypt, k, single, p.data(), out.data(), len, nullptr);
        EXPECT_EQ(ToHex(out), ToHex(c));
        RunMode(Op::kEcbDecrypt, k, single, c.data(), out.data(), len, nullptr);
        EXPECT_EQ(ToHex(out), ToHex(p));

        Bytes want(len);
        for (size_t i = 0; i < len; i++) want[i] = p[i] ^ (i < 8 ? 0 : c[i - 8]);
        RunMode(Op::kCbcDecrypt, k, single, c.data(), out.data(), len, iv.data());
        EXPECT_EQ(ToHex(out), ToHex(want));
        EXPECT_EQ(ToHex(iv), ToHex(Bytes(c.end() - 8, c.end())));

        const Bytes in(p.begin() + 8, p.end());
        Bytes reg(p.begin(), p.begin() + 8);
        for (size_t i = 0; i < in.size(); i++) want[i] = in[i] ^ c[i];
        want.resize(in.size());
        out.resize(in.size());
        RunMode(Op::kCfbDecrypt, k, single, in.data(), out.data(), in.size(), reg.data());
        EXPECT_EQ(ToHex(out), ToHex(want));
        EXPECT_EQ(ToHex(reg), ToHex(Bytes(p.end() - 8, p.end())));
        out.resize(len);
      }
    }
  }
}

}  // namespace
