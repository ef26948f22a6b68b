// The four raw operations of the built-in method: the limits on the public
// key, input range, output length, the key shapes the private operations
// serve (CRT, d alone, a faulty CRT number), X9.31 representatives, and the
// failure reasons.

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::ErrorsAre;

constexpr int kR = ERR_LIB_RSA;
constexpr int kSha256 = 672;  // NID_sha256

// A public key with the odd modulus 2^(bits-1) + 2^(bits/2) + 1 and e.
Rsa PublicKey(int bits, const std::string& e_hex) {
  Rsa key(RSA_new());
  key->n = BN_new();
  BN_set_bit(key->n, bits - 1);
  BN_set_bit(key->n, bits / 2);
  BN_set_bit(key->n, 0);
  key->e = Hex(e_hex);
  return key;
}

TEST(RsaOps, ModulusUpTo16384Bits) {
  for (int bits : {16384, 16385}) {
    Rsa key = PublicKey(bits, "3");
    const int k = RSA_size(key.get());
    Bytes in(k, 0x01), out(k);
    in[0] = 0;
    const int want = bits == 16384 ? k : -1;
    EXPECT_EQ(RSA_public_encrypt(k, in.data(), out.data(), key.get(), RSA_NO_PADDING), want);
    EXPECT_EQ(RSA_public_decrypt(k, in.data(), out.data(), key.get(), RSA_NO_PADDING), want);
  }
  EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PUBLIC_ENCRYPT, RSA_R_MODULUS_TOO_LARGE},
                 {kR, RSA_F_RSA_VEK_PUBLIC_DECRYPT, RSA_R_MODULUS_TOO_LARGE}});
}

TEST(RsaOps, PublicExponentLimits) {
  const std::string e65 = "10000000000000001";  // 65 bits
  struct Case {
    int bits;
    std::string e;  // "n": the modulus itself
    bool ok;
  };
  const Case cases[] = {
      {3072, e65, true}, {3073, e65, false}, {3073, "FFFFFFFFFFFFFFFF", true}, {1024, "n", false}};
  for (const auto& c : cases) {
    Rsa key = PublicKey(c.bits, c.e == "n" ? "1" : c.e);
    if (c.e == "n") BN_copy(key->e, key->n);
    const int k = RSA_size(key.get());
    Bytes in(k, 0x22), out(k);
    in[0] = 0;
    for (int decrypt = 0; decrypt < 2; decrypt++) {
      const int r = decrypt
                        ? RSA_public_decrypt(k, in.data(), out.data(), key.get(), RSA_NO_PADDING)
                        : RSA_public_encrypt(k, in.data(), out.data(), key.get(), RSA_NO_PADDING);
      EXPECT_EQ(r, c.ok ? k : -1) << c.bits << " bits, e " << c.e;
      if (!c.ok) {
        EXPECT_ERRORS({{kR, decrypt ? RSA_F_RSA_VEK_PUBLIC_DECRYPT : RSA_F_RSA_VEK_PUBLIC_ENCRYPT,
                        RSA_R_BAD_E_VALUE}});
      }
    }
  }
  EXPECT_ERRORS({});
}

