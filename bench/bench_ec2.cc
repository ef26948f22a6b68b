// Elliptic curves over GF(2^m) on sect233k1, sect233r1, sect283k1 and
// sect283r1: k G and k P (P a fixed point, k random below the order) through
// EC_POINT_mul (the fixed-length Montgomery ladder) and through ec_wNAF_mul
// (windowed NAFs over BIGNUM arithmetic); and ECDSA sign and verify with
// SHA-256 and ECDH against Crypto++ (ECDSA<EC2N, SHA256> and ECDH<EC2N>, the
// one peer with binary curves, on the same key).  Names are
// "ec2-mul-g-<curve>/<who>", "ec2-mul-p-<curve>/<who>",
// "ec2-ecdsa-sign-<curve>/<who>", "ec2-ecdsa-verify-<curve>/<who>" and
// "ec2-ecdh-<curve>/<who>", <who> "morvane" or "cryptopp"; one call per timed
// iteration, the signing and verifying ones hashing a 32-byte message on both
// sides.  Before anything is timed, the ladder and the windowed NAFs must
// give the same points, each side's signature must verify on the other
// side, Crypto++'s public point must equal ours and the shared x must agree.
//
// Registered from a static initialiser (this program is not the library).

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/sha.h>

#include "ec2_cryptopp.h"

