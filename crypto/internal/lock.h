// Scoped guards over CRYPTO_lock (the request on entry, the matching release
// on every way out of the scope; the source place given is passed to the
// application's callback for both), and the once-chosen table pointers that
// the error queue and the extra-data registry share.
#ifndef MORVANE_INTERNAL_LOCK_H
#define MORVANE_INTERNAL_LOCK_H

#include <atomic>

#include <morvane/crypto.h>

namespace morvane::internal {

template <int Mode>  // CRYPTO_READ or CRYPTO_WRITE
class [[nodiscard]] LockGuard {
 public:
  LockGuard(int type, const char* file, int line) : type_(type), file_(file), line_(line) {
    CRYPTO_lock(CRYPTO_LOCK | Mode, type_, file_, line_);
  }
  ~LockGuard() { CRYPTO_lock(CRYPTO_UNLOCK | Mode, type_, file_, line_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  int type_;
  const char* file_;
  int line_;
};

using WriteLock = LockGuard<CRYPTO_WRITE>;
using ReadLock = LockGuard<CRYPTO_READ>;

}  // namespace morvane::internal

// Holds static lock `type` for the rest of the enclosing scope.
#define MORVANE_WRITE_LOCKED(type) \
  ::morvane::internal::WriteLock morvane_lock_guard_(type, __FILE__, __LINE__)
#define MORVANE_READ_LOCKED(type) \
  ::morvane::internal::ReadLock morvane_lock_guard_(type, __FILE__, __LINE__)

namespace morvane::internal {

// A process-wide table pointer chosen once.  `in_force` returns it, storing
// `fallback` first when it is empty; `install` stores `table` only while it is
// empty and says whether it did.  Both decide under a write lock of `type`;
// the quick test before the lock makes later calls lock-free.
template <class T>
const T* in_force(std::atomic<const T*>& slot, const T* fallback, int type) {
  const T* t = slot.load(std::memory_order_acquire);
  if (t != nullptr) return t;
  MORVANE_WRITE_LOCKED(type);
  t = slot.load(std::memory_order_relaxed);
  if (t == nullptr) {
    t = fallback;
    slot.store(t, std::memory_order_release);
  }
  return t;
}

template <class T>
bool install(std::atomic<const T*>& slot, const T* table, int type) {
  MORVANE_WRITE_LOCKED(type);
  if (slot.load(std::memory_order_relaxed) != nullptr) return false;
  slot.store(table, std::memory_order_release);
  return true;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_LOCK_H
