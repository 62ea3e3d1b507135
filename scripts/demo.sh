#!/usr/bin/env bash
# Walks through corvellactl in a fresh scratch directory, showing each command
# and what it printed: create an assessment from the example questions,
# publish it, list and inspect it.
#
# Usage: scripts/demo.sh [path-to-corvellactl]   (default: build/cli/corvellactl)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath -m "${1:-$root/build/cli/corvellactl}")
if [[ ! -x $binary ]]; then
    echo "demo: $binary is not built; run: bash scripts/build.sh build" >&2
    exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
cp "$root/examples/questions.json" questions.json

# Shows a command, runs it and shows what it printed (standard error too).
show() {
    printf '$ corvellactl %s\n' "$*"
    "$binary" "$@" 2>&1
    echo
}

echo "# scratch directory (removed at exit): $scratch"
echo
show assessment list

printf '$ corvellactl %s\n' "assessment create --title \"Platform security basics\" --min-correct 2 --questions questions.json"
created=$("$binary" assessment create --title "Platform security basics" --min-correct 2 --questions questions.json)
printf '%s\n\n' "$created"
id=$(sed -n 's/^created assessment \([0-9a-f-]*\) .*/\1/p' <<<"$created")

show assessment list
show assessment inspect "$id"
show assessment publish "$id"
show assessment list
show assessment inspect "$id"

echo "# files in the scratch directory:"
ls -l
