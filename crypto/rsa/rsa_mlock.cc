// The explicit blinding switches and the move of a key's private numbers into
// one block of locked memory.
//
// Implementation notes: the locked block holds six BIGNUM records, one spare
// word, then the words of d, p, q, dmp1, dmq1 and iqmp and one more spare
// word.  The records borrow their word arrays from the block, so the
// big-number calls neither grow, wipe nor free them; the first spare word
// records the block's size, so that RSA_free can wipe the whole block before
// it goes back to the locked allocator.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "internal/wipe.h"
#include "rsa/internal.h"

namespace {

constexpr int kLocked = 6;
constexpr size_t kWordsAt = kLocked * sizeof(BIGNUM) + sizeof(BN_ULONG);

}  // namespace

namespace morvane::rsa {

void release_locked_block(char* block) {
  if (block == nullptr) return;
  uint32_t size;
  memcpy(&size, block + kLocked * sizeof(BIGNUM), sizeof size);
  internal::wipe(block, size);
  MORVANE_free_locked(block);
}

}  // namespace morvane::rsa

/* see morvane/rsa.h */
void RSA_blinding_off(RSA* rsa) {
  morvane::rsa::free_blinding(rsa->blinding);
  rsa->blinding = nullptr;
  rsa->flags &= ~RSA_FLAG_BLINDING;
  rsa->flags |= RSA_FLAG_NO_BLINDING;
}

/* see morvane/rsa.h */
int RSA_blinding_on(RSA* rsa, BN_CTX* ctx) {
  if (rsa->blinding != nullptr) RSA_blinding_off(rsa);
  rsa->blinding = RSA_setup_blinding(rsa, ctx);
  if (rsa->blinding == nullptr) return 0;
  rsa->flags |= RSA_FLAG_BLINDING;
  rsa->flags &= ~RSA_FLAG_NO_BLINDING;
  return 1;
}

/* see morvane/rsa.h */
int RSA_memory_lock(RSA* r) {
  if (r->d == nullptr) return 1;
  BIGNUM** const numbers[kLocked] = {&r->d, &r->p, &r->q, &r->dmp1, &r->dmq1, &r->iqmp};
  size_t words = 1;
  for (BIGNUM** b : numbers) {
    if (*b == nullptr) {
      RSAerr(RSA_F_RSA_MEMORY_LOCK, ERR_R_PASSED_NULL_PARAMETER);
      return 0;
    }
    words += static_cast<size_t>((*b)->top);
  }
  const size_t size = kWordsAt + words * sizeof(BN_ULONG);
  auto* block = static_cast<char*>(MORVANE_malloc_locked(size));
  if (block == nullptr) {
    RSAerr(RSA_F_RSA_MEMORY_LOCK, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  memset(block, 0, size);
  const auto recorded = static_cast<uint32_t>(size);
  memcpy(block + kLocked * sizeof(BIGNUM), &recorded, sizeof recorded);
  auto* headers = reinterpret_cast<BIGNUM*>(block);
  auto* w = reinterpret_cast<BN_ULONG*>(block + kWordsAt);
  for (int i = 0; i < kLocked; i++) {
    BIGNUM* old = *numbers[i];
    BIGNUM* h = &headers[i];
    BN_init(h);
    h->d = w;
    h->top = old->top;
    h->dmax = old->top;
    h->neg = old->neg;
    h->flags = BN_FLAG_BORROWED | (old->flags & BN_FLAG_SECRET);
    if (old->top > 0) memcpy(w, old->d, static_cast<size_t>(old->top) * sizeof(BN_ULONG));
    w += old->top;
    *numbers[i] = h;
    BN_clear_free(old);
  }
  r->flags &= ~(RSA_FLAG_CACHE_PRIVATE | RSA_FLAG_CACHE_PUBLIC);
  morvane::rsa::release_locked_block(r->bignum_data);  // a second lock
  r->bignum_data = block;
  return 1;
}
