// ECDSA and ECDH on P-256, P-384 and P-521: ECDSA_sign and ECDSA_verify of a
// SHA-256 digest with DER signatures, and ECDH_compute_key of a fixed peer
// point, against Nettle (ecdsa_sign, ecdsa_verify, ecc_point_mul) and
// libgcrypt (gcry_pk_sign, gcry_pk_verify on s-expressions, gcry_mpi_ec_mul
// for the agreement).  Names are "ecdsa-sign-<curve>/<who>",
// "ecdsa-verify-<curve>/<who>" and "ecdh-<curve>/<who>"; one operation per
// timed iteration.  Before anything is timed, every signature must verify
// on the other side (ours under Nettle and libgcrypt, theirs under ours)
// and every peer's shared x must equal ours.
//
// Registered from a static initialiser (this program is not the library).

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <gcrypt.h>
#include <gmp.h>
#include <nettle/dsa.h>
#include <nettle/ecc-curve.h>
#include <nettle/ecc.h>
#include <nettle/ecdsa.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/rand.h>
#include <morvane/sha.h>

namespace {

struct CurveInfo {
  const char* name;
  int nid;
  const struct ecc_curve* (*nettle)(void);
  const char* gcrypt;
};

const CurveInfo kCurves[] = {{"p256", 415, nettle_get_secp_256r1, "NIST P-256"},
                             {"p384", 715, nettle_get_secp_384r1, "NIST P-384"},
                             {"p521", 716, nettle_get_secp_521r1, "NIST P-521"}};

[[noreturn]] void Die(const std::string& what) {
  fprintf(stderr, "bench_ecdsa: %s\n", what.c_str());
  exit(1);
}

std::string Hex(const BIGNUM* b) {
  char* s = BN_bn2hex(b);
  std::string out = s;
  CRYPTO_free(s);
  return out;
}

std::string Upper(const mpz_t z) {
  std::vector<char> buf(mpz_sizeinbase(z, 16) + 2);
  mpz_get_str(buf.data(), 16, z);
  std::string s = buf.data();
  for (char& ch : s) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  return s;
}

std::string Upper(gcry_mpi_t m) {
  unsigned char* text = nullptr;
  gcry_mpi_aprint(GCRYMPI_FMT_HEX, &text, nullptr, m);
  std::string s = reinterpret_cast<char*>(text);
  gcry_free(text);
  while (s.size() > 1 && s[0] == '0') s.erase(0, 1);
  return s;
}

std::string NoLeadingZeros(std::string s) {
  while (s.size() > 1 && s[0] == '0') s.erase(0, 1);
  return s;
}

// Nettle's randomness for its nonces: our generator.
void NettleRandom(void*, size_t n, uint8_t* dst) {
  if (RAND_bytes(dst, static_cast<int>(n)) != 1) Die("RAND_bytes");
}

struct Setup {
  EC_KEY* key = nullptr;   // ours, with scalar
  EC_KEY* peer = nullptr;  // the ECDH peer
  unsigned char digest[32];
  std::vector<unsigned char> sig;  // our DER signature
  std::string shared_x;
  // Nettle
  struct ecc_scalar n_key;
  struct ecc_point n_pub, n_peer, n_r;
  struct dsa_signature n_sig;
  // libgcrypt
  gcry_sexp_t g_priv = nullptr, g_pub = nullptr, g_data = nullptr, g_sig = nullptr;
  gcry_ctx_t g_ctx = nullptr;
  gcry_mpi_point_t g_peer = nullptr, g_r = nullptr;
  gcry_mpi_t g_d = nullptr;

