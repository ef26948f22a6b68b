// Groups with a subgroup of prime order q for the Diffie-Hellman suites:
// the example of FIPS 186-2, Appendix 5 (test/data/dsa/fips186_2.txt), a
// group made by DSA_generate_parameters_ex, and a group with a 256-bit q
// (q and then p = 1 mod 2q from BN_generate_prime_ex, g = 2^((p - 1) / q)),
// each turned into DH parameters by DSA_dup_DH, which copies q and sets the
// private length to bits(q); and the 2048-bit MODP group of RFC 3526,
// section 3 (test/data/dh/rfc3526.txt), a safe prime, with q = (p - 1) / 2,
// the order of g = 2 (p = 7 mod 8 makes 2 a square).  The generated groups
// come from a deterministic random method, so every run sees the same ones.
#ifndef MORVANE_TEST_DH_DH_GROUPS_H
#define MORVANE_TEST_DH_DH_GROUPS_H

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>

#include "dsa_test_util.h"
#include "pk_test_util.h"
#include "test_support.h"

namespace dh_groups {

struct Group {
  std::string name;
  pk_test::Dsa dsa;  // the parameters, for DSA_dup_DH; null for the safe prime
  int priv_bits;     // bits of a private value DH_generate_key draws
  int q_bits;
};

inline pk_test::Dsa GeneratedDsa(int bits, uint64_t random_seed) {
  pk_test::DeterministicRandom rnd(random_seed);
  pk_test::Dsa dsa(DSA_new());
  EXPECT_EQ(1, DSA_generate_parameters_ex(dsa.get(), bits, nullptr, 0, nullptr, nullptr, nullptr));
  return dsa;
}

// q of q_bits bits, p of p_bits bits with p = 1 mod 2q, g = 2^((p - 1) / q).
inline pk_test::Dsa BuiltDsa(int p_bits, int q_bits, uint64_t random_seed) {
  pk_test::DeterministicRandom rnd(random_seed);
  pk_test::Dsa dsa(DSA_new());
  dsa->q = BN_new();
  dsa->p = BN_new();
  dsa->g = BN_new();
  pk_test::Bn two_q(BN_new()), p1(BN_new()), e(BN_new()), two(BN_new());
  EXPECT_EQ(1, BN_generate_prime_ex(dsa->q, q_bits, 0, nullptr, nullptr, nullptr));
  EXPECT_TRUE(BN_lshift1(two_q.get(), dsa->q));
  EXPECT_EQ(1, BN_generate_prime_ex(dsa->p, p_bits, 0, two_q.get(), nullptr, nullptr));
  EXPECT_TRUE(BN_sub(p1.get(), dsa->p, BN_value_one()));
  EXPECT_TRUE(BN_div(e.get(), nullptr, p1.get(), dsa->q, pk_test::Ctx()));
  EXPECT_TRUE(BN_set_word(two.get(), 2));
  EXPECT_EQ(1, BN_mod_exp(dsa->g, two.get(), e.get(), dsa->p, pk_test::Ctx()));
  EXPECT_FALSE(BN_is_one(dsa->g));
  return dsa;
}

// The groups, made once per process.
inline const std::vector<Group>& Groups() {
  static const std::vector<Group> groups = [] {
    std::vector<Group> g;
    g.push_back({"FIPS 186-2 example (512/160)", dsa_test::Fips186Key(false), 160, 160});
    g.push_back({"DSA_generate_parameters_ex (1024/160)", GeneratedDsa(1024, 7), 160, 160});
    g.push_back({"built (2048/256)", BuiltDsa(2048, 256, 8), 256, 256});
    g.push_back({"RFC 3526 2048-bit MODP, q = (p - 1) / 2", nullptr, 2047, 2047});
    return g;
  }();
  return groups;
}

// A party's parameters in `group`, with q or without it.
inline pk_test::Dh Party(const Group& group, bool with_q) {
  pk_test::Dh dh;
  if (group.dsa != nullptr) {
    dh.reset(DSA_dup_DH(group.dsa.get()));
  } else {
    const auto recs = morvane_test::ReadRsp(morvane_test::TestDataFile("dh/rfc3526.txt"));
    EXPECT_EQ(1u, recs.size());
    dh.reset(DH_new());
    dh->p = pk_test::Hex(recs.at(0).Get("p"));
    dh->g = pk_test::Hex(recs.at(0).Get("g"));
    dh->q = BN_dup(dh->p);
    EXPECT_TRUE(BN_rshift1(dh->q, dh->q));
  }
  if (!with_q) {
    BN_free(dh->q);
    dh->q = nullptr;
  }
  return dh;
}

}  // namespace dh_groups

#endif  // MORVANE_TEST_DH_DH_GROUPS_H
