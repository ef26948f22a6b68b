// Probable primes: the Miller-Rabin test with optional trial division, and
// random prime generation (plain, in a residue class, or safe) over a sieve of
// the first 2048 primes; the older entry points with a bare callback.
//
// Implementation notes: a candidate that fits in one word is judged by true
// divisibility alone (a table prime is a prime, not a multiple of itself),
// since the sieve's extra rule for longer candidates, that candidate - 1 have
// no small odd factor either, cannot be met at some short lengths (no 15-bit
// number with its two top bits set meets it).  Generated primes always have
// exactly the requested length: a sieve step that carries a candidate past it
// draws again.
//
// A prime that is kept may be secret (an RSA factor), so every candidate of
// BN_generate_prime_ex but a safe prime's (safe primes make Diffie-Hellman
// groups, which are public), and a number flagged BN_FLAG_SECRET given to
// the tests, takes Miller-Rabin at its fixed width on limbs: the constant-time
// Montgomery set-up, bases drawn and reduced by Montgomery products, and
// one constant-time exponentiation that also gives the chain of squares:
// with A - 1 = m 2^k and r = k mod w (w the exponentiation's window), it
// raises the base to (A - 1) / 2^r, whose windows end at bit k - r, so the
// values after the window ending there and after each squaring below it are
// b^m, b^(2m), ..., and w - 1 squarings after it give the rest; each is
// compared by masks, the position deciding by a mask whether it counts.
// Only the verdict of a round is made public, which for a prime is always
// "passed"; k stays secret.  The sieve's verdicts are public too: for the
// prime that is kept they are known anyway, but the trial divisions of the
// candidates dropped before it, at public distances from it, tell its
// residues modulo some small primes; the plain candidate's offset is added
// at its fixed width.  Other values (one-word candidates, the residue
// classes' additions, unflagged tests) take the plain forms.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include <limits.h>
#include <stdint.h>

#include <array>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace bn = morvane::bn;
namespace ct = morvane::ct;
namespace limb = morvane::bn::limb;
using limb::Limb;

