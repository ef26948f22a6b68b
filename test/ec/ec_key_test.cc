// EC keys and ECDSA through the public API: the key's life and check, the
// signature wrappers, and the published Wycheproof and NIST CAVP vectors.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/sha.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ec_key_handles.h"
#include "test_support.h"

namespace {

using ec_key_test::Bn;
using ec_key_test::Key;
using ec_key_test::Point;
using ec_key_test::Sig;
using morvane_test::Bytes;
using morvane_test::FromHex;

Key Curve(const char* sn) {
  return Key(EC_KEY_new_by_curve_name(OBJ_sn2nid(sn)));
}

Bn HexBn(const std::string& hex) {
  return ec_key_test::HexBn(hex.c_str());
}

// The key's public point from its coordinates.
bool SetPublic(EC_KEY* key, const std::string& qx, const std::string& qy) {
  const EC_GROUP* g = EC_KEY_get0_group(key);
  Point p(EC_POINT_new(g));
  Bn x = HexBn(qx), y = HexBn(qy);
  return EC_POINT_set_affine_coordinates_GFp(g, p.get(), x.get(), y.get(), nullptr) == 1 &&
         EC_KEY_set_public_key(key, p.get()) == 1;
}

Bytes Digest(const std::string& name, const Bytes& msg) {
  Bytes md(64);
  size_t n = 0;
  if (name == "SHA-1") SHA1(msg.data(), msg.size(), md.data()), n = 20;
  if (name == "SHA-224") SHA224(msg.data(), msg.size(), md.data()), n = 28;
  if (name == "SHA-256") SHA256(msg.data(), msg.size(), md.data()), n = 32;
  if (name == "SHA-384") SHA384(msg.data(), msg.size(), md.data()), n = 48;
  if (name == "SHA-512") SHA512(msg.data(), msg.size(), md.data()), n = 64;
  md.resize(n);
  return md;
}

const char* NistCurve(const std::string& name) {
  if (name == "P-192") return "prime192v1";
  if (name == "P-224") return "secp224r1";
  if (name == "P-256") return "prime256v1";
  if (name == "P-384") return "secp384r1";
  if (name == "P-521") return "secp521r1";
  return nullptr;
}

// The curve and digest of a CAVP record's section ("[P-256,SHA-256]"); the
// 186-2 files name no digest: SHA-1.
void SectionOf(const morvane_test::RspRecord& rec, std::string* curve, std::string* sha) {
  *sha = "SHA-1";
  for (const auto& [k, v] : rec.section) {
    const size_t comma = k.find(',');
    *curve = k.substr(0, comma);
    if (comma != std::string::npos) *sha = k.substr(comma + 1);
  }
}

// ---- keys --------------------------------------------------------------------

TEST(EcKey, NewKeyDefaultsAndReferences) {
  EC_KEY_free(nullptr);
  Key key(EC_KEY_new());
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(EC_KEY_get_conv_form(key.get()), POINT_CONVERSION_UNCOMPRESSED);
  EXPECT_EQ(EC_KEY_get_enc_flags(key.get()), 0u);
  EXPECT_EQ(EC_KEY_get0_group(key.get()), nullptr);
  EXPECT_EQ(EC_KEY_up_ref(key.get()), 1);
  EC_KEY_free(key.get());  // count 2 -> 1: still usable
  EC_KEY_set_enc_flags(key.get(), 3);
  EXPECT_EQ(EC_KEY_get_enc_flags(key.get()), 3u);
}

TEST(EcKey, GenerateReusesObjectsAndChecks) {
  Key key = Curve("prime256v1");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  const BIGNUM* priv = EC_KEY_get0_private_key(key.get());
  const EC_POINT* pub = EC_KEY_get0_public_key(key.get());
  EXPECT_FALSE(BN_is_zero(priv));
  EXPECT_EQ(EC_KEY_check_key(key.get()), 1);
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  EXPECT_EQ(EC_KEY_get0_private_key(key.get()), priv);
  EXPECT_EQ(EC_KEY_get0_public_key(key.get()), pub);
  EXPECT_EQ(EC_KEY_check_key(key.get()), 1);
  EXPECT_ERRORS({});

  EXPECT_EQ(EC_KEY_generate_key(nullptr), 0);
  Key empty(EC_KEY_new());
  EXPECT_EQ(EC_KEY_generate_key(empty.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_GENERATE_KEY, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_EC, EC_F_EC_KEY_GENERATE_KEY, ERR_R_PASSED_NULL_PARAMETER}});
}

// A generator that hands out the bytes of g_draws in turn (then zeros).
std::vector<Bytes> g_draws;
size_t g_next = 0;
int ScriptedBytes(unsigned char* buf, int num) {
  const Bytes b = g_next < g_draws.size() ? g_draws[g_next] : Bytes();
  g_next++;
  for (int i = 0; i < num; i++) buf[i] = static_cast<size_t>(i) < b.size() ? b[i] : 0;
  return 1;
}
const RAND_METHOD kScripted = {nullptr, ScriptedBytes, nullptr, nullptr, ScriptedBytes, nullptr};

