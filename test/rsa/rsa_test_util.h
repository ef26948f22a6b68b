// Helpers of the RSA suites: keys from test/data/rsa/keys.txt and the
// Wycheproof files, owning pointers, hex and byte conversions.
#ifndef MORVANE_TEST_RSA_TEST_UTIL_H
#define MORVANE_TEST_RSA_TEST_UTIL_H

#include <morvane/bn.h>
#include <morvane/rsa.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace rsa_test {

using morvane_test::Bytes;

struct RsaFree {
  void operator()(RSA* r) const { RSA_free(r); }
};
using Rsa = std::unique_ptr<RSA, RsaFree>;

// A number from hex text (null on a malformed text).
BIGNUM* Hex(const std::string& hex);
// Big-endian bytes of a, exactly len of them (zeros in front).
Bytes ToBytes(const BIGNUM* a, size_t len);

// The numbers of a key by name ("n", "e", "d", "p", "q", "dmp1", "dmq1",
// "iqmp"), as hex.
using KeyText = std::map<std::string, std::string>;
// A new key holding the named numbers of `text` that `parts` lists
// (comma-separated), all when parts is empty.
Rsa MakeKey(const KeyText& text, const std::string& parts = "");
// The test key of `bits` bits (512, 520, 768, 1024, 1025, 1031, 1536, 2048,
// 3072, 4096), made by tools/gen_rsa_keys.py.
const KeyText& TestKey(int bits);
// Every size that TestKey knows.
std::vector<int> TestKeySizes();
// The keys of test/data/rsa/unbalanced_keys.txt (primes of different
// lengths, p first even when shorter), by name ("<p bits>x<q bits>").
const std::map<std::string, KeyText>& UnbalancedKeys();
// A Wycheproof private key ("privateKey.modulus" and the rest) as KeyText.
KeyText WycheproofKey(const morvane_test::WycheproofTest& t);

// Bytes drawn from a fixed-seed generator.
Bytes Pseudo(size_t n, unsigned seed);

}  // namespace rsa_test

#endif  // MORVANE_TEST_RSA_TEST_UTIL_H
