#!/bin/sh
# Installs what the build needs (only what is missing) and builds the library
# and its programs in Release into build/release.
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_TESTS=OFF
cmake --build build/release
