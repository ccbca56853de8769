#!/usr/bin/env bash
# Installs the build into a temporary root and builds the Debian package; both must hold the
# program, the simulator, the desktop entry and the icon, and the installed program must decode
# a capture exactly as the build tree's does. The logger's unit runs the program of the prefix it
# was installed to, and the README's example configuration for it reads the same to the shell as
# to systemd.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The program a unit file starts: the first word of its ExecStart.
unit_program() { sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$1"; }

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

unit=lib/systemd/system/dmmview-logger@.service
[ "$(unit_program "$tmp/root/usr/$unit")" = /usr/bin/dmmview ] || fail "the unit under /usr runs $(unit_program "$tmp/root/usr/$unit")"
cmake --install "$build" --prefix "$tmp/opt" >/dev/null
[ "$(unit_program "$tmp/opt/$unit")" = "$tmp/opt/bin/dmmview" ] ||
    fail "the unit installed under $tmp/opt runs $(unit_program "$tmp/opt/$unit")"
[ -x "$tmp/opt/bin/dmmview" ] || fail "the install under $tmp/opt has no bin/dmmview"

# The README's example configuration: each value as systemd reads it (surrounding double quotes
# taken off) is the value the shell gives it.
awk '/^### An unattended logger/ { found = 1 } found && /^```/ { if (inside) exit; inside = 1; next }
     inside' "$src/README.md" >"$tmp/logger.conf"
grep -q '^OPTIONS=' "$tmp/logger.conf" || fail "no example configuration with OPTIONS in the README"
while IFS= read -r line; do
    key=${line%%=*}
    value=${line#*=}
    case $value in \"*\") value=${value#\"}; value=${value%\"} ;; esac
    shell_value=$(env -i sh -c '. "$1" && eval "printf %s \"\${$2}\""' sh "$tmp/logger.conf" "$key") ||
        fail "the README's example configuration is not valid shell"
    [ "$shell_value" = "$value" ] || fail "$key is '$shell_value' to the shell and '$value' to systemd"
done <"$tmp/logger.conf"

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
[ "$(unit_program "$tmp/deb/usr/$unit")" = /usr/bin/dmmview ] || fail "the package's unit runs $(unit_program "$tmp/deb/usr/$unit")"
echo "1 passed, 0 failed"
