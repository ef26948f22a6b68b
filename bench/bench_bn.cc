// Big-number products and division in Morvane and GMP: BN_mul, BN_sqr and
// BN_div (plain, and with BN_FLAG_SECRET set: the constant-time form) against
// mpz_mul and mpz_tdiv_qr, and the products also against the low-level
// mpn_mul_n and mpn_sqr ("gmp-mpn"), at operand sizes of 256 to 4096 bits.  The
// division takes a numerator of twice the divisor's bits, as a modular
// reduction does.  Names are "bn-<op>/<library>/<bits>"; each timed call is
// one operation.
//
// The exponentiations take an odd modulus m of the given bits (256 to 4096,
// 3072 included), a base below it and an exponent as wide as the modulus:
// every BN_mod_exp_* form (the constant-time one with the exponent flagged
// secret), BN_mod_mul_montgomery on Montgomery-form operands against GMP's
// mpz_mul + mpz_mod of the same operands, and GMP's mpz_powm and
// mpz_powm_sec.  The reciprocal and plain forms stop at 2048 bits.  Last, an
// RSA-2048 private operation by the Chinese remainder theorem (two 1024-bit
// constant-time powers and the recombination) in both libraries.

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include <gmp.h>

#include <morvane/bn.h>

#include "bench.h"

