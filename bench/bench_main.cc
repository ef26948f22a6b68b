// The benchmark program: sets up libgcrypt, registers every operation (after
// checking that the libraries agree on its output), measures the core clock,
// and runs Google Benchmark with the command-line flags it was given.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <gcrypt.h>
#include <nettle/version.h>

#include <morvane/crypto.h>

#include "bench.h"

namespace bench {
namespace {

alignas(64) uint8_t g_in[kMaxLen + 64];
alignas(64) uint8_t g_out[kMaxLen + 64];
std::vector<std::string> g_mismatches;

void FillInput() {
  uint32_t x = 0x9e3779b9u;
  for (auto& b : g_in) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
}

// The core clock: a chain of dependent one-cycle additions, timed.  Its
// items per second are cycles per second, which turn the throughputs into
// cycles per byte (the TSC of this machine does not run at the core clock and
// the cycle counters are not readable in the virtual machine).
void ClockCalibrate(benchmark::State& state) {
  uint64_t x = 0;
  for (auto _ : state) {
    for (int i = 0; i < 10; i++) {
      asm volatile(
          ".rept 100\n\t"
          "add $1, %0\n\t"
          ".endr"
          : "+r"(x));
    }
  }
  benchmark::DoNotOptimize(x);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1000);
}

}  // namespace

const uint8_t* Input() {
  return g_in;
}
uint8_t* Output() {
  return g_out;
}

void Mismatch(const std::string& what) {
  g_mismatches.push_back(what);
}

void Throughput(const std::string& op, size_t compare, std::vector<Impl> impls) {
  alignas(64) static uint8_t ours[kCheckLen + 64];
  alignas(64) static uint8_t theirs[kCheckLen + 64];
  memset(ours, 0, sizeof ours);
  impls[0].check(g_in, ours);
  for (size_t i = 1; i < impls.size(); i++) {
    memset(theirs, 0, sizeof theirs);
    impls[i].check(g_in, theirs);
    if (memcmp(ours, theirs, compare) != 0)
      Mismatch(op + ": " + impls[0].lib + " and " + impls[i].lib + " differ");
  }
  for (auto& impl : impls) {
    auto* b = benchmark::RegisterBenchmark((op + "/" + impl.lib).c_str(), impl.time);
    for (size_t len : kSizes) b->Arg(static_cast<int64_t>(len));
  }
}

GcryCipher GcryOpen(int algo, int mode, size_t keylen) {
  auto* h = new gcry_cipher_hd_t;
  gcry_cipher_open(h, algo, mode, 0);
  gcry_cipher_setkey(*h, kKey, keylen);
  size_t blk = gcry_cipher_get_algo_blklen(algo);
  if (mode == GCRY_CIPHER_MODE_CTR)
    gcry_cipher_setctr(*h, kIv, blk);
  else if (mode != GCRY_CIPHER_MODE_ECB && mode != GCRY_CIPHER_MODE_STREAM)
    gcry_cipher_setiv(*h, kIv, blk);
  return GcryCipher(h, [](gcry_cipher_hd_t* p) {
    gcry_cipher_close(*p);
    delete p;
  });
}

Impl GcryOp(int algo, int mode, size_t keylen, bool encrypt) {
  return Op("libgcrypt", [=] {
    return
        [h = GcryOpen(algo, mode, keylen), encrypt](const uint8_t* in, uint8_t* out, size_t len) {
          if (encrypt)
            gcry_cipher_encrypt(*h, out, len, in, len);
          else
            gcry_cipher_decrypt(*h, out, len, in, len);
        };
  });
}

void KeySetup(const std::string& op, std::vector<KeyImpl> impls) {
  for (auto& impl : impls) benchmark::RegisterBenchmark((op + "/" + impl.lib).c_str(), impl.time);
}

}  // namespace bench

int main(int argc, char** argv) {
  if (!gcry_check_version(GCRYPT_VERSION)) {
    fprintf(stderr, "libgcrypt is older than its header\n");
    return 1;
  }
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);

  bench::FillInput();
  benchmark::RegisterBenchmark("clock/calibrate", bench::ClockCalibrate);
  bench::RegisterDigests();
  bench::RegisterHmac();
  bench::RegisterEnvelope();
  bench::RegisterAes();
  bench::RegisterDes();
  bench::RegisterCiphers();
  bench::RegisterAsn1();
  bench::RegisterBase64();
  bench::RegisterConf();
  bench::RegisterPem();
  bench::RegisterRand();
  bench::RegisterBn();
  bench::RegisterBnFields();
  bench::RegisterRsa();
  bench::RegisterRsaSign();
  bench::RegisterDsaDh();
  bench::RegisterX509();
  bench::RegisterX509Policy();
  bench::RegisterX509Verify();
  bench::RegisterPkcs7();
  bench::RegisterPkitsVerify();
  if (!bench::g_mismatches.empty()) {
    for (const auto& m : bench::g_mismatches)
      fprintf(stderr, "cross-check failed: %s\n", m.c_str());
    return 1;
  }

  const char* no_hw = getenv("MORVANE_NO_HWCRYPT");
  benchmark::AddCustomContext("morvane", MORVANE_VERSION_TEXT);
  benchmark::AddCustomContext("morvane_hwcrypt",
                              no_hw && *no_hw && strcmp(no_hw, "0") != 0 ? "off" : "auto");
  benchmark::AddCustomContext("nettle", std::to_string(nettle_version_major()) + "." +
                                            std::to_string(nettle_version_minor()));
  benchmark::AddCustomContext("libgcrypt", gcry_check_version(nullptr));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