namespace {

constexpr int kNumPrimes = 2048;

// The first 2048 primes, by a sieve of Eratosthenes at compile time.
constexpr std::array<uint16_t, kNumPrimes> make_primes() {
  constexpr int kLimit = 17864;
  std::array<bool, kLimit> composite{};
  std::array<uint16_t, kNumPrimes> out{};
  int n = 0;
  for (int i = 2; i < kLimit && n < kNumPrimes; i++) {
    if (composite[static_cast<size_t>(i)]) continue;
    out[static_cast<size_t>(n++)] = static_cast<uint16_t>(i);
    for (int j = i * i; j < kLimit; j += i) composite[static_cast<size_t>(j)] = true;
  }
  return out;
}
constexpr std::array<uint16_t, kNumPrimes> kPrimes = make_primes();
// The 1000th prime is 7919 and the 2048th 17863.
static_assert(kPrimes[0] == 2 && kPrimes[1] == 3 && kPrimes[999] == 7919 &&
                  kPrimes[kNumPrimes - 1] == 17863,
              "small-primes table");

// Miller-Rabin rounds for a random candidate of b bits.
int rounds_for_bits(int b) {
  return b >= 1300  ? 2
         : b >= 850 ? 3
         : b >= 650 ? 4
         : b >= 550 ? 5
         : b >= 450 ? 6
         : b >= 400 ? 7
         : b >= 350 ? 8
         : b >= 300 ? 9
         : b >= 250 ? 12
         : b >= 200 ? 15
         : b >= 150 ? 18
                    : 27;
}

// The value of a when it has at most one word, else 0.
uint64_t one_word(const BIGNUM* a) {
  return a->top == 0 ? 0 : a->top == 1 ? a->d[0] : 0;
}

// Whether table prime p with rem = v mod p rules out the value v (its word w
// when it has one, else 0): true divisibility for one word, else divisibility
// of v or (when minus_one) of v - 1, which is made public (see the notes).
bool ruled_out(uint32_t p, uint32_t rem, uint64_t w, bool minus_one) {
  if (w != 0) return rem == 0 && w != p;
  const uint32_t one = minus_one ? ct::eq_mask<uint32_t>(rem, 1) : 0;
  return ct::declassify(ct::zero_mask(rem) | one) != 0;
}

// Whether the table rules out a (one-word values stop at the first prime
// whose square exceeds them).  The rule for a - 1 is skipped for the primes
// flagged in fixed (those that divide the step of a residue class, which
// leaves a - 1 mod p the same for every candidate).
bool sieve_rejects(const BIGNUM* a, bool minus_one, const bool* fixed = nullptr) {
  const uint64_t w = one_word(a);
  for (int i = 1; i < kNumPrimes; i++) {
    const uint32_t p = kPrimes[static_cast<size_t>(i)];
    if (w != 0 && uint64_t{p} * p > w) return false;
    const bool m1 = minus_one && (fixed == nullptr || !fixed[i]);
    if (ruled_out(p, BN_mod_word(a, p), w, m1)) return true;
  }
  return false;
}

// w is a witness to the compositeness of A: 1 composite, 0 not a witness,
// -1 error.  A1 = A - 1 = A1_odd 2^k.
int witness(BIGNUM* w, const BIGNUM* A, const BIGNUM* A1, const BIGNUM* A1_odd, int k, BN_CTX* ctx,
            BN_MONT_CTX* mont) {
  if (!BN_mod_exp_mont(w, w, A1_odd, A, ctx, mont)) return -1;
  if (BN_is_one(w) || BN_cmp(w, A1) == 0) return 0;
  while (--k) {
    if (!BN_mod_mul(w, w, w, A, ctx)) return -1;
    if (BN_is_one(w)) return 1;  // a non-trivial square root of 1
    if (BN_cmp(w, A1) == 0) return 0;
  }
  return 1;  // A1 reached no 1: Fermat fails
}

// ---- Miller-Rabin at a fixed width, for secret numbers ----------------------

// The rounds on an odd A > 1 at its fixed width: N = A and R^2 at whole limbs
// (R = 2^(64 nl)), R and -R mod N, k with A - 1 = m 2^k (m odd), and the
// exponent (A - 1) / 2^r for r = k mod w as words of A's word count.
class Rounds {
 public:
  Rounds(const BIGNUM* a, BN_CTX* ctx) noexcept;
  ~Rounds();
  Rounds(const Rounds&) = delete;
  Rounds& operator=(const Rounds&) = delete;
  bool ok() const noexcept { return block_ != nullptr; }
  // A is a strong probable prime to a random base b: b^m = 1, or b^(m 2^j)
  // = -1 for some j < k.  1 yes, 0 no (public), -1 the generator failed.
  int round() noexcept;

 private:
  bool draw() noexcept;
  // The watch of the exponentiation: x = b^(m 2^j) R for j = kw - pos when
  // pos <= kw (see the notes above).
  static void look(void* self, const Limb* x, int pos) noexcept;

