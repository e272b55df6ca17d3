#!/bin/bash
# Installs the built program into a temporary prefix (with a space in its path, as a user's home
# may have) and checks what a user meets afterwards:
# - the layout: lib/pawlinex with both executables, img/, avi/ and help/; the launcher in bin/;
#   the desktop entry pointing at that launcher; the icon;
# - the launcher gives each user a private program folder with img/, avi/ and help/, honours
#   PAWLINEX_HOME and XDG_DATA_HOME, refreshes the help copies, and never writes into the
#   installed program folder.
# The program is started with a settings file it refuses (CKSUM=abc), so it ends at once with
# its settings message and status 2 before it needs a display: that exit proves that the
# launcher ran the installed program on the folder the test expects.
#
# Usage: test_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/pawlinex install.XXXXXX")
trap 'chmod -R u+w "$tmp" 2>/dev/null; rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; if ! "$@"; then fail "$what"; fi; }

prefix="$tmp/pre fix"
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || {
    cat "$tmp/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
}
prog="$prefix/lib/pawlinex"

# Layout ------------------------------------------------------------------------------------
for f in "$prefix/bin/pawlinex" "$prog/pawlinex" "$prog/pawlinex-ftp"; do
    check "$f is an executable file" test -f "$f" -a -x "$f"
done
for d in img avi help; do
    check "$prog/$d is a folder" test -d "$prog/$d"
done
check "help page installed unchanged" cmp -s "$src/resources/help/index.html" "$prog/help/index.html"
check "icon installed unchanged" \
    cmp -s "$src/resources/desktop/pawlinex.svg" "$prefix/share/icons/hicolor/scalable/apps/pawlinex.svg"
desktop="$prefix/share/applications/pawlinex.desktop"
check "desktop entry installed" test -f "$desktop"

# The desktop entry: required keys, and an Exec line that a launcher unquotes to the installed
# launcher script (the prefix holds a space, so it must be quoted).
/usr/bin/python3 - "$desktop" "$prefix/bin/pawlinex" <<'PY' || fail "desktop entry"
import shlex, sys
path, launcher = sys.argv[1], sys.argv[2]
lines = open(path, encoding="utf-8").read().splitlines()
assert lines[0] == "[Desktop Entry]", lines[0]
entry = dict(l.split("=", 1) for l in lines[1:] if "=" in l and not l.startswith("#"))
for key, value in {"Type": "Application", "Name": "Pawlinex", "Icon": "pawlinex",
                   "Terminal": "false"}.items():
    assert entry.get(key) == value, (key, entry.get(key))
# String-value escapes first (\\ -> \), then the Exec quoting rules, which match the shell's
# double-quote rules for the characters they allow.
exec_value = entry["Exec"].replace("\\\\", "\\")
argv = shlex.split(exec_value)
assert argv == [launcher], (argv, launcher)
assert entry["TryExec"].replace("\\\\", "\\") == launcher, entry["TryExec"]
assert all(ord(c) >= 0x20 for c in entry["Comment[ja]"])
PY
if command -v desktop-file-validate >/dev/null; then
    check "desktop-file-validate" desktop-file-validate "$desktop"
fi
/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); assert r.tag.endswith("svg")' \
    "$prefix/share/icons/hicolor/scalable/apps/pawlinex.svg" || fail "icon is not an SVG document"

# The installed program folder must stay untouched by runs: make it read-only as under /usr.
chmod -R a-w "$prefix"
before=$(cd "$prog" && find . -printf '%p %s %T@\n' | sort)

