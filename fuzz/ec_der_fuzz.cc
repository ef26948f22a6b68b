// Fuzz target for elliptic-curve parameters, keys and points as outside
// input.  Every input goes through d2i_ECPKParameters, d2i_ECParameters,
// d2i_ECPrivateKey, d2i_EC_PUBKEY, o2i_ECPublicKey on a P-256 key and, as a
// signature over a fixed digest under a fixed P-256 key, ECDSA_verify.  A
// decoded group must stay within the 661-bit field limit and survive its own
// encoding: decoded again it encodes the same.  A decoded private key encodes
// again when it has a non-zero scalar and its public point.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>
#include <morvane/x509.h>

#include "fuzz_check.h"

namespace {

constexpr int kP256 = 415;  // prime256v1

// The P-256 key with private scalar 1 (its public point is the generator).
EC_KEY* VerifyKey() {
  static EC_KEY* key = [] {
    EC_KEY* k = EC_KEY_new_by_curve_name(kP256);
    Check(k != nullptr, "curve");
    Check(EC_KEY_set_public_key(k, EC_GROUP_get0_generator(EC_KEY_get0_group(k))) == 1, "key");
    return k;
  }();
  return key;
}

const unsigned char kDigest[32] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

// The group encodes, and its encoding decodes to a group with the same
// encoding.
void GroupRoundTrips(const EC_GROUP* g) {
  Check(EC_GROUP_get_degree(g) <= 661, "field within the limit");
  unsigned char* der = nullptr;
  const int n = i2d_ECPKParameters(g, &der);
  Check(n > 0, "re-encoding a decoded group");
  const unsigned char* p = der;
  EC_GROUP* back = d2i_ECPKParameters(nullptr, &p, n);
  Check(back != nullptr, "decoding a re-encoded group");
  Check(p == der + n, "the whole encoding read");
  unsigned char* again = nullptr;
  Check(i2d_ECPKParameters(back, &again) == n && memcmp(again, der, static_cast<size_t>(n)) == 0,
        "re-decoded group encodes the same");
  MORVANE_free(again);
  EC_GROUP_free(back);
  MORVANE_free(der);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const long len = static_cast<long>(size);
  const unsigned char* p = data;
  if (EC_GROUP* g = d2i_ECPKParameters(nullptr, &p, len)) {
    Check(p > data && p <= data + size, "input advanced");
    GroupRoundTrips(g);
    EC_GROUP_free(g);
  }
  p = data;
  if (EC_KEY* k = d2i_ECParameters(nullptr, &p, len)) {
    Check(EC_KEY_get0_group(k) != nullptr, "parameters give a group");
    EC_KEY_free(k);
  }
  p = data;
  if (EC_KEY* k = d2i_ECPrivateKey(nullptr, &p, len)) {
    Check(EC_KEY_get0_group(k) != nullptr, "a private key has its group");
    const BIGNUM* d = EC_KEY_get0_private_key(k);
    if (d != nullptr && !BN_is_zero(d) && EC_KEY_get0_public_key(k) != nullptr) {
      unsigned char* der = nullptr;
      Check(i2d_ECPrivateKey(k, &der) > 0, "re-encoding a decoded private key");
      MORVANE_free(der);
    }
    EC_KEY_check_key(k);
    EC_KEY_free(k);
  }
  p = data;
  if (EC_KEY* k = d2i_EC_PUBKEY(nullptr, &p, len)) {
    Check(EC_KEY_get0_group(k) != nullptr, "a public key has its group");
    Check(i2o_ECPublicKey(k, nullptr) >= 0, "measuring the point");
    EC_KEY_free(k);
  }
  EC_KEY* key = EC_KEY_new_by_curve_name(kP256);
  Check(key != nullptr, "curve");
  p = data;
  if (o2i_ECPublicKey(&key, &p, len) != nullptr) {
    Check(p == data + size, "the whole point read");
    Check(EC_POINT_is_on_curve(EC_KEY_get0_group(key), EC_KEY_get0_public_key(key), nullptr) == 1,
          "a decoded point lies on the curve");
  }
  EC_KEY_free(key);
  if (size <= 200) {
    const int v =
        ECDSA_verify(0, kDigest, sizeof kDigest, data, static_cast<int>(size), VerifyKey());
    Check(v >= -1 && v <= 1, "verify result");
  }
  ERR_clear_error();
  return 0;
}
