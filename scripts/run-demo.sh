#!/usr/bin/env bash
# Installs the packages, builds, and starts Pawlinex on the built-in demo camera with a program
# folder prepared under ~/.local/share/pawlinex-demo (settings tuned so the demo's intruder
# raises alarms).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
home=${PAWLINEX_HOME:-$HOME/.local/share/pawlinex-demo}
mkdir -p "$home/img" "$home/avi" "$home/help"
cp -r "$root/build/program/help/." "$home/help/" 2>/dev/null || true
if [ ! -f "$home/pawlinex.ini" ]; then
    printf '[COM]\r\nTIMER=5\r\nCKSUM=40\r\nACCURACY=20\r\nNOIZE=1\r\n' > "$home/pawlinex.ini"
    chmod 600 "$home/pawlinex.ini"
fi
export PAWLINEX_HOME="$home"
export PAWLINEX_VIDEO_SOURCES="demo${PAWLINEX_VIDEO_SOURCES:+;$PAWLINEX_VIDEO_SOURCES}"
exec "$root/build/program/pawlinex"