TEST(RsaOps, InputMustBeBelowTheModulus) {
  Rsa key = MakeKey(TestKey(1024));
  const Bytes n = ToBytes(key->n, 128);
  Bytes n1 = n, out(128);
  n1[127]--;  // n is odd
  EXPECT_EQ(RSA_public_encrypt(128, n.data(), out.data(), key.get(), RSA_NO_PADDING), -1);
  EXPECT_EQ(RSA_public_decrypt(128, n.data(), out.data(), key.get(), RSA_NO_PADDING), -1);
  EXPECT_EQ(RSA_private_encrypt(128, n.data(), out.data(), key.get(), RSA_NO_PADDING), -1);
  EXPECT_EQ(RSA_private_decrypt(128, n.data(), out.data(), key.get(), RSA_NO_PADDING), -1);
  const int r = RSA_R_DATA_TOO_LARGE_FOR_MODULUS;
  EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PUBLIC_ENCRYPT, r},
                 {kR, RSA_F_RSA_VEK_PUBLIC_DECRYPT, r},
                 {kR, RSA_F_RSA_VEK_PRIVATE_ENCRYPT, r},
                 {kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, r}});
  EXPECT_EQ(RSA_public_encrypt(128, n1.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(RSA_public_decrypt(128, n1.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(RSA_private_encrypt(128, n1.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(RSA_private_decrypt(128, n1.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  // (n - 1)^d = n - 1: d is odd.
  EXPECT_EQ(out, n1);
  Bytes longer(129, 0);
  EXPECT_EQ(RSA_public_decrypt(129, longer.data(), out.data(), key.get(), RSA_NO_PADDING), -1);
  EXPECT_EQ(RSA_private_decrypt(129, longer.data(), out.data(), key.get(), RSA_NO_PADDING), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PUBLIC_DECRYPT, RSA_R_DATA_GREATER_THAN_MOD_LEN},
                 {kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, RSA_R_DATA_GREATER_THAN_MOD_LEN}});
}

TEST(RsaOps, UnknownPaddings) {
  Rsa key = MakeKey(TestKey(512));
  Bytes in(64, 0), out(64);
  EXPECT_EQ(RSA_public_encrypt(10, in.data(), out.data(), key.get(), RSA_X931_PADDING), -1);
  EXPECT_EQ(RSA_public_decrypt(64, in.data(), out.data(), key.get(), RSA_PKCS1_OAEP_PADDING), -1);
  EXPECT_EQ(RSA_private_encrypt(10, in.data(), out.data(), key.get(), RSA_SSLV23_PADDING), -1);
  EXPECT_EQ(RSA_private_decrypt(64, in.data(), out.data(), key.get(), 6), -1);
  const int r = RSA_R_UNKNOWN_PADDING_TYPE;
  EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PUBLIC_ENCRYPT, r},
                 {kR, RSA_F_RSA_VEK_PUBLIC_DECRYPT, r},
                 {kR, RSA_F_RSA_VEK_PRIVATE_ENCRYPT, r},
                 {kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, r}});
}

// The padding's own reason comes first, then "padding check failed".
TEST(RsaOps, FailedPaddingCheckIsReportedTwice) {
  Rsa key = MakeKey(TestKey(1024));
  Bytes in(128, 0x33), ct(128), out(128, 0x5A);
  in[0] = 0;  // a block of type 0x33, not 2
  ASSERT_EQ(RSA_public_encrypt(128, in.data(), ct.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(RSA_private_decrypt(128, ct.data(), out.data(), key.get(), RSA_PKCS1_PADDING), -1);
  EXPECT_EQ(out, Bytes(128, 0x5A));
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_2, RSA_R_BLOCK_TYPE_IS_NOT_02},
                 {kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, RSA_R_PADDING_CHECK_FAILED}});
  ASSERT_EQ(RSA_private_encrypt(128, in.data(), ct.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(RSA_public_decrypt(128, ct.data(), out.data(), key.get(), RSA_PKCS1_PADDING), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_1, RSA_R_BLOCK_TYPE_IS_NOT_01},
                 {kR, RSA_F_RSA_VEK_PUBLIC_DECRYPT, RSA_R_PADDING_CHECK_FAILED}});
}

// Every key shape gives c^d mod n: the CRT at a fixed width (also for 1025
// and 2049 bits: p one word longer than q), on numbers (no constant-time
// marks), d alone, and each without blinding.
TEST(RsaOps, KeyShapesAgree) {
  for (int bits : {512, 1025, 2048, 2049}) {
    Rsa full = MakeKey(TestKey(bits));
    const int k = RSA_size(full.get());
    Bytes c = Pseudo(k, static_cast<unsigned>(bits)), want(k), got(k);
    c[0] = 0;
    ASSERT_EQ(RSA_private_decrypt(k, c.data(), want.data(), full.get(), RSA_NO_PADDING), k);
    Bytes back(k);
    ASSERT_EQ(RSA_public_encrypt(k, want.data(), back.data(), full.get(), RSA_NO_PADDING), k);
    EXPECT_EQ(back, c) << bits;
    struct Shape {
      const char* parts;
      int flags;
    };
    for (const Shape& s : {Shape{"n,e,d", 0}, Shape{"n,e,d", RSA_FLAG_NO_BLINDING},
                           Shape{"n,e,d,p,q,dmp1,dmq1,iqmp", RSA_FLAG_NO_CONSTTIME},
                           Shape{"n,e,d,p,q,dmp1,dmq1,iqmp", RSA_FLAG_NO_BLINDING},
                           Shape{"n,e,d,p", 0}, Shape{"n,d", RSA_FLAG_NO_BLINDING}}) {
      Rsa key = MakeKey(TestKey(bits), s.parts);
      key->flags |= s.flags;
      ASSERT_EQ(RSA_private_decrypt(k, c.data(), got.data(), key.get(), RSA_NO_PADDING), k)
          << s.parts << " " << s.flags;
      EXPECT_EQ(got, want) << bits << " bits, " << s.parts << ", flags " << s.flags;
    }
  }
  EXPECT_ERRORS({});
}

// Primes of different lengths (either one the longer, by one to thirty
// words) and the sizes the built-in generator makes with p a word longer than
// q: the fixed-width CRT inverts the public operation (on 0, n - 1, p, 3q and
// pseudo-random inputs), agrees with the exponentiation by d and with the CRT
// on numbers, and signs what RSA_verify accepts.
TEST(RsaOps, PrimesOfDifferentLengths) {
  std::vector<std::pair<std::string, KeyText>> keys;
  for (const auto& [name, text] : UnbalancedKeys()) keys.emplace_back(name, text);
  for (int bits : {2049, 3073}) keys.emplace_back(std::to_string(bits), TestKey(bits));
  ASSERT_EQ(keys.size(), 6u);
  for (const auto& [name, text] : keys) {
    SCOPED_TRACE(name);
    Rsa key = MakeKey(text), by_d = MakeKey(text, "n,e,d"), numbers = MakeKey(text);
    numbers->flags |= RSA_FLAG_NO_CONSTTIME;
    const int k = RSA_size(key.get());
    BIGNUM* n1 = BN_dup(key->n);
    BN_sub_word(n1, 1);
    BIGNUM* pq = BN_dup(key->q);
    BN_mul_word(pq, 3);
    std::vector<Bytes> inputs = {Bytes(k, 0), ToBytes(n1, k), ToBytes(key->p, k), ToBytes(pq, k)};
    BN_free(n1);
    BN_free(pq);
    for (unsigned seed = 0; seed < 4; seed++) {
      Bytes c = Pseudo(k, seed + 40);
      c[0] = 0;
      inputs.push_back(c);
    }
    for (const Bytes& c : inputs) {
      Bytes m(k), back(k), other(k);
      ASSERT_EQ(RSA_private_decrypt(k, c.data(), m.data(), key.get(), RSA_NO_PADDING), k);
      ASSERT_EQ(RSA_public_encrypt(k, m.data(), back.data(), key.get(), RSA_NO_PADDING), k);
      EXPECT_EQ(back, c);
      ASSERT_EQ(RSA_private_decrypt(k, c.data(), other.data(), by_d.get(), RSA_NO_PADDING), k);
      EXPECT_EQ(other, m);
      ASSERT_EQ(RSA_private_encrypt(k, c.data(), other.data(), numbers.get(), RSA_NO_PADDING), k);
      EXPECT_EQ(other, m);
    }
    const Bytes digest = Pseudo(32, 9);
    Bytes sig(k);
    unsigned int len = 0;
    ASSERT_EQ(RSA_sign(kSha256, digest.data(), 32, sig.data(), &len, key.get()), 1);
    EXPECT_EQ(RSA_verify(kSha256, digest.data(), 32, sig.data(), len, key.get()), 1);
  }
  EXPECT_ERRORS({});
}

// The CRT numbers need only fit the width of the longer prime: iqmp + p and
// exponents larger by p - 1 or q - 1 give the same results, checked or not.
TEST(RsaOps, UnreducedCrtNumbers) {
  for (const char* name : {"992x1056", "1056x992"}) {
    const KeyText& text = UnbalancedKeys().at(name);
    Rsa good = MakeKey(text), odd = MakeKey(text),
        unchecked = MakeKey(text, "n,d,p,q,dmp1,dmq1,iqmp");
    for (RSA* r : {odd.get(), unchecked.get()}) {
      BN_add(r->iqmp, r->iqmp, r->p);
      BIGNUM* p1 = BN_dup(r->p);
      BN_sub_word(p1, 1);
      BN_add(r->dmp1, r->dmp1, p1);
      BN_free(p1);
    }
    const int k = RSA_size(good.get());
    Bytes c = Pseudo(k, 77), want(k), got(k);
    c[0] = 0;
    ASSERT_EQ(RSA_private_decrypt(k, c.data(), want.data(), good.get(), RSA_NO_PADDING), k);
    ASSERT_EQ(RSA_private_decrypt(k, c.data(), got.data(), odd.get(), RSA_NO_PADDING), k);
    EXPECT_EQ(got, want) << name;
    unchecked->flags |= RSA_FLAG_NO_BLINDING;  // no e: no blinding can be made
    ASSERT_EQ(RSA_private_decrypt(k, c.data(), got.data(), unchecked.get(), RSA_NO_PADDING), k);
    EXPECT_EQ(got, want) << name;
  }
  EXPECT_ERRORS({});
}

// A wrong CRT number gives a wrong CRT result, which the check against e
// replaces by the direct exponentiation, without an error.
TEST(RsaOps, FaultyCrtNumberIsCaughtByTheCheck) {
  for (const char* shape : {"1024", "1025", "992x1056"}) {
    const KeyText& text = std::string(shape).find('x') != std::string::npos
                              ? UnbalancedKeys().at(shape)
                              : TestKey(std::stoi(shape));
    for (const char* which : {"dmp1", "dmq1", "iqmp"}) {
      Rsa good = MakeKey(text), bad = MakeKey(text);
      BIGNUM* num = std::string(which) == "dmp1"   ? bad->dmp1
                    : std::string(which) == "dmq1" ? bad->dmq1
                                                   : bad->iqmp;
      BN_add_word(num, 2);
      const int k = RSA_size(good.get());
      Bytes c = Pseudo(k, 5), want(k), got(k);
      c[0] = 0;
      ASSERT_EQ(RSA_private_decrypt(k, c.data(), want.data(), good.get(), RSA_NO_PADDING), k);
      ASSERT_EQ(RSA_private_decrypt(k, c.data(), got.data(), bad.get(), RSA_NO_PADDING), k);
      EXPECT_EQ(got, want) << shape << ", " << which;
      // Signing takes the same way.
      ASSERT_EQ(RSA_private_encrypt(k, c.data(), got.data(), bad.get(), RSA_NO_PADDING), k);
      EXPECT_EQ(got, want) << shape << ", " << which;
    }
  }
  EXPECT_ERRORS({});
}

// r = r + q: right modulo q, wrong modulo p, as a faulty exponentiation
// could give it (the built-in rsa_mod_exp behind the fault); r + 1 for a key
// without q.
int FaultyModExp(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx) {
  return RSA_PKCS1_Quorix()->rsa_mod_exp(r0, I, rsa, ctx) &&
         (rsa->q != nullptr ? BN_add(r0, r0, rsa->q) : BN_add_word(r0, 1));
}

// Whether gcd(s^e - m, n), for the public e of the test key, is a prime of n.
bool RevealsAPrime(const Bytes& sig, const Bytes& msg, const RSA* full) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *s = BN_bin2bn(sig.data(), static_cast<int>(sig.size()), nullptr),
         *m = BN_bin2bn(msg.data(), static_cast<int>(msg.size()), nullptr), *g = BN_new();
  BN_mod_exp(s, s, full->e, full->n, ctx);
  BN_mod_sub(s, s, m, full->n, ctx);
  BN_gcd(g, s, full->n, ctx);
  const bool reveals = BN_cmp(g, full->p) == 0 || BN_cmp(g, full->q) == 0;
  for (BIGNUM* b : {s, m, g}) BN_free(b);
  BN_CTX_free(ctx);
  return reveals;
}

