#!/usr/bin/env bash
# Checks that scripts/deps.sh installs everything the build and the tests took from the system,
# so that a machine where other packages happen to be installed cannot hide a missing one.
# Looks at the CMake package configurations and pkg-config libraries a configured build folder
# loaded from /usr, and at the programs the tests and scripts run; maps each to the Debian
# package that owns it and fails, naming the package, when deps.sh installs neither it nor a
# package that depends on it.
# Usage: scripts/check-deps.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
cache="$build_dir/CMakeCache.txt"
[ -f "$cache" ] || { echo "check-deps: no $cache (configure first)" >&2; exit 2; }

# Programs run by the tests, the benchmarks and the scripts.
programs=(Xvfb xvfb-run xauth import xdotool pdftotext pdftoppm dpkg-shlibdeps file clang-format)

# Everything deps.sh installs: its list and what those packages depend on (recommends are
# not installed by it, so they do not count).
mapfile -t listed < <(bash scripts/deps.sh --list)
installed=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
                --no-breaks --no-replaces --no-enhances "${listed[@]}" 2>/dev/null |
            grep -v -E '^\s|^<' | sed 's/:.*$//' | sort -u)

owner() {  # the package that owns a file (a -dev link before the library it names), without its architecture
    { dpkg -S "$1" 2>/dev/null || dpkg -S "$(readlink -f "$1")" 2>/dev/null; } | head -n1 | cut -d: -f1 | cut -d, -f1
}

files=()
# package configurations: the *Config.cmake or *-config.cmake file inside each *_DIR
while IFS='=' read -r key dir; do
    name=${key%_DIR:PATH}
    for cfg in "$dir/${name}Config.cmake" "$dir/${name,,}-config.cmake" ""; do
        [ -z "$cfg" ] || [ -f "$cfg" ] && break
    done
    [ -n "$cfg" ] && files+=("$cfg")
done < <(grep -E '^[A-Za-z0-9_]+_DIR:PATH=/usr/' "$cache" | grep -v '_INCLUDE_DIR:')
# libraries found through pkg-config
while IFS= read -r lib; do
    [ -e "$lib" ] && files+=("$lib")
done < <(grep -E '^pkgcfg_lib_[^:]+:FILEPATH=/' "$cache" | cut -d= -f2-)
# libraries found by the find modules the build calls itself (others, found only because they
# happen to be installed, are not needed)
while IFS= read -r lib; do
    [ -e "$lib" ] && files+=("$lib")
done < <(grep -E '^OPENSSL_(SSL|CRYPTO)_LIBRARY:FILEPATH=/' "$cache" | cut -d= -f2-)
for p in "${programs[@]}"; do
    path=$(command -v "$p" || true)
    if [ -z "$path" ]; then
        echo "check-deps: the tests run '$p', which is not installed; add its package to scripts/deps.sh" >&2
        exit 1
    fi
    files+=("$path")
done

failed=0
for f in "${files[@]}"; do
    pkg=$(owner "$f")
    if [ -z "$pkg" ]; then
        echo "check-deps: $f belongs to no Debian package" >&2
        failed=1
    elif ! grep -qx -- "$pkg" <<<"$installed"; then
        echo "check-deps: $f comes from package '$pkg', which scripts/deps.sh does not install" >&2
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "check-deps: ${#files[@]} files, all from packages scripts/deps.sh installs"
exit "$failed"
