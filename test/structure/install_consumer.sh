#!/bin/sh
# Installs the build into a scratch prefix and builds a tiny consumer against
# it twice: through pkg-config and through find_package(Morvane).
set -eu
build=$1; src=$2; work=$3; cc=$4; flags=$5
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n 1)
libdir=${libdir%/pkgconfig}
test -L "$libdir/libmorvane.so.0" || { echo "missing SONAME link"; exit 1; }

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
echo "installed copy consumed through pkg-config and CMake"