// Keys whose numbers disagree, so that an unchecked result would be right
// modulo one prime only: every one is refused, and none gives out a result.
// With e the CRT result fails its check and so does the exponentiation by a
// d that is wrong modulo p - 1; without e the CRT result must equal the one
// by d; with neither e nor d nothing can check the CRT; another method's
// rsa_mod_exp is checked too, by e or else by d (a key of n and d alone
// reaches it through RSA_FLAG_EXT_PKEY).
TEST(RsaOps, ResultThatFailsItsCheckIsRefused) {
  struct Case {
    const char* name;
    const char* parts;
    bool spoil_dmp1, spoil_d;  // dmp1 + 2; d + (q - 1), so wrong mod p - 1 only
    int flags;
    bool faulty_method;
    int func, reason;
  };
  const int kModExp = RSA_F_RSA_VEK_MOD_EXP, kEnc = RSA_F_RSA_VEK_PRIVATE_ENCRYPT;
  const int kFailed = RSA_R_PRIVATE_RESULT_CHECK_FAILED;
  const Case cases[] = {
      {"dmp1 and d wrong", "", true, true, 0, false, kModExp, kFailed},
      {"dmp1 and d wrong, on numbers", "", true, true, RSA_FLAG_NO_CONSTTIME, false, kModExp,
       kFailed},
      {"no CRT numbers, d wrong", "n,e,d", false, true, 0, false, kEnc, kFailed},
      {"no e, dmp1 wrong", "n,d,p,q,dmp1,dmq1,iqmp", true, false, 0, false, kModExp, kFailed},
      {"no e, d wrong", "n,d,p,q,dmp1,dmq1,iqmp", false, true, RSA_FLAG_NO_BLINDING, false, kModExp,
       kFailed},
      {"no e and no d", "n,p,q,dmp1,dmq1,iqmp", true, false, RSA_FLAG_NO_BLINDING, false, kModExp,
       RSA_R_NO_PUBLIC_EXPONENT},
      {"another rsa_mod_exp", "", false, false, 0, true, kEnc, kFailed},
      {"another rsa_mod_exp, no e", "n,d,p,q,dmp1,dmq1,iqmp", false, false, 0, true, kEnc, kFailed},
      {"another rsa_mod_exp, n and d only", "n,d", false, false,
       RSA_FLAG_EXT_PKEY | RSA_FLAG_NO_BLINDING, true, kEnc, kFailed},
  };
  static RSA_METHOD faulty = *RSA_PKCS1_Quorix();
  faulty.rsa_mod_exp = FaultyModExp;
  Rsa full = MakeKey(TestKey(1024));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rsa key = MakeKey(TestKey(1024), c.parts);
    key->flags |= c.flags;
    if (c.faulty_method) {
      ASSERT_EQ(RSA_set_method(key.get(), &faulty), 1);
    }
    if (c.spoil_dmp1) BN_add_word(key->dmp1, 2);
    if (c.spoil_d) {
      BIGNUM* q1 = BN_dup(full->q);
      BN_sub_word(q1, 1);
      BN_add(key->d, key->d, q1);
      BN_free(q1);
    }
    Bytes msg = Pseudo(128, 11), sig(128, 0x5A);
    msg[0] = 0;
    const int r = RSA_private_encrypt(128, msg.data(), sig.data(), key.get(), RSA_NO_PADDING);
    EXPECT_EQ(r, -1);
    EXPECT_FALSE(r == 128 && RevealsAPrime(sig, msg, full.get()));
    EXPECT_EQ(sig, Bytes(128, 0x5A));
    EXPECT_ERRORS({{kR, c.func, c.reason}});
  }
}

