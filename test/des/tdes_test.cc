// Triple DES against the NIST CAVP response files (known answers, multi-block
// messages and Monte Carlo for TECB, TCBC, TCFB1, TCFB8, TCFB64 and TOFB), and
// the modes without published vectors (CBCM, the three-pass CBC) against
// references built from single blocks.

#include <cstring>
#include <string>
#include <vector>

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

enum class Mode { kEcb, kCbc, kCfb1, kCfb8, kCfb64, kOfb };

// The state of one message: three schedules, the IV register and the offset.
struct Tdes {
  DES_key_schedule ks[3];
  DES_cblock iv = {};
  int num = 0;

  // Runs one call over `in` (for CFB1, one byte per bit, in its top bit).
  Bytes Run(Mode m, const Bytes& in, bool enc) {
    Bytes out(in.size());
    const long n = static_cast<long>(in.size());
    const int e = enc ? DES_ENCRYPT : DES_DECRYPT;
    switch (m) {
      case Mode::kEcb:
        for (size_t off = 0; off < in.size(); off += 8) {
          DES_cblock b;
          std::memcpy(b, in.data() + off, 8);
          DES_ecb3_encrypt(&b, &b, &ks[0], &ks[1], &ks[2], e);
          std::memcpy(out.data() + off, b, 8);
        }
        break;
      case Mode::kCbc:
        DES_ede3_cbc_encrypt(in.data(), out.data(), n, &ks[0], &ks[1], &ks[2], &iv, e);
        break;
      case Mode::kCfb1:
        DES_ede3_cfb_encrypt(in.data(), out.data(), 1, n, &ks[0], &ks[1], &ks[2], &iv, e);
        break;
      case Mode::kCfb8:
        DES_ede3_cfb_encrypt(in.data(), out.data(), 8, n, &ks[0], &ks[1], &ks[2], &iv, e);
        break;
      case Mode::kCfb64:
        DES_ede3_cfb64_encrypt(in.data(), out.data(), n, &ks[0], &ks[1], &ks[2], &iv, &num, e);
        break;
      case Mode::kOfb:
        DES_ede3_ofb64_encrypt(in.data(), out.data(), n, &ks[0], &ks[1], &ks[2], &iv, &num);
        break;
    }
    return out;
  }
};

// CFB1 files write bit strings ("0110"); the functions take one bit a byte.
Bytes BitsToBytes(const std::string& bits) {
  Bytes b;
  for (char c : bits) b.push_back(c == '1' ? 0x80 : 0x00);
  return b;
}
std::string BytesToBits(const Bytes& b) {
  std::string s;
  for (uint8_t x : b) s += (x & 0x80) ? '1' : '0';
  return s;
}

Bytes Decode(Mode m, const std::string& v) {
  return m == Mode::kCfb1 ? BitsToBytes(v) : FromHex(v);
}
std::string Encode(Mode m, const Bytes& b) {
  return m == Mode::kCfb1 ? BytesToBits(b) : ToHex(b);
}

Tdes FromRecord(const morvane_test::RspRecord& r) {
  Tdes t;
  if (r.Has("KEYs")) {
    for (auto& ks : t.ks) ks = Schedule(r.Get("KEYs"));
  } else {
    t.ks[0] = Schedule(r.Get("KEY1"));
    t.ks[1] = Schedule(r.Get("KEY2"));
    t.ks[2] = Schedule(r.Get("KEY3"));
  }
  if (r.Has("IV")) des_test::ToBlock(FromHex(r.Get("IV")), t.iv);
  return t;
}

struct FileCase {
  const char* file;
  Mode mode;
};

void PrintTo(const FileCase& c, std::ostream* os) {
  *os << c.file;
}

std::string CaseName(const ::testing::TestParamInfo<FileCase>& info) {
  std::string s = info.param.file;
  s = s.substr(s.rfind('/') + 1);
  return s.substr(0, s.find('.'));
}

// ---- known answers and multi-block messages --------------------------------

class TdesVectors : public ::testing::TestWithParam<FileCase> {};

