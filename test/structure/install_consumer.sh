#!/bin/sh
# Installs the build into a scratch prefix and tries the installed tree as a
# user would: runs the installed program (it must find the installed library
# by itself), builds a tiny consumer against it through pkg-config and through
# find_package(Morvane), and builds and runs the README's start-up example.
# The consumer is also built through find_package(Morvane) from the build
# tree itself, without installing.
set -eu
build=$1; src=$2; work=$3; cc=$4; flags=$5; readme=$6
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n 1)
libdir=${libdir%/pkgconfig}
test -L "$libdir/libmorvane.so.0" || { echo "missing SONAME link"; exit 1; }

# The installed program, with no loader path set: RIPEMD-160 of "abc" (the
# RIPEMD-160 paper's test values).
printf abc >"$work/abc.txt"
want="RIPEMD160($work/abc.txt)= 8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"
got=$(env -u LD_LIBRARY_PATH "$work/prefix/bin/rmd160" "$work/abc.txt")
[ "$got" = "$want" ] || { echo "installed rmd160 printed: $got"; exit 1; }

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046,SC2086
"$cc" -std=c11 -Wall -Wextra -Werror $flags -o "$work/consumer_pc" "$src/consumer.c" \
  $(pkg-config --cflags --libs morvane) -Wl,-rpath,"$libdir"
"$work/consumer_pc"

# CMake package
cmake -S "$src" -B "$work/cmake_build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/cmake_build" >/dev/null
"$work/cmake_build/consumer"
cmake -S "$src" -B "$work/cmake_build_tree" -DMorvane_DIR="$build" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake_build_tree" >/dev/null
"$work/cmake_build_tree/consumer"

# The README's example program (its one C block), built as the README says:
# it prints SHA-256("abc") (FIPS 180-2, B.1) and a decoding error as text.
sed -n '/^```c$/,/^```$/p' "$readme" | sed '1d;$d' >"$work/example.c"
[ -s "$work/example.c" ] || { echo "no C example in $readme"; exit 1; }
# shellcheck disable=SC2046,SC2086
"$cc" -std=c99 -Wall -Wextra -Werror $flags -o "$work/example" "$work/example.c" \
  $(pkg-config --cflags --libs morvane) -pthread -Wl,-rpath,"$libdir"
"$work/example" >"$work/example.out"
grep -qx ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad "$work/example.out" ||
  { cat "$work/example.out"; echo "README example: wrong digest"; exit 1; }
grep -q "asn1 encoding routines" "$work/example.out" ||
  { cat "$work/example.out"; echo "README example: error printed without its texts"; exit 1; }
echo "installed tree: program runs; consumed through pkg-config, CMake and the README example"