// The scalar is drawn as bits(n) random bits read big-endian (the leading
// byte cut to the order's top bits), again while it is 0 or at least n; a
// generator that never gives one in range fails after 100 draws instead of
// looping.  P-521: 66 bytes, 1 bit of the first.
TEST(EcKey, GenerateDrawsBitsOfTheOrderBigEndian) {
  Key key = Curve("secp521r1");
  const EC_GROUP* g = EC_KEY_get0_group(key.get());
  Bytes top(66, 0), zero(66, 0), ones(66, 0xFF), two(66, 0);
  top[0] = 0xFF;  // cut to its last bit: 2^520
  top[65] = 5;
  two[65] = 2;
  g_draws = {zero, ones, top, two};
  g_next = 0;
  RAND_set_rand_method(&kScripted);
  const int generated = EC_KEY_generate_key(key.get());
  BIGNUM* kinv = nullptr;
  BIGNUM* rp = nullptr;
  const int setup = ECDSA_sign_setup(key.get(), nullptr, &kinv, &rp);  // draws `two`
  g_draws.assign(100, ones);
  g_next = 0;
  Key other = Curve("secp521r1");
  const int exhausted = EC_KEY_generate_key(other.get());
  RAND_set_rand_method(nullptr);
  ASSERT_EQ(generated, 1);
  Bn want(BN_new());
  ASSERT_EQ(BN_set_bit(want.get(), 520), 1);
  ASSERT_EQ(BN_add_word(want.get(), 5), 1);
  EXPECT_EQ(BN_cmp(EC_KEY_get0_private_key(key.get()), want.get()), 0);
  Point q(EC_POINT_new(g));
  ASSERT_EQ(EC_POINT_mul(g, q.get(), want.get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g, q.get(), EC_KEY_get0_public_key(key.get()), nullptr), 0);
  // k = 2: r = x(2 G) mod n, and k^-1 (n + 1) / 2.
  ASSERT_EQ(setup, 1);
  Bn n(BN_new()), x(BN_new()), half(BN_new());
  ASSERT_EQ(EC_GROUP_get_order(g, n.get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_dbl(g, q.get(), EC_GROUP_get0_generator(g), nullptr), 1);
  ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, q.get(), x.get(), nullptr, nullptr), 1);
  EXPECT_EQ(BN_cmp(rp, x.get()), 0);
  ASSERT_EQ(BN_add_word(n.get(), 1), 1);
  ASSERT_EQ(BN_rshift1(half.get(), n.get()), 1);
  EXPECT_EQ(BN_cmp(kinv, half.get()), 0);
  BN_free(kinv);
  BN_free(rp);
  EXPECT_EQ(exhausted, 0);
  EXPECT_EQ(EC_KEY_get0_private_key(other.get()), nullptr);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_RAND_RANGE, BN_R_TOO_MANY_ITERATIONS}});
}

TEST(EcKey, CheckKeyCases) {
  Key key = Curve("prime256v1");
  ASSERT_EQ(EC_KEY_check_key(key.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_CHECK_KEY, ERR_R_PASSED_NULL_PARAMETER}});
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  const EC_GROUP* g = EC_KEY_get0_group(key.get());
  Bn order(BN_new());
  ASSERT_EQ(EC_GROUP_get_order(g, order.get(), nullptr), 1);

  // A valid point without scalar.
  Key pub_only(EC_KEY_new());
  ASSERT_EQ(EC_KEY_set_group(pub_only.get(), g), 1);
  ASSERT_EQ(EC_KEY_set_public_key(pub_only.get(), EC_KEY_get0_public_key(key.get())), 1);
  EXPECT_EQ(EC_KEY_check_key(pub_only.get()), 1);

  // A scalar that does not match the point.
  Key other(EC_KEY_dup(key.get()));
  Bn one(BN_new());
  BN_one(one.get());
  ASSERT_EQ(EC_KEY_set_private_key(other.get(), one.get()), 1);
  EXPECT_EQ(EC_KEY_check_key(other.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_CHECK_KEY, EC_R_INVALID_PRIVATE_KEY}});

  // A scalar equal to the order.
  ASSERT_EQ(EC_KEY_set_private_key(other.get(), order.get()), 1);
  EXPECT_EQ(EC_KEY_check_key(other.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_CHECK_KEY, EC_R_WRONG_ORDER}});

  // The point at infinity is refused where it is set, and by the check
  // when the key's own point is made infinity.
  Point inf(EC_POINT_new(g));
  ASSERT_EQ(EC_POINT_set_to_infinity(g, inf.get()), 1);
  EXPECT_EQ(EC_KEY_set_public_key(pub_only.get(), inf.get()), 0);
  EXPECT_EQ(EC_POINT_cmp(g, EC_KEY_get0_public_key(pub_only.get()),
                         EC_KEY_get0_public_key(key.get()), nullptr),
            0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_SET_PUBLIC_KEY, EC_R_POINT_AT_INFINITY}});
  ASSERT_EQ(
      EC_POINT_set_to_infinity(g, const_cast<EC_POINT*>(EC_KEY_get0_public_key(pub_only.get()))),
      1);
  EXPECT_EQ(EC_KEY_check_key(pub_only.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_CHECK_KEY, EC_R_POINT_AT_INFINITY}});
}

// A cofactor the curve cannot have, or none, fails the key and its group:
// h n must lie within q + 1 -+ 2 sqrt(q).  P-256 with the generator, order
// and point of a valid key and the cofactor -1, 0 (none), 2 or n.
TEST(EcKey, CheckKeyRefusesImpossibleCofactors) {
  Key key = Curve("prime256v1");
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  Bn n(BN_new()), minus1 = HexBn("-1"), two = HexBn("2");
  ASSERT_EQ(EC_GROUP_get_order(EC_KEY_get0_group(key.get()), n.get(), nullptr), 1);
  struct Row {
    const BIGNUM* h;
    int reason;
  };
  for (const Row& row :
       {Row{minus1.get(), EC_R_INVALID_COFACTOR}, Row{nullptr, EC_R_UNDEFINED_COFACTOR},
        Row{two.get(), EC_R_INVALID_COFACTOR}, Row{n.get(), EC_R_INVALID_COFACTOR}}) {
    const EC_GROUP* g = EC_KEY_get0_group(key.get());
    ec_key_test::Group changed(EC_GROUP_dup(g));
    ASSERT_EQ(EC_GROUP_set_generator(changed.get(), EC_GROUP_get0_generator(g), n.get(), row.h), 1);
    Key k(EC_KEY_dup(key.get()));
    ASSERT_EQ(EC_KEY_set_group(k.get(), changed.get()), 1);
    EXPECT_EQ(EC_KEY_check_key(k.get()), 0);
    EXPECT_EQ(EC_GROUP_check(changed.get(), nullptr), 0);
    EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_CHECK_KEY, row.reason},
                   {ERR_LIB_EC, EC_F_EC_GROUP_CHECK, row.reason}});
  }
}

