// The counting test engine.

#include "test_engine.h"

#include <map>

#include <morvane/crypto.h>
#include <morvane/err.h>

namespace engine_test {
namespace {

struct State {
  Counts counts;
  bool init_ok = true;
};
std::map<const ENGINE*, State>& States() {
  static std::map<const ENGINE*, State> states;
  return states;
}

int Init(ENGINE* e) {
  State& s = States()[e];
  s.counts.inits++;
  if (!s.init_ok) ERR_put_error(ERR_LIB_ENGINE, 0, ENGINE_R_INIT_FAILED, "test", 1);
  return s.init_ok ? 1 : 0;
}
int Finish(ENGINE* e) {
  return ++States()[e].counts.finishes, 1;
}
int Destroy(ENGINE* e) {
  return ++States()[e].counts.destroys, 1;
}

int seen_ref = 0;
int AddLock(int* p, int amount, int, const char*, int) {
  *p += amount;
  seen_ref = *p;
  return *p;
}

}  // namespace

Counts& CountsOf(const ENGINE* e) {
  return States()[e].counts;
}

ENGINE* MakeEngine(const char* id, bool init_ok) {
  ENGINE* e = ENGINE_new();
  ENGINE_set_id(e, id);
  ENGINE_set_name(e, id);
  ENGINE_set_init_function(e, Init);
  ENGINE_set_finish_function(e, Finish);
  ENGINE_set_destroy_function(e, Destroy);
  States()[e] = State{Counts{}, init_ok};
  return e;
}

int StructRef(ENGINE* e) {
  CRYPTO_add_lock_cb old = CRYPTO_get_add_lock_callback();
  CRYPTO_set_add_lock_callback(AddLock);
  ENGINE_up_ref(e);
  int ref = seen_ref - 1;
  ENGINE_free(e);
  CRYPTO_set_add_lock_callback(old);
  return ref;
}

}  // namespace engine_test
