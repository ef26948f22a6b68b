// Owning handles for the key, signature, number, point and group objects of
// the key, encoding and agreement tests.
#ifndef MORVANE_TEST_EC_EC_KEY_HANDLES_H
#define MORVANE_TEST_EC_EC_KEY_HANDLES_H

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>

#include <memory>

namespace ec_key_test {

struct KeyFree {
  void operator()(EC_KEY* k) const { EC_KEY_free(k); }
};
using Key = std::unique_ptr<EC_KEY, KeyFree>;
struct SigFree {
  void operator()(ECDSA_SIG* s) const { ECDSA_SIG_free(s); }
};
using Sig = std::unique_ptr<ECDSA_SIG, SigFree>;
struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
struct PointFree {
  void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
using Point = std::unique_ptr<EC_POINT, PointFree>;
struct GroupFree {
  void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
using Group = std::unique_ptr<EC_GROUP, GroupFree>;

// A number from hex text (null on a malformed text).
inline Bn HexBn(const char* hex) {
  BIGNUM* b = nullptr;
  BN_hex2bn(&b, hex);
  return Bn(b);
}

}  // namespace ec_key_test

#endif  // MORVANE_TEST_EC_EC_KEY_HANDLES_H
