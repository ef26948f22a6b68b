#!/bin/sh
# Builds the benchmarks in Release into build/bench (installing Google
# Benchmark, Nettle, libgcrypt, GMP and Crypto++ from apt where missing), runs them pinned to
# one core and prints the table of Morvane against the fastest peer.
#
#   MORVANE_BENCH_CPU     core to pin to (default 7; taskset when present)
#   MORVANE_BENCH_REPS    repetitions, in random order; the table takes the best
#                         of each (default 5)
#   MORVANE_BENCH_FILTER  regular expression over benchmark names (default all)
#   MORVANE_NO_HWCRYPT=1  time Morvane's portable code instead of AES-NI/SHA-NI
# Further arguments go to the benchmark program.
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh libbenchmark-dev nettle-dev libgcrypt20-dev libgmp-dev libcrypto++-dev
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_BENCH=ON \
  -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_APPS=OFF >/dev/null
cmake --build build/bench -j 4 --target morvane_bench
cpu="${MORVANE_BENCH_CPU:-7}"
reps="${MORVANE_BENCH_REPS:-5}"
pin=""
where="unpinned (no taskset)"
if command -v taskset >/dev/null 2>&1; then
  pin="taskset -c $cpu"
  where="pinned to core $cpu"
fi
out=build/bench/results.json
# shellcheck disable=SC2086
$pin build/bench/bench/morvane_bench --benchmark_repetitions="$reps" \
  --benchmark_min_time=0.1 --benchmark_enable_random_interleaving=true \
  --benchmark_filter="${MORVANE_BENCH_FILTER:-.}" \
  --benchmark_out="$out" --benchmark_out_format=json "$@" >/dev/null 2>build/bench/stderr.txt ||
  { cat build/bench/stderr.txt >&2; exit 1; }
if [ -r /proc/cpuinfo ]; then
  echo "CPU:$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2-), $(nproc) cores; $where, $reps repetitions"
  echo "Flags:$(grep -m1 '^flags' /proc/cpuinfo | cut -d: -f2-)"
fi
python3 tools/bench_table.py "$out"
