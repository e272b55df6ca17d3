#!/usr/bin/env bash
# Checks the C++ files of the tree against .clang-format with clang-format-14 and prints those
# that would change; exits 1 when there is one. Fix them with: clang-format-14 -i FILE...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if ! command -v clang-format-14 >/dev/null; then
    echo "check-format: clang-format-14 is not installed (scripts/install-deps.sh installs it)" >&2
    exit 2
fi
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h')
else
    mapfile -d '' files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
fi
bad=()
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    clang-format-14 --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
    echo "check-format: not formatted (clang-format-14 -i to fix):"
    printf '    %s\n' "${bad[@]}"
    exit 1
fi
echo "check-format: ${#files[@]} C++ files formatted"
