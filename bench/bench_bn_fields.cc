// Big numbers over special moduli and prime generation: the NIST-prime
// reductions against BN_nnmod and GMP's mpz_mod of the same input (a number
// below p^2, as a field product is); GF(2^m) products, squares and inverses
// modulo the B-163, B-283 and B-571 polynomials (exponent arrays, as the
// curve code keeps them; no peer); and the generation of 1024- and 1536-bit
// primes against GMP's mpz_nextprime from a random start (informative: the
// figures vary with the draws, and the two test with different rounds).
// Names are "bn-<op>/<library>/<bits>"; each timed call is one operation.

#include <stdint.h>

#include <string>
#include <vector>

#include <gmp.h>

#include <morvane/bn.h>

#include "bench.h"

namespace bench {
namespace {

struct Nist {
  int bits;
  const BIGNUM* (*prime)();
  int (*reduce)(BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*);
};
constexpr Nist kNist[] = {{256, BN_get0_nist_prime_256, BN_nist_mod_256},
                          {384, BN_get0_nist_prime_384, BN_nist_mod_384}};

const Nist& NistOf(int bits) {
  return bits == 256 ? kNist[0] : kNist[1];
}

// a = the shared input below p^2, as big-endian bytes.
std::vector<uint8_t> Below(const Nist& n, BN_CTX* ctx) {
  BIGNUM* a = BN_bin2bn(Input(), 2 * n.bits / 8, nullptr);
  BIGNUM* sq = BN_new();
  BN_sqr(sq, n.prime(), ctx);
  BN_nnmod(a, a, sq, ctx);
  std::vector<uint8_t> out(static_cast<size_t>(BN_num_bytes(a)));
  BN_bn2bin(a, out.data());
  BN_free(a);
  BN_free(sq);
  return out;
}

std::vector<uint8_t> Bytes(const BIGNUM* a) {
  std::vector<uint8_t> out(static_cast<size_t>(BN_num_bytes(a)));
  BN_bn2bin(a, out.data());
  return out;
}

enum class Way { kNist, kNnmod };

void TimeNist(benchmark::State& state, Way way) {
  const Nist& n = NistOf(static_cast<int>(state.range(0)));
  BN_CTX* ctx = BN_CTX_new();
  const auto in = Below(n, ctx);
  BIGNUM *a = BN_bin2bn(in.data(), static_cast<int>(in.size()), nullptr), *r = BN_new();
  for (auto _ : state) {
    if (way == Way::kNist)
      n.reduce(r, a, n.prime(), ctx);
    else
      BN_nnmod(r, a, n.prime(), ctx);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  BN_free(a);
  BN_free(r);
  BN_CTX_free(ctx);
}

void TimeNistGmp(benchmark::State& state) {
  const Nist& n = NistOf(static_cast<int>(state.range(0)));
  BN_CTX* ctx = BN_CTX_new();
  const auto in = Below(n, ctx);
  const auto pb = Bytes(n.prime());
  BN_CTX_free(ctx);
  mpz_t a, p, r;
  mpz_inits(a, p, r, nullptr);
  mpz_import(a, in.size(), 1, 1, 1, 0, in.data());
  mpz_import(p, pb.size(), 1, 1, 1, 0, pb.data());
  for (auto _ : state) {
    mpz_mod(r, a, p);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  mpz_clears(a, p, r, nullptr);
}

void CheckNist() {
  BN_CTX* ctx = BN_CTX_new();
  for (const Nist& n : kNist) {
    const auto in = Below(n, ctx);
    BIGNUM *a = BN_bin2bn(in.data(), static_cast<int>(in.size()), nullptr), *r = BN_new();
    n.reduce(r, a, n.prime(), ctx);
    mpz_t x, p, m;
    mpz_inits(x, p, m, nullptr);
    const auto pb = Bytes(n.prime());
    mpz_import(x, in.size(), 1, 1, 1, 0, in.data());
    mpz_import(p, pb.size(), 1, 1, 1, 0, pb.data());
    mpz_mod(m, x, p);
    std::vector<uint8_t> want((mpz_sizeinbase(m, 2) + 7) / 8);
    size_t len = 0;
    mpz_export(want.data(), &len, 1, 1, 1, 0, m);
    want.resize(len);
    if (Bytes(r) != want)
      Mismatch("nist-mod/" + std::to_string(n.bits) + ": morvane and gmp differ");
    mpz_clears(x, p, m, nullptr);
    BN_free(a);
    BN_free(r);
  }
  BN_CTX_free(ctx);
}

// ---- GF(2^m) ----

const std::vector<unsigned>& Field(int m) {
  static const std::vector<unsigned> k163 = {163, 7, 6, 3, 0}, k283 = {283, 12, 7, 5, 0},
                                     k571 = {571, 10, 5, 2, 0};
  return m == 163 ? k163 : m == 283 ? k283 : k571;
}

enum class F2m { kMul, kSqr, kInv };

void TimeGf2m(benchmark::State& state, F2m op) {
  const int m = static_cast<int>(state.range(0));
  const auto& f = Field(m);
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *p = BN_new(), *a = BN_bin2bn(Input(), m / 8, nullptr),
         *b = BN_bin2bn(Input() + 128, m / 8, nullptr), *r = BN_new();
  BN_GF2m_arr2poly(f.data(), p);
  for (auto _ : state) {
    switch (op) {
      case F2m::kMul:
        BN_GF2m_mod_mul_arr(r, a, b, f.data(), ctx);
        break;
      case F2m::kSqr:
        BN_GF2m_mod_sqr_arr(r, a, f.data(), ctx);
        break;
      case F2m::kInv:
        BN_GF2m_mod_inv(r, a, p, ctx);
        break;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  for (BIGNUM* x : {p, a, b, r}) BN_free(x);
  BN_CTX_free(ctx);
}

// ---- prime generation ----

void TimePrime(benchmark::State& state) {
  BIGNUM* p = BN_new();
  for (auto _ : state)
    BN_generate_prime_ex(p, static_cast<int>(state.range(0)), 0, nullptr, nullptr, nullptr);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  BN_free(p);
}

void TimePrimeGmp(benchmark::State& state) {
  gmp_randstate_t rng;
  gmp_randinit_default(rng);
  gmp_randseed_ui(rng, 1);
  const auto bits = static_cast<mp_bitcnt_t>(state.range(0));
  mpz_t start, p;
  mpz_inits(start, p, nullptr);
  for (auto _ : state) {
    mpz_urandomb(start, rng, bits);
    mpz_setbit(start, bits - 1);
    mpz_setbit(start, bits - 2);
    mpz_nextprime(p, start);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  mpz_clears(start, p, nullptr);
  gmp_randclear(rng);
}

}  // namespace

void RegisterBnFields() {
  CheckNist();
  for (auto [name, way] : {std::pair{"bn-nist-mod/morvane", Way::kNist},
                           std::pair{"bn-nist-nnmod/morvane", Way::kNnmod}})
    benchmark::RegisterBenchmark(name, [way = way](benchmark::State& s) { TimeNist(s, way); })
        ->Arg(256)
        ->Arg(384);
  benchmark::RegisterBenchmark("bn-nist-mod/gmp", TimeNistGmp)->Arg(256)->Arg(384);
  for (auto [name, op] :
       {std::pair{"bn-gf2m-mul/morvane", F2m::kMul}, std::pair{"bn-gf2m-sqr/morvane", F2m::kSqr},
        std::pair{"bn-gf2m-inv/morvane", F2m::kInv}})
    benchmark::RegisterBenchmark(name, [op = op](benchmark::State& s) { TimeGf2m(s, op); })
        ->Arg(163)
        ->Arg(283)
        ->Arg(571);
  // Prime generation varies with the draws: each figure is a mean over 2 s.
  benchmark::RegisterBenchmark("bn-gen-prime/morvane", TimePrime)->Arg(1024)->Arg(1536)->MinTime(2);
  benchmark::RegisterBenchmark("bn-gen-prime/gmp", TimePrimeGmp)->Arg(1024)->Arg(1536)->MinTime(2);
}

}  // namespace bench
