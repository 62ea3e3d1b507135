#!/usr/bin/env bash
# Walks through corvellactl in a fresh scratch directory, showing each command
# and what it printed: create an assessment from the example questions,
# publish, list and inspect it, assign it to a new learner, fail and then pass
# an attempt, issue a certificate, verify it (valid now, expired in 2100),
# export it as a credential and check that, write a checkpoint of the audit
# chain and verify against it, revoke the certificate, assign, grade and
# certify a cohort of three from CSV files in three batch commands, verify the
# audit chain, prove the certificate's event and the chain's growth to an
# auditor who holds only the public key, and finish with the readiness report
# and doctor.
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

# Shows a command, runs it and shows what it printed (standard error too)
# and, when it fails, its exit status.
show() {
    printf '$ corvellactl %s\n' "$*"
    local status=0
    "$binary" "$@" 2>&1 || status=$?
    if ((status != 0)); then echo "(exit status $status)"; fi
    echo
}

# Like show, for a command whose output names a new record: prints it and
# keeps it in $output.
capture() {
    printf '$ corvellactl %s\n' "$*"
    output=$("$binary" "$@")
    printf '%s\n\n' "$output"
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

capture assign --assessment-id "$id" --due-in-days 30
assignment=$(sed -n 's/^created assignment \([0-9a-f-]*\) .*/\1/p' <<<"$output")

show attempt --assignment-id "$assignment" --answers 0,1,1
capture attempt --assignment-id "$assignment" --answers "1, 1, 0"
completion=$(sed -n 's/^completion recorded: \([0-9a-f-]*\) .*/\1/p' <<<"$output")
show attempt --assignment-id "$assignment" --answers 1,1,0

capture certify --completion-id "$completion"
certificate=$(sed -n 's/^issued certificate \([0-9a-f-]*\) .*/\1/p' <<<"$output")

show verify --certificate-id "$certificate"
show verify --certificate-id "$certificate" --at 2100-01-01T00:00:00Z

# The certificate as a credential that anyone can check with the file alone.
show key public
show credential export --certificate-id "$certificate" --output credential.json
show credential verify credential.json
show credential verify credential.json --at 2100-01-01T00:00:00Z

# A checkpoint kept elsewhere later shows whether the chain was cut.
show audit checkpoint --output checkpoint.txt
show audit verify --checkpoint checkpoint.txt
show revoke --certificate-id "$certificate" --reason "issued in error"
show verify --certificate-id "$certificate"
# A cohort of three: assigned, graded and certified in three commands.
printf 'principal_id,due_in_days\nnew,30\nnew,30\nnew,14\n' > cohort.csv
capture batch assign --assessment-id "$id" cohort.csv
mapfile -t cohort < <(sed -n 's/^created assignment \([0-9a-f-]*\) .*/\1/p' <<<"$output")
printf 'assignment_id,answers\n%s,"1,1,0"\n%s,"0,1,1"\n%s,"1,1,1"\n' "${cohort[@]}" > answers.csv
show batch attempt answers.csv
show batch certify --pending
show --json report readiness

show audit verify

# Proofs for an auditor who holds only the public key: the certificate's
# event, and that the chain only grew since the checkpoint.
event=$(awk -F'"' '/"event_id"/ { id = $4 } /"action": "training.certificate.issued"/ { print id }' corvella-audit.json)
public_key=$("$binary" key public | sed -n 3p)
show audit prove --event-id "$event" --output issued.tlog-proof
show audit prove --from-checkpoint checkpoint.txt --output grew.proof
show audit verify-proof issued.tlog-proof --public-key "$public_key"
show audit verify-proof grew.proof --public-key "$public_key"
show report readiness
show doctor

echo "# files in the scratch directory:"
ls -l
