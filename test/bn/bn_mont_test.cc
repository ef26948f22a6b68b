// Montgomery contexts (n0, the shared context under a lock, the sign of a
// zero result) and the RSA decryption primitive: NIST's RSADP component
// vectors (SP 800-56B) and the Wycheproof RSA private keys (RFC 8017, 3.2).

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "bn_test_util.h"
#include "test_support.h"

namespace {

using namespace bn_test;

struct MontFree {
  void operator()(BN_MONT_CTX* p) const { BN_MONT_CTX_free(p); }
};
using Mont = std::unique_ptr<BN_MONT_CTX, MontFree>;

TEST(BnMont, ContextOfAModulusEndingInOne) {
  Ctx ctx(BN_CTX_new());
  Mont mont(BN_MONT_CTX_new());
  Bn mod = Hex("1234567800000001");
  ASSERT_EQ(BN_MONT_CTX_set(mont.get(), mod.get(), ctx.get()), 1);
  EXPECT_EQ(mont->n0, 0xFFFFFFFFu);
  EXPECT_EQ(mont->ri, 64);
  EXPECT_EQ(mont->Ni.top, 0);
  EXPECT_EQ(Show(&mont->RR), Show(Hex("04C3B41877FFFCCE").get()));  // 2^128 mod N
  Mont copy(BN_MONT_CTX_new());
  ASSERT_EQ(BN_MONT_CTX_copy(copy.get(), mont.get()), copy.get());
  EXPECT_EQ(copy->n0, mont->n0);
  EXPECT_EQ(copy->flags, BN_FLAG_HEAP);
}

TEST(BnMont, ZeroAndEvenModuliAreRefused) {
  Ctx ctx(BN_CTX_new());
  Mont mont(BN_MONT_CTX_new());
  EXPECT_EQ(BN_MONT_CTX_set(mont.get(), Hex("0").get(), ctx.get()), 0);
  EXPECT_EQ(BN_MONT_CTX_set(mont.get(), Hex("100").get(), ctx.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_DIV, BN_R_DIV_BY_ZERO},
                 {ERR_LIB_BN, BN_F_BN_MOD_INVERSE, BN_R_NO_INVERSE}});
}

// A zero result is non-negative, whatever a's sign.
TEST(BnMont, ZeroFromANegativeNumberIsNotNegative) {
  Ctx ctx(BN_CTX_new());
  Mont mont(BN_MONT_CTX_new());
  Bn n = Hex("1F1"), a = Hex("-1F1"), r(BN_new());
  ASSERT_EQ(BN_MONT_CTX_set(mont.get(), n.get(), ctx.get()), 1);
  ASSERT_EQ(BN_from_montgomery(r.get(), a.get(), mont.get(), ctx.get()), 1);
  EXPECT_EQ(Show(r.get()), "0");
  ASSERT_EQ(BN_mod_mul_montgomery(r.get(), a.get(), Hex("0").get(), mont.get(), ctx.get()), 1);
  EXPECT_EQ(Show(r.get()), "0");
}

// A secret modulus makes a secret N and RR, and a copy keeps that.
TEST(BnMont, ContextOfASecretModulusIsSecret) {
  Ctx ctx(BN_CTX_new());
  Mont mont(BN_MONT_CTX_new()), copy(BN_MONT_CTX_new());
  Bn mod = Hex("F123456789ABCDEF1"), rr(BN_new());
  ASSERT_EQ(BN_MONT_CTX_set(mont.get(), mod.get(), ctx.get()), 1);
  BN_copy(rr.get(), &mont->RR);
  EXPECT_FALSE(BN_get_flags(&mont->N, BN_FLAG_SECRET));
  BN_set_flags(mod.get(), BN_FLAG_SECRET);
  ASSERT_EQ(BN_MONT_CTX_set(mont.get(), mod.get(), ctx.get()), 1);
  ASSERT_EQ(BN_MONT_CTX_copy(copy.get(), mont.get()), copy.get());
  for (BN_MONT_CTX* m : {mont.get(), copy.get()}) {
    EXPECT_TRUE(BN_get_flags(&m->N, BN_FLAG_SECRET));
    EXPECT_TRUE(BN_get_flags(&m->RR, BN_FLAG_SECRET));
    EXPECT_EQ(Show(&m->RR), Show(rr.get()));
  }
}

