// See ec_test_util.h.

#include "ec_test_util.h"

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
