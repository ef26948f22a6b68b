// DSA-1024 signing and verification and a Diffie-Hellman exchange in the
// 2048-bit MODP group of RFC 3526, in Morvane, Nettle and libgcrypt.  DSA:
// DSA_do_sign and DSA_do_verify of a 20-byte digest against Nettle's
// dsa_sign and dsa_verify and libgcrypt's gcry_pk_sign and gcry_pk_verify,
// over a 1024-bit group with a 160-bit q from DSA_generate_parameters_ex.
// Diffie-Hellman: an exchange
// (DH_generate_key, which draws a 2047-bit private value, then
// DH_compute_key) against libgcrypt's gcry_mpi_randomize and two
// gcry_mpi_powm; the shared secret alone (DH_compute_key) against one
// gcry_mpi_powm.  Nettle has no Diffie-Hellman.  Before timing, each
// library's signature is verified by the others and the shared secrets are
// compared.  Names are "dsa-1024-sign/<library>" and so on; each timed call
// is one operation.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <gcrypt.h>
#include <gmp.h>
#include <nettle/dsa.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>

#include "bench.h"

namespace bench {
namespace {

// RFC 3526, 3: the 2048-bit MODP group, generator 2.
const char kDhP[] =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A0879"
    "8E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B"
    "0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE649286651ECE45B3DC2007CB8A163BF0598DA4836"
    "1C55D39A69163FA8FD24CF5F83655D23DCA3AD961C62F356208552BB9ED529077096966D670C354E4ABC9804"
    "F1746C08CA18217C32905E462E36CE3BE39E772C180E86039B2783A2EC07A28FB5C55DF06F4C52C9DE2BCBF6"
    "955817183995497CEA956AE515D2261898FA051015728E5A8AACAA68FFFFFFFFFFFFFFFF";

const uint8_t kDigest[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                             0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};

BIGNUM* Bn(const char* hex) {
  BIGNUM* b = nullptr;
  BN_hex2bn(&b, hex);
  return b;
}
gcry_mpi_t Gmpi(const char* hex) {
  gcry_mpi_t m = nullptr;
  gcry_mpi_scan(&m, GCRYMPI_FMT_HEX, hex, 0, nullptr);
  return m;
}
gcry_mpi_t Gmpi(const BIGNUM* b) {
  char* hex = BN_bn2hex(b);
  gcry_mpi_t m = Gmpi(hex);
  MORVANE_free(hex);
  return m;
}

// The DSA key of the benchmarks, as hex for the three libraries: a
// 1024-bit group with a 160-bit q from DSA_generate_parameters_ex, started
// from the seed of FIPS 186-2, Appendix 5 (the same group every run), and a
// key from DSA_generate_key.
struct DsaHex {
  std::string p, q, g, x, y;
};
std::string HexOf(const BIGNUM* b) {
  char* hex = BN_bn2hex(b);
  std::string out(hex);
  MORVANE_free(hex);
  return out;
}
const DsaHex& Key() {
  static const DsaHex key = [] {
    unsigned char seed[20] = {0xd5, 0x01, 0x4e, 0x4b, 0x60, 0xef, 0x2b, 0xa8, 0xb6, 0x21,
                              0x1b, 0x40, 0x62, 0xba, 0x32, 0x24, 0xe0, 0x42, 0x7d, 0xd3};
    DSA* dsa = DSA_new();
    if (DSA_generate_parameters_ex(dsa, 1024, seed, 20, nullptr, nullptr, nullptr) != 1 ||
        DSA_generate_key(dsa) != 1) {
      fprintf(stderr, "dsa-1024: no key\n");
      exit(1);
    }
    DsaHex h{HexOf(dsa->p), HexOf(dsa->q), HexOf(dsa->g), HexOf(dsa->priv_key),
             HexOf(dsa->pub_key)};
    DSA_free(dsa);
    return h;
  }();
  return key;
}

void SetMpz(mpz_t z, const BIGNUM* b) {
  char* hex = BN_bn2hex(b);
  mpz_set_str(z, hex, 16);
  MORVANE_free(hex);
}

// ---- DSA --------------------------------------------------------------------

DSA* OurKey() {
  DSA* dsa = DSA_new();
  dsa->p = Bn(Key().p.c_str());
  dsa->q = Bn(Key().q.c_str());
  dsa->g = Bn(Key().g.c_str());
  dsa->priv_key = Bn(Key().x.c_str());
  dsa->pub_key = Bn(Key().y.c_str());
  return dsa;
}

void NettleRandom(void* ctx, size_t n, uint8_t* dst) {
  auto* x = static_cast<uint64_t*>(ctx);
  for (size_t i = 0; i < n; i++) {
    *x ^= *x << 13;
    *x ^= *x >> 7;
    *x ^= *x << 17;
    dst[i] = static_cast<uint8_t>(*x);
  }
}

struct NettleKey {
  dsa_params params;
  mpz_t x, y;
  NettleKey() {
    dsa_params_init(&params);
    mpz_inits(x, y, nullptr);
    mpz_set_str(params.p, Key().p.c_str(), 16);
    mpz_set_str(params.q, Key().q.c_str(), 16);
    mpz_set_str(params.g, Key().g.c_str(), 16);
    mpz_set_str(x, Key().x.c_str(), 16);
    mpz_set_str(y, Key().y.c_str(), 16);
  }
  ~NettleKey() {
    dsa_params_clear(&params);
    mpz_clears(x, y, nullptr);
  }
};

struct GcryKey {
  gcry_sexp_t priv = nullptr, pub = nullptr, data = nullptr;
  GcryKey() {
    const DsaHex& k = Key();
    gcry_mpi_t p = Gmpi(k.p.c_str()), q = Gmpi(k.q.c_str()), g = Gmpi(k.g.c_str());
    gcry_mpi_t x = Gmpi(k.x.c_str()), y = Gmpi(k.y.c_str());
    gcry_mpi_t h = gcry_mpi_set_opaque_copy(nullptr, kDigest, 160);
    gcry_sexp_build(&priv, nullptr, "(private-key(dsa(p%m)(q%m)(g%m)(y%m)(x%m)))", p, q, g, y, x);
    gcry_sexp_build(&pub, nullptr, "(public-key(dsa(p%m)(q%m)(g%m)(y%m)))", p, q, g, y);
    gcry_sexp_build(&data, nullptr, "(data(flags raw)(value %m))", h);
    for (gcry_mpi_t m : {p, q, g, x, y, h}) gcry_mpi_release(m);
  }
  ~GcryKey() {
    gcry_sexp_release(priv);
    gcry_sexp_release(pub);
    gcry_sexp_release(data);
  }
};

// Every library's signature verifies in every library.
void CrossCheckDsa() {
  DSA* ours = OurKey();
  NettleKey nk;
  GcryKey gk;
  DSA_SIG* sig = DSA_do_sign(kDigest, 20, ours);
  dsa_signature ns;
  dsa_signature_init(&ns);
  SetMpz(ns.r, sig->r);
  SetMpz(ns.s, sig->s);
  gcry_sexp_t gs = nullptr;
  gcry_mpi_t gr = Gmpi(sig->r), gss = Gmpi(sig->s);
  gcry_sexp_build(&gs, nullptr, "(sig-val(dsa(r%m)(s%m)))", gr, gss);
  if (!dsa_verify(&nk.params, nk.y, 20, kDigest, &ns)) Mismatch("dsa: Nettle rejects Morvane");
  if (gcry_pk_verify(gs, gk.data, gk.pub) != 0) Mismatch("dsa: libgcrypt rejects Morvane");
  uint64_t seed = 0x1234;
  dsa_signature theirs;
  dsa_signature_init(&theirs);
  dsa_sign(&nk.params, nk.x, &seed, NettleRandom, 20, kDigest, &theirs);
  DSA_SIG* back = DSA_SIG_new();
  char* rh = mpz_get_str(nullptr, 16, theirs.r);
  char* sh = mpz_get_str(nullptr, 16, theirs.s);
  back->r = Bn(rh);
  back->s = Bn(sh);
  if (DSA_do_verify(kDigest, 20, back, ours) != 1) Mismatch("dsa: Morvane rejects Nettle");
  free(rh);
  free(sh);
  DSA_SIG_free(back);
  DSA_SIG_free(sig);
  gcry_sexp_release(gs);
  gcry_mpi_release(gr);
  gcry_mpi_release(gss);
  dsa_signature_clear(&ns);
  dsa_signature_clear(&theirs);
  DSA_free(ours);
}

void OursSign(benchmark::State& state) {
  DSA* dsa = OurKey();
  for (auto _ : state) DSA_SIG_free(DSA_do_sign(kDigest, 20, dsa));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  DSA_free(dsa);
}
void OursVerify(benchmark::State& state) {
  DSA* dsa = OurKey();
  DSA_SIG* sig = DSA_do_sign(kDigest, 20, dsa);
  for (auto _ : state) benchmark::DoNotOptimize(DSA_do_verify(kDigest, 20, sig, dsa));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  DSA_SIG_free(sig);
  DSA_free(dsa);
}
void NettleSign(benchmark::State& state) {
  NettleKey k;
  dsa_signature sig;
  dsa_signature_init(&sig);
  uint64_t seed = 99;
  for (auto _ : state) dsa_sign(&k.params, k.x, &seed, NettleRandom, 20, kDigest, &sig);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  dsa_signature_clear(&sig);
}
void NettleVerify(benchmark::State& state) {
  NettleKey k;
  dsa_signature sig;
  dsa_signature_init(&sig);
  uint64_t seed = 99;
  dsa_sign(&k.params, k.x, &seed, NettleRandom, 20, kDigest, &sig);
  for (auto _ : state) benchmark::DoNotOptimize(dsa_verify(&k.params, k.y, 20, kDigest, &sig));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  dsa_signature_clear(&sig);
}
void GcrySign(benchmark::State& state) {
  GcryKey k;
  for (auto _ : state) {
    gcry_sexp_t sig = nullptr;
    gcry_pk_sign(&sig, k.data, k.priv);
    gcry_sexp_release(sig);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
void GcryVerify(benchmark::State& state) {
  GcryKey k;
  gcry_sexp_t sig = nullptr;
  gcry_pk_sign(&sig, k.data, k.priv);
  for (auto _ : state) benchmark::DoNotOptimize(gcry_pk_verify(sig, k.data, k.pub));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  gcry_sexp_release(sig);
}

// ---- Diffie-Hellman ------------------------------------------------------------

DH* OurGroup() {
  DH* dh = DH_new();
  dh->p = Bn(kDhP);
  dh->g = Bn("2");
  return dh;
}

// A peer's public value and a fixed private value of 2047 bits, from the
// shared input.
struct DhFixed {
  BIGNUM *peer, *x;
  DhFixed() {
    DH* other = OurGroup();
    DH_generate_key(other);
    peer = BN_dup(other->pub_key);
    DH_free(other);
    x = BN_bin2bn(Input(), 256, nullptr);
    BN_mask_bits(x, 2047);
    BN_set_bit(x, 2046);
  }
  ~DhFixed() {
    BN_free(peer);
    BN_clear_free(x);
  }
};

void CrossCheckDh() {
  DhFixed f;
  DH* dh = OurGroup();
  dh->priv_key = BN_dup(f.x);
  std::vector<uint8_t> ours(256);
  ours.resize(static_cast<size_t>(DH_compute_key(ours.data(), f.peer, dh)));
  gcry_mpi_t p = Gmpi(kDhP), x = Gmpi(f.x), y = Gmpi(f.peer), z = gcry_mpi_new(2048);
  gcry_mpi_powm(z, y, x, p);
  std::vector<uint8_t> theirs(256);
  size_t n = 0;
  gcry_mpi_print(GCRYMPI_FMT_USG, theirs.data(), theirs.size(), &n, z);
  theirs.resize(n);
  if (ours != theirs) Mismatch("dh-2048: shared secrets differ");
  for (gcry_mpi_t m : {p, x, y, z}) gcry_mpi_release(m);
  DH_free(dh);
}

void OursExchange(benchmark::State& state) {
  DhFixed f;
  DH* dh = OurGroup();
  unsigned char key[256];
  for (auto _ : state) {
    BN_clear_free(dh->priv_key);
    BN_free(dh->pub_key);
    dh->priv_key = dh->pub_key = nullptr;
    DH_generate_key(dh);
    benchmark::DoNotOptimize(DH_compute_key(key, f.peer, dh));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  DH_free(dh);
}
void OursCompute(benchmark::State& state) {
  DhFixed f;
  DH* dh = OurGroup();
  dh->priv_key = BN_dup(f.x);
  unsigned char key[256];
  for (auto _ : state) benchmark::DoNotOptimize(DH_compute_key(key, f.peer, dh));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  DH_free(dh);
}
void GcryExchange(benchmark::State& state) {
  DhFixed f;
  gcry_mpi_t p = Gmpi(kDhP), g = gcry_mpi_set_ui(nullptr, 2), peer = Gmpi(f.peer);
  gcry_mpi_t x = gcry_mpi_new(2048), y = gcry_mpi_new(2048), z = gcry_mpi_new(2048);
  for (auto _ : state) {
    gcry_mpi_randomize(x, 2047, GCRY_STRONG_RANDOM);
    gcry_mpi_set_highbit(x, 2046);
    gcry_mpi_powm(y, g, x, p);
    gcry_mpi_powm(z, peer, x, p);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  for (gcry_mpi_t m : {p, g, peer, x, y, z}) gcry_mpi_release(m);
}
void GcryCompute(benchmark::State& state) {
  DhFixed f;
  gcry_mpi_t p = Gmpi(kDhP), x = Gmpi(f.x), peer = Gmpi(f.peer), z = gcry_mpi_new(2048);
  for (auto _ : state) gcry_mpi_powm(z, peer, x, p);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  for (gcry_mpi_t m : {p, x, peer, z}) gcry_mpi_release(m);
}

}  // namespace

void RegisterDsaDh() {
  CrossCheckDsa();
  CrossCheckDh();
  benchmark::RegisterBenchmark("dsa-1024-sign/morvane", OursSign);
  benchmark::RegisterBenchmark("dsa-1024-sign/nettle", NettleSign);
  benchmark::RegisterBenchmark("dsa-1024-sign/libgcrypt", GcrySign);
  benchmark::RegisterBenchmark("dsa-1024-verify/morvane", OursVerify);
  benchmark::RegisterBenchmark("dsa-1024-verify/nettle", NettleVerify);
  benchmark::RegisterBenchmark("dsa-1024-verify/libgcrypt", GcryVerify);
  benchmark::RegisterBenchmark("dh-2048-exchange/morvane", OursExchange);
  benchmark::RegisterBenchmark("dh-2048-exchange/libgcrypt", GcryExchange);
  benchmark::RegisterBenchmark("dh-2048-compute/morvane", OursCompute);
  benchmark::RegisterBenchmark("dh-2048-compute/libgcrypt", GcryCompute);
}

}  // namespace bench
