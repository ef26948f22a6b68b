// Constant-time check of DSA signing and Diffie-Hellman under valgrind's
// memcheck.  The DSA private key x and each nonce k (marked through the
// signing code's test seam, as soon as it is drawn: the rejection sampling
// of the draw itself is not constant time and need not be) are undefined
// while DSA_do_sign and DSA_sign run, and the DH private value while
// DH_generate_key and DH_compute_key run; word counts stay defined.  Only
// the outputs (the signature, the public value, the secret and its length)
// are marked defined afterwards; memcheck must report no branch and no
// address that depends on the secrets.  The groups: the example of FIPS
// 186-2, Appendix 5 (test/data, with its published key), one made by
// DSA_generate_parameters_ex from that example's seed (1024/160, the same
// group every run) and one built around a 256-bit q (q and then p = 1 mod
// 2q from BN_generate_prime_ex, 1024 bits), for DSA and, through
// DSA_dup_DH, for Diffie-Hellman; and the 2048-bit MODP group of RFC 3526,
// section 3 (test/data) for Diffie-Hellman.  The results are checked once
// the secrets are defined again: signatures by plain arithmetic, public
// values and secrets by BN_mod_exp and by the other party's
// DH_compute_key.  Run as `valgrind --error-exitcode=1 ct_dsa_dh`.
//
// This program carries its own copy of the DSA method's sources, built with
// the seam (MORVANE_DSA_NONCE_SEAM, crypto/dsa/internal.h); every other
// call goes to the library.  The random generator mixes what the caller's
// buffer held into its output, so the program draws through a method that
// marks its output defined: the draws are not among the secrets checked.

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "vg_requests.h"

#include <morvane/bn.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/rand.h>
#include <morvane/sha.h>

namespace morvane::dsa {
void nonce_drawn(BIGNUM* k) {
  VALGRIND_MAKE_MEM_UNDEFINED(k->d, sizeof(BN_ULONG) * static_cast<size_t>(k->top));
}
}  // namespace morvane::dsa

namespace {

void Secret(const BIGNUM* b) {
  VALGRIND_MAKE_MEM_UNDEFINED(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->top));
}
void Public(const void* p, size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}
void Public(const BIGNUM* b) {
  Public(&b->top, sizeof b->top);
  Public(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->dmax));
}

const RAND_METHOD* g_rand = nullptr;
int DefinedBytes(unsigned char* buf, int num) {
  const int r = g_rand->bytes(buf, num);
  Public(buf, static_cast<size_t>(num > 0 ? num : 0));
  return r;
}
int DefinedPseudo(unsigned char* buf, int num) {
  const int r = g_rand->pseudorand(buf, num);
  Public(buf, static_cast<size_t>(num > 0 ? num : 0));
  return r;
}

// The `key = value` records of a test data file (blank lines end a record).
std::vector<std::map<std::string, std::string>> Records(const char* name) {
  std::vector<std::map<std::string, std::string>> out(1);
  std::ifstream in(std::string(MORVANE_TEST_DATA_DIR) + "/" + name);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) {
      if (!out.back().empty()) out.emplace_back();
      continue;
    }
    if (line[0] == '#') continue;
    const size_t eq = line.find(" = ");
    if (eq != std::string::npos) out.back()[line.substr(0, eq)] = line.substr(eq + 3);
  }
  if (out.back().empty()) out.pop_back();
  return out;
}

std::vector<unsigned char> Bytes(const std::string& hex) {
  std::vector<unsigned char> out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); i++)
    out[i] = static_cast<unsigned char>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

BIGNUM* Hex(const std::string& h) {
  BIGNUM* b = nullptr;
  BN_hex2bn(&b, h.c_str());
  return b;
}

// r = (g^(m w) y^(r w) mod p) mod q with w = s^-1: the signature checked by
// plain arithmetic (DSA_do_verify takes only 160-bit subgroups).
bool Verifies(const DSA* dsa, const unsigned char* md, int n, const DSA_SIG* sig) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *w = BN_mod_inverse(nullptr, sig->s, dsa->q, ctx), *m = BN_bin2bn(md, n, nullptr);
  BIGNUM *a = BN_new(), *b = BN_new();
  bool ok = w != nullptr && BN_mod_mul(m, m, w, dsa->q, ctx) &&
            BN_mod_mul(w, sig->r, w, dsa->q, ctx) && BN_mod_exp(a, dsa->g, m, dsa->p, ctx) &&
            BN_mod_exp(b, dsa->pub_key, w, dsa->p, ctx) && BN_mod_mul(a, a, b, dsa->p, ctx) &&
            BN_nnmod(a, a, dsa->q, ctx) && BN_cmp(a, sig->r) == 0;
  for (BIGNUM* x : {w, m, a, b}) BN_free(x);
  BN_CTX_free(ctx);
  return ok;
}