// A point of the wrong order: on a curve with cofactor above 1, a point of
// the curve outside the generator's subgroup (secp112r2 has cofactor 4).
TEST(EcKey, CheckKeyWrongOrder) {
  Key key = Curve("secp112r2");
  ASSERT_NE(key, nullptr);
  const EC_GROUP* g = EC_KEY_get0_group(key.get());
  Bn p(BN_new()), a(BN_new()), b(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GFp(g, p.get(), a.get(), b.get(), nullptr), 1);
  Point pt(EC_POINT_new(g));
  Bn x(BN_new());
  Bn order(BN_new());
  ASSERT_EQ(EC_GROUP_get_order(g, order.get(), nullptr), 1);
  Point t(EC_POINT_new(g));
  bool found = false;
  for (unsigned long i = 1; i < 200 && !found; ++i) {
    BN_set_word(x.get(), i);
    if (EC_POINT_set_compressed_coordinates_GFp(g, pt.get(), x.get(), 0, nullptr) != 1) {
      ERR_clear_error();
      continue;
    }
    ASSERT_EQ(EC_POINT_mul(g, t.get(), nullptr, pt.get(), order.get(), nullptr), 1);
    found = EC_POINT_is_at_infinity(g, t.get()) == 0;
  }
  ASSERT_TRUE(found);
  ASSERT_EQ(EC_KEY_set_public_key(key.get(), pt.get()), 1);
  EXPECT_EQ(EC_KEY_check_key(key.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_CHECK_KEY, EC_R_WRONG_ORDER}});
}

int g_frees = 0;
void* DupA(void* d) {
  return d;
}
void FreeA(void*) {
  ++g_frees;
}

TEST(EcKey, MethodDataKeepsFirstRecord) {
  Key key(EC_KEY_new());
  int first = 1, second = 2;
  EC_KEY_insert_key_method_data(key.get(), &first, DupA, FreeA, FreeA);
  EC_KEY_insert_key_method_data(key.get(), &second, DupA, FreeA, FreeA);
  EXPECT_EQ(EC_KEY_get_key_method_data(key.get(), DupA, FreeA, FreeA), &first);
  EXPECT_EQ(EC_KEY_get_key_method_data(key.get(), DupA, nullptr, FreeA), nullptr);
  g_frees = 0;
  key.reset();
  EXPECT_EQ(g_frees, 1);
  // A record without dup function cannot be copied: the copy fails, said.
  Key other(EC_KEY_new());
  EC_KEY_insert_key_method_data(other.get(), &first, nullptr, FreeA, FreeA);
  EXPECT_EQ(EC_KEY_dup(other.get()), nullptr);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_COPY, EC_R_METHOD_DATA_NOT_COPIED}});
}

TEST(EcKey, CopyCarriesSettingsAndFreshEcdsaRecord) {
  Key key = Curve("prime256v1");
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  EC_KEY_set_conv_form(key.get(), POINT_CONVERSION_COMPRESSED);
  EC_KEY_set_enc_flags(key.get(), 1);
  const int idx = ECDSA_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_GE(idx, 0);
  int marker = 7;
  ASSERT_EQ(ECDSA_set_ex_data(key.get(), idx, &marker), 1);
  Key copy(EC_KEY_dup(key.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(EC_KEY_get_conv_form(copy.get()), POINT_CONVERSION_COMPRESSED);
  EXPECT_EQ(EC_KEY_get_enc_flags(copy.get()), 1u);
  EXPECT_EQ(BN_cmp(EC_KEY_get0_private_key(copy.get()), EC_KEY_get0_private_key(key.get())), 0);
  EXPECT_EQ(EC_POINT_cmp(EC_KEY_get0_group(key.get()), EC_KEY_get0_public_key(copy.get()),
                         EC_KEY_get0_public_key(key.get()), nullptr),
            0);
  EXPECT_EQ(ECDSA_get_ex_data(copy.get(), idx), nullptr);  // a fresh record
  EXPECT_EQ(ECDSA_get_ex_data(key.get(), idx), &marker);
  EXPECT_EQ(EC_KEY_copy(nullptr, key.get()), nullptr);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_COPY, ERR_R_PASSED_NULL_PARAMETER}});
}

// ---- ECDSA -------------------------------------------------------------------

TEST(Ecdsa, SizeAndSignVerifyRoundTrip) {
  struct Row {
    const char* curve;
    int size;
  };
  for (const Row& row : {Row{"prime256v1", 72}, Row{"secp521r1", 141}}) {
    Key key = Curve(row.curve);
    EXPECT_EQ(ECDSA_size(key.get()), row.size) << row.curve;
    ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
    const Bytes dgst = Digest("SHA-256", Bytes{'a', 'b', 'c'});
    std::vector<unsigned char> sig(static_cast<size_t>(ECDSA_size(key.get())));
    unsigned int siglen = 0;
    ASSERT_EQ(ECDSA_sign(0, dgst.data(), 32, sig.data(), &siglen, key.get()), 1);
    EXPECT_EQ(ECDSA_verify(0, dgst.data(), 32, sig.data(), static_cast<int>(siglen), key.get()), 1);
    Bytes bad = dgst;
    bad[0] ^= 1;
    EXPECT_EQ(ECDSA_verify(0, bad.data(), 32, sig.data(), static_cast<int>(siglen), key.get()), 0);
  }
  Key empty(EC_KEY_new());
  EXPECT_EQ(ECDSA_size(empty.get()), 0);
  EXPECT_EQ(ECDSA_size(nullptr), 0);
  EXPECT_ERRORS({});
}

TEST(Ecdsa, SignWithoutScalarFails) {
  Key key = Curve("prime256v1");
  unsigned char sig[80];
  unsigned int siglen = 99;
  const unsigned char dgst[32] = {1};
  EXPECT_EQ(ECDSA_sign(0, dgst, 32, sig, &siglen, key.get()), 0);
  EXPECT_EQ(siglen, 0u);
  EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ERR_R_PASSED_NULL_PARAMETER}});
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  EXPECT_EQ(ECDSA_sign(0, dgst, -1, sig, &siglen, key.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_INVALID_DIGEST_LENGTH}});
  // The signature calls themselves give the same reason.
  EXPECT_EQ(ECDSA_do_sign(dgst, -1, key.get()), nullptr);
  EXPECT_EQ(ECDSA_do_sign_ex(dgst, -5, nullptr, nullptr, key.get()), nullptr);
  ECDSA_SIG* s = ECDSA_do_sign(dgst, 32, key.get());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ECDSA_do_verify(dgst, -1, s, key.get()), -1);
  ECDSA_SIG_free(s);
  EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_INVALID_DIGEST_LENGTH},
                 {ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_INVALID_DIGEST_LENGTH},
                 {ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_INVALID_DIGEST_LENGTH}});
}

