// Constant-time check of RSA key generation and of RSA_check_key under
// valgrind's memcheck.  RSA_generate_key_ex runs with the random generator's
// output undefined from its first byte, for keys of 512 bits (primes of 16
// words), 544 bits (primes of 9 words: an odd count) and 1024 bits, with
// e = 65537 and e = 3: the sieve, the Miller-Rabin rounds of every
// candidate, gcd(p - 1, e), the comparison of p and q, n and (p - 1)(q - 1),
// and d, dmp1, dmq1 and iqmp.  Only the decisions that drop a candidate, the
// order of p and q and the word counts of the results are made public by the
// library; the program marks the key defined afterwards and checks it by
// plain arithmetic (RSA_check_key and a signature).  RSA_check_key then runs
// on each key, and on one whose iqmp is off by one, with the words of p, q,
// d, dmp1, dmq1 and iqmp undefined but for the primes' parity and top bit
// (as in ct_rsa.cc) and the generator's output undefined; its verdict is
// marked defined afterwards.  Memcheck must report no branch and no address
// that depends on the secrets.  Run as `valgrind --error-exitcode=1
// ct_rsa_keygen`.

#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "marked_rand.h"
#include "secret_words.h"
#include "vg_requests.h"

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

namespace {

void Public(const void* p, size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}

void PublicKey(const RSA* key) {
  for (const BIGNUM* b : {key->n, key->e, key->d, key->p, key->q, key->dmp1, key->dmq1, key->iqmp})
    PublicNumber(b);
}

// RSA_check_key with the key's secrets undefined; its verdict.
int CheckSecretly(RSA* key) {
  for (const BIGNUM* b : {key->d, key->dmp1, key->dmq1, key->iqmp}) SecretWords(b, false);
  SecretWords(key->p, true);
  SecretWords(key->q, true);
  const int r = ct_rand::Secretly([&] { return RSA_check_key(key); });
  Public(&r, sizeof r);
  PublicKey(key);
  ERR_clear_error();
  return r;
}

bool Run(int bits, unsigned long e_word) {
  RSA* key = RSA_new();
  BIGNUM* e = BN_new();
  bool ok = key != nullptr && e != nullptr && BN_set_word(e, e_word);
  const int made = ok ? ct_rand::Secretly([&] { return RSA_generate_key_ex(key, bits, e, nullptr); })
                      : 0;
  Public(&made, sizeof made);
  ok = ok && made == 1;
  if (ok) {
    PublicKey(key);
    unsigned char msg[20] = {1, 2, 3}, sig[128], back[128];
    const int k = RSA_size(key);
    ok = BN_num_bits(key->n) == bits && RSA_check_key(key) == 1 &&
         RSA_private_encrypt(20, msg, sig, key, RSA_PKCS1_PADDING) == k &&
         RSA_public_decrypt(k, sig, back, key, RSA_PKCS1_PADDING) == 20 &&
         memcmp(msg, back, 20) == 0;
    ERR_clear_error();
  }
  printf("RSA key generation, %4d bits, e = %lu: %s\n", bits, e_word,
         ok ? "ran" : "WRONG RESULT");
  if (ok) {
    const int good = CheckSecretly(key);
    BN_add_word(key->iqmp, 1);
    const int bad = CheckSecretly(key);
    ok = good == 1 && bad == 0;
    printf("RSA_check_key, %4d bits: %s\n", bits, ok ? "ran" : "WRONG RESULT");
  }
  RSA_free(key);
  BN_free(e);
  return ok;
}

}  // namespace

int main() {
  if (!RUNNING_ON_VALGRIND) {
    fprintf(stderr, "ct_rsa_keygen: run me under valgrind --error-exitcode=1\n");
    return 2;
  }
  ct_rand::Install();
  bool ok = true;
  ok = Run(512, 65537) && ok;
  ok = Run(544, 3) && ok;
  ok = Run(1024, 65537) && ok;
  RAND_set_rand_method(nullptr);
  return ok ? 0 : 1;
}
