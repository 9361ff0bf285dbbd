#!/bin/sh
# Builds the Debian packages (scripts/build_debs.sh, lintian-clean) and checks
# that a user's project builds against them, with find_package(Utilities) and
# with pkg-config, and that the packaged tool and Python module run.
#   scripts/test_package.sh            unpacks the packages into a scratch tree
#   scripts/test_package.sh --install  installs them for real with apt (root), then removes them
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh pkgconf dpkg-dev
scripts/build_debs.sh
debs=build/package/debs
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=build/package/check
rm -rf "$work" && mkdir -p "$work"

if [ "${1:-}" = "--install" ]; then
    apt-get install -y -q "./$debs"/libutilities1_*.deb "./$debs"/libutilities-dev_*.deb \
        "./$debs"/utiltool_*.deb "./$debs"/python3-utilities_*.deb >/dev/null
    root=/usr
    libpath=""
    pypath=""
else
    for deb in "$debs"/*.deb; do
        dpkg-deb -x "$deb" "$work/root"
    done
    root=$(pwd)/$work/root/usr
    libpath="$root/lib/$multiarch"
    pypath="$root/lib/python3/dist-packages"
fi
run() { LD_LIBRARY_PATH="$libpath" "$@"; }

# find_package, as in examples/consumer.
cmake -S examples/consumer -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root" >/dev/null
cmake --build "$work/cmake" >/dev/null
run "$work/cmake/consumer"

# pkg-config, with the same program, under the multiarch library directory.
pc="$root/lib/$multiarch/pkgconfig"
PKG_CONFIG_PATH="$pc" pkg-config --exists Utilities
# shellcheck disable=SC2046
g++ -std=c++20 examples/consumer/main.cpp -o "$work/pc-consumer" \
    $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs Utilities)
run "$work/pc-consumer"
test "$(run "$root/bin/utiltool" expr "6 * 7")" = 42
zcat "$root/share/man/man1/utiltool.1.gz" | grep -q '^\.TH UTILTOOL'
# The module, from Debian's python3, writes a file the packaged tool reads.
(cd "$work" && LD_LIBRARY_PATH="$libpath" PYTHONPATH="$pypath" /usr/bin/python3 -c '
import utilities
with utilities.SegmentedFileWriter("py.seg") as w:
    w.add("answer", b"42")
assert utilities.Expression("6 * 7")() == 42 and utilities.is_prime(2**61 - 1)
')
test "$(run "$root/bin/utiltool" segfile get "$work/py.seg" answer)" = 42

if [ "${1:-}" = "--install" ]; then
    apt-get remove -y -q python3-utilities utiltool libutilities-dev libutilities1 >/dev/null
fi
echo "package: ok ($(cd "$debs" && echo *.deb))"
