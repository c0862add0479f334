#!/usr/bin/env bash
# Installs what is needed, then builds and runs the whole test suite:
# a normal build (engine, interface logic, the Qt application with its widget and end-to-end tests under Xvfb), an AddressSanitizer + UndefinedBehaviorSanitizer build, a ThreadSanitizer
# build of the threaded tests, and a short bounded run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
# Each step says how long the run has taken so far, to keep the whole under its time budget.
step() { printf '\n==== %s (at %d s) ====\n' "$*" "$SECONDS"; }

# Optimised builds keep line tables only (-g1): stack traces still name files and lines, and
# compiling and linking the Qt application takes far less time than with full debug information.
optimised=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

step "build (RelWithDebInfo)"
scripts/build.sh build "${optimised[@]}"
# Tests that time playback to the frame through a real JACK server run on their own afterwards, and
# are given up to three tries: on a loaded two-core machine the server can lose a period now and
# then, which moves every later hit by 256 frames. A real fault fails all three.
realtime='^PlayerJack\.'
run_tests() {
  ctest --test-dir "$1" --output-on-failure -j "$jobs" -E "$realtime"
  ctest --test-dir "$1" --output-on-failure -R "$realtime" --repeat until-pass:3
}

step "tests"
run_tests build

step "build (AddressSanitizer + UndefinedBehaviorSanitizer)"
# The interface logic is Qt-free and runs here; the Qt views and the benchmarks are not built again.
# Line tables only (-g1): enough for the sanitizers' reports, and much quicker to compile and link.
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DRP_SANITIZE=ON -DRP_BUILD_GUI=OFF \
  -DRP_BUILD_BENCH=OFF
step "tests under ASan/UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan

step "build (ThreadSanitizer)"
# Only the test programs that hold threaded suites are built here.
threaded=$(grep -rl --include='*.cpp' 'Threads' tests | sed -E 's|tests/([a-z]+)/.*|rp_tests_\1|' | sort -u)
# shellcheck disable=SC2086
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DRP_TSAN=ON -DRP_BUILD_GUI=OFF -- $threaded
step "threaded tests under TSan"
# Threaded test suites carry "Threads" in their name.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R Threads

step "fuzz targets (bounded)"
fuzz_targets=$(find fuzz -maxdepth 1 -name '*.cpp' -printf 'fuzz_%f\n' | sed 's/\.cpp$//')
# -O1, as fuzzing builds usually are: quicker to compile, and the runs are short anyway.
# shellcheck disable=SC2086
scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DRP_FUZZ=ON -DRP_BUILD_TESTS=OFF -DRP_BUILD_GUI=OFF -- $fuzz_targets
fuzz/run-bounded build-fuzz "${RP_FUZZ_SECONDS:-10}"
step "done"
