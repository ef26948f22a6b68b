#!/bin/sh
# Builds bench/bench_x509_verify.cc of this tree against the library of each
# tree given (a Release build of its `morvane` target in <tree>/build/rel,
# made when missing), then runs the programs in turn, pinned, a number of
# rounds, so that every tree is timed with the same benchmark code:
#
#   sh bench/x509_verify_compare.sh [-r ROUNDS] [-f FILTER] [-c] TREE...
#
# -f is a --benchmark_filter (default: all rows); -c counts instructions
# under callgrind instead: one timed iteration of each row, counting only
# inside the iteration's own function (TimedVerification, TimedAdditions),
# once (instruction counts do not vary from run to run).  Output in
# bench-x509-verify/ (OUT=dir to change): <tree>.<round>.txt, and on stdout
# the medians of each round, or the instructions of each row.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
rounds=3
filter=.
callgrind=0
while getopts r:f:c o; do
  case $o in
    r) rounds=$OPTARG ;;
    f) filter=$OPTARG ;;
    c) callgrind=1 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
out=${OUT:-bench-x509-verify}
mkdir -p "$out"
cpu=${BENCH_CPU:-7}
main_src="$out/main.cc"
cat > "$main_src" <<'EOF'
#include <benchmark/benchmark.h>
namespace bench {
void RegisterX509Verify();
}
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::RegisterX509Verify();
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
EOF
for tree in "$@"; do
  name=$(basename "$tree")
  if [ ! -f "$tree/build/rel/build.ninja" ]; then
    cmake -S "$tree" -B "$tree/build/rel" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DMORVANE_BUILD_BENCH=OFF -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_APPS=OFF >/dev/null
  fi
  cmake --build "$tree/build/rel" -j "${JOBS:-4}" --target morvane >/dev/null
  lib=$(dirname "$(find "$tree/build/rel" -name 'libmorvane.so' | head -1)")
  g++ -std=c++20 -O2 -DNDEBUG -I"$tree/include" -I"$here" "$here/bench_x509_verify.cc" \
    "$main_src" -L"$lib" -Wl,-rpath,"$lib" -lmorvane -lbenchmark -lpthread -o "$out/$name"
done
if [ "$callgrind" = 1 ]; then
  for tree in "$@"; do
    name=$(basename "$tree")
    echo "== $name (instructions of one iteration)"
    for row in $("$out/$name" --benchmark_list_tests --benchmark_filter="$filter"); do
      file="$out/$name.$(echo "$row" | tr '/' '_').cg"
      valgrind --tool=callgrind --toggle-collect='*Timed*' --callgrind-out-file="$file" \
        "$out/$name" --benchmark_filter="^$row\$" --benchmark_min_time=0.000001 \
        >/dev/null 2>&1
      echo "$row $(callgrind_annotate "$file" 2>/dev/null | awk '/PROGRAM TOTALS/ {print $1}')"
    done
  done
  exit 0
fi
r=1
while [ "$r" -le "$rounds" ]; do
  for tree in "$@"; do
    name=$(basename "$tree")
    taskset -c "$cpu" "$out/$name" --benchmark_filter="$filter" \
      --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
      >"$out/$name.$r.txt" 2>/dev/null
  done
  r=$((r + 1))
done
for tree in "$@"; do
  name=$(basename "$tree")
  echo "== $name (median of 5 repetitions, each round)"
  grep -h '_median' "$out/$name".*.txt | awk '{print $1, $2, $3}' | sort -s -k1,1
done
