// Big-number products and division in Morvane and GMP: BN_mul, BN_sqr and
// BN_div (plain, and with BN_FLAG_SECRET set: the constant-time form) against
// mpz_mul and mpz_tdiv_qr, at operand sizes of 256 to 4096 bits.  The
// division takes a numerator of twice the divisor's bits, as a modular
// reduction does.  Names are "bn-<op>/<library>/<bits>"; each timed call is
// one operation.
//
// The exponentiations take an odd modulus m of the given bits, a base below
// it and an exponent as wide as the modulus: every BN_mod_exp_* form (the
// constant-time one with the exponent flagged secret), BN_mod_mul_montgomery
// on Montgomery-form operands, and GMP's mpz_powm and mpz_powm_sec.  The
// reciprocal and plain forms stop at 2048 bits.

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include <gmp.h>

#include <morvane/bn.h>

#include "bench.h"

namespace bench {
namespace {

constexpr int kBits[] = {256, 512, 1024, 2048, 4096};

// Operands from the shared pseudo-random input, top bit set so that every
// number has exactly its nominal length: a and b of `bits` bits, n of 2 *
// bits (big-endian bytes, the same in both libraries).
struct Operands {
  std::vector<uint8_t> a, b, n;
  explicit Operands(int bits) {
    const size_t len = static_cast<size_t>(bits) / 8;
    const uint8_t* in = Input();
    a.assign(in, in + len);
    b.assign(in + len, in + 2 * len);
    n.assign(in + 2 * len, in + 4 * len);
    a[0] |= 0x80;
    b[0] |= 0x80;
    n[0] |= 0x80;
  }
};

BIGNUM* Bn(const std::vector<uint8_t>& v) {
  return BN_bin2bn(v.data(), static_cast<int>(v.size()), nullptr);
}
void Mpz(mpz_t r, const std::vector<uint8_t>& v) {
  mpz_init(r);
  mpz_import(r, v.size(), 1, 1, 1, 0, v.data());
}
std::vector<uint8_t> Bytes(const BIGNUM* a) {
  std::vector<uint8_t> out(static_cast<size_t>(BN_num_bytes(a)));
  BN_bn2bin(a, out.data());
  return out;
}
std::vector<uint8_t> Bytes(const mpz_t a) {
  std::vector<uint8_t> out((mpz_sizeinbase(a, 2) + 7) / 8);
  size_t n = 0;
  mpz_export(out.data(), &n, 1, 1, 1, 0, a);
  out.resize(n);
  return out;
}

enum class Op { kMul, kSqr, kDiv, kDivSecret };

// One operation in Morvane; `run(out, check)` with check set returns the
// result bytes (the quotient, then the remainder, for a division).
struct Ours {
  BIGNUM *a, *b, *n, *q, *r;
  BN_CTX* ctx;
  Ours(const Operands& o, bool secret)
      : a(Bn(o.a)), b(Bn(o.b)), n(Bn(o.n)), q(BN_new()), r(BN_new()), ctx(BN_CTX_new()) {
    if (secret) {
      BN_set_flags(n, BN_FLAG_SECRET);
      BN_set_flags(b, BN_FLAG_SECRET);
    }
  }
  ~Ours() {
    for (BIGNUM* x : {a, b, n, q, r}) BN_free(x);
    BN_CTX_free(ctx);
  }
  void run(Op op) {
    switch (op) {
      case Op::kMul:
        BN_mul(r, a, b, ctx);
        break;
      case Op::kSqr:
        BN_sqr(r, a, ctx);
        break;
      default:
        BN_div(q, r, n, b, ctx);
        break;
    }
  }
};

struct Theirs {
  mpz_t a, b, n, q, r;
  Theirs(const Operands& o, bool /*secret*/) {
    Mpz(a, o.a);
    Mpz(b, o.b);
    Mpz(n, o.n);
    mpz_init(q);
    mpz_init(r);
  }
  ~Theirs() {
    for (mpz_ptr x : {a, b, n, q, r}) mpz_clear(x);
  }
  void run(Op op) {
    switch (op) {
      case Op::kMul:
        mpz_mul(r, a, b);
        break;
      case Op::kSqr:
        mpz_mul(r, a, a);
        break;
      default:
        mpz_tdiv_qr(q, r, n, b);
        break;
    }
  }
};

// The operands of state.range(0) bits, then the timed calls of `op`.
template <class Lib, class Inputs, class Kind, class... Extra>
void Time(benchmark::State& state, Kind op, Extra... extra) {
  const Inputs o(static_cast<int>(state.range(0)));
  Lib lib(o, extra...);
  for (auto _ : state) {
    lib.run(op);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void Register(const std::string& name, Op op) {
  const bool secret = op == Op::kDivSecret;
  for (int bits : kBits) {
    const Operands o(bits);
    Ours ours(o, secret);
    Theirs theirs(o, false);
    ours.run(op);
    theirs.run(op);
    const bool div = op == Op::kDiv || op == Op::kDivSecret;
    if (Bytes(ours.r) != Bytes(theirs.r) || (div && Bytes(ours.q) != Bytes(theirs.q)))
      Mismatch(name + "/" + std::to_string(bits) + ": morvane and gmp differ");
  }
  auto* mine = benchmark::RegisterBenchmark(
      ("bn-" + name + "/morvane").c_str(),
      [op, secret](benchmark::State& s) { Time<Ours, Operands>(s, op, secret); });
  for (int bits : kBits) mine->Arg(bits);
  if (secret) return;  // GMP has no constant-time division to compare with
  auto* gmp = benchmark::RegisterBenchmark(
      ("bn-" + name + "/gmp").c_str(),
      [op](benchmark::State& s) { Time<Theirs, Operands>(s, op, false); });
  for (int bits : kBits) gmp->Arg(bits);
}

// The exponentiations.  Operands from the shared input: m (odd, top bit
// set), a and a2 (below m), p and p2 (top bit set), each `bits` wide.
enum class Exp { kMont, kConsttime, kRecp, kSimple, kExp2, kWord, kMontMul };

constexpr BN_ULONG kWordBase = 2;

struct ExpOperands {
  std::vector<uint8_t> m, a, p, a2, p2;
  explicit ExpOperands(int bits) {
    const size_t len = static_cast<size_t>(bits) / 8;
    const uint8_t* in = Input();
    for (auto* v : {&m, &a, &p, &a2, &p2}) {
      v->assign(in, in + len);
      in += len;
    }
    m[0] |= 0x80;
    m[len - 1] |= 1;
    a[0] &= 0x7f;
    a2[0] &= 0x7f;
    p[0] |= 0x80;
    p2[0] |= 0x80;
  }
};

struct OursExp {
  BIGNUM *m, *a, *p, *a2, *p2, *r, *am, *bm;
  BN_CTX* ctx;
  BN_MONT_CTX* mont;
  explicit OursExp(const ExpOperands& o)
      : m(Bn(o.m)),
        a(Bn(o.a)),
        p(Bn(o.p)),
        a2(Bn(o.a2)),
        p2(Bn(o.p2)),
        r(BN_new()),
        am(BN_new()),
        bm(BN_new()),
        ctx(BN_CTX_new()),
        mont(BN_MONT_CTX_new()) {
    BN_MONT_CTX_set(mont, m, ctx);
    BN_mod_mul_montgomery(am, a, &mont->RR, mont, ctx);
    BN_mod_mul_montgomery(bm, a2, &mont->RR, mont, ctx);
  }
  ~OursExp() {
    for (BIGNUM* x : {m, a, p, a2, p2, r, am, bm}) BN_free(x);
    BN_MONT_CTX_free(mont);
    BN_CTX_free(ctx);
  }
  // The Montgomery context is prepared once, as a key caches it.
  void run(Exp op) {
    switch (op) {
      case Exp::kMont:
        BN_mod_exp_mont(r, a, p, m, ctx, mont);
        break;
      case Exp::kConsttime:
        BN_set_flags(p, BN_FLAG_SECRET);
        BN_mod_exp_mont_consttime(r, a, p, m, ctx, mont);
        BN_set_flags(p, 0);
        break;
      case Exp::kRecp:
        BN_mod_exp_recp(r, a, p, m, ctx);
        break;
      case Exp::kSimple:
        BN_mod_exp_simple(r, a, p, m, ctx);
        break;
      case Exp::kExp2:
        BN_mod_exp2_mont(r, a, p, a2, p2, m, ctx, mont);
        break;
      case Exp::kWord:
        BN_mod_exp_mont_word(r, kWordBase, p, m, ctx, mont);
        break;
      case Exp::kMontMul:
        BN_mod_mul_montgomery(r, am, bm, mont, ctx);
        break;
    }
  }
};

// GMP: the same values, mpz_powm (mpz_powm_sec for the constant-time form).
struct TheirsExp {
  mpz_t m, a, p, a2, p2, r, t;
  explicit TheirsExp(const ExpOperands& o) {
    const std::vector<uint8_t>* from[] = {&o.m, &o.a, &o.p, &o.a2, &o.p2};
    mpz_ptr to[] = {m, a, p, a2, p2};
    for (size_t i = 0; i < 5; i++) Mpz(to[i], *from[i]);
    mpz_inits(r, t, nullptr);
  }
  ~TheirsExp() {
    for (mpz_ptr x : {m, a, p, a2, p2, r, t}) mpz_clear(x);
  }
  void run(Exp op) {
    switch (op) {
      case Exp::kConsttime:
        mpz_powm_sec(r, a, p, m);
        break;
      case Exp::kExp2:
        mpz_powm(r, a, p, m);
        mpz_powm(t, a2, p2, m);
        mpz_mul(r, r, t);
        mpz_mod(r, r, m);
        break;
      case Exp::kWord:
        mpz_set_ui(t, kWordBase);
        mpz_powm(r, t, p, m);
        break;
      case Exp::kMontMul:  // (a R)(a2 R) R^-1 = a a2 R mod m, R = 2^bits: the check only
        mpz_mul(r, a, a2);
        mpz_mul_2exp(r, r, mpz_sizeinbase(m, 2));
        mpz_mod(r, r, m);
        break;
      default:
        mpz_powm(r, a, p, m);
        break;
    }
  }
};

// The GMP row is timed for the forms GMP has (`gmp` set).
void RegisterExp(const std::string& name, Exp op, int max_bits, bool gmp) {
  for (int bits : kBits) {
    if (bits > max_bits) continue;
    const ExpOperands o(bits);
    OursExp ours(o);
    TheirsExp theirs(o);
    ours.run(op);
    theirs.run(op);
    if (Bytes(ours.r) != Bytes(theirs.r))
      Mismatch(name + "/" + std::to_string(bits) + ": morvane and gmp differ");
  }
  auto* mine = benchmark::RegisterBenchmark(
      ("bn-" + name + "/morvane").c_str(),
      [op](benchmark::State& s) { Time<OursExp, ExpOperands>(s, op); });
  for (int bits : kBits)
    if (bits <= max_bits) mine->Arg(bits);
  if (!gmp) return;
  auto* theirs = benchmark::RegisterBenchmark(
      ("bn-" + name + "/gmp").c_str(),
      [op](benchmark::State& s) { Time<TheirsExp, ExpOperands>(s, op); });
  for (int bits : kBits)
    if (bits <= max_bits) theirs->Arg(bits);
}

}  // namespace

void RegisterBn() {
  Register("mul", Op::kMul);
  Register("sqr", Op::kSqr);
  Register("div", Op::kDiv);
  Register("div-secret", Op::kDivSecret);
  RegisterExp("exp-mont", Exp::kMont, 4096, true);
  RegisterExp("exp-consttime", Exp::kConsttime, 4096, true);
  RegisterExp("exp-recp", Exp::kRecp, 2048, false);
  RegisterExp("exp-simple", Exp::kSimple, 2048, false);
  RegisterExp("exp2-mont", Exp::kExp2, 4096, true);
  RegisterExp("exp-word", Exp::kWord, 4096, true);
  RegisterExp("mont-mul", Exp::kMontMul, 4096, false);
}

}  // namespace bench
