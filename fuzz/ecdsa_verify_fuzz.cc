// Fuzz target for ECDSA signatures as outside input.  The whole input goes
// through d2i_ECDSA_SIG (a decoded signature encoded again); through
// ECDSA_verify over a fixed digest under a fixed P-256 key, which must answer
// -1 unless the input is exactly the DER of one signature; and, split in two
// halves of 32 bytes when it is 64 bytes long, through ECDSA_do_verify.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>

#include "fuzz_check.h"

namespace {

// The P-256 key with private scalar 1 (its public point is the generator).
EC_KEY* Key() {
  static EC_KEY* key = [] {
    EC_KEY* k = EC_KEY_new_by_curve_name(415);  // prime256v1
    Check(k != nullptr, "curve");
    Check(EC_KEY_set_public_key(k, EC_GROUP_get0_generator(EC_KEY_get0_group(k))) == 1, "key");
    return k;
  }();
  return key;
}

const unsigned char kDigest[32] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const int len = static_cast<int>(size);
  const unsigned char* p = data;
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, len);
  bool exact = false;
  if (sig != nullptr) {
    unsigned char* der = nullptr;
    const int n = i2d_ECDSA_SIG(sig, &der);
    Check(n > 0, "re-encoding a decoded signature");
    exact = p == data + size && n == len && memcmp(der, data, size) == 0;
    MORVANE_free(der);
    ECDSA_SIG_free(sig);
  }
  const int v = ECDSA_verify(0, kDigest, sizeof kDigest, data, len, Key());
  Check(v >= -1 && v <= 1, "verify result");
  if (!exact) Check(v == -1, "a non-DER signature must give -1");
  if (size == 64) {
    ECDSA_SIG* s = ECDSA_SIG_new();
    Check(s != nullptr, "signature");
    BN_bin2bn(data, 32, s->r);
    BN_bin2bn(data + 32, 32, s->s);
    const int w = ECDSA_do_verify(kDigest, sizeof kDigest, s, Key());
    Check(w >= -1 && w <= 1, "verify result");
    ECDSA_SIG_free(s);
  }
  ERR_clear_error();
  return 0;
}
