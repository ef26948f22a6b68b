// Cross-check against an independent implementation: Nettle's
// ecc_point_mul_g and ecc_point_mul on secp192r1 to secp521r1 (the NIST
// curves P-192 to P-521).  For 1,000 pseudo-random pairs of scalars a and b
// per curve (four tests of 250 with their own seeds), Nettle gives P = a G
// and Q = b G, and this library, in each of the three GF(p) methods, adds,
// doubles and multiplies them by small scalars k: the results must be
// Nettle's (a + b) G, 2 (a + b) G, 2a G and (k b) G.  Every 25th round also
// compares octets and Nettle's own k Q (ecc_point_mul), and a few full-size
// multiples of G are compared with Nettle's.  The named groups' one-term
// products (k G and k P, 1,000 random k per curve) are compared with
// ecc_point_mul_g and ecc_point_mul, and so are the products by the edge
// scalars of the engine's recoding (EdgeAndRandomScalars, reduced into
// [1, n)).  (secp256k1 is not among Nettle's curves; the differential test
// covers it.)

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gmp.h>
#include <nettle/ecc-curve.h>
#include <nettle/ecc.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

// A GMP integer with its clean-up.
struct Mpz {
  mpz_t v;
  Mpz() { mpz_init(v); }
  explicit Mpz(const std::string& hex) { mpz_init_set_str(v, hex.c_str(), 16); }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
  std::string Hex() const {
    char* s = mpz_get_str(nullptr, 16, v);
    std::string out(s);
    void (*release)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &release);
    release(s, out.size() + 1);
    for (char& ch : out) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    return out;
  }
};

// Nettle's point k G (k in [1, n)) as uncompressed hex octets of L bytes.
class NettleCurve {
 public:
  NettleCurve(const struct ecc_curve* ecc, size_t L) : ecc_(ecc), L_(L) {}
  std::string MulG(const Mpz& k) const {
    struct ecc_scalar s;
    struct ecc_point r;
    ecc_scalar_init(&s, ecc_);
    ecc_point_init(&r, ecc_);
    EXPECT_EQ(ecc_scalar_set(&s, k.v), 1);
    ecc_point_mul_g(&r, &s);
    std::string out = Octets(&r);
    ecc_point_clear(&r);
    ecc_scalar_clear(&s);
    return out;
  }
  // k P for P given as the affine coordinates (x, y).
  std::string Mul(const Mpz& k, const Mpz& x, const Mpz& y) const {
    struct ecc_scalar s;
    struct ecc_point p, r;
    ecc_scalar_init(&s, ecc_);
    ecc_point_init(&p, ecc_);
    ecc_point_init(&r, ecc_);
    EXPECT_EQ(ecc_scalar_set(&s, k.v), 1);
    EXPECT_EQ(ecc_point_set(&p, x.v, y.v), 1);
    ecc_point_mul(&r, &s, &p);
    std::string out = Octets(&r);
    ecc_point_clear(&r);
    ecc_point_clear(&p);
    ecc_scalar_clear(&s);
    return out;
  }

 private:
  std::string Octets(const struct ecc_point* p) const {
    Mpz x, y;
    ecc_point_get(p, x.v, y.v);
    return "04" + Pad(x.Hex()) + Pad(y.Hex());
  }
  std::string Pad(std::string hex) const {
    while (hex.size() < 2 * L_) hex = "0" + hex;
    return hex;
  }
  const struct ecc_curve* ecc_;
  size_t L_;
};

struct Case {
  const char* curve;
  const struct ecc_curve* (*nettle)(void);
  int part;  // the rounds are split in kParts tests of their own seeds
};
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.curve << " part " << c.part;
}

constexpr int kParts = 4;
constexpr int kRoundsPerPart = 250;

class EcNettle : public testing::TestWithParam<Case> {};

// A random scalar in [1, n).
void RandomScalar(SplitMix64& rng, const Mpz& n, Mpz& out) {
  std::string hex;
  for (size_t i = 0; i < n.Hex().size() / 16 + 2; i++) {
    char w[17];
    snprintf(w, sizeof w, "%016llX", static_cast<unsigned long long>(rng.Next()));
    hex += w;
  }
  mpz_set_str(out.v, hex.c_str(), 16);
  Mpz n1;
  mpz_sub_ui(n1.v, n.v, 1);
  mpz_mod(out.v, out.v, n1.v);
  mpz_add_ui(out.v, out.v, 1);
}

// t = (x * m) mod n.
void MulMod(Mpz& t, const Mpz& x, unsigned long m, const Mpz& n) {
  mpz_mul_ui(t.v, x.v, m);
  mpz_mod(t.v, t.v, n.v);
}

// True when `ours` is the point whose octets Nettle gave.
bool Same(const EC_GROUP* g, const EC_POINT* ours, const std::string& theirs, BN_CTX* ctx) {
  Point ref = Decode(g, theirs);
  return ref && EC_POINT_cmp(g, ours, ref.get(), ctx) == 0;
}

