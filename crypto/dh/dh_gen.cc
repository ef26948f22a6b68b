// Generation of Diffie-Hellman parameters: a safe prime with the residue
// that the generator asks for, and the old interface with a bare callback.

#include <morvane/bn.h>
#include <morvane/dh.h>
#include <morvane/err.h>

namespace {

int builtin_genparams(DH* dh, int prime_len, int generator, BN_GENCB* cb) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* add = BN_new();
  BIGNUM* rem = BN_new();
  int ok = 0;
  BN_ULONG a = 2, r = 1;  // any other generator: an odd p
  if (ctx == nullptr || add == nullptr || rem == nullptr) goto done;
  if (dh->p == nullptr && (dh->p = BN_new()) == nullptr) goto done;
  if (dh->g == nullptr && (dh->g = BN_new()) == nullptr) goto done;
  if (generator <= 1) {
    DHerr(DH_F_DH_BUILTIN_GENPARAMS, DH_R_BAD_GENERATOR);
    goto done;
  }
  if (prime_len > DH_MAX_MODULUS_BITS) {
    DHerr(DH_F_DH_BUILTIN_GENPARAMS, DH_R_MODULUS_TOO_LARGE);
    goto done;
  }
  if (generator == DH_GENERATOR_2) {
    a = 24;
    r = 11;
  } else if (generator == DH_GENERATOR_5) {
    a = 10;
    r = 3;
  }
  if (!BN_set_word(add, a) || !BN_set_word(rem, r)) goto done;
  if (!BN_generate_prime_ex(dh->p, prime_len, 1, add, rem, cb)) goto done;
  if (!BN_GENCB_call(cb, 3, 0)) goto done;
  if (!BN_set_word(dh->g, static_cast<BN_ULONG>(generator))) goto done;
  ok = 1;
done:
  if (!ok) DHerr(DH_F_DH_BUILTIN_GENPARAMS, ERR_R_BN_LIB);
  BN_free(rem);
  BN_free(add);
  BN_CTX_free(ctx);
  return ok;
}

}  // namespace

/* see morvane/dh.h */
int DH_generate_parameters_ex(DH* dh, int prime_len, int generator, BN_GENCB* cb) {
  if (dh->meth->generate_params != nullptr)
    return dh->meth->generate_params(dh, prime_len, generator, cb);
  return builtin_genparams(dh, prime_len, generator, cb);
}

/* see morvane/dh.h */
DH* DH_generate_parameters(int prime_len, int generator, void (*callback)(int, int, void*),
                           void* cb_arg) {
  DH* dh = DH_new();
  if (dh == nullptr) return nullptr;
  BN_GENCB cb;
  cb.ver = 1;
  cb.arg = cb_arg;
  cb.cb.cb_1 = callback;
  if (DH_generate_parameters_ex(dh, prime_len, generator, &cb)) return dh;
  DH_free(dh);
  return nullptr;
}
