// Elliptic curves over GF(2^m): k G and k P (P a fixed point, k random below
// the order) through EC_POINT_mul (the fixed-length Montgomery ladder) and
// through ec_wNAF_mul (windowed NAFs over BIGNUM arithmetic), and ECDSA sign
// and verify of a SHA-256 digest, on sect233k1, sect233r1, sect283k1 and
// sect283r1.  Names are "ec2-mul-g-<curve>/<who>", "ec2-mul-p-<curve>/<who>",
// "ec2-ecdsa-sign-<curve>/morvane" and "ec2-ecdsa-verify-<curve>/morvane";
// one call per timed iteration.  Before anything is timed, the ladder and the
// windowed NAFs must give the same points and the signature must verify.
//
// Registered from a static initialiser (this program is not the library).

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include <benchmark/benchmark.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>

namespace {

struct CurveInfo {
  const char* name;
  int nid;
};

constexpr CurveInfo kCurves[] = {
    {"sect233k1", 726}, {"sect233r1", 727}, {"sect283k1", 729}, {"sect283r1", 730}};

void Die(const std::string& what) {
  fprintf(stderr, "bench_ec2: %s\n", what.c_str());
  abort();
}

struct Setup {
  EC_GROUP* group;
  EC_KEY* key;
  EC_POINT* p;
  EC_POINT* r;
  BIGNUM* k;
  BN_CTX* ctx;
  unsigned char md[32];
};

Setup* Get(const CurveInfo& c) {
  static Setup* made[4] = {};
  const size_t i = static_cast<size_t>(&c - kCurves);
  if (made[i] != nullptr) return made[i];
  Setup* s = new Setup();
  s->ctx = BN_CTX_new();
  s->group = EC_GROUP_new_by_curve_name(c.nid);
  s->key = EC_KEY_new_by_curve_name(c.nid);
  if (s->group == nullptr || s->key == nullptr || !EC_KEY_generate_key(s->key))
    Die(std::string("no key on ") + c.name);
  BIGNUM* order = BN_new();
  s->k = BN_new();
  EC_GROUP_get_order(s->group, order, s->ctx);
  BN_rand_range(s->k, order);
  s->p = EC_POINT_new(s->group);
  s->r = EC_POINT_new(s->group);
  BIGNUM* seven = BN_new();
  BN_set_word(seven, 7);
  EC_POINT_mul(s->group, s->p, seven, nullptr, nullptr, s->ctx);
  for (unsigned j = 0; j < sizeof s->md; j++) s->md[j] = static_cast<unsigned char>(j * 37 + 1);
  // The ladder and the windowed NAFs agree; the signature verifies.
  EC_POINT* w = EC_POINT_new(s->group);
  const EC_POINT* pts[1] = {s->p};
  const BIGNUM* ks[1] = {s->k};
  if (!EC_POINT_mul(s->group, s->r, nullptr, s->p, s->k, s->ctx) ||
      !ec_wNAF_mul(s->group, w, nullptr, 1, pts, ks, s->ctx) ||
      EC_POINT_cmp(s->group, s->r, w, s->ctx) != 0)
    Die(std::string("k P differs on ") + c.name);
  ECDSA_SIG* sig = ECDSA_do_sign(s->md, sizeof s->md, s->key);
  if (sig == nullptr || ECDSA_do_verify(s->md, sizeof s->md, sig, s->key) != 1)
    Die(std::string("ECDSA fails on ") + c.name);
  ECDSA_SIG_free(sig);
  EC_POINT_free(w);
  BN_free(seven);
  BN_free(order);
  made[i] = s;
  return s;
}

void MulG(benchmark::State& state, const CurveInfo* c, bool wnaf) {
  Setup* s = Get(*c);
  for (auto _ : state) {
    const int ok = wnaf ? ec_wNAF_mul(s->group, s->r, s->k, 0, nullptr, nullptr, s->ctx)
                        : EC_POINT_mul(s->group, s->r, s->k, nullptr, nullptr, s->ctx);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void MulP(benchmark::State& state, const CurveInfo* c, bool wnaf) {
  Setup* s = Get(*c);
  const EC_POINT* pts[1] = {s->p};
  const BIGNUM* ks[1] = {s->k};
  for (auto _ : state) {
    const int ok = wnaf ? ec_wNAF_mul(s->group, s->r, nullptr, 1, pts, ks, s->ctx)
                        : EC_POINT_mul(s->group, s->r, nullptr, s->p, s->k, s->ctx);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void Sign(benchmark::State& state, const CurveInfo* c) {
  Setup* s = Get(*c);
  for (auto _ : state) {
    ECDSA_SIG* sig = ECDSA_do_sign(s->md, sizeof s->md, s->key);
    benchmark::DoNotOptimize(sig);
    ECDSA_SIG_free(sig);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void Verify(benchmark::State& state, const CurveInfo* c) {
  Setup* s = Get(*c);
  ECDSA_SIG* sig = ECDSA_do_sign(s->md, sizeof s->md, s->key);
  for (auto _ : state) {
    const int ok = ECDSA_do_verify(s->md, sizeof s->md, sig, s->key);
    benchmark::DoNotOptimize(ok);
  }
  ECDSA_SIG_free(sig);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

int Register() {
  for (const CurveInfo& c : kCurves) {
    const std::string n = c.name;
    benchmark::RegisterBenchmark(("ec2-mul-g-" + n + "/morvane").c_str(), MulG, &c, false);
    benchmark::RegisterBenchmark(("ec2-mul-g-" + n + "/morvane-wnaf").c_str(), MulG, &c, true);
    benchmark::RegisterBenchmark(("ec2-mul-p-" + n + "/morvane").c_str(), MulP, &c, false);
    benchmark::RegisterBenchmark(("ec2-mul-p-" + n + "/morvane-wnaf").c_str(), MulP, &c, true);
    benchmark::RegisterBenchmark(("ec2-ecdsa-sign-" + n + "/morvane").c_str(), Sign, &c);
    benchmark::RegisterBenchmark(("ec2-ecdsa-verify-" + n + "/morvane").c_str(), Verify, &c);
  }
  return 0;
}

const int kRegistered = Register();

}  // namespace
