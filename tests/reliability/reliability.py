#!/usr/bin/env python3
"""Black-box reliability checks of corvellactl.

  reliability.py crash       --binary PATH [--runs N] [--records N] [--seed S]
  reliability.py concurrency --binary PATH [--rounds N] [--processes N] [--seed S]

crash: builds a state of --records assignments, then runs --runs mutating
commands (assign, attempt, certify and their batch forms), each killed with
SIGKILL at a random moment of its expected run time. After each batch, the
state holds all of its rows or none. Afterwards every file parses, `audit
verify` and `doctor` pass, `audit reconcile` finds nothing but events that a
killed command left ahead of the state, every record whose success line was
printed before the kill is stored, the audit chain holds an event for each of
them, and after one clean command no file but the three data files remains.

concurrency: --rounds rounds of --processes processes started together, half
`assign` and half `attempt`, on the same files. Afterwards every announced
record is stored, the chain holds exactly one event per announced change,
and the chain verifies.

Prints one summary line and exits 0 when nothing was lost or corrupted.
"""

import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

DATA_FILES = {"corvella-state.json", "corvella-audit.json", "corvella-signing-key.hex"}
QUESTIONS = [
    {"prompt": "First?", "choices": ["a", "b"], "correct_index": 0},
    {"prompt": "Second?", "choices": ["a", "b"], "correct_index": 1},
]
PASSING, FAILING = "0,1", "1,0"
CHAIN_AHEAD = "never stored there by a command interrupted between replacing the audit chain and the state file"


class Failure(Exception):
    pass