# Root writes anywhere, which would hide a launcher that writes into the installed folder: as
# root, the runs happen as an unprivileged user that owns only the test's home folders.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    chmod 755 "$tmp"
fi
own() { if [ ${#as_user[@]} -ne 0 ]; then chown -R 65534:65534 "$@"; fi; }

# Runs the launcher with a clean environment plus the given assignments; sets $status and
# $stderr_text.
run_launcher() {
    local err="$tmp/stderr"
    rm -f "$err"
    set +e
    # Sanitizer settings of the test run pass through the otherwise empty environment.
    "${as_user[@]}" env -i PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
        ${ASAN_OPTIONS:+"ASAN_OPTIONS=$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+"UBSAN_OPTIONS=$UBSAN_OPTIONS"} \
        "$@" "$prefix/bin/pawlinex" 2>"$err" </dev/null
    status=$?
    set -e
    stderr_text=$(cat "$err")
}
bad_settings() {
    mkdir -p "$1"
    printf '[COM]\r\nCKSUM=abc\r\n' >"$1/pawlinex.ini"
}
# Makes a folder the test user's home.
home_for_user() {
    mkdir -p "$1"
    own "$1"
}

# 1. Default: ~/.local/share/pawlinex, prepared on the first start.
home="$tmp/home one"
user_dir="$home/.local/share/pawlinex"
bad_settings "$user_dir"
home_for_user "$home"
run_launcher HOME="$home"
check "program ran on the user folder's settings (status $status: $stderr_text)" test "$status" -eq 2
check "settings message names the problem" grep -q 'CKSUM' <<<"$stderr_text"
for d in img avi help; do
    check "user folder has $d/" test -d "$user_dir/$d"
done
check "help copied into the user folder" cmp -s "$prog/help/index.html" "$user_dir/help/index.html"

# 2. A stale or read-only help copy from an earlier version is replaced.
chmod u+w "$user_dir/help/index.html"
echo "old help" >"$user_dir/help/index.html"
chmod a-w "$user_dir/help/index.html"
run_launcher HOME="$home"
check "second start runs the program (status $status)" test "$status" -eq 2
check "help refreshed over a read-only stale copy" cmp -s "$prog/help/index.html" "$user_dir/help/index.html"

# 3. A fresh user: the folder is created private to the user.
home2="$tmp/home two"
home_for_user "$home2"
# No settings file to refuse here: an unknown Qt platform ends the program right after its
# settings loaded, before any window or camera.
ulimit -c 0
run_launcher HOME="$home2" PAWLINEX_HOME= QT_QPA_PLATFORM=pawlinex-no-such-platform 2>/dev/null
check "fresh user: the program was started (status $status)" test "$status" -ne 0 -a "$status" -ne 1
check "fresh user folder created" test -d "$home2/.local/share/pawlinex/img"
check "fresh user folder is private" test "$(stat -c %a "$home2/.local/share/pawlinex")" = 700

# 4. PAWLINEX_HOME wins; nothing is made under HOME.
home3="$tmp/home three"
home_for_user "$home3"
explicit="$tmp/explicit folder"
bad_settings "$explicit"
own "$explicit"
run_launcher HOME="$home3" PAWLINEX_HOME="$explicit"
check "PAWLINEX_HOME used (status $status)" test "$status" -eq 2
check "PAWLINEX_HOME prepared" test -d "$explicit/avi" -a -f "$explicit/help/index.html"
check "no folder under HOME when PAWLINEX_HOME is set" test ! -e "$home3/.local"

# 5. XDG_DATA_HOME is honoured.
xdg="$tmp/xdg data"
bad_settings "$xdg/pawlinex"
own "$xdg"
run_launcher HOME="$home3" XDG_DATA_HOME="$xdg"
check "XDG_DATA_HOME used (status $status)" test "$status" -eq 2
check "XDG_DATA_HOME folder prepared" test -d "$xdg/pawlinex/img"

# 6. Neither HOME nor PAWLINEX_HOME: a message, not a folder in /.
run_launcher
check "no HOME: refused with status 1 (got $status)" test "$status" -eq 1
check "no HOME: says why" grep -q 'HOME' <<<"$stderr_text"

after=$(cd "$prog" && find . -printf '%p %s %T@\n' | sort)
check "installed program folder untouched by the runs" test "$before" = "$after"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "install layout and launcher: all checks passed"
