// Big numbers: helpers shared by the sources of crypto/bn.
//
// The word kernels have one internal entry each (namespace morvane::bn); the
// exported bn_* kernels and every operation of this component go through
// them, so a faster implementation replaces them in one place.
#ifndef MORVANE_CRYPTO_BN_INTERNAL_H
#define MORVANE_CRYPTO_BN_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/bn.h>

namespace morvane::bn {

// The most words an array may have (arrays of up to 0xFFFFFF words).
constexpr int kMaxWords = 0xFFFFFF;

// ---- word kernels (kernels.cc); contracts as the exported bn_* kernels ----
BN_ULONG mul_add_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) noexcept;
BN_ULONG mul_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) noexcept;
void sqr_words(BN_ULONG* r, const BN_ULONG* a, int n) noexcept;
BN_ULONG div_words(BN_ULONG h, BN_ULONG l, BN_ULONG d) noexcept;
BN_ULONG add_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept;
BN_ULONG sub_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept;
void mul_comba4(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b) noexcept;
void mul_comba8(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b) noexcept;
void sqr_comba4(BN_ULONG* r, const BN_ULONG* a) noexcept;
void sqr_comba8(BN_ULONG* r, const BN_ULONG* a) noexcept;

// ---- records ----
// Grows b only when it has fewer than `words` words allocated.
inline BIGNUM* wexpand(BIGNUM* b, int words) {
  return words <= b->dmax ? b : bn_expand2(b, words);
}

// Drops leading zero words; a zero value becomes non-negative.
inline void strip(BIGNUM* a) noexcept {
  int top = a->top;
  while (top > 0 && a->d[top - 1] == 0) top--;
  a->top = top;
  if (top == 0) a->neg = 0;
}

// Pushes (BN_EXPAND_INTERNAL, "bignum too long"): a size past kMaxWords.
void err_too_long();

// Bytes in `words` words.
inline size_t word_bytes(int words) {
  return sizeof(BN_ULONG) * static_cast<size_t>(words);
}

// Sets r[0 .. n) to zero (nothing for n <= 0).
inline void zero_words(BN_ULONG* r, int n) noexcept {
  for (int i = 0; i < n; i++) r[i] = 0;
}

// Adds c at p[0] and ripples a carry of 1 upward while words wrap to zero
// (the callers' results always absorb it).
inline void ripple_carry(BN_ULONG* p, BN_ULONG c) noexcept {
  BN_ULONG w = *p + c;
  *p = w;
  if (w >= c) return;
  do {
    w = ++*++p;
  } while (w == 0);
}

// ---- scratch frames ----
// Opens a frame on ctx for the life of the object and closes it on every way
// out; get() is BN_CTX_get.
class [[nodiscard]] Frame {
 public:
  explicit Frame(BN_CTX* ctx) noexcept : ctx_(ctx) { BN_CTX_start(ctx); }
  ~Frame() { BN_CTX_end(ctx_); }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  BIGNUM* get() noexcept { return BN_CTX_get(ctx_); }

 private:
  BN_CTX* ctx_;
};

// The caller's context, or one made for the call and freed with the object
// (get() is null when it could not be made).  Declare it before any Frame on
// the context, so that the frame closes first.
class [[nodiscard]] CtxOrNew {
 public:
  explicit CtxOrNew(BN_CTX* ctx) noexcept
      : ctx_(ctx != nullptr ? ctx : BN_CTX_new()), owned_(ctx == nullptr) {}
  ~CtxOrNew() {
    if (owned_) BN_CTX_free(ctx_);
  }
  CtxOrNew(const CtxOrNew&) = delete;
  CtxOrNew& operator=(const CtxOrNew&) = delete;
  BN_CTX* get() const noexcept { return ctx_; }

 private:
  BN_CTX* ctx_;
  bool owned_;
};

// A Montgomery context of one call, freed on every way out.
struct OwnMont {
  BN_MONT_CTX m;
  OwnMont() noexcept { BN_MONT_CTX_init(&m); }
  ~OwnMont() { BN_MONT_CTX_free(&m); }
  OwnMont(const OwnMont&) = delete;
  OwnMont& operator=(const OwnMont&) = delete;
};

// ---- products and division: the one entry of each (contracts as BN_mul,
// BN_sqr and BN_div), which every operation of the component calls ----
int mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx);
int sqr(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx);
int div(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, BN_CTX* ctx);

// The vector products (bn_mul.cc, bn_sqr.cc); contracts as the exported
// bn_mul_* and bn_sqr_* routines.
void mul_normal(BN_ULONG* r, const BN_ULONG* a, int na, const BN_ULONG* b, int nb) noexcept;
void mul_recursive(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n2, int dna, int dnb,
                   BN_ULONG* t) noexcept;
void mul_part_recursive(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n, int tna, int tnb,
                        BN_ULONG* t) noexcept;
void sqr_normal(BN_ULONG* r, const BN_ULONG* a, int n, BN_ULONG* tmp) noexcept;
void sqr_recursive(BN_ULONG* r, const BN_ULONG* a, int n2, BN_ULONG* t) noexcept;

// A view of a sharing its words, flagged BN_FLAG_SECRET and BN_FLAG_BORROWED,
// so that divisions by or of it take the no-branch form (bn_gcd.cc).
BIGNUM secret_view(const BIGNUM* a) noexcept;

}  // namespace morvane::bn

// Seam of the white-box test: a test build of this component's sources that
// defines MORVANE_BN_WHITE_BOX supplies exp_product(), called once for each
// Montgomery product of the sliding-window exponentiation.  The library build
// compiles the calls away.
#ifdef MORVANE_BN_WHITE_BOX
namespace morvane::bn {
void exp_product();
}  // namespace morvane::bn
#define MORVANE_BN_COUNT_PRODUCT() ::morvane::bn::exp_product()
#else
#define MORVANE_BN_COUNT_PRODUCT() static_cast<void>(0)
#endif

#endif  // MORVANE_CRYPTO_BN_INTERNAL_H