// Each round draws a and b; Nettle gives P = a G, Q = b G and the expected
// (a + b) G, 2 (a + b) G, 2a G and (k b) G; every method computes them from
// P and Q.  The comparisons read Nettle's points into the group and compare
// them with EC_POINT_cmp; now and then the octets are compared too, and k Q
// against Nettle's ecc_point_mul, and a full-size multiple of G.
TEST_P(EcNettle, SumsDoublesAndMultiplesAgree) {
  const Case& k = GetParam();
  const Curve& c = CurveNamed(k.curve);
  const size_t L = (c.p.size() + 1) / 2;
  NettleCurve nettle(k.nettle(), L);
  Group groups[3];
  for (int m = 0; m < 3; m++) {
    groups[m] = MakeGroup(c, kMethods[m].get());
    ASSERT_TRUE(groups[m]) << kMethods[m].name;
  }
  Ctx ctx(BN_CTX_new());
  BN_CTX* cx = ctx.get();
  // Nettle's generator is the one typed from the standard.
  Mpz one("1");
  ASSERT_EQ(nettle.MulG(one), "04" + c.gx + c.gy);
  Mpz n(c.n), a, b, t, x, y;
  SplitMix64 rng{0xEC0DEULL * static_cast<uint64_t>(k.part + 1) ^ static_cast<uint64_t>(c.nid)};
  for (int i = 0; i < kRoundsPerPart && !HasFailure(); i++) {
    RandomScalar(rng, n, a);
    RandomScalar(rng, n, b);
    mpz_add(t.v, a.v, b.v);
    mpz_mod(t.v, t.v, n.v);
    if (mpz_sgn(t.v) == 0) continue;  // a + b = n: the sum is infinity
    const unsigned long small = 1 + static_cast<unsigned long>(rng.Next() % 0xFFF);
    const std::string pa = nettle.MulG(a), qb = nettle.MulG(b);
    const std::string sum = nettle.MulG(t);
    MulMod(t, t, 2, n);
    const std::string sum2 = nettle.MulG(t);
    MulMod(t, a, 2, n);
    const std::string dbl = nettle.MulG(t);
    MulMod(t, b, small, n);
    const std::string kq = nettle.MulG(t);
    char khex[17];
    snprintf(khex, sizeof khex, "%lX", small);
    Bn kbn = Hex(khex);
    SCOPED_TRACE("round " + std::to_string(i) + ": a = " + a.Hex() + ", b = " + b.Hex() +
                 ", k = " + khex);
    for (int m = 0; m < 3; m++) {
      SCOPED_TRACE(kMethods[m].name);
      const EC_GROUP* g = groups[m].get();
      Point p = Decode(g, pa), q = Decode(g, qb);
      Point s(EC_POINT_new(g)), r(EC_POINT_new(g));
      ASSERT_TRUE(p && q && s && r);
      // (a + b) G, then 2 (a + b) G from that projective sum.
      ASSERT_EQ(EC_POINT_add(g, s.get(), p.get(), q.get(), cx), 1);
      EXPECT_TRUE(Same(g, s.get(), sum, cx));
      ASSERT_EQ(EC_POINT_dbl(g, r.get(), s.get(), cx), 1);
      EXPECT_TRUE(Same(g, r.get(), sum2, cx));
      if (i % 25 == 0) {
        EXPECT_EQ(Encode(g, r.get()), sum2);
      }
      // 2a G.
      ASSERT_EQ(EC_POINT_dbl(g, r.get(), p.get(), cx), 1);
      EXPECT_TRUE(Same(g, r.get(), dbl, cx));
      // k Q for a small k.
      ASSERT_EQ(EC_POINT_mul(g, r.get(), nullptr, q.get(), kbn.get(), cx), 1);
      EXPECT_TRUE(Same(g, r.get(), kq, cx));
    }
    // Nettle's own k Q (ecc_point_mul), and a full-size multiple of G.
    if (i % 25 == 0) {
      Mpz km(khex);
      mpz_set_str(x.v, qb.substr(2, 2 * L).c_str(), 16);
      mpz_set_str(y.v, qb.substr(2 + 2 * L).c_str(), 16);
      EXPECT_EQ(nettle.Mul(km, x, y), kq);
    }
    if (i % 125 == 0) {
      for (int m = 0; m < 3; m++) {
        const EC_GROUP* g = groups[m].get();
        Point r(EC_POINT_new(g));
        ASSERT_EQ(EC_POINT_mul(g, r.get(), Hex(a.Hex()).get(), nullptr, nullptr, cx), 1);
        EXPECT_EQ(Encode(g, r.get()), pa) << kMethods[m].name;
      }
    }
  }
  EXPECT_ERRORS({});
}

