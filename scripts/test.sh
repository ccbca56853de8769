#!/usr/bin/env bash
# Checks the sources' formatting, builds dmmview with every warning an error and runs the whole
# test suite, then builds the tests again with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs them once more.
# Build folders that exist already are reused. SKIP_SANITIZERS=1 leaves out the second run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# sources that .clang-format would change fail the run before anything is built
bash scripts/check-format.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDMM_WERROR=ON
bash scripts/check-deps.sh "$build_dir"
cmake --build "$build_dir" -j "$jobs"
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs"

if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
  asan_dir=${ASAN_BUILD_DIR:-build-asan}
  # the instrumented code makes gcc guess at uninitialised values it cannot see through
  san="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -Wno-maybe-uninitialized"
  cmake -S . -B "$asan_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDMM_WERROR=ON \
        -DDMM_BUILD_BENCH=OFF -DDMM_SANITIZED=ON \
        -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" -DCMAKE_SHARED_LINKER_FLAGS="$san"
  cmake --build "$asan_dir" -j "$jobs"
  export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
  ctest --test-dir "$asan_dir" --output-on-failure -j "$jobs"
fi
