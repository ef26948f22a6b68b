// Big-number products and division in Morvane and GMP: BN_mul, BN_sqr and
// BN_div (plain, and with BN_FLAG_SECRET set: the constant-time form) against
// mpz_mul and mpz_tdiv_qr, at operand sizes of 256 to 4096 bits.  The
// division takes a numerator of twice the divisor's bits, as a modular
// reduction does.  Names are "bn-<op>/<library>/<bits>"; each timed call is
// one operation.

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

template <class Lib>
void Time(benchmark::State& state, Op op, bool secret) {
  const Operands o(static_cast<int>(state.range(0)));
  Lib lib(o, secret);
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
      [op, secret](benchmark::State& s) { Time<Ours>(s, op, secret); });
  for (int bits : kBits) mine->Arg(bits);
  if (secret) return;  // GMP has no constant-time division to compare with
  auto* gmp = benchmark::RegisterBenchmark(
      ("bn-" + name + "/gmp").c_str(), [op](benchmark::State& s) { Time<Theirs>(s, op, false); });
  for (int bits : kBits) gmp->Arg(bits);
}

}  // namespace

void RegisterBn() {
  Register("mul", Op::kMul);
  Register("sqr", Op::kSqr);
  Register("div", Op::kDiv);
  Register("div-secret", Op::kDivSecret);
}

}  // namespace bench
