#!/bin/sh
# Builds the Debian package and checks that a user's project builds against
# it, with find_package(Utilities) and with pkg-config.
#   scripts/test_package.sh            unpacks the package into a scratch tree
#   scripts/test_package.sh --install  installs it for real with apt (root), then removes it
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh pkgconf dpkg-dev
cmake --preset package >/dev/null && cmake --build --preset package && cpack --preset package >/dev/null
deb=$(ls build/package/libutilities_*_amd64.deb)
work=build/package/check
rm -rf "$work" && mkdir -p "$work"

if [ "${1:-}" = "--install" ]; then
    apt-get install -y -q "./$deb" >/dev/null
    root=/usr
    libpath=""
else
    dpkg-deb -x "$deb" "$work/root"
    root=$(pwd)/$work/root/usr
    libpath="$root/lib"
fi
run() { LD_LIBRARY_PATH="$libpath" "$@"; }

# find_package, as in examples/consumer.
cmake -S examples/consumer -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root" >/dev/null
cmake --build "$work/cmake" >/dev/null
run "$work/cmake/consumer"

# pkg-config, with the same program.
PKG_CONFIG_PATH="$root/lib/pkgconfig" pkg-config --exists Utilities
# shellcheck disable=SC2046
g++ -std=c++20 examples/consumer/main.cpp -o "$work/pc-consumer" \
    $(PKG_CONFIG_PATH="$root/lib/pkgconfig" pkg-config --cflags --libs Utilities)
run "$work/pc-consumer"
test "$(run "$root/bin/utiltool" expr "6 * 7")" = 42

if [ "${1:-}" = "--install" ]; then
    apt-get remove -y -q libutilities >/dev/null
fi
echo "package: ok ($deb)"
