#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each in turn, starting
# from its seed corpus (fuzz/corpus/<target>), with the JSON dictionary for
# the JSON readers. Prints executions and seconds per target; exits non-zero
# when a target crashes or a property fails, leaving the input under
# build-fuzz/artifacts/<target>/.
#
#   fuzz.sh [seconds-per-target] [target...]     default: 60 seconds, every target
#
# FUZZ_MAX_RUNS caps the executions per target as well (CI's bounded run).
# New inputs found go to build-fuzz/corpus/<target>, which later runs start
# from too; the seed corpora in the source tree are never written.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
shift || true
max_runs=${FUZZ_MAX_RUNS:-0}

all_targets=(state chain questions key_text timestamp uuid hash_signature answers canonical_json csv proof)
json_targets=" state chain questions canonical_json "
targets=("$@")
if ((${#targets[@]} == 0)); then targets=("${all_targets[@]}"); fi

started=$(date +%s)
# -O1 with line tables, as libFuzzer builds usually are: quicker to build
# than -O2, with file and line in every report, and assertions left on.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" \
  -DCORVELLA_FUZZ=ON -DCORVELLA_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fuzz_targets
echo "fuzz: built in $(($(date +%s) - started)) s"

printf '%-16s %12s %8s %8s  %s\n' target executions seconds corpus result
failed=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  # No input of a few kilobytes may take memory out of proportion: one
  # allocation over 256 MB counts as a failure.
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  if ((max_runs > 0)); then options+=(-runs="$max_runs"); fi
  if [[ $json_targets == *" $target "* ]]; then options+=(-dict="$root/fuzz/json.dict"); fi
  log=$build/fuzz-$target.log
  begin=$(date +%s%N)
  status=0
  "$build/fuzz/fuzz_$target" "${options[@]}" "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  tenths=$((($(date +%s%N) - begin) / 100000000))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  result=ok
  if ((status != 0)); then
    result="FAILED (see $log)"
    failed=1
  fi
  printf '%-16s %12s %6d.%d %8s  %s\n' "$target" "${executions:-?}" $((tenths / 10)) $((tenths % 10)) "$(ls "$corpus" | wc -l)" "$result"
done
echo "fuzz: finished in $(($(date +%s) - started)) s"
exit "$failed"
