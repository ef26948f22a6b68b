// PKCS#1 v1.5 signatures over a SHA-256 digest at 2048, 3072 and 4096 bits (the
// test keys of test/data/rsa/keys.txt, e = 65537) in Morvane (RSA_sign and
// RSA_verify, blinding and the check of the CRT result kept), Nettle
// (rsa_sha256_sign_digest_tr, which blinds too, and rsa_sha256_verify_digest)
// and libgcrypt (gcry_pk_sign and gcry_pk_verify with PKCS#1 v1.5 data).
// Before anything is timed, Nettle's signature must equal Morvane's and
// libgcrypt must accept it.  Names are "rsa-sign/<library>/<bits>" and
// "rsa-verify/<library>/<bits>".

#include <gmp.h>
#include <nettle/knuth-lfib.h>
#include <nettle/rsa.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/rsa.h>

#include "bench.h"
#include "rsa_key_file.h"

namespace bench {
namespace {

constexpr int kSha256 = 672;

// The hex of a number (upper case, as BN_bn2hex writes it).
std::string Hex(const BIGNUM* b) {
  char* h = BN_bn2hex(b);
  std::string s(h);
  CRYPTO_free(h);
  return s;
}

// One key in the three libraries' forms.
struct Keys {
  RSA* ours = nullptr;
  rsa_public_key nettle_pub;
  rsa_private_key nettle_priv;
  gcry_sexp_t gcry_priv = nullptr, gcry_pub = nullptr;
  std::vector<uint8_t> digest;
  gcry_sexp_t gcry_data = nullptr;
};

Keys* Load(int bits) {
  auto* k = new Keys;
  k->ours = rsa_test::LoadKeyFile(MORVANE_BENCH_TEST_DATA_DIR "/rsa/keys.txt", bits);
  if (k->ours == nullptr) Mismatch("no test key of " + std::to_string(bits) + " bits");
  const RSA* r = k->ours;
  rsa_public_key_init(&k->nettle_pub);
  rsa_private_key_init(&k->nettle_priv);
  mpz_set_str(k->nettle_pub.n, Hex(r->n).c_str(), 16);
  mpz_set_str(k->nettle_pub.e, Hex(r->e).c_str(), 16);
  mpz_set_str(k->nettle_priv.d, Hex(r->d).c_str(), 16);
  mpz_set_str(k->nettle_priv.p, Hex(r->p).c_str(), 16);
  mpz_set_str(k->nettle_priv.q, Hex(r->q).c_str(), 16);
  mpz_set_str(k->nettle_priv.a, Hex(r->dmp1).c_str(), 16);
  mpz_set_str(k->nettle_priv.b, Hex(r->dmq1).c_str(), 16);
  mpz_set_str(k->nettle_priv.c, Hex(r->iqmp).c_str(), 16);
  if (!rsa_public_key_prepare(&k->nettle_pub) || !rsa_private_key_prepare(&k->nettle_priv))
    Mismatch("Nettle refuses the key");
  // libgcrypt wants p < q and u = p^-1 mod q: our q, our p and our iqmp.
  auto mpi = [](const BIGNUM* b) {
    gcry_mpi_t m = nullptr;
    gcry_mpi_scan(&m, GCRYMPI_FMT_HEX, Hex(b).c_str(), 0, nullptr);
    return m;
  };
  gcry_mpi_t n = mpi(r->n), e = mpi(r->e), d = mpi(r->d), p = mpi(r->q), q = mpi(r->p),
             u = mpi(r->iqmp);
  if (gcry_sexp_build(&k->gcry_priv, nullptr,
                      "(private-key (rsa (n %m) (e %m) (d %m) (p %m) (q %m) (u %m)))", n, e, d, p,
                      q, u) != 0 ||
      gcry_sexp_build(&k->gcry_pub, nullptr, "(public-key (rsa (n %m) (e %m)))", n, e) != 0)
    Mismatch("libgcrypt refuses the key");
  for (gcry_mpi_t m : {n, e, d, p, q, u}) gcry_mpi_release(m);
  k->digest.assign(Input(), Input() + 32);
  if (gcry_sexp_build(&k->gcry_data, nullptr, "(data (flags pkcs1) (hash sha256 %b))", 32,
                      k->digest.data()) != 0)
    Mismatch("libgcrypt refuses the data");
  return k;
}

// Our signature, checked against Nettle's and by libgcrypt.
std::vector<uint8_t> CrossCheck(Keys* k) {
  std::vector<uint8_t> sig(static_cast<size_t>(RSA_size(k->ours)));
  unsigned int len = 0;
  if (RSA_sign(kSha256, k->digest.data(), 32, sig.data(), &len, k->ours) != 1)
    Mismatch("RSA_sign failed");
  knuth_lfib_ctx lfib;
  knuth_lfib_init(&lfib, 7);
  mpz_t s;
  mpz_init(s);
  if (!rsa_sha256_sign_digest_tr(&k->nettle_pub, &k->nettle_priv, &lfib,
                                 reinterpret_cast<nettle_random_func*>(knuth_lfib_random),
                                 k->digest.data(), s))
    Mismatch("Nettle signing failed");
  std::vector<uint8_t> theirs(sig.size());
  size_t count = 0;
  mpz_export(theirs.data() + sig.size() - (mpz_sizeinbase(s, 2) + 7) / 8, &count, 1, 1, 1, 0, s);
  mpz_clear(s);
  if (theirs != sig) Mismatch("rsa-sign: Morvane and Nettle differ");
  gcry_sexp_t gsig = nullptr;
  gcry_sexp_build(&gsig, nullptr, "(sig-val (rsa (s %b)))", static_cast<int>(sig.size()),
                  sig.data());
  if (gcry_pk_verify(gsig, k->gcry_data, k->gcry_pub) != 0)
    Mismatch("rsa-sign: libgcrypt refuses Morvane's signature");
  gcry_sexp_release(gsig);
  return sig;
}

void Register(int bits) {
  Keys* k = Load(bits);  // kept for the life of the program
  const std::vector<uint8_t> sig = CrossCheck(k);
  // The key size as a name suffix ("/2048").
  const auto name = [bits](const char* stem) { return std::string(stem) + '/' + std::to_string(bits); };
  benchmark::RegisterBenchmark(name("rsa-sign/morvane").c_str(), [k](benchmark::State& st) {
    std::vector<uint8_t> out(static_cast<size_t>(RSA_size(k->ours)));
    unsigned int len = 0;
    for (auto _ : st) {
      RSA_sign(kSha256, k->digest.data(), 32, out.data(), &len, k->ours);
      benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
  });
  benchmark::RegisterBenchmark(name("rsa-sign/nettle").c_str(), [k](benchmark::State& st) {
    knuth_lfib_ctx lfib;
    knuth_lfib_init(&lfib, 7);
    mpz_t s;
    mpz_init(s);
    for (auto _ : st) {
      rsa_sha256_sign_digest_tr(&k->nettle_pub, &k->nettle_priv, &lfib,
                                reinterpret_cast<nettle_random_func*>(knuth_lfib_random),
                                k->digest.data(), s);
      benchmark::ClobberMemory();
    }
    mpz_clear(s);
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
  });
  benchmark::RegisterBenchmark(name("rsa-sign/libgcrypt").c_str(), [k](benchmark::State& st) {
    for (auto _ : st) {
      gcry_sexp_t out = nullptr;
      gcry_pk_sign(&out, k->gcry_data, k->gcry_priv);
      gcry_sexp_release(out);
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
  });
  benchmark::RegisterBenchmark(name("rsa-verify/morvane").c_str(), [k, sig](benchmark::State& st) {
    for (auto _ : st) {
      benchmark::DoNotOptimize(RSA_verify(kSha256, k->digest.data(), 32, sig.data(),
                                          static_cast<unsigned>(sig.size()), k->ours));
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
  });
  benchmark::RegisterBenchmark(name("rsa-verify/nettle").c_str(), [k, sig](benchmark::State& st) {
    mpz_t s;
    mpz_init(s);
    mpz_import(s, sig.size(), 1, 1, 1, 0, sig.data());
    for (auto _ : st) {
      benchmark::DoNotOptimize(rsa_sha256_verify_digest(&k->nettle_pub, k->digest.data(), s));
    }
    mpz_clear(s);
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
  });
  benchmark::RegisterBenchmark(
      name("rsa-verify/libgcrypt").c_str(), [k, sig](benchmark::State& st) {
        gcry_sexp_t gsig = nullptr;
        gcry_sexp_build(&gsig, nullptr, "(sig-val (rsa (s %b)))", static_cast<int>(sig.size()),
                        sig.data());
        for (auto _ : st) {
          benchmark::DoNotOptimize(gcry_pk_verify(gsig, k->gcry_data, k->gcry_pub));
        }
        gcry_sexp_release(gsig);
        st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
      });
}

}  // namespace

void RegisterRsaSign() {
  for (int bits : {2048, 3072, 4096}) Register(bits);
  // Key generation, for information.
  benchmark::RegisterBenchmark("rsa-keygen/morvane/2048",
                               [](benchmark::State& st) {
                                 BIGNUM* e = BN_new();
                                 BN_set_word(e, 65537);
                                 for (auto _ : st) {
                                   RSA* r = RSA_new();
                                   RSA_generate_key_ex(r, 2048, e, nullptr);
                                   RSA_free(r);
                                 }
                                 BN_free(e);
                                 st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
                               })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(10);
}

}  // namespace bench
