#!/usr/bin/env bash
# The long reliability runs, one command each (RELIABILITY.md):
#   reliability.sh crash         SIGKILL at random moments: 2,000 mutating commands on 3,000 assignments
#   reliability.sh concurrency   100 rounds of 16 concurrent assign/attempt processes on the same files
#   reliability.sh sweep         every file operation of every writing command failing in turn, and a
#                                passing attempt at every amount of free space on a small tmpfs (as root)
# Extra arguments go to tests/reliability/reliability.py (crash, concurrency), for
# example --seed 7 or --runs 500. BUILD_DIR (default: build) is configured and built first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
what=${1:?usage: reliability.sh crash|concurrency|sweep [reliability.py options]}
shift

if [[ -f $build/build.ninja ]]; then
  cmake --build "$build" --parallel "$(nproc)" >/dev/null
else
  bash "$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi

script=$root/tests/reliability/reliability.py
binary=$build/cli/corvellactl
case $what in
  crash) python3 "$script" crash --binary "$binary" --runs 2000 --records 3000 "$@" ;;
  concurrency) python3 "$script" concurrency --binary "$binary" --rounds 100 --processes 16 "$@" ;;
  sweep)
    "$build/cli/corvellactl_fault_sweep_test" --gtest_brief=1
    "$build/tests/e2e_reliability_test" --gtest_brief=1 ;;
  *) echo "reliability.sh: unknown run '$what' (crash, concurrency or sweep)" >&2; exit 2 ;;
esac
