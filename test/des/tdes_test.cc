// DES and triple DES against the NIST CAVP response files, through one
// runner: SP 800-20's tables in every mode (KAT_TDES), run through triple DES
// and, with their one key, through the single-DES functions and the CBC
// checksum; the multi-block messages (tdesmmt) and the Monte Carlo chains
// (tdesmct).  Then the modes without published vectors (CBCM, the three-pass
// CBC) against references built from single blocks.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/evp.h>

#include "des_test_util.h"

namespace {

using des_test::Block;
using des_test::Be32;
using des_test::Bytes;
using des_test::Cblock;
using des_test::Ecb;
using des_test::FromHex;
using des_test::Lcg;
using des_test::Schedule;
using des_test::ToHex;
using des_test::Xor;

enum class Mode { kEcb, kCbc, kCfb1, kCfb8, kCfb64, kOfb };
const char* const kModeNames[] = {"ECB", "CBC", "CFB1", "CFB8", "CFB64", "OFB"};

// The state of one message: three schedules (one for single DES), the IV
// register and the offset.
struct Tdes {
  DES_key_schedule ks[3];
  bool one_key = false;
  DES_cblock iv = {};
  int num = 0;

  explicit Tdes(const morvane_test::RspRecord& r) {
    one_key = r.Has("KEYs");
    for (int i = 0; i < 3; i++)
      ks[i] = Schedule(r.Get(one_key ? std::string("KEYs") : "KEY" + std::to_string(i + 1)));
    if (r.Has("IV")) std::memcpy(iv, FromHex(r.Get("IV")).data(), 8);
  }

