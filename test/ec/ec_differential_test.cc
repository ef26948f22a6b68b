// The three GF(p) methods against each other: on each curve of
// test/data/ec/curves.txt (FIPS 186-2, SEC 2), 1,000 pseudo-random points,
// their sums, doubles and small multiples agree in every method that takes
// the curve (the NIST method only the five NIST primes).  The methods run the
// same formulas on differently represented field elements, so the Jacobian
// coordinates they give (read back as plain numbers) must be identical, not
// only the points they stand for; every 25th point is also compared as
// octets in the three forms.  Each method keeps its own points, so
// projective inputs of every shape meet every method's formulas.
//
// The points walk from the generator by adding multiples k G (k random, 64
// bits) chosen at random, one addition a step.  The 1,000 points of a curve
// are four walks of 250 with their own seeds, one test each.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

constexpr int kParts = 4;
constexpr int kPointsPerPart = 250;
constexpr int kSteps = 8;

Bn Word64(uint64_t v) {
  char text[17];
  snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(v));
  return Hex(text);
}

// One method's copy of the walk: its group, the steps, and the points.
struct Lane {
  Group g;
  std::vector<Point> steps;
  Point p, q, r;
};

// The Jacobian coordinates of a point as plain numbers.
std::string Jacobian(const EC_GROUP* g, const EC_POINT* p, BN_CTX* ctx) {
  Bn x(BN_new()), y(BN_new()), z(BN_new());
  if (!EC_POINT_get_Jprojective_coordinates_GFp(g, p, x.get(), y.get(), z.get(), ctx)) return "?";
  return Show(x.get()) + ":" + Show(y.get()) + ":" + Show(z.get());
}

struct Part {
  const char* curve;
  int part;
};
void PrintTo(const Part& p, std::ostream* os) {
  *os << p.curve << " part " << p.part;
}

class EcDifferential : public testing::TestWithParam<Part> {};

TEST_P(EcDifferential, MethodsAgree) {
  const Curve& c = CurveNamed(GetParam().curve);
  SplitMix64 rng{0x5EC0FFEEULL * static_cast<uint64_t>(GetParam().part + 1) ^
                 static_cast<uint64_t>(c.nid)};
  std::vector<uint64_t> step_scalars;
  for (int i = 0; i < kSteps; i++) step_scalars.push_back(rng.Next());
  Ctx ctx(BN_CTX_new());
  std::vector<Lane> lanes;
  for (const MethodInfo& m : kMethods) {
    if (m.get() == EC_GFp_nist_method() && !c.nist()) continue;
    Lane lane;
    lane.g = MakeGroup(c, m.get());
    ASSERT_TRUE(lane.g) << m.name;
    const EC_GROUP* g = lane.g.get();
    for (uint64_t k : step_scalars) {
      lane.steps.emplace_back(EC_POINT_new(g));
      ASSERT_EQ(
          EC_POINT_mul(g, lane.steps.back().get(), Word64(k).get(), nullptr, nullptr, ctx.get()),
          1);
    }
    // Half of the steps affine, half projective.
    for (int i = 0; i < kSteps; i += 2)
      ASSERT_EQ(EC_POINT_make_affine(g, lane.steps[i].get(), ctx.get()), 1);
    lane.p.reset(EC_POINT_dup(EC_GROUP_get0_generator(g), g));
    lane.q.reset(EC_POINT_new(g));
    lane.r.reset(EC_POINT_new(g));
    lanes.push_back(std::move(lane));
  }
  ASSERT_GE(lanes.size(), 2u);
  for (int i = 0; i < kPointsPerPart; i++) {
    const int s1 = static_cast<int>(rng.Next() % kSteps);
    const int s2 = static_cast<int>(rng.Next() % kSteps);
    Bn small = Word64(rng.Next() & 0xFF);
    const bool affine = (rng.Next() & 3) == 0;
    const bool octets = i % 25 == 0;
    std::vector<std::string> seen;
    for (Lane& l : lanes) {
      const EC_GROUP* g = l.g.get();
      BN_CTX* cx = ctx.get();
      std::string out;
      // p walks on; q = another step + p; then p + q, 2p and small * q.
      ASSERT_EQ(EC_POINT_add(g, l.p.get(), l.p.get(), l.steps[s1].get(), cx), 1);
      if (affine) {
        ASSERT_EQ(EC_POINT_make_affine(g, l.p.get(), cx), 1);
      }
      ASSERT_EQ(EC_POINT_add(g, l.q.get(), l.steps[s2].get(), l.p.get(), cx), 1);
      out += Jacobian(g, l.p.get(), cx) + " " + Jacobian(g, l.q.get(), cx);
      ASSERT_EQ(EC_POINT_add(g, l.r.get(), l.p.get(), l.q.get(), cx), 1);
      out += " " + Jacobian(g, l.r.get(), cx);
      if (octets) out += " " + Encode(g, l.r.get(), POINT_CONVERSION_COMPRESSED);
      ASSERT_EQ(EC_POINT_dbl(g, l.r.get(), l.p.get(), cx), 1);
      out += " " + Jacobian(g, l.r.get(), cx);
      if (octets) out += " " + Encode(g, l.r.get(), POINT_CONVERSION_HYBRID);
      ASSERT_EQ(EC_POINT_mul(g, l.r.get(), nullptr, l.q.get(), small.get(), cx), 1);
      out += " " + Jacobian(g, l.r.get(), cx);
      if (octets) {
        out += " " + Encode(g, l.r.get());
        EXPECT_EQ(EC_POINT_is_on_curve(g, l.r.get(), cx), 1);
      }
      seen.push_back(out);
    }
    for (size_t m = 1; m < seen.size(); m++)
      ASSERT_EQ(seen[m], seen[0]) << c.name << " point " << i << " method " << m;
  }
  EXPECT_ERRORS({});
}

std::vector<Part> AllParts() {
  std::vector<Part> out;
  for (const char* curve : {"P-192", "P-224", "P-256", "P-384", "P-521", "secp256k1"})
    for (int part = 0; part < kParts; part++) out.push_back({curve, part});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Curves, EcDifferential, testing::ValuesIn(AllParts()), [](const auto& i) {
  const std::string n = i.param.curve;
  return (n == "secp256k1" ? n : "P" + n.substr(2)) + "_" + std::to_string(i.param.part);
});

}  // namespace