// A method without a slot (or no method) does not offer the operation: each
// call fails with its failure value and says so; so does a null key.
TEST(Ecdsa, MissingSlotsAndNullKey) {
  Key key = Curve("prime256v1");
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  const unsigned char dgst[20] = {3};
  Sig sig(ECDSA_do_sign(dgst, 20, key.get()));
  ASSERT_NE(sig, nullptr);
  const ECDSA_METHOD empty = {"no operations", nullptr, nullptr, nullptr, 0, nullptr};
  BIGNUM* kinv = nullptr;
  BIGNUM* rp = nullptr;
  for (const ECDSA_METHOD* m : {&empty, static_cast<const ECDSA_METHOD*>(nullptr)}) {
    ASSERT_EQ(ECDSA_set_method(key.get(), m), 1);
    EXPECT_EQ(ECDSA_do_sign(dgst, 20, key.get()), nullptr);
    EXPECT_EQ(ECDSA_sign_setup(key.get(), nullptr, &kinv, &rp), 0);
    EXPECT_EQ(ECDSA_do_verify(dgst, 20, sig.get(), key.get()), -1);
    EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_OPERATION_NOT_SUPPORTED},
                   {ERR_LIB_ECDSA, ECDSA_F_ECDSA_SIGN_SETUP, ECDSA_R_OPERATION_NOT_SUPPORTED},
                   {ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_OPERATION_NOT_SUPPORTED}});
  }
  EXPECT_EQ(ECDSA_do_sign(dgst, 20, nullptr), nullptr);
  EXPECT_EQ(ECDSA_do_verify(dgst, 20, sig.get(), nullptr), -1);
  EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_VERIFY, ERR_R_PASSED_NULL_PARAMETER}});
}

// Against a public point at infinity u1 G + u2 O = u1 G, so r = x(k G) and
// s = m / k, made without any private key, would verify (here k = 1):
// refused.
TEST(Ecdsa, VerifyRefusesAPublicKeyAtInfinity) {
  Key key = Curve("prime256v1");
  const EC_GROUP* g = EC_KEY_get0_group(key.get());
  ASSERT_EQ(EC_KEY_set_public_key(key.get(), EC_GROUP_get0_generator(g)), 1);
  ASSERT_EQ(EC_POINT_set_to_infinity(g, const_cast<EC_POINT*>(EC_KEY_get0_public_key(key.get()))),
            1);
  const unsigned char dgst[32] = {0x42, 0x17};
  Sig forged(ECDSA_SIG_new());
  ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, EC_GROUP_get0_generator(g), forged->r, nullptr,
                                                nullptr),
            1);
  ASSERT_NE(BN_bin2bn(dgst, 32, forged->s), nullptr);  // both below n
  EXPECT_EQ(ECDSA_do_verify(dgst, 32, forged.get(), key.get()), -1);
  EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_PUBLIC_KEY_AT_INFINITY}});
}

// Every allocation of a key generation on a fresh group, and of a first
// signature with a fresh key, failing in turn: each failure of the call is
// said ("malloc failure" somewhere on the queue).
TEST(Ecdsa, AllocationFailuresAreSaid) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const unsigned char dgst[32] = {5};
  unsigned char sig[80];
  unsigned int siglen = 0;
  for (const bool signing : {false, true}) {
    const auto run = [&](long fail) {
      Key key = Curve("prime256v1");
      if (signing && EC_KEY_generate_key(key.get()) != 1) return -1L;
      const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
      morvane_test::FailAllocationAfter(fail);
      const int ok = signing ? ECDSA_sign(0, dgst, 32, sig, &siglen, key.get())
                             : EC_KEY_generate_key(key.get());
      morvane_test::FailAllocationAfter(0);
      const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
      bool said = false;
      for (unsigned long e; (e = ERR_get_error()) != 0;)
        said = said || ERR_GET_REASON(e) == ERR_R_MALLOC_FAILURE;
      EXPECT_TRUE(ok == 1 || said)
          << (signing ? "ECDSA_sign" : "EC_KEY_generate_key") << ", allocation " << fail;
      return after.mallocs + after.reallocs - before.mallocs - before.reallocs;
    };
    const long total = run(0);
    ASSERT_GT(total, 0);
    for (long n = 1; n <= total; n++) run(n);
  }
}

// Signature values out of range, and encodings that are not the DER of one
// signature (a fault mended: BER forms and trailing bytes were accepted).
TEST(Ecdsa, VerifyRefusesRangesAndNonDer) {
  Key key = Curve("prime256v1");
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  const unsigned char dgst[32] = {1, 2, 3};
  unsigned char sig[80];
  unsigned int siglen = 0;
  ASSERT_EQ(ECDSA_sign(0, dgst, 32, sig, &siglen, key.get()), 1);
  Bytes good(sig, sig + siglen);
  Bytes trailing = good;
  trailing.push_back(0);
  trailing[1]++;  // the SEQUENCE covers the extra byte
  EXPECT_EQ(
      ECDSA_verify(0, dgst, 32, trailing.data(), static_cast<int>(trailing.size()), key.get()), -1);
  Bytes after = good;
  after.push_back(0);  // a byte after the SEQUENCE
  EXPECT_EQ(ECDSA_verify(0, dgst, 32, after.data(), static_cast<int>(after.size()), key.get()), -1);
  Bytes longform = {0x30, 0x81, good[1]};  // BER length form
  longform.insert(longform.end(), good.begin() + 2, good.end());
  EXPECT_EQ(
      ECDSA_verify(0, dgst, 32, longform.data(), static_cast<int>(longform.size()), key.get()), -1);
  const unsigned char junk[3] = {0x30, 0x05, 0x02};
  EXPECT_EQ(ECDSA_verify(0, dgst, 32, junk, 3, key.get()), -1);
  ERR_clear_error();

  Bn order(BN_new());
  EC_GROUP_get_order(EC_KEY_get0_group(key.get()), order.get(), nullptr);
  struct Row {
    const char* r;
    const char* s;
  };
  char* nhex = BN_bn2hex(order.get());
  const std::string on(nhex);
  MORVANE_free(nhex);
  for (const Row& row : {Row{"0", "1"}, Row{"1", "0"}, Row{"-1", "1"}, Row{"1", "-1"},
                         Row{on.c_str(), "1"}, Row{"1", on.c_str()}}) {
    Sig s(ECDSA_SIG_new());
    BN_hex2bn(&s->r, row.r);
    BN_hex2bn(&s->s, row.s);
    EXPECT_EQ(ECDSA_do_verify(dgst, 32, s.get(), key.get()), 0) << row.r << " " << row.s;
    EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_BAD_SIGNATURE}});
    if (row.r[0] == '-' || row.s[0] == '-') continue;  // DER INTEGERs here are unsigned
    unsigned char* der = nullptr;
    const int len = i2d_ECDSA_SIG(s.get(), &der);
    ASSERT_GT(len, 0);
    EXPECT_EQ(ECDSA_verify(0, dgst, 32, der, len, key.get()), 0) << row.r << " " << row.s;
    MORVANE_free(der);
    EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_BAD_SIGNATURE}});
  }
}

