// Constant-time check of EC key generation, ECDSA signing and ECDH under
// valgrind's memcheck.  The random generator's output is undefined from its
// first byte while EC_KEY_generate_key, ECDSA_do_sign, ECDSA_sign and
// ECDSA_sign_setup run (test/ct/marked_rand.h), so each scalar drawn (the
// private scalar, each nonce k) is secret with its draw's comparison with the
// order; other draws are defined.  The private scalar is undefined while
// ECDSA_do_sign, ECDSA_sign, ECDSA_sign_setup, ECDSA_do_sign_ex,
// ECDSA_sign_ex, ECDH_compute_key and i2d_ECPrivateKey run, and so is the
// precomputed k^-1 that ECDSA_sign_setup hands back.  Their word counts are
// undefined too: a drawn scalar and k^-1 get counts found by masks from their
// words, and a caller may give a private scalar made that way
// (EC_KEY_set_private_key, also checked), so nothing may read a secret's
// count.  Only the outputs (the signature, r of the setup, the shared secret
// and its length, the private-key encoding) are marked defined afterwards;
// memcheck must report no branch and no address that depends on the
// secrets.  Curves: P-256, P-384 and P-521.  Each signature is then
// verified, each secret compared with the peer's and each private-key
// encoding decoded back.  Run as `valgrind --error-exitcode=1 ct_ecdsa_ecdh`.
//
// This program goes to the library for every call.  Its twin
// ct_ecdsa_ecdh_adx carries its own copy of the ECDSA method's sources, of
// the curve's constant-time arithmetic and multiplication's entry and of the
// big-number sources, built to take the MULX/ADX kernels
// (MORVANE_EC_FORCE_ADX, MORVANE_BN_FORCE_ADX) that valgrind's model of the
// processor hides.

#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "marked_rand.h"
#include "vg_requests.h"

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>
#include <morvane/rand.h>

namespace {

// b's words (all it has room for) and its word count.
void Secret(const BIGNUM* b) {
  VALGRIND_MAKE_MEM_UNDEFINED(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->dmax));
  VALGRIND_MAKE_MEM_UNDEFINED(&b->top, sizeof b->top);
}

void Public(const void* p, size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}
void Public(const BIGNUM* b) {
  Public(&b->top, sizeof b->top);
  Public(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->dmax));
}

// Generation with the drawn scalar secret; the scalar and the public point
// (made public by the multiplication) are checked: Q = d G.
bool Generate(EC_KEY* key, const char* name) {
  bool ok = ct_rand::Secretly([&] { return EC_KEY_generate_key(key); }) == 1;
  const BIGNUM* d = EC_KEY_get0_private_key(key);
  const EC_GROUP* g = EC_KEY_get0_group(key);
  if (ok) {
    Public(d);
    const EC_POINT* q = EC_KEY_get0_public_key(key);
    EC_POINT* want = EC_POINT_new(g);
    ok = want != nullptr && EC_POINT_mul(g, want, d, nullptr, nullptr, nullptr) == 1 &&
         EC_POINT_cmp(g, want, q, nullptr) == 0 && EC_KEY_check_key(key) == 1;
    EC_POINT_free(want);
  }
  if (!ok) fprintf(stderr, "%s: generation failed\n", name);
  return ok;
}

bool Sign(EC_KEY* key, const char* name) {
  const unsigned char digest[32] = {0x4d, 0x6f, 0x72, 0x76, 0x61, 0x6e, 0x65, 0x21};
  bool ok = true;
  for (int round = 0; ok && round < 2; round++) {
    Secret(EC_KEY_get0_private_key(key));
    ECDSA_SIG* sig = ct_rand::Secretly([&] { return ECDSA_do_sign(digest, sizeof digest, key); });
    Public(EC_KEY_get0_private_key(key));
    ok = sig != nullptr;
    if (ok) {
      Public(sig->r);
      Public(sig->s);
      ok = ECDSA_do_verify(digest, sizeof digest, sig, key) == 1;
    }
    ECDSA_SIG_free(sig);
    unsigned char der[160];
    unsigned int len = 0;
    Secret(EC_KEY_get0_private_key(key));
    const int signed_ok =
        ct_rand::Secretly([&] { return ECDSA_sign(0, digest, sizeof digest, der, &len, key); });
    Public(EC_KEY_get0_private_key(key));
    Public(&len, sizeof len);
    Public(der, sizeof der);
    ok = ok && signed_ok == 1 &&
         ECDSA_verify(0, digest, sizeof digest, der, static_cast<int>(len), key) == 1;
  }
  if (!ok) fprintf(stderr, "%s: signing failed\n", name);
  return ok;
}