TEST_P(TdesVectors, EncryptAndDecrypt) {
  const FileCase c = GetParam();
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("nist-cavp/des/") + c.file);
  const auto records = morvane_test::ReadRsp(path);
  ASSERT_FALSE(records.empty());
  for (const auto& r : records) {
    const bool enc = r.section.count("ENCRYPT") != 0;
    const Bytes in = Decode(c.mode, r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT"));
    const std::string want = r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT");
    Tdes t = FromRecord(r);
    EXPECT_EQ(Encode(c.mode, t.Run(c.mode, in, enc)), want)
        << c.file << " COUNT " << r.Get("COUNT");
    // In place, and one unit a call (the IV and offset carry the state).
    Tdes t2 = FromRecord(r);
    const size_t unit = c.mode == Mode::kEcb || c.mode == Mode::kCbc ? 8 : 1;
    Bytes pieces;
    for (size_t off = 0; off < in.size(); off += unit) {
      Bytes part(in.begin() + static_cast<long>(off), in.begin() + static_cast<long>(off + unit));
      part = t2.Run(c.mode, part, enc);
      pieces.insert(pieces.end(), part.begin(), part.end());
    }
    EXPECT_EQ(Encode(c.mode, pieces), want) << c.file << " COUNT " << r.Get("COUNT");
  }
}

#define TDES_FILES(dir, name, mode)                                                           \
  FileCase{dir "/T" name "vartext.rsp", mode}, FileCase{dir "/T" name "invperm.rsp", mode},   \
      FileCase{dir "/T" name "varkey.rsp", mode}, FileCase{dir "/T" name "permop.rsp", mode}, \
      FileCase {                                                                              \
    dir "/T" name "subtab.rsp", mode                                                          \
  }
#define MMT_FILES(name, mode)                                                               \
  FileCase{"tdesmmt/T" name "MMT1.rsp", mode}, FileCase{"tdesmmt/T" name "MMT2.rsp", mode}, \
      FileCase {                                                                            \
    "tdesmmt/T" name "MMT3.rsp", mode                                                       \
  }

// SP 800-20's tables in every mode (KAT_TDES) and the multi-block messages
// of the three keying options (tdesmmt).
INSTANTIATE_TEST_SUITE_P(
    Nist, TdesVectors,
    ::testing::Values(
        TDES_FILES("KAT_TDES", "ECB", Mode::kEcb), TDES_FILES("KAT_TDES", "CBC", Mode::kCbc),
        TDES_FILES("KAT_TDES", "CFB1", Mode::kCfb1), TDES_FILES("KAT_TDES", "CFB8", Mode::kCfb8),
        TDES_FILES("KAT_TDES", "CFB64", Mode::kCfb64), TDES_FILES("KAT_TDES", "OFB", Mode::kOfb),
        MMT_FILES("ECB", Mode::kEcb), MMT_FILES("CBC", Mode::kCbc), MMT_FILES("CFB1", Mode::kCfb1),
        MMT_FILES("CFB8", Mode::kCfb8), MMT_FILES("CFB64", Mode::kCfb64),
        MMT_FILES("OFB", Mode::kOfb)),
    CaseName);

// The same single-key tables through the single-DES functions of each mode.
class DesVectors : public ::testing::TestWithParam<FileCase> {};

TEST_P(DesVectors, SingleKeyModes) {
  const FileCase c = GetParam();
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("nist-cavp/des/") + c.file);
  for (const auto& r : morvane_test::ReadRsp(path)) {
    const bool enc = r.section.count("ENCRYPT") != 0;
    const Bytes in = Decode(c.mode, r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT"));
    DES_key_schedule ks = Schedule(r.Get("KEYs"));
    DES_cblock iv;
    des_test::ToBlock(FromHex(r.Get("IV")), iv);
    Bytes out(in.size());
    const long n = static_cast<long>(in.size());
    int num = 0;
    const int e = enc ? DES_ENCRYPT : DES_DECRYPT;
    switch (c.mode) {
      case Mode::kCbc:
        DES_ncbc_encrypt(in.data(), out.data(), n, &ks, &iv, e);
        break;
      case Mode::kCfb1:
        DES_cfb_encrypt(in.data(), out.data(), 1, n, &ks, &iv, e);
        break;
      case Mode::kCfb8:
        DES_cfb_encrypt(in.data(), out.data(), 8, n, &ks, &iv, e);
        break;
      case Mode::kCfb64:
        DES_cfb64_encrypt(in.data(), out.data(), n, &ks, &iv, &num, e);
        break;
      case Mode::kOfb:
        DES_ofb64_encrypt(in.data(), out.data(), n, &ks, &iv, &num);
        break;
      case Mode::kEcb:
        FAIL();
    }
    EXPECT_EQ(Encode(c.mode, out), r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT"))
        << c.file << " COUNT " << r.Get("COUNT");
  }
}

INSTANTIATE_TEST_SUITE_P(Nist, DesVectors,
                         ::testing::Values(TDES_FILES("KAT_TDES", "CBC", Mode::kCbc),
                                           TDES_FILES("KAT_TDES", "CFB1", Mode::kCfb1),
                                           TDES_FILES("KAT_TDES", "CFB8", Mode::kCfb8),
                                           TDES_FILES("KAT_TDES", "CFB64", Mode::kCfb64),
                                           TDES_FILES("KAT_TDES", "OFB", Mode::kOfb)),
                         CaseName);

// ---- Monte Carlo --------------------------------------------------------------

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
    switch (m) {
      case Mode::kEcb:
        x = out;
        break;
      case Mode::kCbc:
        x = enc ? before : out;
        break;
      case Mode::kOfb:
        x = before;
        break;
      case Mode::kCfb1:
      case Mode::kCfb8:
      case Mode::kCfb64:
        if (enc) {
          x.assign(before.begin(), before.begin() + static_cast<long>(x.size()));
          if (m == Mode::kCfb1) x[0] &= 0x80;
        } else {
          for (size_t i = 0; i < x.size(); i++) x[i] ^= out[i];
        }
        break;
    }
  }
  return out;
}

