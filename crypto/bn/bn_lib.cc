// BIGNUM records: allocation, release, growth, copying, small values, sizes,
// big-endian bytes, comparison, single bits, tuning values and the progress
// callback.
//
// Implementation notes: growth replaces the word array only when more words
// are needed than allocated, copying the `top` words in use; the words above
// `top` have no defined content.  An array is never grown past 0xFFFFFF words
// and a borrowed array (the constant one, published primes) is never grown,
// wiped, zeroed or freed.  The constant one lives in read-only memory; the
// release functions leave it alone.

#include <stddef.h>
#include <string.h>

#include <atomic>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"
#include "internal/wipe.h"

static_assert(sizeof(BN_ULONG) == 4, "a big-number word is 32 bits");
static_assert(sizeof(BIGNUM) == 24, "BIGNUM layout");
static_assert(offsetof(BIGNUM, d) == 0 && offsetof(BIGNUM, top) == 8 &&
                  offsetof(BIGNUM, dmax) == 12 && offsetof(BIGNUM, neg) == 16 &&
                  offsetof(BIGNUM, flags) == 20,
              "BIGNUM field offsets");
static_assert(offsetof(BN_GENCB, ver) == 0 && offsetof(BN_GENCB, arg) == 8 &&
                  offsetof(BN_GENCB, cb) == 16 && sizeof(BN_GENCB) == 24,
              "BN_GENCB layout");

const char BN_version[] = "Big Number part of " MORVANE_VERSION_TEXT;

