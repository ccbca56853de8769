#!/bin/sh
# Takes the README's pictures anew from the program as it is built: each scene starts the window
# with the simulated meter on a virtual X display, in a temporary folder, and keeps the window's
# picture in docs/. Needs xvfb-run, xdotool, ImageMagick's import and pdftoppm.
#
#   docs/take-pictures.sh [BUILD_DIR]      (default: build/ beside docs/)
set -eu

docs=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$docs/../build}" && pwd)
dmmview=$build/src/shell/dmmview
dmmsim=$build/tools/dmmsim/dmmsim
load=$build/bench/window_load
[ -x "$dmmview" ] && [ -x "$dmmsim" ] && [ -x "$load" ] || { echo "build everything in $build first" >&2; exit 1; }

# one virtual display for every scene
if [ -z "${DISPLAY_FOR_PICTURES:-}" ]; then
    exec xvfb-run -a -s "-screen 0 2560x1600x24" env DISPLAY_FOR_PICTURES=1 "$0" "$build"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# the pictures show the program as it starts, not a device or model chosen on this machine
export XDG_CONFIG_HOME="$work/config"

# The form's menu bar is 19 pixels high here: controls are clicked at their form place + 19.
menu=19

# start ARGS...: the window with ARGS (run by $program, dmmview unless set); sets $pid and $win
start() {
    rm -f Kr47bdb.DB Kr47bdb.journal
    "${program:-$dmmview}" "$@" &
    pid=$!
    win=$(xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
}

# click X Y: a left click at the form position X, Y of the window's client area
click() { xdotool mousemove --window "$win" "$1" $(($2 + menu)) click 1; }

# keep NAME SECONDS: waits, keeps the window's picture as docs/NAME.png and ends the program
keep() {
    sleep "$2"
    import -window "$win" "$docs/$1.png"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "docs/$1.png"
}

start --demo --connect --scenario sine
keep window-live 8
# the face alone, as the picture inside its panel shows it
convert "$docs/window-live.png" -crop 314x133+292+$((33 + menu)) +repage "$docs/scale.png"
echo docs/scale.png

# the chart after some pages of readings, then with Fill off
start --demo --connect --scenario sine
keep window-chart 40
start --demo --connect --scenario sine
sleep 20
click 305 187
keep window-chart-line 2

# a long run: ten million points on one page, the chart enlarged
program=$load start --points 10000000 --per-page 0 --demo --connect --scenario noise
sleep 15
click 592 189
keep window-chart-10m 4

# SetMax armed at 1000 counts, below the steady 1.234 V: the band beyond it red, the alarm sign up
start --demo --connect --scenario steady
sleep 1
click 150 191
click 240 190
xdotool key --window "$win" ctrl+a
xdotool type --window "$win" 1000
keep window-alarm 6

QT_SCALE_FACTOR=2 start --demo --connect --scenario sine
keep window-scaled 8

start --demo --connect --scenario cycle
keep window-records 15

# the chart's enlarge button, at the right end of its toolbar
start --demo --connect --scenario sine
sleep 8
click 592 189
keep window-chart-enlarged 2

start --demo --connect --scenario ramp
sleep 1
xdotool windowsize "$win" 1000 700
keep window-1000x700 8

# the form as it is stored, before start-up fills it in
QT_QPA_PLATFORM=offscreen DMM_FORM_PNG="$docs/form.png" "$build/tests/display/display_tst_form" picture >/dev/null
echo docs/form.png

# the printed report of a short logged run
"$dmmsim" --model KR31E --scenario cycle --capture meter.bin --count 60 >/dev/null
"$dmmview" --decode meter.bin --record run.db --no-repeat >/dev/null
"$dmmview" --report report.pdf run.db
pdftoppm -r 90 -png -singlefile -f 1 -l 1 report.pdf "$docs/report-page"
echo "docs/report-page.png"

# simulate ARGS...: a simulated KR31G on a new pseudo-terminal; its path in $pty, its pid in $sim
simulate() {
    rm -f sim.out
    "$dmmsim" --pty --model KR31G "$@" >sim.out 2>/dev/null &
    sim=$!
    while [ ! -s sim.out ]; do sleep 0.1; done
    pty=$(head -n 1 sim.out)
}

# bench WAIT: the bench with a steady 12.00 V, a current ramping through ±540 mA and their power,
# up for WAIT seconds; the meters' pids in $u_sim and $i_sim
bench() {
    simulate --scenario steady --function vdc --value 12.00
    u_sim=$sim
    u=$pty
    simulate --scenario ramp --function ma --value 0.5
    i_sim=$sim
    start --bench --no-settings --meter "U=KR31G@$u" --meter "I=KR31G@$pty" --math "P=U*I"
    sleep "$1"
}

# at 1000 x 700, the current's meter stopped for the last seconds: its tile dimmed, its strip and
# the power's broken off
bench 20
kill "$i_sim"
keep bench-1000x700 6
kill "$u_sim"

# at the smallest size the window allows
bench 2
xdotool windowsize --sync "$win" $(xprop -id "$win" WM_NORMAL_HINTS |
    sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1 \2/p')
keep bench-smallest 15
kill "$u_sim" "$i_sim"

# plot NAME DOWNS X WAIT: from the menu of the tile at X (its title row), the entry DOWNS down:
# its window's picture after WAIT seconds as docs/NAME.png
plot() {
    xdotool mousemove --window "$win" "$3" 50 click 3
    sleep 1
    for _ in $(seq "$2"); do xdotool key Down; done
    xdotool key Return
    shot=$(xdotool search --sync --onlyvisible --pid "$pid" | grep -v "^$win\$" | tail -n 1)
    sleep "$4"
    import -window "$shot" "$docs/$1.png"
    xdotool key --window "$shot" ctrl+w 2>/dev/null || true
    xdotool windowclose "$shot" 2>/dev/null || xdotool windowkill "$shot" 2>/dev/null || true
    echo "docs/$1.png"
}

# a current against its voltage (two sines a quarter apart: an ellipse) and a noisy voltage's
# histogram, each from its tile's menu (Remove, XY plot…, Histogram…)
simulate --scenario sine --function vdc
u_sim=$sim
u=$pty
simulate --scenario sine --function ma
i_sim=$sim
i=$pty
simulate --scenario noise --function vdc --value 5.00
n_sim=$sim
start --bench --no-settings --meter "U=KR31G@$u" --meter "I=KR31G@$i" --meter "N=KR31G@$pty"
sleep 25
plot bench-xy 2 420 3
plot bench-histogram 3 750 3
kill "$pid" "$u_sim" "$i_sim" "$n_sim"
wait "$pid" 2>/dev/null || true

# the "Triggers and alarms" dialog and the alarm banner of each window, from their test
DMM_PICTURES="$docs" QT_QPA_PLATFORM=xcb "$build/tests/shell/shell_tst_window_rules" >/dev/null
echo docs/rules-dialog.png docs/window-alarm-banner.png docs/bench-alarm-banner.png
