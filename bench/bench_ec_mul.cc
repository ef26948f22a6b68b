// Elliptic-curve scalar multiplication on P-256, P-384 and P-521: k G and
// k P (P a fixed point of unknown logarithm, k random below the order)
// through EC_POINT_mul (the constant-time one-term engine), through
// ec_wNAF_mul (windowed NAFs over the big-number methods), through Nettle
// (ecc_point_mul_g, ecc_point_mul) and libgcrypt (gcry_mpi_ec_mul on a
// context from gcry_mpi_ec_new), and the cost of EC_GROUP_new_by_curve_name.
// Names are "ec-mul-g-<curve>/<who>", "ec-mul-p-<curve>/<who>" and
// "ec-group-by-name-<curve>/morvane"; one call per timed iteration.  Before
// anything is timed, each peer's k G and k P must equal ours.
//
// Registered from a static initialiser (this program is not the library).

#include <stdio.h>
#include <ctype.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <gcrypt.h>
#include <gmp.h>
#include <nettle/ecc-curve.h>
#include <nettle/ecc.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>

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
  fprintf(stderr, "bench_ec_mul: %s\n", what.c_str());
  exit(1);
}

// Upper-case hex without leading zeros.
std::string Hex(const BIGNUM* b) {
  char* s = BN_bn2hex(b);
  std::string out = s;
  CRYPTO_free(s);
  while (out.size() > 1 && out[0] == '0') out.erase(0, 1);
  return out;
}

// Everything one curve needs, made once.
struct Setup {
  EC_GROUP* group = nullptr;
  EC_POINT* p = nullptr;  // 0x1F2E3D4C5B6A7988 G
  BIGNUM* k = nullptr;
  std::string kg_x, kp_x;  // ours, as hex
  // Nettle
  struct ecc_point n_p, n_r;
  struct ecc_scalar n_k;
  // libgcrypt
  gcry_ctx_t g_ctx = nullptr;
  gcry_mpi_point_t g_g = nullptr, g_p = nullptr, g_r = nullptr;
  gcry_mpi_t g_k = nullptr;

  explicit Setup(const CurveInfo& c) {
    group = EC_GROUP_new_by_curve_name(c.nid);
    if (group == nullptr) Die("no group");
    BIGNUM *order = BN_new(), *x = BN_new(), *y = BN_new(), *seedk = nullptr;
    BN_hex2bn(&seedk, "1F2E3D4C5B6A7988");
    p = EC_POINT_new(group);
    k = BN_new();
    EC_GROUP_get_order(group, order, nullptr);
    if (!EC_POINT_mul(group, p, seedk, nullptr, nullptr, nullptr) || !BN_rand_range(k, order))
      Die("setup");
    EC_POINT* r = EC_POINT_new(group);
    EC_POINT_mul(group, r, k, nullptr, nullptr, nullptr);
    EC_POINT_get_affine_coordinates_GFp(group, r, x, nullptr, nullptr);
    kg_x = Hex(x);
    EC_POINT_mul(group, r, nullptr, p, k, nullptr);
    EC_POINT_get_affine_coordinates_GFp(group, r, x, nullptr, nullptr);
    kp_x = Hex(x);
    EC_POINT_get_affine_coordinates_GFp(group, p, x, y, nullptr);

    // Nettle
    mpz_t zx, zy, zk;
    mpz_init_set_str(zx, Hex(x).c_str(), 16);
    mpz_init_set_str(zy, Hex(y).c_str(), 16);
    mpz_init_set_str(zk, Hex(k).c_str(), 16);
    ecc_point_init(&n_p, c.nettle());
    ecc_point_init(&n_r, c.nettle());
    ecc_scalar_init(&n_k, c.nettle());
    if (!ecc_point_set(&n_p, zx, zy) || !ecc_scalar_set(&n_k, zk)) Die("nettle setup");
    ecc_point_mul_g(&n_r, &n_k);
    ecc_point_get(&n_r, zx, nullptr);
    if (Upper(zx) != kg_x) Die(std::string("nettle k G differs on ") + c.name);
    ecc_point_mul(&n_r, &n_k, &n_p);
    ecc_point_get(&n_r, zx, nullptr);
    if (Upper(zx) != kp_x) Die(std::string("nettle k P differs on ") + c.name);

    // libgcrypt
    if (gcry_mpi_ec_new(&g_ctx, nullptr, c.gcrypt) != 0) Die("gcry_mpi_ec_new");
    g_g = gcry_mpi_ec_get_point("g", g_ctx, 1);
    gcry_mpi_t gx = nullptr, gy = nullptr;
    gcry_mpi_scan(&gx, GCRYMPI_FMT_HEX, Hex(x).c_str(), 0, nullptr);
    gcry_mpi_scan(&gy, GCRYMPI_FMT_HEX, Hex(y).c_str(), 0, nullptr);
    gcry_mpi_scan(&g_k, GCRYMPI_FMT_HEX, Hex(k).c_str(), 0, nullptr);
    gcry_mpi_t one = gcry_mpi_set_ui(nullptr, 1);
    g_p = gcry_mpi_point_set(nullptr, gx, gy, one);
    g_r = gcry_mpi_point_new(0);
    gcry_mpi_t rx = gcry_mpi_new(0);
    gcry_mpi_ec_mul(g_r, g_k, g_g, g_ctx);
    gcry_mpi_ec_get_affine(rx, nullptr, g_r, g_ctx);
    if (Upper(rx) != kg_x) Die(std::string("libgcrypt k G differs on ") + c.name);
    gcry_mpi_ec_mul(g_r, g_k, g_p, g_ctx);
    gcry_mpi_ec_get_affine(rx, nullptr, g_r, g_ctx);
    if (Upper(rx) != kp_x) Die(std::string("libgcrypt k P differs on ") + c.name);
    gcry_mpi_release(rx);
    gcry_mpi_release(one);
    gcry_mpi_release(gx);
    gcry_mpi_release(gy);
    mpz_clears(zx, zy, zk, nullptr);
    EC_POINT_free(r);
    BN_free(order);
    BN_free(x);
    BN_free(y);
    BN_free(seedk);
  }