namespace morvane::bn {

void err_too_long() { BNerr(BN_F_BN_EXPAND_INTERNAL, BN_R_BIGNUM_TOO_LONG); }

namespace {

constexpr BN_ULONG kOneWord = 1;
constexpr BIGNUM kOne = {const_cast<BN_ULONG*>(&kOneWord), 1, 1, 0, BN_FLAG_BORROWED};

bool is_constant(const BIGNUM* a) { return a == &kOne; }

// A fresh array of `words` words holding b's words in use; null (with the
// error pushed) when the size is refused, the array is borrowed or the
// allocation fails.
BN_ULONG* expand_internal(const BIGNUM* b, int words) {
  if (words > kMaxWords) {
    err_too_long();
    return nullptr;
  }
  if (b->flags & BN_FLAG_BORROWED) {
    BNerr(BN_F_BN_EXPAND_INTERNAL, BN_R_EXPAND_ON_STATIC_BIGNUM_DATA);
    return nullptr;
  }
  auto* a = static_cast<BN_ULONG*>(MORVANE_malloc(word_bytes(words)));
  if (a == nullptr) {
    BNerr(BN_F_BN_EXPAND_INTERNAL, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (b->top > 0) memcpy(a, b->d, word_bytes(b->top));
  return a;
}

// Wipes (or zeroes) the words a owns; a borrowed array is left as it is.
void wipe_words(BIGNUM* a) {
  if (a->d != nullptr && !(a->flags & BN_FLAG_BORROWED) && a->dmax > 0)
    morvane::internal::wipe(a->d, word_bytes(a->dmax));
}

// The tuning values (multiplication, high, low, Montgomery): bit counts that
// start at 0; nothing reads the matching powers of two, so they are not kept.
// Written and read without a lock, hence relaxed atomic accesses.
constinit int limit_bits[4] = {0, 0, 0, 0};

}  // namespace
}  // namespace morvane::bn

namespace bn = morvane::bn;

/* see morvane/bn.h */
BIGNUM* bn_expand2(BIGNUM* b, int words) {
  if (words <= b->dmax) return b;
  BN_ULONG* a = bn::expand_internal(b, words);
  if (a == nullptr) return nullptr;
  if (b->d != nullptr) MORVANE_free(b->d);
  b->d = a;
  b->dmax = words;
  return b;
}

BIGNUM* bn_dup_expand(const BIGNUM* b, int words) {
  if (words <= b->dmax) return BN_dup(b);
  // The fresh array belongs to the new record, whether or not b's is borrowed.
  BIGNUM* r = BN_new();
  if (r == nullptr || bn_expand2(r, words) == nullptr) {
    BN_free(r);
    return nullptr;
  }
  if (b->top > 0) memcpy(r->d, b->d, bn::word_bytes(b->top));
  r->top = b->top;
  r->neg = b->neg;
  return r;
}

BIGNUM* BN_new(void) {
  auto* a = static_cast<BIGNUM*>(MORVANE_malloc(sizeof(BIGNUM)));
  if (a == nullptr) {
    BNerr(BN_F_BN_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  BN_init(a);
  a->flags = BN_FLAG_HEAP;
  return a;
}

void BN_init(BIGNUM* a) {
  memset(a, 0, sizeof(*a));
}

void BN_free(BIGNUM* a) {
  if (a == nullptr || bn::is_constant(a)) return;
  if (a->d != nullptr && !(a->flags & BN_FLAG_BORROWED)) MORVANE_free(a->d);
  if (a->flags & BN_FLAG_HEAP) {
    MORVANE_free(a);
  } else {
    a->flags |= BN_FLAG_RELEASED;
    a->d = nullptr;
  }
}

void BN_clear_free(BIGNUM* a) {
  if (a == nullptr || bn::is_constant(a)) return;
  bn::wipe_words(a);
  if (a->d != nullptr && !(a->flags & BN_FLAG_BORROWED)) MORVANE_free(a->d);
  const bool heap = (a->flags & BN_FLAG_HEAP) != 0;
  morvane::internal::wipe(*a);
  if (heap) {
    MORVANE_free(a);
  } else {
    // Not the wipe pattern: a later BN_free of an embedded record must not
    // see a wild pointer.
    BN_init(a);
    a->flags = BN_FLAG_RELEASED;
  }
}

void BN_clear(BIGNUM* a) {
  if (bn::is_constant(a)) return;
  if (a->d != nullptr && !(a->flags & BN_FLAG_BORROWED) && a->dmax > 0)
    memset(a->d, 0, bn::word_bytes(a->dmax));
  a->top = 0;
  a->neg = 0;
}

BIGNUM* BN_copy(BIGNUM* a, const BIGNUM* b) {
  if (a == b) return a;
  if (bn::wexpand(a, b->top) == nullptr) return nullptr;
  if (b->top > 0) memcpy(a->d, b->d, bn::word_bytes(b->top));
  a->top = b->top;
  a->neg = b->neg;
  return a;
}

BIGNUM* BN_dup(const BIGNUM* a) {
  if (a == nullptr) return nullptr;
  BIGNUM* r = BN_new();
  if (r == nullptr) return nullptr;
  if (BN_copy(r, a) == nullptr) {
    BN_free(r);
    return nullptr;
  }
  return r;
}

void BN_swap(BIGNUM* a, BIGNUM* b) {
  const int fa = a->flags, fb = b->flags;
  BIGNUM t = *a;
  *a = *b;
  *b = t;
  a->flags = (fa & BN_FLAG_HEAP) | (fb & BN_FLAG_BORROWED);
  b->flags = (fb & BN_FLAG_HEAP) | (fa & BN_FLAG_BORROWED);
}

const BIGNUM* BN_value_one(void) { return &bn::kOne; }

int BN_set_word(BIGNUM* a, BN_ULONG w) {
  if (bn::wexpand(a, 1) == nullptr) return 0;
  a->neg = 0;
  a->d[0] = w;
  a->top = w != 0 ? 1 : 0;
  return 1;
}

BN_ULONG BN_get_word(const BIGNUM* a) {
  if (a->top > 1) return 0xFFFFFFFFU;
  return a->top == 1 ? a->d[0] : 0;
}

void BN_set_negative(BIGNUM* a, int b) { a->neg = (b != 0 && a->top != 0) ? 1 : 0; }

int BN_num_bits_word(BN_ULONG l) { return l == 0 ? 0 : 32 - __builtin_clz(l); }

int BN_num_bits(const BIGNUM* a) {
  if (a->top == 0) return 0;
  return 32 * (a->top - 1) + BN_num_bits_word(a->d[a->top - 1]);
}

BIGNUM* BN_bin2bn(const unsigned char* s, int len, BIGNUM* ret) {
  if (len < 0) {
    BNerr(0, BN_R_INVALID_LENGTH);
    return nullptr;
  }
  BIGNUM* fresh = nullptr;
  if (ret == nullptr) {
    ret = fresh = BN_new();
    if (ret == nullptr) return nullptr;
  }
  if (len == 0) {
    ret->top = 0;
    ret->neg = 0;
    return ret;
  }
  const int words = (len - 1) / 4 + 1;
  if (bn::wexpand(ret, words) == nullptr) {
    BN_free(fresh);
    return nullptr;
  }
  // Word i takes the four bytes ending 4i bytes before the end.
  for (int i = 0; i < words; i++) {
    BN_ULONG w = 0;
    const int end = len - 4 * i;
    for (int j = end > 4 ? end - 4 : 0; j < end; j++) w = (w << 8) | s[j];
    ret->d[i] = w;
  }
  ret->top = words;
  ret->neg = 0;
  bn::strip(ret);
  return ret;
}

int BN_bn2bin(const BIGNUM* a, unsigned char* to) {
  const int n = BN_num_bytes(a);
  for (int i = 0; i < n; i++) to[n - 1 - i] = static_cast<unsigned char>(a->d[i / 4] >> (8 * (i % 4)));
  return n;
}

int BN_ucmp(const BIGNUM* a, const BIGNUM* b) {
  int i = a->top - b->top;
  if (i != 0) return i;
  return bn_cmp_words(a->d, b->d, a->top);
}

int BN_cmp(const BIGNUM* a, const BIGNUM* b) {
  if (a == nullptr || b == nullptr) {
    if (a != nullptr) return -1;
    return b != nullptr ? 1 : 0;
  }
  if (a->neg != b->neg) return a->neg ? -1 : 1;
  int c = BN_ucmp(a, b);
  c = c > 0 ? 1 : (c < 0 ? -1 : 0);
  return a->neg ? -c : c;
}

int bn_cmp_words(const BN_ULONG* a, const BN_ULONG* b, int n) {
  if (n <= 0) return 0;  // also keeps n - 1 from overflowing
  for (int i = n - 1; i >= 0; i--) {
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  }
  return 0;
}

int bn_cmp_part_words(const BN_ULONG* a, const BN_ULONG* b, int cl, int dl) {
  for (int i = 0; i < -dl; i++) {
    if (b[cl + i] != 0) return -1;
  }
  for (int i = 0; i < dl; i++) {
    if (a[cl + i] != 0) return 1;
  }
  return bn_cmp_words(a, b, cl);
}

int BN_set_bit(BIGNUM* a, int n) {
  if (n < 0) return 0;
  const int i = n / 32;
  if (i >= a->top) {
    if (bn::wexpand(a, i + 1) == nullptr) return 0;
    for (int k = a->top; k <= i; k++) a->d[k] = 0;
    a->top = i + 1;
  }
  a->d[i] |= BN_ULONG{1} << (n % 32);
  return 1;
}

int BN_clear_bit(BIGNUM* a, int n) {
  if (n < 0 || n / 32 >= a->top) return 0;
  a->d[n / 32] &= ~(BN_ULONG{1} << (n % 32));
  bn::strip(a);
  return 1;
}

int BN_is_bit_set(const BIGNUM* a, int n) {
  if (n < 0 || n / 32 >= a->top) return 0;
  return static_cast<int>((a->d[n / 32] >> (n % 32)) & 1);
}

int BN_mask_bits(BIGNUM* a, int n) {
  if (n < 0) return 0;
  const int w = n / 32, b = n % 32;
  if (w >= a->top) return 0;
  if (b == 0) {
    a->top = w;
  } else {
    a->top = w + 1;
    a->d[w] &= ~(0xFFFFFFFFU << b);
  }
  bn::strip(a);
  return 1;
}

void BN_set_params(int mult, int high, int low, int mont) {
  const int v[4] = {mult, high, low, mont};
  for (int i = 0; i < 4; i++) {
    if (v[i] >= 0) std::atomic_ref<int>(bn::limit_bits[i]).store(v[i] > 31 ? 31 : v[i], std::memory_order_relaxed);
  }
}

int BN_get_params(int which) {
  if (which < 0 || which > 3) return 0;
  return std::atomic_ref<int>(bn::limit_bits[which]).load(std::memory_order_relaxed);
}

const char* BN_options(void) { return "bn(32,32)"; }

int BN_GENCB_call(BN_GENCB* cb, int a, int b) {
  if (cb == nullptr) return 1;
  switch (cb->ver) {
    case 1:
      if (cb->cb.cb_1 != nullptr) cb->cb.cb_1(a, b, cb->arg);
      return 1;
    case 2:
      return cb->cb.cb_2(a, b, cb);
    default:
      return 0;
  }
}
