#!/usr/bin/env bash
# Installs the packages, builds, and makes the Debian package build/pawlinex_<version>_<arch>.deb
# (or in $PAWLINEX_BUILD_DIR), replacing an older one. Install it with
#   sudo apt install ./build/pawlinex_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PAWLINEX_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
PAWLINEX_BUILD_DIR=$build "$root/scripts/build.sh"
cd "$build"
# One package in the folder, so that ./build/pawlinex_*.deb names it.
rm -f pawlinex_*.deb
cpack -G DEB
