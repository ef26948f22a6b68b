// The elliptic-curve parameter and key encodings through the public API:
// named and explicit parameters, the limits of explicit fields, private keys
// and their flags, public points as octets, and the Wycheproof public keys.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/x509.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ec_key_handles.h"
#include "test_support.h"

namespace {

using ec_key_test::Bn;
using ec_key_test::Group;
using ec_key_test::Key;
using morvane_test::Bytes;
using morvane_test::ErrorsAre;
using morvane_test::FromHex;

constexpr int kP256 = 415;  // prime256v1
constexpr int kSecp256k1 = 714;

// ---- a small DER writer -------------------------------------------------------

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 128) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n < 256) {
    out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
  } else if (n < 65536) {
    out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x83, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Seq(std::initializer_list<Bytes> parts) {
  return Tlv(0x30, Cat(parts));
}
Bytes Int(long v) {
  Bytes c;
  do {
    c.insert(c.begin(), static_cast<uint8_t>(v & 0xFF));
    v >>= 8;
  } while (v != 0);
  if (c[0] & 0x80) c.insert(c.begin(), 0);
  return Tlv(0x02, c);
}
// A positive INTEGER of the given big-endian magnitude.
Bytes IntBytes(Bytes mag) {
  if (mag.empty() || (mag[0] & 0x80)) mag.insert(mag.begin(), 0);
  return Tlv(0x02, mag);
}
Bytes Octets(const Bytes& b) {
  return Tlv(0x04, b);
}
// 1.2.840.10045 followed by the given arcs (each below 128).
Bytes X962Oid(std::initializer_list<uint8_t> arcs) {
  Bytes c{0x2A, 0x86, 0x48, 0xCE, 0x3D};
  c.insert(c.end(), arcs);
  return Tlv(0x06, c);
}

// Explicit parameters over a characteristic-two field with the given basis.
Bytes CharTwoParams(long m, const Bytes& basis_oid, const Bytes& basis) {
  const Bytes field = Seq({X962Oid({1, 2}), Seq({Int(m), basis_oid, basis})});
  return Seq({Int(1), field, Seq({Octets({1}), Octets({1})}), Octets({4, 1, 1}), Int(7), Int(2)});
}

// ---- helpers ---------------------------------------------------------------

// The TLV at der[at]: where its content starts, and its length (short form
// or one or two length octets).
size_t ContentAt(const Bytes& der, size_t at) {
  return at + 2 + (der[at + 1] < 0x80 ? 0 : der[at + 1] & 0x7F);
}
size_t LengthAt(const Bytes& der, size_t at) {
  const size_t n = der[at + 1] < 0x80 ? 0 : der[at + 1] & 0x7F;
  size_t len = n == 0 ? der[at + 1] : 0;
  for (size_t i = 0; i < n; i++) len = len << 8 | der[at + 2 + i];
  return len;
}
// The content octets of the TLV at the start of der, less its last `drop`.
Bytes Content(const Bytes& der, size_t drop = 0) {
  return Bytes(der.begin() + static_cast<long>(ContentAt(der, 0)),
               der.end() - static_cast<long>(drop));
}

Bytes Encode(const EC_GROUP* g) {
  const int n = i2d_ECPKParameters(g, nullptr);
  if (n <= 0) return {};
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  EXPECT_EQ(i2d_ECPKParameters(g, &p), n);
  return out;
}

Group Decode(const Bytes& der) {
  const unsigned char* p = der.data();
  return Group(d2i_ECPKParameters(nullptr, &p, static_cast<long>(der.size())));
}

// True when the error queue holds an EC entry with this reason (emptying it).
bool QueueHasReason(int reason) {
  bool found = false;
  unsigned long e;
  while ((e = ERR_get_error()) != 0)
    if (ERR_GET_LIB(e) == ERR_LIB_EC && ERR_GET_REASON(e) == reason) found = true;
  return found;
}

// ---- parameters --------------------------------------------------------------

TEST(EcParameters, NamedCurveIsItsObjectIdentifier) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_asn1_flag(g.get(), 1);
  EXPECT_EQ(morvane_test::ToHex(Encode(g.get())), "06082a8648ce3d030107");
  Group back = Decode(Encode(g.get()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(EC_GROUP_get_asn1_flag(back.get()), 1);
  EXPECT_EQ(EC_GROUP_get_curve_name(back.get()), kP256);
}

TEST(EcParameters, ExplicitFormHasVersionOneAndClearsTheFlag) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_asn1_flag(g.get(), 0);
  const Bytes der = Encode(g.get());
  ASSERT_GT(der.size(), 5u);
  EXPECT_EQ(der[0], 0x30);
  // SEQUENCE (long form length) { INTEGER 1, ...
  EXPECT_EQ(morvane_test::ToHex(Bytes(der.begin() + 3, der.begin() + 6)), "020101");
  Group back = Decode(der);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(EC_GROUP_get_asn1_flag(back.get()), 0);
  EXPECT_EQ(EC_GROUP_get_curve_name(back.get()), 0);
  EXPECT_EQ(EC_GROUP_cmp(g.get(), back.get(), nullptr), 0);
  // The seed travels with the explicit form.
  ASSERT_NE(EC_GROUP_get0_seed(g.get()), nullptr);
  ASSERT_EQ(EC_GROUP_get_seed_len(back.get()), EC_GROUP_get_seed_len(g.get()));
}

TEST(EcParameters, FlagWithoutCurveNameCannotBeEncoded) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_curve_name(g.get(), 0);
  EC_GROUP_set_asn1_flag(g.get(), 1);
  ERR_clear_error();
  EXPECT_EQ(i2d_ECPKParameters(g.get(), nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_I2D_ECPKPARAMETERS, EC_R_GROUP2PKPARAMETERS_FAILURE}}));
}

