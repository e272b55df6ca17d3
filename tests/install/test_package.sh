#!/bin/bash
# The Debian package as a desktop user meets it.
#
#   test_package.sh contents BUILD_DIR SOURCE_DIR VERSION
#     builds build/pawlinex_<version>_<arch>.deb with CPack and checks what dpkg-deb shows: the
#     control fields; a Depends line that covers every shared library the executables link plus
#     the font, sound theme and xdg-utils the program reaches at run time; the file list (the
#     layout under /usr, owned by root, stripped executables); the desktop entry's Exec line.
#   test_package.sh install BUILD_DIR SOURCE_DIR VERSION
#     installs that package with apt, starts the program the way the desktop menu does (the
#     entry's Exec line, as an ordinary user, on the demo camera, offscreen), closes it with
#     SIGTERM and removes the package again. It changes the system, so it runs only as root with
#     CI=true and is skipped (status 77) otherwise.
set -euo pipefail
mode=$1
build=$2
src=$3
version=$4
arch=$(dpkg --print-architecture)
deb="$build/pawlinex_${version}_${arch}.deb"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; if ! "$@"; then fail "$what"; fi; }
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "$1"
}
skip() { echo "SKIPPED: $*"; exit 77; }
installed() { dpkg-query -W -f='${Status}' pawlinex 2>/dev/null | grep -q 'ok installed'; }
not_installed() { ! installed; }
depends_on() { tr '|' '\n' <"$tmp/depends" | grep -qxF "$1"; }
stripped() { ! LC_ALL=C readelf -S "$1" | grep -q '\.debug_info'; }
owned_by_root() { ! awk '$2 != "root/root"' "$tmp/list" | grep -q .; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/pawlinex-package.XXXXXX")
cleanup_tmp() { rm -rf "$tmp"; }
trap cleanup_tmp EXIT

check_contents() {
    for tool in dpkg-shlibdeps file; do
        command -v "$tool" >/dev/null || skip "$tool is missing (install dpkg-dev and file)"
    done
    rm -f "$deb"
    if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build" >"$tmp/cpack.log" 2>&1; then
        cat "$tmp/cpack.log" >&2
        echo "FAIL: cpack" >&2
        exit 1
    fi
    if [ ! -f "$deb" ]; then
        cat "$tmp/cpack.log" >&2
        echo "FAIL: cpack made no $deb" >&2
        exit 1
    fi

    # Control fields.
    field() { dpkg-deb -f "$deb" "$1"; }
    check "Package" test "$(field Package)" = pawlinex
    check "Version $(field Version)" test "$(field Version)" = "$version"
    check "Architecture $(field Architecture)" test "$(field Architecture)" = "$arch"
    check "Maintainer" test -n "$(field Maintainer)"
    check "Description" test -n "$(field Description)"
    depends=$(field Depends)
    # One alternative group per line, spaces and version constraints dropped.
    sed -e 's/([^)]*)//g' -e 's/ //g' <<<"$depends" | tr ',' '\n' >"$tmp/depends"
    # The package that installed a library file, under any of the names a merged /usr gives it.
    package_of() {
        local candidate pkg
        for candidate in "$1" "$(readlink -f "$1")" "${1#/usr}" "/usr$1"; do
            pkg=$(dpkg-query -S "$candidate" 2>/dev/null | grep -v '^diversion' | head -n 1 | cut -d: -f1)
            if [ -n "$pkg" ]; then
                echo "$pkg"
                return
            fi
        done
    }
    # Loaded at run time, so no linked library names them: FFmpeg's devices and SDL_mixer.
    loaded_pkg() { package_of "$(ldconfig -p | awk -v re="$1" '$1 ~ re {print $NF; exit}')"; }
    avdevice=$(loaded_pkg '^libavdevice\.so\.[0-9]+$')
    mixer=$(loaded_pkg '^libSDL2_mixer-2\.0\.so\.0$')
    check "a package provides libavdevice" test -n "$avdevice"
    check "a package provides SDL_mixer" test -n "$mixer"
    for group in 'fonts-ipafont-gothic|fonts-noto-cjk' sound-theme-freedesktop xdg-utils "$avdevice" "$mixer"; do
        check "Depends has $group: $depends" grep -qxF "$group" "$tmp/depends"
    done

    dpkg-deb -x "$deb" "$tmp/root"
    # Every library an executable links must come from a package on the Depends line; a library
    # dpkg does not know (built by hand) would not be on a user's system at all.
    for exe in "$tmp/root/usr/lib/pawlinex/pawlinex" "$tmp/root/usr/lib/pawlinex/pawlinex-ftp"; do
        [ -f "$exe" ] || continue
        check "$(basename "$exe") is stripped" stripped "$exe"
        while read -r soname path; do
            pkg=$(package_of "$path")
            if [ -z "$pkg" ]; then
                fail "$(basename "$exe") links $soname ($path), which no package provides"
            else
                check "Depends covers $soname from $pkg" depends_on "$pkg"
            fi
        done < <(
            # Direct needs only (what the executable itself names), resolved by the loader.
            needed=$(LC_ALL=C readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
            ldd "$exe" | awk -v needed="$needed" '
                BEGIN { n = split(needed, list, "\n"); for (i = 1; i <= n; i++) want[list[i]] = 1 }
                $2 == "=>" && ($1 in want) { print $1, $3 }'
        )
    done

    # The file list: the installation layout under /usr and nothing else, all owned by root.
    dpkg-deb -c "$deb" >"$tmp/list"
    check "all entries owned by root" owned_by_root
    awk '{ print $1, $NF }' "$tmp/list" | sed 's| \./| /|' >"$tmp/entries"
    {
        cat <<'EOF'
-rwxr-xr-x /usr/bin/pawlinex
-rwxr-xr-x /usr/lib/pawlinex/pawlinex
-rwxr-xr-x /usr/lib/pawlinex/pawlinex-ftp
drwxr-xr-x /usr/lib/pawlinex/img/
drwxr-xr-x /usr/lib/pawlinex/avi/
-rw-r--r-- /usr/share/applications/pawlinex.desktop
-rw-r--r-- /usr/share/icons/hicolor/scalable/apps/pawlinex.svg
EOF
        for f in "$src"/resources/help/*; do
            echo "-rw-r--r-- /usr/lib/pawlinex/help/$(basename "$f")"
            check "help $(basename "$f") unchanged" \
                cmp -s "$f" "$tmp/root/usr/lib/pawlinex/help/$(basename "$f")"
        done
    } >"$tmp/expected"
    while read -r entry; do
        check "package holds $entry" grep -qxF -e "$entry" "$tmp/entries"
    done <"$tmp/expected"
    # Nothing beyond the layout: no tests, benchmarks or staging paths.
    unexpected=$(grep '^-' "$tmp/entries" | grep -vxFf "$tmp/expected" || true)
    check "no other files in the package: $unexpected" test -z "$unexpected"

    # The menu entry starts the launcher on PATH's /usr/bin.
    desktop="$tmp/root/usr/share/applications/pawlinex.desktop"
    check "desktop entry runs /usr/bin/pawlinex" grep -qx 'Exec=/usr/bin/pawlinex' "$desktop"
    check "desktop entry tries /usr/bin/pawlinex" grep -qx 'TryExec=/usr/bin/pawlinex' "$desktop"
    if command -v desktop-file-validate >/dev/null; then
        check "desktop-file-validate" desktop-file-validate "$desktop"
    fi
    finish "package $(basename "$deb"): contents and dependencies as expected"
}

check_install() {
    [ "$(id -u)" -eq 0 ] || skip "installing the package needs root"
    [ "${CI:-}" = true ] || skip "installs into the system, so it runs only in CI (CI=true)"
    [ -f "$deb" ] || { echo "FAIL: no $deb (test_package builds it)" >&2; exit 1; }
    if installed; then
        skip "a pawlinex package is installed already; not replacing it"
    fi

    export DEBIAN_FRONTEND=noninteractive
    remove_package() {
        apt-get remove -y pawlinex >"$tmp/remove.log" 2>&1 || cat "$tmp/remove.log" >&2
    }
    trap 'remove_package; cleanup_tmp' EXIT
    # The dependencies are normally installed already (scripts/packages.txt); only when apt has no
    # package lists yet does it need to fetch them.
    if ! apt-get install -y --no-install-recommends "$deb" >"$tmp/apt.log" 2>&1; then
        apt-get update >>"$tmp/apt.log" 2>&1 || true
        apt-get install -y --no-install-recommends "$deb" >>"$tmp/apt.log" 2>&1 || {
            cat "$tmp/apt.log" >&2
            echo "FAIL: apt-get install $deb" >&2
            exit 1
        }
    fi
    check "dpkg lists the launcher" sh -c 'dpkg -L pawlinex | grep -qx /usr/bin/pawlinex'
    check "launcher on PATH" test "$(command -v pawlinex)" = /usr/bin/pawlinex

    # What the menu runs: the Exec line of the installed entry (no field codes, no quoting).
    exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/pawlinex.desktop)
    check "Exec names an installed executable: $exec_line" test -x "$exec_line"

    # An ordinary user with a fresh home, as the first start from the menu.
    chmod 755 "$tmp"
    home="$tmp/home"
    mkdir "$home"
    chown 65534:65534 "$home"
    setpriv --reuid=65534 --regid=65534 --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
        PAWLINEX_VIDEO_SOURCES=demo ${ASAN_OPTIONS:+"ASAN_OPTIONS=$ASAN_OPTIONS"} \
        "$exec_line" </dev/null >"$tmp/out" 2>"$tmp/err" &
    pid=$!
    catches_sigterm() {
        local mask
        mask=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$1/status" 2>/dev/null) && [ -n "$mask" ] &&
            (((0x$mask >> 14) & 1))
    }
    # Started once the launcher has handed over to the program and the program has installed
    # its close handler, which happens after its main window exists.
    started=false
    for _ in $(seq 600); do
        kill -0 "$pid" 2>/dev/null || break
        if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/lib/pawlinex/pawlinex ] &&
            catches_sigterm "$pid"; then
            started=true
            break
        fi
        sleep 0.1
    done
    # Still running a little later: the demo camera and the first rounds of monitoring.
    if $started; then
        sleep 3
        kill -0 "$pid" 2>/dev/null || started=false
    fi
    if ! $started; then
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        cat "$tmp/err" >&2
        echo "FAIL: the installed program did not start from the menu entry" >&2
        exit 1
    fi
    kill -TERM "$pid"
    status=0
    wait "$pid" || status=$?
    check "closed cleanly on SIGTERM (status $status): $(cat "$tmp/err")" test "$status" -eq 0
    user_dir="$home/.local/share/pawlinex"
    check "user folder prepared" test -d "$user_dir/img" -a -d "$user_dir/avi"
    check "help copied for the user" cmp -s /usr/lib/pawlinex/help/index.html "$user_dir/help/index.html"
    check "settings saved in the user folder" test -s "$user_dir/pawlinex.ini"

    trap cleanup_tmp EXIT
    remove_package
    check "package removed" not_installed
    check "program folder removed" test ! -e /usr/lib/pawlinex/pawlinex
    finish "package installed with apt, started from its menu entry, removed"
}

case $mode in
contents) check_contents ;;
install) check_install ;;
*)
    echo "usage: $0 contents|install BUILD_DIR SOURCE_DIR VERSION" >&2
    exit 2
    ;;
esac
