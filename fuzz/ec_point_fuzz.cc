// Fuzzes the reading of elliptic-curve points: the first byte picks a group
// (below 0x80: P-256 with the NIST method, secp256k1 with the Montgomery
// method, or a small curve over a 61-bit prime with the simple method, where
// random octets often are points; from 0x80: the binary curves sect163k1,
// sect233r1 and c2pnb163v1), the rest goes through EC_POINT_oct2point; a
// copy of the rest as text goes through EC_POINT_hex2point.
//
// Checks: a refused input leaves an error queued; an accepted point is on
// the curve, writes back in every form its method writes (all three over
// GF(p), the uncompressed one over GF(2^m)) to points that compare equal (in
// its own form to the very octets read), survives point2hex/hex2point, and
// with the generator G obeys (P + G) - G = P, P + P = 2P, P + G on the
// curve, and 3 P = P + P + P through the multiplication.

#include "fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

namespace {

struct CurveText {
  const char *p, *a, *b, *gx, *gy;  // gy null: solved from gx (even y)
};

// FIPS 186-2, Appendix 6 (P-256); SEC 2, 2.7.1 (secp256k1); and y^2 = x^3 +
// 2x + 5 over the prime 2^61 - 1, its generator solved at x = 3.
constexpr CurveText kCurves[3] = {
    {"FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF",
     "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC",
     "5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B",
     "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296",
     "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5"},
    {"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFC2F", "0", "7",
     "79BE667EF9DCBBAC55A06295CE870B07029BFCDB2DCE28D959F2815B16F81798",
     "483ADA7726A3C4655DA4FBFC0E1108A8FD17B448A68554199C47D08FFB10D4B8"},
    {"1FFFFFFFFFFFFFFF", "2", "5", "3", nullptr},
};

BIGNUM* Num(const char* hex) {
  BIGNUM* n = nullptr;
  BN_hex2bn(&n, hex);
  return n;
}

// The binary curves, by name.
constexpr const char* kBinary[3] = {"sect163k1", "sect233r1", "c2pnb163v1"};
constexpr int kBinaryNids[3] = {721, 727, 684};

struct Fixture {
  EC_GROUP* group[6];
  BN_CTX* ctx;
  Fixture() : ctx(BN_CTX_new()) {
    const EC_METHOD* methods[3] = {EC_GFp_nist_method(), EC_GFp_mont_method(),
                                   EC_GFp_simple_method()};
    for (int i = 0; i < 3; i++) {
      const CurveText& c = kCurves[i];
      BIGNUM *p = Num(c.p), *a = Num(c.a), *b = Num(c.b), *x = Num(c.gx);
      BIGNUM* y = c.gy != nullptr ? Num(c.gy) : nullptr;
      group[i] = EC_GROUP_new(methods[i]);
      Check(group[i] != nullptr && EC_GROUP_set_curve_GFp(group[i], p, a, b, ctx),
            "the curve is set");
      EC_POINT* g = EC_POINT_new(group[i]);
      Check(g != nullptr &&
                (y != nullptr ? EC_POINT_set_affine_coordinates_GFp(group[i], g, x, y, ctx)
                              : EC_POINT_set_compressed_coordinates_GFp(group[i], g, x, 0, ctx)),
            "the generator is set");
      Check(EC_POINT_is_on_curve(group[i], g, ctx) == 1, "the generator is on the curve");
      Check(EC_GROUP_set_generator(group[i], g, nullptr, nullptr), "the generator is kept");
      EC_POINT_free(g);
      BN_free(p);
      BN_free(a);
      BN_free(b);
      BN_free(x);
      BN_free(y);
    }
    for (int i = 0; i < 3; i++) {
      group[3 + i] = EC_GROUP_new_by_curve_name(kBinaryNids[i]);
      Check(group[3 + i] != nullptr, kBinary[i]);
    }
    ERR_clear_error();
  }
};

std::vector<uint8_t> Octets(const EC_GROUP* g, const EC_POINT* p, point_conversion_form_t form,
                            BN_CTX* ctx) {
  const size_t n = EC_POINT_point2oct(g, p, form, nullptr, 0, ctx);
  Check(n > 0, "a point has a length in every form");
  std::vector<uint8_t> out(n);
  Check(EC_POINT_point2oct(g, p, form, out.data(), n, ctx) == n, "a point is written");
  return out;
}

void CheckPoint(const EC_GROUP* g, const EC_POINT* p, const uint8_t* in, size_t len, BN_CTX* ctx) {
  Check(EC_POINT_is_on_curve(g, p, ctx) == 1, "an accepted point is on the curve");
  const bool inf = EC_POINT_is_at_infinity(g, p) == 1;
  EC_POINT* q = EC_POINT_new(g);
  EC_POINT* r = EC_POINT_new(g);
  Check(q != nullptr && r != nullptr, "points are made");
  const bool binary = EC_METHOD_get_field_type(EC_GROUP_method_of(g)) == 407;
  for (auto form :
       {POINT_CONVERSION_COMPRESSED, POINT_CONVERSION_UNCOMPRESSED, POINT_CONVERSION_HYBRID}) {
    if (binary && form != POINT_CONVERSION_UNCOMPRESSED) {
      Check(EC_POINT_point2oct(g, p, form, nullptr, 0, ctx) == 0,
            "a binary curve writes no compressed or hybrid form");
      ERR_clear_error();
      continue;
    }
    const std::vector<uint8_t> out = Octets(g, p, form, ctx);
    if (inf || (in[0] & ~1) == form)
      Check(out.size() == len && memcmp(out.data(), in, len) == 0,
            "a point writes back to the octets read");
    Check(EC_POINT_oct2point(g, q, out.data(), out.size(), ctx) == 1, "written octets are read");
    Check(EC_POINT_cmp(g, p, q, ctx) == 0, "and give the same point");
  }
  if (!inf) {
    char* hex = EC_POINT_point2hex(g, p, POINT_CONVERSION_UNCOMPRESSED, ctx);
    Check(hex != nullptr, "point2hex");
    Check(EC_POINT_hex2point(g, hex, q, ctx) == q && EC_POINT_cmp(g, p, q, ctx) == 0,
          "hex2point gives the point back");
    MORVANE_free(hex);
  }
  const EC_POINT* gen = EC_GROUP_get0_generator(g);
  // (P + G) - G = P
  Check(EC_POINT_add(g, r, p, gen, ctx) == 1, "P + G");
  Check(EC_POINT_is_on_curve(g, r, ctx) == 1, "P + G is on the curve");
  Check(EC_POINT_copy(q, gen) && EC_POINT_invert(g, q, ctx) == 1, "-G");
  Check(EC_POINT_add(g, r, r, q, ctx) == 1, "(P + G) - G");
  Check(EC_POINT_cmp(g, r, p, ctx) == 0, "(P + G) - G = P");
  // P + P = 2P, also with P's copy in another object.
  Check(EC_POINT_dbl(g, r, p, ctx) == 1 && EC_POINT_copy(q, p) == 1, "2P");
  Check(EC_POINT_add(g, q, q, p, ctx) == 1, "P + P");
  Check(EC_POINT_cmp(g, q, r, ctx) == 0, "P + P = 2P");
  // 3 P = P + P + P (r = 2P still).
  BIGNUM* three = BN_new();
  Check(three != nullptr && BN_set_word(three, 3), "3");
  Check(EC_POINT_add(g, r, r, p, ctx) == 1, "P + P + P");
  Check(EC_POINT_mul(g, q, nullptr, p, three, ctx) == 1, "3 P");
  Check(EC_POINT_cmp(g, q, r, ctx) == 0, "3 P = P + P + P");
  BN_free(three);
  const int cmp = EC_POINT_cmp(g, p, gen, ctx);
  Check(cmp == 0 || cmp == 1, "a comparison with G answers");
  EC_POINT_free(q);
  EC_POINT_free(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fx = new Fixture();
  if (size < 1) return 0;
  const EC_GROUP* g = fx->group[data[0] % 3 + (data[0] >= 0x80 ? 3 : 0)];
  const uint8_t* in = data + 1;
  const size_t len = size - 1;
  EC_POINT* p = EC_POINT_new(g);
  Check(p != nullptr, "a point is made");
  if (EC_POINT_oct2point(g, p, in, len, fx->ctx) == 1)
    CheckPoint(g, p, in, len, fx->ctx);
  else
    Check(ERR_peek_error() != 0, "a refused point leaves an error");
  ERR_clear_error();
  // The same bytes as text.
  const std::string text(reinterpret_cast<const char*>(in), len);
  EC_POINT* h = EC_POINT_hex2point(g, text.c_str(), nullptr, fx->ctx);
  if (h != nullptr) Check(EC_POINT_is_on_curve(g, h, fx->ctx) == 1, "a text point is on the curve");
  EC_POINT_free(h);
  ERR_clear_error();
  EC_POINT_free(p);
  return 0;
}