// The named groups' one-term products (the constant-time engine) against
// Nettle: k G with ecc_point_mul_g and k P with ecc_point_mul (P the
// previous round's k G), 1,000 random k in [1, n) per curve after the
// engine's edge scalars.
struct NamedCase {
  int nid;
  const char* curve;
  const struct ecc_curve* (*nettle)(void);
  int parts;  // 1,000 rounds split in this many tests
  int part;
};
void PrintTo(const NamedCase& c, std::ostream* os) {
  *os << c.curve << " part " << c.part;
}

class EcNettleNamed : public testing::TestWithParam<NamedCase> {};

TEST_P(EcNettleNamed, OneTermProductsAgree) {
  const NamedCase& k = GetParam();
  const Curve& c = CurveNamed(k.curve);
  const size_t L = (c.p.size() + 1) / 2;
  NettleCurve nettle(k.nettle(), L);
  Group g(EC_GROUP_new_by_curve_name(k.nid));
  ASSERT_TRUE(g);
  Ctx ctx(BN_CTX_new());
  Mpz n(c.n), a, x, y;
  SplitMix64 rng{0x4E47ULL * static_cast<uint64_t>(k.part + 1) ^ static_cast<uint64_t>(k.nid)};
  std::string prev = "04" + c.gx + c.gy;
  // The first part starts with the engine's edge scalars (ec_test_util.h),
  // reduced modulo n, those that are 0 left out (Nettle takes k in [1, n)).
  std::vector<std::string> edges;
  if (k.part == 0) {
    Bn bn_n = Hex(c.n), kb(BN_new());
    const int bits = BN_num_bits(Hex(c.p).get());
    for (const Bn& e : EdgeAndRandomScalars(bn_n.get(), bits, 0, 0)) {
      ASSERT_EQ(BN_nnmod(kb.get(), e.get(), bn_n.get(), ctx.get()), 1);
      if (!BN_is_zero(kb.get())) edges.push_back(Show(kb.get()));
    }
  }
  const int rounds = static_cast<int>(edges.size()) + 1000 / k.parts;
  for (int i = 0; i < rounds && !HasFailure(); i++) {
    if (static_cast<size_t>(i) < edges.size())
      mpz_set_str(a.v, edges[static_cast<size_t>(i)].c_str(), 16);
    else
      RandomScalar(rng, n, a);
    SCOPED_TRACE("k = " + a.Hex());
    Bn kb = Hex(a.Hex());
    Point r(EC_POINT_new(g.get()));
    ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), kb.get(), nullptr, nullptr, ctx.get()), 1);
    const std::string kg = nettle.MulG(a);
    EXPECT_EQ(Encode(g.get(), r.get()), kg);
    Point p = Decode(g.get(), prev);
    ASSERT_TRUE(p);
    ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), nullptr, p.get(), kb.get(), ctx.get()), 1);
    mpz_set_str(x.v, prev.substr(2, 2 * L).c_str(), 16);
    mpz_set_str(y.v, prev.substr(2 + 2 * L).c_str(), 16);
    EXPECT_EQ(Encode(g.get(), r.get()), nettle.Mul(a, x, y));
    prev = kg;
  }
  EXPECT_ERRORS({});
}

const struct ecc_curve* Secp192(void) {
  return nettle_get_secp_192r1();
}
const struct ecc_curve* Secp224(void) {
  return nettle_get_secp_224r1();
}
const struct ecc_curve* Secp256(void) {
  return nettle_get_secp_256r1();
}
const struct ecc_curve* Secp384(void) {
  return nettle_get_secp_384r1();
}
const struct ecc_curve* Secp521(void) {
  return nettle_get_secp_521r1();
}

std::vector<Case> AllCases() {
  std::vector<Case> out;
  const std::pair<const char*, const struct ecc_curve* (*)(void)> curves[] = {{"P-192", Secp192},
                                                                              {"P-224", Secp224},
                                                                              {"P-256", Secp256},
                                                                              {"P-384", Secp384},
                                                                              {"P-521", Secp521}};
  for (const auto& [name, get] : curves)
    for (int part = 0; part < kParts; part++) out.push_back({name, get, part});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Curves, EcNettle, testing::ValuesIn(AllCases()), [](const auto& i) {
  return "P" + std::string(i.param.curve).substr(2) + "_" + std::to_string(i.param.part);
});

std::vector<NamedCase> NamedCases() {
  std::vector<NamedCase> out;
  const NamedCase curves[] = {{409, "P-192", Secp192, 4, 0},
                              {713, "P-224", Secp224, 4, 0},
                              {415, "P-256", Secp256, 4, 0},
                              {715, "P-384", Secp384, 8, 0},
                              {716, "P-521", Secp521, 20, 0}};
  for (const NamedCase& c : curves)
    for (int part = 0; part < c.parts; part++)
      out.push_back({c.nid, c.curve, c.nettle, c.parts, part});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Named, EcNettleNamed, testing::ValuesIn(NamedCases()), [](const auto& i) {
  return "P" + std::string(i.param.curve).substr(2) + "_" + std::to_string(i.param.part);
});

}  // namespace
