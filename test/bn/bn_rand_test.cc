// Random numbers: the forced bits, the time added to the pool, the reshaping
// of test mode and the draws below a bound, seen through a deterministic
// random method that scripts the generator's bytes.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <ctime>

#include "bn_det_rand.h"
#include "bn_test_util.h"

namespace {

using bn_test::Bn;
using bn_test::DetRand;
using bn_test::Hex;
using bn_test::Show;

struct Case {
  int bits, top, bottom;
  std::vector<uint8_t> bytes;
  const char* want;  // as BN_bn2hex prints it
};

// Byte 0 keeps bits (bits - 1) mod 8 and below; top 0 sets the top bit, any
// other value than -1 the two top bits (across bytes 0 and 1 for 8k + 1
// bits); bottom sets bit 0.
const Case kCases[] = {
    {9, 1, 1, {0x00, 0x00}, "0181"},  {9, 1, 1, {0xFF, 0x7E}, "01FF"},
    {8, 0, 0, {0x00}, "80"},          {8, -1, 0, {0x5A}, "5A"},
    {12, 1, 0, {0x00, 0x00}, "0C00"}, {12, 0, 1, {0xFF, 0x00}, "0F01"},
    {1, 0, 0, {0x00}, "01"},          {1, -1, 1, {0xFE}, "01"},
    {3, 7, 0, {0x00}, "06"},          {17, 1, 0, {0x00, 0x00, 0x00}, "018000"},
    {16, -1, 0, {0x00, 0x00}, "0"},   {0, 1, 1, {}, "0"},
};

TEST(BnRand, ForcedBits) {
  for (int strong = 0; strong < 2; strong++) {
    for (const Case& c : kCases) {
      bn_test::InstallDetRand(1);
      DetRand::script.assign(c.bytes.begin(), c.bytes.end());
      Bn r(BN_new());
      auto draw = strong ? BN_rand : BN_pseudo_rand;
      ASSERT_EQ(draw(r.get(), c.bits, c.top, c.bottom), 1);
      EXPECT_EQ(Show(r.get()), c.want) << c.bits << " " << c.top << " " << c.bottom;
      EXPECT_TRUE(DetRand::script.empty());
      EXPECT_EQ(DetRand::calls, c.bits == 0 ? 0 : 1);  // nothing drawn for 0 bits
    }
  }
}

// The time, as 4 bytes, goes to the pool with no entropy before each draw.
TEST(BnRand, AddsTheTimeToThePool) {
  bn_test::InstallDetRand(1);
  Bn r(BN_new());
  const auto before = static_cast<uint32_t>(time(nullptr));
  ASSERT_EQ(BN_pseudo_rand(r.get(), 64, 0, 0), 1);
  const auto after = static_cast<uint32_t>(time(nullptr));
  ASSERT_EQ(DetRand::adds.size(), 1u);
  const auto& add = DetRand::adds[0];
  EXPECT_EQ(add.entropy, 0.0);
  ASSERT_EQ(add.bytes.size(), 4u);
  uint32_t stamp;
  memcpy(&stamp, add.bytes.data(), 4);
  EXPECT_TRUE(stamp >= before && stamp <= after) << stamp;
}

// Test mode: one more byte c per byte i: c >= 128 copies byte i-1 (not for
// i = 0), c < 42 gives 0, c < 84 gives 0xFF, else the byte stays.
TEST(BnRand, TestModeReshapes) {
  bn_test::InstallDetRand(1);
  DetRand::script = {0x11, 0x22, 0x33, 0x44, 0x55, 200, 200, 10, 50, 84};
  Bn r(BN_new());
  ASSERT_EQ(BN_bntest_rand(r.get(), 40, -1, 0), 1);
  EXPECT_EQ(Show(r.get()), "111100FF55");
  EXPECT_EQ(DetRand::calls, 6);
  // The forced bits apply after the reshaping.
  DetRand::script = {0x00, 0x00, 41, 200};
  ASSERT_EQ(BN_bntest_rand(r.get(), 16, 1, 1), 1);
  EXPECT_EQ(Show(r.get()), "C001");
}

TEST(BnRand, GeneratorFailures) {
  bn_test::InstallDetRand(1);
  Bn r(BN_new());
  DetRand::strong_result = 0;  // not seeded: strong output fails, pseudo does not
  EXPECT_EQ(BN_rand(r.get(), 64, 0, 0), 0);
  EXPECT_EQ(BN_pseudo_rand(r.get(), 64, 0, 0), 1);
  DetRand::strong_result = -1;
  EXPECT_EQ(BN_rand(r.get(), 64, 0, 0), 0);
  ERR_clear_error();
}

// A one-bit number cannot have two top bits, and a bit count cannot be
// negative: both are refused before anything is drawn or written.
TEST(BnRand, RefusesImpossibleRequests) {
  bn_test::InstallDetRand(1);
  Bn r(Hex("77"));
  for (auto draw : {BN_rand, BN_pseudo_rand, BN_bntest_rand}) {
    EXPECT_EQ(draw(r.get(), 1, 1, 0), 0);
    EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BNRAND, BN_R_INVALID_ARGUMENT}});
    EXPECT_EQ(draw(r.get(), -1, -1, 0), 0);
    EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BNRAND, BN_R_INVALID_ARGUMENT}});
  }
  EXPECT_EQ(Show(r.get()), "77");
  EXPECT_EQ(DetRand::calls, 0);
}

