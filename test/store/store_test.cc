// The store handle, the method builder and the typed front end, driven
// through a scripted back end whose answers each case sets.

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/store.h>
#include <morvane/x509.h>

#include "test_support.h"

namespace {

// What the scripted back end answers, and what it saw.
struct Script {
  STORE_OBJECT* object = nullptr;  // given (once) by get, generate and list next
  int result = 1;                  // int slots
  void* handle = nullptr;          // list start
  int init_result = 1;
  int cleans = 0;
  int calls = 0;
  int last_type = 0;
  void* lent = nullptr;  // the member of the object given to the store slot
  int lent_refs = 0;     // its reference count during the call (certificates)
};
Script script;

STORE_OBJECT* TakeObject(int type) {
  script.calls++;
  script.last_type = type;
  STORE_OBJECT* o = script.object;
  script.object = nullptr;
  return o;
}

STORE_METHOD* ScriptedMethod() {
  STORE_METHOD* m = STORE_create_method(const_cast<char*>("scripted"));
  STORE_method_set_initialise_function(m, [](STORE*) { return script.init_result; });
  STORE_method_set_cleanup_function(m, [](STORE*) { script.cleans++; });
  STORE_method_set_generate_function(
      m, [](STORE*, STORE_OBJECT_TYPES t, MORVANE_ITEM*, MORVANE_ITEM*) { return TakeObject(t); });
  STORE_method_set_get_function(
      m, [](STORE*, STORE_OBJECT_TYPES t, MORVANE_ITEM*, MORVANE_ITEM*) { return TakeObject(t); });
  STORE_method_set_store_function(
      m, [](STORE*, STORE_OBJECT_TYPES t, STORE_OBJECT* o, MORVANE_ITEM*, MORVANE_ITEM*) {
        script.calls++;
        script.last_type = t;
        script.lent = o->data.number;  // every member shares the union's first pointer
        if (t == STORE_OBJECT_TYPE_X509_CERTIFICATE) {
          script.lent = o->data.x509.certificate;
          if (script.lent != nullptr) script.lent_refs = o->data.x509.certificate->references;
        }
        return script.result;
      });
  STORE_method_set_modify_function(m, [](STORE*, STORE_OBJECT_TYPES t, MORVANE_ITEM*, MORVANE_ITEM*,
                                         MORVANE_ITEM*, MORVANE_ITEM*, MORVANE_ITEM*) {
    script.calls++;
    script.last_type = t;
    return script.result;
  });
  auto handle = [](STORE*, STORE_OBJECT_TYPES t, MORVANE_ITEM*, MORVANE_ITEM*) {
    script.calls++;
    script.last_type = t;
    return script.result;
  };
  STORE_method_set_revoke_function(m, handle);
  STORE_method_set_delete_function(m, handle);
  STORE_method_set_list_start_function(
      m, [](STORE*, STORE_OBJECT_TYPES t, MORVANE_ITEM*, MORVANE_ITEM*) {
        script.calls++;
        script.last_type = t;
        return script.handle;
      });
  STORE_method_set_list_next_function(m, [](STORE*, void*) { return TakeObject(0); });
  STORE_method_set_list_end_function(m, [](STORE*, void*) { return script.result; });
  m->list_object_endp = [](STORE*, void*) { return script.result; };
  STORE_method_set_ctrl_function(
      m, [](STORE*, int cmd, long, void*, void (*)(void)) { return cmd + 1; });
  return m;
}

class StoreTest : public testing::Test {
 protected:
  void SetUp() override {
    script = Script{};
    meth_ = ScriptedMethod();
    store_ = STORE_new_method(meth_);
    ASSERT_NE(store_, nullptr);
    empty_ = STORE_create_method(const_cast<char*>("empty"));
    bare_ = STORE_new_method(empty_);
  }
  void TearDown() override {
    STORE_free(store_);
    STORE_free(bare_);
    STORE_destroy_method(meth_);
    STORE_destroy_method(empty_);
  }
  STORE_METHOD* meth_ = nullptr;
  STORE_METHOD* empty_ = nullptr;
  STORE* store_ = nullptr;
  STORE* bare_ = nullptr;  // a method without any slot
};

using morvane_test::ErrEntry;

// One front-end call per row: the missing-slot error on a bare store, and
// the failure error when the scripted slot fails.
struct FrontEndCase {
  const char* name;
  std::function<bool(STORE*)> call;  // true when the call reported success
  int type;
  int func;
  int no_slot;
  int failure;
  int failure_func;  // 0: the same as func
};

bool Ok(int r) {
  return r == 1;
}
bool Got(const void* p) {
  return p != nullptr;
}

// Call shapes: getters, generators and list starts; stores; modifies;
// revoke and delete; list next; list end and endp.
#define GET(fn) #fn, [](STORE* s) { return Got(fn(s, nullptr, nullptr)); }
#define PUT(fn) #fn, [](STORE* s) { return Ok(fn(s, nullptr, nullptr, nullptr)); }
#define MOD(fn) \
  #fn, [](STORE* s) { return Ok(fn(s, nullptr, nullptr, nullptr, nullptr, nullptr)); }
#define DO(fn) #fn, [](STORE* s) { return Ok(fn(s, nullptr, nullptr)); }
#define NEXT(fn) #fn, [](STORE* s) { return Got(fn(s, nullptr)); }
#define END(fn) #fn, [](STORE* s) { return Ok(fn(s, nullptr)); }
#define F(x) STORE_F_STORE_##x
#define R(x) STORE_R_##x
// clang-format off
const FrontEndCase kFrontEnd[] = {
    {GET(STORE_get_certificate), 1, F(GET_CERTIFICATE),
     R(NO_GET_OBJECT_FUNCTION), R(FAILED_GETTING_CERTIFICATE), 0},
    {PUT(STORE_store_certificate), 1, F(CERTIFICATE),
     R(NO_STORE_OBJECT_FUNCTION), R(FAILED_STORING_CERTIFICATE), F(STORE_CERTIFICATE)},
    {MOD(STORE_modify_certificate), 1, F(MODIFY_CERTIFICATE),
     R(NO_MODIFY_OBJECT_FUNCTION), R(FAILED_MODIFYING_CERTIFICATE), 0},
    {DO(STORE_revoke_certificate), 1, F(REVOKE_CERTIFICATE),
     R(NO_REVOKE_OBJECT_FUNCTION), R(FAILED_REVOKING_CERTIFICATE), 0},
    {DO(STORE_delete_certificate), 1, F(DELETE_CERTIFICATE),
     R(NO_DELETE_OBJECT_FUNCTION), R(FAILED_DELETING_CERTIFICATE), 0},
    {GET(STORE_list_certificate_start), 1, F(LIST_CERTIFICATE_START),
     R(NO_LIST_OBJECT_START_FUNCTION), R(FAILED_LISTING_CERTIFICATES), 0},
    {NEXT(STORE_list_certificate_next), 0, F(LIST_CERTIFICATE_NEXT),
     R(NO_LIST_OBJECT_NEXT_FUNCTION), R(FAILED_LISTING_CERTIFICATES), 0},
    {END(STORE_list_certificate_end), -1, F(LIST_CERTIFICATE_END),
     R(NO_LIST_OBJECT_END_FUNCTION), R(FAILED_LISTING_CERTIFICATES), 0},
    {END(STORE_list_certificate_endp), -1, F(LIST_CERTIFICATE_ENDP),
     R(NO_LIST_OBJECT_ENDP_FUNCTION), R(FAILED_LISTING_CERTIFICATES), 0},
    {GET(STORE_generate_key), 3, F(GENERATE_KEY),
     R(NO_GENERATE_OBJECT_FUNCTION), R(FAILED_GENERATING_KEY), 0},
    {GET(STORE_get_private_key), 3, F(GET_PRIVATE_KEY),
     R(NO_GET_OBJECT_FUNCTION), R(FAILED_GETTING_KEY), 0},
    {PUT(STORE_store_private_key), 3, F(STORE_PRIVATE_KEY),
     R(NO_STORE_OBJECT_FUNCTION), R(FAILED_STORING_KEY), 0},
    {MOD(STORE_modify_private_key), 3, F(MODIFY_PRIVATE_KEY),
     R(NO_MODIFY_OBJECT_FUNCTION), R(FAILED_MODIFYING_PRIVATE_KEY), 0},
    {DO(STORE_revoke_private_key), 3, F(REVOKE_PRIVATE_KEY),
     R(NO_REVOKE_OBJECT_FUNCTION), R(FAILED_REVOKING_KEY), 0},
    {DO(STORE_delete_private_key), 3, F(DELETE_PRIVATE_KEY),
     R(NO_DELETE_OBJECT_FUNCTION), R(FAILED_DELETING_KEY), 0},
    {GET(STORE_list_private_key_start), 3, F(LIST_PRIVATE_KEY_START),
     R(NO_LIST_OBJECT_START_FUNCTION), R(FAILED_LISTING_KEYS), 0},
    {END(STORE_list_private_key_endp), -1, F(LIST_PRIVATE_KEY_ENDP),
     R(NO_LIST_OBJECT_ENDP_FUNCTION), R(FAILED_LISTING_KEYS), 0},
    {GET(STORE_get_public_key), 4, F(GET_PUBLIC_KEY),
     R(NO_GET_OBJECT_FUNCTION), R(FAILED_GETTING_KEY), 0},
    {MOD(STORE_modify_public_key), 4, F(MODIFY_PUBLIC_KEY),
     R(NO_MODIFY_OBJECT_FUNCTION), R(FAILED_MODIFYING_PUBLIC_KEY), 0},
    {DO(STORE_revoke_public_key), 4, F(REVOKE_PUBLIC_KEY),
     R(NO_REVOKE_OBJECT_FUNCTION), R(FAILED_REVOKING_KEY), 0},
    {NEXT(STORE_list_public_key_next), 0, F(LIST_PUBLIC_KEY_NEXT),
     R(NO_LIST_OBJECT_NEXT_FUNCTION), R(FAILED_LISTING_KEYS), 0},
    {GET(STORE_generate_crl), 2, F(GENERATE_CRL),
     R(NO_GENERATE_CRL_FUNCTION), R(FAILED_GENERATING_CRL), 0},
    {GET(STORE_get_crl), 2, F(GET_CRL),
     R(NO_GET_OBJECT_FUNCTION), R(FAILED_GETTING_KEY), 0},
    {PUT(STORE_store_crl), 2, F(STORE_CRL),
     R(NO_STORE_OBJECT_FUNCTION), R(FAILED_STORING_KEY), 0},
    {MOD(STORE_modify_crl), 2, F(MODIFY_CRL),
     R(NO_MODIFY_OBJECT_FUNCTION), R(FAILED_MODIFYING_CRL), 0},
    {DO(STORE_delete_crl), 2, F(DELETE_CRL),
     R(NO_DELETE_OBJECT_FUNCTION), R(FAILED_DELETING_KEY), 0},
    {END(STORE_list_crl_end), -1, F(LIST_CRL_END),
     R(NO_LIST_OBJECT_END_FUNCTION), R(FAILED_LISTING_KEYS), 0},
    {GET(STORE_get_number), 5, F(GET_NUMBER),
     R(NO_GET_OBJECT_NUMBER_FUNCTION), R(FAILED_GETTING_NUMBER), 0},
    {PUT(STORE_store_number), 5, F(STORE_NUMBER),
     R(NO_STORE_OBJECT_NUMBER_FUNCTION), R(FAILED_STORING_NUMBER), 0},
    {MOD(STORE_modify_number), 5, F(MODIFY_NUMBER),
     R(NO_MODIFY_OBJECT_FUNCTION), R(FAILED_MODIFYING_NUMBER), 0},
    {DO(STORE_delete_number), 5, F(DELETE_NUMBER),
     R(NO_DELETE_NUMBER_FUNCTION), R(FAILED_DELETING_NUMBER), 0},
    {GET(STORE_get_arbitrary), 6, F(GET_ARBITRARY),
     R(NO_GET_OBJECT_ARBITRARY_FUNCTION), R(FAILED_GETTING_ARBITRARY), 0},
    {PUT(STORE_store_arbitrary), 6, F(STORE_ARBITRARY),
     R(NO_STORE_OBJECT_ARBITRARY_FUNCTION), R(FAILED_STORING_ARBITRARY), 0},
    {MOD(STORE_modify_arbitrary), 6, F(MODIFY_ARBITRARY),
     R(NO_MODIFY_OBJECT_FUNCTION), R(FAILED_MODIFYING_ARBITRARY), 0},
    {DO(STORE_delete_arbitrary), 6, F(DELETE_ARBITRARY),
     R(NO_DELETE_ARBITRARY_FUNCTION), R(FAILED_DELETING_ARBITRARY), 0},
};
// clang-format on
#undef GET
#undef PUT
#undef MOD
#undef DO
#undef NEXT
#undef END
#undef F
#undef R

TEST_F(StoreTest, EveryOperationNamesItsMissingSlot) {
  for (const FrontEndCase& c : kFrontEnd) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.call(bare_));
    EXPECT_ERRORS({{ERR_LIB_STORE, c.func, c.no_slot}});
    EXPECT_FALSE(c.call(nullptr));
    EXPECT_ERRORS({{ERR_LIB_STORE, c.func, ERR_R_PASSED_NULL_PARAMETER}});
  }
}

