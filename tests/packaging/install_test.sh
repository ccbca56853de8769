#!/usr/bin/env bash
# Installs the build into a temporary root and builds the Debian package; both must hold the
# program, the simulator, the desktop entry and the icon, and the installed program must decode
# a capture exactly as the build tree's does.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/dmmview usr/bin/dmmsim usr/share/applications/dmmview.desktop \
         usr/share/icons/hicolor/scalable/apps/dmmview.svg; do
    [ -e "$tmp/root/$f" ] || fail "the install has no $f"
done

"$tmp/root/usr/bin/dmmsim" --model KR31G --scenario cycle --capture "$tmp/meter.bin" --count 300 >/dev/null
"$tmp/root/usr/bin/dmmview" --decode "$tmp/meter.bin" --model KR31G >"$tmp/installed.tsv"
"$build/src/shell/dmmview" --decode "$tmp/meter.bin" --model KR31G >"$tmp/built.tsv"
[ "$(wc -l <"$tmp/installed.tsv")" -ge 290 ] || fail "the installed program decoded too few readings"
cmp -s "$tmp/installed.tsv" "$tmp/built.tsv" || fail "installed and built programs decode differently"

(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/pkg" >/dev/null) ||
    fail "cpack could not build the Debian package"
deb=$(ls "$tmp"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libstdc++6 fonts-liberation fonts-dejavu-core; do
    grep -q "$d" <<<"$depends" || fail "the package does not depend on $d: $depends"
done
dpkg-deb -x "$deb" "$tmp/deb"
for f in usr/bin/dmmview usr/bin/dmmsim usr/share/applications/dmmview.desktop; do
    [ -e "$tmp/deb/$f" ] || fail "the package has no $f"
done
echo "1 passed, 0 failed"
