// The per-key method records of ECDSA and ECDH made through their exported
// constructors: the default method without an engine, an engine's method
// with the engine's reference taken over, "ENGINE lib" for an engine
// without the method (its reference released), and the record's extra data
// of its own class.  Records are released as the headers tell the caller.

#include <morvane/crypto.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// ECDSA_DATA and ECDH_DATA with their constructors, error codes and class.
struct EcdsaKind {
  using Data = ECDSA_DATA;
  using Method = ECDSA_METHOD;
  static Data* New(ENGINE* e) { return ECDSA_DATA_new_method(e); }
  static const Method* Default() { return ECDSA_get_default_method(); }
  static int Set(ENGINE* e, const Method* m) { return ENGINE_set_ECDSA(e, m); }
  static constexpr int kLib = ERR_LIB_ECDSA;
  static constexpr int kFunc = ECDSA_F_ECDSA_DATA_NEW_METHOD;
  static constexpr int kClass = CRYPTO_EX_INDEX_ECDSA;
};
struct EcdhKind {
  using Data = ECDH_DATA;
  using Method = ECDH_METHOD;
  static Data* New(ENGINE* e) { return ECDH_DATA_new_method(e); }
  static const Method* Default() { return ECDH_get_default_method(); }
  static int Set(ENGINE* e, const Method* m) { return ENGINE_set_ECDH(e, m); }
  static constexpr int kLib = ERR_LIB_ECDH;
  static constexpr int kFunc = ECDH_F_ECDH_DATA_NEW_METHOD;
  static constexpr int kClass = CRYPTO_EX_INDEX_ECDH;
};

template <class K>
void Release(typename K::Data* d) {
  if (d->engine != nullptr) ENGINE_finish(d->engine);
  CRYPTO_free_ex_data(K::kClass, d, &d->ex_data);
  CRYPTO_free(d);
}

template <class K>
class MethodRecord : public testing::Test {};
using Kinds = testing::Types<EcdsaKind, EcdhKind>;
TYPED_TEST_SUITE(MethodRecord, Kinds);

TYPED_TEST(MethodRecord, DefaultMethod) {
  using K = TypeParam;
  typename K::Data* d = K::New(nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->init, nullptr);
  EXPECT_EQ(d->engine, nullptr);
  EXPECT_EQ(d->meth, K::Default());
  EXPECT_EQ(d->flags, K::Default()->flags);
  int value = 5;
  EXPECT_EQ(CRYPTO_set_ex_data(&d->ex_data, 0, &value), 1);
  EXPECT_EQ(CRYPTO_get_ex_data(&d->ex_data, 0), &value);
  Release<K>(d);
  EXPECT_ERRORS({});
}

TYPED_TEST(MethodRecord, EngineMethod) {
  using K = TypeParam;
  typename K::Method meth = *K::Default();
  meth.flags = 0x40;
  ENGINE* e = ENGINE_new();
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(K::Set(e, &meth), 1);
  ASSERT_EQ(ENGINE_init(e), 1);  // the reference the record takes over
  typename K::Data* d = K::New(e);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->engine, e);
  EXPECT_EQ(d->meth, &meth);
  EXPECT_EQ(d->flags, 0x40);
  Release<K>(d);
  EXPECT_EQ(ENGINE_free(e), 1);
  EXPECT_ERRORS({});
}

TYPED_TEST(MethodRecord, EngineWithoutTheMethod) {
  using K = TypeParam;
  ENGINE* e = ENGINE_new();
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(ENGINE_init(e), 1);
  EXPECT_EQ(K::New(e), nullptr);
  EXPECT_ERRORS({{K::kLib, K::kFunc, ERR_R_ENGINE_LIB}});
  EXPECT_EQ(ENGINE_free(e), 1);  // the functional reference was released
}

}  // namespace