TEST_F(StoreTest, EveryOperationReportsItsFamilysFailure) {
  script.result = 0;  // int slots fail, pointer slots give null
  for (const FrontEndCase& c : kFrontEnd) {
    SCOPED_TRACE(c.name);
    script.calls = 0;
    script.last_type = -1;
    EXPECT_FALSE(c.call(store_));
    EXPECT_ERRORS({{ERR_LIB_STORE, c.failure_func ? c.failure_func : c.func, c.failure}});
    if (c.type >= 0) {
      EXPECT_EQ(script.calls, 1);
      EXPECT_EQ(script.last_type, c.type);
    }
  }
}

TEST_F(StoreTest, GettersHandOverTheMember) {
  // A number and a buffer become the caller's own.
  STORE_OBJECT* o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_NUMBER;
  o->data.number = BN_new();
  BN_set_word(o->data.number, 42);
  script.object = o;
  BIGNUM* n = STORE_get_number(store_, nullptr, nullptr);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(BN_get_word(n), 42u);
  BN_free(n);

  o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_ARBITRARY;
  o->data.arbitrary = BUF_MEM_new();
  script.object = o;
  BUF_MEM* b = STORE_get_arbitrary(store_, nullptr, nullptr);
  EXPECT_NE(b, nullptr);
  BUF_MEM_free(b);

  // A key: the object's reference becomes the caller's.
  o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_PRIVATE_KEY;
  o->data.key = EVP_PKEY_new();
  script.object = o;
  EVP_PKEY* k = STORE_generate_key(store_, nullptr, nullptr);
  EXPECT_NE(k, nullptr);
  EVP_PKEY_free(k);

  // An object typed for another member: refused, and freed by its own type.
  o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_ARBITRARY;
  o->data.arbitrary = BUF_MEM_new();
  script.object = o;
  EXPECT_EQ(STORE_get_number(store_, nullptr, nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_GET_NUMBER, STORE_R_FAILED_GETTING_NUMBER}});

  // An object without the member: the failure, and the object is freed.
  script.object = STORE_OBJECT_new();
  EXPECT_EQ(STORE_get_public_key(store_, nullptr, nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_GET_PUBLIC_KEY, STORE_R_FAILED_GETTING_KEY}});
}

