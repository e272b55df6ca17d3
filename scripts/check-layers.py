#!/usr/bin/env python3
"""Checks that the libraries keep to their layers, from the source lists CMake wrote.

    check-layers.py LIST_DIR SOURCE_DIR QT_INCLUDE_DIR

LIST_DIR holds one <target>.sources file per library (written by cmake/PawlinexLayers.cmake), so
a file added to a target is checked without touching this script. Rules:
  pawlinex_core     no Qt Widgets header, no header of pawlinex_capture or pawlinex_ui
  pawlinex_capture  no Qt Widgets header, no header of pawlinex_ui
Both may include only project headers that a library lists, so a header left out of every
CMakeLists.txt cannot carry a forbidden include past the check. Prints each offending line and
exits 1; exits 2 when its input is unusable, so the check never passes on an empty list.
"""

import os
import re
import sys

LIBRARIES = ("pawlinex_core", "pawlinex_capture", "pawlinex_ui")
FORBIDDEN = {
    "pawlinex_core": ("pawlinex_capture", "pawlinex_ui"),
    "pawlinex_capture": ("pawlinex_ui",),
}
# Qt modules that are built on QWidget; their headers pull Widgets in.
WIDGET_MODULES = ("QtWidgets", "QtOpenGLWidgets", "QtPrintSupport")
# Headers a module shares with Core or Gui (Qt 6 moved QAction and friends to Gui) are allowed.
BASE_MODULES = ("QtCore", "QtGui")
CODE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def fail_input(message):
    print(f"check-layers: {message}", file=sys.stderr)
    sys.exit(2)


def module_headers(qt_include, module):
    folder = os.path.join(qt_include, module)
    if not os.path.isdir(folder):
        return set()
    return {n for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n))}


def widget_headers(qt_include):
    names = set()
    for module in WIDGET_MODULES:
        names |= module_headers(qt_include, module)
    for module in BASE_MODULES:
        names -= module_headers(qt_include, module)
    if "QWidget" not in names:
        fail_input(f"no Qt Widgets headers under {qt_include}")
    return names


def read_sources(list_dir, source_dir, target):
    path = os.path.join(list_dir, target + ".sources")
    try:
        with open(path, encoding="utf-8") as f:
            entries = [line.strip() for line in f if line.strip()]
    except OSError as e:
        fail_input(f"cannot read {path}: {e.strerror}")
    files = set()
    for entry in entries:
        full = os.path.realpath(os.path.join(source_dir, entry))
        # Generated files (moc, rcc) live in the build folder; only our own sources are checked.
        if full.startswith(source_dir + os.sep) and full.endswith(CODE_SUFFIXES) and os.path.isfile(full):
            files.add(full)
    if not files:
        fail_input(f"{path} lists no source of {target}")
    return files


def resolve(source_dir, including_file, name, quoted):
    bases = [os.path.dirname(including_file), source_dir] if quoted else [source_dir]
    for base in bases:
        candidate = os.path.realpath(os.path.join(base, name))
        if candidate.startswith(source_dir + os.sep) and os.path.isfile(candidate):
            return candidate
    return None


def widget_include(name, widget_names):
    module, _, rest = name.partition("/")
    if rest:
        return module in WIDGET_MODULES
    return name in WIDGET_MODULES or name in widget_names


def main():
    if len(sys.argv) != 4:
        fail_input("usage: check-layers.py LIST_DIR SOURCE_DIR QT_INCLUDE_DIR")
    list_dir, source_dir, qt_include = sys.argv[1:]
    source_dir = os.path.realpath(source_dir)
    widget_names = widget_headers(qt_include)
    owner = {}
    for target in LIBRARIES:
        for f in read_sources(list_dir, source_dir, target):
            owner.setdefault(f, target)

    problems = []
    for target, forbidden in FORBIDDEN.items():
        for f in sorted(p for p, t in owner.items() if t == target):
            rel = os.path.relpath(f, source_dir)
            with open(f, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    quoted, name = m.group(1) == '"', m.group(2)
                    where = f"{rel}:{number}: {target} includes {name}"
                    if widget_include(name, widget_names):
                        problems.append(f"{where}, a Qt Widgets header")
                        continue
                    header = resolve(source_dir, f, name, quoted)
                    if header is None:
                        continue
                    header_owner = owner.get(header)
                    if header_owner is None:
                        problems.append(f"{where}, which no library lists in its CMakeLists.txt")
                    elif header_owner in forbidden:
                        problems.append(f"{where}, a header of {header_owner}")

    for p in problems:
        print(p)
    if problems:
        print(f"check-layers: {len(problems)} include(s) cross a layer; see the Build targets "
              "table in README.md")
        return 1
    print(f"check-layers: {len(owner)} files of {', '.join(LIBRARIES)} keep to their layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