  bn::OwnMont mont_;
  int nw_ = 0, nl_ = 0, w_ = 0;
  size_t bytes_ = 0;
  void* block_ = nullptr;
  limb::Modulus m_{};
  Limb *n_ = nullptr, *rr_ = nullptr, *one_ = nullptr, *minus_one_ = nullptr, *unit_ = nullptr;
  Limb *base_ = nullptr, *res_ = nullptr, *z_ = nullptr, *x_ = nullptr, *t_ = nullptr;
  BN_ULONG* exponent_ = nullptr;
  void* exp_ = nullptr;
  unsigned twos_ = 0, kw_ = 0;  // k, and k - r, where the exponent's zeros start
  Limb pass_ = 0;
};

Rounds::Rounds(const BIGNUM* a, BN_CTX* ctx) noexcept {
  const BIGNUM view = bn::secret_view(a);  // the context is made by the no-branch division
  if (!BN_MONT_CTX_set(&mont_.m, &view, ctx)) return;
  nw_ = a->top;
  nl_ = limb::count(nw_);
  w_ = limb::exp_consttime_window(nw_);
  const int nl = nl_;
  // Limbs: n, R^2, R, -R, 1, the base, the power, z, the draw (2 nl), the
  // products' scratch (2 nl), the exponent; then the exponentiation's
  // scratch.
  const size_t limbs = 14 * static_cast<size_t>(nl);
  bytes_ = limbs * sizeof(Limb) + limb::exp_consttime_bytes(2 * nl, nw_);
  block_ = bytes_ <= INT_MAX ? MORVANE_malloc(bytes_) : nullptr;
  if (block_ == nullptr) {
    BNerr(BN_F_BN_MOD_EXP_MONT_CONSTTIME, ERR_R_MALLOC_FAILURE);
    return;
  }
  Limb* p = static_cast<Limb*>(block_);
  for (size_t i = 0; i < limbs; i++) p[i] = 0;
  auto take = [&](int k) {
    Limb* r = p;
    p += k;
    return r;
  };
  n_ = take(nl), rr_ = take(nl), one_ = take(nl), minus_one_ = take(nl), unit_ = take(nl);
  base_ = take(nl), res_ = take(nl), z_ = take(nl), x_ = take(2 * nl), t_ = take(2 * nl);
  exponent_ = reinterpret_cast<BN_ULONG*>(take(nl));
  exp_ = p;
  // As the ladders of bn_exp.cc take a modulus: R^2 carried from the
  // context's R = 2^(32 nw) to 2^(64 nl) by doublings.
  limb::load_masked(n_, nl, &mont_.m.N);
  m_ = limb::Modulus{n_, 2 * nl, nl, limb::lift_n0(n_[0], mont_.m.n0), mont_.m.n0};
  limb::load_masked(rr_, nl, &mont_.m.RR);
  limb::shl_mod(rr_, 2 * BN_BITS2 * (2 * nl - nw_), m_, t_);
  unit_[0] = 1;
  limb::mont_mul(one_, unit_, rr_, m_, t_);
  limb::sub_n(minus_one_, n_, one_, nl);
  // A - 1 (A is odd), k, and (A - 1) / 2^(k mod w).
  for (int i = 0; i < nl; i++) z_[i] = n_[i];
  z_[0] ^= 1;
  twos_ = limb::ctz_n(z_, nl);
  const unsigned r = twos_ % static_cast<unsigned>(w_);
  kw_ = twos_ - r;
  limb::shift_right_secret(z_, z_, nl, r, res_);
  limb::store(exponent_, z_, nw_);
}

Rounds::~Rounds() {
  if (block_ == nullptr) return;
  morvane::internal::wipe_scratch(block_, bytes_);
  MORVANE_free(block_);
}

// base = x mod N for x of 2 nl random limbs: the high half x_h R mod N and
// the low half x_l mod N by Montgomery products, then their sum mod N; a
// base of 0 (probability below 2^-64) becomes 1.
bool Rounds::draw() noexcept {
  const int nl = nl_;
  if (RAND_pseudo_bytes(reinterpret_cast<unsigned char*>(x_), 16 * nl) == -1) return false;
  limb::mont_mul(base_, x_ + nl, rr_, m_, t_);
  limb::mont_mul(z_, x_, rr_, m_, t_);
  limb::mont_mul(z_, z_, unit_, m_, t_);
  const Limb carry = limb::add_n(base_, base_, z_, nl);
  const Limb below = ct::bit_mask<Limb>(limb::sub_n(z_, base_, n_, nl) & ~carry & 1);
  Limb any = 0;
  for (int i = 0; i < nl; i++) {
    base_[i] = ct::select(below, base_[i], z_[i]);
    any |= base_[i];
  }
  base_[0] |= ct::zero_mask(any) & 1;
  return true;
}

void Rounds::look(void* self, const Limb* x, int pos) noexcept {
  auto* r = static_cast<Rounds*>(self);
  const auto at = static_cast<unsigned>(pos);
  // pos = kw: b^m, which passes as 1 or -1; pos < kw: b^(m 2^j) with j =
  // kw - pos, which passes as -1 when j < k.
  Limb from_minus = 0, from_one = 0;  // x against -1 and 1, in one pass
  for (int i = 0; i < r->nl_; i++) {
    from_minus |= x[i] ^ r->minus_one_[i];
    from_one |= x[i] ^ r->one_[i];
  }
  const Limb minus = ct::zero_mask(from_minus), one = ct::zero_mask(from_one);
  const Limb first = ct::eq_mask(at, r->kw_), below = ct::lt_mask(at, r->kw_);
  const Limb counts = ct::lt_mask(r->kw_ - at, r->twos_);
  r->pass_ |= (first & (minus | one)) | (below & counts & minus);
}

int Rounds::round() noexcept {
  if (!draw()) return -1;
  pass_ = 0;
  limb::exp_consttime_watch(res_, base_, exponent_, nw_, m_, rr_, exp_, look, this);
  // b^(m 2^kw) in plain form; w - 1 squarings more reach j = k - 1.
  limb::mont_mul(z_, res_, rr_, m_, t_);
  for (int s = 1; s < w_; s++) {
    limb::mont_mul(z_, z_, z_, m_, t_);
    const Limb counts = ct::lt_mask(kw_ + static_cast<unsigned>(s), twos_);
    pass_ |= counts & limb::equal_n(z_, minus_one_, nl_);
  }
  return ct::declassify(pass_) != 0 ? 1 : 0;
}

// `checks` rounds on a secret odd a > 1 (1, 0 or -1 as the test), with the
// events of the plain test.
int miller_rabin_secret(const BIGNUM* a, int checks, BN_CTX* ctx, BN_GENCB* cb) {
  Rounds r(a, ctx);
  if (!r.ok()) return -1;
  for (int i = 0; i < checks; i++) {
    const int j = r.round();
    if (j != 1) return j;
    if (!BN_GENCB_call(cb, 1, i)) return -1;
  }
  return 1;
}

// `checks` Miller-Rabin rounds on an odd A > 1 with bases in [1, A - 1].
int miller_rabin(const BIGNUM* A, int checks, BN_CTX* ctx, BN_GENCB* cb) {
  bn::Frame frame(ctx);
  BIGNUM *A1 = frame.get(), *A1_odd = frame.get(), *w = frame.get();
  if (w == nullptr || BN_copy(A1, A) == nullptr || !BN_sub_word(A1, 1)) return -1;
  int k = 1;
  while (!BN_is_bit_set(A1, k)) k++;
  if (!BN_rshift(A1_odd, A1, k)) return -1;
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  if (mont == nullptr || !BN_MONT_CTX_set(mont, A, ctx)) {
    BN_MONT_CTX_free(mont);
    return -1;
  }
  int ret = 1;
  for (int i = 0; i < checks && ret == 1; i++) {
    if (!BN_pseudo_rand_range(w, A1) || !BN_add_word(w, 1)) {
      ret = -1;
      break;
    }
    const int j = witness(w, A, A1, A1_odd, k, ctx, mont);
    if (j != 0)
      ret = j == 1 ? 0 : -1;
    else if (!BN_GENCB_call(cb, 1, i))
      ret = -1;
  }
  BN_MONT_CTX_free(mont);
  return ret;
}

// rnd += delta at rnd's width (bits bits, the two top ones set); whether
// the sum carries past that length, which drops the candidate, is made
// public.  A sum that does not has its two top bits set still (a carry into
// either would have gone on past them), which is set again so that the
// constant-time checks see it.
bool add_within(BIGNUM* rnd, BN_ULONG delta, int bits) {
  BN_ULONG carry = delta;
  for (int i = 0; i < rnd->top; i++) {
    const BN_ULONG s = rnd->d[i] + carry;
    carry = ct::lt_mask(s, carry) & 1;
    rnd->d[i] = s;
  }
  const BN_ULONG top = rnd->d[rnd->top - 1];
  const BN_ULONG over = bits % BN_BITS2 == 0 ? carry : (top >> (bits % BN_BITS2)) & 1;
  if (ct::declassify(over) != 0) return false;
  return BN_set_bit(rnd, bits - 1) && (bits < 2 || BN_set_bit(rnd, bits - 2));
}

// Plain candidate: two top bits set, odd, neither it nor it minus 1 divisible
// by an odd table prime (one-word candidates: see the notes above).
bool probable_prime(BIGNUM* rnd, int bits) {
  constexpr BN_ULONG kMaxDelta = 0xFFFFFFFFu - 17863;
  uint16_t mods[kNumPrimes];
  for (;;) {
    if (!BN_rand(rnd, bits, 1, 1)) return false;
    for (int i = 1; i < kNumPrimes; i++)
      mods[i] = static_cast<uint16_t>(BN_mod_word(rnd, kPrimes[static_cast<size_t>(i)]));
    const bool small = bits <= BN_BITS2;
    const uint64_t base = one_word(rnd);
    BN_ULONG delta = 0;
    bool found = false;
    while (delta <= kMaxDelta) {
      const uint64_t w = small ? base + delta : 0;
      if (small && w >> bits) break;  // carried past the length
      bool rejected = false;
      for (int i = 1; i < kNumPrimes; i++) {
        const uint32_t p = kPrimes[static_cast<size_t>(i)];
        if (small && uint64_t{p} * p > w) break;
        if (ruled_out(p, (mods[i] + delta) % p, w, true)) {
          rejected = true;
          break;
        }
      }
      if (!rejected) {
        found = true;
        break;
      }
      delta += 2;
    }
    if (!found || !add_within(rnd, delta, bits)) continue;
    return true;
  }
}

// Candidate ≡ rem (mod add), 1 when rem is null.  A prime dividing add does
// not rule out candidates for dividing candidate - 1: with rem = 1 it divides
// every one of them, and the search would never end.
bool probable_prime_dh(BIGNUM* rnd, int bits, const BIGNUM* add, const BIGNUM* rem, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  if (t == nullptr || !BN_rand(rnd, bits, 0, 1) || !BN_div(nullptr, t, rnd, add, ctx) ||
      !BN_sub(rnd, rnd, t))
    return false;
  if (!(rem == nullptr ? BN_add_word(rnd, 1) : BN_add(rnd, rnd, rem))) return false;
  bool fixed[kNumPrimes];
  for (int i = 1; i < kNumPrimes; i++)
    fixed[i] = BN_mod_word(add, kPrimes[static_cast<size_t>(i)]) == 0;
  while (sieve_rejects(rnd, true, fixed)) {
    if (!BN_add(rnd, rnd, add)) return false;
  }
  return true;
}

// Safe candidate p = 2q + 1 ≡ rem (mod add), q ≡ rem >> 1 (mod add >> 1).
bool probable_prime_dh_safe(BIGNUM* p, int bits, const BIGNUM* add, const BIGNUM* rem,
                            BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM *t = frame.get(), *q = frame.get(), *qadd = frame.get();
  if (qadd == nullptr || !BN_rshift1(qadd, add) || !BN_rand(q, bits - 1, 0, 1) ||
      !BN_div(nullptr, t, q, qadd, ctx) || !BN_sub(q, q, t))
    return false;
  if (rem == nullptr) {
    if (!BN_add_word(q, 1)) return false;
  } else if (!BN_rshift1(t, rem) || !BN_add(q, q, t)) {
    return false;
  }
  if (!BN_lshift1(p, q) || !BN_add_word(p, 1)) return false;
  while (sieve_rejects(p, false) || sieve_rejects(q, false)) {
    if (!BN_add(p, p, add) || !BN_add(q, q, qadd)) return false;
  }
  return true;
}

// The test of a candidate x of generation (see the notes above): the public
// facts first (x <= 1, or even: prime only as 2), then the rounds at x's
// fixed width.
int test_secret(const BIGNUM* x, int checks, BN_CTX* ctx, BN_GENCB* cb) {
  if (x->top == 0 || (x->top == 1 && x->d[0] <= 1)) return 0;
  if (ct::declassify(x->d[0] & 1) == 0) return BN_is_word(x, 2);
  return miller_rabin_secret(x, checks, ctx, cb);
}

// 1 when ret is a probable prime (with (ret - 1) / 2 for safe), 0 when not, -1
// on error or a stop.  A safe prime is public (it makes a Diffie-Hellman
// group): its rounds, one at a time on ret and on (ret - 1) / 2, take the
// plain test rather than the fixed-width one, whose set-up each round would
// build afresh.
int test_candidate(BIGNUM* ret, BIGNUM* t, int safe, int checks, int counter, BN_CTX* ctx,
                   BN_GENCB* cb) {
  if (!safe) return test_secret(ret, checks, ctx, cb);
  if (!BN_rshift1(t, ret)) return -1;
  for (int i = 0; i < checks; i++) {
    int j = BN_is_prime_fasttest_ex(ret, 1, ctx, 0, cb);
    if (j == 1) j = BN_is_prime_fasttest_ex(t, 1, ctx, 0, cb);
    if (j != 1) return j;
    if (!BN_GENCB_call(cb, 2, counter)) return -1;
  }
  return 1;
}

}  // namespace

