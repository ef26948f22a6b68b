// Shared pieces of the benchmarks: the message sizes, the buffers, and the
// registration of one operation in each library with a cross-check that all
// of them compute the same bytes before anything is timed.
//
// Names are "<operation>/<library>/<bytes>" (throughput) or
// "<operation>/<library>" (key setup); tools/bench_table.py reads them back.
#ifndef MORVANE_BENCH_BENCH_H
#define MORVANE_BENCH_BENCH_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <gcrypt.h>

namespace bench {

inline constexpr size_t kSizes[] = {16, 1024, 16384};
inline constexpr size_t kMaxLen = 16384;
// Bytes every library must agree on before its figures mean anything.
inline constexpr size_t kCheckLen = 1024;

// Fixed 64-byte aligned buffers of kMaxLen + 64 bytes; the input holds a
// pseudo-random pattern, the output is scratch.
const uint8_t* Input();
uint8_t* Output();

inline constexpr uint8_t kKey[32] = {
    0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae, 0xf0, 0x85, 0x7d, 0x77, 0x81,
    0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61, 0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
inline constexpr uint8_t kIv[16] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7,
                                    0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff};

// One library's side of an operation.  `check` runs the operation once from a
// fresh state over kCheckLen bytes; `time` is the benchmark body.
struct Impl {
  std::string lib;
  std::function<void(const uint8_t*, uint8_t*)> check;
  std::function<void(benchmark::State&)> time;
};

// `make()` returns a fresh callable `run(in, out, len)` that processes `len`
// bytes (a digest writes its value to `out`; a cipher continues its stream).
template <class Make>
Impl Op(std::string lib, Make make) {
  Impl impl;
  impl.lib = std::move(lib);
  impl.check = [make](const uint8_t* in, uint8_t* out) {
    auto run = make();
    run(in, out, kCheckLen);
  };
  impl.time = [make](benchmark::State& state) {
    auto run = make();
    const size_t len = static_cast<size_t>(state.range(0));
    const uint8_t* in = Input();
    uint8_t* out = Output();
    for (auto _ : state) {
      run(in, out, len);
      benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
  };
  return impl;
}

// Registers a throughput operation at every size in kSizes.  The first
// implementation is Morvane's; `compare` bytes of each peer's output (the
// digest length, or kCheckLen for a cipher) must equal Morvane's, or the
// program stops before timing anything.
void Throughput(const std::string& op, size_t compare, std::vector<Impl> impls);

// Key setup: `setup(key)` expands the 32-byte key buffer; timed per call.
struct KeyImpl {
  std::string lib;
  std::function<void(benchmark::State&)> time;
};
template <class Make>
KeyImpl KeyOp(std::string lib, Make make) {
  KeyImpl impl;
  impl.lib = std::move(lib);
  impl.time = [make](benchmark::State& state) {
    auto setup = make();
    uint8_t key[32];
    for (size_t i = 0; i < sizeof key; i++) key[i] = kKey[i];
    for (auto _ : state) {
      setup(key);
      key[0]++;  // a new key each time, as a caller changing keys would
      benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  };
  return impl;
}
void KeySetup(const std::string& op, std::vector<KeyImpl> impls);

// A libgcrypt cipher handle for `algo` in `mode`, keyed with the first
// `keylen` bytes of kKey and started from kIv (or the counter kIv).
using GcryCipher = std::shared_ptr<gcry_cipher_hd_t>;
GcryCipher GcryOpen(int algo, int mode, size_t keylen);
// libgcrypt's side of a cipher operation over one stream.
Impl GcryOp(int algo, int mode, size_t keylen, bool encrypt);

// The files of one folder with the given extension (".crt"), sorted by
// name, each read whole (bench_x509.cc).
std::vector<std::vector<unsigned char>> ReadFiles(const std::string& dir, const std::string& ext);

// Registration functions of the benchmark files, called by main.
void RegisterAes();
void RegisterAsn1();
void RegisterBase64();
void RegisterBn();
void RegisterBnFields();
void RegisterCiphers();
void RegisterConf();
void RegisterDes();
void RegisterDigests();
void RegisterHmac();
void RegisterDsaDh();
void RegisterEnvelope();
void RegisterPem();
void RegisterPkcs7();
void RegisterRand();
void RegisterRsa();
void RegisterX509();
void RegisterX509Policy();
// Verification against long-lived objects and store additions (bench_x509_verify.cc).
void RegisterX509Verify();
void RegisterPkitsVerify();
void RegisterRsaSign();

// Records a cross-check failure; main reports them and exits non-zero.
void Mismatch(const std::string& what);

}  // namespace bench

#endif  // MORVANE_BENCH_BENCH_H
