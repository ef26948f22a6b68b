// Elliptic-curve point arithmetic in the three GF(p) methods (simple,
// Montgomery, NIST) on P-256 and in the simple and Montgomery methods on
// secp256k1 (the NIST method takes only the NIST primes): nanoseconds per
// EC_POINT_add of two projective points, of a projective and an affine point
// (the mixed addition that windowed multiplication uses), EC_POINT_dbl of a
// projective point, and EC_POINT_oct2point of an uncompressed point (which
// includes the curve-membership test) and of a compressed one (a square
// root).  Names are "ec-<operation>-<curve>-<method>/morvane"; each timed
// call is one operation.  Before anything is timed, every method must write
// the same octets for the points used.
//
// Registered from a static initialiser (this program is not the library):
// nothing here needs the shared input buffers of bench.h.

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include <morvane/bn.h>
#include <morvane/ec.h>

namespace {

struct CurveText {
  const char *name, *p, *a, *b, *gx, *gy;
};

// FIPS 186-2, Appendix 6 (P-256); SEC 2, 2.7.1 (secp256k1).
constexpr CurveText kCurves[] = {
    {"p256", "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF",
     "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC",
     "5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B",
     "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296",
     "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5"},
    {"secp256k1", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFC2F", "0", "7",
     "79BE667EF9DCBBAC55A06295CE870B07029BFCDB2DCE28D959F2815B16F81798",
     "483ADA7726A3C4655DA4FBFC0E1108A8FD17B448A68554199C47D08FFB10D4B8"},
};

struct MethodText {
  const char* name;
  const EC_METHOD* (*get)(void);
};
constexpr MethodText kMethods[] = {
    {"simple", EC_GFp_simple_method}, {"mont", EC_GFp_mont_method}, {"nist", EC_GFp_nist_method}};

BIGNUM* Num(const char* hex) {
  BIGNUM* n = nullptr;
  BN_hex2bn(&n, hex);
  return n;
}

void Die(const std::string& what) {
  fprintf(stderr, "bench_ec: %s\n", what.c_str());
  abort();
}

// One curve in one method: the group, projective points P = 3G and Q = 5G
// (as the sums leave them), A = 7G affine, and the octets of 9G in both
// forms.
struct Setup {
  EC_GROUP* g = nullptr;
  EC_POINT *p = nullptr, *q = nullptr, *a = nullptr, *r = nullptr;
  BN_CTX* ctx = BN_CTX_new();
  std::vector<unsigned char> uncompressed, compressed;

  Setup(const CurveText& c, const EC_METHOD* meth) {
    BIGNUM *bp = Num(c.p), *ba = Num(c.a), *bb = Num(c.b), *x = Num(c.gx), *y = Num(c.gy);
    g = EC_GROUP_new(meth);
    if (g == nullptr || !EC_GROUP_set_curve_GFp(g, bp, ba, bb, ctx)) Die("curve not set");
    EC_POINT* gen = EC_POINT_new(g);
    if (!EC_POINT_set_affine_coordinates_GFp(g, gen, x, y, ctx) ||
        !EC_GROUP_set_generator(g, gen, nullptr, nullptr))
      Die("generator not set");
    p = EC_POINT_new(g);
    q = EC_POINT_new(g);
    a = EC_POINT_new(g);
    r = EC_POINT_new(g);
    EC_POINT_dbl(g, r, gen, ctx);     // 2G
    EC_POINT_add(g, p, r, gen, ctx);  // 3G
    EC_POINT_add(g, q, p, r, ctx);    // 5G
    EC_POINT_add(g, a, q, r, ctx);    // 7G
    EC_POINT_make_affine(g, a, ctx);
    EC_POINT_add(g, r, a, r, ctx);  // 9G
    for (auto [form, out] : {std::pair{POINT_CONVERSION_UNCOMPRESSED, &uncompressed},
                             std::pair{POINT_CONVERSION_COMPRESSED, &compressed}}) {
      out->resize(EC_POINT_point2oct(g, r, form, nullptr, 0, ctx));
      if (out->empty() ||
          EC_POINT_point2oct(g, r, form, out->data(), out->size(), ctx) != out->size())
        Die("point not written");
    }
    EC_POINT_free(gen);
    for (BIGNUM* n : {bp, ba, bb, x, y}) BN_free(n);
  }
  ~Setup() {
    for (EC_POINT* pt : {p, q, a, r}) EC_POINT_free(pt);
    EC_GROUP_free(g);
    BN_CTX_free(ctx);
  }
  Setup(const Setup&) = delete;
  Setup& operator=(const Setup&) = delete;
};

enum class Op { kAdd, kAddMixed, kDbl, kOct2Point, kOct2PointCompressed };

void Time(benchmark::State& state, const CurveText* c, const EC_METHOD* meth, Op op) {
  Setup s(*c, meth);
  for (auto _ : state) {
    int ok = 0;
    switch (op) {
      case Op::kAdd:
        ok = EC_POINT_add(s.g, s.r, s.p, s.q, s.ctx);
        break;
      case Op::kAddMixed:
        ok = EC_POINT_add(s.g, s.r, s.p, s.a, s.ctx);
        break;
      case Op::kDbl:
        ok = EC_POINT_dbl(s.g, s.r, s.p, s.ctx);
        break;
      case Op::kOct2Point:
        ok = EC_POINT_oct2point(s.g, s.r, s.uncompressed.data(), s.uncompressed.size(), s.ctx);
        break;
      case Op::kOct2PointCompressed:
        ok = EC_POINT_oct2point(s.g, s.r, s.compressed.data(), s.compressed.size(), s.ctx);
        break;
    }
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

int RegisterEc() {
  const std::pair<Op, const char*> ops[] = {{Op::kAdd, "add"},
                                            {Op::kAddMixed, "add-mixed"},
                                            {Op::kDbl, "dbl"},
                                            {Op::kOct2Point, "oct2point"},
                                            {Op::kOct2PointCompressed, "oct2point-compressed"}};
  for (const CurveText& c : kCurves) {
    std::vector<unsigned char> first;
    for (const MethodText& m : kMethods) {
      if (m.get == EC_GFp_nist_method && std::string(c.name) != "p256") continue;
      {
        Setup s(c, m.get());
        if (first.empty()) first = s.uncompressed;
        if (s.uncompressed != first) Die(std::string("methods disagree on ") + c.name);
      }
      for (const auto& [op, name] : ops) {
        const std::string label = std::string("ec-") + name + "-" + c.name + "-" + m.name;
        benchmark::RegisterBenchmark((label + "/morvane").c_str(), Time, &c, m.get(), op);
      }
    }
  }
  return 0;
}

const int kRegistered = RegisterEc();

}  // namespace