  explicit Setup(const CurveInfo& c) {
    key = EC_KEY_new_by_curve_name(c.nid);
    peer = EC_KEY_new_by_curve_name(c.nid);
    if (key == nullptr || peer == nullptr || !EC_KEY_generate_key(key) ||
        !EC_KEY_generate_key(peer))
      Die("keys");
    const EC_GROUP* g = EC_KEY_get0_group(key);
    SHA256(reinterpret_cast<const unsigned char*>("Morvane"), 7, digest);
    sig.resize(static_cast<size_t>(ECDSA_size(key)));
    unsigned int len = 0;
    if (!ECDSA_sign(0, digest, 32, sig.data(), &len, key)) Die("sign");
    sig.resize(len);
    std::vector<unsigned char> z(80);
    const int zn = ECDH_compute_key(z.data(), z.size(), EC_KEY_get0_public_key(peer), key, nullptr);
    if (zn <= 0) Die("ECDH");
    BIGNUM* zb = BN_bin2bn(z.data(), zn, nullptr);
    shared_x = NoLeadingZeros(Hex(zb));
    BN_free(zb);
    BIGNUM *x = BN_new(), *y = BN_new(), *px = BN_new(), *py = BN_new();
    EC_POINT_get_affine_coordinates_GFp(g, EC_KEY_get0_public_key(key), x, y, nullptr);
    EC_POINT_get_affine_coordinates_GFp(g, EC_KEY_get0_public_key(peer), px, py, nullptr);
    const std::string d = Hex(EC_KEY_get0_private_key(key));
    // Nettle
    mpz_t zd, zx, zy, zr, zs;
    mpz_init_set_str(zd, d.c_str(), 16);
    mpz_init_set_str(zx, Hex(x).c_str(), 16);
    mpz_init_set_str(zy, Hex(y).c_str(), 16);
    ecc_scalar_init(&n_key, c.nettle());
    ecc_point_init(&n_pub, c.nettle());
    ecc_point_init(&n_peer, c.nettle());
    ecc_point_init(&n_r, c.nettle());
    dsa_signature_init(&n_sig);
    if (!ecc_scalar_set(&n_key, zd) || !ecc_point_set(&n_pub, zx, zy)) Die("nettle key");
    mpz_set_str(zx, Hex(px).c_str(), 16);
    mpz_set_str(zy, Hex(py).c_str(), 16);
    if (!ecc_point_set(&n_peer, zx, zy)) Die("nettle peer");
    // Our signature under Nettle, Nettle's under ours.
    ECDSA_SIG* ours = nullptr;
    const unsigned char* p = sig.data();
    ours = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(sig.size()));
    mpz_init_set_str(zr, Hex(ours->r).c_str(), 16);
    mpz_init_set_str(zs, Hex(ours->s).c_str(), 16);
    mpz_set(n_sig.r, zr);
    mpz_set(n_sig.s, zs);
    if (!ecdsa_verify(&n_pub, 32, digest, &n_sig))
      Die(std::string("Nettle refuses ours on ") + c.name);
    ecdsa_sign(&n_key, nullptr, NettleRandom, 32, digest, &n_sig);
    ECDSA_SIG* theirs = ECDSA_SIG_new();
    BN_hex2bn(&theirs->r, Upper(n_sig.r).c_str());
    BN_hex2bn(&theirs->s, Upper(n_sig.s).c_str());
    if (ECDSA_do_verify(digest, 32, theirs, key) != 1)
      Die(std::string("we refuse Nettle's on ") + c.name);
    ECDSA_SIG_free(theirs);
    ecc_point_mul(&n_r, &n_key, &n_peer);
    ecc_point_get(&n_r, zx, nullptr);
    if (Upper(zx) != shared_x) Die(std::string("Nettle's shared x differs on ") + c.name);
    // libgcrypt
    std::vector<unsigned char> q(200);
    const size_t qn = EC_POINT_point2oct(
        g, EC_KEY_get0_public_key(key), POINT_CONVERSION_UNCOMPRESSED, q.data(), q.size(), nullptr);
    gcry_mpi_scan(&g_d, GCRYMPI_FMT_HEX, d.c_str(), 0, nullptr);
    if (gcry_sexp_build(&g_priv, nullptr, "(private-key (ecc (curve %s) (d %m)))", c.gcrypt, g_d) ||
        gcry_sexp_build(&g_pub, nullptr, "(public-key (ecc (curve %s) (q %b)))", c.gcrypt,
                        static_cast<int>(qn), q.data()) ||
        gcry_sexp_build(&g_data, nullptr, "(data (flags raw) (value %b))", 32, digest))
      Die("libgcrypt keys");
    gcry_sexp_t ours_sx = nullptr;
    gcry_mpi_t gr = nullptr, gs = nullptr;
    gcry_mpi_scan(&gr, GCRYMPI_FMT_HEX, Hex(ours->r).c_str(), 0, nullptr);
    gcry_mpi_scan(&gs, GCRYMPI_FMT_HEX, Hex(ours->s).c_str(), 0, nullptr);
    gcry_sexp_build(&ours_sx, nullptr, "(sig-val (ecdsa (r %m) (s %m)))", gr, gs);
    if (gcry_pk_verify(ours_sx, g_data, g_pub) != 0)
      Die(std::string("libgcrypt refuses ours on ") + c.name);
    if (gcry_pk_sign(&g_sig, g_data, g_priv) != 0) Die("gcry_pk_sign");
    gcry_sexp_t rs = gcry_sexp_find_token(g_sig, "r", 0), ss = gcry_sexp_find_token(g_sig, "s", 0);
    gcry_mpi_t r2 = gcry_sexp_nth_mpi(rs, 1, GCRYMPI_FMT_USG),
               s2 = gcry_sexp_nth_mpi(ss, 1, GCRYMPI_FMT_USG);
    theirs = ECDSA_SIG_new();
    BN_hex2bn(&theirs->r, Upper(r2).c_str());
    BN_hex2bn(&theirs->s, Upper(s2).c_str());
    if (ECDSA_do_verify(digest, 32, theirs, key) != 1)
      Die(std::string("we refuse libgcrypt's on ") + c.name);
    ECDSA_SIG_free(theirs);
    if (gcry_mpi_ec_new(&g_ctx, nullptr, c.gcrypt) != 0) Die("gcry_mpi_ec_new");
    gcry_mpi_t gx = nullptr, gy = nullptr, one = gcry_mpi_set_ui(nullptr, 1), rx = gcry_mpi_new(0);
    gcry_mpi_scan(&gx, GCRYMPI_FMT_HEX, Hex(px).c_str(), 0, nullptr);
    gcry_mpi_scan(&gy, GCRYMPI_FMT_HEX, Hex(py).c_str(), 0, nullptr);
    g_peer = gcry_mpi_point_set(nullptr, gx, gy, one);
    g_r = gcry_mpi_point_new(0);
    gcry_mpi_ec_mul(g_r, g_d, g_peer, g_ctx);
    gcry_mpi_ec_get_affine(rx, nullptr, g_r, g_ctx);
    if (Upper(rx) != shared_x) Die(std::string("libgcrypt's shared x differs on ") + c.name);
    for (gcry_mpi_t m : {gr, gs, r2, s2, gx, gy, one, rx}) gcry_mpi_release(m);
    gcry_sexp_release(rs);
    gcry_sexp_release(ss);
    gcry_sexp_release(ours_sx);
    ECDSA_SIG_free(ours);
    mpz_clears(zd, zx, zy, zr, zs, nullptr);
    for (BIGNUM* b : {x, y, px, py}) BN_free(b);
  }
};

