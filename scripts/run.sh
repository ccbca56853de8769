#!/usr/bin/env bash
# Builds dmmview and starts it. Without arguments it starts with the simulated meter
# attached to COM1 showing a sine, connected at once (--demo --connect); any arguments are passed
# to the program instead,
# for example: scripts/run.sh --port COM1=/dev/ttyUSB0 --model KR31G
# The program runs in run/ (RUN_DIR), which git ignores: its record table Kr47bdb.DB, the
# journal beside it and the chart pictures it saves land there, not in the checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build_dir=$(realpath -m "${BUILD_DIR:-build}")
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" -j "$(nproc)" --target dmmview dmmsim
if [ "$#" -eq 0 ]; then set -- --demo --connect; fi
run_dir=$(realpath -m "${RUN_DIR:-run}")
mkdir -p "$run_dir"
cd "$run_dir"
echo "Running in $run_dir: the record table is $run_dir/Kr47bdb.DB" >&2
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting on a virtual X display (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$build_dir/src/shell/dmmview" "$@"
fi
exec "$build_dir/src/shell/dmmview" "$@"
