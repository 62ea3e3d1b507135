#!/usr/bin/env python3
"""Scale benchmark of corvellactl.

Generates data sets of 10,000 and 100,000 records (of each kind) with as many
audit events, then times every command as a whole process over several runs,
together with the reference programs the goals are measured against, all in
one run and interleaved round by round so that a busy machine slows both sides
of a ratio alike. Each round takes each set's programs in an order of its own,
drawn from a fixed seed, so that no program always runs after the same one: on
a virtual machine whose host takes back the memory its guest leaves free, the
first program to need much fresh memory after a stretch of small ones pays for
all of it, and in a fixed order that was always the same program. Mutating
commands get a fresh copy of the files for every run; the copy is made, and
everything written so far flushed to disk, outside the timed region.

Prints a Markdown table (median, min and max wall time, peak resident memory)
and one line per goal:

    RATIO <name> <measured> <goal>

and exits with status 1 when a goal is missed (2 when a command fails).

It builds nothing: pass the build directory of a Release configuration
(bench/run.sh configures, builds and runs it in one command).
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

STATE = "corvella-state.json"
KEY = "corvella-signing-key.hex"
AUDIT = "corvella-audit.json"
DATA_FILES = (STATE, KEY, AUDIT)

GOALS = (
    ("batch_assign", 1.5),
    ("batch_attempt", 1.5),
    ("batch_certify", 1.5),
    ("verify_chain", 1.15),
    ("mutate_vs_floor", 3.0),
    ("load_vs_typical", 0.2),
    ("peak_memory", 2.5),
    ("startup", 1.5),
    ("growth", 11.0),
    ("report_overdue", 1.2),
    ("report_expiring", 1.2),
    ("report_learner", 1.2),
    ("report_assessment", 1.2),
    ("verify_from_checkpoint", 0.15),
)

# The list reports, each timed against `report readiness`, which reads the
# same state file.
REPORTS = ("overdue", "expiring", "learner", "assessment")

# Against what the machine must do for the work (ref_floor): a command that
# only reads the files within 8 times reading them, one that changes them
# within 2.5 times writing both afresh and making them durable; a reading
# command's peak memory within 1.2 times the files' size.
READ_ONLY = ("report readiness", "report overdue", "report expiring", "report learner", "report assessment",
             "verify", "doctor")
MUTATING = ("assign", "attempt (passing)", "certify", "revoke", "batch assign", "batch attempt",
            "batch certify --pending")
# The changing commands that start from the files `batch attempt` left, and
# the write floor of those files.
WRITES_GRADED_SET = ("batch certify --pending",)
GRADED_WRITE_FLOOR = "floor: write (batch attempt's files)"
# `doctor` also checks the signature of every event of the chain, which
# alone takes 70 to 100 times reading the files: its floor is reading them
# and checking those signatures (ref_sodium_verify's timed region).
CHECKS_SIGNATURES = ("doctor",)
FLOOR_GOALS = (("floor_read", 8.0), ("floor_read_and_signatures", 8.0), ("floor_write", 2.5), ("read_only_peak", 1.2),
               ("verify_allocator", 1.0), ("growth_each", 11.0))
# The references that build a document of the whole state file: nlohmann's
# would take tens of GB at 1,000,000 records, and simdjson's DOM parser takes
# no document of 4 GiB or more.
WHOLE_DOCUMENT_REFERENCES = ("ref_nlohmann_load", "ref_dom_floor", "ref_dom_floor + fsync", "floor: parse")

# The allocator's options before huge pages were requested for the records;
# `verify` must be no slower than with them. The program has used them again
# since huge pages stopped paying, so the pair now also shows what setting
# them from the environment costs: nothing but the noise between two runs.
EARLIER_ALLOCATOR = "thp:default,metadata_thp:disabled"


# The seed of each round's order: fixed, so that a run can be repeated as it was.
ROUND_ORDER_SEED = 1


class BenchError(Exception):
    pass


class Sample:
    """One process run: wall seconds, CPU seconds (user + system), peak
    resident bytes, and the seconds the program reported for its own timed
    region, when it reports one."""

    def __init__(self, wall, cpu, peak, inner):
        self.wall = wall
        self.cpu = cpu
        self.peak = peak
        self.inner = inner


def read_tail(path, size=65536):
    """The last `size` bytes of a file as text: enough for the checks, and
    the driver stays small (its memory shows in the children's peaks)."""
    with open(path, "rb") as handle:
        handle.seek(0, os.SEEK_END)
        handle.seek(max(0, handle.tell() - size))
        return handle.read().decode("utf-8", errors="replace")


def run_process(argv, cwd, out_dir, expect=None, env=None):
    """Runs argv in cwd with stdout and stderr sent to files in out_dir and
    returns a Sample. Raises BenchError on a non-zero exit or when stdout
    lacks the expected text.

    subprocess starts the child with vfork, so no copy of the driver's page
    tables is timed; os.wait4 gives the child's resource usage."""
    out_path = os.path.join(out_dir, "stdout.txt")
    err_path = os.path.join(out_dir, "stderr.txt")
    # Fresh files rather than truncated ones: truncating a file that holds
    # data makes ext4 flush it when the child closes it, inside the timing.
    for path in (out_path, err_path):
        if os.path.exists(path):
            os.unlink(path)
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start = time.perf_counter()
        child = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    child.returncode = code  # reaped above; keeps Popen from waiting again
    stdout = read_tail(out_path)
    if code != 0:
        raise BenchError("%s exited with %d in %s\nstdout: %s\nstderr: %s"
                         % (" ".join(argv), code, cwd, stdout[-2000:], read_tail(err_path, 2000)))
    if expect is not None and expect not in stdout:
        raise BenchError("%s: output lacks %r:\n%s" % (" ".join(argv), expect, stdout[-2000:]))
    inner = None
    for line in stdout.splitlines():
        if line.startswith("seconds "):
            inner = float(line.split()[1])
    return Sample(wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024, inner)


def copy_data(source, target):
    os.makedirs(target, exist_ok=True)
    for name in DATA_FILES:
        shutil.copyfile(os.path.join(source, name), os.path.join(target, name))
    os.chmod(os.path.join(target, KEY), 0o600)


def read_ids(directory):
    ids = {}
    with open(os.path.join(directory, "bench-ids.txt"), encoding="utf-8") as handle:
        for line in handle:
            name, _, value = line.strip().partition(" ")
            ids[name] = value
    return ids


class Floors:
    """Floors whose work a command does one after the other: their times added."""

    def __init__(self, *parts):
        self.parts = parts

    def median(self):
        return sum(part.median() for part in self.parts)


class Case:
    """A program to time on one data set. `mutating` cases get a fresh copy
    of the data files before every run; `expect` is text that stdout must hold."""

    def __init__(self, label, size, argv, cwd, mutating=False, expect=None, inner=False, env=None, source=None):
        self.env = env
        # Mutating cases copy their files from here instead of the set's own.
        self.source = source
        self.label = label
        self.size = size
        self.argv = argv
        self.cwd = cwd
        self.mutating = mutating
        self.expect = expect
        self.inner = inner
        self.samples = []

    def run(self, pristine, out_dir):
        if self.mutating:
            shutil.rmtree(self.cwd, ignore_errors=True)
            copy_data(self.source or pristine, self.cwd)
        # Data written before the run (the fresh copy, the previous run's
        # output) reaches the disk now, so its write-back neither competes
        # with the program's own writes nor delays its fsync.
        os.sync()
        self.samples.append(run_process(self.argv, self.cwd, out_dir, self.expect, self.env))

    def seconds(self):
        """The figures that count for this case: the program's own timed
        region for the references that report one, the wall time otherwise."""
        if self.inner:
            return [s.inner for s in self.samples]
        return [s.wall for s in self.samples]

    def median(self):
        return statistics.median(self.seconds())

    def cpu_median(self):
        return statistics.median(s.cpu for s in self.samples)

    def peak(self):
        return max(s.peak for s in self.samples)


def binary(build_dir, relative):
    path = os.path.join(build_dir, relative)
    if not os.access(path, os.X_OK):
        raise BenchError("%s not found: build the Release tree first (bash bench/run.sh does; "
                         "ref_nlohmann_load needs nlohmann-json3-dev from scripts/bootstrap.sh)" % path)
    return path


def generate(generator, directory, size, out_dir):
    start = time.perf_counter()
    run_process([generator, directory, str(size), str(size)], out_dir, out_dir)
    return time.perf_counter() - start


def build_cases(tool, bins, size, pristine, work):
    """Every command and reference on one data set."""
    ids = read_ids(pristine)
    read_only = os.path.join(work, "read-only-%d" % size)
    copy_data(pristine, read_only)
    mutate = os.path.join(work, "mutate-%d" % size)
    state = os.path.join(read_only, STATE)
    audit = os.path.join(read_only, AUDIT)
    key = os.path.join(read_only, KEY)
    floor_out = os.path.join(work, "floor-%d" % size)
    os.makedirs(floor_out, exist_ok=True)

    def command(label, args, mutating=False, expect=None):
        return Case(label, size, [tool] + args, mutate if mutating else read_only, mutating, expect)

    # The credential that `credential verify` checks, exported once beforehand.
    credential = os.path.join(work, "credential-%d.json" % size)
    run_process([tool, "credential", "export", "--certificate-id", ids["certificate_id"], "--output", credential],
                read_only, floor_out, expect="wrote credential ")

    # The set after `batch attempt`: its new completion records are not yet
    # certified, which `batch certify --pending` then does, 10,000 at most.
    graded = os.path.join(work, "graded-%d" % size)
    copy_data(pristine, graded)
    run_process([tool, "batch", "attempt", os.path.join(pristine, "bench-batch-attempt.csv")], graded, floor_out,
                expect="completion recorded: ")

    return [
        command("assessment list", ["assessment", "list"], expect="[Published]"),
        command("assign", ["assign", "--assessment-id", ids["assessment_id"]], True, "created assignment "),
        command(
            "attempt (passing)",
            ["attempt", "--assignment-id", ids["assignment_id"], "--answers", ids["passing_answers"]],
            True,
            "completion recorded: ",
        ),
        command("certify", ["certify", "--completion-id", ids["completion_id"]], True, "issued certificate "),
        # 10,000 rows each (as many open assignments as the set has, for attempt).
        command("batch assign", ["batch", "assign", "--assessment-id", ids["assessment_id"],
                                 os.path.join(pristine, "bench-batch-assign.csv")], True, "created assignment "),
        command("batch attempt", ["batch", "attempt", os.path.join(pristine, "bench-batch-attempt.csv")], True,
                "completion recorded: "),
        Case("batch certify --pending", size, [tool, "batch", "certify", "--pending"], mutate, True,
             "issued certificate ", source=graded),
        command("verify", ["verify", "--certificate-id", ids["certificate_id"]], expect="VALID"),
        command("credential export", ["credential", "export", "--certificate-id", ids["certificate_id"]],
                expect='"proofValue"'),
        command("credential verify", ["credential", "verify", credential], expect="VALID"),
        command("audit verify", ["audit", "verify"], expect="audit chain verifies: %d event(s)" % size),
        command("audit checkpoint", ["audit", "checkpoint"], expect="corvellactl-audit/"),
        # A checkpoint of all but the last hundredth of the events: only
        # those are verified one by one.
        command("audit verify --checkpoint",
                ["audit", "verify", "--checkpoint", os.path.join(pristine, "bench-checkpoint.note")],
                expect="checkpoint verifies: the chain still holds its %s event(s)" % ids["checkpoint_size"]),
        command("report readiness", ["report", "readiness"], expect="Completions   : "),
        # The long lists end in rows naming the generated assessments' titles.
        command("report overdue", ["report", "overdue"], expect=" awareness, module "),
        command("report expiring", ["report", "expiring"], expect=" awareness, module "),
        command("report learner", ["report", "learner", "--principal-id", ids["principal_id"]], expect="certificate "),
        command("report assessment", ["report", "assessment", "--assessment-id", ids["assessment_id"]],
                expect="wrong_choice "),
        command("doctor", ["doctor"], expect="all checks passed"),
        command("revoke", ["revoke", "--certificate-id", ids["certificate_id"], "--reason", "Withdrawn"], True,
                "revoked certificate "),
        Case("verify (earlier allocator options)", size, [tool, "verify", "--certificate-id", ids["certificate_id"]],
             read_only, expect="VALID", env=dict(os.environ, MALLOC_CONF=EARLIER_ALLOCATOR)),
        Case("floor: read", size, [bins["ref_floor"], "read", state, audit], read_only),
        Case("floor: parse", size, [bins["ref_floor"], "parse", state, audit], read_only),
        Case("floor: write", size, [bins["ref_floor"], "write", state, audit, floor_out], read_only),
        # `batch certify --pending` replaces the files `batch attempt` left,
        # which are bigger: its floor is writing those.
        Case(GRADED_WRITE_FLOOR, size, [bins["ref_floor"], "write", os.path.join(graded, STATE),
                                        os.path.join(graded, AUDIT), floor_out], graded),
        Case("ref_sodium_verify", size, [bins["ref_sodium_verify"], audit, key], read_only, inner=True),
        Case("ref_dom_floor", size, [bins["ref_dom_floor"], state, audit, floor_out, "--no-fsync"], read_only),
        Case("ref_dom_floor + fsync", size, [bins["ref_dom_floor"], state, audit, floor_out], read_only),
        Case("load_state (own typed load)", size, [bins["load_state"], state], read_only, inner=True),
        Case("ref_nlohmann_load", size, [bins["ref_nlohmann_load"], state], read_only, inner=True),
    ]


def mib(value):
    return value / (1024.0 * 1024.0)


def print_table(cases, sizes, generation, driver_peak):
    print("| Set | Program | Median s | Min s | Max s | CPU s | Peak MiB | Runs |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for size in sorted(sizes):
        print("| %s | corvella_generate (%d records + %d events) | %.3f | | | | | 1 |" % (
            label_of(size), size, size, generation[size]))
    for case in cases:
        times = case.seconds()
        print("| %s | %s%s | %.4f | %.4f | %.4f | %.4f | %s | %d |" % (
            label_of(case.size) if case.size else "empty dir",
            case.label,
            " (timed region)" if case.inner else "",
            statistics.median(times),
            min(times),
            max(times),
            case.cpu_median(),
            peak_text(case.peak(), driver_peak),
            len(times),
        ))
    for size in sorted(sizes):
        print("| %s | data files: state %.1f MiB + audit chain %.1f MiB | | | | | | |" % (
            label_of(size), mib(sizes[size][0]), mib(sizes[size][1])))


def peak_text(peak, driver_peak):
    """A child's peak as wait4 reports it. The kernel keeps the high-water
    mark of the forked driver's memory across exec, so a program smaller than
    the driver shows the driver's size: such figures are upper bounds."""
    if peak <= driver_peak * 1.02:
        return "<= %.1f" % mib(driver_peak)
    return "%.1f" % mib(peak)


def label_of(size):
    return "%dk" % (size // 1000) if size % 1000 == 0 else str(size)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build-release", help="Release build tree (default: build-release)")
    parser.add_argument("--runs", type=int, default=5, help="runs per command and data set (default: 5)")
    parser.add_argument("--startup-runs", type=int, default=41, help="runs of the start-up pair (default: 41)")
    parser.add_argument("--small", type=int, default=10000, help="records of the small set (default: 10000)")
    parser.add_argument("--large", type=int, default=100000, help="records of the large set (default: 100000)")
    parser.add_argument("--million", action="store_true",
                        help="the growth run: 100,000 and 1,000,000 records of each kind, one run each, without the "
                             "references that build a document of the whole state (nlohmann's would take tens of GB, "
                             "simdjson's DOM takes none of 4 GiB); needs about 20 GB of disk")
    parser.add_argument("--work-dir", default=None, help="where the temporary data sets go (default: system temp)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary data sets")
    args = parser.parse_args()
    if args.million:
        args.small, args.large = 100000, 1000000
        if "--runs" not in sys.argv:
            args.runs = 1
    if args.runs < 1 or args.startup_runs < 1 or args.small < 1 or args.large <= args.small:
        parser.error("runs must be positive and --large must exceed --small")

    build_dir = os.path.abspath(args.build_dir)
    tool = binary(build_dir, "cli/corvellactl")
    bins = {
        name: binary(build_dir, "bench/" + name)
        for name in ("corvella_generate", "load_state", "ref_sodium_verify", "ref_dom_floor", "ref_floor", "ref_noop",
                     "ref_nlohmann_load")
    }

    load_at_start = os.getloadavg()[0]
    work = tempfile.mkdtemp(prefix="corvella-scale-", dir=args.work_dir)
    out_dir = os.path.join(work, "out")
    os.makedirs(out_dir)
    try:
        sizes = {}
        generation = {}
        cases = []
        pristine = {}
        for size in (args.small, args.large):
            directory = os.path.join(work, "set-%d" % size)
            generation[size] = generate(bins["corvella_generate"], directory, size, out_dir)
            sizes[size] = (os.path.getsize(os.path.join(directory, STATE)),
                           os.path.getsize(os.path.join(directory, AUDIT)))
            pristine[size] = directory
            cases += [case for case in build_cases(tool, bins, size, directory, work)
                      if not (args.million and case.label in WHOLE_DOCUMENT_REFERENCES)]

        order = random.Random(ROUND_ORDER_SEED)
        for round_number in range(args.runs):
            print("round %d of %d" % (round_number + 1, args.runs), file=sys.stderr, flush=True)
            for size in (args.small, args.large):
                in_round = [case for case in cases if case.size == size]
                order.shuffle(in_round)
                for case in in_round:
                    case.run(pristine[case.size], out_dir)

        true_program = shutil.which("true") or "/bin/true"
        driver_peak = run_process([true_program], out_dir, out_dir).peak
        empty = os.path.join(work, "empty")
        os.makedirs(empty)
        startup = Case("assessment list", 0, [tool, "assessment", "list"], empty)
        noop = Case("ref_noop", 0, [bins["ref_noop"]], empty)
        for _ in range(args.startup_runs):
            startup.run(None, out_dir)
            noop.run(None, out_dir)
        if os.listdir(empty):
            raise BenchError("assessment list created files in an empty directory: %s" % os.listdir(empty))
        cases += [startup, noop]

        def find(label, size):
            return next((c for c in cases if c.label == label and c.size == size), None)

        large = args.large
        attempt = find("attempt (passing)", large)
        pairs = {
            "verify_chain": (find("audit verify", large), find("ref_sodium_verify", large)),
            "mutate_vs_floor": (attempt, find("ref_dom_floor", large)),
            "load_vs_typical": (find("load_state (own typed load)", large), find("ref_nlohmann_load", large)),
            "growth": (find("assign", large), find("assign", args.small)),
            "batch_assign": (find("batch assign", large), find("assign", large)),
            "batch_attempt": (find("batch attempt", large), attempt),
            "batch_certify": (find("batch certify --pending", large), find("certify", large)),
            "verify_from_checkpoint": (find("audit verify --checkpoint", large), find("audit verify", large)),
        }
        for report in REPORTS:
            pairs["report_" + report] = (find("report " + report, large), find("report readiness", large))
        # A pair whose reference was left out (the growth run) has no ratio.
        pairs = {name: pair for name, pair in pairs.items() if None not in pair}
        measured = {name: top.median() / bottom.median() for name, (top, bottom) in pairs.items()}
        from_minimums = {name: min(top.seconds()) / min(bottom.seconds()) for name, (top, bottom) in pairs.items()}
        measured["peak_memory"] = attempt.peak() / float(sizes[large][0] + sizes[large][1])
        # Start-up is a few milliseconds, of which the driver's own spawning
        # would be a large, equal share on both sides: the kernel's count of
        # the child's CPU time measures the process alone.
        measured["startup"] = startup.cpu_median() / noop.cpu_median()

        print_table(cases, sizes, generation, driver_peak)
        print()
        # Context for a busy machine: the same ratios from the fastest runs,
        # and the write floor with the flush to disk the tool performs.
        for name, _ in GOALS:
            if name in from_minimums:
                print("INFO %s_from_minimums %.3f" % (name, from_minimums[name]))
        if find("ref_dom_floor + fsync", large) is not None:
            print("INFO mutate_vs_floor_with_fsync %.3f" % (
                attempt.median() / find("ref_dom_floor + fsync", large).median()))
        print("INFO startup_wall %.3f" % (startup.median() / noop.median()))
        # The credential commands beside the command that reads the same
        # files today: export reads the state and the key as verify does;
        # credential verify reads only the credential.
        for label in ("credential export", "credential verify"):
            print("INFO %s_vs_verify %.3f" % (label.replace(" ", "_"),
                                              find(label, large).median() / find("verify", large).median()))
        # A checkpoint reads and verifies the key and the chain, as audit verify does.
        print("INFO audit_checkpoint_vs_audit_verify %.3f" % (
            find("audit checkpoint", large).median() / find("audit verify", large).median()))
        # On a machine busy with other work the reference's threads do not
        # get every core; its CPU time spread over all cores estimates what it
        # would take with the cores free.
        reference = find("ref_sodium_verify", large)
        print("INFO verify_chain_if_cores_free %.3f" % (
            find("audit verify", large).median() / (reference.cpu_median() / (os.cpu_count() or 1))))
        print("INFO machine %d cores, load average %.2f at start, %.2f at end" % (
            os.cpu_count() or 0, load_at_start, os.getloadavg()[0]))
        # How each command's time and peak memory grow from the small set to the large.
        for case in cases:
            if case.size == large and case.label.split(" ")[0] not in ("ref_sodium_verify", "ref_dom_floor"):
                small = find(case.label, args.small)
                if small is not None:
                    print("GROWTH %s time %.2f peak %.2f (%.3f s, %.1f MiB at %s)" % (
                        case.label.replace(" ", "_"), case.median() / small.median(), case.peak() / small.peak(),
                        case.median(), mib(case.peak()), label_of(large)))
        # Every command against the floors of its own set.
        floors = []
        read_floor, write_floor = find("floor: read", large), find("floor: write", large)
        signatures = find("ref_sodium_verify", large)
        for label in READ_ONLY:
            if label not in CHECKS_SIGNATURES:
                floors.append(("floor_read", label, find(label, large), read_floor))
            elif find(label, large) is not None and read_floor is not None and signatures is not None:
                floors.append(("floor_read_and_signatures", label, find(label, large), Floors(read_floor, signatures)))
                print("INFO floor_read_%s %.3f" % (label, find(label, large).median() / read_floor.median()))
        for label in MUTATING:
            floor = find(GRADED_WRITE_FLOOR, large) if label in WRITES_GRADED_SET else write_floor
            floors.append(("floor_write", label, find(label, large), floor))
        floors.append(("verify_allocator", "verify", find("verify", large),
                       find("verify (earlier allocator options)", large)))
        # From 100,000 to 1,000,000 records; at the smaller sets fixed costs
        # hide growth, and the `growth` goal keeps `assign` alone to 11.
        for case in cases if args.million else []:
            small = find(case.label, args.small) if case.size == large else None
            if small is not None and not case.label.startswith(("ref_", "floor", "load_state", "verify (")):
                floors.append(("growth_each", case.label, case, small))
        files = float(sizes[large][0] + sizes[large][1])
        missed = []
        for goal_name, goal in FLOOR_GOALS:
            for name, label, top, bottom in floors:
                if name == goal_name and top is not None and bottom is not None:
                    ratio = top.median() / bottom.median()
                    print("RATIO %s_%s %.3f %s" % (name, label.split(" (")[0].replace(" ", "_"), ratio, goal))
                    if ratio > goal:
                        missed.append(name + "_" + label)
        if all(find(label, large) is not None for label in READ_ONLY):
            peak = max(find(label, large).peak() for label in READ_ONLY) / files
            print("RATIO read_only_peak %.3f 1.2" % peak)
            if peak > 1.2:
                missed.append("read_only_peak")
        for name, goal in GOALS:
            if name not in measured:
                continue
            print("RATIO %s %.3f %s" % (name, measured[name], goal))
            if measured[name] > goal:
                missed.append(name)
        if missed:
            print("goals missed: %s" % ", ".join(missed), file=sys.stderr)
            return 1
        return 0
    finally:
        if args.keep:
            print("data kept in %s" % work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as error:
        print("scale.py: %s" % error, file=sys.stderr)
        sys.exit(2)