// The coefficients are written at the field's length, ceil(degree / 8)
// octets, on every built-in curve (X9.62 4.3.3, SEC 1 2.3.5: peers refuse
// the shortest form); the shortest form is still read.
TEST(EcParameters, CoefficientsAtTheFieldLength) {
  std::vector<EC_builtin_curve> curves(EC_get_builtin_curves(nullptr, 0));
  EC_get_builtin_curves(curves.data(), curves.size());
  for (const EC_builtin_curve& c : curves) {
    Group g(EC_GROUP_new_by_curve_name(c.nid));
    ASSERT_NE(g, nullptr) << OBJ_nid2sn(c.nid);
    EC_GROUP_set_asn1_flag(g.get(), 0);
    const Bytes der = Encode(g.get());
    // SEQUENCE { version, fieldID, curve SEQUENCE { a, b, ... }, ... }
    size_t at = ContentAt(der, 0);
    for (int skip = 0; skip < 2; skip++) at = ContentAt(der, at) + LengthAt(der, at);
    ASSERT_EQ(der[at], 0x30) << OBJ_nid2sn(c.nid);
    at = ContentAt(der, at);
    const size_t len = (static_cast<size_t>(EC_GROUP_get_degree(g.get())) + 7) / 8;
    ASSERT_EQ(der[at], 0x04);
    EXPECT_EQ(LengthAt(der, at), len) << OBJ_nid2sn(c.nid) << " a";
    at = ContentAt(der, at) + LengthAt(der, at);
    ASSERT_EQ(der[at], 0x04);
    EXPECT_EQ(LengthAt(der, at), len) << OBJ_nid2sn(c.nid) << " b";
  }
  // secp256k1: a = 0 and b = 7 as 32 octets; as 00 and 07 they still read.
  Group k1(EC_GROUP_new_by_curve_name(kSecp256k1));
  EC_GROUP_set_asn1_flag(k1.get(), 0);
  const Bytes der = Encode(k1.get());
  std::string hex = morvane_test::ToHex(Content(der));
  const std::string ab = "30440420" + std::string(64, '0') + "0420" + std::string(62, '0') + "07";
  const size_t at = hex.find(ab);
  ASSERT_NE(at, std::string::npos) << hex;
  Group back = Decode(Tlv(0x30, FromHex(hex.replace(at, ab.size(), "3006040100040107"))));
  ASSERT_NE(back, nullptr) << morvane_test::DrainErrors();
  EXPECT_EQ(EC_GROUP_cmp(k1.get(), back.get(), nullptr), 0);
  EXPECT_EQ(Encode(back.get()), der);
}

// Every prime-field named curve: explicit parameters encode, decode and
// compare equal.
TEST(EcParameters, ExplicitPrimeCurvesRoundTrip) {
  std::vector<EC_builtin_curve> curves(EC_get_builtin_curves(nullptr, 0));
  EC_get_builtin_curves(curves.data(), curves.size());
  int prime = 0;
  for (const EC_builtin_curve& c : curves) {
    Group g(EC_GROUP_new_by_curve_name(c.nid));
    if (g == nullptr) continue;  // the binary curves need the GF(2^m) method
    if (EC_METHOD_get_field_type(EC_GROUP_method_of(g.get())) != 406) continue;
    ++prime;
    EC_GROUP_set_asn1_flag(g.get(), 0);
    const Bytes der = Encode(g.get());
    ASSERT_FALSE(der.empty()) << OBJ_nid2sn(c.nid);
    Group back = Decode(der);
    ASSERT_NE(back, nullptr) << OBJ_nid2sn(c.nid);
    EXPECT_EQ(EC_GROUP_cmp(g.get(), back.get(), nullptr), 0) << OBJ_nid2sn(c.nid);
    EXPECT_EQ(Encode(back.get()), der) << OBJ_nid2sn(c.nid);
  }
  ERR_clear_error();
  EXPECT_EQ(prime, 25);
}

// Parameters without cofactor decode to a group without cofactor, whose
// encoding leaves the field out (a cofactor of 0 is refused with the other
// cofactors the curve cannot have, ExplicitFieldLimits).
TEST(EcParameters, AbsentCofactorIsLeftOut) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_asn1_flag(g.get(), 0);
  Bytes der = Encode(g.get());
  ASSERT_EQ(morvane_test::ToHex(Bytes(der.end() - 3, der.end())), "020101");
  der = Tlv(0x30, Content(der, 3));  // no cofactor
  Group none = Decode(der);
  ASSERT_NE(none, nullptr) << morvane_test::DrainErrors();
  const Bytes again = Encode(none.get());
  ASSERT_FALSE(again.empty()) << morvane_test::DrainErrors();
  EXPECT_EQ(again, der);
  EXPECT_EQ(morvane_test::ToHex(Bytes(again.end() - 3, again.end())), "632551");  // the order's end
}

