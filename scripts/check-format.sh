#!/usr/bin/env bash
# Checks that the C++ sources follow .clang-format and names every file that does not, with the
# command that formats it. With a git revision (or FORMAT_BASE) it checks the files changed since
# that revision, committed or not; without one it checks every tracked source, which is what a
# fresh clone has as "changed" and what the tree keeps formatted anyway.
# Usage: scripts/check-format.sh [revision]
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-${FORMAT_BASE:-}}
command -v clang-format >/dev/null || { echo "check-format: clang-format is missing (scripts/deps.sh)" >&2; exit 2; }

pattern='\.(cpp|h)$'
if [ -n "$base" ]; then
    mapfile -t files < <({ git diff --name-only --diff-filter=d "$base" --; git ls-files --others --exclude-standard; } |
                         grep -E "$pattern" | sort -u)
elif git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files | grep -E "$pattern")
else  # an unpacked copy without its history
    mapfile -t files < <(find src tests tools bench fuzz -type f | grep -E "$pattern" | sort)
fi

bad=()
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ "${#bad[@]}" -gt 0 ]; then
    echo "check-format: ${#bad[@]} of ${#files[@]} files are not formatted:" >&2
    printf '  %s\n' "${bad[@]}" >&2
    echo "format them with: clang-format -i ${bad[*]}" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