bool SignWith(DSA* dsa, const char* name) {
  bool ok = true;
  for (int i = 0; i < 3; i++) {
    unsigned char md[20];
    const unsigned char msg[2] = {'m', static_cast<unsigned char>(i)};
    SHA1(msg, sizeof msg, md);
    Secret(dsa->priv_key);
    DSA_SIG* sig = DSA_do_sign(md, 20, dsa);
    unsigned char der[128];
    unsigned int len = 0;
    const int signed_der = DSA_sign(0, md, 20, der, &len, dsa);
    Public(&signed_der, sizeof signed_der);
    Public(&len, sizeof len);
    Public(der, sizeof der);
    Public(dsa->priv_key);
    ok = ok && sig != nullptr && signed_der == 1;
    if (sig != nullptr) {
      Public(sig->r);
      Public(sig->s);
      ok = ok && Verifies(dsa, md, 20, sig);
      DSA_SIG_free(sig);
    }
    if (BN_num_bits(dsa->q) == 160) {
      ok = ok && DSA_verify(0, md, 20, der, static_cast<int>(len), dsa) == 1;
    }
  }
  printf("DSA signing, %s: %s\n", name, ok ? "ran" : "WRONG RESULT");
  return ok;
}

// A group generated by DSA_generate_parameters_ex from `seed` and one built
// around a 256-bit q, each with a key from DSA_generate_key.
DSA* GeneratedKey(std::vector<unsigned char> seed) {
  DSA* dsa = DSA_new_method(nullptr);
  if (DSA_generate_parameters_ex(dsa, 1024, seed.data(), static_cast<int>(seed.size()), nullptr,
                                 nullptr, nullptr) != 1 ||
      DSA_generate_key(dsa) != 1) {
    DSA_free(dsa);
    return nullptr;
  }
  return dsa;
}

DSA* BuiltKey(int p_bits, int q_bits) {
  DSA* dsa = DSA_new_method(nullptr);
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *two_q = BN_new(), *e = BN_new(), *two = BN_new();
  dsa->p = BN_new();
  dsa->q = BN_new();
  dsa->g = BN_new();
  const bool ok = BN_generate_prime_ex(dsa->q, q_bits, 0, nullptr, nullptr, nullptr) == 1 &&
                  BN_lshift1(two_q, dsa->q) &&
                  BN_generate_prime_ex(dsa->p, p_bits, 0, two_q, nullptr, nullptr) == 1 &&
                  BN_sub(two_q, dsa->p, BN_value_one()) && BN_div(e, nullptr, two_q, dsa->q, ctx) &&
                  BN_set_word(two, 2) && BN_mod_exp(dsa->g, two, e, dsa->p, ctx) &&
                  !BN_is_one(dsa->g) && DSA_generate_key(dsa) == 1;
  for (BIGNUM* x : {two_q, e, two}) BN_free(x);
  BN_CTX_free(ctx);
  if (!ok) {
    DSA_free(dsa);
    return nullptr;
  }
  return dsa;
}

// A DSA group with a key, and its name.
struct Named {
  DSA* dsa;
  const char* name;
};

bool Dsa(const std::vector<Named>& groups) {
  bool ok = true;
  for (const Named& k : groups) {
    DSA* dsa = DSA_new_method(nullptr);
    DSA_set_method(dsa, DSA_Morvane());  // this program's copy, with the seam
    dsa->p = BN_dup(k.dsa->p);
    dsa->q = BN_dup(k.dsa->q);
    dsa->g = BN_dup(k.dsa->g);
    dsa->priv_key = BN_dup(k.dsa->priv_key);
    dsa->pub_key = BN_dup(k.dsa->pub_key);
    ok = SignWith(dsa, k.name) && ok;
    DSA_free(dsa);
  }
  return ok;
}