TEST(EcParameters, ImplicitlyCaGivesNoGroup) {
  ERR_clear_error();
  EXPECT_EQ(Decode({0x05, 0x00}), nullptr);
  EXPECT_TRUE(QueueHasReason(EC_R_PKPARAMETERS2GROUP_FAILURE));
}

// A failed decoding leaves *in where it was (a curve this library does not
// know moved it) and says why.
TEST(EcParameters, FailedDecodingLeavesTheInput) {
  for (const Bytes& der : {FromHex("06032a0304"), FromHex("0500")}) {
    const unsigned char* p = der.data();
    EXPECT_EQ(d2i_ECPKParameters(nullptr, &p, static_cast<long>(der.size())), nullptr);
    EXPECT_EQ(p, der.data());
    p = der.data();
    EXPECT_EQ(d2i_ECParameters(nullptr, &p, static_cast<long>(der.size())), nullptr);
    EXPECT_EQ(p, der.data());
    EXPECT_TRUE(QueueHasReason(EC_R_PKPARAMETERS2GROUP_FAILURE));
  }
}

struct LimitCase {
  const char* name;
  Bytes der;
  int reason;      // the reason queued, or 0
  int not_reason;  // a reason that must not be queued
};

// The explicit P-256 parameters with another order (and the cofactor 1, or
// none).
Bytes P256WithOrderBits(int bits, bool cofactor = true) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_asn1_flag(g.get(), 0);
  Bytes der = Encode(g.get());
  // Replace the order INTEGER (02 21 00 FF FF FF FF 00 ...) with 2^bits - 1.
  const Bytes order_head = FromHex("022100ffffffff00000000ffffffffffffffff");
  auto at = std::search(der.begin(), der.end(), order_head.begin(), order_head.end());
  EXPECT_NE(at, der.end());
  Bytes mag((static_cast<size_t>(bits) + 7) / 8, 0xFF);
  if (bits % 8) mag[0] = static_cast<uint8_t>((1u << (bits % 8)) - 1);
  const Bytes repl = IntBytes(mag);
  const size_t hdr = der[1] < 0x80 ? 2 : 2 + (der[1] & 0x7F);
  Bytes body(der.begin() + static_cast<long>(hdr), at);
  body.insert(body.end(), repl.begin(), repl.end());
  body.insert(body.end(), at + 35, der.end() - (cofactor ? 0 : 3));
  return Tlv(0x30, body);
}

// The explicit P-256 parameters with the cofactor INTEGER given.
Bytes P256WithCofactor(const Bytes& cofactor) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_asn1_flag(g.get(), 0);
  const Bytes der = Encode(g.get());
  return Tlv(0x30, Cat({Content(der, 3), cofactor}));
}

// A generator whose first octet names no form is refused before that octet
// becomes the group's form.
TEST(EcParameters, GeneratorOfNoFormIsRefused) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_asn1_flag(g.get(), 0);
  Bytes der = Encode(g.get());
  const Bytes base_head = {0x04, 0x41, 0x04};
  auto at = std::search(der.begin(), der.end(), base_head.begin(), base_head.end());
  ASSERT_NE(at, der.end());
  at[2] = 0xFB;
  ERR_clear_error();
  EXPECT_EQ(Decode(der), nullptr);
  EXPECT_TRUE(QueueHasReason(EC_R_INVALID_ENCODING));
}

