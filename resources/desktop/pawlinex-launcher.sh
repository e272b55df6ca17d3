#!/bin/sh
# Starts Pawlinex from an installed program folder.
#
# The program keeps its settings, pictures, clips and mail log in its program folder, and an
# installed one (under /usr, /opt, ...) is usually not writable. Unless PAWLINEX_HOME names a
# folder already, every user therefore gets a private program folder in
# ${XDG_DATA_HOME:-~/.local/share}/pawlinex, with the img/, avi/ and help/ folders the program
# expects beside it. The help pages are refreshed on every start so that they match the installed
# version.
set -eu

here=$(CDPATH= cd -- "$(dirname -- "$(readlink -f -- "$0")")" && pwd)
program_dir="$here/@PAWLINEX_LAUNCHER_TO_PROGRAM@"

if [ ! -x "$program_dir/pawlinex" ]; then
    echo "pawlinex: the program is missing from $program_dir" >&2
    exit 127
fi

if [ -z "${PAWLINEX_HOME:-}" ]; then
    if [ -z "${HOME:-}" ] && [ -z "${XDG_DATA_HOME:-}" ]; then
        echo "pawlinex: neither HOME nor PAWLINEX_HOME is set" >&2
        exit 1
    fi
    PAWLINEX_HOME="${XDG_DATA_HOME:-$HOME/.local/share}/pawlinex"
    export PAWLINEX_HOME
fi

# Settings hold mail and FTP passwords: the folder is the user's alone.
if [ ! -d "$PAWLINEX_HOME" ]; then
    mkdir -p -m 700 -- "$PAWLINEX_HOME"
fi
mkdir -p -- "$PAWLINEX_HOME/img" "$PAWLINEX_HOME/avi" "$PAWLINEX_HOME/help"
if [ -d "$program_dir/help" ]; then
    # Copied, not linked: the files must stay readable if the installation moves. Copies of
    # read-only installed files are read-only too; -f replaces them on the next refresh.
    cp -R -f -- "$program_dir/help/." "$PAWLINEX_HOME/help/"
    chmod -R u+w -- "$PAWLINEX_HOME/help"
fi

exec "$program_dir/pawlinex" "$@"