// Signing with the values of ECDSA_sign_setup: r is public, k^-1 (its word
// count found by masks) secret, through ECDSA_do_sign_ex and ECDSA_sign_ex.
bool SignPrecomputed(EC_KEY* key, const char* name) {
  const unsigned char digest[48] = {0x70, 0x72, 0x65, 0x63, 0x6f, 0x6d, 0x70, 0x75, 0x74, 0x65};
  bool ok = true;
  for (int round = 0; ok && round < 2; round++) {
    BIGNUM* kinv = nullptr;
    BIGNUM* r = nullptr;
    const BIGNUM* d = EC_KEY_get0_private_key(key);
    Secret(d);
    ok = ct_rand::Secretly([&] { return ECDSA_sign_setup(key, nullptr, &kinv, &r); }) == 1;
    ECDSA_SIG* sig = nullptr;
    unsigned char der[160];
    unsigned int len = 0;
    int signed_ok = 0;
    if (ok) {
      Public(r);
      Secret(kinv);
      sig = ECDSA_do_sign_ex(digest, sizeof digest, kinv, r, key);
      Secret(kinv);
      signed_ok = ECDSA_sign_ex(0, digest, sizeof digest, der, &len, kinv, r, key);
      Public(kinv);
    }
    Public(d);
    Public(&len, sizeof len);
    Public(der, sizeof der);
    ok = ok && sig != nullptr && signed_ok == 1;
    if (ok) {
      Public(sig->r);
      Public(sig->s);
      ok = BN_cmp(sig->r, r) == 0 && ECDSA_do_verify(digest, sizeof digest, sig, key) == 1 &&
           ECDSA_verify(0, digest, sizeof digest, der, static_cast<int>(len), key) == 1;
    }
    ECDSA_SIG_free(sig);
    BN_clear_free(kinv);
    BN_free(r);
  }
  if (!ok) fprintf(stderr, "%s: signing with precomputed values failed\n", name);
  return ok;
}

bool Agree(EC_KEY* a, EC_KEY* b, const char* name) {
  unsigned char s1[80], s2[80];
  Secret(EC_KEY_get0_private_key(a));
  const int n1 = ECDH_compute_key(s1, sizeof s1, EC_KEY_get0_public_key(b), a, nullptr);
  Public(EC_KEY_get0_private_key(a));
  Public(&n1, sizeof n1);
  Public(s1, sizeof s1);
  Secret(EC_KEY_get0_private_key(b));
  const int n2 = ECDH_compute_key(s2, sizeof s2, EC_KEY_get0_public_key(a), b, nullptr);
  Public(EC_KEY_get0_private_key(b));
  Public(&n2, sizeof n2);
  Public(s2, sizeof s2);
  const bool ok = n1 > 0 && n1 == n2 && memcmp(s1, s2, static_cast<size_t>(n1)) == 0;
  if (!ok) fprintf(stderr, "%s: agreement failed\n", name);
  return ok;
}