TEST(EcParameters, ExplicitFieldLimits) {
  const Bytes tp = X962Oid({1, 2, 3, 2}), pp = X962Oid({1, 2, 3, 3}), on = X962Oid({1, 2, 3, 1});
  Bytes p662(83, 0xFF);
  p662[0] = 0x3F;  // 662 bits
  const Bytes prime662 = Seq({Int(1), Seq({X962Oid({1, 1}), IntBytes(p662)}),
                              Seq({Octets({1}), Octets({1})}), Octets({4, 1, 1}), Int(7)});
  const LimitCase cases[] = {
      {"degree 662", CharTwoParams(662, tp, Int(1)), EC_R_FIELD_TOO_LARGE, 0},
      {"degree 661", CharTwoParams(661, tp, Int(1)), 0, EC_R_FIELD_TOO_LARGE},
      {"prime of 662 bits", prime662, EC_R_FIELD_TOO_LARGE, 0},
      {"trinomial k = m", CharTwoParams(163, tp, Int(163)), EC_R_INVALID_TRINOMIAL_BASIS, 0},
      {"trinomial k = 0", CharTwoParams(163, tp, Int(0)), EC_R_INVALID_TRINOMIAL_BASIS, 0},
      {"pentanomial k1 = k2", CharTwoParams(163, pp, Seq({Int(3), Int(3), Int(7)})),
       EC_R_INVALID_PENTANOMIAL_BASIS, 0},
      {"onBasis", CharTwoParams(163, on, Tlv(0x05, {})), EC_R_NOT_IMPLEMENTED, 0},
      {"order of field bits + 2", P256WithOrderBits(258), EC_R_INVALID_GROUP_ORDER, 0},
      // h >= 1, and h n within q + 1 -+ 2 sqrt(q) (Hasse).
      {"cofactor -1", P256WithCofactor(Tlv(0x02, {0xFF})), EC_R_INVALID_COFACTOR, 0},
      {"cofactor 0", P256WithCofactor(Int(0)), EC_R_INVALID_COFACTOR, 0},
      {"cofactor 2", P256WithCofactor(Int(2)), EC_R_INVALID_COFACTOR, 0},
      {"cofactor n",
       P256WithCofactor(
           IntBytes(FromHex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551"))),
       EC_R_INVALID_COFACTOR, 0},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    ERR_clear_error();
    EXPECT_EQ(Decode(c.der), nullptr);
    const int want = c.reason != 0 ? c.reason : c.not_reason;
    EXPECT_EQ(QueueHasReason(want), c.reason != 0);
  }
  // Field bits + 1 passes the order test (without a cofactor to weigh it).
  Group g = Decode(P256WithOrderBits(257, false));
  EXPECT_NE(g, nullptr) << morvane_test::DrainErrors();
  ERR_clear_error();
}

// The binary-field bases need the GF(2^m) curve method for their groups.
TEST(EcParameters, BinaryBasesRoundTrip) {
  Group g(EC_GROUP_new_by_curve_name(OBJ_sn2nid("sect163k1")));
  if (g == nullptr) {
    ERR_clear_error();
    GTEST_SKIP() << "the GF(2^m) curve method (EC_GF2m_simple_method) is not built";
  }
  unsigned int k1 = 0, k2 = 0, k3 = 0;
  EXPECT_EQ(EC_GROUP_get_basis_type(g.get()), 683);
  EXPECT_EQ(EC_GROUP_get_pentanomial_basis(g.get(), &k1, &k2, &k3), 1);
  EXPECT_EQ(k1, 3u);
  EXPECT_EQ(k2, 6u);
  EXPECT_EQ(k3, 7u);
  EC_GROUP_set_asn1_flag(g.get(), 0);
  Group back = Decode(Encode(g.get()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(EC_GROUP_cmp(g.get(), back.get(), nullptr), 0);
}

TEST(EcParameters, BasisQueriesOnAPrimeGroup) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  unsigned int k = 0;
  EXPECT_EQ(EC_GROUP_get_basis_type(g.get()), 0);
  EXPECT_EQ(EC_GROUP_get_trinomial_basis(g.get(), &k), 0);
  EXPECT_EQ(EC_GROUP_get_pentanomial_basis(g.get(), &k, &k, &k), 0);
  EXPECT_TRUE(ErrorsAre(
      {{ERR_LIB_EC, EC_F_EC_GROUP_GET_TRINOMIAL_BASIS, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED},
       {ERR_LIB_EC, EC_F_EC_GROUP_GET_PENTANOMIAL_BASIS, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED}}));
  EXPECT_EQ(EC_GROUP_get_trinomial_basis(nullptr, &k), 0);
  EXPECT_TRUE(ErrorsAre({}));
}

TEST(EcParameters, KeyFormsKeepOrDropTheKey) {
  const Bytes der = FromHex("06082a8648ce3d030107");
  const unsigned char* p = der.data();
  EC_KEY* made = nullptr;
  ASSERT_NE(d2i_ECParameters(&made, &p, static_cast<long>(der.size())), nullptr);
  EXPECT_EQ(p, der.data() + der.size());
  Key key(made);
  Bytes out(static_cast<size_t>(i2d_ECParameters(key.get(), nullptr)));
  unsigned char* q = out.data();
  EXPECT_EQ(i2d_ECParameters(key.get(), &q), 10);
  EXPECT_EQ(out, der);
  // A failure keeps a key the caller gave and drops one the call made.
  const Bytes bad = {0x06, 0x01, 0x00};
  p = bad.data();
  EC_KEY* given = key.get();
  EXPECT_EQ(d2i_ECParameters(&given, &p, 3), nullptr);
  EXPECT_EQ(given, key.get());
  made = nullptr;
  p = bad.data();
  EXPECT_EQ(d2i_ECParameters(&made, &p, 3), nullptr);
  EXPECT_EQ(made, nullptr);
  ERR_clear_error();
  EXPECT_EQ(i2d_ECParameters(nullptr, nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_I2D_ECPARAMETERS, ERR_R_PASSED_NULL_PARAMETER}}));
}

// A base point at infinity (the single octet 00) is no generator: with it
// one signature, made from a public point alone, verified for every digest.
// The decoder and EC_GROUP_set_generator refuse it, the group unchanged.
TEST(EcParameters, GeneratorAtInfinityIsRefused) {
  Group g(EC_GROUP_new_by_curve_name(kP256));
  EC_GROUP_set_asn1_flag(g.get(), 0);
  Bytes body = Content(Encode(g.get()));
  const Bytes base_head = {0x04, 0x41, 0x04};
  auto at = std::search(body.begin(), body.end(), base_head.begin(), base_head.end());
  ASSERT_NE(at, body.end());
  at = body.erase(at, at + 2 + 65);
  body.insert(at, {0x04, 0x01, 0x00});
  ERR_clear_error();
  EXPECT_EQ(Decode(Tlv(0x30, body)), nullptr);
  EXPECT_TRUE(QueueHasReason(EC_R_POINT_AT_INFINITY));
  ec_key_test::Point inf(EC_POINT_new(g.get()));
  Bn order(BN_new());
  ASSERT_EQ(EC_POINT_set_to_infinity(g.get(), inf.get()), 1);
  ASSERT_EQ(EC_GROUP_get_order(g.get(), order.get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_set_generator(g.get(), inf.get(), order.get(), BN_value_one()), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_EC_GROUP_SET_GENERATOR, EC_R_POINT_AT_INFINITY}}));
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), EC_GROUP_get0_generator(g.get())), 0);
  EXPECT_EQ(EC_GROUP_check(g.get(), nullptr), 1);
}