// Precomputed values: r from the setup with a kinv of 0 makes s = 0.
TEST(Ecdsa, PrecomputedValuesGivingZeroNeedNewSetup) {
  Key key = Curve("prime256v1");
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  BIGNUM* kinv = nullptr;
  BIGNUM* rp = nullptr;
  ASSERT_EQ(ECDSA_sign_setup(key.get(), nullptr, &kinv, &rp), 1);
  const unsigned char dgst[32] = {9};
  Sig ok(ECDSA_do_sign_ex(dgst, 32, kinv, rp, key.get()));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ECDSA_do_verify(dgst, 32, ok.get(), key.get()), 1);
  BN_zero(kinv);
  EXPECT_EQ(ECDSA_do_sign_ex(dgst, 32, kinv, rp, key.get()), nullptr);
  EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_NEED_NEW_SETUP_VALUES}});
  BN_free(kinv);
  BN_free(rp);
}

// s = kinv (m + d r) mod n by the public arithmetic, m the whole digest
// (for orders of at least 8 len bits).
Bn ModelS(const EC_KEY* key, const unsigned char* dgst, int len, const BIGNUM* kinv,
          const BIGNUM* r) {
  Bn n(BN_new()), m(BN_new()), s(BN_new());
  BN_CTX* ctx = BN_CTX_new();
  const bool ok = EC_GROUP_get_order(EC_KEY_get0_group(key), n.get(), ctx) == 1 &&
                  BN_bin2bn(dgst, len, m.get()) != nullptr &&
                  BN_mod_mul(s.get(), EC_KEY_get0_private_key(key), r, n.get(), ctx) == 1 &&
                  BN_mod_add(s.get(), s.get(), m.get(), n.get(), ctx) == 1 &&
                  BN_mod_mul(s.get(), s.get(), kinv, n.get(), ctx) == 1;
  BN_CTX_free(ctx);
  return ok ? std::move(s) : Bn();
}

// Signing with the values of ECDSA_sign_setup, whose k^-1 comes back with a
// word count found by masks: the signature is s = k^-1 (m + d r) mod n and
// verifies, bare and in DER, on each P curve.
TEST(Ecdsa, PrecomputedSetupSignsOnEachPrimeCurve) {
  const Bytes dgst = Digest("SHA-256", Bytes{'s', 'e', 't', 'u', 'p'});
  for (const char* sn : {"prime256v1", "secp384r1", "secp521r1"}) {
    Key key = Curve(sn);
    ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
    for (int round = 0; round < 3; round++) {
      BIGNUM* kinv = nullptr;
      BIGNUM* rp = nullptr;
      ASSERT_EQ(ECDSA_sign_setup(key.get(), nullptr, &kinv, &rp), 1) << sn;
      Bn kinv_owned(kinv), rp_owned(rp);
      Sig s(ECDSA_do_sign_ex(dgst.data(), 32, kinv, rp, key.get()));
      ASSERT_NE(s, nullptr) << sn;
      Bn want = ModelS(key.get(), dgst.data(), 32, kinv, rp);
      ASSERT_NE(want, nullptr);
      EXPECT_EQ(BN_cmp(s->r, rp), 0) << sn;
      EXPECT_EQ(BN_cmp(s->s, want.get()), 0) << sn;
      EXPECT_EQ(ECDSA_do_verify(dgst.data(), 32, s.get(), key.get()), 1) << sn;
      unsigned char der[160];
      unsigned int len = 0;
      ASSERT_EQ(ECDSA_sign_ex(0, dgst.data(), 32, der, &len, kinv, rp, key.get()), 1) << sn;
      EXPECT_EQ(ECDSA_verify(0, dgst.data(), 32, der, static_cast<int>(len), key.get()), 1) << sn;
    }
  }
  EXPECT_ERRORS({});
}

