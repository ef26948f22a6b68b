// The test keys of test/data/rsa/keys.txt and unbalanced_keys.txt (made by
// tools/gen_rsa_keys.py) for the programs that do not link the test support:
// the constant-time check and the benchmark.  Header only.
#ifndef MORVANE_TEST_RSA_KEY_FILE_H
#define MORVANE_TEST_RSA_KEY_FILE_H

#include <fstream>
#include <map>
#include <string>

#include <morvane/bn.h>
#include <morvane/rsa.h>

namespace rsa_test {

// A new key holding the numbers of the first record of `path` whose `field`
// is `value` (all of them, or all but e), or null when there is none.
inline RSA* LoadKeyRecord(const char* path, const std::string& field, const std::string& value,
                          bool with_e = true) {
  std::ifstream in(path);
  std::map<std::string, std::string> rec;
  bool found = false;
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find(" = ");
    if (eq == std::string::npos) {
      if (found) break;
      rec.clear();
      continue;
    }
    rec[line.substr(0, eq)] = line.substr(eq + 3);
    if (line.substr(0, eq) == field && line.substr(eq + 3) == value) found = true;
  }
  if (!found) return nullptr;
  RSA* key = RSA_new();
  const std::pair<const char*, BIGNUM**> parts[] = {
      {"n", &key->n}, {"e", &key->e},       {"d", &key->d},       {"p", &key->p},
      {"q", &key->q}, {"dmp1", &key->dmp1}, {"dmq1", &key->dmq1}, {"iqmp", &key->iqmp}};
  for (auto [name, slot] : parts) {
    if (with_e || std::string(name) != "e") BN_hex2bn(slot, rec[name].c_str());
  }
  return key;
}

// The `bits`-bit record of `path` (test/data/rsa/keys.txt).
inline RSA* LoadKeyFile(const char* path, int bits, bool with_e = true) {
  return LoadKeyRecord(path, "bits", std::to_string(bits), with_e);
}

// The record named `name` of `path` (test/data/rsa/unbalanced_keys.txt:
// "<p bits>x<q bits>").
inline RSA* LoadNamedKey(const char* path, const std::string& name) {
  return LoadKeyRecord(path, "name", name);
}

}  // namespace rsa_test

#endif  // MORVANE_TEST_RSA_KEY_FILE_H
