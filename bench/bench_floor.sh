#!/usr/bin/env bash
# The floor under bench_cpu.sh's figures: the CPU a bare Qt window takes (offscreen, as there) for
# waking at a meter's pace and changing as little as a reading can, on this machine. Prints the
# share of one core for a steady pace (the link picture lit and put out each reading) and a
# changing one (a caption's text as well), each measured over the given seconds.
# Usage: [INTERVAL_MS=N] bench/bench_floor.sh [build-dir] [seconds]
set -euo pipefail
build=$(realpath "${1:-build}")
seconds=${2:-30}
interval=${INTERVAL_MS:-333}
app="$build/bench/pace_floor"
[ -x "$app" ] || { echo "build pace_floor first ($build)" >&2; exit 2; }

work=$(mktemp -d)
trap 'kill ${app_pid:-} 2>/dev/null || true; wait 2>/dev/null; rm -rf "$work"' EXIT
# CPU time of all threads from the scheduler's own account, in nanoseconds
cpu() { cat /proc/"$app_pid"/task/*/schedstat | awk '{ns += $1} END {printf "%d\n", ns}'; }

for mode in steady changing; do
    flags=(--interval "$interval")
    [ "$mode" = changing ] && flags+=(--changing)
    (cd "$work" && QT_QPA_PLATFORM=offscreen exec "$app" "${flags[@]}" 2>/dev/null) &
    app_pid=$!
    sleep 3
    c0=$(cpu); t0=$(date +%s.%N)
    sleep "$seconds"
    c1=$(cpu); t1=$(date +%s.%N)
    kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
    awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v m="$mode" -v iv="$interval" 'BEGIN {
      cpu = (c1 - c0) / 1e9; wall = t1 - t0;
      printf "bare window, %s, a reading every %d ms: %.3f s CPU in %.1f s wall = %.3f %% of one core (%.0f us a reading)\n",
             m, iv, cpu, wall, 100 * cpu / wall, 1e6 * cpu / (wall * 1000 / iv) }'
done
