// The 512-bit RSA test key of test/data/rsa/keys.txt, read on first use.
#ifndef MORVANE_TEST_SWEEP_RSA_KEY_H
#define MORVANE_TEST_SWEEP_RSA_KEY_H

#include <utility>

#include <morvane/bn.h>
#include <morvane/rsa.h>

#include "test_support.h"

namespace morvane_test {

inline RSA* SweepRsaKey() {
  static RSA* key = nullptr;
  if (key == nullptr) {
    key = RSA_new();
    for (const auto& rec : ReadRsp(TestDataFile("rsa/keys.txt"))) {
      if (rec.Get("bits") != "512") continue;
      const std::pair<const char*, BIGNUM**> parts[] = {
          {"n", &key->n}, {"e", &key->e},       {"d", &key->d},       {"p", &key->p},
          {"q", &key->q}, {"dmp1", &key->dmp1}, {"dmq1", &key->dmq1}, {"iqmp", &key->iqmp}};
      for (auto [name, slot] : parts) BN_hex2bn(slot, rec.Get(name).c_str());
    }
  }
  return key;
}

}  // namespace morvane_test

#endif  // MORVANE_TEST_SWEEP_RSA_KEY_H
