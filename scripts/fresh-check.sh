#!/usr/bin/env bash
# Tries dmmview as a new user on a fresh Debian 12 machine would, on clean minbase roots made
# with debootstrap from the mirror this machine's apt sources name:
#   1. a clone of this repository (its checked-out commit) runs scripts/test.sh, then
#      scripts/run.sh for about 20 s on a virtual display (screenshot run.png), then the
#      README's install commands build the Debian package;
#   2. a second clean root installs that package with apt-get and runs `dmmview --help`, a
#      --decode of a simulator capture and the window on a virtual display (screenshot
#      installed.png).
# Each step's exit code and time are printed; logs, screenshots and the package stay in the
# output folder. The roots are unmounted and removed at the end, also when the check is
# interrupted. Inside a root /dev is a small tmpfs of its own (the host's is never bound).
# Needs root and about 10 GB under the work folder; takes about half an hour, longer without
# --share-ccache.
# Usage: scripts/fresh-check.sh [--share-ccache] [--out DIR] [--work DIR]
#   --share-ccache  lend the roots this machine's compiler cache (ccache keys on the compiler
#                   and every header's contents, so a hit is the same object the root would make)
#   --out DIR       where logs and screenshots go (default: a new /tmp/fresh-check.XXXXXX)
#   --work DIR      where the roots are made (default: a new folder under /var/tmp)
set -uo pipefail

share_ccache=0
out=""
work_parent=/var/tmp
while [ "$#" -gt 0 ]; do
    case "$1" in
        --share-ccache) share_ccache=1 ;;
        --out) out=$2; shift ;;
        --work) work_parent=$2; shift ;;
        -h|--help) sed -n '2,/^set -uo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "fresh-check: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

[ "$(id -u)" -eq 0 ] || { echo "fresh-check: run as root (it makes and mounts roots)" >&2; exit 2; }
# debootstrap is a tool of this check only, so deps.sh does not install it
if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap ||
        { echo "fresh-check: could not install debootstrap" >&2; exit 2; }
fi
for tool in git chroot mknod findmnt file; do
    command -v "$tool" >/dev/null || { echo "fresh-check: needs $tool" >&2; exit 2; }
done

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
suite=bookworm

# The first Debian mirror of the machine's apt sources (deb822 .sources or one-line lists).
mirror_from_sources() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' "$f"
    done
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($i !~ /security/) print $i; break } }'
}
mirror=$(mirror_from_sources | head -n1)
[ -n "$mirror" ] || { echo "fresh-check: no Debian mirror in /etc/apt/sources*" >&2; exit 2; }

[ -n "$out" ] || out=$(mktemp -d /tmp/fresh-check.XXXXXX)
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "$work_parent/fresh-check-roots.XXXXXX")
pristine=$work/pristine
build_root=$work/build
install_root=$work/install
summary=$out/summary.txt
: >"$summary"
failed=0

say() { echo "$*" | tee -a "$summary"; }
say "fresh-check: commit $(git -C "$repo" rev-parse --short HEAD) of $repo"
say "fresh-check: mirror $mirror, suite $suite; logs and screenshots in $out"

# ---- roots: mounts and clean-up ------------------------------------------------------------

# /dev of a root: a tmpfs with the few device nodes programs expect, pseudo-terminals of the
# root's own devpts instance and a tmpfs for shared memory.
mount_root() {
    local r=$1
    mount -t proc proc "$r/proc"
    mount -t sysfs -o ro sysfs "$r/sys"
    mount -t tmpfs -o mode=755,size=4m devtmp "$r/dev"
    mknod -m 666 "$r/dev/null" c 1 3
    mknod -m 666 "$r/dev/zero" c 1 5
    mknod -m 666 "$r/dev/full" c 1 7
    mknod -m 666 "$r/dev/random" c 1 8
    mknod -m 666 "$r/dev/urandom" c 1 9
    mknod -m 666 "$r/dev/tty" c 5 0
    ln -s /proc/self/fd "$r/dev/fd"
    ln -s /proc/self/fd/0 "$r/dev/stdin"
    ln -s /proc/self/fd/1 "$r/dev/stdout"
    ln -s /proc/self/fd/2 "$r/dev/stderr"
    mkdir "$r/dev/pts" "$r/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts "$r/dev/pts"
    ln -s pts/ptmx "$r/dev/ptmx"
    mount -t tmpfs -o mode=1777,size=512m shm "$r/dev/shm"
    if [ "$share_ccache" = 1 ]; then
        mkdir -p "$HOME/.cache/ccache" "$r/root/.cache/ccache"
        mount --bind "$HOME/.cache/ccache" "$r/root/.cache/ccache"
    fi
}