// ---- private keys ---------------------------------------------------------------

Key GeneratedKey(int nid) {
  Key k(EC_KEY_new_by_curve_name(nid));
  EXPECT_EQ(EC_KEY_generate_key(k.get()), 1);
  return k;
}

Bytes EncodePrivate(EC_KEY* k) {
  const int n = i2d_ECPrivateKey(k, nullptr);
  if (n <= 0) return {};
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  EXPECT_EQ(i2d_ECPrivateKey(k, &p), n);
  return out;
}

TEST(EcPrivateKey, RoundTripsNamedAndExplicit) {
  for (const int asn1_flag : {1, 0}) {
    Key k = GeneratedKey(kP256);
    EC_KEY_set_asn1_flag(k.get(), asn1_flag);
    const Bytes der = EncodePrivate(k.get());
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    Key back(d2i_ECPrivateKey(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(p, der.data() + der.size());
    EXPECT_EQ(BN_cmp(EC_KEY_get0_private_key(back.get()), EC_KEY_get0_private_key(k.get())), 0);
    EXPECT_EQ(EC_POINT_cmp(EC_KEY_get0_group(k.get()), EC_KEY_get0_public_key(back.get()),
                           EC_KEY_get0_public_key(k.get()), nullptr),
              0);
    EXPECT_EQ(EC_GROUP_get_asn1_flag(EC_KEY_get0_group(back.get())), asn1_flag);
    EXPECT_EQ(EC_KEY_check_key(back.get()), 1);
    EXPECT_EQ(EncodePrivate(back.get()), der);
  }
}

TEST(EcPrivateKey, EncodingFlags) {
  Key k = GeneratedKey(kP256);
  EC_KEY_set_enc_flags(k.get(), EC_PKEY_NO_PARAMETERS | EC_PKEY_NO_PUBKEY);
  const Bytes der = EncodePrivate(k.get());
  // SEQUENCE { INTEGER 1, OCTET STRING scalar (32 octets) } and nothing else.
  ASSERT_EQ(der.size(), static_cast<size_t>(2 + 3 + 2 + 32));
  EXPECT_EQ(der[2], 0x02);
  EXPECT_EQ(der[5], 0x04);
  // Without parameters the key must bring its group.
  const unsigned char* p = der.data();
  ERR_clear_error();
  EXPECT_EQ(d2i_ECPrivateKey(nullptr, &p, static_cast<long>(der.size())), nullptr);
  EXPECT_TRUE(QueueHasReason(ERR_R_EC_LIB));
  EC_KEY* into = EC_KEY_new_by_curve_name(kP256);
  p = der.data();
  ASSERT_EQ(d2i_ECPrivateKey(&into, &p, static_cast<long>(der.size())), into);
  EXPECT_EQ(BN_cmp(EC_KEY_get0_private_key(into), EC_KEY_get0_private_key(k.get())), 0);
  EC_KEY_free(into);
}

TEST(EcPrivateKey, RefusedEncodings) {
  // A zero scalar is no private key.
  Key zero(EC_KEY_new_by_curve_name(kP256));
  Bn z(BN_new());
  BN_zero(z.get());
  EC_KEY_set_private_key(zero.get(), z.get());
  EC_KEY_set_enc_flags(zero.get(), EC_PKEY_NO_PUBKEY);
  ERR_clear_error();
  EXPECT_EQ(i2d_ECPrivateKey(zero.get(), nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_I2D_ECPRIVATEKEY, EC_R_INVALID_PRIVATE_KEY}}));
  // A key without public point needs the no-public-key flag.
  Key nopub(EC_KEY_new_by_curve_name(kP256));
  Bn one(BN_new());
  BN_one(one.get());
  EC_KEY_set_private_key(nopub.get(), one.get());
  EXPECT_EQ(i2d_ECPrivateKey(nopub.get(), nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_I2D_ECPRIVATEKEY, ERR_R_EC_LIB}}));
  // Without scalar or key.
  Key noscalar(EC_KEY_new_by_curve_name(kP256));
  EXPECT_EQ(i2d_ECPrivateKey(noscalar.get(), nullptr), 0);
  EXPECT_EQ(i2d_ECPrivateKey(nullptr, nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_I2D_ECPRIVATEKEY, ERR_R_PASSED_NULL_PARAMETER},
                         {ERR_LIB_EC, EC_F_I2D_ECPRIVATEKEY, ERR_R_PASSED_NULL_PARAMETER}}));
}