// Precomputed inverses of every length P-521's width (18 words) holds: a
// small one, one below 2^512 (16 words: a setup's k^-1 falls there one time
// in 512), and k^-1 + n, which signs as k^-1 does; one of 2^576 or more does
// not fit and fails.  r = x(k G) mod n with k = kinv^-1 mod n.
TEST(Ecdsa, PrecomputedInverseOfAnyLength) {
  Key key = Curve("secp521r1");
  ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
  const EC_GROUP* g = EC_KEY_get0_group(key.get());
  BN_CTX* ctx = BN_CTX_new();
  Bn n(BN_new());
  ASSERT_EQ(EC_GROUP_get_order(g, n.get(), ctx), 1);
  const Bytes dgst = Digest("SHA-512", Bytes{'w', 'i', 'd', 't', 'h'});
  const std::string below512 = "8" + std::string(126, '0') + "3039";  // 2^511 + 12345
  for (const std::string& hex : {std::string("1234567"), below512, std::string("3")}) {
    Bn kinv = HexBn(hex);
    Bn k(BN_mod_inverse(nullptr, kinv.get(), n.get(), ctx));
    ASSERT_NE(k, nullptr);
    Point kg(EC_POINT_new(g));
    Bn r(BN_new());
    ASSERT_EQ(EC_POINT_mul(g, kg.get(), k.get(), nullptr, nullptr, ctx), 1);
    ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, kg.get(), r.get(), nullptr, ctx), 1);
    ASSERT_EQ(BN_nnmod(r.get(), r.get(), n.get(), ctx), 1);
    Sig s(ECDSA_do_sign_ex(dgst.data(), 64, kinv.get(), r.get(), key.get()));
    ASSERT_NE(s, nullptr) << hex;
    EXPECT_EQ(ECDSA_do_verify(dgst.data(), 64, s.get(), key.get()), 1) << hex;
    Bn want = ModelS(key.get(), dgst.data(), 64, kinv.get(), r.get());
    ASSERT_NE(want, nullptr);
    EXPECT_EQ(BN_cmp(s->s, want.get()), 0) << hex;
    Bn plus_n(BN_new());
    ASSERT_EQ(BN_add(plus_n.get(), kinv.get(), n.get()), 1);
    Sig s2(ECDSA_do_sign_ex(dgst.data(), 64, plus_n.get(), r.get(), key.get()));
    ASSERT_NE(s2, nullptr) << hex;
    EXPECT_EQ(BN_cmp(s2->s, s->s), 0) << hex;
    EXPECT_EQ(BN_cmp(s2->r, s->r), 0) << hex;
  }
  Bn wide(BN_new());
  ASSERT_EQ(BN_set_bit(wide.get(), 576), 1);
  ASSERT_EQ(BN_add_word(wide.get(), 3), 1);
  Bn one = HexBn("1");
  EXPECT_EQ(ECDSA_do_sign_ex(dgst.data(), 64, wide.get(), one.get(), key.get()), nullptr);
  EXPECT_ERRORS({{ERR_LIB_ECDSA, ECDSA_F_ECDSA_DO_SIGN, ERR_R_BN_LIB}});
  BN_CTX_free(ctx);
}

// A private scalar given in a number with room for more words than it uses
// (EC_KEY_set_private_key copies it at that room, by masks): the key, and
// its copy, sign what the generated key's public point verifies.
TEST(Ecdsa, GivenScalarWithSpareRoomSigns) {
  for (const char* sn : {"prime256v1", "secp384r1", "secp521r1"}) {
    Key from = Curve(sn);
    ASSERT_EQ(EC_KEY_generate_key(from.get()), 1);
    Bn d(BN_new());
    ASSERT_NE(bn_expand2(d.get(), 40), nullptr);
    ASSERT_NE(BN_copy(d.get(), EC_KEY_get0_private_key(from.get())), nullptr);
    Key key = Curve(sn);
    ASSERT_EQ(EC_KEY_set_private_key(key.get(), d.get()), 1);
    ASSERT_EQ(EC_KEY_set_public_key(key.get(), EC_KEY_get0_public_key(from.get())), 1);
    EXPECT_EQ(BN_cmp(EC_KEY_get0_private_key(key.get()), d.get()), 0);
    EXPECT_EQ(EC_KEY_check_key(key.get()), 1) << sn;
    Key copy(EC_KEY_dup(key.get()));
    ASSERT_NE(copy, nullptr);
    const unsigned char dgst[32] = {7, 7, 7};
    for (EC_KEY* signer : {key.get(), copy.get()}) {
      Sig s(ECDSA_do_sign(dgst, 32, signer));
      ASSERT_NE(s, nullptr) << sn;
      EXPECT_EQ(ECDSA_do_verify(dgst, 32, s.get(), from.get()), 1) << sn;
    }
  }
  EXPECT_ERRORS({});
}

// The digest rule: against secp160r1's 161-bit order a 32-byte digest is cut
// to 21 bytes and shifted right by 7; against a 256-bit order 32 bytes are
// taken whole.  Signing with kinv = 1 and r = 1 makes s = m + d mod n, so
// with d = 1, s - 1 is the integer taken from the digest.
TEST(Ecdsa, DigestTruncation) {
  struct Row {
    const char* curve;
    int dgst_len;
    int shift;  // of the first ceil(bits/8) bytes
  };
  for (const Row& row :
       {Row{"secp160r1", 32, 7}, Row{"secp160r1", 20, 0}, Row{"prime256v1", 32, 0}}) {
    Key key = Curve(row.curve);
    Bn one(BN_new());
    BN_one(one.get());
    ASSERT_EQ(EC_KEY_set_private_key(key.get(), one.get()), 1);
    unsigned char dgst[32];
    for (int i = 0; i < 32; ++i) dgst[i] = static_cast<unsigned char>(0xA5 ^ (i * 29));
    Sig s(ECDSA_do_sign_ex(dgst, row.dgst_len, one.get(), one.get(), key.get()));
    ASSERT_NE(s, nullptr) << row.curve;
    Bn order(BN_new());
    EC_GROUP_get_order(EC_KEY_get0_group(key.get()), order.get(), nullptr);
    const int bits = BN_num_bits(order.get());
    const int take = row.dgst_len * 8 > bits ? (bits + 7) / 8 : row.dgst_len;
    Bn m(BN_bin2bn(dgst, take, nullptr));
    BN_rshift(m.get(), m.get(), row.shift);
    BN_add(m.get(), m.get(), one.get());
    BN_CTX* ctx = BN_CTX_new();
    BN_nnmod(m.get(), m.get(), order.get(), ctx);
    BN_CTX_free(ctx);
    EXPECT_EQ(BN_cmp(m.get(), s->s), 0) << row.curve << " " << row.dgst_len;
  }
}

// ---- published vectors ------------------------------------------------------

// Wycheproof ECDSA files with DER signatures (the prime-curve ones of this
// build): each valid case verifies, no invalid one does.
class EcdsaWycheproof : public testing::TestWithParam<const char*> {};