class TdesMonteCarlo : public ::testing::TestWithParam<FileCase> {};

TEST_P(TdesMonteCarlo, SampledRecords) {
  const FileCase c = GetParam();
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("nist-cavp/des/") + c.file);
  const auto records = morvane_test::ReadRsp(path);
  ASSERT_EQ(records.size(), 800u);
  // Every record states its own inputs; a sample of them keeps the test fast.
  for (size_t i = 0; i < records.size(); i += 80) {
    const auto& r = records[i];
    const bool enc = r.section.count("ENCRYPT") != 0;
    Tdes t = FromRecord(r);
    const Bytes in = Decode(c.mode, r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT"));
    EXPECT_EQ(Encode(c.mode, MonteCarlo(c.mode, t, in, enc)),
              r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT"))
        << c.file << (enc ? " ENCRYPT" : " DECRYPT") << " COUNT " << r.Get("COUNT");
  }
}

#define MCT_FILES(name, mode)                                                                   \
  FileCase{"tdesmct/T" name "Monte1.rsp", mode}, FileCase{"tdesmct/T" name "Monte2.rsp", mode}, \
      FileCase {                                                                                \
    "tdesmct/T" name "Monte3.rsp", mode                                                         \
  }

INSTANTIATE_TEST_SUITE_P(
    Nist, TdesMonteCarlo,
    ::testing::Values(MCT_FILES("ECB", Mode::kEcb), MCT_FILES("CBC", Mode::kCbc),
                      MCT_FILES("CFB1", Mode::kCfb1), MCT_FILES("CFB8", Mode::kCfb8),
                      MCT_FILES("CFB64", Mode::kCfb64), MCT_FILES("OFB", Mode::kOfb)),
    CaseName);

// ---- modes without published vectors ----------------------------------------

TEST(TdesModes, SameKeyThriceIsSingleDes) {
  DES_key_schedule ks = Schedule("0123456789abcdef");
  Lcg rng(20);
  const Bytes pt = rng.Fill(37);
  DES_cblock iv1 = {1, 2, 3, 4, 5, 6, 7, 8}, iv2 = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes a(40), b(40);
  int n1 = 0, n2 = 0;
  DES_ede3_cfb64_encrypt(pt.data(), a.data(), 37, &ks, &ks, &ks, &iv1, &n1, DES_ENCRYPT);
  DES_cfb64_encrypt(pt.data(), b.data(), 37, &ks, &iv2, &n2, DES_ENCRYPT);
  EXPECT_EQ(a, b);
  EXPECT_EQ(n1, n2);
  EXPECT_EQ(std::memcmp(iv1, iv2, 8), 0);
  DES_ede3_ofb64_encrypt(pt.data(), a.data(), 37, &ks, &ks, &ks, &iv1, &n1);
  DES_ofb64_encrypt(pt.data(), b.data(), 37, &ks, &iv2, &n2);
  EXPECT_EQ(a, b);
  for (int k : {1, 7, 8, 12, 32, 40, 64}) {
    DES_ede3_cfb_encrypt(pt.data(), a.data(), k, 37, &ks, &ks, &ks, &iv1, DES_ENCRYPT);
    DES_cfb_encrypt(pt.data(), b.data(), k, 37, &ks, &iv2, DES_ENCRYPT);
    EXPECT_EQ(a, b) << k;
    EXPECT_EQ(std::memcmp(iv1, iv2, 8), 0) << k;
  }
  DES_ede3_cbc_encrypt(pt.data(), a.data(), 37, &ks, &ks, &ks, &iv1, DES_ENCRYPT);
  DES_ncbc_encrypt(pt.data(), b.data(), 37, &ks, &iv2, DES_ENCRYPT);
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::memcmp(iv1, iv2, 8), 0);
}

