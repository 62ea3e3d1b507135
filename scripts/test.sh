#!/usr/bin/env bash
# Builds every configuration and runs every test: GCC (warnings as errors),
# clang (build only: it serves fuzzing and clang-tidy), then GCC with
# AddressSanitizer and UndefinedBehaviorSanitizer running the whole suite
# (each fuzz target's seed corpus replayed among it); before the tests, every
# fuzz target runs for a few seconds (scripts/fuzz.sh runs them longer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

echo "== GCC build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVELLA_WERROR=ON
echo "== clang build"
CC=clang CXX=clang++ scripts/build.sh build-clang -DCMAKE_BUILD_TYPE=Debug -DCORVELLA_BENCH=OFF
echo "== sanitizer build"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVELLA_SANITIZE=ON -DCORVELLA_BENCH=OFF

echo "== fuzz (bounded: 8 s or a million runs per target)"
FUZZ_MAX_RUNS=1000000 scripts/fuzz.sh 8

echo "== tests (sanitizers)"
(cd build-asan && ctest --output-on-failure --parallel "$(nproc)")
# Last, so that the run ends with CTest's summary of the main build.
echo "== tests (GCC)"
(cd build && ctest --output-on-failure --parallel "$(nproc)")
