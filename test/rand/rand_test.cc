// The random generator's entry points: dispatch through the current method,
// the results when a slot is missing, and the built-in default.

#include <string>

#include <gtest/gtest.h>
#include <morvane/engine.h>
#include <morvane/rand.h>

#include "test_support.h"

namespace {

TEST(RandDefault, EmptyAndNegativeCountsWriteNothing) {
  unsigned char buf[4] = {7, 7, 7, 7};
  EXPECT_EQ(RAND_bytes(buf, 0), 1);
  EXPECT_EQ(RAND_bytes(buf, -5), 1);
  EXPECT_EQ(RAND_pseudo_bytes(buf, 0), 1);
  EXPECT_EQ(std::string(buf, buf + 4), "\7\7\7\7");
  RAND_seed(buf, -4);  // outside the contract: ignored
  RAND_add(nullptr, 4, 4.0);
}

std::string calls;
const RAND_METHOD kLogging = {
    [](const void*, int n) { calls += "seed" + std::to_string(n) + " "; },
    [](unsigned char*, int n) { return calls += "bytes" + std::to_string(n) + " ", 1; },
    [] { calls += "cleanup "; },
    [](const void*, int n, double e) { calls += "add" + std::to_string(n * e) + " "; },
    [](unsigned char*, int) { return calls += "pseudo ", 0; },
    [] { return calls += "status ", 0; }};

TEST(RandDispatch, ForwardsToTheCurrentMethodUntilCleanup) {
  ASSERT_EQ(RAND_set_rand_method(&kLogging), 1);
  unsigned char b[3];
  RAND_seed(b, 3);
  RAND_add(b, 2, 1.5);
  EXPECT_EQ(RAND_bytes(b, 3), 1);
  EXPECT_EQ(RAND_pseudo_bytes(b, 3), 0);  // the slot's result, passed on
  EXPECT_EQ(RAND_status(), 0);
  RAND_cleanup();
  EXPECT_EQ(calls, "seed3 add3.000000 bytes3 pseudo status cleanup ");
  EXPECT_EQ(RAND_get_rand_method(), RAND_Quorix());  // chosen anew
}

TEST(RandDispatch, MissingSlots) {
  static const RAND_METHOD empty = {};
  ASSERT_EQ(RAND_set_rand_method(&empty), 1);
  unsigned char buf[2] = {5, 5};
  EXPECT_EQ(RAND_bytes(buf, 2), -1);
  EXPECT_EQ(RAND_pseudo_bytes(buf, 2), -1);
  EXPECT_EQ(RAND_status(), 0);
  RAND_seed(buf, 2);
  RAND_add(buf, 2, 2.0);
  RAND_cleanup();
  EXPECT_EQ(buf[0] + buf[1], 10);
}

int finishes = 0;

// The default random engine's table serves, and the layer holds the engine
// (one functional reference) until the method is replaced or cleaned up.
TEST(RandDispatch, TheDefaultEngineServesUntilReplaced) {
  ENGINE* e = ENGINE_new();
  ENGINE_set_id(e, "rand-test");
  ENGINE_set_name(e, "rand-test");
  ENGINE_set_finish_function(e, [](ENGINE*) { return ++finishes, 1; });
  ENGINE_set_RAND(e, &kLogging);
  ASSERT_EQ(ENGINE_set_default_RAND(e), 1);
  unsigned char b[4];
  EXPECT_EQ(RAND_bytes(b, 4), 1);
  ENGINE_unregister_RAND(e);  // the table lets go; the layer still holds it
  EXPECT_EQ(finishes, 0);
  RAND_cleanup();
  EXPECT_EQ(calls, "bytes4 cleanup ");
  EXPECT_EQ(finishes, 1);
  EXPECT_EQ(RAND_get_rand_method(), RAND_Quorix());
  ASSERT_EQ(RAND_set_rand_engine(e), 1);
  EXPECT_EQ(RAND_get_rand_method(), &kLogging);
  RAND_set_rand_method(nullptr);
  EXPECT_EQ(finishes, 2);
  ENGINE_set_RAND(e, nullptr);
  EXPECT_EQ(RAND_set_rand_engine(e), 0);  // no table: no reference kept
  EXPECT_EQ(finishes, 3);
  ENGINE_free(e);
}

}  // namespace
