#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz/ and runs each for the given time (seconds, 60 unless told), one after another at
# low priority, then prints per target the executions, the coverage and whether anything was found.
# Usage: fuzz/run.sh [seconds] [target ...]   (targets: frames paradox_table texts serve_request scpi expressions broker_message)
# The working corpora grow in build-fuzz/corpus/<target>, seeded from fuzz/corpus/<target> and
# tests/data/fuzz/<target>; inputs that find a fault land in build-fuzz/artifacts/<target>/.
# FUZZ_JOBS=2 runs two targets at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(frames paradox_table texts serve_request scpi expressions broker_message)
bash scripts/deps.sh
build=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-1}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DDMM_FUZZ=ON -DDMM_BUILD_TESTS=OFF -DDMM_BUILD_BENCH=OFF >/dev/null
nice cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}" >/dev/null

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export QT_QPA_PLATFORM=offscreen

run_one() {
    local t=$1
    local corpus=$build/corpus/$t artifacts=$build/artifacts/$t
    mkdir -p "$corpus" "$artifacts"
    local max_len=4096
    [ "$t" = paradox_table ] && max_len=65536
    local seeds=(fuzz/corpus/"$t")
    [ -d tests/data/fuzz/"$t" ] && seeds+=(tests/data/fuzz/"$t")
    nice -n 15 "$build/fuzz/fuzz_$t" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        >"$build/fuzz_$t.log" 2>&1 || true
}

summary() {
    local t=$1 log=$build/fuzz_$t.log
    local execs cov ft found
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' | tail -n1)
    cov=$(grep -E '^#[0-9]+' "$log" | grep -o 'cov: [0-9]*' | tail -n1 | awk '{print $2}')
    ft=$(grep -E '^#[0-9]+' "$log" | grep -o 'ft: [0-9]*' | tail -n1 | awk '{print $2}')
    found=none
    if grep -qE '^==[0-9]+==ERROR|runtime error|deadly signal|fuzz [a-z]+:|ERROR: libFuzzer' "$log"; then
        found="FAULT, see $log and $build/artifacts/$t/"
    fi
    printf '%-14s %6ss  executions %-10s coverage %-6s features %-7s corpus %-5s fault: %s\n' \
        "$t" "$seconds" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$(ls "$build/corpus/$t" | wc -l)" "$found"
}

running=0
for t in "${targets[@]}"; do
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
done
wait
status=0
for t in "${targets[@]}"; do
    summary "$t"
    grep -q 'fault: none' <(summary "$t") || status=1
done
exit "$status"