// Party A's private value is drawn first, then marked while DH_generate_key
// makes its public value and DH_compute_key the secret with B's.  Checked
// afterwards: A's public value is g^x, the secret is B's public value to x,
// and B's DH_compute_key (nothing marked) gives the same bytes.
bool Exchange(DH* a, DH* b, const char* name) {
  BN_CTX* ctx = BN_CTX_new();
  bool ok = DH_generate_key(a) == 1 && DH_generate_key(b) == 1;
  if (ok) {
    BN_free(a->pub_key);
    a->pub_key = nullptr;
    Secret(a->priv_key);
    const int gen = DH_generate_key(a);
    std::vector<unsigned char> ka(static_cast<size_t>(DH_size(a))), kb(ka.size());
    const int na = DH_compute_key(ka.data(), b->pub_key, a);
    Public(&gen, sizeof gen);
    Public(&na, sizeof na);
    Public(ka.data(), ka.size());
    Public(a->priv_key);
    if (a->pub_key != nullptr) Public(a->pub_key);
    BIGNUM *y = BN_new(), *z = BN_new();
    ok = gen == 1 && na > 0 && BN_mod_exp(y, a->g, a->priv_key, a->p, ctx) &&
         BN_cmp(y, a->pub_key) == 0 && BN_mod_exp(z, b->pub_key, a->priv_key, a->p, ctx) &&
         na == BN_num_bytes(z);
    if (ok) {
      std::vector<unsigned char> want(static_cast<size_t>(na));
      BN_bn2bin(z, want.data());
      const int nb = DH_compute_key(kb.data(), a->pub_key, b);
      ok = memcmp(ka.data(), want.data(), want.size()) == 0 && nb == na &&
           memcmp(kb.data(), want.data(), want.size()) == 0;
    }
    BN_free(y);
    BN_free(z);
  }
  printf("DH keys and secret, %s: %s\n", name, ok ? "ran" : "WRONG RESULT");
  BN_CTX_free(ctx);
  return ok;
}

bool Dh(const std::vector<Named>& groups) {
  bool ok = true;
  for (const Named& gr : groups) {
    DSA* params = DSA_new();
    params->p = BN_dup(gr.dsa->p);
    params->q = BN_dup(gr.dsa->q);
    params->g = BN_dup(gr.dsa->g);
    DH *a = DSA_dup_DH(params), *b = DSA_dup_DH(params);  // q and length bits(q)
    DSA_free(params);
    ok = a != nullptr && b != nullptr && Exchange(a, b, gr.name) && ok;
    DH_free(a);
    DH_free(b);
  }
  const auto modp = Records("dh/rfc3526.txt");
  if (modp.size() != 1) {
    fprintf(stderr, "ct_dsa_dh: test data missing\n");
    return false;
  }
  DH *a = DH_new(), *b = DH_new();
  for (DH* d : {a, b}) {
    d->p = Hex(modp[0].at("p"));
    d->g = Hex(modp[0].at("g"));
  }
  ok = Exchange(a, b, "RFC 3526 2048-bit MODP group") && ok;
  DH_free(a);
  DH_free(b);
  return ok;
}

}  // namespace

int main() {
  if (!RUNNING_ON_VALGRIND) {
    fprintf(stderr, "ct_dsa_dh: run me under valgrind --error-exitcode=1\n");
    return 2;
  }
  g_rand = RAND_get_rand_method();
  RAND_METHOD defined = *g_rand;
  defined.bytes = DefinedBytes;
  defined.pseudorand = DefinedPseudo;
  RAND_set_rand_method(&defined);
  const auto fips = Records("dsa/fips186_2.txt");
  if (fips.size() != 1) {
    fprintf(stderr, "ct_dsa_dh: test data missing\n");
    return 1;
  }
  DSA* example = DSA_new();
  example->p = Hex(fips[0].at("p"));
  example->q = Hex(fips[0].at("q"));
  example->g = Hex(fips[0].at("g"));
  example->priv_key = Hex(fips[0].at("x"));
  example->pub_key = Hex(fips[0].at("y"));
  const std::vector<Named> groups = {
      {example, "FIPS 186-2 example (512/160)"},
      {GeneratedKey(Bytes(fips[0].at("seed"))), "generated group (1024/160)"},
      {BuiltKey(1024, 256), "built group (1024/256)"}};
  bool ok = groups[1].dsa != nullptr && groups[2].dsa != nullptr;
  if (!ok) fprintf(stderr, "ct_dsa_dh: group generation failed\n");
  ok = ok && Dsa(groups);
  ok = ok && Dh(groups);
  for (const Named& g : groups) DSA_free(g.dsa);
  RAND_set_rand_method(nullptr);
  ERR_clear_error();
  return ok ? 0 : 1;
}