// The scalar is written at the order's length, ceil(bits(n) / 8) octets
// (RFC 5915, 3): a key of 5 on P-256 is 31 zeros and 05.
TEST(EcPrivateKey, ScalarAtTheOrderLength) {
  Bn five(BN_new());
  ASSERT_EQ(BN_set_word(five.get(), 5), 1);
  for (const auto& [sn, len] : {std::pair{"prime256v1", 32}, std::pair{"secp521r1", 66},
                                std::pair{"sect163k1", 21}, std::pair{"secp160k1", 21}}) {
    Key k(EC_KEY_new_by_curve_name(OBJ_sn2nid(sn)));
    ASSERT_EQ(EC_KEY_set_private_key(k.get(), five.get()), 1);
    EC_KEY_set_enc_flags(k.get(), EC_PKEY_NO_PARAMETERS | EC_PKEY_NO_PUBKEY);
    Bytes scalar(static_cast<size_t>(len) - 1, 0);
    scalar.push_back(5);
    const Bytes want = Seq({Int(1), Octets(scalar)});
    EXPECT_EQ(EncodePrivate(k.get()), want) << sn;
  }
  EXPECT_TRUE(ErrorsAre({}));
}

// A scalar outside 1 <= d < n, the order, is refused before anything is
// computed from it, by the decoder and the readers over it (d = 0 was
// signed with, and such keys were written in a form EVP_PKCS82PKEY
// refuses), and the encoder no longer writes one; zero octets in front of
// a scalar in range are taken.
TEST(EcPrivateKey, ScalarOutsideTheOrderIsRefused) {
  // P-256's order n and generator (SEC 2, 2.4.2), the generator as the
  // public point so that d2i_AutoPrivateKey sees four elements.
  const Bytes n = FromHex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551");
  const Bytes g = FromHex(
      "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296"
      "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
  Bytes n_less = n, n_more = n;
  n_less.back()--;
  n_more.back()++;
  const struct {
    const char* what;
    Bytes d;
    bool taken;
  } rows[] = {
      {"0", {0}, false},        {"n", n, false},
      {"n + 1", n_more, false}, {"1 MB", Bytes(1 << 20, 0x5a), false},
      {"1", {1}, true},         {"n - 1 after 40 zeros", Cat({Bytes(40, 0), n_less}), true}};
  for (const auto& row : rows) {
    const Bytes der = Seq({Int(1), Octets(row.d), Tlv(0xA0, FromHex("06082a8648ce3d030107")),
                           Tlv(0xA1, Tlv(0x03, Cat({{0}, g})))});
    const auto len = static_cast<long>(der.size());
    const unsigned char *p = der.data(), *q = der.data();
    BIO* pem = BIO_new(BIO_s_mem());
    PEM_write_bio(pem, "EC PRIVATE KEY", const_cast<char*>(""), const_cast<uint8_t*>(p), len);
    Key key(d2i_ECPrivateKey(nullptr, &p, len));
    EVP_PKEY* auto_key = d2i_AutoPrivateKey(nullptr, &q, len);
    EVP_PKEY* read = PEM_read_bio_PrivateKey(pem, nullptr, nullptr, nullptr);
    EXPECT_EQ(row.taken ? 3 : 0, (key != nullptr) + (auto_key != nullptr) + (read != nullptr))
        << row.what;
    EXPECT_EQ(!row.taken, QueueHasReason(EC_R_INVALID_PRIVATE_KEY)) << row.what;
    EVP_PKEY_free(auto_key);
    EVP_PKEY_free(read);
    BIO_free(pem);
  }
  // On every named curve 1 and n - 1 are written and read back; n is not
  // written.
  std::vector<EC_builtin_curve> curves(EC_get_builtin_curves(nullptr, 0));
  EC_get_builtin_curves(curves.data(), curves.size());
  for (const EC_builtin_curve& c : curves) {
    Key k(EC_KEY_new_by_curve_name(c.nid));
    EC_KEY_set_enc_flags(k.get(), EC_PKEY_NO_PUBKEY);
    Bn order(BN_new()), less(BN_new());
    ASSERT_EQ(EC_GROUP_get_order(EC_KEY_get0_group(k.get()), order.get(), nullptr), 1);
    ASSERT_EQ(BN_sub(less.get(), order.get(), BN_value_one()), 1);
    for (const BIGNUM* d : {BN_value_one(), static_cast<const BIGNUM*>(less.get())}) {
      ASSERT_EQ(EC_KEY_set_private_key(k.get(), d), 1);
      const Bytes der = EncodePrivate(k.get());
      const unsigned char* p = der.data();
      EXPECT_NE(Key(d2i_ECPrivateKey(nullptr, &p, static_cast<long>(der.size()))), nullptr)
          << OBJ_nid2sn(c.nid);
    }
    ASSERT_EQ(EC_KEY_set_private_key(k.get(), order.get()), 1);
    EXPECT_TRUE(EncodePrivate(k.get()).empty()) << OBJ_nid2sn(c.nid);
    ERR_clear_error();
  }
}

// Every allocation of an encoding with explicit parameters may fail: the
// encoder then returns 0 with a reason and leaves no block behind (the
// order's and the cofactor's INTEGERs were lost when their conversion
// failed).
TEST(EcPrivateKey, FailedAllocationsLeaveNothingBehind) {
  if (!morvane_test::InstallCountingAllocator()) GTEST_SKIP() << "needs a fresh process";
  Key k = GeneratedKey(kP256);
  EC_KEY_set_asn1_flag(k.get(), 0);
  const Bytes want = EncodePrivate(k.get());
  ASSERT_FALSE(want.empty());
  ERR_clear_error();
  const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
  EncodePrivate(k.get());
  const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
  const long requests = after.mallocs + after.reallocs - before.mallocs - before.reallocs;
  ASSERT_GT(requests, 10);
  for (long n = 1; n <= requests; n++) {
    unsigned char* out = nullptr;
    morvane_test::FailAllocationAfter(n);
    const int len = i2d_ECPrivateKey(k.get(), &out);
    morvane_test::FailAllocationAfter(0);
    if (len > 0) {
      EXPECT_EQ(want, Bytes(out, out + len)) << n;
      MORVANE_free(out);
    } else {
      EXPECT_NE(ERR_peek_error(), 0UL) << n;
    }
    ERR_clear_error();
    EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, after.live_blocks) << n;
  }
}

