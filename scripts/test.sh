#!/usr/bin/env bash
# Installs what the tests need, builds, and runs the whole test suite. The tests start their own
# servers (SMTP, POP3, FTP) on 127.0.0.1 and use FFmpeg's lavfi sources as cameras; the suite
# runs inside a virtual X display so that nothing needs a real screen or sound card.
#   scripts/test.sh           normal build in build/
#   scripts/test.sh --asan    the same under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if [ "${1:-}" = "--asan" ]; then
    export PAWLINEX_BUILD_DIR=$root/build-asan
    "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=Debug -DPAWLINEX_SANITIZE=ON -DPAWLINEX_BUILD_BENCH=OFF
    export ASAN_OPTIONS=detect_leaks=0
else
    export PAWLINEX_BUILD_DIR=${PAWLINEX_BUILD_DIR:-$root/build}
    "$root/scripts/build.sh"
fi
cd "$PAWLINEX_BUILD_DIR"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j 2
