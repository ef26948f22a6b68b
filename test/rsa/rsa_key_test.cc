// The RSA key object: creation with the default or an engine's method,
// references, methods and their init and finish, flags, application data,
// the null method, and the lock requests of references and of the lazily
// made Montgomery contexts.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::LockEvent;
using morvane_test::ReadLock;
using morvane_test::ReadUnlock;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

constexpr int kR = ERR_LIB_RSA;

// A method that counts its init and finish calls and whose init may fail.
int inits = 0, finishes = 0, init_result = 1;
int CountingInit(RSA*) {
  inits++;
  return init_result;
}
int CountingFinish(RSA*) {
  finishes++;
  return 1;
}
RSA_METHOD CountingMethod(int flags) {
  RSA_METHOD m = *RSA_null_method();
  m.name = "counting";
  m.init = CountingInit;
  m.finish = CountingFinish;
  m.flags = flags;
  return m;
}

TEST(RsaKey, NewKeyUsesTheBuiltInMethod) {
  Rsa key(RSA_new());
  ASSERT_TRUE(key);
  EXPECT_EQ(RSA_get_default_method(), RSA_PKCS1_Quorix());
  EXPECT_EQ(RSA_get_method(key.get()), RSA_PKCS1_Quorix());
  EXPECT_STREQ(RSA_PKCS1_Quorix()->name, "Tamsel's PKCS#1 RSA");
  EXPECT_STREQ(RSA_null_method()->name, "Null RSA");
  EXPECT_EQ(key->references, 1);
  EXPECT_EQ(key->engine, nullptr);
  EXPECT_EQ(key->pad, 0);
  EXPECT_EQ(key->version, 0);
  // The built-in init turns the Montgomery caches on; RSA_flags reads the method.
  EXPECT_EQ(key->flags, RSA_FLAG_CACHE_PUBLIC | RSA_FLAG_CACHE_PRIVATE);
  EXPECT_EQ(RSA_flags(key.get()), 0);
  EXPECT_EQ(RSA_flags(nullptr), 0);
  for (BIGNUM* b : {key->n, key->e, key->d, key->p, key->q, key->dmp1, key->dmq1, key->iqmp})
    EXPECT_EQ(b, nullptr);
  EXPECT_EQ(key->blinding, nullptr);
  EXPECT_EQ(key->_method_mod_n, nullptr);
  const RSA_METHOD* m = RSA_PKCS1_Quorix();
  EXPECT_EQ(m->bn_mod_exp, BN_mod_exp_mont);
  EXPECT_NE(m->rsa_mod_exp, nullptr);
  EXPECT_EQ(m->rsa_sign, nullptr);
  EXPECT_EQ(m->rsa_keygen, nullptr);
  EXPECT_EQ(RSA_null_method()->rsa_mod_exp, nullptr);
  EXPECT_EQ(RSA_null_method()->bn_mod_exp, nullptr);
}

TEST(RsaKey, DefaultMethodIsProcessWide) {
  RSA_METHOD counting = CountingMethod(0);
  RSA_set_default_method(&counting);
  Rsa key(RSA_new());
  EXPECT_EQ(RSA_get_method(key.get()), &counting);
  EXPECT_EQ(inits, 1);
  RSA_set_default_method(nullptr);  // back to the built-in one on the next use
  EXPECT_EQ(RSA_get_default_method(), RSA_PKCS1_Quorix());
  key.reset();
  EXPECT_EQ(finishes, 1);
}

TEST(RsaKey, MethodOnlyFlagStaysWithTheMethod) {
  RSA_METHOD counting = CountingMethod(RSA_FLAG_METHOD_ONLY | RSA_FLAG_NO_BLINDING);
  RSA_set_default_method(&counting);
  Rsa key(RSA_new());
  EXPECT_EQ(key->flags, RSA_FLAG_NO_BLINDING);
  EXPECT_EQ(RSA_flags(key.get()), RSA_FLAG_METHOD_ONLY | RSA_FLAG_NO_BLINDING);
}