TEST_P(EcdsaWycheproof, File) {
  MORVANE_VECTOR_PATH_OR_SKIP(probe, std::string("wycheproof/ecdsa_") + GetParam() + "_test.json");
  const char* f = GetParam();
  {
    for (const bool p1363 : {false, true}) {
      const std::string name =
          std::string("wycheproof/ecdsa_") + f + (p1363 ? "_p1363_test.json" : "_test.json");
      const std::string path = morvane_test::VectorFile(name);
      if (path.empty()) continue;  // secp384r1_sha256 has no P1363 form
      int count = 0;
      for (const auto& t : morvane_test::ReadWycheproof(path)) {
        std::string curve = t.Get("publicKey.curve");
        if (curve == "secp256r1") curve = "prime256v1";
        if (curve == "secp192r1") curve = "prime192v1";
        Key key = Curve(curve.c_str());
        ASSERT_NE(key, nullptr) << curve;
        const EC_GROUP* g = EC_KEY_get0_group(key.get());
        const Bytes q = FromHex(t.Get("publicKey.uncompressed"));
        Point pt(EC_POINT_new(g));
        ASSERT_EQ(EC_POINT_oct2point(g, pt.get(), q.data(), q.size(), nullptr), 1);
        ASSERT_EQ(EC_KEY_set_public_key(key.get(), pt.get()), 1);
        std::string sha = t.Get("sha");
        const Bytes md = Digest(sha, FromHex(t.Get("msg")));
        const Bytes sig = FromHex(t.Get("sig"));
        int got;
        if (!p1363) {
          got = ECDSA_verify(0, md.data(), static_cast<int>(md.size()), sig.data(),
                             static_cast<int>(sig.size()), key.get());
        } else {
          Bn order(BN_new());
          EC_GROUP_get_order(g, order.get(), nullptr);
          const size_t half = (static_cast<size_t>(BN_num_bits(order.get())) + 7) / 8;
          got = 0;
          if (sig.size() == 2 * half) {
            Sig s(ECDSA_SIG_new());
            BN_bin2bn(sig.data(), static_cast<int>(half), s->r);
            BN_bin2bn(sig.data() + half, static_cast<int>(half), s->s);
            got = ECDSA_do_verify(md.data(), static_cast<int>(md.size()), s.get(), key.get());
          }
        }
        const std::string result = t.Get("result");
        if (result == "valid") {
          EXPECT_EQ(got, 1) << name << " tc " << t.id;
        } else if (result == "invalid") {
          EXPECT_NE(got, 1) << name << " tc " << t.id;
        }
        ERR_clear_error();
        ++count;
      }
      EXPECT_GT(count, 0) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, EcdsaWycheproof,
                         testing::Values("secp160k1_sha256", "secp160r1_sha256", "secp160r2_sha256",
                                         "secp192k1_sha256", "secp192r1_sha256", "secp224k1_sha224",
                                         "secp224k1_sha256", "secp224r1_sha224", "secp224r1_sha256",
                                         "secp224r1_sha512", "secp256k1_sha256", "secp256k1_sha512",
                                         "secp256r1_sha256", "secp256r1_sha512", "secp384r1_sha256",
                                         "secp384r1_sha512", "secp521r1_sha512"));

// NIST CAVP SigVer (FIPS 186-2 and 186-3 files), P curves: P cases verify,
// F cases do not.
TEST(EcdsaVectors, NistSigVer) {
  MORVANE_VECTOR_PATH_OR_SKIP(p3, "nist-cavp/dss/186-3ecdsatestvectors/SigVer.rsp");
  MORVANE_VECTOR_PATH_OR_SKIP(p2, "nist-cavp/dss/186-2ecdsatestvectors/SigVer.rsp");
  int count = 0;
  for (const std::string& path : {p2, p3}) {
    for (const auto& rec : morvane_test::ReadRsp(path)) {
      if (!rec.Has("Msg") || !rec.Has("Result")) continue;
      std::string curve, sha;
      SectionOf(rec, &curve, &sha);
      const char* sn = NistCurve(curve);
      if (sn == nullptr) continue;
      Key key = Curve(sn);
      ASSERT_TRUE(SetPublic(key.get(), rec.Get("Qx"), rec.Get("Qy")) ||
                  rec.Get("Result")[0] == 'F');
      ERR_clear_error();
      const Bytes md = Digest(sha, FromHex(rec.Get("Msg")));
      Sig s(ECDSA_SIG_new());
      BN_hex2bn(&s->r, rec.Get("R").c_str());
      BN_hex2bn(&s->s, rec.Get("S").c_str());
      const int got = ECDSA_do_verify(md.data(), static_cast<int>(md.size()), s.get(), key.get());
      EXPECT_EQ(got, rec.Get("Result")[0] == 'P' ? 1 : 0)
          << path << " " << curve << " " << rec.Get("R");
      ERR_clear_error();
      ++count;
    }
  }
  EXPECT_EQ(count, 75 + 375);
}

// NIST CAVP SigGen (FIPS 186-2 and 186-3 files, with d and k), P curves:
// ECDSA_do_sign_ex with kinv = k^-1 mod n and r = x(k G) mod n gives the
// published R and S.  The 186-2 file signs with SHA-1 throughout.
class EcdsaSigGen : public testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(EcdsaSigGen, KnownNonce) {
  MORVANE_VECTOR_PATH_OR_SKIP(p, std::string("nist-cavp/dss/") + GetParam().first + "/SigGen.txt");
  int count = 0;
  BN_CTX* ctx = BN_CTX_new();
  for (const std::string& path : {p}) {
    for (const auto& rec : morvane_test::ReadRsp(path)) {
      if (!rec.Has("k")) continue;
      std::string curve, sha;
      SectionOf(rec, &curve, &sha);
      const char* sn = NistCurve(curve);
      if (sn == nullptr) continue;
      Key key = Curve(sn);
      const EC_GROUP* g = EC_KEY_get0_group(key.get());
      Bn d = HexBn(rec.Get("d")), k = HexBn(rec.Get("k")), order(BN_new());
      ASSERT_EQ(EC_KEY_set_private_key(key.get(), d.get()), 1);
      ASSERT_TRUE(SetPublic(key.get(), rec.Get("Qx"), rec.Get("Qy")));
      EC_GROUP_get_order(g, order.get(), ctx);
      Bn kinv(BN_mod_inverse(nullptr, k.get(), order.get(), ctx));
      Point kg(EC_POINT_new(g));
      Bn x(BN_new());
      ASSERT_EQ(EC_POINT_mul(g, kg.get(), k.get(), nullptr, nullptr, ctx), 1);
      ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, kg.get(), x.get(), nullptr, ctx), 1);
      BN_nnmod(x.get(), x.get(), order.get(), ctx);
      const Bytes md = Digest(sha, FromHex(rec.Get("Msg")));
      Sig s(
          ECDSA_do_sign_ex(md.data(), static_cast<int>(md.size()), kinv.get(), x.get(), key.get()));
      ASSERT_NE(s, nullptr);
      Bn r = HexBn(rec.Get("R")), ss = HexBn(rec.Get("S"));
      EXPECT_EQ(BN_cmp(s->r, r.get()), 0) << path << " " << curve;
      EXPECT_EQ(BN_cmp(s->s, ss.get()), 0) << path << " " << curve;
      EXPECT_EQ(ECDSA_do_verify(md.data(), static_cast<int>(md.size()), s.get(), key.get()), 1);
      ++count;
    }
  }
  BN_CTX_free(ctx);
  EXPECT_EQ(count, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Files, EcdsaSigGen,
                         testing::Values(std::make_pair("186-2ecdsatestvectors", 75),
                                         std::make_pair("186-3ecdsatestvectors", 375)));

// The section's curve of a CAVP record ("[P-256]").
const char* RecordCurve(const morvane_test::RspRecord& rec) {
  std::string curve, sha;
  SectionOf(rec, &curve, &sha);
  return NistCurve(curve);
}

// NIST CAVP KeyPair (186-2 and 186-3), P curves: Q = d G.  The files are
// read line by line: in the 186-3 file the curve's header stands in a
// header block of its own, apart from the records it governs.
TEST(EcdsaVectors, NistKeyPair) {
  MORVANE_VECTOR_PATH_OR_SKIP(p2, "nist-cavp/dss/186-2ecdsatestvectors/KeyPair.rsp");
  MORVANE_VECTOR_PATH_OR_SKIP(p3, "nist-cavp/dss/186-3ecdsatestvectors/KeyPair.rsp");
  int count = 0;
  for (const std::string& path : {p2, p3}) {
    std::ifstream in(path);
    std::string line, curve, d, qx;
    while (std::getline(in, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (line.size() > 3 && line[0] == '[' && line[2] == '-' && line.back() == ']') {
        curve = line.substr(1, line.size() - 2);
      } else if (line.rfind("d = ", 0) == 0) {
        d = line.substr(4);
      } else if (line.rfind("Qx = ", 0) == 0) {
        qx = line.substr(5);
      } else if (line.rfind("Qy = ", 0) == 0) {
        const char* sn = NistCurve(curve);
        if (sn == nullptr) continue;
        Key key = Curve(sn);
        const EC_GROUP* g = EC_KEY_get0_group(key.get());
        Bn dn = HexBn(d), x(BN_new()), y(BN_new());
        Point q(EC_POINT_new(g));
        ASSERT_EQ(EC_POINT_mul(g, q.get(), dn.get(), nullptr, nullptr, nullptr), 1);
        ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, q.get(), x.get(), y.get(), nullptr), 1);
        EXPECT_EQ(BN_cmp(x.get(), HexBn(qx).get()), 0) << path << " " << sn << " " << d;
        EXPECT_EQ(BN_cmp(y.get(), HexBn(line.substr(5)).get()), 0) << path << " " << sn << " " << d;
        ++count;
      }
    }
  }
  EXPECT_EQ(count, 50 + 50);
}