TEST(BnRandRange, RefusesRangesBelowOne) {
  bn_test::InstallDetRand(1);
  Bn r(BN_new());
  for (const char* range : {"0", "-5"}) {
    EXPECT_EQ(BN_rand_range(r.get(), Hex(range).get()), 0);
    EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_RAND_RANGE, BN_R_INVALID_RANGE}});
    EXPECT_EQ(BN_pseudo_rand_range(r.get(), Hex(range).get()), 0);
    EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_RAND_RANGE, BN_R_INVALID_RANGE}});
  }
  ASSERT_EQ(BN_rand_range(r.get(), Hex("1").get()), 1);
  EXPECT_TRUE(BN_is_zero(r.get()));
  EXPECT_EQ(DetRand::calls, 0);
}

struct RangeCase {
  const char* range;
  std::vector<uint8_t> bytes;  // one byte per draw
  const char* want;
  long draws;
};

// 12 (binary 1100) draws 4 bits and rejects 12 to 15; 8 (binary 1000) draws
// 5 bits and folds by up to two subtractions of 8.
const RangeCase kRanges[] = {
    {"C", {0xFF, 0xFC, 0xAD, 0x3B}, "0B", 4},
    {"C", {0x00}, "0", 1},
    {"8", {0x1F, 0x17}, "07", 2},
    {"8", {0x0C}, "04", 1},
    {"8", {0x10}, "0", 1},
};

TEST(BnRandRange, DrawsAndRejects) {
  for (int strong = 0; strong < 2; strong++) {
    for (const RangeCase& c : kRanges) {
      bn_test::InstallDetRand(1);
      DetRand::script.assign(c.bytes.begin(), c.bytes.end());
      Bn r(BN_new());
      auto draw = strong ? BN_rand_range : BN_pseudo_rand_range;
      ASSERT_EQ(draw(r.get(), Hex(c.range).get()), 1);
      EXPECT_EQ(Show(r.get()), c.want) << c.range;
      EXPECT_EQ(DetRand::calls, c.draws) << c.range;
    }
  }
}

TEST(BnRandRange, GivesUpAfterAHundredDraws) {
  bn_test::InstallDetRand(1);
  DetRand::script.assign(100, 0xFF);
  Bn r(BN_new());
  EXPECT_EQ(BN_rand_range(r.get(), Hex("C").get()), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_RAND_RANGE, BN_R_TOO_MANY_ITERATIONS}});
  EXPECT_EQ(DetRand::calls, 100);
}

}  // namespace
