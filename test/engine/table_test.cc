// The algorithm tables: registration order, the cached choice, failing
// inits, defaults and cleanup.

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include <string>

#include "test_engine.h"
#include "test_support.h"

namespace {

using namespace engine_test;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

const RAND_METHOD kRand = {};

ENGINE* RandEngine(const char* id, bool init_ok = true) {
  ENGINE* e = MakeEngine(id, init_ok);
  ENGINE_set_RAND(e, &kRand);
  return e;
}

TEST(EngineTable, EmptyTableSelectsNothingWithoutLocking) {
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(ENGINE_get_default_RAND(), nullptr);
  EXPECT_TRUE(morvane_test::StopRecordingLocks().empty());
  EXPECT_ERRORS({});
}

TEST(EngineTable, FirstRegisteredServesUntilUnregistered) {
  ENGINE* a = RandEngine("a");
  ENGINE* b = RandEngine("b");
  ASSERT_EQ(ENGINE_register_RAND(a), 1);
  ASSERT_EQ(ENGINE_register_RAND(b), 1);
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  ENGINE* got = ENGINE_get_default_RAND();
  ENGINE_finish(got);
  got = ENGINE_get_default_RAND();  // cached: one lock pair, no init
  std::vector<morvane_test::LockEvent> once = {WriteLock(30), WriteUnlock(30)};
  std::vector<morvane_test::LockEvent> want = once;
  for (int i = 0; i < 2; i++) want.insert(want.end(), once.begin(), once.end());
  EXPECT_EQ(morvane_test::StopRecordingLocks({30}), want);
  EXPECT_EQ(got, a);
  EXPECT_EQ(CountsOf(a).inits, 1);
  EXPECT_EQ(ENGINE_get_RAND(got), &kRand);
  ENGINE_finish(got);
  ASSERT_EQ(ENGINE_register_RAND(a), 1);  // now b, a: the cached a stays
  got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, a);
  ENGINE_finish(got);
  ENGINE_unregister_RAND(a);
  EXPECT_EQ(CountsOf(a).finishes, 1);  // the table's reference went
  got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, b);
  ENGINE_finish(got);
  ENGINE_cleanup();
  EXPECT_EQ(CountsOf(b).finishes, 1);
  EXPECT_EQ(StructRef(a), 1);
  EXPECT_EQ(StructRef(b), 1);
  ENGINE_free(a);
  ENGINE_free(b);
}

}  // namespace

namespace {

TEST(EngineTable, RefusingInitFallsToTheNextAndKeepsTheQueue) {
  ENGINE* a = RandEngine("a", /*init_ok=*/false);
  ENGINE* b = RandEngine("b");
  ENGINE_register_RAND(a);
  ENGINE_register_RAND(b);
  ERR_put_error(ERR_LIB_ENGINE, 0, ERR_R_MALLOC_FAILURE, "t.cc", 1);
  ENGINE* got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, b);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, 0, ERR_R_MALLOC_FAILURE}});
  ENGINE_finish(got);
  ENGINE_cleanup();
  ENGINE_free(a);
  ENGINE_free(b);
}

TEST(EngineTable, AllRefusingIsCachedUntilTheNextRegistration) {
  ENGINE* a = RandEngine("a", false);
  ENGINE_register_RAND(a);
  EXPECT_EQ(ENGINE_get_default_RAND(), nullptr);
  EXPECT_EQ(ENGINE_get_default_RAND(), nullptr);
  EXPECT_EQ(CountsOf(a).inits, 1);
  ENGINE_register_RAND(a);
  EXPECT_EQ(ENGINE_get_default_RAND(), nullptr);
  EXPECT_EQ(CountsOf(a).inits, 2);
  EXPECT_ERRORS({});
  ENGINE_cleanup();
  ENGINE_free(a);
}

TEST(EngineTable, NoInitFlagSkipsUninitialisedEngines) {
  ENGINE* a = RandEngine("a");
  ENGINE_register_RAND(a);
  ENGINE_set_table_flags(ENGINE_TABLE_FLAG_NOINIT);
  EXPECT_EQ(ENGINE_get_default_RAND(), nullptr);
  EXPECT_EQ(CountsOf(a).inits, 0);
  ENGINE_set_table_flags(0);
  ENGINE_cleanup();
  ENGINE_free(a);
}