namespace bench {
namespace {

constexpr int kBits[] = {256, 512, 1024, 2048, 3072, 4096};
constexpr int kExpBits[] = {256, 512, 1024, 2048, 3072, 4096};

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

// GMP's low-level products, as the row kernels compare with: mpn_mul_n and
// mpn_sqr on limb vectors of the operands' size (no allocation, no sign).
struct TheirsMpn {
  std::vector<mp_limb_t> a, b, r;
  TheirsMpn(const Operands& o, bool /*secret*/) {
    mpz_t x, y;
    Mpz(x, o.a);
    Mpz(y, o.b);
    a.assign(static_cast<size_t>(mpz_size(x)), 0);
    b.assign(a.size(), 0);
    for (size_t i = 0; i < a.size(); i++) {
      a[i] = mpz_getlimbn(x, static_cast<mp_size_t>(i));
      b[i] = mpz_getlimbn(y, static_cast<mp_size_t>(i));
    }
    r.assign(2 * a.size(), 0);
    mpz_clear(x);
    mpz_clear(y);
  }
  void run(Op op) {
    const auto n = static_cast<mp_size_t>(a.size());
    if (op == Op::kSqr)
      mpn_sqr(r.data(), a.data(), n);
    else
      mpn_mul_n(r.data(), a.data(), b.data(), n);
  }
  std::vector<uint8_t> Result() const {
    mpz_t x;
    mpz_init(x);
    mpz_import(x, r.size(), -1, sizeof(mp_limb_t), 0, 0, r.data());
    std::vector<uint8_t> out = Bytes(x);
    mpz_clear(x);
    return out;
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
  const bool product = op == Op::kMul || op == Op::kSqr;
  for (int bits : kBits) {
    if (!product) break;
    const Operands o(bits);
    Ours ours(o, false);
    TheirsMpn mpn(o, false);
    ours.run(op);
    mpn.run(op);
    if (Bytes(ours.r) != mpn.Result())
      Mismatch(name + "/" + std::to_string(bits) + ": morvane and gmp's mpn differ");
  }
  auto* mine = benchmark::RegisterBenchmark(
      ("bn-" + name + "/morvane").c_str(),
      [op, secret](benchmark::State& s) { Time<Ours, Operands>(s, op, secret); });
  for (int bits : kBits) mine->Arg(bits);
  if (product) {
    auto* mpn = benchmark::RegisterBenchmark(
        ("bn-" + name + "/gmp-mpn").c_str(),
        [op](benchmark::State& s) { Time<TheirsMpn, Operands>(s, op, false); });
    for (int bits : kBits) mpn->Arg(bits);
  }
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
  mpz_t m, a, p, a2, p2, r, t, am, bm;
  explicit TheirsExp(const ExpOperands& o) {
    const std::vector<uint8_t>* from[] = {&o.m, &o.a, &o.p, &o.a2, &o.p2};
    mpz_ptr to[] = {m, a, p, a2, p2};
    for (size_t i = 0; i < 5; i++) Mpz(to[i], *from[i]);
    mpz_inits(r, t, am, bm, nullptr);
    // The Montgomery forms a R and a2 R (R = 2^bits), as OursExp has them.
    mpz_mul_2exp(am, a, mpz_sizeinbase(m, 2));
    mpz_mod(am, am, m);
    mpz_mul_2exp(bm, a2, mpz_sizeinbase(m, 2));
    mpz_mod(bm, bm, m);
  }
  ~TheirsExp() {
    for (mpz_ptr x : {m, a, p, a2, p2, r, t, am, bm}) mpz_clear(x);
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
      case Exp::kMontMul:  // (a R)(a2 R) mod m: R times the Montgomery product
        mpz_mul(t, am, bm);
        mpz_mod(r, t, m);
        break;
      default:
        mpz_powm(r, a, p, m);
        break;
    }
  }
};

// The GMP row is timed for the forms GMP has (`gmp` set).
void RegisterExp(const std::string& name, Exp op, int max_bits, bool gmp) {
  for (int bits : kExpBits) {
    if (bits > max_bits) continue;
    const ExpOperands o(bits);
    OursExp ours(o);
    TheirsExp theirs(o);
    ours.run(op);
    theirs.run(op);
    if (op == Exp::kMontMul) {  // ours is theirs R^-1: compare ours R mod m
      mpz_t x;
      Mpz(x, Bytes(ours.r));
      mpz_mul_2exp(x, x, mpz_sizeinbase(theirs.m, 2));
      mpz_mod(x, x, theirs.m);
      if (mpz_cmp(x, theirs.r) != 0)
        Mismatch(name + "/" + std::to_string(bits) + ": morvane and gmp differ");
      mpz_clear(x);
      continue;
    }
    if (Bytes(ours.r) != Bytes(theirs.r))
      Mismatch(name + "/" + std::to_string(bits) + ": morvane and gmp differ");
  }
  auto* mine = benchmark::RegisterBenchmark(
      ("bn-" + name + "/morvane").c_str(),
      [op](benchmark::State& s) { Time<OursExp, ExpOperands>(s, op); });
  for (int bits : kExpBits)
    if (bits <= max_bits) mine->Arg(bits);
  if (!gmp) return;
  auto* theirs = benchmark::RegisterBenchmark(
      ("bn-" + name + "/gmp").c_str(),
      [op](benchmark::State& s) { Time<TheirsExp, ExpOperands>(s, op); });
  for (int bits : kExpBits)
    if (bits <= max_bits) theirs->Arg(bits);
}


// An RSA-2048 private operation by the Chinese remainder theorem on primes p
// and q of 1024 bits (RFC 8017, 5.1.2, 2.b): m1 = c^dP mod p, m2 = c^dQ mod
// q, h = qInv (m1 - m2) mod p, m = m2 + q h.  The primes come from GMP's
// mpz_nextprime over the shared input; the exponents are full size.
struct CrtKey {
  mpz_t p, q, dp, dq, qinv, c;
  CrtKey() {
    mpz_inits(p, q, dp, dq, qinv, c, nullptr);
    const uint8_t* in = Input();
    mpz_ptr to[] = {p, q, dp, dq, c};
    for (mpz_ptr x : to) {
      mpz_import(x, 128, 1, 1, 1, 0, in);
      in += 128;
    }
    mpz_setbit(p, 1023);
    mpz_setbit(q, 1023);
    mpz_nextprime(p, p);
    mpz_nextprime(q, q);
    mpz_setbit(dp, 1021);  // below p - 1 and q - 1, full size
    mpz_setbit(dq, 1021);
    mpz_clrbit(dp, 1023);
    mpz_clrbit(dq, 1023);
    mpz_invert(qinv, q, p);
    mpz_mul(c, p, q);  // c below n
    mpz_sub_ui(c, c, 12345);
  }
  ~CrtKey() {
    for (mpz_ptr x : {p, q, dp, dq, qinv, c}) mpz_clear(x);
  }
};

BIGNUM* Bn(const mpz_t x) { return Bn(Bytes(x)); }

struct OursCrt {
  BIGNUM *p, *q, *dp, *dq, *qinv, *c, *m1, *m2, *h;
  BN_CTX* ctx;
  BN_MONT_CTX *mp, *mq;
  explicit OursCrt(const CrtKey& k)
      : p(Bn(k.p)), q(Bn(k.q)), dp(Bn(k.dp)), dq(Bn(k.dq)), qinv(Bn(k.qinv)), c(Bn(k.c)),
        m1(BN_new()), m2(BN_new()), h(BN_new()), ctx(BN_CTX_new()), mp(BN_MONT_CTX_new()),
        mq(BN_MONT_CTX_new()) {
    for (BIGNUM* x : {p, q, dp, dq}) BN_set_flags(x, BN_FLAG_SECRET);
    BN_MONT_CTX_set(mp, p, ctx);  // cached with the key
    BN_MONT_CTX_set(mq, q, ctx);
  }
  ~OursCrt() {
    for (BIGNUM* x : {p, q, dp, dq, qinv, c, m1, m2, h}) BN_free(x);
    BN_MONT_CTX_free(mp);
    BN_MONT_CTX_free(mq);
    BN_CTX_free(ctx);
  }
  void run() {
    BN_nnmod(h, c, p, ctx);
    BN_mod_exp_mont_consttime(m1, h, dp, p, ctx, mp);
    BN_nnmod(h, c, q, ctx);
    BN_mod_exp_mont_consttime(m2, h, dq, q, ctx, mq);
    BN_sub(m1, m1, m2);
    BN_mod_mul(h, m1, qinv, p, ctx);
    BN_mul(m1, h, q, ctx);
    BN_add(m1, m1, m2);
  }
};

struct TheirsCrt {
  mpz_t m1, m2, h;
  const CrtKey& k;
  explicit TheirsCrt(const CrtKey& key) : k(key) { mpz_inits(m1, m2, h, nullptr); }
  ~TheirsCrt() {
    for (mpz_ptr x : {m1, m2, h}) mpz_clear(x);
  }
  void run() {
    mpz_mod(h, k.c, k.p);
    mpz_powm_sec(m1, h, k.dp, k.p);
    mpz_mod(h, k.c, k.q);
    mpz_powm_sec(m2, h, k.dq, k.q);
    mpz_sub(m1, m1, m2);
    mpz_mul(h, m1, k.qinv);
    mpz_mod(h, h, k.p);
    mpz_mul(m1, h, k.q);
    mpz_add(m1, m1, m2);
  }
};

template <class Lib>
void TimeCrt(benchmark::State& state) {
  static const CrtKey key;  // once: the primes take a moment
  Lib lib(key);
  for (auto _ : state) {
    lib.run();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void RegisterCrt() {
  const CrtKey key;
  OursCrt ours(key);
  TheirsCrt theirs(key);
  ours.run();
  theirs.run();
  if (Bytes(ours.m1) != Bytes(theirs.m1)) Mismatch("rsa-crt/2048: morvane and gmp differ");
  // The argument names the modulus size in the table; it is not read.
  benchmark::RegisterBenchmark("bn-rsa-crt/morvane", TimeCrt<OursCrt>)->Arg(2048);
  benchmark::RegisterBenchmark("bn-rsa-crt/gmp", TimeCrt<TheirsCrt>)->Arg(2048);
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
  RegisterExp("mont-mul", Exp::kMontMul, 4096, true);
  RegisterCrt();
}

}  // namespace bench
