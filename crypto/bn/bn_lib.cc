// BIGNUM records: initialisation, release, growth, copying and comparison of
// magnitudes.
//
// Implementation notes: growth replaces the word array only when more words
// are needed than allocated, copying the `top` words in use; the words above
// `top` have no defined content.  An array is never grown past 0xFFFFFF words.

#include <stddef.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>

#include "bn/internal.h"

using morvane::bn::bn_wexpand;

static_assert(sizeof(BN_ULONG) == 4, "a big-number word is 32 bits");
static_assert(sizeof(BIGNUM) == 24, "BIGNUM layout");
static_assert(offsetof(BIGNUM, d) == 0 && offsetof(BIGNUM, top) == 8 &&
                  offsetof(BIGNUM, dmax) == 12 && offsetof(BIGNUM, neg) == 16 &&
                  offsetof(BIGNUM, flags) == 20,
              "BIGNUM field offsets");

namespace {

constexpr int kMaxWords = 0xFFFFFF;

// A fresh array of `words` words holding b's words in use; null when the size
// is refused, the array is borrowed or the allocation fails.
BN_ULONG* expand_internal(const BIGNUM* b, int words) {
  if (words > kMaxWords) return nullptr;
  if (b->flags & BN_FLAG_BORROWED) return nullptr;
  auto* a = static_cast<BN_ULONG*>(MORVANE_malloc(sizeof(BN_ULONG) * static_cast<size_t>(words)));
  if (a == nullptr) return nullptr;
  if (b->top > 0) memcpy(a, b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->top));
  return a;
}

}  // namespace

BIGNUM* morvane::bn::bn_expand2(BIGNUM* b, int words) {
  if (words <= b->dmax) return b;
  BN_ULONG* a = expand_internal(b, words);
  if (a == nullptr) return nullptr;
  if (b->d != nullptr) MORVANE_free(b->d);
  b->d = a;
  b->dmax = words;
  return b;
}

/* see morvane/bn.h */
void BN_init(BIGNUM* a) {
  memset(a, 0, sizeof(*a));
}

void BN_free(BIGNUM* a) {
  if (a == nullptr) return;
  if (a->d != nullptr && !(a->flags & BN_FLAG_BORROWED)) MORVANE_free(a->d);
  if (a->flags & BN_FLAG_HEAP) {
    MORVANE_free(a);
  } else {
    a->flags |= BN_FLAG_RELEASED;
    a->d = nullptr;
  }
}

BIGNUM* BN_copy(BIGNUM* a, const BIGNUM* b) {
  if (a == b) return a;
  if (bn_wexpand(a, b->top) == nullptr) return nullptr;
  if (b->top > 0) memcpy(a->d, b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->top));
  a->top = b->top;
  a->neg = b->neg;
  return a;
}

int BN_ucmp(const BIGNUM* a, const BIGNUM* b) {
  int i = a->top - b->top;
  if (i != 0) return i;
  for (i = a->top - 1; i >= 0; i--) {
    BN_ULONG t1 = a->d[i];
    BN_ULONG t2 = b->d[i];
    if (t1 != t2) return t1 > t2 ? 1 : -1;
  }
  return 0;
}
