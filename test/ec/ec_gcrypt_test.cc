// Cross-check against an independent implementation: libgcrypt's point
// multiplication (gcry_mpi_ec_mul on a context from gcry_mpi_ec_new) on
// secp256k1.  For 1,000 pseudo-random k in [1, n) (four tests of 250), the
// named group's k G and k P (P the previous round's k G) must be libgcrypt's.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gcrypt.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

// libgcrypt's affine (x, y) of k Q as upper-case hex without leading zeros.
std::pair<std::string, std::string> GcryMul(gcry_ctx_t ctx, const std::string& k,
                                            gcry_mpi_point_t q) {
  gcry_mpi_t kk = nullptr;
  EXPECT_EQ(gcry_mpi_scan(&kk, GCRYMPI_FMT_HEX, k.c_str(), 0, nullptr), 0u);
  gcry_mpi_point_t r = gcry_mpi_point_new(0);
  gcry_mpi_ec_mul(r, kk, q, ctx);
  gcry_mpi_t x = gcry_mpi_new(0), y = gcry_mpi_new(0);
  EXPECT_EQ(gcry_mpi_ec_get_affine(x, y, r, ctx), 0);
  auto text = [](gcry_mpi_t m) {
    unsigned char* s = nullptr;
    gcry_mpi_aprint(GCRYMPI_FMT_HEX, &s, nullptr, m);
    std::string out = reinterpret_cast<char*>(s);
    gcry_free(s);
    while (out.size() > 1 && out[0] == '0') out.erase(0, 1);
    return out;
  };
  std::pair<std::string, std::string> out{text(x), text(y)};
  gcry_mpi_release(x);
  gcry_mpi_release(y);
  gcry_mpi_release(kk);
  gcry_mpi_point_release(r);
  return out;
}

std::pair<std::string, std::string> Ours(const EC_GROUP* g, const EC_POINT* p) {
  Bn x(BN_new()), y(BN_new());
  EXPECT_EQ(EC_POINT_get_affine_coordinates_GFp(g, p, x.get(), y.get(), nullptr), 1);
  auto text = [](const BIGNUM* b) {
    std::string s = Show(b);
    while (s.size() > 1 && s[0] == '0') s.erase(0, 1);
    return s;
  };
  return {text(x.get()), text(y.get())};
}

class EcGcrypt : public testing::TestWithParam<int> {};

TEST_P(EcGcrypt, Secp256k1ProductsAgree) {
  ASSERT_NE(gcry_check_version(nullptr), nullptr);
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  gcry_ctx_t ctx = nullptr;
  ASSERT_EQ(gcry_mpi_ec_new(&ctx, nullptr, "secp256k1"), 0u);
  gcry_mpi_point_t gg = gcry_mpi_ec_get_point("g", ctx, 1);
  Group g(EC_GROUP_new_by_curve_name(714));
  ASSERT_TRUE(g);
  Ctx bnctx(BN_CTX_new());
  Bn n(BN_new());
  ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), nullptr));
  Point prev(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  SplitMix64 rng{0x256B1ULL * static_cast<uint64_t>(GetParam() + 1)};
  for (int i = 0; i < 250 && !HasFailure(); i++) {
    Bn k(BN_new());
    std::string hex;
    for (int w = 0; w < 5; w++) {
      char t[17];
      snprintf(t, sizeof t, "%016llX", static_cast<unsigned long long>(rng.Next()));
      hex += t;
    }
    BIGNUM* raw = nullptr;
    ASSERT_GT(BN_hex2bn(&raw, hex.c_str()), 0);
    k.reset(raw);
    ASSERT_TRUE(BN_nnmod(k.get(), k.get(), n.get(), bnctx.get()));
    if (BN_is_zero(k.get())) continue;
    const std::string khex = Show(k.get());
    SCOPED_TRACE("k = " + khex);
    Point r(EC_POINT_new(g.get()));
    ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), k.get(), nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(Ours(g.get(), r.get()), GcryMul(ctx, khex, gg));
    // k P with P = prev, given to libgcrypt as affine (x, y, 1).
    auto [px, py] = Ours(g.get(), prev.get());
    gcry_mpi_t mx = nullptr, my = nullptr;
    ASSERT_EQ(gcry_mpi_scan(&mx, GCRYMPI_FMT_HEX, px.c_str(), 0, nullptr), 0u);
    ASSERT_EQ(gcry_mpi_scan(&my, GCRYMPI_FMT_HEX, py.c_str(), 0, nullptr), 0u);
    gcry_mpi_t one = gcry_mpi_set_ui(nullptr, 1);
    gcry_mpi_point_t gp = gcry_mpi_point_set(nullptr, mx, my, one);
    Point rp(EC_POINT_new(g.get()));
    ASSERT_EQ(EC_POINT_mul(g.get(), rp.get(), nullptr, prev.get(), k.get(), nullptr), 1);
    EXPECT_EQ(Ours(g.get(), rp.get()), GcryMul(ctx, khex, gp));
    gcry_mpi_point_release(gp);
    gcry_mpi_release(mx);
    gcry_mpi_release(my);
    gcry_mpi_release(one);
    prev = std::move(r);
  }
  gcry_mpi_point_release(gg);
  gcry_ctx_release(ctx);
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(Parts, EcGcrypt, testing::Values(0, 1, 2, 3));

}  // namespace
