// Constant-time check of the one-term elliptic-curve multiplication under
// valgrind's memcheck: the scalar's words and its word count are marked
// undefined (its sign is public) while EC_POINT_mul computes k G and k P on
// P-256, P-384, P-521, secp256k1 and secp224k1, on the cofactor-4 curves
// secp112r2 and secp128r2 also k Q for a point Q of order 4n (split into
// parts of odd and 2-power order, ecp_torsion.cc), and (the Montgomery
// ladder over GF(2^m)) on sect163k1, sect283r1 and sect571k1; the result
// point is marked defined afterwards.  Memcheck must report no branch and no address that
// depends on the scalar.  Each product is then compared with the
// windowed-NAF product ec_wNAF_mul of the same scalar.  Run as
// `valgrind --error-exitcode=1 ct_ec`; `ct_ec --binary` runs the binary
// curves only (run again with MORVANE_NO_HWCRYPT=pclmul, it checks the
// ladder's portable field products as well as the PCLMULQDQ ones).

#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "vg_requests.h"

#include <morvane/bn.h>
#include <morvane/ec.h>

#include "ec/internal.h"  // to mark the result point defined

namespace {

void Public(const BIGNUM* b) {
  VALGRIND_MAKE_MEM_DEFINED(b, sizeof *b);
  VALGRIND_MAKE_MEM_DEFINED(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->dmax));
}

// The point's coordinates, made defined, as affine (x, y).
bool Affine(const EC_GROUP* g, const EC_POINT* p, BIGNUM* x, BIGNUM* y, BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(g, p)) return BN_zero(x), BN_zero(y), true;
  if (EC_METHOD_get_field_type(EC_GROUP_method_of(g)) == 407)
    return EC_POINT_get_affine_coordinates_GF2m(g, p, x, y, ctx) == 1;
  return EC_POINT_get_affine_coordinates_GFp(g, p, x, y, ctx) == 1;
}

// `extra`: an uncompressed point (hex) of the curve for a third product.
bool Check(int nid, unsigned seed, BN_CTX* ctx, const char* extra = nullptr) {
  EC_GROUP* g = EC_GROUP_new_by_curve_name(nid);
  if (g == nullptr) return false;
  BIGNUM* order = BN_new();
  BIGNUM* k = BN_new();
  BIGNUM *x1 = BN_new(), *y1 = BN_new(), *x2 = BN_new(), *y2 = BN_new();
  EC_POINT* p = EC_POINT_new(g);
  EC_POINT* q = EC_POINT_new(g);
  EC_POINT* r = EC_POINT_new(g);
  EC_POINT* want = EC_POINT_new(g);
  bool ok = EC_GROUP_get_order(g, order, ctx) == 1;
  // P = 7 G, a public point.
  ok = ok && BN_set_word(k, 7) && EC_POINT_mul(g, p, k, nullptr, nullptr, ctx);
  if (ok && extra != nullptr) {
    unsigned char buf[160];
    const size_t len = strlen(extra) / 2;
    for (size_t i = 0; i < len && i < sizeof buf; i++) sscanf(extra + 2 * i, "%2hhx", &buf[i]);
    ok = len <= sizeof buf && EC_POINT_oct2point(g, q, buf, len, ctx) == 1;
  }
  for (int round = 0; ok && round < 2; round++) {
    // A scalar of the order's size from a fixed pattern.
    BN_zero(k);
    for (int i = 0; i < BN_num_bits(order) / 32 + 1; i++) {
      BN_lshift(k, k, 32);
      BN_add_word(k, (seed + 0x9E3779B9u * static_cast<unsigned>(i + 1 + 40 * round)) ^ 0x5A5A);
    }
    BN_nnmod(k, k, order, ctx);
    for (int term = 0; ok && term < (extra != nullptr ? 3 : 2); term++) {
      const EC_POINT* base = term == 0 ? EC_GROUP_get0_generator(g) : term == 1 ? p : q;
      VALGRIND_MAKE_MEM_UNDEFINED(k->d, sizeof(BN_ULONG) * static_cast<size_t>(k->top));
      VALGRIND_MAKE_MEM_UNDEFINED(&k->top, sizeof k->top);
      ok = term == 0 ? EC_POINT_mul(g, r, k, nullptr, nullptr, ctx) == 1
                     : EC_POINT_mul(g, r, nullptr, base, k, ctx) == 1;
      Public(k);
      Public(&r->X);
      Public(&r->Y);
      Public(&r->Z);
      VALGRIND_MAKE_MEM_DEFINED(r, sizeof *r);
      const EC_POINT* pts[1] = {base};
      const BIGNUM* ks[1] = {k};
      ok = ok && ec_wNAF_mul(g, want, nullptr, 1, pts, ks, ctx) == 1 &&
           Affine(g, r, x1, y1, ctx) && Affine(g, want, x2, y2, ctx) && BN_cmp(x1, x2) == 0 &&
           BN_cmp(y1, y2) == 0;
      if (!ok) fprintf(stderr, "curve %d: product %d differs\n", nid, term);
    }
  }
  EC_POINT_free(p);
  EC_POINT_free(q);
  EC_POINT_free(r);
  EC_POINT_free(want);
  BN_free(order);
  BN_free(k);
  BN_free(x1);
  BN_free(y1);
  BN_free(x2);
  BN_free(y2);
  EC_GROUP_free(g);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool binary_only = argc > 1 && strcmp(argv[1], "--binary") == 0;
  BN_CTX* ctx = BN_CTX_new();
  bool ok = true;
  // prime256v1, secp384r1, secp521r1, secp256k1, secp224k1; sect163k1,
  // sect283r1, sect571k1
  for (int nid : {415, 715, 716, 714, 712, 721, 730, 733}) {
    if (binary_only && nid < 721) continue;
    ok = Check(nid, static_cast<unsigned>(nid), ctx) && ok;
  }
  if (!binary_only) {
    // secp112r2 and secp128r2 with G + T, T of order 4 (tools/ec_model.py).
    ok = Check(705, 705, ctx, "048B6E7F3EC7EFCB274E1C4B92AB16A45249D3E18031360C22F42E7BA2") && ok;
    ok = Check(707, 707, ctx,
               "04421DF41C25F738740F23975149EBE3C1A032E79D2D9C2614E3E2B62BEE3902D1") &&
         ok;
  }
  BN_CTX_free(ctx);
  printf("%s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