TEST_F(StoreTest, StoreLendsTheItem) {
  BIGNUM* n = BN_new();
  EXPECT_EQ(STORE_store_number(store_, n, nullptr, nullptr), 1);
  EXPECT_EQ(script.lent, n);
  EXPECT_EQ(script.last_type, STORE_OBJECT_TYPE_NUMBER);
  BN_free(n);  // still the caller's
  EVP_PKEY* k = EVP_PKEY_new();
  EXPECT_EQ(STORE_store_public_key(store_, k, nullptr, nullptr), 1);
  EXPECT_EQ(script.lent, k);
  EVP_PKEY_free(k);
  EXPECT_ERRORS({});
}

// A certificate handed out keeps one reference for the caller (taken under
// its lock before the object's own goes); one lent to the store slot has a
// second reference for the call only.
TEST_F(StoreTest, CertificatesChangeHandsByReference) {
  morvane_test::InstallLockingCallback();
  X509* cert = X509_new();
  STORE_OBJECT* o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_X509_CERTIFICATE;
  o->data.x509.certificate = cert;
  script.object = o;
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(STORE_get_certificate(store_, nullptr, nullptr), cert);
  // The caller's reference is added, then the object's dropped.
  const auto lock = morvane_test::WriteLock(CRYPTO_LOCK_X509);
  const auto unlock = morvane_test::WriteUnlock(CRYPTO_LOCK_X509);
  const std::vector<morvane_test::LockEvent> want = {lock, unlock, lock, unlock};
  EXPECT_EQ(morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509}), want);
  EXPECT_EQ(cert->references, 1);

  EXPECT_EQ(STORE_store_certificate(store_, cert, nullptr, nullptr), 1);
  EXPECT_EQ(script.lent, cert);
  EXPECT_EQ(script.lent_refs, 2);
  EXPECT_EQ(cert->references, 1);
  X509_free(cert);

  // A revocation list, in an object released with the list.
  o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_X509_CRL;
  o->data.crl = X509_CRL_new();
  STORE_OBJECT_free(o);
  EXPECT_ERRORS({});
}

