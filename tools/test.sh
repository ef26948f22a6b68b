#!/bin/sh
# Builds the library and every suite with AddressSanitizer and
# UndefinedBehaviorSanitizer into build/check, the library alone without
# optimization into build/debug, the concurrency suites with
# ThreadSanitizer into build/tsan and the fuzz targets with clang into
# build/fuzz (replaying their corpora; the fuzz build also keeps the library
# warning-free under clang), then runs all tests through ctest (one process
# per test; the constant-time checks under valgrind).  Exits non-zero on any
# failure.  Prints the time each stage took.
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)
stage() { now=$(date +%s); echo "== $1: $((now - start)) s"; start=$now; }
# Line tables only (-g1): the sanitizers' and valgrind's reports keep their
# files, lines and functions, and the builds take a third less time.
debug_flags="-O2 -g1 -DNDEBUG"
cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$debug_flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$debug_flags" \
  -DMORVANE_SANITIZE=ON -DMORVANE_WERROR=ON "$@"
cmake --build build/check -j "$jobs"
stage "sanitized build"
# The library alone without optimization (Debug, -O0) in build/debug, so that
# a debugging build keeps compiling: there every operand of an asm statement
# takes a register of its own.
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_WERROR=ON \
  -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_APPS=OFF >/dev/null
cmake --build build/debug -j "$jobs" --target morvane
stage "library at -O0"
# ThreadSanitizer: the library and the concurrency suites only, in build/tsan
# (a lock callback in concurrency_test serves CRYPTO_READ as a shared lock).
tsan_suites="concurrency_test engine_threads_test err_test ex_data_test lhash_test locks_test mem_dbg_test rand_test rsa_threads_test ec_threads_test x509_threads_test pkcs7_threads_test"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TSAN=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$debug_flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$debug_flags" \
  -DMORVANE_WERROR=ON -DMORVANE_BUILD_APPS=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target $tsan_suites
(cd build/tsan && TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}" ctest --output-on-failure \
  -j "$jobs" --timeout 600 -L "^($(echo $tsan_suites | tr ' ' '|'))\$")
stage "ThreadSanitizer build and suites"
# The fuzz targets (clang, libFuzzer with ASan and UBSan), each replaying its
# committed corpus fuzz/corpus/<name>/ once: a fuzz build that breaks, a
# target without corpus or an input that now fails stops the run.
if command -v clang++ >/dev/null 2>&1; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_WERROR=ON \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="$debug_flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$debug_flags" \
    -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_APPS=OFF -DMORVANE_BUILD_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/fuzz -j "$jobs" --target morvane_fuzzers
  # The replays run side by side; each failing one prints its log.
  for src in fuzz/*_fuzz.cc; do basename "$src" _fuzz.cc; done | xargs -P "$jobs" -n 1 sh -c '
    ls fuzz/corpus/"$0"/* >/dev/null 2>&1 || { echo "no corpus in fuzz/corpus/$0/"; exit 1; }
    build/fuzz/fuzz/"$0"_fuzz fuzz/corpus/"$0"/* >build/fuzz/"$0".log 2>&1 ||
      { cat build/fuzz/"$0".log; echo "fuzz corpus replay failed: $0"; exit 1; }'
  stage "fuzz build and corpus replay"
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd build/check
ctest --output-on-failure -j "$jobs" --timeout 600
stage "test suites"