namespace {

using bench_ec2::CppSide;

struct CurveInfo {
  const char* name;
  int nid;
};

constexpr CurveInfo kCurves[] = {
    {"sect233k1", 726}, {"sect233r1", 727}, {"sect283k1", 729}, {"sect283r1", 730}};

[[noreturn]] void Die(const std::string& what) {
  fprintf(stderr, "bench_ec2: %s\n", what.c_str());
  abort();
}

std::vector<unsigned char> Bytes(const BIGNUM* b, size_t len) {
  std::vector<unsigned char> out(len);
  const size_t n = static_cast<size_t>(BN_num_bytes(b));
  if (n > len) Die("number too long");
  BN_bn2bin(b, out.data() + (len - n));
  return out;
}

std::vector<unsigned char> Octets(const EC_GROUP* g, const EC_POINT* p, BN_CTX* ctx) {
  std::vector<unsigned char> out(
      EC_POINT_point2oct(g, p, POINT_CONVERSION_UNCOMPRESSED, nullptr, 0, ctx));
  if (out.empty() || EC_POINT_point2oct(g, p, POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(),
                                        ctx) != out.size())
    Die("point2oct");
  return out;
}

struct Setup {
  EC_GROUP* group;
  EC_KEY* key;
  EC_KEY* peer;
  EC_POINT* p;
  EC_POINT* r;
  BIGNUM* k;
  BN_CTX* ctx;
  unsigned char msg[32];
  ECDSA_SIG* sig;                      // ours, over SHA-256(msg)
  std::vector<unsigned char> cpp_sig;  // Crypto++'s, r || s
  CppSide* cpp;
};

// Morvane's signature as r || s of `half` bytes each, and back.
std::vector<unsigned char> RawOf(const ECDSA_SIG* sig, size_t half) {
  std::vector<unsigned char> r = Bytes(sig->r, half), s = Bytes(sig->s, half);
  r.insert(r.end(), s.begin(), s.end());
  return r;
}

ECDSA_SIG* SigOf(const std::vector<unsigned char>& raw) {
  ECDSA_SIG* sig = ECDSA_SIG_new();
  const int half = static_cast<int>(raw.size() / 2);
  if (sig == nullptr || BN_bin2bn(raw.data(), half, sig->r) == nullptr ||
      BN_bin2bn(raw.data() + half, half, sig->s) == nullptr)
    Die("ECDSA_SIG");
  return sig;
}

Setup* Get(const CurveInfo& c) {
  static Setup* made[4] = {};
  const size_t i = static_cast<size_t>(&c - kCurves);
  if (made[i] != nullptr) return made[i];
  const std::string name = c.name;
  Setup* s = new Setup();
  s->ctx = BN_CTX_new();
  s->group = EC_GROUP_new_by_curve_name(c.nid);
  s->key = EC_KEY_new_by_curve_name(c.nid);
  s->peer = EC_KEY_new_by_curve_name(c.nid);
  if (s->group == nullptr || s->key == nullptr || s->peer == nullptr ||
      !EC_KEY_generate_key(s->key) || !EC_KEY_generate_key(s->peer))
    Die("no key on " + name);
  BIGNUM* order = BN_new();
  s->k = BN_new();
  EC_GROUP_get_order(s->group, order, s->ctx);
  BN_rand_range(s->k, order);
  s->p = EC_POINT_new(s->group);
  s->r = EC_POINT_new(s->group);
  BIGNUM* seven = BN_new();
  BN_set_word(seven, 7);
  EC_POINT_mul(s->group, s->p, seven, nullptr, nullptr, s->ctx);
  for (unsigned j = 0; j < sizeof s->msg; j++) s->msg[j] = static_cast<unsigned char>(j * 37 + 1);
  unsigned char md[32];
  SHA256(s->msg, sizeof s->msg, md);

  // The ladder and the windowed NAFs agree.
  EC_POINT* w = EC_POINT_new(s->group);
  const EC_POINT* pts[1] = {s->p};
  const BIGNUM* ks[1] = {s->k};
  if (!EC_POINT_mul(s->group, s->r, nullptr, s->p, s->k, s->ctx) ||
      !ec_wNAF_mul(s->group, w, nullptr, 1, pts, ks, s->ctx) ||
      EC_POINT_cmp(s->group, s->r, w, s->ctx) != 0)
    Die("k P differs on " + name);

  // Crypto++ on the same private key; its public point is ours.
  const size_t half = static_cast<size_t>(BN_num_bytes(order));
  const std::vector<unsigned char> d = Bytes(EC_KEY_get0_private_key(s->key), half);
  const std::vector<unsigned char> q = Octets(s->group, EC_KEY_get0_public_key(s->key), s->ctx);
  const std::vector<unsigned char> peer = Octets(s->group, EC_KEY_get0_public_key(s->peer), s->ctx);
  s->cpp = bench_ec2::CppMake(c.name, d.data(), d.size(), peer.data(), peer.size());
  if (s->cpp == nullptr) Die("Crypto++ refuses the key on " + name);
  std::vector<unsigned char> cq(q.size());
  bench_ec2::CppPublicPoint(s->cpp, cq.data(), cq.size());
  if (cq != q) Die("Crypto++'s public point differs on " + name);

  // Each signature verifies on the other side.
  s->sig = ECDSA_do_sign(md, sizeof md, s->key);
  if (s->sig == nullptr || ECDSA_do_verify(md, sizeof md, s->sig, s->key) != 1)
    Die("ECDSA fails on " + name);
  const std::vector<unsigned char> ours = RawOf(s->sig, half);
  if (!bench_ec2::CppVerify(s->cpp, s->msg, sizeof s->msg, ours.data(), ours.size()))
    Die("Crypto++ refuses our signature on " + name);
  s->cpp_sig.resize(bench_ec2::CppSignatureLength(s->cpp));
  s->cpp_sig.resize(bench_ec2::CppSign(s->cpp, s->msg, sizeof s->msg, s->cpp_sig.data()));
  if (s->cpp_sig.size() != 2 * half) Die("Crypto++'s signature length on " + name);
  ECDSA_SIG* theirs = SigOf(s->cpp_sig);
  if (ECDSA_do_verify(md, sizeof md, theirs, s->key) != 1)
    Die("we refuse Crypto++'s signature on " + name);
  ECDSA_SIG_free(theirs);

  // The shared x agrees.
  std::vector<unsigned char> z1(half + 8), z2(half + 8);
  const int n1 =
      ECDH_compute_key(z1.data(), z1.size(), EC_KEY_get0_public_key(s->peer), s->key, nullptr);
  const size_t n2 = bench_ec2::CppAgree(s->cpp, z2.data());
  if (n1 <= 0 || static_cast<size_t>(n1) != n2 || memcmp(z1.data(), z2.data(), n2) != 0)
    Die("the shared secrets differ on " + name);

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

enum class Op { kSign, kVerify, kEcdh };

void Run(benchmark::State& state, const CurveInfo* c, Op op, bool cryptopp) {
  Setup* s = Get(*c);
  std::vector<unsigned char> buf(256);
  const EC_POINT* peer = EC_KEY_get0_public_key(s->peer);
  for (auto _ : state) {
    bool ok = true;
    if (cryptopp) {
      if (op == Op::kSign) {
        ok = bench_ec2::CppSign(s->cpp, s->msg, sizeof s->msg, buf.data()) != 0;
      } else if (op == Op::kVerify) {
        ok = bench_ec2::CppVerify(s->cpp, s->msg, sizeof s->msg, s->cpp_sig.data(),
                                  s->cpp_sig.size());
      } else {
        ok = bench_ec2::CppAgree(s->cpp, buf.data()) != 0;
      }
    } else {
      unsigned char md[32];
      if (op == Op::kSign) {
        SHA256(s->msg, sizeof s->msg, md);
        ECDSA_SIG* sig = ECDSA_do_sign(md, sizeof md, s->key);
        ok = sig != nullptr;
        ECDSA_SIG_free(sig);
      } else if (op == Op::kVerify) {
        SHA256(s->msg, sizeof s->msg, md);
        ok = ECDSA_do_verify(md, sizeof md, s->sig, s->key) == 1;
      } else {
        ok = ECDH_compute_key(buf.data(), buf.size(), peer, s->key, nullptr) > 0;
      }
    }
    if (!ok) Die("operation failed");
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

int Register() {
  const std::pair<Op, const char*> ops[] = {
      {Op::kSign, "ec2-ecdsa-sign-"}, {Op::kVerify, "ec2-ecdsa-verify-"}, {Op::kEcdh, "ec2-ecdh-"}};
  for (const CurveInfo& c : kCurves) {
    const std::string n = c.name;
    benchmark::RegisterBenchmark(("ec2-mul-g-" + n + "/morvane").c_str(), MulG, &c, false);
    benchmark::RegisterBenchmark(("ec2-mul-g-" + n + "/morvane-wnaf").c_str(), MulG, &c, true);
    benchmark::RegisterBenchmark(("ec2-mul-p-" + n + "/morvane").c_str(), MulP, &c, false);
    benchmark::RegisterBenchmark(("ec2-mul-p-" + n + "/morvane-wnaf").c_str(), MulP, &c, true);
    for (const auto& [op, prefix] : ops) {
      benchmark::RegisterBenchmark((prefix + n + "/morvane").c_str(), Run, &c, op, false);
      benchmark::RegisterBenchmark((prefix + n + "/cryptopp").c_str(), Run, &c, op, true);
    }
  }
  return 0;
}

const int kRegistered = Register();

}  // namespace