TEST(TdesModes, CfbBadWidthsTouchNothing) {
  DES_key_schedule ks = Schedule("0123456789abcdef");
  const Bytes pt(16, 0x33);
  for (int bad : {0, -3, 65}) {
    Bytes out(16, 0xee);
    DES_cblock iv = {9, 9, 9, 9, 9, 9, 9, 9};
    DES_ede3_cfb_encrypt(pt.data(), out.data(), bad, 16, &ks, &ks, &ks, &iv, DES_ENCRYPT);
    EXPECT_EQ(out, Bytes(16, 0xee));
    EXPECT_EQ(ToHex(des_test::FromBlock(iv)), "0909090909090909");
  }
}

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
    Bytes ct(padded);
    DES_cblock iv1, iv2;
    des_test::ToBlock(iv1b, iv1);
    des_test::ToBlock(iv2b, iv2);
    DES_ede3_cbcm_encrypt(pt.data(), ct.data(), static_cast<long>(len), &k1, &k2, &k3, &iv1, &iv2,
                          DES_ENCRYPT);
    EXPECT_EQ(ToHex(ct), ToHex(want)) << len;
    EXPECT_EQ(ToHex(des_test::FromBlock(iv1)), ToHex(m)) << len;  // the last mask
    EXPECT_EQ(ToHex(des_test::FromBlock(iv2)), ToHex(chain)) << len;

    Bytes back(padded, 0xee);
    des_test::ToBlock(iv1b, iv1);
    des_test::ToBlock(iv2b, iv2);
    DES_ede3_cbcm_encrypt(ct.data(), back.data(), static_cast<long>(len), &k1, &k2, &k3, &iv1, &iv2,
                          DES_DECRYPT);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(len)), pt) << len;
    if (len < padded) {
      EXPECT_EQ(back[len], 0xee);
    }
    EXPECT_EQ(ToHex(des_test::FromBlock(iv1)), ToHex(m)) << len;
    EXPECT_EQ(ToHex(des_test::FromBlock(iv2)), ToHex(chain)) << len;
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
    DES_cblock iv1, iv2;
    des_test::ToBlock(iv1b, iv1);
    des_test::ToBlock(iv2b, iv2);
    DES_3cbc_encrypt(reinterpret_cast<DES_cblock*>(in.data()),
                     reinterpret_cast<DES_cblock*>(ct.data()), static_cast<long>(len), k1, k2, &iv1,
                     &iv2, DES_ENCRYPT);
    EXPECT_EQ(ToHex(ct), ToHex(buf)) << len;
    // iv1 ends as the last inner block, iv2 as the last outer one, also for a
    // message shorter than a block.
    EXPECT_EQ(ToHex(des_test::FromBlock(iv1)), ToHex(inner)) << len;
    EXPECT_EQ(ToHex(des_test::FromBlock(iv2)), ToHex(outer)) << len;

    Bytes back(padded, 0xee);
    DES_cblock d1, d2;
    des_test::ToBlock(iv1b, d1);
    des_test::ToBlock(iv2b, d2);
    DES_3cbc_encrypt(reinterpret_cast<DES_cblock*>(ct.data()),
                     reinterpret_cast<DES_cblock*>(back.data()), static_cast<long>(len), k1, k2,
                     &d1, &d2, DES_DECRYPT);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(len)), pt) << len;
    EXPECT_EQ(std::memcmp(d1, iv1, 8), 0) << len;
    EXPECT_EQ(std::memcmp(d2, iv2, 8), 0) << len;
  }
  // Nothing to process: the IVs stay as they were.
  DES_cblock iv1 = {1, 1, 1, 1, 1, 1, 1, 1}, iv2 = {2, 2, 2, 2, 2, 2, 2, 2};
  DES_cblock block = {};
  DES_3cbc_encrypt(&block, &block, 0, k1, k2, &iv1, &iv2, DES_ENCRYPT);
  EXPECT_EQ(ToHex(des_test::FromBlock(iv1)), "0101010101010101");
  EXPECT_EQ(ToHex(des_test::FromBlock(iv2)), "0202020202020202");
}

}  // namespace
