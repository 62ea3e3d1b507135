#!/usr/bin/env bash
# Configures and builds the Release tree, then runs the scale benchmark:
#
#   bash bench/run.sh [scale.py options]      e.g. --runs 3 --keep
#   bash bench/run.sh --million               the growth run at 100,000 and
#                                             1,000,000 records of each kind
#
# BUILD_DIR overrides the build directory (default: build-release at the top
# of the source tree). Exits with scale.py's status: 0 when every goal is
# met, 1 when one is missed, 2 when a command fails.
set -euo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$source_dir/build-release}"
jobs="${JOBS:-2}"

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVELLA_BENCH=ON >/dev/null
cmake --build "$build_dir" --parallel "$jobs" --target corvellactl scale_bench
exec python3 "$source_dir/bench/scale.py" --build-dir "$build_dir" "$@"
