// See ec_test_util.h.

#include "ec_test_util.h"

#include <algorithm>
#include <cctype>

#include <morvane/err.h>

#include "test_support.h"

namespace ec_test {

const MethodInfo kMethods[3] = {
    {"Simple", EC_GFp_simple_method},
    {"Mont", EC_GFp_mont_method},
    {"Nist", EC_GFp_nist_method},
};

const std::vector<Curve>& Curves() {
  static const std::vector<Curve> curves = [] {
    std::vector<Curve> out;
    for (const auto& r : morvane_test::ReadRsp(morvane_test::TestDataFile("ec/curves.txt"))) {
      Curve c;
      c.name = r.Get("name");
      c.nid = std::stoi(r.Get("nid"));
      c.p = r.Get("p");
      c.a = r.Get("a");
      c.b = r.Get("b");
      c.gx = r.Get("gx");
      c.gy = r.Get("gy");
      c.n = r.Get("n");
      c.h = r.Get("h");
      out.push_back(c);
    }
    return out;
  }();
  return curves;
}

const Curve& CurveNamed(const std::string& name) {
  for (const Curve& c : Curves())
    if (c.name == name) return c;
  ADD_FAILURE() << "no curve " << name << " in test/data/ec/curves.txt";
  return Curves().front();
}

Group MakeGroup(const Curve& c, const EC_METHOD* meth) {
  Ctx ctx(BN_CTX_new());
  Group g(EC_GROUP_new(meth));
  if (!g) return nullptr;
  if (!EC_GROUP_set_curve_GFp(g.get(), Hex(c.p).get(), Hex(c.a).get(), Hex(c.b).get(), ctx.get()))
    return nullptr;
  Point gen = Affine(g.get(), c.gx, c.gy);
  if (!gen || !EC_GROUP_set_generator(g.get(), gen.get(), Hex(c.n).get(), Hex(c.h).get()))
    return nullptr;
  return g;
}

Point Affine(const EC_GROUP* g, const std::string& x, const std::string& y) {
  Point p(EC_POINT_new(g));
  if (!p || !EC_POINT_set_affine_coordinates_GFp(g, p.get(), Hex(x).get(), Hex(y).get(), nullptr))
    return nullptr;
  return p;
}

std::string Encode(const EC_GROUP* g, const EC_POINT* p, point_conversion_form_t form) {
  const size_t n = EC_POINT_point2oct(g, p, form, nullptr, 0, nullptr);
  if (n == 0) return "";
  std::vector<uint8_t> buf(n);
  if (EC_POINT_point2oct(g, p, form, buf.data(), buf.size(), nullptr) != n) return "";
  std::string hex = morvane_test::ToHex(buf);
  for (char& ch : hex) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  return hex;
}

Point Decode(const EC_GROUP* g, const std::string& hex) {
  const morvane_test::Bytes b = morvane_test::FromHex(hex);
  Point p(EC_POINT_new(g));
  if (!p || !EC_POINT_oct2point(g, p.get(), b.data(), b.size(), nullptr)) return nullptr;
  return p;
}

std::vector<Bn> EdgeAndRandomScalars(const BIGNUM* n, int bits, int rounds, uint64_t seed) {
  std::vector<Bn> scalars;
  auto near_n = [&](long d) {
    Bn k(BN_dup(n));
    if (d < 0)
      BN_sub_word(k.get(), static_cast<BN_ULONG>(-d));
    else
      BN_add_word(k.get(), static_cast<BN_ULONG>(d));
    return k;
  };
  scalars.push_back(Hex("0"));
  scalars.push_back(Hex("1"));
  scalars.push_back(Hex("-1"));
  for (long d : {-1, 0, 1}) scalars.push_back(near_n(d));
  Bn ones(BN_new());  // 2^bits(p) - 1
  BN_set_bit(ones.get(), bits);
  BN_sub_word(ones.get(), 1);
  scalars.push_back(std::move(ones));
  for (unsigned pattern : {0x10u, 0x0Fu, 0x01u, 0x11u, 0x1Eu}) {
    Bn k(BN_new());
    BN_zero(k.get());
    for (int b = 0; b < bits; b++)
      if (((pattern >> (b % 5)) & 1) != 0) BN_set_bit(k.get(), b);
    scalars.push_back(std::move(k));
  }
  for (int b = bits - 12; b < bits; b++) {
    if (b % 5 != 4 && b % 4 != 3) continue;
    Bn lone(BN_new()), low(BN_new());
    BN_set_bit(lone.get(), b);
    BN_set_bit(low.get(), b + 1);
    BN_sub_word(low.get(), 1);
    scalars.push_back(std::move(lone));
    scalars.push_back(std::move(low));
  }
  for (long j = 2; j <= 18; j++) scalars.push_back(near_n(-j));
  // The engine's full length, 2^(64 N) - 1, and 2^(64 N - bits(n) - 1) n + 5
  // (a multiple of n past the order's length, where there is room; P-521
  // reduces such scalars first).
  const int full = ((bits + 63) / 64) * 64;
  Bn top(BN_new());
  BN_set_bit(top.get(), full);
  BN_sub_word(top.get(), 1);
  scalars.push_back(std::move(top));
  Bn multiple(BN_new());
  BN_lshift(multiple.get(), n, std::max(full - BN_num_bits(n) - 1, 0));
  BN_add_word(multiple.get(), 5);
  scalars.push_back(std::move(multiple));
  Bn big(BN_new());  // past the engine's length: the windowed path
  BN_set_bit(big.get(), ((bits + 63) / 64) * 64 + 5);
  BN_add_word(big.get(), 12345);
  scalars.push_back(std::move(big));
  SplitMix64 rng{seed};
  for (int i = 0; i < rounds; i++) {
    const int len = 1 + static_cast<int>(rng.Next() % static_cast<uint64_t>(bits));
    std::vector<uint32_t> w(static_cast<size_t>(len + 31) / 32);
    for (uint32_t& x : w) x = static_cast<uint32_t>(rng.Next());
    if (len % 32 != 0) w.back() &= (uint32_t{1} << (len % 32)) - 1;
    w.back() |= uint32_t{1} << ((len - 1) % 32);  // exactly len bits
    scalars.push_back(bn_test::Make(w, i % 7 == 3));
  }
  return scalars;
}

std::string Product(const EC_GROUP* g, const EC_POINT* p, const BIGNUM* k, bool engine) {
  Point r(EC_POINT_new(g));
  int ok;
  if (engine) {
    ok = p == nullptr ? EC_POINT_mul(g, r.get(), k, nullptr, nullptr, nullptr)
                      : EC_POINT_mul(g, r.get(), nullptr, p, k, nullptr);
  } else {
    const EC_POINT* pts[1] = {p == nullptr ? EC_GROUP_get0_generator(g) : p};
    const BIGNUM* ks[1] = {k};
    ok = ec_wNAF_mul(g, r.get(), nullptr, 1, pts, ks, nullptr);
  }
  return ok == 1 ? Encode(g, r.get()) : "failed";
}

}  // namespace ec_test