  static std::string Upper(const mpz_t z) {
    std::vector<char> buf(mpz_sizeinbase(z, 16) + 2);
    mpz_get_str(buf.data(), 16, z);
    std::string s = buf.data();
    for (char& ch : s) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    return s;
  }
  static std::string Upper(gcry_mpi_t m) {
    unsigned char* text = nullptr;
    gcry_mpi_aprint(GCRYMPI_FMT_HEX, &text, nullptr, m);
    std::string s = reinterpret_cast<char*>(text);
    gcry_free(text);
    while (s.size() > 1 && s[0] == '0') s.erase(0, 1);
    return s;
  }
};

Setup& SetupFor(const CurveInfo& c) {
  static std::vector<Setup*> made(3, nullptr);
  const size_t i = static_cast<size_t>(&c - kCurves);
  if (made[i] == nullptr) made[i] = new Setup(c);
  return *made[i];
}

enum class Who { kEngine, kWnaf, kNettle, kGcrypt };

void Mul(benchmark::State& state, const CurveInfo* c, bool base_g, Who who) {
  Setup& s = SetupFor(*c);
  EC_POINT* r = EC_POINT_new(s.group);
  const EC_POINT* pts[1] = {base_g ? EC_GROUP_get0_generator(s.group) : s.p};
  const BIGNUM* ks[1] = {s.k};
  BN_CTX* ctx = BN_CTX_new();
  for (auto _ : state) {
    switch (who) {
      case Who::kEngine:
        if (base_g)
          EC_POINT_mul(s.group, r, s.k, nullptr, nullptr, ctx);
        else
          EC_POINT_mul(s.group, r, nullptr, s.p, s.k, ctx);
        break;
      case Who::kWnaf:
        ec_wNAF_mul(s.group, r, nullptr, 1, pts, ks, ctx);
        break;
      case Who::kNettle:
        if (base_g)
          ecc_point_mul_g(&s.n_r, &s.n_k);
        else
          ecc_point_mul(&s.n_r, &s.n_k, &s.n_p);
        break;
      case Who::kGcrypt:
        gcry_mpi_ec_mul(s.g_r, s.g_k, base_g ? s.g_g : s.g_p, s.g_ctx);
        break;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  BN_CTX_free(ctx);
  EC_POINT_free(r);
}

void GroupByName(benchmark::State& state, const CurveInfo* c) {
  for (auto _ : state) {
    EC_GROUP* g = EC_GROUP_new_by_curve_name(c->nid);
    benchmark::DoNotOptimize(g);
    EC_GROUP_free(g);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

int RegisterEcMul() {
  const std::pair<Who, const char*> who[] = {{Who::kEngine, "morvane"},
                                             {Who::kWnaf, "morvane-wnaf"},
                                             {Who::kNettle, "nettle"},
                                             {Who::kGcrypt, "libgcrypt"}};
  for (const CurveInfo& c : kCurves) {
    for (bool g : {true, false}) {
      for (const auto& [w, name] : who) {
        const std::string label = std::string("ec-mul-") + (g ? "g-" : "p-") + c.name + "/" + name;
        benchmark::RegisterBenchmark(label.c_str(), Mul, &c, g, w);
      }
    }
    benchmark::RegisterBenchmark((std::string("ec-group-by-name-") + c.name + "/morvane").c_str(),
                                 GroupByName, &c);
  }
  return 0;
}

const int kRegistered = RegisterEcMul();

}  // namespace