// Each allocation of a key's first private operation (the blinding, the
// Montgomery contexts, the scratch), and of its 32nd (the blinding pair
// drawn afresh), failing in turn: the operation fails with a reason on the
// queue, or gets by without the allocation, and the key's next operation
// gives the right result (a pair left half-drawn would not).
TEST(RsaOps, FailedAllocationLeavesAReason) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Bytes in(128, 0x2B), out(128), want(128);
  in[0] = 0;
  Rsa plain = MakeKey(TestKey(1024));
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), want.data(), plain.get(), RSA_NO_PADDING), 128);
  for (const int before_it : {0, 31}) {
    int failures = 0;
    for (long n = 1;; n++) {
      Rsa key = MakeKey(TestKey(1024));
      for (int i = 0; i < before_it; i++)
        ASSERT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
      const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
      morvane_test::FailAllocationAfter(n);
      const int r = RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING);
      morvane_test::FailAllocationAfter(0);
      const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
      if (after.mallocs + after.reallocs - before.mallocs - before.reallocs < n) {
        EXPECT_EQ(r, 128);  // no allocation failed
        break;
      }
      if (r == 128) {
        EXPECT_EQ(out, want) << n;
      } else {
        failures++;
        EXPECT_EQ(r, -1) << n;
        EXPECT_NE(ERR_peek_error(), 0u) << "allocation " << n;
      }
      ERR_clear_error();
      Bytes again(128);
      EXPECT_EQ(RSA_private_decrypt(128, in.data(), again.data(), key.get(), RSA_NO_PADDING), 128)
          << before_it << " before, after allocation " << n;
      EXPECT_EQ(again, want) << before_it << " before, after allocation " << n;
      ERR_clear_error();
    }
    EXPECT_GT(failures, 4) << before_it;
  }
}

