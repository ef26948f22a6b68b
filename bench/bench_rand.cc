// RAND_bytes through the built-in pool generator at 16 B, 256 B and 4 KiB:
// one SHA-1 per 10 bytes plus one per request, by design.  Names are
// "rand-bytes/morvane/<bytes>"; there is no peer to compare with.

#include <stdint.h>

#include <morvane/rand.h>

#include "bench.h"

namespace bench {

void RegisterRand() {
  auto* b = benchmark::RegisterBenchmark("rand-bytes/morvane", [](benchmark::State& state) {
    const int len = static_cast<int>(state.range(0));
    for (auto _ : state) {
      if (RAND_bytes(Output(), len) != 1) state.SkipWithError("generator not seeded");
      benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
  });
  for (int len : {16, 256, 4096}) b->Arg(len);
}

}  // namespace bench