Setup& SetupFor(const CurveInfo& c) {
  static std::vector<Setup*> made(3, nullptr);
  const size_t i = static_cast<size_t>(&c - kCurves);
  if (made[i] == nullptr) made[i] = new Setup(c);
  return *made[i];
}

enum class Op { kSign, kVerify, kEcdh };
enum class Who { kMorvane, kNettle, kGcrypt };

void Run(benchmark::State& state, const CurveInfo* c, Op op, Who who) {
  Setup& s = SetupFor(*c);
  std::vector<unsigned char> buf(200);
  unsigned int len = 0;
  const EC_POINT* peer = EC_KEY_get0_public_key(s.peer);
  for (auto _ : state) {
    int ok = 1;
    switch (who) {
      case Who::kMorvane:
        if (op == Op::kSign) {
          ok = ECDSA_sign(0, s.digest, 32, buf.data(), &len, s.key);
        } else if (op == Op::kVerify) {
          ok = ECDSA_verify(0, s.digest, 32, s.sig.data(), static_cast<int>(s.sig.size()), s.key);
        } else {
          ok = ECDH_compute_key(buf.data(), buf.size(), peer, s.key, nullptr) > 0;
        }
        break;
      case Who::kNettle:
        if (op == Op::kSign) {
          ecdsa_sign(&s.n_key, nullptr, NettleRandom, 32, s.digest, &s.n_sig);
        } else if (op == Op::kVerify) {
          ok = ecdsa_verify(&s.n_pub, 32, s.digest, &s.n_sig);
        } else {
          ecc_point_mul(&s.n_r, &s.n_key, &s.n_peer);
        }
        break;
      case Who::kGcrypt:
        if (op == Op::kSign) {
          gcry_sexp_t out = nullptr;
          ok = gcry_pk_sign(&out, s.g_data, s.g_priv) == 0;
          gcry_sexp_release(out);
        } else if (op == Op::kVerify) {
          ok = gcry_pk_verify(s.g_sig, s.g_data, s.g_pub) == 0;
        } else {
          gcry_mpi_ec_mul(s.g_r, s.g_d, s.g_peer, s.g_ctx);
        }
        break;
    }
    if (ok != 1) Die("operation failed");
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

int RegisterEcdsa() {
  const std::pair<Op, const char*> ops[] = {
      {Op::kSign, "ecdsa-sign-"}, {Op::kVerify, "ecdsa-verify-"}, {Op::kEcdh, "ecdh-"}};
  const std::pair<Who, const char*> who[] = {
      {Who::kMorvane, "morvane"}, {Who::kNettle, "nettle"}, {Who::kGcrypt, "libgcrypt"}};
  for (const CurveInfo& c : kCurves)
    for (const auto& [op, prefix] : ops)
      for (const auto& [w, name] : who)
        benchmark::RegisterBenchmark((std::string(prefix) + c.name + "/" + name).c_str(), Run, &c,
                                     op, w);
  return 0;
}

const int kRegistered = RegisterEcdsa();

}  // namespace
