// Published points through EC_POINT_oct2point, in each method that takes the
// curve:
// - Project Wycheproof ecdh_secp{224,256,384,521}r1_ecpoint_test.json (public
//   keys as X9.62 octets): valid and acceptable (compressed) keys decode onto
//   the curve, invalid ones are refused for their reason;
// - NIST CAVP FIPS 186-2 and 186-3 ECDSA PKV.rsp (public-key validation),
//   prime-curve sections: P cases decode onto the curve, F cases are refused
//   ("1 - Q_x or Q_y out of range": invalid encoding; "2 - Point not on
//   curve": not on the curve).

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

// Hex of a coordinate at least `len` bytes long (longer values stay longer).
std::string Pad(std::string hex, size_t len) {
  if (hex.size() % 2 != 0) hex = "0" + hex;
  while (hex.size() < 2 * len) hex = "00" + hex;
  return hex;
}

bool Below(const std::string& hex, const std::string& p) {
  Bn v = Hex(hex.empty() ? "0" : hex), m = Hex(p);
  return BN_cmp(v.get(), m.get()) < 0;
}

// The reason for refusing Wycheproof's invalid octets: empty, a length of
// another curve or a coordinate not below p, no square root for X, or a
// point off the curve.
int ExpectedReason(const std::string& oct, const Curve& c) {
  const size_t L = (c.p.size() + 1) / 2;
  if (oct.empty()) return EC_R_BUFFER_TOO_SMALL;
  const std::string lead = oct.substr(0, 2);
  const bool compressed = lead == "02" || lead == "03";
  if (oct.size() != 2 * (compressed ? 1 + L : 1 + 2 * L)) return EC_R_INVALID_ENCODING;
  if (!Below(oct.substr(2, 2 * L), c.p)) return EC_R_INVALID_ENCODING;
  if (compressed) return EC_R_INVALID_COMPRESSED_POINT;
  if (!Below(oct.substr(2 + 2 * L), c.p)) return EC_R_INVALID_ENCODING;
  return EC_R_POINT_IS_NOT_ON_CURVE;
}

int FuncOf(int reason) {
  return reason == EC_R_INVALID_COMPRESSED_POINT ? EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES
                                                 : EC_F_EC_GFP_SIMPLE_OCT2POINT;
}

struct WycheproofFile {
  const char* file;
  const char* curve;
};
void PrintTo(const WycheproofFile& f, std::ostream* os) {
  *os << f.file;
}

class EcWycheproof : public testing::TestWithParam<WycheproofFile> {};

TEST_P(EcWycheproof, PublicPointsDecode) {
  const auto [file, curve] = GetParam();
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + file);
  const Curve& c = CurveNamed(curve);
  std::map<std::string, int> seen;
  for (const MethodInfo& m : kMethods) {
    Group g = MakeGroup(c, m.get());
    ASSERT_TRUE(g) << m.name;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      const std::string oct = t.Get("public");
      const std::string result = t.Get("result");
      SCOPED_TRACE(std::string(m.name) + " tcId " + std::to_string(t.id) + " " + result);
      Point p = Decode(g.get(), oct);
      if (result == "valid" || result == "acceptable") {
        ASSERT_TRUE(p) << morvane_test::DrainErrors();
        EXPECT_EQ(EC_POINT_is_on_curve(g.get(), p.get(), nullptr), 1);
        // Written back uncompressed it is the same point.
        EXPECT_EQ(EC_POINT_cmp(g.get(), Decode(g.get(), Encode(g.get(), p.get())).get(), p.get(),
                               nullptr),
                  0);
      } else {
        EXPECT_FALSE(p);
        const int reason = ExpectedReason(oct, c);
        EXPECT_ERRORS({{ERR_LIB_EC, FuncOf(reason), reason}});
        seen["reason " + std::to_string(reason)]++;
      }
      seen[result]++;
    }
  }
  EXPECT_GT(seen["valid"], 0);
  EXPECT_GT(seen["acceptable"], 0);
  EXPECT_GT(seen["invalid"], 0);
  EXPECT_GT(seen["reason " + std::to_string(EC_R_POINT_IS_NOT_ON_CURVE)], 0);
  EXPECT_GT(seen["reason " + std::to_string(EC_R_INVALID_COMPRESSED_POINT)], 0);
  EXPECT_GT(seen["reason " + std::to_string(EC_R_BUFFER_TOO_SMALL)], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, EcWycheproof,
    testing::Values(WycheproofFile{"ecdh_secp224r1_ecpoint_test.json", "P-224"},
                    WycheproofFile{"ecdh_secp256r1_ecpoint_test.json", "P-256"},
                    WycheproofFile{"ecdh_secp384r1_ecpoint_test.json", "P-384"},
                    WycheproofFile{"ecdh_secp521r1_ecpoint_test.json", "P-521"}),
    [](const auto& i) { return "P" + std::string(i.param.curve).substr(2); });

class EcPkv : public testing::TestWithParam<const char*> {};

TEST_P(EcPkv, PrimeCurveRows) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("nist-cavp/dss/") + GetParam() + "/PKV.rsp");
  std::map<std::string, Group> groups[3];
  int passed = 0, refused = 0;
  for (const auto& r : morvane_test::ReadRsp(path)) {
    const std::string name = r.section.begin()->first;
    if (name.rfind("P-", 0) != 0) continue;  // the binary curves come later
    const Curve& c = CurveNamed(name);
    const size_t L = (c.p.size() + 1) / 2;
    const std::string oct = "04" + Pad(r.Get("Qx"), L) + Pad(r.Get("Qy"), L);
    const std::string result = r.Get("Result");
    for (int m = 0; m < 3; m++) {
      Group& g = groups[m][name];
      if (!g) g = MakeGroup(c, kMethods[m].get());
      SCOPED_TRACE(name + " " + kMethods[m].name + " " + oct + " " + result);
      Point p = Decode(g.get(), oct);
      if (result[0] == 'P') {
        ASSERT_TRUE(p) << morvane_test::DrainErrors();
        EXPECT_EQ(EC_POINT_is_on_curve(g.get(), p.get(), nullptr), 1);
        passed++;
      } else {
        ASSERT_EQ(result[0], 'F');
        EXPECT_FALSE(p);
        const int reason = result.find("out of range") != std::string::npos
                               ? EC_R_INVALID_ENCODING
                               : EC_R_POINT_IS_NOT_ON_CURVE;
        EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_OCT2POINT, reason}});
        refused++;
      }
    }
  }
  EXPECT_GT(passed, 0);
  EXPECT_GT(refused, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, EcPkv,
                         testing::Values("186-2ecdsatestvectors", "186-3ecdsatestvectors"),
                         [](const auto& i) {
                           return std::string(i.param).substr(0, 5) == "186-2"
                                      ? std::string("Fips186_2")
                                      : std::string("Fips186_3");
                         });

}  // namespace