// a R^-1 mod N below N for inputs at or above N R too (the reduction needs
// a < N R; larger ones are reduced first).  R = 2^32 for a one-word N.
TEST(BnMont, InputsAtOrAboveNRAreReducedFirst) {
  struct Case {
    const char *n, *a, *b, *want;  // want = a (b) R^-1 mod N; b empty: BN_from_montgomery
  };
  constexpr Case kCases[] = {
      {"3", "FFFFFFFFFFFFFFFF", "", "0"},
      {"3", "FFFFFFFF", "FFFFFFFF", "0"},
      {"3", "300000001", "", "01"},          // N R + 1
      {"3", "2FFFFFFFF", "", "02"},          // N R - 1
      {"5", "-FFFFFFFFFFFFFFFF", "", "0"},   // 2^64 - 1 = 0 mod 5
      {"7", "-FFFFFFFFFFFFFFFF", "", "-02"},  // -(1 * 2^-32) = -(1 * 2) mod 7
  };
  Ctx ctx(BN_CTX_new());
  for (const Case& c : kCases) {
    Mont mont(BN_MONT_CTX_new());
    Bn n = Hex(c.n), a = Hex(c.a), r(BN_new());
    ASSERT_EQ(BN_MONT_CTX_set(mont.get(), n.get(), ctx.get()), 1);
    if (*c.b == 0) {
      ASSERT_EQ(BN_from_montgomery(r.get(), a.get(), mont.get(), ctx.get()), 1);
    } else {
      ASSERT_EQ(BN_mod_mul_montgomery(r.get(), a.get(), Hex(c.b).get(), mont.get(), ctx.get()), 1);
    }
    EXPECT_EQ(Show(r.get()), c.want) << c.n << " " << c.a << " " << c.b;
  }
}

// A factor whose exponent is 0 is 1, even when its base is 0 (mod m).
TEST(BnMont, TwoPowersWithAZeroExponentOnAZeroBase) {
  Ctx ctx(BN_CTX_new());
  Bn two = Hex("2"), three = Hex("3"), zero = Hex("0"), eleven = Hex("B"), r(BN_new());
  Bn m = Hex("B");
  ASSERT_EQ(BN_mod_exp2_mont(r.get(), two.get(), three.get(), zero.get(), zero.get(), m.get(),
                             ctx.get(), nullptr), 1);
  EXPECT_EQ(Show(r.get()), "08");
  ASSERT_EQ(BN_mod_exp2_mont(r.get(), eleven.get(), zero.get(), two.get(), three.get(), m.get(),
                             ctx.get(), nullptr), 1);
  EXPECT_EQ(Show(r.get()), "08");
  ASSERT_EQ(BN_mod_exp2_mont(r.get(), zero.get(), three.get(), two.get(), zero.get(), m.get(),
                             ctx.get(), nullptr), 1);
  EXPECT_EQ(Show(r.get()), "0");
}

// A table of more than INT_MAX bytes is refused before the allocation (whose
// size is an int): a context of 15.6 million words with 6-bit windows.
TEST(BnMont, ConstantTimeTablePastIntMaxIsAMallocFailure) {
  Ctx ctx(BN_CTX_new());
  Mont mont(BN_MONT_CTX_new());
  constexpr int kWords = 15600000;
  ASSERT_NE(bn_expand2(&mont->N, kWords), nullptr);
  mont->N.d[0] = mont->N.d[kWords - 1] = 1;
  mont->N.top = kWords;
  Bn m = Hex("3"), a = Hex("2"), p(BN_new()), r(BN_new());
  ASSERT_EQ(BN_set_bit(p.get(), 1000), 1);
  BN_set_flags(p.get(), BN_FLAG_SECRET);
  EXPECT_EQ(BN_mod_exp_mont_consttime(r.get(), a.get(), p.get(), m.get(), ctx.get(), mont.get()),
            0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_MOD_EXP_MONT_CONSTTIME, ERR_R_MALLOC_FAILURE}});
}

// A context that cannot be allocated is a malloc failure on the queue, also
// for a caller that makes one for a shared slot (which stays empty).
TEST(BnMont, ContextThatCannotBeAllocatedIsAMallocFailure) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Ctx ctx(BN_CTX_new());
  Bn m = Hex("1F1");
  const morvane_test::ErrEntry failure = {ERR_LIB_BN, BN_F_BN_MONT_CTX_NEW, ERR_R_MALLOC_FAILURE};
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BN_MONT_CTX_new(), nullptr);
  EXPECT_ERRORS({failure});
  BN_MONT_CTX* slot = nullptr;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BN_MONT_CTX_set_locked(&slot, CRYPTO_LOCK_RSA, m.get(), ctx.get()), nullptr);
  EXPECT_EQ(slot, nullptr);
  EXPECT_ERRORS({failure});
  morvane_test::FailAllocationAfter(0);
}

