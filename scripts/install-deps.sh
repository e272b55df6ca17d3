#!/usr/bin/env bash
# Installs the Debian 12 packages listed in scripts/packages.txt (through sudo when not root).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
mapfile -t pkgs < <(grep -v -E '^\s*(#|$)' "$here/packages.txt")
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update
    # Dovecot's package starts its service when it can; the tests run their own instances.
    $SUDO apt-get install -y "${missing[@]}"
fi