TEST(EcPrivateKey, ImplicitlyCaParametersFail) {
  // SEQUENCE { 1, OCTET STRING 01, [0] { NULL } }
  const Bytes der = Seq({Int(1), Octets({1}), Tlv(0xA0, Tlv(0x05, {}))});
  EC_KEY* into = EC_KEY_new_by_curve_name(kP256);
  const unsigned char* p = der.data();
  ERR_clear_error();
  EXPECT_EQ(d2i_ECPrivateKey(&into, &p, static_cast<long>(der.size())), nullptr);
  EXPECT_EQ(into, nullptr);
  EXPECT_TRUE(QueueHasReason(ERR_R_EC_LIB));
}

TEST(EcPrivateKey, MissingOrBrokenParts) {
  // A public key that is no point of the curve.
  const Bytes bad_point = Seq({Int(1), Octets({1}), Tlv(0xA0, FromHex("06082a8648ce3d030107")),
                               Tlv(0xA1, Tlv(0x03, {0x00, 0x04, 0x01, 0x02}))});
  const unsigned char* p = bad_point.data();
  ERR_clear_error();
  EXPECT_EQ(d2i_ECPrivateKey(nullptr, &p, static_cast<long>(bad_point.size())), nullptr);
  EXPECT_TRUE(QueueHasReason(ERR_R_EC_LIB));
  const unsigned char* none = nullptr;
  EXPECT_EQ(d2i_ECPrivateKey(nullptr, &none, 10), nullptr);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_D2I_ECPRIVATEKEY, ERR_R_PASSED_NULL_PARAMETER}}));
}

// ---- public points ---------------------------------------------------------------

TEST(EcPublicPoint, CompressedPointAndLengths) {
  Key k = GeneratedKey(kP256);
  EC_KEY_set_conv_form(k.get(), POINT_CONVERSION_COMPRESSED);
  EXPECT_EQ(i2o_ECPublicKey(k.get(), nullptr), 33);
  unsigned char* made = nullptr;
  ASSERT_EQ(i2o_ECPublicKey(k.get(), &made), 33);
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made[0] == 2 || made[0] == 3);
  Key peer(EC_KEY_new_by_curve_name(kP256));
  EC_KEY* pk = peer.get();
  const unsigned char* p = made;
  ASSERT_EQ(o2i_ECPublicKey(&pk, &p, 33), peer.get());
  EXPECT_EQ(p, made + 33);
  EXPECT_EQ(EC_KEY_get_conv_form(peer.get()), POINT_CONVERSION_COMPRESSED);
  EXPECT_EQ(EC_POINT_cmp(EC_KEY_get0_group(k.get()), EC_KEY_get0_public_key(k.get()),
                         EC_KEY_get0_public_key(peer.get()), nullptr),
            0);
  // Into a caller's buffer: written and advanced.
  Bytes buf(65);
  unsigned char* q = buf.data();
  EC_KEY_set_conv_form(peer.get(), POINT_CONVERSION_UNCOMPRESSED);
  EXPECT_EQ(i2o_ECPublicKey(peer.get(), &q), 65);
  EXPECT_EQ(q, buf.data() + 65);
  EXPECT_EQ(buf[0], 4);
  MORVANE_free(made);
}