TEST(BnMont, TwoThreadsOnOneEmptySlotCreateOneContext) {
  morvane_test::InstallLockingCallback();
  Bn mod = Hex("F123456789ABCDEF1");
  BN_MONT_CTX* slot = nullptr;
  BN_MONT_CTX* seen[2] = {};
  morvane_test::StartRecordingLocks();
  auto run = [&](int i) {
    Ctx ctx(BN_CTX_new());
    seen[i] = BN_MONT_CTX_set_locked(&slot, CRYPTO_LOCK_RSA, mod.get(), ctx.get());
  };
  std::thread t0(run, 0), t1(run, 1);
  t0.join();
  t1.join();
  const auto events = morvane_test::StopRecordingLocks({CRYPTO_LOCK_RSA});
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(seen[0], slot);
  EXPECT_EQ(seen[1], slot);
  ASSERT_GE(events.size(), 4u);
  // Each thread first checks the slot under the read lock (both may hold it
  // at once, so their events interleave); a context is installed under the
  // write lock; every lock is released.
  const auto count = [&](const auto& e) { return std::count(events.begin(), events.end(), e); };
  EXPECT_EQ(events[0], morvane_test::ReadLock(CRYPTO_LOCK_RSA));
  EXPECT_EQ(count(morvane_test::ReadLock(CRYPTO_LOCK_RSA)), 2);
  EXPECT_EQ(count(morvane_test::ReadUnlock(CRYPTO_LOCK_RSA)), 2);
  EXPECT_GE(count(morvane_test::WriteLock(CRYPTO_LOCK_RSA)), 1);
  EXPECT_EQ(count(morvane_test::WriteLock(CRYPTO_LOCK_RSA)),
            count(morvane_test::WriteUnlock(CRYPTO_LOCK_RSA)));
  const auto first_write =
      std::find(events.begin(), events.end(), morvane_test::WriteLock(CRYPTO_LOCK_RSA));
  EXPECT_NE(std::find(events.begin(), first_write, morvane_test::ReadUnlock(CRYPTO_LOCK_RSA)),
            first_write);  // a reader found the slot empty before anyone wrote
  BN_MONT_CTX_free(slot);
}

// k = c^d mod n, d secret through the constant-time form and plain through
// the dispatcher, for every case marked Pass (NIST SP 800-56B RSADP).
TEST(BnMont, RsaDecryptionPrimitiveVectors) {
  MORVANE_VECTOR_PATH_OR_SKIP(
      path, "nist-cavp/components/RSADPtestvectors/RSADPComponent800_56B.txt");
  Ctx ctx(BN_CTX_new());
  int passes = 0;
  for (const auto& t : morvane_test::ReadRsp(path)) {
    if (!t.Has("Result") || t.Get("Result") != "Pass") continue;
    Bn n = Hex(t.Get("n")), d = Hex(t.Get("d")), c = Hex(t.Get("c")), k1(BN_new()), k2(BN_new());
    BN_set_flags(d.get(), BN_FLAG_SECRET);
    ASSERT_EQ(BN_mod_exp_mont_consttime(k1.get(), c.get(), d.get(), n.get(), ctx.get(), nullptr), 1);
    d->flags &= ~BN_FLAG_SECRET;
    ASSERT_EQ(BN_mod_exp(k2.get(), c.get(), d.get(), n.get(), ctx.get()), 1);
    EXPECT_EQ(Show(k1.get()), Show(Hex(t.Get("k")).get()));
    EXPECT_EQ(Show(k2.get()), Show(k1.get()));
    passes++;
  }
  EXPECT_EQ(passes, 40);
}

// p q = n, d mod (p - 1) = dP, d mod (q - 1) = dQ and q^-1 mod p = qInv for
// the private keys of the Wycheproof RSA files (RFC 8017, 3.2).
TEST(BnMont, WycheproofPrivateKeysAreConsistent) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "wycheproof");
  std::set<std::string> files, keys;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with("rsa_oaep_") || name == "rsa_pkcs1_2048_test.json" ||
        name == "rsa_pkcs1_3072_test.json" || name == "rsa_pkcs1_4096_test.json")
      files.insert(e.path().string());
  }
  Ctx ctx(BN_CTX_new());
  BN_CTX* c = ctx.get();
  for (const auto& path : files) {
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      auto key = [&](const char* f) { return Hex(t.Get(std::string("privateKey.") + f)); };
      if (!keys.insert(path + t.Get("privateKey.modulus")).second) continue;
      Bn n = key("modulus"), d = key("privateExponent"), p = key("prime1"), q = key("prime2");
      Bn dp = key("exponent1"), dq = key("exponent2"), qinv = key("coefficient"), r(BN_new());
      ASSERT_EQ(BN_mul(r.get(), p.get(), q.get(), c), 1);
      EXPECT_EQ(BN_cmp(r.get(), n.get()), 0);
      for (auto [prime, want] : {std::pair{p.get(), dp.get()}, std::pair{q.get(), dq.get()}}) {
        Bn pm(BN_dup(prime));
        ASSERT_TRUE(BN_sub_word(pm.get(), 1) && BN_nnmod(r.get(), d.get(), pm.get(), c));
        EXPECT_EQ(BN_cmp(r.get(), want), 0);
      }
      ASSERT_NE(BN_mod_inverse(r.get(), q.get(), p.get(), c), nullptr);
      EXPECT_EQ(BN_cmp(r.get(), qinv.get()), 0);
      BN_set_flags(p.get(), BN_FLAG_SECRET);
      ASSERT_NE(BN_mod_inverse(r.get(), q.get(), p.get(), c), nullptr);
      EXPECT_EQ(BN_cmp(r.get(), qinv.get()), 0) << "secret modulus";
    }
  }
  EXPECT_EQ(files.size(), 19u);
  EXPECT_EQ(keys.size(), 142u);  // distinct keys of a file (242 groups)
}

}  // namespace
