// Helpers of the elliptic-curve suites: owning pointers, the curves of
// test/data/ec/curves.txt (typed from FIPS 186-2 and SEC 2) built as groups
// of a chosen method, and points to and from hexadecimal octets.
#ifndef MORVANE_TEST_EC_TEST_UTIL_H
#define MORVANE_TEST_EC_TEST_UTIL_H

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>

#include <gtest/gtest.h>

#include "bn_test_util.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ec_test {

// Numbers, contexts and the seeded generator of the big-number suites.
using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;
using bn_test::SplitMix64;

struct GroupFree {
  void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
using Group = std::unique_ptr<EC_GROUP, GroupFree>;
struct PointFree {
  void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
using Point = std::unique_ptr<EC_POINT, PointFree>;

// The three methods over GF(p), by name for test names.
struct MethodInfo {
  const char* name;
  const EC_METHOD* (*get)(void);
};
extern const MethodInfo kMethods[3];  // simple, Montgomery, NIST
inline void PrintTo(const MethodInfo& m, std::ostream* os) {
  *os << m.name;
}

// One curve of test/data/ec/curves.txt.
struct Curve {
  std::string name;
  int nid = 0;
  std::string p, a, b, gx, gy, n, h;
  bool nist() const { return name.rfind("P-", 0) == 0; }
};
// Every curve of the file, in file order; one by name (fails when absent).
const std::vector<Curve>& Curves();
const Curve& CurveNamed(const std::string& name);

// The curve as a group of `meth` with generator, order and cofactor (no
// curve name); null, with the errors left queued, when the method refuses
// the curve.
Group MakeGroup(const Curve& c, const EC_METHOD* meth);
// The affine point (x, y) given in hex, set through the group's method.
Point Affine(const EC_GROUP* g, const std::string& x, const std::string& y);

// The point's octets in `form` as upper-case hex ("" on failure).
std::string Encode(const EC_GROUP* g, const EC_POINT* p,
                   point_conversion_form_t form = POINT_CONVERSION_UNCOMPRESSED);
// A point decoded from hex octets; null (errors queued) when refused.
Point Decode(const EC_GROUP* g, const std::string& hex);

// The scalars for a group of order n and prime p of `bits` bits: 0, 1, -1,
// n - 1, n, n + 1, the all-ones scalar of the field size, each 5-bit
// pattern repeated over bits(p) bits (the signed windows' digits 16 and
// -16, 15, 1, 17 - 32 and -2 in every window), 2^b and 2^(b+1) - 1 for the
// top bits b of a 5-bit signed window or a 4-bit fixed window (the last
// windows' edges), n - j for j = 2 .. 18 (the negated table entries on the
// last window), the engine's full length 2^(64 N) - 1 and a multiple of n
// plus 5 past the order's length, one past the engine's length (the
// windowed path), then
// `rounds` random ones from the seed (every seventh negative).
std::vector<Bn> EdgeAndRandomScalars(const BIGNUM* n, int bits, int rounds, uint64_t seed);

// k G (p null) or k P as uncompressed hex octets ("failed" on failure),
// through EC_POINT_mul (engine true) or ec_wNAF_mul, which the constant-time
// engine bypasses.
std::string Product(const EC_GROUP* g, const EC_POINT* p, const BIGNUM* k, bool engine);

}  // namespace ec_test

#endif  // MORVANE_TEST_EC_TEST_UTIL_H
