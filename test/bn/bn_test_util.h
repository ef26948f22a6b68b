// Small helpers of the big-number suites: owning pointers, numbers from hex
// text and from words, a number shown as BN_bn2hex prints it, and the draw
// and hash shared with tools/gen_bn_vectors.py.
#ifndef MORVANE_TEST_BN_TEST_UTIL_H
#define MORVANE_TEST_BN_TEST_UTIL_H

#include <morvane/bn.h>
#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include "test_support.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bn_test {

struct BnFree {
  void operator()(BIGNUM* p) const { BN_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
struct CtxFree {
  void operator()(BN_CTX* p) const { BN_CTX_free(p); }
};
using Ctx = std::unique_ptr<BN_CTX, CtxFree>;

inline Bn Hex(const std::string& text) {
  BIGNUM* n = nullptr;
  EXPECT_EQ(BN_hex2bn(&n, text.c_str()), static_cast<int>(text.size())) << text;
  return Bn(n);
}

// Upper-case hex as BN_bn2hex prints it; "-0" for a negative zero.
inline std::string Show(const BIGNUM* n) {
  if (n->top == 0) return n->neg ? "-0" : "0";
  char* s = BN_bn2hex(n);
  std::string out(s);
  MORVANE_free(s);
  return out;
}

// A number over the caller's n words, marked borrowed (never grown or freed).
inline BIGNUM Borrowed(BN_ULONG* w, int n) {
  BIGNUM b;
  BN_init(&b);
  b.d = w;
  b.top = b.dmax = n;
  b.flags = BN_FLAG_BORROWED;
  return b;
}

inline std::vector<BN_ULONG> Words(const BIGNUM* n) {
  return {n->d, n->d + n->top};
}

struct SplitMix64 {
  // A constructor, so that SplitMix64 rng(seed) compiles where parenthesized
  // aggregate initialization does not (clang before 16).
  constexpr explicit SplitMix64(uint64_t seed) : state(seed) {}
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
};

inline Bn Make(const std::vector<uint32_t>& words, bool neg) {
  std::vector<uint8_t> be;
  for (size_t i = words.size(); i-- > 0;)
    for (int s = 24; s >= 0; s -= 8) be.push_back(static_cast<uint8_t>(words[i] >> s));
  Bn r(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr));
  BN_set_negative(r.get(), neg);
  return r;
}

// n words, biased towards the values that carry and borrow.
inline std::vector<uint32_t> DrawWords(SplitMix64& rng, uint64_t n) {
  std::vector<uint32_t> out;
  for (uint64_t i = 0; i < n; i++) {
    uint64_t r = rng.Next();
    const uint32_t fixed[4] = {0xFFFFFFFFu, 0, 1, 0x80000000u};
    out.push_back((r & 7) < 4 ? fixed[r & 7] : static_cast<uint32_t>(r >> 32));
  }
  return out;
}

struct Fnv {
  uint32_t h = 0x811C9DC5u;
  void Bytes(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 0x01000193u;
  }
  void Int(uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Bytes(b, 4);
  }
  void Num(const BIGNUM* a) {
    uint8_t neg = a->neg ? 1 : 0;
    Bytes(&neg, 1);
    Int(static_cast<uint32_t>(a->top));
    for (int i = 0; i < a->top; i++) Int(a->d[i]);
  }
  void Text(const char* t) { Bytes(reinterpret_cast<const uint8_t*>(t), strlen(t) + 1); }
};

// The products and modular operations by name, r = op(a, b, m) with the
// context and shift count below; the known answers and the differential test
// share them.
inline BN_CTX* g_ctx = nullptr;
inline int g_shift = 0;
using Op = int (*)(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m);
#define BN_TEST_OP(expr)                                           \
  [](BIGNUM* r, const BIGNUM* a, [[maybe_unused]] const BIGNUM* b, \
     [[maybe_unused]] const BIGNUM* m) -> int { return expr; }
// clang-format off
inline const std::map<std::string, Op> kOps = {
    {"mul", BN_TEST_OP(BN_mul(r, a, b, g_ctx))},
    {"sqr", BN_TEST_OP(BN_sqr(r, a, g_ctx))},
    {"div", BN_TEST_OP(BN_div(r, nullptr, a, b, g_ctx))},
    {"rem", BN_TEST_OP(BN_div(nullptr, r, a, b, g_ctx))},
    {"nnmod", BN_TEST_OP(BN_nnmod(r, a, b, g_ctx))},
    {"mod_add", BN_TEST_OP(BN_mod_add(r, a, b, m, g_ctx))},
    {"mod_sub", BN_TEST_OP(BN_mod_sub(r, a, b, m, g_ctx))},
    {"mod_mul", BN_TEST_OP(BN_mod_mul(r, a, b, m, g_ctx))},
    {"mod_sqr", BN_TEST_OP(BN_mod_sqr(r, a, m, g_ctx))},
    {"mod_lshift1", BN_TEST_OP(BN_mod_lshift1(r, a, m, g_ctx))},
    {"mod_lshift", BN_TEST_OP(BN_mod_lshift(r, a, g_shift, m, g_ctx))},
    {"mod_add_quick", BN_TEST_OP(BN_mod_add_quick(r, a, b, m))},
    {"mod_sub_quick", BN_TEST_OP(BN_mod_sub_quick(r, a, b, m))},
    {"mod_lshift1_quick", BN_TEST_OP(BN_mod_lshift1_quick(r, a, m))},
    {"mod_lshift_quick", BN_TEST_OP(BN_mod_lshift_quick(r, a, g_shift, m))},
    {"mod_mul_reciprocal", [](BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m) {
       BN_RECP_CTX recp;  // N = m
       BN_RECP_CTX_init(&recp);
       const int ok = BN_RECP_CTX_set(&recp, m, g_ctx) && BN_mod_mul_reciprocal(r, a, b, &recp, g_ctx);
       BN_RECP_CTX_free(&recp);
       return ok;
     }},
    {"gcd", BN_TEST_OP(BN_gcd(r, a, b, g_ctx))},
    {"mod_inverse", BN_TEST_OP(BN_mod_inverse(r, a, m, g_ctx) != nullptr)},
    {"mod_sqrt", BN_TEST_OP(BN_mod_sqrt(r, a, m, g_ctx) != nullptr)},
    {"exp", BN_TEST_OP(BN_exp(r, a, b, g_ctx))},
    {"mod_exp", BN_TEST_OP(BN_mod_exp(r, a, b, m, g_ctx))},
    {"mod_exp_mont", BN_TEST_OP(BN_mod_exp_mont(r, a, b, m, g_ctx, nullptr))},
    {"mod_exp_mont_consttime", BN_TEST_OP(BN_mod_exp_mont_consttime(r, a, b, m, g_ctx, nullptr))},
    {"mod_exp_word_base", BN_TEST_OP(BN_mod_exp_mont_word(r, BN_get_word(a), b, m, g_ctx, nullptr))},
    {"mod_exp_recp", BN_TEST_OP(BN_mod_exp_recp(r, a, b, m, g_ctx))},
    {"mod_exp_simple", BN_TEST_OP(BN_mod_exp_simple(r, a, b, m, g_ctx))},
    // r = a^b b^a mod m: two bases and two exponents from two operands.
    {"mod_exp2_mont", BN_TEST_OP(BN_mod_exp2_mont(r, a, b, b, a, m, g_ctx, nullptr))},
};
// clang-format on

// The records of a file written by tools/gen_bn_vectors.py: the first holds
// the seed (which starts rng) and the count of cases that follow.
inline std::vector<morvane_test::RspRecord> ReadCases(const std::string& file, SplitMix64& rng) {
  auto records = morvane_test::ReadRsp(morvane_test::TestDataFile(file));
  EXPECT_GT(records.size(), 1u);
  if (records.empty()) return records;
  rng.state = std::stoull(records[0].Get("seed"), nullptr, 16);
  EXPECT_EQ(records.size(), std::stoul(records[0].Get("count")) + 1);
  records.erase(records.begin());
  return records;
}

}  // namespace bn_test

#endif  // MORVANE_TEST_BN_TEST_UTIL_H
