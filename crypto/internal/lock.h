// Scoped guards over CRYPTO_lock: the request on entry, the matching release
// on every way out of the scope.  The source place given is the one passed to
// the application's callback for both requests.
#ifndef MORVANE_INTERNAL_LOCK_H
#define MORVANE_INTERNAL_LOCK_H

#include <morvane/crypto.h>

namespace morvane {

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

}  // namespace morvane

// Holds static lock `type` for the rest of the enclosing scope.
#define MORVANE_WRITE_LOCKED(type) \
  ::morvane::WriteLock morvane_lock_guard_(type, __FILE__, __LINE__)
#define MORVANE_READ_LOCKED(type) ::morvane::ReadLock morvane_lock_guard_(type, __FILE__, __LINE__)

#endif  // MORVANE_INTERNAL_LOCK_H
