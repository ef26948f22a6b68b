// The iteration count that password-based parameters read from an encoding
// state (PBES1, PBES2, the PKCS#12 ciphers and a PFX's MAC data), bounded
// by PKCS5_MAX_FILE_ITER before anything is derived from it.  A count is
// weighed by what one iteration costs with its digest: the bound is one of
// SHA-1 iterations, so that no count holds a caller much longer than a
// SHA-1 count at the bound does.
#ifndef MORVANE_INTERNAL_ITER_COUNT_H
#define MORVANE_INTERNAL_ITER_COUNT_H

#include <stdint.h>

#include <morvane/asn1.h>
#include <morvane/evp.h>

namespace morvane::internal {

// What one iteration (D = H(D) through the digest envelope, as PBES1 and
// the PKCS#12 derivation run it) costs, in tenths of a SHA-1 iteration:
// measured with the processor's SHA extensions in use (bench rows
// "pbe-iteration/<digest>", bench/RESULTS.md) and rounded up.  Digests not
// listed (SHA-1 and its signature aliases, an engine's own) cost one SHA-1
// iteration.
struct IterationCost {
  int md_nid;
  int tenths;
};
inline constexpr int kSha1IterationTenths = 10;
inline constexpr IterationCost kIterationCosts[] = {
    {3, 710},   // MD2: a 16-byte step is three passes of 18 rounds over 48 bytes
    {257, 11},  // MD4
    {4, 17},    // MD5
    {41, 14},   // SHA (SHA-0)
    {117, 23},  // RIPEMD-160
    {672, 13},  // SHA-256
    {675, 13},  // SHA-224
    {673, 29},  // SHA-384
    {674, 29},  // SHA-512
};

// The cost of one iteration with `md` (null: PBKDF2's HMAC-SHA1), in
// tenths of a SHA-1 iteration.
inline int iteration_tenths(const EVP_MD* md) noexcept {
  const int nid = md != nullptr ? EVP_MD_type(md) : 0;
  for (const IterationCost& c : kIterationCosts)
    if (c.md_nid == nid) return c.tenths;
  return kSha1IterationTenths;
}

// The SHA-1 iterations that `count` iterations with `md` cost, rounded up
// (a count is at most PKCS5_MAX_FILE_ITER here: the 64-bit product fits,
// and so does the quotient in a long).
inline long weighed_count(long count, const EVP_MD* md) noexcept {
  const int64_t tenths = static_cast<int64_t>(count) * iteration_tenths(md);
  return static_cast<long>((tenths + kSha1IterationTenths - 1) / kSha1IterationTenths);
}

// The count of `a`: 1 when it is absent, zero or negative (as such counts
// have always been run), -1 when it is above PKCS5_MAX_FILE_ITER, however
// many octets it has, or when its iterations with `md` weigh more than
// PKCS5_MAX_FILE_ITER SHA-1 iterations.
inline long stated_iterations(const ASN1_INTEGER* a, const EVP_MD* md) noexcept {
  if (a == nullptr || a->type != ASN1_UT_INTEGER) return 1;
  long v = 0;
  for (int i = 0; i < a->length; i++) {
    v = v * 256 + a->data[i];
    if (v > PKCS5_MAX_FILE_ITER) return -1;
  }
  if (v < 1) return 1;
  return weighed_count(v, md) > PKCS5_MAX_FILE_ITER ? -1 : v;
}

// The digest a password-based algorithm of the table derives with: the
// row's for `pbe_nid`, SHA-1 for a row without one (PBES2).  False when
// the table has no row for it (nothing is derived under it then).  Reads
// the table without reordering it.
bool pbe_row_digest(int pbe_nid, const EVP_MD** md);

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_ITER_COUNT_H