/* see morvane/bn.h */
int BN_is_prime_fasttest_ex(const BIGNUM* a, int checks, BN_CTX* ctx, int do_trial_division,
                            BN_GENCB* cb) {
  if (BN_cmp(a, BN_value_one()) <= 0) return 0;
  // The rounds follow the length, which is public also for a secret.
  if (checks <= 0) checks = rounds_for_bits(static_cast<int>(ct::declassify(static_cast<unsigned>(BN_num_bits(a)))));
  if (!BN_is_odd(a)) return BN_is_word(a, 2);
  if (do_trial_division) {
    if (sieve_rejects(a, false)) return 0;
    if (!BN_GENCB_call(cb, 1, -1)) return -1;
  }
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return -1;
  if (BN_get_flags(a, BN_FLAG_SECRET)) return miller_rabin_secret(a, checks, own.get(), cb);
  return miller_rabin(a, checks, own.get(), cb);
}

/* see morvane/bn.h */
int BN_is_prime_ex(const BIGNUM* a, int checks, BN_CTX* ctx, BN_GENCB* cb) {
  return BN_is_prime_fasttest_ex(a, checks, ctx, 0, cb);
}

/* see morvane/bn.h */
int BN_generate_prime_ex(BIGNUM* ret, int bits, int safe, const BIGNUM* add, const BIGNUM* rem,
                         BN_GENCB* cb) {
  // Below two bits there is no prime with its top bits set; no safe prime of
  // 2, 4 or 5 bits has them (and of 3 bits only 7).
  if (bits < 2 || (safe && bits < 6)) {
    BNerr(BN_F_BN_GENERATE_PRIME_EX, BN_R_INVALID_ARGUMENT);
    return 0;
  }
  const int checks = rounds_for_bits(bits);
  bn::CtxOrNew own(nullptr);
  BN_CTX* ctx = own.get();
  if (ctx == nullptr) return 0;
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  if (t == nullptr) return 0;
  for (int counter = 0;;) {
    const bool made = add == nullptr ? probable_prime(ret, bits)
                      : safe         ? probable_prime_dh_safe(ret, bits, add, rem, ctx)
                                     : probable_prime_dh(ret, bits, add, rem, ctx);
    if (!made || !BN_GENCB_call(cb, 0, counter++)) return 0;
    const int r = test_candidate(ret, t, safe, checks, counter - 1, ctx, cb);
    if (r == -1) return 0;
    if (r == 1) return 1;
  }
}

