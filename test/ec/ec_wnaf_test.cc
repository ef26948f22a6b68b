// The windowed-NAF multiplication: the digits of compute_wNAF, the window
// widths, the products of edge-case scalars, and the stored multiples of the
// generator (their layout, their sharing between copies under the lock of
// the record, and their bypass after a change of generator).  White-box: the
// record is read through crypto/ec/wnaf.h.
//
// Expected products come from the curve itself: n G = O, (n - 1) G = -G, and
// every product is compared with the same product made without the record
// and, for small scalars, with repeated addition.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ec/internal.h"
#include "ec/wnaf.h"
#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;
using morvane::ec::compute_wNAF;
using morvane::ec::wnaf_window_bits;

std::vector<int> Digits(const char* dec, int w) {
  BIGNUM* k = nullptr;
  EXPECT_GT(BN_dec2bn(&k, dec), 0);
  size_t len = 0;
  signed char* d = compute_wNAF(k, w, &len);
  BN_free(k);
  if (d == nullptr) return {};
  std::vector<int> out(d, d + len);
  MORVANE_free(d);
  return out;
}

TEST(EcWnaf, DigitsLeastSignificantFirst) {
  struct Case {
    const char* k;
    int w;
    std::vector<int> digits;
  };
  const Case cases[] = {
      {"7", 2, {3, 0, 1}},
      {"7", 1, {-1, 0, 0, 1}},
      {"255", 4, {-1, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"1000", 3, {0, 0, 0, -3, 0, 0, 0, 0, 0, 0, 1}},
      {"-7", 2, {-3, 0, -1}},
      {"0", 3, {0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Digits(c.k, c.w), c.digits) << c.k << " w=" << c.w;
  EXPECT_ERRORS({});
}

TEST(EcWnaf, DigitsSumToTheScalarAndAreOddAndBounded) {
  SplitMix64 rng(52);
  for (int w = 1; w <= 7; w++) {
    for (int round = 0; round < 40; round++) {
      Bn k(BN_new());
      const int bits = 1 + static_cast<int>(rng.Next() % 600);
      ASSERT_TRUE(BN_rand(k.get(), bits, 0, 0));
      if (round & 1) BN_set_negative(k.get(), 1);
      size_t len = 0;
      signed char* d = compute_wNAF(k.get(), w, &len);
      ASSERT_NE(d, nullptr);
      EXPECT_LE(len, static_cast<size_t>(BN_num_bits(k.get())) + 1);
      Bn sum(BN_new()), term(BN_new());
      BN_zero(sum.get());
      for (size_t j = len; j-- > 0;) {
        ASSERT_TRUE(BN_lshift1(sum.get(), sum.get()));
        const int v = d[j];
        ASSERT_TRUE(v == 0 || ((v & 1) && v < (1 << w) && v > -(1 << w))) << v;
        ASSERT_TRUE(BN_set_word(term.get(), static_cast<BN_ULONG>(v < 0 ? -v : v)));
        ASSERT_TRUE(v < 0 ? BN_sub(sum.get(), sum.get(), term.get())
                          : BN_add(sum.get(), sum.get(), term.get()));
      }
      MORVANE_free(d);
      EXPECT_EQ(BN_cmp(sum.get(), k.get()), 0) << "w=" << w;
    }
  }
}

TEST(EcWnaf, WidthOutsideOneToSevenIsAnInternalError) {
  Bn k = Hex("1234");
  size_t len = 0;
  EXPECT_EQ(compute_wNAF(k.get(), 8, &len), nullptr);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_COMPUTE_WNAF, ERR_R_INTERNAL_ERROR}});
}

TEST(EcWnaf, WindowWidthByScalarSize) {
  const std::pair<size_t, size_t> cases[] = {{1, 1},   {19, 1},   {20, 2},   {69, 2},
                                             {70, 3},  {299, 3},  {300, 4},  {799, 4},
                                             {800, 5}, {1999, 5}, {2000, 6}, {4000, 6}};
  for (auto [bits, w] : cases) EXPECT_EQ(wnaf_window_bits(bits), w) << bits;
}

// The group's only extra-data record: its precomputation.
const EC_PRE_COMP* Record(const EC_GROUP* g) {
  if (g->extra_data == nullptr || g->extra_data->next != nullptr) return nullptr;
  return static_cast<const EC_PRE_COMP*>(g->extra_data->data);
}

