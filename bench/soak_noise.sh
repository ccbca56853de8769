#!/usr/bin/env bash
# Soak of the running program under bad input. The program (offscreen) is connected to a
# pseudo-terminal that first carries dmmsim's noise scenario (lost, extra, corrupt and stray end
# bytes) for N seconds, then random bytes at the line's pace for N seconds, then a few good
# frames. Every byte sent is kept in a capture, so the same streams are decoded afterwards with
# `dmmview --decode` to show that good frames still decode after the damage. The program must stay
# up and keep reading the line throughout; a one-line summary ends the run.
# Usage: bench/soak_noise.sh [build-dir] [seconds-per-phase] [model]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
model=${3:-KR31E}
sim="$build/tools/dmmsim/dmmsim"
app="$build/src/shell/dmmview"
[ -x "$sim" ] && [ -x "$app" ] || { echo "build dmmsim and dmmview first ($build)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "python3 is needed for the line feeder" >&2; exit 2; }

work=$(mktemp -d)
feeder_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$feeder_pid" ] && kill "$feeder_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# good frames to end with: a steady reading
"$sim" --model "$model" --scenario steady --count 10 --capture "$work/good.bin"

# The feeder owns the pseudo-terminal for the whole run, so the program keeps one open port while
# the source of the bytes changes underneath it.
python3 - "$sim" "$model" "$seconds" "$work" <<'PY' &
import array, fcntl, os, pty, random, select, signal, subprocess, sys, termios, time, tty

sim, model, seconds, work = sys.argv[1], sys.argv[2], float(sys.argv[3]), sys.argv[4]
bytes_per_second = (19200 if model in ("KR31F", "KR31G") else 2400) / 10
master, slave = pty.openpty()
tty.setraw(slave)
os.set_blocking(master, False)
dropped = 0
max_backlog = 0

def backlog():
    # bytes on the line that the program has not read yet
    n = array.array("i", [0])
    fcntl.ioctl(slave, termios.FIONREAD, n)
    return n[0]

def send(data):
    # a program that stops reading fills the terminal; what does not fit is counted, not waited for
    global dropped, max_backlog
    try:
        n = os.write(master, data)
    except BlockingIOError:
        n = 0
    dropped += len(data) - n
    max_backlog = max(max_backlog, backlog())

def note(name, text=""):
    with open(os.path.join(work, name + ".tmp"), "w") as f:
        f.write(text)
    os.rename(os.path.join(work, name + ".tmp"), os.path.join(work, name))

def paced(data, capture):
    start, done = time.monotonic(), 0
    while done < len(data):
        due = min(len(data), int((time.monotonic() - start) * bytes_per_second)) - done
        if due > 0:
            send(data[done:done + due])
            capture.write(data[done:done + due])
            done += due
        time.sleep(0.01)

note("pty", os.ttyname(slave))
deadline = time.monotonic() + 30
while not os.path.exists(os.path.join(work, "go")):
    if time.monotonic() > deadline:
        sys.exit("the program did not start")
    time.sleep(0.05)

# phase 1: the simulator's noise scenario, relayed from its own terminal
meter = subprocess.Popen([sim, "--model", model, "--scenario", "noise", "--seed", "7", "--pty", "--verbose"],
                         stdout=subprocess.PIPE, stderr=open(os.path.join(work, "noise.log"), "w"), text=True)
def stop(*_):
    meter.terminate()
    sys.exit(1)
signal.signal(signal.SIGTERM, stop)
source = os.open(meter.stdout.readline().strip(), os.O_RDONLY | os.O_NOCTTY)
tty.setraw(source)
with open(os.path.join(work, "noise.bin"), "wb") as capture:
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if select.select([source], [], [], 0.1)[0]:
            data = os.read(source, 4096)
            send(data)
            capture.write(data)
meter.terminate()
meter.wait()
os.close(source)
note("noise.done")

# phase 2: random bytes at the line's pace, then the good frames
rng = random.Random(11)
with open(os.path.join(work, "random.bin"), "wb") as capture:
    n = int(seconds * bytes_per_second)
    paced(rng.getrandbits(8 * n).to_bytes(n, "little"), capture)
    paced(open(os.path.join(work, "good.bin"), "rb").read(), capture)
time.sleep(0.5)
note("done", "%d %d %d\n" % (dropped, max_backlog, backlog()))
time.sleep(5)  # the slave stays open until the program has been looked at
PY
feeder_pid=$!

for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.1; done
[ -s "$work/pty" ] || { echo "feeder made no pseudo-terminal" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$app" --model "$model" --port "COM1=$(cat "$work/pty")" --connect >"$work/app.log" 2>&1 &
app_pid=$!
sleep 2  # start-up
touch "$work/go"

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app_pid/stat"; }
rss() { awk '/^VmRSS/ {print $2}' "/proc/$app_pid/status"; }
alive() { kill -0 "$app_pid" 2>/dev/null; }

c0=$(cpu); m0=$(rss); t0=$(date +%s.%N)
limit=$((2 * seconds + 60))
for _ in $(seq "$limit"); do
    [ -e "$work/done" ] && break
    alive || break
    kill -0 "$feeder_pid" 2>/dev/null || break
    sleep 1
done
fail=()
if ! alive; then
    fail+=("program died")
    wait "$app_pid" 2>/dev/null || fail+=("exit status $?")
elif [ ! -e "$work/done" ]; then
    fail+=("feeder stopped early")
fi
c1=$(cpu 2>/dev/null || echo "$c0"); m1=$(rss 2>/dev/null || echo "$m0")
t1=$(date +%s.%N)
read -r dropped max_backlog unread < <(cat "$work/done" 2>/dev/null || echo "? ? ?")
if [ -e "$work/done" ]; then
    [ "$dropped" = 0 ] || fail+=("$dropped bytes found the line full (the program stopped reading)")
    [ "$unread" = 0 ] || fail+=("$unread bytes left unread on the line")
fi

# the same streams through the headless decoder
size() { stat -c %s "$1" 2>/dev/null || echo 0; }
noise_sent=$(grep -c . "$work/noise.log" 2>/dev/null || true)
noise_damaged=$(grep -c '\[' "$work/noise.log" 2>/dev/null || true)
noise_read=0
after_random="not checked"
if [ -e "$work/done" ]; then
    noise_read=$("$app" --decode "$work/noise.bin" --model "$model" 2>"$work/noise.err" | wc -l || true)
    grep -q 'dropped frames' "$work/noise.err" && fail+=("noise: $(cat "$work/noise.err")")
    [ "$noise_read" -ge $((noise_sent - 2 * noise_damaged - 3)) ] && [ "$noise_read" -le "$noise_sent" ] ||
        fail+=("noise: $noise_read readings from $noise_sent frames, $noise_damaged damaged")
    # the first good frame may go with the random bytes in front of it; the other nine must decode
    good=$("$app" --decode "$work/good.bin" --model "$model" 2>/dev/null | tail -n1 || true)
    tail_good=$("$app" --decode "$work/random.bin" --model "$model" 2>/dev/null | tail -n 9 | grep -cxF "$good" || true)
    after_random="good frames after it decode"
    [ -n "$good" ] && [ "$tail_good" = 9 ] || { after_random="good frames after it do NOT decode"; fail+=("$after_random"); }
fi
random_bytes=$(( $(size "$work/random.bin") - $(size "$work/good.bin") ))
(( random_bytes >= 0 )) || random_bytes=0
sent_bytes=$(( $(size "$work/noise.bin") + $(size "$work/random.bin") ))

status=PASS
[ ${#fail[@]} -eq 0 ] || status="FAIL: $(IFS=';'; echo "${fail[*]}")"
awk -v m="$model" -v s="$seconds" -v ns="$noise_sent" -v nd="$noise_damaged" -v nr="$noise_read" \
    -v rb="$random_bytes" -v sb="$sent_bytes" -v mb="$max_backlog" -v ur="$unread" -v ar="$after_random" -v c0="$c0" -v c1="$c1" -v hz="$ticks" \
    -v t0="$t0" -v t1="$t1" -v m0="$m0" -v m1="$m1" -v st="$status" 'BEGIN {
  printf "soak %s: noise %d s (%d frames, %d damaged, %d decode) + random %d s (%d bytes, %s); " \
         "%d bytes sent, line backlog at most %s, %s left unread; CPU %.2f %% of one core, RSS %.1f -> %.1f MB: %s\n",
         m, s, ns, nd, nr, s, rb, ar, sb, mb, ur, 100 * (c1 - c0) / hz / (t1 - t0), m0 / 1024, m1 / 1024, st }'
[ "$status" = PASS ]
