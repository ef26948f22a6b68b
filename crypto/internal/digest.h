// Pieces shared by every message digest: the length guard of the Update
// functions and the one-shot form (Init, Update, Final on a local context
// that is wiped afterwards).
#ifndef MORVANE_INTERNAL_DIGEST_H
#define MORVANE_INTERNAL_DIGEST_H

#include <cstddef>
#include <cstdint>

#include <morvane/crypto.h>

namespace morvane::internal {

// True for a length that is a negative int converted to size_t (no object
// is larger than PTRDIFF_MAX).  Update treats such a length as empty instead
// of reading past the caller's buffer.
constexpr bool digest_length_is_negative(size_t len) noexcept {
  return len > static_cast<size_t>(PTRDIFF_MAX);
}

// The one-shot digest: writes into `md`, or into the algorithm's own static
// buffer `shared` when `md` is null, and returns where it wrote (null only if
// Init failed, which no digest does).  The local context is wiped.
template <class Ctx, auto Init, auto Update, auto Final>
unsigned char* digest_oneshot(const unsigned char* d, size_t n, unsigned char* md,
                              unsigned char* shared) noexcept {
  if (md == nullptr) md = shared;
  Ctx c;
  if (!Init(&c)) return nullptr;
  Update(&c, d, n);
  Final(md, &c);
  MORVANE_cleanse(&c, sizeof(c));
  return md;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_DIGEST_H