Group NamedP256() {
  return Group(EC_GROUP_new_by_curve_name(415));
}

Bn Order(const EC_GROUP* g) {
  Bn n(BN_new());
  EXPECT_TRUE(EC_GROUP_get_order(g, n.get(), nullptr));
  return n;
}

// k G by the windowed NAFs (EC_POINT_mul would take the constant-time
// engine for one term, which keeps no record).
std::string MulG(const EC_GROUP* g, const BIGNUM* k) {
  Point r(EC_POINT_new(g));
  if (!ec_wNAF_mul(g, r.get(), k, 0, nullptr, nullptr, nullptr)) return "failed";
  return Encode(g, r.get());
}

TEST(EcWnaf, EdgeScalars) {
  for (int nid : {415, 714, 716, 704}) {
    SCOPED_TRACE(nid);
    Group g(EC_GROUP_new_by_curve_name(nid));
    ASSERT_TRUE(g);
    for (bool stored : {false, true}) {
      if (stored) {
        ASSERT_EQ(EC_GROUP_precompute_mult(g.get(), nullptr), 1);
      }
      const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
      Bn n = Order(g.get());
      EXPECT_EQ(MulG(g.get(), Hex("0").get()), "00");
      EXPECT_EQ(MulG(g.get(), n.get()), "00");
      Point minus_g(EC_POINT_dup(gen, g.get()));
      ASSERT_TRUE(EC_POINT_invert(g.get(), minus_g.get(), nullptr));
      Bn n1(BN_dup(n.get()));
      ASSERT_TRUE(BN_sub_word(n1.get(), 1));
      EXPECT_EQ(MulG(g.get(), n1.get()), Encode(g.get(), minus_g.get()));
      Bn minus_one = Hex("-1");
      EXPECT_EQ(MulG(g.get(), minus_one.get()), Encode(g.get(), minus_g.get()));
      // Small scalars against repeated addition.
      Point sum(EC_POINT_new(g.get()));
      ASSERT_TRUE(EC_POINT_set_to_infinity(g.get(), sum.get()));
      for (unsigned k = 1; k <= 40; k++) {
        ASSERT_TRUE(EC_POINT_add(g.get(), sum.get(), sum.get(), gen, nullptr));
        Bn kb(BN_new());
        ASSERT_TRUE(BN_set_word(kb.get(), k));
        EXPECT_EQ(MulG(g.get(), kb.get()), Encode(g.get(), sum.get())) << k;
        BN_set_negative(kb.get(), 1);
        Point neg(EC_POINT_dup(sum.get(), g.get()));
        ASSERT_TRUE(EC_POINT_invert(g.get(), neg.get(), nullptr));
        EXPECT_EQ(MulG(g.get(), kb.get()), Encode(g.get(), neg.get())) << "-" << k;
      }
    }
  }
  EXPECT_ERRORS({});
}

