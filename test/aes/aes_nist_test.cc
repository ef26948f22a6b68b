// AES against the NIST CAVP response files (AESAVS): known-answer (GFSbox,
// KeySbox, VarKey, VarTxt), multi-block message and Monte Carlo tests for
// ECB, CBC, CFB1, CFB8, CFB128 and OFB, read from the vectors folder.

#include <morvane/aes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aes_test_modes.h"
#include "test_support.h"

namespace {

using aes_test::BitsToBytes;
using aes_test::Bytes;
using aes_test::BytesToBits;
using aes_test::Chain;
using aes_test::FromHex;
using aes_test::Mode;
using aes_test::ModeName;
using aes_test::ToHex;
using morvane_test::ReadRsp;
using morvane_test::RspRecord;

const Mode kCavpModes[] = {Mode::kEcb,  Mode::kCbc,    Mode::kCfb1,
                           Mode::kCfb8, Mode::kCfb128, Mode::kOfb};

// A record's text as bytes plus its length in units (bits for CFB-1).
struct Text {
  Bytes bytes;
  size_t units;
};
Text ReadText(Mode m, const std::string& field) {
  if (m == Mode::kCfb1) return {BitsToBytes(field), field.size()};
  Bytes b = FromHex(field);
  return {b, b.size()};
}
std::string ShowText(Mode m, const Bytes& b, size_t units) {
  return m == Mode::kCfb1 ? BytesToBits(b, units) : ToHex(b.data(), units);
}

// Checks every record of a KAT or MMT file: one call, random pieces and in
// place, both directions as the file's sections say.
void CheckKnownAnswers(Mode m, const std::string& path) {
  const std::vector<RspRecord> records = ReadRsp(path);
  ASSERT_FALSE(records.empty()) << path;
  for (const RspRecord& r : records) {
    const bool enc = r.section.count("ENCRYPT") != 0;
    SCOPED_TRACE(testing::Message()
                 << path << (enc ? " encrypt" : " decrypt") << " COUNT " << r.Get("COUNT"));
    const Bytes key = FromHex(r.Get("KEY"));
    const Bytes iv = r.Has("IV") ? FromHex(r.Get("IV")) : Bytes();
    const Text in = ReadText(m, r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT"));
    const std::string want = r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT");
    for (unsigned seed : {0u, 7u, 8u}) {
      for (bool in_place : {false, true}) {
        const Bytes out = aes_test::RunMode(m, key, enc, iv, in.bytes, in.units, {seed, in_place});
        ASSERT_EQ(ShowText(m, out, in.units), want) << "seed " << seed << " in place " << in_place;
      }
    }
  }
}

class AesCavp : public testing::TestWithParam<Mode> {};

TEST_P(AesCavp, KnownAnswerTests) {
  const Mode m = GetParam();
  for (const char* kind : {"GFSbox", "KeySbox", "VarKey", "VarTxt"}) {
    for (const char* bits : {"128", "192", "256"}) {
      const std::string name =
          std::string("nist-cavp/aes/KAT_AES/") + ModeName(m) + kind + bits + ".rsp";
      MORVANE_VECTOR_PATH_OR_SKIP(path, name);
      CheckKnownAnswers(m, path);
    }
  }
}

TEST_P(AesCavp, MultiblockMessageTests) {
  const Mode m = GetParam();
  for (const char* bits : {"128", "192", "256"}) {
    const std::string name =
        std::string("nist-cavp/aes/aesmmt/") + ModeName(m) + "MMT" + bits + ".rsp";
    MORVANE_VECTOR_PATH_OR_SKIP(path, name);
    CheckKnownAnswers(m, path);
  }
}

// The Monte Carlo inner loop of AESAVS (6.4.x), from one record's key, IV and
// first input: 1000 steps of one unit each (a block, a byte for CFB8, a bit
// for CFB1) with the chaining state carried over; returns the last output.
// ECB feeds each output back as the next input; the other modes take the
// units of the IV for the first `lag` inputs after the first and then the
// output produced `lag` steps earlier (lag: 1 block, 16 bytes, 128 bits).
std::string MonteCarlo(Mode m, bool enc, const RspRecord& r) {
  const size_t unit = (m == Mode::kCfb8 || m == Mode::kCfb1) ? 1 : 16;
  const size_t lag = m == Mode::kCfb8 ? 16 : m == Mode::kCfb1 ? 128 : 1;
  const Bytes key = FromHex(r.Get("KEY"));
  const Bytes iv = r.Has("IV") ? FromHex(r.Get("IV")) : Bytes(16);
  const AES_KEY k = aes_test::Schedule(key, aes_test::UsesDecryptSchedule(m, enc));
  Chain c;
  memcpy(c.iv, iv.data(), 16);
  // Unit j of the IV, in the form one step takes.
  uint8_t bit = 0;
  auto iv_unit = [&](size_t j) -> const uint8_t* {
    if (m == Mode::kCfb1) {
      bit = static_cast<uint8_t>(((iv[j / 8] >> (7 - j % 8)) & 1) << 7);
      return &bit;
    }
    return m == Mode::kCfb8 ? &iv[j] : iv.data();
  };
  Bytes outs(1000 * unit);  // output of step j at unit * j
  uint8_t x[16];
  memcpy(x, ReadText(m, r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT")).bytes.data(), unit);
  for (size_t j = 0; j < 1000; j++) {
    uint8_t* y = &outs[unit * j];
    aes_test::Call(m, k, enc, x, y, m == Mode::kCfb1 ? 1 : unit, c);
    const uint8_t* next = m == Mode::kEcb ? y : j < lag ? iv_unit(j) : &outs[unit * (j - lag)];
    memcpy(x, next, unit);
  }
  return ShowText(m, Bytes(outs.end() - unit, outs.end()), m == Mode::kCfb1 ? 1 : unit);
}

TEST_P(AesCavp, MonteCarloTests) {
  const Mode m = GetParam();
  for (const char* bits : {"128", "192", "256"}) {
    const std::string name =
        std::string("nist-cavp/aes/aesmct/") + ModeName(m) + "MCT" + bits + ".rsp";
    MORVANE_VECTOR_PATH_OR_SKIP(path, name);
    const std::vector<RspRecord> records = ReadRsp(path);
    ASSERT_FALSE(records.empty()) << path;
    for (const RspRecord& r : records) {
      const bool enc = r.section.count("ENCRYPT") != 0;
      ASSERT_EQ(MonteCarlo(m, enc, r), r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT"))
          << path << (enc ? " encrypt" : " decrypt") << " COUNT " << r.Get("COUNT");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, AesCavp, testing::ValuesIn(kCavpModes),
                         [](const testing::TestParamInfo<Mode>& i) {
                           return std::string(ModeName(i.param));
                         });

}  // namespace
