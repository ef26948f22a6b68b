// The two curve constructors, which choose the method from the field.
//
// Implementation notes: a prime equal to one of the five NIST primes gets
// the NIST method and every other prime the Montgomery method.  The choice
// is made by comparing p with the five primes before any group is made, so
// it queues nothing and leaves the caller's error queue as it was.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

namespace {

EC_GROUP* new_curve(const EC_METHOD* meth, const BIGNUM* p, const BIGNUM* a, const BIGNUM* b,
                    BN_CTX* ctx,
                    int (*set_curve)(EC_GROUP*, const BIGNUM*, const BIGNUM*, const BIGNUM*,
                                     BN_CTX*)) {
  EC_GROUP* group = EC_GROUP_new(meth);
  if (group == nullptr) return nullptr;
  if (!set_curve(group, p, a, b, ctx)) {
    EC_GROUP_clear_free(group);
    return nullptr;
  }
  return group;
}

}  // namespace

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_new_curve_GFp(const BIGNUM* p, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  const bool nist = p != nullptr && morvane::ec::nist_prime(p, nullptr);
  return new_curve(nist ? EC_GFp_nist_method() : EC_GFp_mont_method(), p, a, b, ctx,
                   EC_GROUP_set_curve_GFp);
}

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_new_curve_GF2m(const BIGNUM* p, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  return new_curve(EC_GF2m_simple_method(), p, a, b, ctx, EC_GROUP_set_curve_GF2m);
}