TEST_F(StoreTest, ListingEndpWithObjectsLeftIsAFailure) {
  int token = 0;
  script.handle = &token;
  void* h = STORE_list_certificate_start(store_, nullptr, nullptr);
  EXPECT_EQ(h, &token);
  script.result = 0;
  EXPECT_EQ(STORE_list_certificate_endp(store_, h), 0);
  EXPECT_ERRORS(
      {{ERR_LIB_STORE, STORE_F_STORE_LIST_CERTIFICATE_ENDP, STORE_R_FAILED_LISTING_CERTIFICATES}});
  script.result = 1;
  EXPECT_EQ(STORE_list_certificate_endp(store_, h), 1);
  EXPECT_EQ(STORE_list_certificate_end(store_, h), 1);
  EXPECT_ERRORS({});
}

TEST_F(StoreTest, BuilderSlotsAndName) {
  EXPECT_STREQ(meth_->name, "scripted");
  EXPECT_NE(STORE_method_get_initialise_function(meth_), nullptr);
  EXPECT_EQ(STORE_method_get_initialise_function(empty_), nullptr);
  EXPECT_EQ(STORE_method_get_update_store_function(meth_), nullptr);
  // One setter and getter per slot, each touching its own slot only.
  STORE_METHOD* m = STORE_create_method(const_cast<char*>("m"));
  auto generic = [](STORE*, MORVANE_ITEM*, MORVANE_ITEM*) { return 7; };
  STORE_GENERIC_FUNC_PTR g = generic;
  EXPECT_EQ(STORE_method_set_update_store_function(m, g), 1);
  EXPECT_EQ(STORE_method_get_update_store_function(m), g);
  EXPECT_EQ(m->update_store, g);
  EXPECT_EQ(STORE_method_set_lock_store_function(m, g), 1);
  EXPECT_EQ(m->lock_store, g);
  EXPECT_EQ(STORE_method_set_unlock_store_function(m, g), 1);
  EXPECT_EQ(STORE_method_get_unlock_store_function(m), g);
  EXPECT_EQ(m->unlock_store, g);
  EXPECT_EQ(STORE_method_get_lock_store_function(m), g);
  EXPECT_EQ(m->list_object_endp, nullptr);
  EXPECT_EQ(m->init, nullptr);
  EXPECT_EQ(STORE_method_set_ctrl_function(nullptr, nullptr), 0);
  EXPECT_EQ(STORE_method_get_ctrl_function(nullptr), nullptr);
  STORE_destroy_method(m);
  STORE_destroy_method(nullptr);
}