// NIST CAVP PKV (186-2 and 186-3), P curves: the point as X9.62 octets
// through o2i_ECPublicKey and EC_KEY_check_key.  P cases pass; F cases fail
// with their fault's reason: a coordinate out of range is no valid encoding,
// a point off the curve is refused as such.
TEST(EcdsaVectors, NistPublicKeyValidation) {
  MORVANE_VECTOR_PATH_OR_SKIP(p2, "nist-cavp/dss/186-2ecdsatestvectors/PKV.rsp");
  MORVANE_VECTOR_PATH_OR_SKIP(p3, "nist-cavp/dss/186-3ecdsatestvectors/PKV.rsp");
  int count = 0;
  for (const std::string& path : {p2, p3}) {
    for (const auto& rec : morvane_test::ReadRsp(path)) {
      const char* sn = RecordCurve(rec);
      if (sn == nullptr || !rec.Has("Result")) continue;
      Key key = Curve(sn);
      const size_t flen =
          (static_cast<size_t>(EC_GROUP_get_degree(EC_KEY_get0_group(key.get()))) + 7) / 8;
      auto pad = [flen](std::string hex) {
        if (hex.size() % 2) hex = "0" + hex;
        while (hex.size() < 2 * flen) hex = "00" + hex;
        return hex;
      };
      const Bytes oct = FromHex("04" + pad(rec.Get("Qx")) + pad(rec.Get("Qy")));
      EC_KEY* k = key.get();
      const unsigned char* p = oct.data();
      ERR_clear_error();
      const bool ok = o2i_ECPublicKey(&k, &p, static_cast<long>(oct.size())) != nullptr &&
                      EC_KEY_check_key(key.get()) == 1;
      const std::string result = rec.Get("Result");
      if (result[0] == 'P') {
        EXPECT_TRUE(ok) << path << " " << rec.Get("Qx");
      } else {
        EXPECT_FALSE(ok) << path << " " << rec.Get("Qx");
        const int want = result.find("out of range") != std::string::npos
                             ? EC_R_INVALID_ENCODING
                             : EC_R_POINT_IS_NOT_ON_CURVE;
        bool found = false;
        for (unsigned long e; (e = ERR_get_error()) != 0;)
          found = found || (ERR_GET_LIB(e) == ERR_LIB_EC && ERR_GET_REASON(e) == want);
        EXPECT_TRUE(found) << path << " " << result;
      }
      ERR_clear_error();
      ++count;
    }
  }
  EXPECT_EQ(count, 60 + 60);
}

}  // namespace
