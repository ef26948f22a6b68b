// The Karatsuba crossovers of the limb products and squares, swept: its own
// copy of the limb sources (built with MORVANE_BN_SWEEP, which lets the
// crossover be set) times limb::mul_square at operand sizes n of 12 to 128
// limbs with 0 to 3 levels of Karatsuba above the rows, the squares with
// and without their split into halves (split_square).  Names are
// "sweep-<mul|sqr>/<n>/<levels>/<split>"; the crossover for a size is the
// least n from which one level more is faster.  The kernel is the processor's, or
// the plain one under MORVANE_NO_HWCRYPT=adx: run it once each way, e.g.
//
//   taskset -c 4 build/bench/bench/morvane_bn_sweep --benchmark_repetitions=5
//   MORVANE_NO_HWCRYPT=adx taskset -c 4 build/bench/bench/morvane_bn_sweep ...

#include <stdint.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bn/limbs.h"

namespace limb = morvane::bn::limb;

namespace {

constexpr int kSizes[] = {12, 16, 20, 24, 28, 32, 36, 40, 48, 56, 64, 72, 80, 96, 128};

// The crossover that gives exactly `levels` levels of Karatsuba for n limbs
// (the high half, n - n / 2 limbs, is the one that recurses).
int CrossoverFor(int n, int levels) {
  if (levels == 0) return n + 1;
  int s = n;
  for (int i = 1; i < levels; i++) s -= s / 2;
  return s;
}

void Sweep(benchmark::State& state, bool square) {
  const int n = static_cast<int>(state.range(0)), levels = static_cast<int>(state.range(1));
  uint64_t x = 0x9E3779B97F4A7C15u;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  std::vector<limb::Limb> a(n), b(n), r(2 * n), scratch(limb::scratch_limbs(n) + 1);
  for (auto& v : a) v = next();
  for (auto& v : b) v = next();
  limb::g_sweep_karatsuba[square] = CrossoverFor(n, levels);
  limb::g_sweep_split = state.range(2) != 0;
  const limb::Limb* bb = square ? a.data() : b.data();
  for (auto _ : state) {
    limb::mul_square(r.data(), a.data(), bb, n, scratch.data());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  limb::g_sweep_karatsuba[square] = 0;
  limb::g_sweep_split = true;
}

void Register(const char* name, bool square) {
  auto* b = benchmark::RegisterBenchmark(
      name, [square](benchmark::State& s) { Sweep(s, square); });
  for (int n : kSizes) {
    for (int levels = 0; levels <= 3; levels++) {
      if (levels > 0 && CrossoverFor(n, levels) < 6) continue;
      b->Args({n, levels, 1});
      if (square) b->Args({n, levels, 0});
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register("sweep-mul", false);
  Register("sweep-sqr", true);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