  // Runs one call over `in` (for CFB1, one bit a byte, in its top bit), with
  // triple DES or, with `single`, the single-DES function of the mode.
  Bytes Run(Mode m, const Bytes& in, bool enc, bool single = false) {
    Bytes out(in.size());
    const long n = static_cast<long>(in.size());
    const int e = enc ? DES_ENCRYPT : DES_DECRYPT;
    DES_key_schedule *k1 = &ks[0], *k2 = &ks[1], *k3 = &ks[2];
    const int bits = m == Mode::kCfb1 ? 1 : 8;
    switch (m) {
      case Mode::kEcb:
        for (size_t off = 0; off < in.size(); off += 8) {
          Cblock b(Bytes(in.begin() + static_cast<long>(off), in.begin() + static_cast<long>(off) + 8));
          if (single)
            DES_ecb_encrypt(&b.b, &b.b, k1, e);
          else
            DES_ecb3_encrypt(&b.b, &b.b, k1, k2, k3, e);
          std::memcpy(out.data() + off, b.b, 8);
        }
        break;
      case Mode::kCbc:
        if (single)
          DES_ncbc_encrypt(in.data(), out.data(), n, k1, &iv, e);
        else
          DES_ede3_cbc_encrypt(in.data(), out.data(), n, k1, k2, k3, &iv, e);
        break;
      case Mode::kCfb1:
      case Mode::kCfb8:
        if (single)
          DES_cfb_encrypt(in.data(), out.data(), bits, n, k1, &iv, e);
        else
          DES_ede3_cfb_encrypt(in.data(), out.data(), bits, n, k1, k2, k3, &iv, e);
        break;
      case Mode::kCfb64:
        if (single)
          DES_cfb64_encrypt(in.data(), out.data(), n, k1, &iv, &num, e);
        else
          DES_ede3_cfb64_encrypt(in.data(), out.data(), n, k1, k2, k3, &iv, &num, e);
        break;
      case Mode::kOfb:
        if (single)
          DES_ofb64_encrypt(in.data(), out.data(), n, k1, &iv, &num);
        else
          DES_ede3_ofb64_encrypt(in.data(), out.data(), n, k1, k2, k3, &iv, &num);
        break;
    }
    return out;
  }
};

// ECB through the envelope: the whole message in one update, which takes the
// path that runs several blocks at once.
Bytes EnvelopeEcb(const morvane_test::RspRecord& r, const Bytes& in, bool enc, bool single) {
  Bytes key;
  for (int i = 0; i < (single ? 1 : 3); i++) {
    const Bytes k =
        FromHex(r.Get(r.Has("KEYs") ? std::string("KEYs") : "KEY" + std::to_string(i + 1)));
    key.insert(key.end(), k.begin(), k.end());
  }
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  Bytes out(in.size() + 8);
  int n = 0;
  if (EVP_CipherInit_ex(&ctx, single ? EVP_des_ecb() : EVP_des_ede3_ecb(), nullptr, key.data(),
                        nullptr, enc) != 1 ||
      EVP_CIPHER_CTX_set_padding(&ctx, 0) != 1 ||
      EVP_CipherUpdate(&ctx, out.data(), &n, in.data(), static_cast<int>(in.size())) != 1)
    n = 0;
  EVP_CIPHER_CTX_cleanup(&ctx);
  out.resize(static_cast<size_t>(n));
  return out;
}

// CFB1 files write bit strings ("0110"); the functions take one bit a byte.
Bytes Decode(Mode m, const std::string& v) {
  if (m != Mode::kCfb1) return FromHex(v);
  Bytes b;
  for (char c : v) b.push_back(c == '1' ? 0x80 : 0x00);
  return b;
}
std::string Encode(Mode m, const Bytes& b) {
  if (m != Mode::kCfb1) return ToHex(b);
  std::string s;
  for (uint8_t x : b) s += (x & 0x80) ? '1' : '0';
  return s;
}

struct FileCase {
  std::string file;
  Mode mode;
};
void PrintTo(const FileCase& c, std::ostream* os) {
  *os << c.file;
}
std::string CaseName(const ::testing::TestParamInfo<FileCase>& info) {
  const std::string& s = info.param.file;
  return s.substr(s.rfind('/') + 1, s.rfind('.') - s.rfind('/') - 1);
}

// The files of every mode: KAT_TDES/T<mode><table>.rsp, tdesmmt/T<mode>MMT<n>.rsp
// and tdesmct/T<mode>Monte<n>.rsp.
std::vector<FileCase> Files(bool monte_carlo) {
  std::vector<FileCase> out;
  for (int i = 0; i < 6; i++) {
    const std::string m = kModeNames[i];
    const Mode mode = static_cast<Mode>(i);
    if (!monte_carlo) {
      for (const char* t : {"vartext", "invperm", "varkey", "permop", "subtab"})
        out.push_back({"KAT_TDES/T" + m + t + ".rsp", mode});
    }
    for (const char* n : {"1", "2", "3"})
      out.push_back(monte_carlo ? FileCase{"tdesmct/T" + m + "Monte" + n + ".rsp", mode}
                                : FileCase{"tdesmmt/T" + m + "MMT" + n + ".rsp", mode});
  }
  return out;
}

class DesCavp : public ::testing::TestWithParam<FileCase> {};

TEST_P(DesCavp, KnownAnswersAndMessages) {
  const FileCase c = GetParam();
  MORVANE_VECTOR_PATH_OR_SKIP(path, "nist-cavp/des/" + c.file);
  const auto records = morvane_test::ReadRsp(path);
  ASSERT_FALSE(records.empty());
  for (const auto& r : records) {
    SCOPED_TRACE(c.file + " COUNT " + r.Get("COUNT"));
    const bool enc = r.section.count("ENCRYPT") != 0;
    const Bytes in = Decode(c.mode, r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT"));
    const std::string want = r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT");
    EXPECT_EQ(Encode(c.mode, Tdes(r).Run(c.mode, in, enc)), want);
    if (c.mode == Mode::kEcb) {
      EXPECT_EQ(ToHex(EnvelopeEcb(r, in, enc, false)), want) << "envelope";
    }
    if (!r.Has("KEYs")) continue;
    if (c.mode == Mode::kEcb) {
      EXPECT_EQ(ToHex(EnvelopeEcb(r, in, enc, true)), want) << "envelope, single DES";
    }
    EXPECT_EQ(Encode(c.mode, Tdes(r).Run(c.mode, in, enc, true)), want) << "single DES";
    if (c.mode == Mode::kCbc && enc && in.size() == 8) {
      // FIPS 113: the MAC of one block is its CBC ciphertext.
      Tdes t(r);
      Cblock mac;
      const Bytes ct = FromHex(want);
      EXPECT_EQ(DES_cbc_cksum(in.data(), &mac.b, 8, &t.ks[0], &t.iv), Be32(ct, 4));
      EXPECT_EQ(mac.Hex(), want);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Nist, DesCavp, ::testing::ValuesIn(Files(false)), CaseName);

// One record's inner loop of 10,000 steps (the Monte Carlo tests of NIST's
// TMOVS, after SP 800-17's DES procedures): each step processes one unit with
// the state carried in the IV.  The next input is the previous output for ECB
// and for CBC decryption, and the chaining value the step started from for
// CBC encryption and OFB; for CFB it is the leading unit of the input block
// on encryption and of the output block (output XOR input) on decryption.
// Returns the last output.
Bytes MonteCarlo(Mode m, Tdes& t, Bytes x, bool enc) {
  Bytes out;
  for (int j = 0; j < 10000; j++) {
    const Bytes before(t.iv, t.iv + 8);
    out = t.Run(m, x, enc);
    if (m == Mode::kEcb || (m == Mode::kCbc && !enc)) {
      x = out;
    } else if (m == Mode::kCbc || m == Mode::kOfb) {
      x = before;
    } else if (enc) {
      x.assign(before.begin(), before.begin() + static_cast<long>(x.size()));
      if (m == Mode::kCfb1) x[0] &= 0x80;
    } else {
      for (size_t i = 0; i < x.size(); i++) x[i] ^= out[i];
    }
  }
  return out;
}

class DesCavpMonteCarlo : public ::testing::TestWithParam<FileCase> {};

TEST_P(DesCavpMonteCarlo, SampledRecords) {
  const FileCase c = GetParam();
  MORVANE_VECTOR_PATH_OR_SKIP(path, "nist-cavp/des/" + c.file);
  const auto records = morvane_test::ReadRsp(path);
  ASSERT_EQ(records.size(), 800u);
  // Every record states its own inputs; a sample of them keeps the test fast.
  for (size_t i = 0; i < records.size(); i += 80) {
    const auto& r = records[i];
    const bool enc = r.section.count("ENCRYPT") != 0;
    Tdes t(r);
    const Bytes in = Decode(c.mode, r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT"));
    EXPECT_EQ(Encode(c.mode, MonteCarlo(c.mode, t, in, enc)),
              r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT"))
        << c.file << (enc ? " ENCRYPT" : " DECRYPT") << " COUNT " << r.Get("COUNT");
  }
}

INSTANTIATE_TEST_SUITE_P(Nist, DesCavpMonteCarlo, ::testing::ValuesIn(Files(true)), CaseName);

// ---- modes without published vectors ----------------------------------------

// CBCM: per block a mask m = E_k3(m); c = E_k1(D_k2(E_k1(p ^ chain) ^ m) ^ m).
TEST(TdesModes, CbcmMatchesReference) {
  DES_key_schedule k1 = Schedule("0123456789abcdef"), k2 = Schedule("23456789abcdef01"),
                   k3 = Schedule("456789abcdef0123");
  Lcg rng(21);
  for (size_t len : {8u, 20u, 32u}) {
    const Bytes pt = rng.Fill(len), iv1b = rng.Fill(8), iv2b = rng.Fill(8);
    Bytes m = iv1b, chain = iv2b, want;
    for (size_t off = 0; off < len; off += 8) {
      m = Ecb(k3, m, DES_ENCRYPT);
      const Bytes x = Ecb(k1, Xor(Block(pt, off), chain), DES_ENCRYPT);
      chain = Ecb(k1, Xor(Ecb(k2, Xor(x, m), DES_DECRYPT), m), DES_ENCRYPT);
      want.insert(want.end(), chain.begin(), chain.end());
    }
    const size_t padded = (len + 7) / 8 * 8;
    Bytes ct(padded), back(padded, 0xee);
    for (int enc : {DES_ENCRYPT, DES_DECRYPT}) {
      Cblock iv1(iv1b), iv2(iv2b);
      DES_ede3_cbcm_encrypt(enc ? pt.data() : ct.data(), enc ? ct.data() : back.data(),
                            static_cast<long>(len), &k1, &k2, &k3, &iv1.b, &iv2.b, enc);
      EXPECT_EQ(iv1.Hex(), ToHex(m)) << len;  // the last mask
      EXPECT_EQ(iv2.Hex(), ToHex(chain)) << len;
    }
    EXPECT_EQ(ToHex(ct), ToHex(want)) << len;
    EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(len)), pt) << len;
    if (len < padded) {
      EXPECT_EQ(back[len], 0xee);
    }
  }
}

// CBC over a buffer from single blocks; returns the last ciphertext block.
Bytes CbcRef(DES_key_schedule& ks, Bytes& buf, Bytes iv, bool enc) {
  for (size_t off = 0; off < buf.size(); off += 8) {
    const Bytes in = Block(buf, off);
    const Bytes out = enc ? Ecb(ks, Xor(in, iv), DES_ENCRYPT) : Xor(Ecb(ks, in, DES_DECRYPT), iv);
    std::copy(out.begin(), out.end(), buf.begin() + static_cast<long>(off));
    iv = enc ? out : in;
  }
  return iv;
}

// DES_3cbc_encrypt: E_k1 CBC with iv1, D_k2 CBC with iv1, E_k1 CBC with iv2.
TEST(TdesModes, ThreePassCbc) {
  DES_key_schedule k1 = Schedule("0123456789abcdef"), k2 = Schedule("fedcba9876543210");
  Lcg rng(22);
  for (size_t len : {1u, 7u, 8u, 13u, 24u}) {
    const size_t padded = (len + 7) / 8 * 8;
    const Bytes pt = rng.Fill(len), iv1b = rng.Fill(8), iv2b = rng.Fill(8);
    Bytes buf = pt;
    buf.resize(padded, 0);
    const Bytes inner = CbcRef(k1, buf, iv1b, true);
    CbcRef(k2, buf, iv1b, false);
    const Bytes outer = CbcRef(k1, buf, iv2b, true);

    Bytes in = pt, ct(padded);
    in.resize(padded, 0);
    Cblock iv1(iv1b), iv2(iv2b), d1(iv1b), d2(iv2b);
    DES_3cbc_encrypt(reinterpret_cast<DES_cblock*>(in.data()),
                     reinterpret_cast<DES_cblock*>(ct.data()), static_cast<long>(len), k1, k2,
                     &iv1.b, &iv2.b, DES_ENCRYPT);
    EXPECT_EQ(ToHex(ct), ToHex(buf)) << len;
    // iv1 ends as the last inner block, iv2 as the last outer one, also for a
    // message shorter than a block.
    EXPECT_EQ(iv1.Hex(), ToHex(inner)) << len;
    EXPECT_EQ(iv2.Hex(), ToHex(outer)) << len;
    // Decryption writes `len` bytes: an output block of exactly that size
    // (AddressSanitizer reports a write past it), and nothing past `len` in a
    // larger one, also in place.
    Bytes back(len);
    DES_3cbc_encrypt(reinterpret_cast<DES_cblock*>(ct.data()),
                     reinterpret_cast<DES_cblock*>(back.data()), static_cast<long>(len), k1, k2,
                     &d1.b, &d2.b, DES_DECRYPT);
    EXPECT_EQ(back, pt) << len;
    EXPECT_EQ(d1.Hex(), iv1.Hex()) << len;
    EXPECT_EQ(d2.Hex(), iv2.Hex()) << len;
    Bytes guarded(padded, 0xee);
    Cblock g1(iv1b), g2(iv2b);
    DES_3cbc_encrypt(reinterpret_cast<DES_cblock*>(ct.data()),
                     reinterpret_cast<DES_cblock*>(guarded.data()), static_cast<long>(len), k1, k2,
                     &g1.b, &g2.b, DES_DECRYPT);
    Bytes want = pt;
    want.resize(padded, 0xee);
    EXPECT_EQ(ToHex(want), ToHex(guarded)) << len;
    Bytes inplace = ct;
    Cblock p1(iv1b), p2(iv2b);
    DES_3cbc_encrypt(reinterpret_cast<DES_cblock*>(inplace.data()),
                     reinterpret_cast<DES_cblock*>(inplace.data()), static_cast<long>(len), k1, k2,
                     &p1.b, &p2.b, DES_DECRYPT);
    EXPECT_EQ(ToHex(pt), ToHex(Bytes(inplace.begin(), inplace.begin() + static_cast<long>(len))))
        << len;
    EXPECT_EQ(ToHex(Bytes(ct.begin() + static_cast<long>(len), ct.end())),
              ToHex(Bytes(inplace.begin() + static_cast<long>(len), inplace.end())))
        << len;
    EXPECT_EQ(p1.Hex(), iv1.Hex()) << len;
    EXPECT_EQ(p2.Hex(), iv2.Hex()) << len;
  }
  // Nothing to process: the IVs stay as they were.
  Cblock iv1("0101010101010101"), iv2("0202020202020202"), block;
  DES_3cbc_encrypt(&block.b, &block.b, 0, k1, k2, &iv1.b, &iv2.b, DES_ENCRYPT);
  EXPECT_EQ(iv1.Hex(), "0101010101010101");
  EXPECT_EQ(iv2.Hex(), "0202020202020202");
}

}  // namespace
