#!/usr/bin/env bash
# CPU use of the running program connected to the simulated meter at line rate.
# Starts dmmsim on a pseudo-terminal, dmmview (offscreen) connected to it, and reports the
# program's user+system CPU time over the measuring period as a share of one core.
# Usage: bench/bench_cpu.sh [build-dir] [seconds] [model] [chart]
# chart, for example "points=10000000,perpage=0": the chart holds that many points after every New
# (the first reading makes one) and shows that many points a page, as after a long run.
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
model=${3:-KR31E}
chart=${4:-}
sim="$build/tools/dmmsim/dmmsim"
app="$build/src/shell/dmmview"
[ -x "$sim" ] && [ -x "$app" ] || { echo "build dmmsim and dmmview first ($build)" >&2; exit 2; }

out=$(mktemp)
"$sim" --model "$model" --scenario sine --pty >"$out" &
sim_pid=$!
trap 'kill $sim_pid ${app_pid:-} 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
pty=$(head -n1 "$out")
[ -n "$pty" ] || { echo "simulator printed no device" >&2; exit 1; }

DMMVIEW_TEST_CHART="$chart" QT_QPA_PLATFORM=offscreen "$app" --model "$model" --port "COM1=$pty" --connect >/dev/null 2>&1 &
app_pid=$!
sleep 3  # start-up is not part of the steady state
# a port that did not open would measure an idle program
ls -l "/proc/$app_pid/fd" 2>/dev/null | grep -q -- "-> $pty\$" ||
    { echo "dmmview has not opened $pty (is it running and connected?)" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app_pid/stat"; }
c0=$(cpu); t0=$(date +%s.%N)
sleep "$seconds"
kill -0 "$app_pid" 2>/dev/null || { echo "dmmview ended during the measurement" >&2; exit 1; }
c1=$(cpu); t1=$(date +%s.%N)
# the resident size tells whether the chart really holds the points asked for (4 bytes each)
rss=$(awk '/VmRSS/ {print $2 / 1024}' "/proc/$app_pid/status")
echo "resident: ${rss} MiB"
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" -v m="$model" -v ch="${chart:-as started}" 'BEGIN {
  cpu = (c1 - c0) / hz; wall = t1 - t0;
  printf "model %s, chart %s: %.2f s CPU in %.1f s wall = %.2f %% of one core\n", m, ch, cpu, wall, 100 * cpu / wall }'