// A result with leading zero bytes still fills RSA_size bytes.
TEST(RsaOps, OutputKeepsItsLeadingZeros) {
  Rsa key = MakeKey(TestKey(1024));
  Bytes small(128, 0), m(128), c(128, 0xEE);
  small[127] = 0x05;
  small[126] = 0x01;
  // m = small^d, so m^e = small: two bytes of value, 126 zero bytes in front.
  ASSERT_EQ(RSA_private_encrypt(128, small.data(), m.data(), key.get(), RSA_NO_PADDING), 128);
  ASSERT_EQ(RSA_public_encrypt(128, m.data(), c.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(c, small);
  // The same through the private operation: 0 and 1 are their own powers.
  Bytes zero(128, 0), one(128, 0);
  one[127] = 1;
  ASSERT_EQ(RSA_private_decrypt(128, zero.data(), c.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(c, zero);
  ASSERT_EQ(RSA_private_decrypt(1, one.data() + 127, c.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(c, one);
}

// X9.31 signing gives min(s, n - s); the public operation takes either.
TEST(RsaOps, X931SignatureRepresentative) {
  for (int bits : {1024, 1536}) {
    Rsa key = MakeKey(TestKey(bits));
    const int k = RSA_size(key.get());
    for (unsigned seed = 0; seed < 4; seed++) {
      const Bytes msg = Pseudo(20, seed);
      Bytes sig(k), out(k);
      ASSERT_EQ(RSA_private_encrypt(20, msg.data(), sig.data(), key.get(), RSA_X931_PADDING), k);
      BIGNUM* s = BN_bin2bn(sig.data(), k, nullptr);
      BIGNUM* other = BN_new();
      ASSERT_TRUE(BN_sub(other, key->n, s));
      EXPECT_LT(BN_cmp(s, other), 0);
      for (const BIGNUM* form :
           {static_cast<const BIGNUM*>(s), static_cast<const BIGNUM*>(other)}) {
        const Bytes in = ToBytes(form, static_cast<size_t>(k));
        ASSERT_EQ(RSA_public_decrypt(k, in.data(), out.data(), key.get(), RSA_X931_PADDING), 20);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 20), msg);
      }
      BN_free(s);
      BN_free(other);
    }
  }
  EXPECT_ERRORS({});
}

TEST(RsaOps, PublicOperationsNeedTheirNumbers) {
  Rsa key = MakeKey(TestKey(512), "n,d");
  Bytes in(64, 0), out(64);
  EXPECT_EQ(RSA_public_encrypt(64, in.data(), out.data(), key.get(), RSA_NO_PADDING), -1);
  Rsa none(RSA_new());
  EXPECT_EQ(RSA_public_decrypt(64, in.data(), out.data(), none.get(), RSA_NO_PADDING), -1);
  EXPECT_EQ(RSA_private_decrypt(64, in.data(), out.data(), none.get(), RSA_NO_PADDING), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PUBLIC_ENCRYPT, RSA_R_NO_PUBLIC_EXPONENT},
                 {kR, RSA_F_RSA_VEK_PUBLIC_DECRYPT, ERR_R_PASSED_NULL_PARAMETER},
                 {kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, ERR_R_PASSED_NULL_PARAMETER}});
}

}  // namespace
