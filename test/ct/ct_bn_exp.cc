// Constant-time check of BN_mod_exp_mont_consttime under valgrind's memcheck:
// the exponent's words, the base's words and the modulus are marked
// undefined; word counts, the modulus's parity and that its top word is not
// zero are public.  The modulus is secret in three ways: in a context
// prepared in the clear (its N and RR), as the argument of BN_MONT_CTX_set,
// and as the argument of the exponentiation that makes its own context.
// Memcheck must report no branch and no address that depends on them.  Run
// as `valgrind --error-exitcode=1 ct_bn_exp`; the result is checked against
// BN_mod_exp after the run.

#include <stdio.h>

#include <initializer_list>

#include "vg_requests.h"

#include <morvane/bn.h>

namespace {

void Fill(BIGNUM* b, int words, unsigned seed) {
  BN_zero(b);
  for (int i = 0; i < words; i++) {
    BN_lshift(b, b, 32);
    BN_add_word(b, (seed + 0x9E3779B9u * static_cast<unsigned>(i + 1)) ^ (seed >> 3));
  }
  BN_set_bit(b, words * 32 - 1);  // a full top word
}

// Marks the modulus's words secret but for its parity and its top bit (set).
void SecretModulus(BIGNUM* m) {
  VALGRIND_MAKE_MEM_UNDEFINED(m->d, sizeof(BN_ULONG) * m->top);
  const BN_ULONG low = ~static_cast<BN_ULONG>(1), high = ~(static_cast<BN_ULONG>(1) << 31);
  VALGRIND_SET_VBITS(&m->d[0], &low, sizeof low);
  VALGRIND_SET_VBITS(&m->d[m->top - 1], &high, sizeof high);
}

// Where the modulus is secret (see the top of the file).
enum class Where { kPreparedContext, kContextSet, kOwnContext };

bool Case(int bits, Where where, BN_CTX* ctx) {
  const int words = bits / 32;
  BIGNUM *m = BN_new(), *a = BN_new(), *p = BN_new(), *r = BN_new(), *want = BN_new();
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  Fill(m, words, 7u * static_cast<unsigned>(bits));
  BN_set_bit(m, 0);
  Fill(a, words - 1, 11u * static_cast<unsigned>(bits));
  Fill(p, words, 13u * static_cast<unsigned>(bits));
  bool ok = BN_mod_exp(want, a, p, m, ctx) == 1;
  BN_set_flags(p, BN_FLAG_SECRET);
  VALGRIND_MAKE_MEM_UNDEFINED(p->d, sizeof(BN_ULONG) * p->top);
  VALGRIND_MAKE_MEM_UNDEFINED(a->d, sizeof(BN_ULONG) * a->top);
  BN_MONT_CTX* use = mont;
  switch (where) {
    case Where::kPreparedContext:
      ok = ok && BN_MONT_CTX_set(mont, m, ctx) == 1;
      VALGRIND_MAKE_MEM_UNDEFINED(mont->N.d, sizeof(BN_ULONG) * mont->N.top);
      VALGRIND_MAKE_MEM_UNDEFINED(mont->RR.d, sizeof(BN_ULONG) * mont->RR.top);
      break;
    case Where::kContextSet:
      BN_set_flags(m, BN_FLAG_SECRET);
      SecretModulus(m);
      ok = ok && BN_MONT_CTX_set(mont, m, ctx) == 1;
      break;
    case Where::kOwnContext:
      SecretModulus(m);
      use = nullptr;
      break;
  }
  ok = ok && BN_mod_exp_mont_consttime(r, a, p, m, ctx, use) == 1;
  VALGRIND_MAKE_MEM_DEFINED(&r->top, sizeof r->top);
  VALGRIND_MAKE_MEM_DEFINED(r->d, sizeof(BN_ULONG) * r->dmax);
  VALGRIND_MAKE_MEM_DEFINED(p->d, sizeof(BN_ULONG) * p->top);
  VALGRIND_MAKE_MEM_DEFINED(a->d, sizeof(BN_ULONG) * a->top);
  VALGRIND_MAKE_MEM_DEFINED(m->d, sizeof(BN_ULONG) * m->top);
  ok = ok && BN_cmp(r, want) == 0;
  static const char* const kWhere[] = {"prepared context", "context set", "own context"};
  printf("consttime exponentiation, %4d bits, secret modulus in the %s: %s\n", bits,
         kWhere[static_cast<int>(where)], ok ? "ran" : "WRONG RESULT");
  BN_MONT_CTX_free(mont);
  for (BIGNUM* b : {m, a, p, r, want}) BN_free(b);
  return ok;
}

}  // namespace

int main() {
  if (!RUNNING_ON_VALGRIND) {
    fprintf(stderr, "ct_bn_exp: run me under valgrind --error-exitcode=1\n");
    return 2;
  }
  BN_CTX* ctx = BN_CTX_new();
  bool ok = true;
  // 224 and 256 bits take the unrolled products of 4 limbs (224: an odd word
  // count, R made whole limbs by doublings).
  for (int bits : {224, 256, 512, 1024, 2048, 3072})
    ok = Case(bits, Where::kPreparedContext, ctx) && ok;
  for (Where where : {Where::kContextSet, Where::kOwnContext})
    for (int bits : {256, 512, 2048}) ok = Case(bits, where, ctx) && ok;
  BN_CTX_free(ctx);
  return ok ? 0 : 1;
}