TEST(EcPublicPoint, RefusedInput) {
  ERR_clear_error();
  Key nogroup(EC_KEY_new());
  EC_KEY* k = nogroup.get();
  const unsigned char one[1] = {0};
  const unsigned char* p = one;
  EXPECT_EQ(o2i_ECPublicKey(&k, &p, 1), nullptr);
  EXPECT_EQ(o2i_ECPublicKey(nullptr, &p, 1), nullptr);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_O2I_ECPUBLICKEY, ERR_R_PASSED_NULL_PARAMETER},
                         {ERR_LIB_EC, EC_F_O2I_ECPUBLICKEY, ERR_R_PASSED_NULL_PARAMETER}}));
  Key key(EC_KEY_new_by_curve_name(kP256));
  k = key.get();
  const Bytes off = FromHex("04" + std::string(128, '1'));
  p = off.data();
  EXPECT_EQ(o2i_ECPublicKey(&k, &p, static_cast<long>(off.size())), nullptr);
  EXPECT_EQ(p, off.data());
  EXPECT_TRUE(QueueHasReason(ERR_R_EC_LIB));
  EXPECT_EQ(i2o_ECPublicKey(nullptr, nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_I2O_ECPUBLICKEY, ERR_R_PASSED_NULL_PARAMETER}}));
}

// The point at infinity (the single octet 00) is no public key: refused
// as octets, in a SubjectPublicKeyInfo and in a private key, and the key
// given to o2i_ECPublicKey keeps its point.
TEST(EcPublicPoint, InfinityIsNoPublicKey) {
  Key key = GeneratedKey(kP256);
  const EC_GROUP* g = EC_KEY_get0_group(key.get());
  ec_key_test::Point was(EC_POINT_dup(EC_KEY_get0_public_key(key.get()), g));
  EC_KEY* k = key.get();
  const unsigned char zero[1] = {0};
  const unsigned char* p = zero;
  ERR_clear_error();
  EXPECT_EQ(o2i_ECPublicKey(&k, &p, 1), nullptr);
  EXPECT_EQ(p, zero);
  EXPECT_EQ(EC_POINT_cmp(g, EC_KEY_get0_public_key(key.get()), was.get(), nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EC, EC_F_O2I_ECPUBLICKEY, EC_R_POINT_AT_INFINITY}}));
  // SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING 00 00 }
  const Bytes spki =
      Seq({Seq({X962Oid({2, 1}), FromHex("06082a8648ce3d030107")}), Tlv(0x03, {0x00, 0x00})});
  p = spki.data();
  EXPECT_EQ(d2i_EC_PUBKEY(nullptr, &p, static_cast<long>(spki.size())), nullptr);
  EXPECT_TRUE(QueueHasReason(EC_R_POINT_AT_INFINITY));
  const Bytes priv = Seq({Int(1), Octets({1}), Tlv(0xA0, FromHex("06082a8648ce3d030107")),
                          Tlv(0xA1, Tlv(0x03, {0x00, 0x00}))});
  p = priv.data();
  EXPECT_EQ(d2i_ECPrivateKey(nullptr, &p, static_cast<long>(priv.size())), nullptr);
  EXPECT_TRUE(QueueHasReason(EC_R_POINT_AT_INFINITY));
}

// The publicKeyDer of every Wycheproof ECDSA group decodes to the group's
// point on its named curve.
TEST(EcPublicPoint, WycheproofPublicKeysDecode) {
  const char* files[] = {"secp160k1_sha256", "secp160r1_sha256", "secp160r2_sha256",
                         "secp192k1_sha256", "secp192r1_sha256", "secp224k1_sha224",
                         "secp224k1_sha256", "secp224r1_sha224", "secp224r1_sha256",
                         "secp224r1_sha512", "secp256k1_sha256", "secp256k1_sha512",
                         "secp256r1_sha256", "secp256r1_sha512", "secp384r1_sha256",
                         "secp384r1_sha512", "secp521r1_sha512"};
  int groups = 0;
  for (const char* f : files) {
    const std::string path =
        morvane_test::VectorFile(std::string("wycheproof/ecdsa_") + f + "_test.json");
    if (path.empty()) continue;
    std::string seen;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      const std::string der_hex = t.Get("publicKeyDer");
      if (der_hex == seen) continue;
      seen = der_hex;
      ++groups;
      const Bytes der = FromHex(der_hex);
      const unsigned char* p = der.data();
      Key k(d2i_EC_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
      ASSERT_NE(k, nullptr) << f;
      std::string curve = t.Get("publicKey.curve");
      if (curve == "secp256r1") curve = "prime256v1";
      if (curve == "secp192r1") curve = "prime192v1";
      const EC_GROUP* g = EC_KEY_get0_group(k.get());
      EXPECT_EQ(EC_GROUP_get_curve_name(g), OBJ_sn2nid(curve.c_str())) << f;
      const Bytes q = FromHex(t.Get("publicKey.uncompressed"));
      EC_POINT* want = EC_POINT_new(g);
      ASSERT_EQ(EC_POINT_oct2point(g, want, q.data(), q.size(), nullptr), 1);
      EXPECT_EQ(EC_POINT_cmp(g, want, EC_KEY_get0_public_key(k.get()), nullptr), 0) << f;
      EC_POINT_free(want);
    }
  }
  if (groups == 0) GTEST_SKIP() << "published vectors not found (wycheproof/ecdsa_*_test.json)";
}

}  // namespace