TEST(RsaKey, FailingInitGivesNoKey) {
  RSA_METHOD counting = CountingMethod(0);
  init_result = 0;
  RSA_set_default_method(&counting);
  EXPECT_EQ(RSA_new(), nullptr);
  EXPECT_EQ(finishes, 0);
}

TEST(RsaKey, EngineSuppliesTheMethod) {
  RSA_METHOD counting = CountingMethod(0);
  ENGINE* e = ENGINE_new();
  ASSERT_TRUE(ENGINE_set_id(e, "rsa-test") && ENGINE_set_name(e, "RSA test"));
  // Without an RSA method the engine cannot serve.
  EXPECT_EQ(RSA_new_method(e), nullptr);
  EXPECT_ERRORS({{kR, RSA_F_RSA_NEW_METHOD, ERR_R_ENGINE_LIB}});
  ASSERT_EQ(ENGINE_set_RSA(e, &counting), 1);
  Rsa key(RSA_new_method(e));
  ASSERT_TRUE(key);
  EXPECT_EQ(key->engine, e);
  EXPECT_EQ(RSA_get_method(key.get()), &counting);
  // Setting a method runs the old finish, drops the engine, runs the new init.
  key->flags = 0x1234;
  EXPECT_EQ(RSA_set_method(key.get(), RSA_null_method()), 1);
  EXPECT_EQ(finishes, 1);
  EXPECT_EQ(key->engine, nullptr);
  EXPECT_EQ(key->flags, 0x1234);
  EXPECT_EQ(RSA_set_method(key.get(), &counting), 1);
  EXPECT_EQ(inits, 2);
  key.reset();
  EXPECT_EQ(finishes, 2);
  EXPECT_EQ(ENGINE_free(e), 1);
}

TEST(RsaKey, FreeOfASharedKeyOnlyDrops) {
  RSA_METHOD counting = CountingMethod(0);
  RSA_set_default_method(&counting);
  RSA* key = RSA_new();
  key->n = Hex("C5");
  EXPECT_EQ(RSA_up_ref(key), 1);
  EXPECT_EQ(key->references, 2);
  RSA_free(key);
  EXPECT_EQ(key->references, 1);
  EXPECT_EQ(finishes, 0);
  EXPECT_EQ(RSA_size(key), 1);
  RSA_free(key);
  EXPECT_EQ(finishes, 1);
  RSA_free(nullptr);
}

TEST(RsaKey, ReferencesTakeTheRsaLock) {
  morvane_test::InstallLockingCallback();
  Rsa key(RSA_new());
  morvane_test::StartRecordingLocks();
  RSA_up_ref(key.get());
  RSA_free(key.get());
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{WriteLock(CRYPTO_LOCK_RSA), WriteUnlock(CRYPTO_LOCK_RSA),
                                    WriteLock(CRYPTO_LOCK_RSA), WriteUnlock(CRYPTO_LOCK_RSA)}));
}

// Application data: class CRYPTO_EX_INDEX_RSA, released with the key.
void* freed_value = nullptr;
void FreeValue(void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
  freed_value = ptr;
}

TEST(RsaKey, ApplicationData) {
  const int idx = RSA_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeValue);
  ASSERT_GE(idx, 0);
  EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, nullptr, nullptr, nullptr),
            idx + 1);
  Rsa key(RSA_new());
  int value = 7;
  EXPECT_EQ(RSA_get_ex_data(key.get(), idx), nullptr);
  EXPECT_EQ(RSA_set_ex_data(key.get(), idx, &value), 1);
  EXPECT_EQ(RSA_get_ex_data(key.get(), idx), &value);
  key.reset();
  EXPECT_EQ(freed_value, &value);
}

TEST(RsaKey, SizeIsTheModulusInBytes) {
  for (auto [hex, size] : {std::pair{"1", 1}, {"FF", 1}, {"100", 2}, {"FFFFFFFFFF", 5}}) {
    Rsa key(RSA_new());
    key->n = Hex(hex);
    EXPECT_EQ(RSA_size(key.get()), size) << hex;
  }
}