TEST(EcWnaf, NoTermsGiveInfinity) {
  Group g = NamedP256();
  Point r(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  EXPECT_EQ(ec_wNAF_mul(g.get(), r.get(), nullptr, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
}

TEST(EcWnaf, PrecomputationOnA256BitOrderHolds32BlocksOf8Points) {
  Group g = NamedP256();
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 0);
  ASSERT_EQ(EC_GROUP_precompute_mult(g.get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 1);
  const EC_PRE_COMP* pre = Record(g.get());
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->blocksize, 8u);
  EXPECT_EQ(pre->numblocks, 32u);
  EXPECT_EQ(pre->w, 4u);
  EXPECT_EQ(pre->num, 256u);
  EXPECT_EQ(pre->references, 1);
  EXPECT_EQ(pre->points[256], nullptr);
  for (size_t i = 0; i < pre->num; i++) ASSERT_EQ(pre->points[i]->Z_is_one, 1) << i;
  // Block 1 begins with 2^8 G, and 3 G follows G.
  EXPECT_EQ(Encode(g.get(), pre->points[8]), MulG(g.get(), Hex("100").get()));
  Bn three = Hex("3");
  Point p3(EC_POINT_new(g.get()));
  const EC_POINT* pts[1] = {pre->points[0]};
  const BIGNUM* ks[1] = {three.get()};
  ASSERT_TRUE(ec_wNAF_mul(g.get(), p3.get(), nullptr, 1, pts, ks, nullptr));
  EXPECT_EQ(Encode(g.get(), pre->points[1]), Encode(g.get(), p3.get()));

  // Products with the record equal those without it.
  Group plain = NamedP256();
  SplitMix64 rng(256);
  for (int i = 0; i < 50; i++) {
    Bn k(BN_new());
    ASSERT_TRUE(BN_rand(k.get(), 1 + static_cast<int>(rng.Next() % 300), 0, 0));
    EXPECT_EQ(MulG(g.get(), k.get()), MulG(plain.get(), k.get())) << Show(k.get());
  }
  // A two-term product with the record.
  Point q(EC_POINT_new(g.get()));
  ASSERT_TRUE(EC_POINT_mul(g.get(), q.get(), Hex("1234567").get(), nullptr, nullptr, nullptr));
  Bn k1 = Hex("FEDCBA9876543210FEDCBA9876543210"), k2 = Hex("-76543210ABCDEF");
  Point a(EC_POINT_new(g.get())), b(EC_POINT_new(g.get()));
  ASSERT_TRUE(EC_POINT_mul(g.get(), a.get(), k1.get(), q.get(), k2.get(), nullptr));
  ASSERT_TRUE(EC_POINT_mul(plain.get(), b.get(), k1.get(), q.get(), k2.get(), nullptr));
  EXPECT_EQ(Encode(g.get(), a.get()), Encode(g.get(), b.get()));
  EXPECT_ERRORS({});
}

TEST(EcWnaf, ANewGeneratorBypassesTheRecord) {
  Group g = NamedP256(), plain = NamedP256();
  ASSERT_EQ(EC_GROUP_precompute_mult(g.get(), nullptr), 1);
  Point g2(EC_POINT_new(g.get()));
  ASSERT_TRUE(EC_POINT_mul(g.get(), g2.get(), Hex("2").get(), nullptr, nullptr, nullptr));
  Bn n = Order(g.get()), h = Hex("1");
  ASSERT_EQ(EC_GROUP_set_generator(g.get(), g2.get(), n.get(), h.get()), 1);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 1);  // still there, unused
  Bn k = Hex("C0FFEE0123456789ABCDEF"), k2(BN_new());
  ASSERT_TRUE(BN_lshift1(k2.get(), k.get()));
  EXPECT_EQ(MulG(g.get(), k.get()), MulG(plain.get(), k2.get()));
}

TEST(EcWnaf, CopiesShareTheRecordUnderItsLock) {
  morvane_test::InstallLockingCallback();
  Group g = NamedP256();
  ASSERT_EQ(EC_GROUP_precompute_mult(g.get(), nullptr), 1);
  morvane_test::StartRecordingLocks();
  Group copy(EC_GROUP_dup(g.get()));
  ASSERT_TRUE(copy);
  std::vector<morvane_test::LockEvent> locks =
      morvane_test::StopRecordingLocks({CRYPTO_LOCK_EC_PRE_COMP});
  EXPECT_EQ(locks, (std::vector<morvane_test::LockEvent>{
                       morvane_test::WriteLock(CRYPTO_LOCK_EC_PRE_COMP),
                       morvane_test::WriteUnlock(CRYPTO_LOCK_EC_PRE_COMP)}));
  const EC_PRE_COMP* pre = Record(copy.get());
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->references, 2);
  morvane_test::StartRecordingLocks();
  g.reset();
  EXPECT_EQ(morvane_test::StopRecordingLocks({CRYPTO_LOCK_EC_PRE_COMP}).size(), 2u);
  EXPECT_EQ(pre->references, 1);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(copy.get()), 1);
  Group plain = NamedP256();
  Bn k = Hex("123456789ABCDEF0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(MulG(copy.get(), k.get()), MulG(plain.get(), k.get()));
  CRYPTO_set_locking_callback(nullptr);
}

TEST(EcWnaf, PrecomputationNeedsAnOrder) {
  Group g(EC_GROUP_new(EC_GFp_mont_method()));
  EXPECT_EQ(EC_GROUP_precompute_mult(g.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_WNAF_PRECOMPUTE_MULT, EC_R_UNDEFINED_GENERATOR}});
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 0);
}

}  // namespace
