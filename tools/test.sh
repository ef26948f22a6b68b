#!/bin/sh
# Builds the library and every suite with AddressSanitizer and
# UndefinedBehaviorSanitizer into build/check, the library with clang, the
# concurrency suites with ThreadSanitizer into build/tsan and the fuzz targets
# into build/fuzz (replaying their corpora), then runs all tests through ctest
# (one process per test; the constant-time checks under valgrind).  Exits
# non-zero on any failure.
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVANE_SANITIZE=ON -DMORVANE_WERROR=ON "$@"
cmake --build build/check -j "$jobs"
# The library alone, warning-free under clang too (when clang is installed).
if command -v clang++ >/dev/null 2>&1; then
  cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON \
    -DMORVANE_BUILD_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/clang -j "$jobs" --target morvane
fi
# ThreadSanitizer: the library and the concurrency suites only, in build/tsan
# (a lock callback in concurrency_test serves CRYPTO_READ as a shared lock).
tsan_suites="concurrency_test engine_threads_test err_test ex_data_test lhash_test locks_test mem_dbg_test rand_test rsa_threads_test ec_threads_test"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TSAN=ON \
  -DMORVANE_WERROR=ON -DMORVANE_BUILD_APPS=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target $tsan_suites
(cd build/tsan && TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}" ctest --output-on-failure \
  -j "$jobs" --timeout 600 -L "^($(echo $tsan_suites | tr ' ' '|'))\$")
# The fuzz targets (clang, libFuzzer with ASan and UBSan), each replaying its
# committed corpus fuzz/corpus/<name>/ once: a fuzz build that breaks, a
# target without corpus or an input that now fails stops the run.
if command -v clang++ >/dev/null 2>&1; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_WERROR=ON \
    -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_APPS=OFF -DMORVANE_BUILD_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/fuzz -j "$jobs" --target morvane_fuzzers
  for src in fuzz/*_fuzz.cc; do
    name=$(basename "$src" _fuzz.cc)
    ls fuzz/corpus/"$name"/* >/dev/null 2>&1 || { echo "no corpus in fuzz/corpus/$name/"; exit 1; }
    build/fuzz/fuzz/"${name}_fuzz" fuzz/corpus/"$name"/* >build/fuzz/"$name".log 2>&1 ||
      { cat build/fuzz/"$name".log; echo "fuzz corpus replay failed: $name"; exit 1; }
  done
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd build/check
ctest --output-on-failure -j "$jobs" --timeout 600
