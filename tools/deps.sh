#!/bin/sh
# Installs from apt what the build and tests need, and any packages named as
# arguments, only where missing.
set -eu
need=""
# valgrind: the constant-time checks (test/ct/); clang and its runtimes: the
# fuzz targets; libgmp-dev: the big-number cross-checks (test/bn/); nettle-dev
# (Nettle's hogweed, with GMP) and libgcrypt20-dev: the elliptic-curve
# cross-checks (test/ec/); lighttpd: the web server of the OCSP loopback tests
# (test/ocsp/), installed without its recommended packages, which bring a TLS
# module linking a system crypto library.
for pkg in g++ cmake ninja-build libgtest-dev python3 pkg-config binutils valgrind clang libgmp-dev \
  libclang-rt-dev nettle-dev libgcrypt20-dev lighttpd "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need="$need $pkg"
done
[ -z "$need" ] && exit 0
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
$sudo_cmd apt-get update
# shellcheck disable=SC2086
$sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $need
