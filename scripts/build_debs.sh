#!/bin/sh
# Builds the Debian packages of the project into build/package/debs:
#   libutilities1     the shared library (multiarch), its shlibs and ldconfig trigger
#   libutilities-dev  the headers, the .so link, the CMake package and the .pc
#   utiltool          the command-line tool and its manual page
#   python3-utilities the Python module (built by the package preset for
#                     Debian's python3)
# from a release build installed under /usr (one install component each), and
# checks them with lintian, errors and warnings. Needs root for apt only when
# something is missing.
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh dpkg-dev help2man lintian
build=build/package
out=$(pwd)/$build/debs
cmake --preset package >/dev/null
cmake --build --preset package >/dev/null

upstream=$(sed -n 's/^project(Utilities VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
version="$upstream-1"
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
maintainer="libUtilities developers <developers@libutilities.org>"
rm -rf "$out" && mkdir -p "$out"

# Each package's tree, with its copyright and changelog.
for pair in libutilities1:runtime libutilities-dev:dev utiltool:tool python3-utilities:python; do
    pkg=${pair%%:*}
    DESTDIR="$out/$pkg" cmake --install "$build" --component "${pair#*:}" >/dev/null
    doc="$out/$pkg/usr/share/doc/$pkg"
    mkdir -p "$doc"
    cp packaging/copyright "$doc/copyright"
    gzip -9n <packaging/changelog >"$doc/changelog.Debian.gz"
    # These packages are not uploaded to Debian's archive: there is no
    # intent-to-package bug for their first changelog entry to close.
    mkdir -p "$out/$pkg/usr/share/lintian/overrides"
    printf '%s: initial-upload-closes-no-bugs\n' "$pkg" >"$out/$pkg/usr/share/lintian/overrides/$pkg"
done
libdir="$out/libutilities1/usr/lib/$multiarch"
pydir="$out/python3-utilities/usr/lib/python3/dist-packages/utilities"
test -f "$pydir/__init__.py" || { echo "build_debs: the Python module was not built (pybind11-dev, python3-dev)" >&2; exit 1; }
find "$libdir" "$out/utiltool/usr/bin" "$pydir"/_core*.so -type f -exec \
    strip --strip-unneeded --remove-section=.comment --remove-section=.note {} +

# The tool's manual page, from its own --help.
man="$out/utiltool/usr/share/man/man1"
mkdir -p "$man"
LD_LIBRARY_PATH="$libdir" help2man --no-info --version-string="$upstream" \
    --name="command line of the libUtilities building blocks" "$out/utiltool/usr/bin/utiltool" |
    gzip -9n >"$man/utiltool.1.gz"

# Run-time dependencies as dpkg-shlibdeps finds them; the tool's on the
# library comes from the library's own shlibs line.
shlibs="libUtilities 1 libutilities1 (>= $upstream)"
work="$out/.shlibdeps"
mkdir -p "$work/debian"
printf 'Source: libutilities\n\nPackage: libutilities1\nArchitecture: any\n\nPackage: utiltool\nArchitecture: any\n\nPackage: python3-utilities\nArchitecture: any\n' \
    >"$work/debian/control"
echo "$shlibs" >"$work/debian/shlibs.local"
# (Its warnings about the layout of a debian/ tree, which this is not, are dropped.)
depends() { (cd "$work" && dpkg-shlibdeps -O -l"$libdir" "$@" 2>/dev/null) | sed -n 's/^shlibs:Depends=//p'; }
depends_runtime=$(depends "$libdir/libUtilities.so.$upstream")
depends_tool=$(depends "$out/utiltool/usr/bin/utiltool")
# The module is built for one Python version: it depends on that one.
pyver=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
pynext=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % (sys.version_info[0], sys.version_info[1] + 1))')
depends_python="python3 (<< $pynext), python3 (>= $pyver~), $(depends "$pydir"/_core*.so)"
rm -rf "$work"

# One stanza of packaging/control.in, filled in, with the fields of the build.
control() {
    awk -v RS= -v pkg="$1" '$0 ~ "^Package: " pkg "\n" { print; exit }' packaging/control.in |
        sed -e "s/@ARCH@/$arch/" -e "s/@VERSION@/$version/" \
            -e "s/@DEPENDS_RUNTIME@/$depends_runtime/" -e "s/@DEPENDS_TOOL@/$depends_tool/" \
            -e "s/@DEPENDS_PYTHON@/$depends_python/" |
        sed -e "1a Source: libutilities\nVersion: $version\nMaintainer: $maintainer\nInstalled-Size: $2"
}

for pkg in libutilities1 libutilities-dev utiltool python3-utilities; do
    root="$out/$pkg"
    mkdir -p "$root/DEBIAN"
    find "$root" -type d -exec chmod 755 {} +
    find "$root" -type f -exec chmod 644 {} +
    [ -d "$root/usr/bin" ] && chmod 755 "$root"/usr/bin/*
    control "$pkg" "$(du -sk --exclude=DEBIAN "$root" | cut -f1)" >"$root/DEBIAN/control"
    (cd "$root" && find usr -type f -printf '%P\0' | sort -z | sed -z 's|^|usr/|' | xargs -0 md5sum) \
        >"$root/DEBIAN/md5sums"
    chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
done
echo "$shlibs" >"$out/libutilities1/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$out/libutilities1/DEBIAN/triggers"
chmod 644 "$out/libutilities1/DEBIAN/shlibs" "$out/libutilities1/DEBIAN/triggers"

for pkg in libutilities1 libutilities-dev utiltool python3-utilities; do
    dpkg-deb --root-owner-group --build "$out/$pkg" "$out/${pkg}_${version}_${arch}.deb" >/dev/null
    rm -rf "${out:?}/$pkg"
done
lintian --fail-on error,warning "$out"/*.deb
echo "debs: ok ($(cd "$out" && echo *.deb))"
