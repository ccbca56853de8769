#!/usr/bin/env bash
# CPU time per frame of the headless decoder (dmmview --decode), user + system:
#  1. a capture file of FRAMES segment frames, output to /dev/null;
#  2. the same frames written into a pseudo-terminal as fast as it takes them, the program
#     reading the terminal as a serial device.
# Usage: bench/bench_headless.sh [build-dir] [frames] [model]   (needs python3 for the terminal)
set -euo pipefail
build=${1:-build}
frames=${2:-1000000}
model=${3:-KR31E}
sim="$build/tools/dmmsim/dmmsim"
app="$build/src/shell/dmmview"
[ -x "$sim" ] && [ -x "$app" ] || { echo "build dmmsim and dmmview first ($build)" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$sim" --model "$model" --scenario sine --capture "$tmp/meter.bin" --count "$frames" >/dev/null

best=""
for _ in 1 2 3; do
    TIMEFORMAT='%U %S'
    t=$( { time "$app" --decode "$tmp/meter.bin" --model "$model" >/dev/null; } 2>&1 )
    us=$(awk -v t="$t" -v n="$frames" 'BEGIN { split(t, a, " "); printf "%.3f", (a[1] + a[2]) * 1e6 / n }')
    if [ -z "$best" ] || awk -v a="$us" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$us; fi
done
echo "capture file:     $best us of CPU per frame (best of 3, $frames frames, $model)"

python3 - "$app" "$tmp/meter.bin" "$model" "$frames" <<'PY'
import fcntl, os, pty, signal, struct, subprocess, sys, termios, time, tty
app, capture, model, frames = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
master, slave = pty.openpty()
tty.setraw(slave)
proc = subprocess.Popen([app, "--decode", os.ttyname(slave), "--model", model],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(0.5)  # the program opens and sets up the line
with open(capture, "rb") as f:
    data = f.read()
view = memoryview(data)
while view:
    view = view[os.write(master, view[:65536]):]
def waiting():
    return struct.unpack("i", fcntl.ioctl(slave, termios.FIONREAD, b"\0\0\0\0"))[0]
while waiting() > 0:
    time.sleep(0.05)
time.sleep(0.2)
proc.send_signal(signal.SIGINT)
_, status, usage = os.wait4(proc.pid, 0)
cpu = usage.ru_utime + usage.ru_stime
print(f"pseudo-terminal:  {cpu * 1e6 / frames:.3f} us of CPU per frame ({frames} frames, {model})")
PY