TEST(RsaKey, NullMethodRefusesEveryOperation) {
  Rsa key = MakeKey(TestKey(512));
  RSA_set_method(key.get(), RSA_null_method());
  Bytes buf(64);
  EXPECT_EQ(RSA_public_encrypt(1, buf.data(), buf.data(), key.get(), RSA_PKCS1_PADDING), -1);
  EXPECT_EQ(RSA_public_decrypt(64, buf.data(), buf.data(), key.get(), RSA_PKCS1_PADDING), -1);
  EXPECT_EQ(RSA_private_encrypt(1, buf.data(), buf.data(), key.get(), RSA_PKCS1_PADDING), -1);
  EXPECT_EQ(RSA_private_decrypt(64, buf.data(), buf.data(), key.get(), RSA_PKCS1_PADDING), -1);
  const int r = RSA_R_RSA_OPERATIONS_NOT_SUPPORTED;
  EXPECT_ERRORS({{kR, RSA_F_RSA_NULL_PUBLIC_ENCRYPT, r},
                 {kR, RSA_F_RSA_NULL_PUBLIC_DECRYPT, r},
                 {kR, RSA_F_RSA_NULL_PRIVATE_ENCRYPT, r},
                 {kR, RSA_F_RSA_NULL_PRIVATE_DECRYPT, r}});
}

// The Montgomery contexts: made once each under the write lock after a read
// check (p, q, then n), and found under the read lock afterwards.
TEST(RsaKey, MontgomeryContextsAreMadeOnceInOrder) {
  morvane_test::InstallLockingCallback();
  Rsa key = MakeKey(TestKey(1024));
  key->flags |= RSA_FLAG_NO_BLINDING;
  Bytes in(128, 0x11), out(128);
  in[0] = 0;
  const auto make =
      std::vector<LockEvent>{ReadLock(CRYPTO_LOCK_RSA), ReadUnlock(CRYPTO_LOCK_RSA),
                             WriteLock(CRYPTO_LOCK_RSA), WriteUnlock(CRYPTO_LOCK_RSA)};
  const auto find = std::vector<LockEvent>{ReadLock(CRYPTO_LOCK_RSA), ReadUnlock(CRYPTO_LOCK_RSA)};
  auto times = [](const std::vector<LockEvent>& v, int n) {
    std::vector<LockEvent> all;
    for (int i = 0; i < n; i++) all.insert(all.end(), v.begin(), v.end());
    return all;
  };
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(morvane_test::StopRecordingLocks(), times(make, 3));
  EXPECT_EQ(key->_method_mod_p->N.top, key->p->top);
  EXPECT_EQ(key->_method_mod_q->N.top, key->q->top);
  EXPECT_EQ(key->_method_mod_n->N.top, key->n->top);
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  ASSERT_EQ(RSA_public_encrypt(128, out.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(morvane_test::StopRecordingLocks(), times(find, 4));
  EXPECT_EQ(out, in);
  // Without the caches nothing is locked.
  key->flags &= ~(RSA_FLAG_CACHE_PUBLIC | RSA_FLAG_CACHE_PRIVATE);
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(morvane_test::StopRecordingLocks(), std::vector<LockEvent>{});
}

// The texts of library 4 (43 function and 43 reason texts in all).
TEST(RsaKey, ErrorTexts) {
  ERR_load_RSA_strings();
  EXPECT_STREQ(ERR_func_error_string(ERR_PACK(kR, RSA_F_MEMORY_LOCK, 0)), "MEMORY_LOCK");
  EXPECT_STREQ(ERR_func_error_string(ERR_PACK(kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, 0)),
               "RSA_VEK_PRIVATE_DECRYPT");
  EXPECT_STREQ(ERR_func_error_string(ERR_PACK(kR, RSA_F_RSA_SET_METHOD, 0)), "RSA_set_method");
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(kR, 0, RSA_R_ALGORITHM_MISMATCH)),
               "algorithm mismatch");
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(kR, 0, RSA_R_OAEP_DECODING_ERROR)),
               "oaep decoding error");
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(kR, 0, RSA_R_OPERATION_NOT_ALLOWED_IN_FIPS_MODE)),
               "operation not allowed in fips mode");
}

}  // namespace
