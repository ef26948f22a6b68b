// Random 2048-bit Diffie-Hellman exchanges in the MODP group of RFC 3526,
// section 3, against GMP's mpz_powm: both public values and the shared
// secret (compared after stripping, as DH_compute_key writes it).  The same
// in the groups with a prime-order subgroup of dh_groups.h, with q on the
// keys: there GMP also checks that each public value has order q.

#include <cstring>
#include <string>
#include <vector>

#include <gmp.h>
#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/dh.h>

#include "dh_groups.h"
#include "pk_test_util.h"
#include "test_support.h"

namespace {

using pk_test::Dh;

struct Mpz {
  mpz_t v;
  Mpz() { mpz_init(v); }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
};

void Set(Mpz& z, const BIGNUM* b) {
  std::vector<unsigned char> be(static_cast<size_t>(BN_num_bytes(b)) + 1);
  const int n = BN_bn2bin(b, be.data());
  mpz_import(z.v, static_cast<size_t>(n), 1, 1, 1, 0, be.data());
}

std::vector<unsigned char> Bytes(const Mpz& z) {
  std::vector<unsigned char> out((mpz_sizeinbase(z.v, 2) + 7) / 8);
  size_t n = 0;
  mpz_export(out.data(), &n, 1, 1, 1, 0, z.v);
  out.resize(n);
  return out;
}

// Each side's DH_compute_key with the other's public value gives z.
void ExpectSecrets(DH* a, DH* b, const Mpz& z) {
  const std::vector<unsigned char> want = Bytes(z);
  std::vector<unsigned char> ka(static_cast<size_t>(DH_size(a))), kb(ka.size());
  const int na = DH_compute_key(ka.data(), b->pub_key, a);
  const int nb = DH_compute_key(kb.data(), a->pub_key, b);
  ASSERT_EQ(static_cast<int>(want.size()), na);
  ASSERT_EQ(na, nb);
  ka.resize(static_cast<size_t>(na));
  kb.resize(static_cast<size_t>(nb));
  EXPECT_EQ(want, ka);
  EXPECT_EQ(want, kb);
}

TEST(DhGmp, RandomExchangesAgreeWithMpzPowm) {
  const auto recs = morvane_test::ReadRsp(morvane_test::TestDataFile("dh/rfc3526.txt"));
  ASSERT_EQ(1u, recs.size());
  for (int round = 0; round < 4; round++) {
    SCOPED_TRACE(round);
    Dh a(DH_new()), b(DH_new());
    for (DH* d : {a.get(), b.get()}) {
      d->p = pk_test::Hex(recs[0].Get("p"));
      d->g = pk_test::Hex(recs[0].Get("g"));
    }
    ASSERT_EQ(1, DH_generate_key(a.get()));
    ASSERT_EQ(1, DH_generate_key(b.get()));
    Mpz p, g, xa, xb, ya, yb, z;
    Set(p, a->p);
    Set(g, a->g);
    Set(xa, a->priv_key);
    Set(xb, b->priv_key);
    mpz_powm(ya.v, g.v, xa.v, p.v);
    mpz_powm(yb.v, g.v, xb.v, p.v);
    Mpz got_ya, got_yb;
    Set(got_ya, a->pub_key);
    Set(got_yb, b->pub_key);
    EXPECT_EQ(0, mpz_cmp(ya.v, got_ya.v));
    EXPECT_EQ(0, mpz_cmp(yb.v, got_yb.v));
    mpz_powm(z.v, yb.v, xa.v, p.v);
    ExpectSecrets(a.get(), b.get(), z);
  }
}

TEST(DhGmp, SubgroupExchangesAgreeWithMpzPowm) {
  for (const dh_groups::Group& g : dh_groups::Groups()) {
    SCOPED_TRACE(g.name);
    for (int round = 0; round < 2; round++) {
      SCOPED_TRACE(round);
      Dh a = dh_groups::Party(g, true), b = dh_groups::Party(g, true);
      ASSERT_EQ(1, DH_generate_key(a.get()));
      ASSERT_EQ(1, DH_generate_key(b.get()));
      EXPECT_EQ(g.priv_bits, BN_num_bits(a->priv_key));
      EXPECT_EQ(g.priv_bits, BN_num_bits(b->priv_key));
      Mpz p, q, gen, xa, xb, ya, yb, got_ya, got_yb, t, z;
      Set(p, a->p);
      Set(q, a->q);
      Set(gen, a->g);
      Set(xa, a->priv_key);
      Set(xb, b->priv_key);
      Set(got_ya, a->pub_key);
      Set(got_yb, b->pub_key);
      mpz_powm(ya.v, gen.v, xa.v, p.v);
      mpz_powm(yb.v, gen.v, xb.v, p.v);
      EXPECT_EQ(0, mpz_cmp(ya.v, got_ya.v));
      EXPECT_EQ(0, mpz_cmp(yb.v, got_yb.v));
      for (const Mpz* y : {&ya, &yb}) {
        mpz_powm(t.v, y->v, q.v, p.v);
        EXPECT_EQ(0, mpz_cmp_ui(t.v, 1));
      }
      mpz_powm(z.v, yb.v, xa.v, p.v);
      ExpectSecrets(a.get(), b.get(), z);
    }
  }
}

}  // namespace