# Ends what still runs inside a root (a virtual display, a broker a test left), by process id.
stop_processes_in() {
    local r=$1 pid pids
    for _ in 1 2 3; do
        pids=()
        for pid in /proc/[0-9]*; do
            [ "$(readlink "$pid/root" 2>/dev/null)" = "$r" ] && pids+=("${pid#/proc/}")
        done
        [ "${#pids[@]}" -eq 0 ] && return
        kill "${pids[@]}" 2>/dev/null
        sleep 1
    done
    kill -9 "${pids[@]}" 2>/dev/null
}

unmount_root() {
    local r=$1 m
    [ -d "$r" ] || return 0
    stop_processes_in "$r"
    # deepest mounts first
    findmnt -rn -o TARGET | grep -F "$r/" | sort -r | while read -r m; do
        umount "$m" 2>/dev/null || umount -l "$m"
    done
}

cleanup() {
    local r
    for r in "$build_root" "$install_root" "$pristine"; do unmount_root "$r"; done
    # never remove a tree that still has something mounted in it (the shared compiler cache)
    if findmnt -rn -o TARGET | grep -qF "$work/"; then
        say "fresh-check: mounts are left under $work; it was not removed"
    else
        rm -rf --one-file-system "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- steps ------------------------------------------------------------------------------------

# step NAME COMMAND...: runs the command with its output in NAME.log and prints its exit code
# and time.
step() {
    local name=$1 start rc
    shift
    start=$(date +%s)
    "$@" >"$out/$name.log" 2>&1
    rc=$?
    printf '%-22s exit %3d %6d s   %s\n' "$name" "$rc" "$(($(date +%s) - start))" "$name.log" |
        tee -a "$summary"
    [ "$rc" -eq 0 ] || failed=1
    return "$rc"
}

# in_root ROOT SCRIPT: runs SCRIPT with bash as root inside ROOT, in a plain environment.
in_root() {
    local r=$1
    shift
    local env=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
               LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive)
    if [ "$share_ccache" = 1 ]; then
        # the cache's keys leave out where a checkout lies, as on the machine that filled it
        env+=(CCACHE_DIR=/root/.cache/ccache CCACHE_BASEDIR=/root CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=20G)
    fi
    chroot "$r" /usr/bin/env -i "${env[@]}" bash -c "$*"
}

