// The random generator's dispatch layer: every entry point forwards to the
// current method, installed lazily on first use.
//
// Implementation notes: the current method is one atomic pointer, null until
// the first call, when the default is installed unless another thread has
// installed a method meanwhile.  The built-in
// pool generator and engine-supplied methods replace the default here later;
// the entry points do not change.

#include <atomic>

#include <morvane/rand.h>

#include "rand/internal.h"

static_assert(sizeof(RAND_METHOD) == 6 * sizeof(void (*)()));

namespace {

constinit std::atomic<const RAND_METHOD*> current_method{nullptr};

}  // namespace

/* see morvane/rand.h */
int RAND_set_rand_method(const RAND_METHOD* meth) {
  current_method.store(meth, std::memory_order_release);
  return 1;
}

const RAND_METHOD* RAND_get_rand_method(void) {
  const RAND_METHOD* m = current_method.load(std::memory_order_acquire);
  if (m == nullptr) {
    // A method installed meanwhile by another thread wins over the default.
    const RAND_METHOD* fallback = morvane::rand::os_method();
    if (current_method.compare_exchange_strong(m, fallback, std::memory_order_acq_rel)) {
      m = fallback;
    }
  }
  return m;
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
