#include "rsa_test_util.h"

#include <morvane/bn.h>

#include <random>
#include <sstream>

namespace rsa_test {

BIGNUM* Hex(const std::string& hex) {
  BIGNUM* b = nullptr;
  if (BN_hex2bn(&b, hex.c_str()) != static_cast<int>(hex.size())) {
    BN_free(b);
    return nullptr;
  }
  return b;
}

Bytes ToBytes(const BIGNUM* a, size_t len) {
  Bytes out(len);
  const size_t n = static_cast<size_t>(BN_num_bytes(a));
  if (n <= len) BN_bn2bin(a, out.data() + len - n);
  return out;
}

Rsa MakeKey(const KeyText& text, const std::string& parts) {
  Rsa key(RSA_new());
  if (!key) return key;
  std::vector<std::string> names;
  std::stringstream ss(parts.empty() ? "n,e,d,p,q,dmp1,dmq1,iqmp" : parts);
  for (std::string name; std::getline(ss, name, ',');) names.push_back(name);
  RSA* r = key.get();
  const std::map<std::string, BIGNUM**> slots = {
      {"n", &r->n}, {"e", &r->e},       {"d", &r->d},       {"p", &r->p},
      {"q", &r->q}, {"dmp1", &r->dmp1}, {"dmq1", &r->dmq1}, {"iqmp", &r->iqmp}};
  for (const auto& name : names) {
    auto it = text.find(name);
    if (it == text.end()) {
      ADD_FAILURE() << "no number " << name;
      continue;
    }
    *slots.at(name) = Hex(it->second);
  }
  return key;
}

namespace {

std::map<int, KeyText> LoadKeys() {
  std::map<int, KeyText> keys;
  for (const auto& rec : morvane_test::ReadRsp(morvane_test::TestDataFile("rsa/keys.txt"))) {
    KeyText k;
    for (const auto& [name, value] : rec.fields) k[name] = value;
    keys[std::stoi(rec.Get("bits"))] = k;
  }
  return keys;
}

const std::map<int, KeyText>& Keys() {
  static const std::map<int, KeyText> keys = LoadKeys();
  return keys;
}

}  // namespace

const KeyText& TestKey(int bits) {
  auto it = Keys().find(bits);
  if (it == Keys().end()) {
    ADD_FAILURE() << "no test key of " << bits << " bits";
    static const KeyText empty;
    return empty;
  }
  return it->second;
}

const std::map<std::string, KeyText>& UnbalancedKeys() {
  static const std::map<std::string, KeyText> keys = [] {
    std::map<std::string, KeyText> m;
    for (const auto& rec :
         morvane_test::ReadRsp(morvane_test::TestDataFile("rsa/unbalanced_keys.txt"))) {
      KeyText k;
      for (const auto& [name, value] : rec.fields) k[name] = value;
      m[rec.Get("name")] = k;
    }
    return m;
  }();
  return keys;
}

std::vector<int> TestKeySizes() {
  std::vector<int> sizes;
  for (const auto& [bits, key] : Keys()) sizes.push_back(bits);
  return sizes;
}

KeyText WycheproofKey(const morvane_test::WycheproofTest& t) {
  const std::pair<const char*, const char*> names[] = {
      {"n", "modulus"}, {"e", "publicExponent"}, {"d", "privateExponent"}, {"p", "prime1"},
      {"q", "prime2"},  {"dmp1", "exponent1"},   {"dmq1", "exponent2"},    {"iqmp", "coefficient"}};
  KeyText k;
  for (auto [ours, theirs] : names) k[ours] = t.Get(std::string("privateKey.") + theirs);
  return k;
}

Bytes Pseudo(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

}  // namespace rsa_test