# The machine's apt sources (the mirror with its updates and security suites), so that a root
# gets what an installed Debian 12 would.
use_host_sources() {
    local r=$1
    if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
        rm -f "$r/etc/apt/sources.list"
        cp /etc/apt/sources.list.d/*.sources "$r/etc/apt/sources.list.d/"
    fi
    in_root "$r" 'apt-get update -q'
}

# debootstrap leaves out the hosts file that the installer writes on every Debian machine, and
# without it "localhost" names nothing.
write_hosts() {
    printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$1/etc/hosts"
}

make_root() {
    cp -a "$pristine" "$1" && write_hosts "$1" && mount_root "$1" && use_host_sources "$1"
}

# A script that starts COMMAND on a virtual display, waits for its window, lets it run SECONDS
# and takes a screenshot to SHOT, then ends it.
window_script() {
    local command=$1 seconds=$2 shot=$3
    cat <<EOF
set -u
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
    $command &
    app=\$!
    for _ in \$(seq 600); do
        xdotool search --onlyvisible --class dmmview >/dev/null 2>&1 && break
        kill -0 \$app 2>/dev/null || { echo "the program ended before its window showed"; exit 1; }
        sleep 1
    done
    sleep $seconds
    import -window root $shot
    shot=\$?
    kill \$app
    wait \$app
    echo "the program ended with \$? after it was stopped"
    exit \$shot
'
EOF
}

step debootstrap debootstrap --variant=minbase "$suite" "$pristine" "$mirror" || exit 1

# ---- 1. a fresh clone: the README's commands --------------------------------------------------
step build-root make_root "$build_root" || exit 1
step clone git clone --no-hardlinks "$repo" "$build_root/root/dmmview" || exit 1

step test.sh in_root "$build_root" 'cd /root/dmmview && scripts/test.sh'
passes=$(grep -c '100% tests passed' "$out/test.sh.log")
say "test.sh: $passes of 2 test passes reported 100 %"
[ "$passes" -eq 2 ] || failed=1

step run.sh in_root "$build_root" \
    "cd /root/dmmview && $(window_script 'scripts/run.sh --demo --connect' 20 /root/run.png)"
cp "$build_root/root/run.png" "$out/" 2>/dev/null
left=$(git -C "$build_root/root/dmmview" status --porcelain --untracked-files=all)
[ -z "$left" ] || { say "run.sh left files in the checkout: $left"; failed=1; }

# The README's install lines, less the apt-get one the second root runs.
install_lines=$(sed -n '/^## Install/,/^## /p' "$repo/README.md" | sed -n '/^```sh/,/^```/p' |
                grep -v -e '^```' -e 'apt-get install')
printf '%s\n' "$install_lines" >"$out/install-commands.txt"
step package in_root "$build_root" "set -e; cd /root/dmmview; $install_lines"
deb=$(ls "$build_root"/root/dmmview/build/dmmview_*.deb 2>/dev/null | head -n1)
if [ -n "$deb" ]; then
    cp "$deb" "$out/"
    deb=$out/$(basename "$deb")
    mkdir -p "$work/deb" && dpkg-deb -x "$deb" "$work/deb"
    say "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB, installed size" \
        "$(dpkg-deb -f "$deb" Installed-Size) KiB"
    say "package depends: $(dpkg-deb -f "$deb" Depends)"
    say "$(cd "$work/deb" && file usr/bin/dmmview)"
else
    say "package: no .deb was built"
    failed=1
fi
unmount_root "$build_root"

# ---- 2. a second clean root: the package --------------------------------------------------------
if [ -n "$deb" ]; then
    step install-root make_root "$install_root" || exit 1
    cp "$deb" "$install_root/tmp/"
    # recommended packages are left out, so the package's own Depends must be enough
    step apt-install in_root "$install_root" \
        "apt-get install -y -q --no-install-recommends ./tmp/$(basename "$deb")"
    step help in_root "$install_root" 'dmmview --help'
    step decode in_root "$install_root" \
        'cd /tmp && dmmsim --model KR31G --scenario cycle --capture meter.bin --count 300 &&
         dmmview --decode meter.bin --model KR31G >decoded.tsv && wc -l decoded.tsv &&
         test "$(wc -l <decoded.tsv)" -ge 290 && head -n3 decoded.tsv'
    # the virtual display and the screenshot are the check's tools, not the program's
    step window-tools in_root "$install_root" \
        'apt-get install -y -q --no-install-recommends xvfb xauth imagemagick xdotool && fc-list'
    step window in_root "$install_root" \
        "mkdir -p /tmp/w && cd /tmp/w && $(window_script 'dmmview --demo --connect --no-settings' 15 /tmp/installed.png)"
    cp "$install_root/tmp/installed.png" "$out/" 2>/dev/null
fi

if [ "$failed" -eq 0 ]; then say "fresh-check: passed"; else say "fresh-check: FAILED"; fi
say "fresh-check: logs and screenshots in $out"
exit "$failed"