class Workspace:
    def __init__(self, binary, directory):
        self.binary = binary
        self.directory = directory

    def start(self, *args):
        return subprocess.Popen([self.binary, *args], cwd=self.directory, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def run(self, *args, check=True):
        done = subprocess.run([self.binary, *args], cwd=self.directory, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        if check and done.returncode != 0:
            raise Failure("corvellactl %s: status %d\n%s%s" % (" ".join(args), done.returncode, done.stdout,
                                                                done.stderr))
        return done

    def state(self):
        path = os.path.join(self.directory, "corvella-state.json")
        if not os.path.exists(path):
            return {}
        with open(path, encoding="utf-8") as file:
            return json.load(file)

    def chain(self):
        path = os.path.join(self.directory, "corvella-audit.json")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as file:
            return json.load(file)

    def stray_files(self):
        return sorted(set(os.listdir(self.directory)) - DATA_FILES - {"questions.json", "batch.csv"})

    def write_batch(self, header, rows):
        with open(os.path.join(self.directory, "batch.csv"), "w", encoding="utf-8") as file:
            file.write(header + "\n" + "".join('%s,"%s"\n' % row if isinstance(row, tuple) else row + "\n"
                                               for row in rows))


# What success lines announce: (kind, id).
def announced(stdout):
    found = []
    for line in stdout.splitlines():
        words = line.split(" ")
        if line.startswith("created assignment "):
            found.append(("assignment", words[2]))
        elif line.startswith("attempt "):
            found.append(("attempt", words[1]))
        elif line.startswith("completion recorded: "):
            found.append(("completion", words[2]))
        elif line.startswith("issued certificate "):
            found.append(("certificate", words[2]))
    return found


def stored_ids(state):
    return {
        "assignment": {record["id"] for record in state.get("assignments", [])},
        "attempt": {record["id"] for record in state.get("attempts", [])},
        "completion": {record["id"] for record in state.get("completions", [])},
        "certificate": {record["payload"]["certificate_id"] for record in state.get("certificates", [])},
    }


# The chain's event targets: each announced record has its event.
def audited_ids(chain):
    targets = {}
    for entry in chain:
        event = entry["event"]
        targets.setdefault(event["action"], set()).add(event["target"].get("target_id"))
    return targets


def set_up(work, records):
    with open(os.path.join(work.directory, "questions.json"), "w", encoding="utf-8") as file:
        json.dump(QUESTIONS, file)
    created = work.run("assessment", "create", "--title", "Reliability", "--min-correct", "2",
                       "--attempt-limit", "1000000", "--questions", "questions.json").stdout
    assessment = created.split(" ")[2]
    work.run("assessment", "publish", assessment)
    assignments = []
    for _ in range(records):
        assignments.append(announced(work.run("assign", "--assessment-id", assessment).stdout)[0][1])
    return assessment, assignments


def check_files(work, expected):
    """Every file parses, the chain and doctor pass, and every announced record is stored."""
    try:
        state = work.state()
        work.chain()
    except (ValueError, UnicodeDecodeError) as error:
        raise Failure("a data file does not parse: %s" % error)
    work.run("audit", "verify")
    work.run("doctor")
    # A command killed between replacing the chain and the state leaves the
    # chain ahead of the state; nothing else may part them.
    reconciled = work.run("audit", "reconcile", check=False)
    parted = [line for line in reconciled.stderr.splitlines() if not line.endswith(CHAIN_AHEAD + ")")
              and not line.startswith("Error: ")]
    if parted:
        raise Failure("audit reconcile: %s" % parted[0])
    stored = stored_ids(state)
    lost = [(kind, ident) for kind, ident in expected if ident not in stored[kind]]
    if lost:
        raise Failure("%d announced record(s) missing from the state file, first %s" % (len(lost), lost[0]))
    return stored


def crash(arguments):
    rng = random.Random(arguments.seed)
    directory = tempfile.mkdtemp(prefix="corvella-crash-")
    work = Workspace(arguments.binary, directory)
    try:
        assessment, open_assignments = set_up(work, arguments.records)
        expected = [("assignment", ident) for ident in open_assignments]
        completions = []
        # How long a command takes here, to spread the kills over its run.
        started = time.perf_counter()
        work.run("assign", "--assessment-id", assessment)
        typical = time.perf_counter() - started
        killed = 0
        batches = 0
        for _ in range(arguments.runs):
            choice = rng.random()
            # A batch's rows, and how to count in a state what they add.
            batch = None
            if choice < 0.3 or not open_assignments:
                args = ("assign", "--assessment-id", assessment)
            elif choice < 0.6 or not completions:
                args = ("attempt", "--assignment-id", rng.choice(open_assignments), "--answers",
                        PASSING if rng.random() < 0.5 else FAILING)
            elif choice < 0.7:
                args = ("certify", "--completion-id", rng.choice(completions))
            elif choice < 0.8:
                principals = ["%08x-0000-4000-8000-%012x" % (rng.getrandbits(32), rng.getrandbits(48))
                              for _ in range(rng.randint(1, 5))]
                work.write_batch("principal_id", principals)
                args = ("batch", "assign", "--assessment-id", assessment, "batch.csv")
                batch = (len(principals), lambda state, principals=set(principals): sum(
                    1 for record in state.get("assignments", []) if record["principal_id"] in principals))
            elif choice < 0.9:
                rows = rng.sample(open_assignments, min(len(open_assignments), rng.randint(1, 5)))
                work.write_batch("assignment_id,answers", [(ident, FAILING) for ident in rows])
                args = ("batch", "attempt", "batch.csv")
                batch = (len(rows), lambda state, rows=set(rows): sum(
                    1 for record in state.get("attempts", []) if record["assignment_id"] in rows))
            else:
                rows = [rng.choice(completions) for _ in range(rng.randint(1, 5))]
                work.write_batch("completion_id", rows)
                args = ("batch", "certify", "batch.csv")
                batch = (len(rows), lambda state, rows=set(rows): sum(
                    1 for record in state.get("certificates", []) if record["payload"]["completion_record_id"] in rows))
            before = batch[1](work.state()) if batch else 0
            process = work.start(*args)
            time.sleep(rng.uniform(0, typical * (3 if batch else 1.5)))
            if process.poll() is None:
                process.send_signal(signal.SIGKILL)
                killed += 1
            stdout, _ = process.communicate()
            if batch:
                batches += 1
                added = batch[1](work.state()) - before
                if added not in (0, batch[0]):
                    raise Failure("a batch of %d rows stored %d of them: %s" % (batch[0], added, " ".join(args)))
            for kind, ident in announced(stdout):
                expected.append((kind, ident))
                if kind == "assignment":
                    open_assignments.append(ident)
                elif kind == "completion":
                    completions.append(ident)
        stored = check_files(work, expected)
        # The chain records every announced change.
        audited = audited_ids(work.chain())
        for kind, action in (("assignment", "training.assignment.created"),
                             ("attempt", "training.knowledge_check.attempted"),
                             ("certificate", "training.certificate.issued")):
            missing = {ident for k, ident in expected if k == kind} - audited.get(action, set())
            if missing:
                raise Failure("%d announced %s(s) have no %s event" % (len(missing), kind, action))
        work.run("assign", "--assessment-id", assessment)
        stray = work.stray_files()
        if stray:
            raise Failure("files left behind after a clean command: %s" % stray)
        print("crash: %d runs (%d batches), %d killed, %d announced records all stored (%d assignments, "
              "%d attempts, %d completions, %d certificates), every batch stored whole or not at all, chain "
              "verifies, no file left behind"
              % (arguments.runs, batches, killed, len(expected), len(stored["assignment"]), len(stored["attempt"]),
                 len(stored["completion"]), len(stored["certificate"])))
        return 0
    finally:
        if arguments.keep:
            print("kept", directory)
        else:
            shutil.rmtree(directory, ignore_errors=True)


def concurrency(arguments):
    rng = random.Random(arguments.seed)
    directory = tempfile.mkdtemp(prefix="corvella-concurrent-")
    work = Workspace(arguments.binary, directory)
    try:
        assessment, assignments = set_up(work, arguments.processes)
        expected = [("assignment", ident) for ident in assignments]
        events = len(work.chain())
        changes = 0
        for _ in range(arguments.rounds):
            processes = []
            for index in range(arguments.processes):
                if index % 2 == 0:
                    args = ("assign", "--assessment-id", assessment)
                else:
                    args = ("attempt", "--assignment-id", rng.choice(assignments), "--answers",
                            PASSING if rng.random() < 0.5 else FAILING)
                processes.append((args, work.start(*args)))
            for args, process in processes:
                stdout, stderr = process.communicate()
                if process.returncode != 0 and "already completed" not in stderr and "terminal" not in stderr:
                    raise Failure("corvellactl %s: status %d: %s" % (" ".join(args), process.returncode, stderr))
                for kind, ident in announced(stdout):
                    expected.append((kind, ident))
                    changes += 1 if kind in ("assignment", "attempt", "completion") else 0
                    # Later rounds attempt the new assignments too.
                    if kind == "assignment":
                        assignments.append(ident)
        check_files(work, expected)
        chain = work.chain()
        if len(chain) != events + changes:
            raise Failure("the chain holds %d event(s), expected %d" % (len(chain), events + changes))
        print("concurrency: %d rounds of %d processes, %d announced records all stored, %d events, chain verifies"
              % (arguments.rounds, arguments.processes, len(expected), len(chain)))
        return 0
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    crash_parser = commands.add_parser("crash")
    crash_parser.add_argument("--runs", type=int, default=200)
    crash_parser.add_argument("--records", type=int, default=300)
    crash_parser.add_argument("--keep", action="store_true")
    concurrent_parser = commands.add_parser("concurrency")
    concurrent_parser.add_argument("--rounds", type=int, default=5)
    concurrent_parser.add_argument("--processes", type=int, default=16)
    for sub in (crash_parser, concurrent_parser):
        sub.add_argument("--binary", required=True)
        sub.add_argument("--seed", type=int, default=1)
    arguments = parser.parse_args()
    # The runs start in scratch directories, so a relative path would not hold.
    arguments.binary = os.path.abspath(arguments.binary)
    try:
        return crash(arguments) if arguments.command == "crash" else concurrency(arguments)
    except Failure as failure:
        print("FAILED: %s" % failure, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