TEST_F(StoreTest, HandleLifecycle) {
  EXPECT_EQ(STORE_get_method(store_), meth_);
  EXPECT_EQ(STORE_set_method(store_, empty_), empty_);
  EXPECT_EQ(STORE_set_method(store_, meth_), meth_);
  EXPECT_EQ(script.cleans, 0);  // setting a method runs neither init nor clean

  const int idx = STORE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_GE(idx, 0);
  int v = 0;
  EXPECT_EQ(STORE_set_ex_data(store_, idx, &v), 1);
  EXPECT_EQ(STORE_get_ex_data(store_, idx), &v);

  EXPECT_EQ(STORE_ctrl(store_, 4, 0, nullptr, nullptr), 5);
  EXPECT_EQ(STORE_ctrl(bare_, 4, 0, nullptr, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_CTRL, STORE_R_NO_CONTROL_FUNCTION}});
  EXPECT_EQ(STORE_ctrl(nullptr, 4, 0, nullptr, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_CTRL, ERR_R_PASSED_NULL_PARAMETER}});

  // A refused init frees the store, running clean.
  script.init_result = 0;
  EXPECT_EQ(STORE_new_method(meth_), nullptr);
  EXPECT_EQ(script.cleans, 1);
  EXPECT_EQ(STORE_new_method(nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_NEW_METHOD, ERR_R_PASSED_NULL_PARAMETER}});
  STORE_free(nullptr);
}

TEST(StoreObject, FreeReleasesTheTypedMember) {
  STORE_OBJECT* o = STORE_OBJECT_new();
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->type, 0);
  EXPECT_EQ(o->data.number, nullptr);
  STORE_OBJECT_free(o);
  o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_NUMBER;
  o->data.number = BN_new();
  STORE_OBJECT_free(o);  // the leak checker sees the number go
  o = STORE_OBJECT_new();
  o->type = STORE_OBJECT_TYPE_PUBLIC_KEY;
  o->data.key = EVP_PKEY_new();
  STORE_OBJECT_free(o);
  STORE_OBJECT_free(nullptr);
  EXPECT_ERRORS({});
}