// The private key written with its scalar secret: the octets are the scalar
// at the order's length whatever its leading zeros (a scalar shifted right
// by 20 bits, so with two zero octets in front, too), and they decode back.
bool Encode(const EC_KEY* from, int nid, const char* name) {
  bool ok = true;
  for (int shift : {0, 20}) {
    EC_KEY* key = EC_KEY_new_by_curve_name(nid);
    BIGNUM* d = BN_new();
    ok = ok && key != nullptr && d != nullptr &&
         BN_rshift(d, EC_KEY_get0_private_key(from), shift) == 1 &&
         EC_KEY_set_private_key(key, d) == 1 &&
         EC_KEY_set_public_key(key, EC_KEY_get0_public_key(from)) == 1;
    unsigned char* der = nullptr;
    int n = 0;
    if (ok) {
      Secret(EC_KEY_get0_private_key(key));
      n = i2d_ECPrivateKey(key, &der);
      Public(EC_KEY_get0_private_key(key));
      Public(&n, sizeof n);
      if (n > 0) Public(der, static_cast<size_t>(n));
    }
    // SEQUENCE { INTEGER 1, OCTET STRING of the order's length, ... }.
    BIGNUM* order = BN_new();
    ok = ok && n > 7 && order != nullptr &&
         EC_GROUP_get_order(EC_KEY_get0_group(key), order, nullptr) == 1;
    if (ok) {
      const int len = (BN_num_bits(order) + 7) / 8;
      const int at = der[1] & 0x80 ? 2 + (der[1] & 0x7f) : 2;  // past the SEQUENCE header
      const unsigned char* p = der;
      EC_KEY* back = d2i_ECPrivateKey(nullptr, &p, n);
      ok = der[at] == 0x02 && der[at + 3] == 0x04 && der[at + 4] == len && back != nullptr &&
           BN_cmp(EC_KEY_get0_private_key(back), d) == 0;
      EC_KEY_free(back);
    }
    BN_free(order);
    CRYPTO_free(der);
    BN_clear_free(d);
    EC_KEY_free(key);
  }
  if (!ok) fprintf(stderr, "%s: the private-key encoding failed\n", name);
  return ok;
}

// A key whose private scalar the caller gives (EC_KEY_set_private_key) as a
// secret with a secret word count: set, then signing and agreement.
bool GivenKey(int nid, const EC_KEY* from, EC_KEY* peer, const char* name) {
  EC_KEY* key = EC_KEY_new_by_curve_name(nid);
  BIGNUM* d = BN_dup(EC_KEY_get0_private_key(from));
  bool ok = key != nullptr && d != nullptr;
  if (ok) {
    Secret(d);
    ok = EC_KEY_set_private_key(key, d) == 1;
    Public(d);
    if (ok) Public(EC_KEY_get0_private_key(key));
    ok = ok && EC_KEY_set_public_key(key, EC_KEY_get0_public_key(from)) == 1 &&
         BN_cmp(EC_KEY_get0_private_key(key), EC_KEY_get0_private_key(from)) == 0;
  }
  ok = ok && Sign(key, name) && SignPrecomputed(key, name) && Agree(key, peer, name);
  if (!ok) fprintf(stderr, "%s: the given key failed\n", name);
  BN_clear_free(d);
  EC_KEY_free(key);
  return ok;
}

}  // namespace

int main() {
  if (!RUNNING_ON_VALGRIND) {
    fprintf(stderr, "ct_ecdsa_ecdh: run me under valgrind --error-exitcode=1\n");
    return 2;
  }
  ct_rand::Install();
  bool ok = true;
  const struct {
    int nid;
    const char* name;
  } curves[] = {{415, "P-256"}, {715, "P-384"}, {716, "P-521"}};
  for (const auto& c : curves) {
    EC_KEY* a = EC_KEY_new_by_curve_name(c.nid);
    EC_KEY* b = EC_KEY_new_by_curve_name(c.nid);
    ok = ok && a != nullptr && b != nullptr && Generate(a, c.name) && Generate(b, c.name);
    ok = ok && Sign(a, c.name) && SignPrecomputed(a, c.name) && Agree(a, b, c.name) &&
         GivenKey(c.nid, a, b, c.name) && Encode(a, c.nid, c.name);
    EC_KEY_free(a);
    EC_KEY_free(b);
  }
  RAND_set_rand_method(nullptr);
  ERR_clear_error();
  printf("%s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
