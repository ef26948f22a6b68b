#!/bin/sh
# Line and branch coverage of crypto/ over the whole suite, per component.
# Builds with clang's source-based coverage into build/cov (or $1), runs every
# test through ctest, merges the profiles and prints one row per component:
#   component  lines-covered/lines  line%  branches-covered/branches  branch%
# The full per-file report is left in <build>/coverage.txt.  Profiles are
# merged per process id (%m), so a test whose id was reused is not lost.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-build/cov}
jobs=$(nproc 2>/dev/null || echo 2)
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$out" -j "$jobs" >/dev/null
rm -rf "$out/prof" && mkdir -p "$out/prof"
(cd "$out" && LLVM_PROFILE_FILE="$root/$out/prof/%p-%m.profraw" \
  ctest -j "$jobs" --timeout 600 >"$root/$out/ctest.log" 2>&1) || {
  tail -n 20 "$out/ctest.log"; echo "coverage: some tests failed" >&2; }
llvm-profdata merge -sparse -o "$out/merged.profdata" "$out"/prof/*.profraw
llvm-cov report "$out/lib/libmorvane.so" -instr-profile="$out/merged.profdata" \
  -show-region-summary=false -show-instantiation-summary=false \
  "$root/crypto" >"$out/coverage.txt"
python3 - "$out/coverage.txt" <<'PY'
import sys, collections
path = sys.argv[1]
rows = collections.OrderedDict()
total = [0, 0, 0, 0]
for line in open(path):
    f = line.split()
    # Paths are relative to crypto/; files at its top are the core.
    if len(f) != 10 or f[0] in ('Filename', 'TOTAL') or not f[1].isdigit():
        continue
    comp = f[0].split('/')[0] if '/' in f[0] else 'core'
    # Filename Functions Missed Cover Lines Missed Cover Branches Missed Cover
    lines, lmiss, br, bmiss = int(f[4]), int(f[5]), int(f[7]), int(f[8])
    r = rows.setdefault(comp, [0, 0, 0, 0])
    for i, v in enumerate((lines - lmiss, lines, br - bmiss, br)):
        r[i] += v; total[i] += v
pct = lambda a, b: 100.0 * a / b if b else 100.0
for comp, r in sorted(rows.items()) + [('TOTAL', total)]:
    print(f"{comp:12s} {r[0]:6d}/{r[1]:<6d} {pct(r[0], r[1]):6.2f}%  {r[2]:6d}/{r[3]:<6d} {pct(r[2], r[3]):6.2f}%")
PY
