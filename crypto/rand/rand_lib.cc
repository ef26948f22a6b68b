// The random generator's dispatch layer: every entry point forwards to the
// current method, chosen on first use.
//
// Implementation notes: the current method and the engine it came from are
// two atomic pointers, null until the first call.  The default is the
// default random engine's table when the engine tables name one, else the
// built-in pool generator; the layer keeps that engine's functional reference
// until the method is replaced or cleaned up.  A method installed meanwhile by
// another thread wins over the default, whose reference is then released.

#include <atomic>

#include <morvane/engine.h>
#include <morvane/rand.h>

#include "rand/internal.h"

static_assert(sizeof(RAND_METHOD) == 6 * sizeof(void (*)()));

namespace {

constinit std::atomic<const RAND_METHOD*> current_method{nullptr};
constinit std::atomic<ENGINE*> funct_ref{nullptr};

// Releases the engine reference the layer holds, if any.
void release_engine() {
  if (ENGINE* e = funct_ref.exchange(nullptr, std::memory_order_acq_rel)) ENGINE_finish(e);
}

// The default method with, when it comes from an engine, that engine (one
// functional reference, handed to the caller).
const RAND_METHOD* default_method(ENGINE** from) {
  *from = nullptr;
  if (ENGINE* e = ENGINE_get_default_RAND()) {
    if (const RAND_METHOD* m = ENGINE_get_RAND(e)) {
      *from = e;
      return m;
    }
    ENGINE_finish(e);  // an engine without a random table is never current
  }
  return RAND_Quorix();
}

}  // namespace

/* see morvane/rand.h */
int RAND_set_rand_method(const RAND_METHOD* meth) {
  release_engine();
  current_method.store(meth, std::memory_order_release);
  return 1;
}

const RAND_METHOD* RAND_get_rand_method(void) {
  const RAND_METHOD* m = current_method.load(std::memory_order_acquire);
  if (m != nullptr) return m;
  ENGINE* e;
  const RAND_METHOD* fallback = default_method(&e);
  if (current_method.compare_exchange_strong(m, fallback, std::memory_order_acq_rel)) {
    if (e != nullptr) {
      if (ENGINE* old = funct_ref.exchange(e, std::memory_order_acq_rel)) ENGINE_finish(old);
    }
    return fallback;
  }
  if (e != nullptr) ENGINE_finish(e);
  return m;
}

int RAND_set_rand_engine(ENGINE* engine) {
  const RAND_METHOD* meth = nullptr;
  if (engine != nullptr) {
    if (ENGINE_init(engine) == 0) return 0;
    meth = ENGINE_get_RAND(engine);
    if (meth == nullptr) {
      ENGINE_finish(engine);
      return 0;
    }
  }
  RAND_set_rand_method(meth);
  funct_ref.store(engine, std::memory_order_release);
  return 1;
}

void RAND_cleanup(void) {
  const RAND_METHOD* m = RAND_get_rand_method();
  if (m != nullptr && m->cleanup != nullptr) m->cleanup();
  RAND_set_rand_method(nullptr);
}

void RAND_seed(const void* buf, int num) {
  const RAND_METHOD* m = RAND_get_rand_method();
  if (m != nullptr && m->seed != nullptr) m->seed(buf, num);
}

void RAND_add(const void* buf, int num, double entropy) {
  const RAND_METHOD* m = RAND_get_rand_method();
  if (m != nullptr && m->add != nullptr) m->add(buf, num, entropy);
}

int RAND_bytes(unsigned char* buf, int num) {
  const RAND_METHOD* m = RAND_get_rand_method();
  if (m == nullptr || m->bytes == nullptr) return -1;
  return m->bytes(buf, num);
}

int RAND_pseudo_bytes(unsigned char* buf, int num) {
  const RAND_METHOD* m = RAND_get_rand_method();
  if (m == nullptr || m->pseudorand == nullptr) return -1;
  return m->pseudorand(buf, num);
}

int RAND_status(void) {
  const RAND_METHOD* m = RAND_get_rand_method();
  if (m == nullptr || m->status == nullptr) return 0;
  return m->status();
}