// ---- Engines.

int engine_inits = 0;
int engine_finishes = 0;

ENGINE* CountingEngine(const STORE_METHOD* meth) {
  engine_inits = engine_finishes = 0;
  ENGINE* e = ENGINE_new();
  ENGINE_set_id(e, "store-test");
  ENGINE_set_init_function(e, [](ENGINE*) { return ++engine_inits, 1; });
  ENGINE_set_finish_function(e, [](ENGINE*) { return ++engine_finishes, 1; });
  if (meth != nullptr) ENGINE_set_STORE(e, meth);
  return e;
}

TEST(StoreEngine, WithoutStoreMethodLeavesTheEngineAsItWas) {
  ENGINE* e = CountingEngine(nullptr);
  EXPECT_EQ(STORE_new_engine(e), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_NEW_ENGINE, ERR_R_ENGINE_LIB}});
  // The functional reference taken was given back: initialised once, finished once.
  EXPECT_EQ(engine_inits, 1);
  EXPECT_EQ(engine_finishes, 1);
  ENGINE_free(e);
  EXPECT_EQ(STORE_new_engine(nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_NEW_ENGINE, ERR_R_PASSED_NULL_PARAMETER}});
}

TEST(StoreEngine, FreeFinishesTheEngine) {
  ENGINE* e = CountingEngine(STORE_Memory());
  STORE* s = STORE_new_engine(e);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(STORE_get_method(s), STORE_Memory());
  EXPECT_EQ(engine_inits, 1);
  EXPECT_EQ(engine_finishes, 0);
  STORE_free(s);
  EXPECT_EQ(engine_finishes, 1);
  ENGINE_free(e);
  EXPECT_ERRORS({});
}

TEST(StoreEngine, RefusedStoreFinishesTheEngine) {
  script = Script{};
  script.init_result = 0;
  STORE_METHOD* m = ScriptedMethod();
  ENGINE* e = CountingEngine(m);
  EXPECT_EQ(STORE_new_engine(e), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_NEW_ENGINE, ERR_R_STORE_LIB}});
  EXPECT_EQ(engine_finishes, 1);
  ENGINE_free(e);
  STORE_destroy_method(m);
}

// ---- Tables and texts.

TEST(StoreTables, SizesAndNames) {
  const int attr[] = {0, -1, 20, 20, 20, 20, 4, 4, 4, 20, -1, -1};
  for (int i = 0; i <= STORE_ATTR_TYPE_NUM; i++) EXPECT_EQ(STORE_attr_sizes[i], attr[i]) << i;
  const int param[] = {0, 4, 4, -1, 0, 0, 0};
  for (int i = 0; i < 7; i++) EXPECT_EQ(STORE_param_sizes[i], param[i]) << i;
  EXPECT_EQ(STORE_object_type_string[0], nullptr);
  EXPECT_STREQ(STORE_object_type_string[STORE_OBJECT_TYPE_X509_CERTIFICATE], "X.509 Certificate");
  EXPECT_STREQ(STORE_object_type_string[STORE_OBJECT_TYPE_ARBITRARY], "Arbitrary Data");
}

TEST(StoreTexts, LoadedOnlyByTheirLoader) {
  const unsigned long reason = ERR_PACK(ERR_LIB_STORE, 0, STORE_R_NO_STORE);
  const unsigned long func = ERR_PACK(ERR_LIB_STORE, STORE_F_STORE_CERTIFICATE, 0);
  ERR_load_crypto_strings();
  EXPECT_EQ(ERR_reason_error_string(reason), nullptr);
  ERR_load_STORE_strings();
  EXPECT_STREQ(ERR_reason_error_string(reason), "no store");
  EXPECT_STREQ(ERR_func_error_string(func), "STORE_CERTIFICATE");
  EXPECT_STREQ(ERR_func_error_string(ERR_PACK(ERR_LIB_STORE, STORE_F_MEM_LIST_END, 0)),
               "MEM_LIST_END");
  EXPECT_STREQ(
      ERR_reason_error_string(ERR_PACK(ERR_LIB_STORE, 0, STORE_R_NO_MODIFY_OBJECT_FUNCTION)),
      "no modify object function");
  EXPECT_EQ(ERR_lib_error_string(reason), nullptr);  // the library has no name text
}

}  // namespace