// ---- older forms with a bare callback ----

namespace {

BN_GENCB bare_callback(void (*callback)(int, int, void*), void* arg) {
  BN_GENCB cb;
  cb.ver = 1;
  cb.arg = arg;
  cb.cb.cb_1 = callback;
  return cb;
}

}  // namespace

/* see morvane/bn.h */
BIGNUM* BN_generate_prime(BIGNUM* ret, int bits, int safe, const BIGNUM* add, const BIGNUM* rem,
                          void (*callback)(int, int, void*), void* cb_arg) {
  BN_GENCB cb = bare_callback(callback, cb_arg);
  BIGNUM* rnd = ret != nullptr ? ret : BN_new();
  if (rnd == nullptr) return nullptr;
  if (!BN_generate_prime_ex(rnd, bits, safe, add, rem, &cb)) {
    if (ret == nullptr) BN_free(rnd);
    return nullptr;
  }
  return rnd;
}

/* see morvane/bn.h */
int BN_is_prime(const BIGNUM* a, int checks, void (*callback)(int, int, void*), BN_CTX* ctx,
                void* cb_arg) {
  BN_GENCB cb = bare_callback(callback, cb_arg);
  return BN_is_prime_ex(a, checks, ctx, &cb);
}

/* see morvane/bn.h */
int BN_is_prime_fasttest(const BIGNUM* a, int checks, void (*callback)(int, int, void*),
                         BN_CTX* ctx, void* cb_arg, int do_trial_division) {
  BN_GENCB cb = bare_callback(callback, cb_arg);
  return BN_is_prime_fasttest_ex(a, checks, ctx, do_trial_division, &cb);
}
