#!/bin/sh
# Installs what building and testing libUtilities needs, when it is missing.
# Debian; run as root (or with sudo available).
set -eu
need=""
for pkg in cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev pybind11-dev python3-dev python3-pytest "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || need="$need $pkg"
done
[ -z "$need" ] && exit 0
echo "bootstrap: installing$need"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $need
