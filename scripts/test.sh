#!/usr/bin/env bash
# Installs what the tests need, builds, and runs the whole test suite. The tests start their own
# servers (SMTP, POP3, FTP) on 127.0.0.1 and use FFmpeg's lavfi sources as cameras; the suite
# runs inside a virtual X display so that nothing needs a real screen or sound card.
#   scripts/test.sh           format check, then the normal build in build/ with warnings as errors
#   scripts/test.sh --asan    the same suite under AddressSanitizer and UndefinedBehaviorSanitizer
#                             in build-asan/; warnings stay warnings there, since GCC warns falsely
#                             about code the sanitizers instrument
# CI (.ci/run) runs both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
    "" | --asan) ;;
    *) echo "usage: scripts/test.sh [--asan]" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh"
if [ "${1:-}" = "--asan" ]; then
    export PAWLINEX_BUILD_DIR=$root/build-asan
    "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=Debug -DPAWLINEX_SANITIZE=ON -DPAWLINEX_BUILD_BENCH=OFF \
        -DPAWLINEX_WERROR=OFF
    export ASAN_OPTIONS=detect_leaks=0
else
    "$root/scripts/check-format.sh"
    export PAWLINEX_BUILD_DIR=${PAWLINEX_BUILD_DIR:-$root/build}
    "$root/scripts/build.sh" -DPAWLINEX_WERROR=ON
fi
cd "$PAWLINEX_BUILD_DIR"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j 2
