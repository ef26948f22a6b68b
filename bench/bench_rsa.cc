// The four raw RSA operations at 1024, 2048, 3072 and 4096 bits (the test
// keys of test/data/rsa/keys.txt, e = 65537) with padding 3, each timed per
// call.  The private operations run three ways: as a key is made (blinding
// and the check of the CRT result against e), without blinding
// (RSA_FLAG_NO_BLINDING), and without either (no blinding, and the public
// exponent taken out of the key, which skips the check); the differences give
// the share of the blinding and of the check.  One constant-time modular
// exponentiation with dmp1 modulo p, the bulk of the CRT, is timed beside
// them.  Names are "rsa-<operation>/<way>/<bits>".  The comparison with the
// peer libraries is made on signatures.

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "bench.h"
#include "rsa_key_file.h"

namespace bench {
namespace {

constexpr int kBits[] = {1024, 2048, 3072, 4096};

// The test key of `bits` bits, with or without its public exponent.
RSA* LoadKey(int bits, bool with_e) {
  RSA* key = rsa_test::LoadKeyFile(MORVANE_BENCH_TEST_DATA_DIR "/rsa/keys.txt", bits, with_e);
  if (key == nullptr) Mismatch("no test key of " + std::to_string(bits) + " bits");
  return key;
}

enum class Way { kFull, kNoBlinding, kNoCheck };
const char* const kWayNames[] = {"blinded", "unblinded", "unchecked"};

enum class Operation { kPublicEncrypt, kPublicDecrypt, kPrivateEncrypt, kPrivateDecrypt };
const char* const kOpNames[] = {"rsa-public-encrypt", "rsa-public-decrypt", "rsa-private-encrypt",
                                "rsa-private-decrypt"};

void Time(benchmark::State& state, Operation op, Way way, int bits) {
  RSA* key = LoadKey(bits, way != Way::kNoCheck);
  if (key == nullptr) {
    state.SkipWithError("no key");
    return;
  }
  if (way != Way::kFull) key->flags |= RSA_FLAG_NO_BLINDING;
  const int k = RSA_size(key);
  std::vector<uint8_t> in(Input(), Input() + k), out(static_cast<size_t>(k));
  in[0] = 0;  // below n
  auto run = [&] {
    switch (op) {
      case Operation::kPublicEncrypt:
        return RSA_public_encrypt(k, in.data(), out.data(), key, RSA_NO_PADDING);
      case Operation::kPublicDecrypt:
        return RSA_public_decrypt(k, in.data(), out.data(), key, RSA_NO_PADDING);
      case Operation::kPrivateEncrypt:
        return RSA_private_encrypt(k, in.data(), out.data(), key, RSA_NO_PADDING);
      case Operation::kPrivateDecrypt:
        return RSA_private_decrypt(k, in.data(), out.data(), key, RSA_NO_PADDING);
    }
    return -1;
  };
  if (run() != k) Mismatch(std::string(kOpNames[static_cast<int>(op)]) + " failed");
  for (auto _ : state) {
    run();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  RSA_free(key);
}

// One constant-time exponentiation with dmp1 modulo p (half of the CRT).
void TimeHalf(benchmark::State& state, int bits) {
  RSA* key = LoadKey(bits, true);
  if (key == nullptr) {
    state.SkipWithError("no key");
    return;
  }
  BN_CTX* ctx = BN_CTX_new();
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  BN_MONT_CTX_set(mont, key->p, ctx);
  BIGNUM *base = BN_new(), *r = BN_new();
  BN_bin2bn(Input(), BN_num_bytes(key->p) - 1, base);
  BN_set_flags(key->dmp1, BN_FLAG_SECRET);
  for (auto _ : state) {
    BN_mod_exp_mont_consttime(r, base, key->dmp1, key->p, ctx, mont);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  BN_free(base);
  BN_free(r);
  BN_MONT_CTX_free(mont);
  BN_CTX_free(ctx);
  RSA_free(key);
}

}  // namespace

void RegisterRsa() {
  for (int bits : kBits) {
    for (Operation op : {Operation::kPublicEncrypt, Operation::kPublicDecrypt}) {
      benchmark::RegisterBenchmark(
          (std::string(kOpNames[static_cast<int>(op)]) + "/public/" + std::to_string(bits)).c_str(),
          [op, bits](benchmark::State& s) { Time(s, op, Way::kFull, bits); });
    }
    for (Operation op : {Operation::kPrivateEncrypt, Operation::kPrivateDecrypt}) {
      for (Way way : {Way::kFull, Way::kNoBlinding, Way::kNoCheck}) {
        const std::string name = std::string(kOpNames[static_cast<int>(op)]) + "/" +
                                 kWayNames[static_cast<int>(way)] + "/" + std::to_string(bits);
        benchmark::RegisterBenchmark(
            name.c_str(), [op, way, bits](benchmark::State& s) { Time(s, op, way, bits); });
      }
    }
    benchmark::RegisterBenchmark(("rsa-exp-mod-p/consttime/" + std::to_string(bits)).c_str(),
                                 [bits](benchmark::State& s) { TimeHalf(s, bits); });
  }
}

}  // namespace bench
