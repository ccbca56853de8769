#!/usr/bin/env bash
# CPU use of the running program connected to the simulated meter at line rate.
# Starts dmmsim on a pseudo-terminal, dmmview (offscreen) connected to it, and reports the
# program's user+system CPU time over the measuring period as a share of one core.
# With a row count, the program starts with that many rows already stored, Repeat off and no record
# limit, so every reading becomes a row of a full table (a day at the line rate is 10000000).
# chart, for example "points=10000000,perpage=0": the chart holds that many points after every New
# (the first reading makes one) and shows that many points a page, as after a long run;
# "size=1600x1000,enlarged" sizes the window and enlarges the chart over it.
# The window runs in an empty temporary folder, so its record table and journal go with it.
# It also reports how many times a second the chart, the LCD panel, the face, the bar and the link
# picture were repainted over the measuring period.
# The meter sends back to back at the line rate (the stress case) unless INTERVAL_MS gives the
# time from frame to frame, as a real meter's pace (333 for three readings a second); SCENARIO
# picks what it shows (default sine, a reading that keeps changing; steady repeats one reading).
# Usage: [INTERVAL_MS=N] [SCENARIO=NAME] bench/bench_cpu.sh [build-dir] [seconds] [model] [stored-rows] [chart]
set -euo pipefail
build=$(realpath "${1:-build}")
seconds=${2:-60}
model=${3:-KR31E}
rows=${4:-0}
chart=${5:-}
interval=${INTERVAL_MS:-}
scenario=${SCENARIO:-sine}
sim="$build/tools/dmmsim/dmmsim"
app="$build/bench/window_load"
[ -x "$sim" ] && [ -x "$app" ] || { echo "build dmmsim and window_load first ($build)" >&2; exit 2; }

work=$(mktemp -d)
out="$work/sim.out"
pace=()
[ -n "$interval" ] && pace=(--interval "$interval")
"$sim" --model "$model" --scenario "$scenario" "${pace[@]}" --pty >"$out" &
sim_pid=$!
trap 'kill $sim_pid ${app_pid:-} 2>/dev/null || true; wait 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
pty=$(head -n1 "$out")
[ -n "$pty" ] || { echo "simulator printed no device" >&2; exit 1; }

extra=(--rows "$rows")
# DMM_PUBLISH_URL=mqtt://...: the window publishes every reading there as well
[ -n "${DMM_PUBLISH_URL:-}" ] && extra+=(--publish "$DMM_PUBLISH_URL")
for item in ${chart//,/ }; do
    case $item in
        points=*) extra+=(--points "${item#points=}") ;;
        perpage=*) extra+=(--per-page "${item#perpage=}") ;;
        size=*) size=${item#size=}; extra+=(--width "${size%x*}" --height "${size#*x}") ;;
        enlarged) extra+=(--enlarge) ;;
    esac
done
(cd "$work" && QT_QPA_PLATFORM=offscreen exec "$app" --model "$model" --port "COM1=$pty" --connect "${extra[@]}" \
    >"$work/paints.out" 2>/dev/null) &
app_pid=$!
# filling the table comes before connecting; wait for the port, then for the steady state
for _ in $(seq 600); do
    ls -l "/proc/$app_pid/fd" 2>/dev/null | grep -q -- "-> $pty\$" && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.2
done
sleep 3
# a port that did not open would measure an idle program
ls -l "/proc/$app_pid/fd" 2>/dev/null | grep -q -- "-> $pty\$" ||
    { echo "dmmview has not opened $pty (is it running and connected?)" >&2; exit 1; }

# CPU time from the scheduler's own account in nanoseconds (all threads), rather than the 10 ms
# ticks of /proc/PID/stat: a tenth of a percent over a minute is six ticks
cpu() { cat /proc/"$app_pid"/task/*/schedstat | awk '{ns += $1} END {printf "%.6f\n", ns / 1e9}'; }
# the window answers SIGUSR1 with a line: milliseconds, then repaints of chart, LCD, face and bar,
# then the paint passes of the whole window, then repaints of the link picture
paints() {
    local before
    before=$(wc -l <"$work/paints.out")
    kill -USR1 "$app_pid"
    for _ in $(seq 50); do [ "$(wc -l <"$work/paints.out")" -gt "$before" ] && break; sleep 0.05; done
    tail -n1 "$work/paints.out"
}
p0=$(paints)
c0=$(cpu); t0=$(date +%s.%N)
sleep "$seconds"
kill -0 "$app_pid" 2>/dev/null || { echo "dmmview ended during the measurement" >&2; exit 1; }
c1=$(cpu); t1=$(date +%s.%N)
p1=$(paints)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$app_pid/status")
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v m="$model" -v rows="$rows" -v rss="$rss" \
    -v ch="${chart:-as started}" -v pace="${interval:+a frame every $interval ms}" -v sc="$scenario" 'BEGIN {
  cpu = c1 - c0; wall = t1 - t0;
  if (pace == "") pace = "frames back to back";
  printf "model %s (%s, %s), %d rows stored at start, chart %s: %.3f s CPU in %.1f s wall = %.3f %% of one core, %.0f MB resident\n",
         m, sc, pace, rows, ch, cpu, wall, 100 * cpu / wall, rss / 1024 }'
awk -v a="$p0" -v b="$p1" 'BEGIN {
  split(a, x, " "); split(b, y, " "); s = (y[1] - x[1]) / 1000;
  if (s <= 0) { print "repaints: the window did not answer"; exit }
  printf "repaints a second: chart %.1f, LCD panel %.1f, face %.1f, bar %.1f, link picture %.1f; window passes %.1f\n",
         (y[2] - x[2]) / s, (y[3] - x[3]) / s, (y[4] - x[4]) / s, (y[5] - x[5]) / s, (y[7] - x[7]) / s, (y[6] - x[6]) / s }'