TEST(EngineTable, SetDefaultTakesOverAtOnce) {
  ENGINE* a = RandEngine("a");
  ENGINE* b = RandEngine("b");
  ENGINE_register_RAND(a);
  ASSERT_EQ(ENGINE_set_default_RAND(b), 1);
  EXPECT_EQ(StructRef(b), 2);  // the pile's functional reference
  ENGINE* got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, b);
  EXPECT_EQ(CountsOf(a).inits, 0);
  ENGINE_finish(got);
  ENGINE_cleanup();
  EXPECT_EQ(StructRef(b), 1);
  ENGINE_free(a);
  ENGINE_free(b);
}

// The classes that ENGINE_set_default_string sets, seen through the tables.
int DefaultsSet() {
  int bits = 0;
  ENGINE* (*gets[])() = {ENGINE_get_default_RSA,  ENGINE_get_default_DSA,
                         ENGINE_get_default_DH,   ENGINE_get_default_RAND,
                         ENGINE_get_default_ECDH, ENGINE_get_default_ECDSA};
  const int bit[] = {ENGINE_METHOD_RSA,  ENGINE_METHOD_DSA,  ENGINE_METHOD_DH,
                     ENGINE_METHOD_RAND, ENGINE_METHOD_ECDH, ENGINE_METHOD_ECDSA};
  for (int i = 0; i < 6; i++) {
    if (ENGINE* e = gets[i]()) {
      bits |= bit[i];
      ENGINE_finish(e);
    }
  }
  return bits;
}

TEST(EngineTable, DefaultStrings) {
  static const char meth[64] = {};  // stands for every method table
  struct Case {
    const char* list;
    int bits;  // -1: refused with "invalid string"
  } cases[] = {
      {"RSA,DSA", ENGINE_METHOD_RSA | ENGINE_METHOD_DSA},
      {"ALL", 0x3F},
      {" EC , RAND", ENGINE_METHOD_ECDH | ENGINE_METHOD_RAND},
      {"D", ENGINE_METHOD_DSA},
      {"RSA,FOO", -1},
      {"RSAX", -1},
      {"", -1},  // empty elements name nothing
      {",,", -1},
      {"RSA,", ENGINE_METHOD_RSA},
      {",RSA", ENGINE_METHOD_RSA},
      {"RSA,,DSA", ENGINE_METHOD_RSA | ENGINE_METHOD_DSA},
  };
  for (const Case& c : cases) {
    ENGINE* e = MakeEngine("e");
    ENGINE_set_RSA(e, reinterpret_cast<const RSA_METHOD*>(meth));
    ENGINE_set_DSA(e, reinterpret_cast<const DSA_METHOD*>(meth));
    ENGINE_set_DH(e, reinterpret_cast<const DH_METHOD*>(meth));
    ENGINE_set_RAND(e, &kRand);
    ENGINE_set_ECDH(e, reinterpret_cast<const ECDH_METHOD*>(meth));
    ENGINE_set_ECDSA(e, reinterpret_cast<const ECDSA_METHOD*>(meth));
    EXPECT_EQ(ENGINE_set_default_string(e, c.list), c.bits < 0 ? 0 : 1) << c.list;
    if (c.bits < 0) {
      std::string data = std::string("str=") + c.list;
      EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_SET_DEFAULT_STRING, ENGINE_R_INVALID_STRING,
                      data.c_str()}});
    }
    EXPECT_EQ(DefaultsSet(), c.bits < 0 ? 0 : c.bits) << c.list;
    ENGINE_cleanup();
    ENGINE_free(e);
  }
}

const int kCipherNids[] = {5, 97};
int Ciphers(ENGINE*, const EVP_CIPHER** c, const int** nids, int nid) {
  if (c == nullptr) return *nids = kCipherNids, 2;
  *c = nullptr;
  return nid == 5 || nid == 97;
}

TEST(EngineTable, CipherCallbackMakesOnePilePerNid) {
  ENGINE* e = MakeEngine("e");
  ENGINE_set_ciphers(e, Ciphers);
  ASSERT_EQ(ENGINE_register_ciphers(e), 1);
  for (int nid : kCipherNids) {
    ENGINE* got = ENGINE_get_cipher_engine(nid);
    EXPECT_EQ(got, e);
    ENGINE_finish(got);
  }
  EXPECT_EQ(CountsOf(e).inits, 1);
  EXPECT_EQ(ENGINE_get_cipher_engine(6), nullptr);
  EXPECT_EQ(ENGINE_get_cipher(e, 6), nullptr);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_GET_CIPHER, ENGINE_R_UNIMPLEMENTED_CIPHER}});
  ENGINE_cleanup();
  EXPECT_EQ(StructRef(e), 1);
  ENGINE_free(e);
}

}  // namespace
