#!/usr/bin/env python3
"""The fault walk: a load, a seal and an export with their C library calls
failing one at a time, in the manner of SQLite's tests.

  fault_walk.py --sim ZORVISIM --faults LIBZORVI_FAULTS --fiu FIU_POSIX_PRELOAD
                [--path DIR]... [--jobs N] [--stride K] TABLE [WORDS]

TABLE (walk.txt) names the rows; what every run must show is in
tests/README.md. Sanitizer reports go where the environment's *SAN_OPTIONS
send them. Prints every violation, then one line a series and the totals;
exit status 1 when any run broke a rule.
"""

import argparse, concurrent.futures, errno, os, pathlib, re, shlex, signal, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import run_cases  # noqa: E402  (the case tables' machine and .card fixtures)

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
EXAMPLES = os.path.join(os.path.dirname(TESTS), "examples")

DATE = r"(?:\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )?"
LOAD_PREFIX = DATE + r"(?:\[zorviconfig zorvi0 -f t\.ini\] )?"
BEGIN = re.compile(LOAD_PREFIX + r"\[Begin\]\.")
RESULT = re.compile(LOAD_PREFIX + r"(?:\[\d\d:\d\d:\d\d\] )?\[(SUCCEED|FAILED<-?\d+>)\]\.")
# A begin or result record of any load, such as a revert's of its backup.
ANY_RECORD = re.compile(DATE + r"\[[^\r\n]*\] (\[\d\d:\d\d:\d\d\] )?"
                        r"\[(Begin|SUCCEED|FAILED<-?\d+>)\]\.")
ROLLBACK = re.compile(DATE + r"The old operation log has been backed up to "
                      r"/opt/zorvi/operation_logs/operations\.log\.old\.")
# A log one byte above the 4 MiB limit, kept sparse: every load moves it aside.
OLD_LOG = b"[2020-01-01 00:00:00] [zorviconfig zorvi0 -f x] [Begin].\r\n"
OLD_LOG_SIZE = 4194305
TAKEN = re.compile(rb"^# Taken from host [^\n]*\n", re.M)
# What the host keeps of an arming and of a revert: files of these sizes.
ARMED, ARMED_SIZE = "var/lib/zorvi/zorvi0.armed", 4264
REVERTED, REVERTED_SIZE = "var/lib/zorvi/zorvi0.reverted", 548


def read(*parts):
    return pathlib.Path(*parts).read_bytes()


class Scenario:
    """Names the command and the files it finds, and judges what a run left."""

    def __init__(self, name):
        self.name, self.stdin, self.load = name, b"", name in ("load", "rollover")
        # The log a load starts with, as the sparse file it is written as.
        self.old_log = OLD_LOG.ljust(OLD_LOG_SIZE, b"\0") if name == "rollover" else b""
        if self.load:
            self.argv, self.stdin = ["zorviconfig", "zorvi0", "-f", "t.ini"], b"yes\nagree\n"
            self.files = {"t.ini": read(EXAMPLES, "full.ini")}
            if name == "rollover":
                self.files[run_cases.LOG] = OLD_LOG
            self.record = card_fixture("template", "full-stored.card")
        elif name == "seal":
            self.argv, self.target = ["zorvitemplate", "seal", "t.ini"], "t.ini"
            self.old = read(EXAMPLES, "minimal.ini").replace(b"HN = 1", b"HN = 2")
            self.new = self.old.replace(b"0x65232F5B", b"0x28BF5245")
            self.files = {"t.ini": self.old}
        elif name == "export":
            self.argv, self.target = ["zorvitemplate", "export", "-o", "e.ini", "zorvi0"], "e.ini"
            self.old = b"old\n"
            self.new = read(TESTS, "zorvitemplate", "golden", "export-mode01.ini")
            self.files = {"e.ini": self.old,
                          "cards/zorvi0/template.bin": card_fixture("zorvitemplate", "mode01.card")}
        elif name in ("arm", "confirm", "revert"):
            # The card holds full.ini's template, just loaded; b.ini, the
            # backup, is minimal.ini. confirm and revert start armed.
            arm = ["zorvitemplate", "arm", "--within", "5", "zorvi0", "b.ini"]
            self.argv = arm if name == "arm" else ["zorvitemplate", name, "zorvi0"]
            self.setup = [] if name == "arm" else [arm]
            self.armed = card_fixture("template", "full-stored.card")
            self.backup = card_fixture("tool", "minimal-stored.card")
            self.files = {"b.ini": read(EXAMPLES, "minimal.ini"),
                          "cards/zorvi0/template.bin": self.armed}
        else:
            raise ValueError(f"unknown scenario {name}")

    def judge(self, machine, status, out, signalled):
        """The rules this run broke, as words; a load that a signal ends
        before the store ends at once, without a word."""
        if self.name in ("arm", "confirm", "revert"):
            return self.judge_arming(machine, status)
        if not self.load:
            # An export says where and when it was taken: that line is no
            # part of the comparison.
            now = machine.read(self.target, None)
            now = now if now is None else TAKEN.sub(b"", now)
            left = [n for n in os.listdir(machine.dir) if n.startswith("." + self.target + ".")]
            return [rule for rule, fails in (
                (f"{self.target} is neither the old file nor the new one",
                 now not in (self.old, self.new)),
                (f"exit 0, but {self.target} is not the new file", status == 0 and now != self.new),
                (f"temporary files remain: {left}", left),
            ) if fails]
        card = machine.read("cards/zorvi0/template.bin", None)
        quiet = signalled and (status == 1 or status < 0)
        # The old log is whole in exactly one place: moved aside, or still
        # the start of the log.
        log, old = machine.read(run_cases.LOG), self.old_log
        moved = machine.read(run_cases.LOG + ".old", None)
        broken = [rule for rule, fails in (
            ("exit 0, but the card does not hold the record whole",
             status == 0 and card != self.record),
            (f"exit {status}, but a template reached the card", status != 0 and card is not None),
            (f"exit {status} without \"Operation failed.\" or a start-up message",
             status != 0 and not quiet and b"Operation failed." not in out
             and (b"Enter [yes] to continue:" in out or not out.strip())),
            ("operations.log.old is not the old log, whole", moved is not None and moved != old),
            ("the old log was neither kept nor moved aside whole",
             moved is None and not log.startswith(old)),
        ) if fails]
        return broken + judge_log(log[len(old):] if moved is None else log, status)

    def judge_arming(self, machine, status):
        """The card holds the armed template or the backup, whole; a reboot
        is asked only with the backup in it, and then the arming is gone, so
        that no second revert follows; every record is whole."""
        card, armed = machine.read("cards/zorvi0/template.bin", None), machine.read(ARMED, None)
        reverted, asked = machine.read(REVERTED, None), machine.read("reboot-requested", None)
        folder = machine.path("var/lib/zorvi")
        left = os.listdir(folder) if os.path.isdir(folder) else []
        broken = [rule for rule, fails in (
            ("the card holds neither the armed template nor the backup whole",
             card not in (self.armed, self.backup)),
            ("the arming record is not whole", armed is not None and len(armed) != ARMED_SIZE),
            ("the revert record is not whole",
             reverted is not None and len(reverted) != REVERTED_SIZE),
            (f"temporary files remain: {left}", any(n.startswith(".") for n in left)),
            ("a reboot was asked without the backup in the card",
             asked is not None and card != self.backup),
            ("the backup is in the card and the arming stands", card == self.backup and armed),
            ("exit 0, but nothing is armed", self.name == "arm" and status == 0 and not armed),
            ("exit 0, but not confirmed",
             self.name == "confirm" and status == 0 and (not armed or armed[0] != 2)),
            ("exit 0 without the backup loaded and a reboot asked",
             self.name == "revert" and status == 0 and (card != self.backup or not asked)),
        ) if fails]
        torn = [r for r in machine.read(run_cases.LOG).decode("latin-1").split("\r\n")[:-1]
                if not ANY_RECORD.fullmatch(r)]
        return broken + [f"a torn record in the log: {r[:80]!r}" for r in torn[:1]]


def card_fixture(folder, name):
    return run_cases.card_record(os.path.join(TESTS, folder, "fixtures", name))


def judge_log(log, status):
    *records, tail = log.decode("latin-1").split("\r\n")
    records = records[1:] if records and ROLLBACK.fullmatch(records[0]) else records
    torn = [r for r in records if not BEGIN.fullmatch(r) and not RESULT.fullmatch(r)]
    if torn or tail:
        return [f"a torn or unknown record in the log: {(torn + [tail])[0][:80]!r}"]
    results = [RESULT.fullmatch(r).group(1) for r in records if RESULT.fullmatch(r)]
    begins = len(records) - len(results)
    broken = [f"{begins} begin and {len(results)} result records"] * (max(begins, len(results)) > 1)
    if results and (results[0] == "SUCCEED") != (status == 0):
        broken.append(f"result {results[0]} with exit {status}")
    return broken


def run_once(args, scenario, title, env_extra=(), card_fault=None, signal_at=None):
    """One run on a fresh machine, by the case runner: (exit status, calls or
    None, violations). With `signal_at` (seconds, name) the run is sent the
    signal then, and dying of it is no fault; a run that does not end is
    killed, and dies of SIGKILL."""
    machine = run_cases.Machine(args, HERE, copy_of=args.template)
    try:
        for name, data in scenario.files.items():
            machine.write(name, data, OLD_LOG_SIZE if name == run_cases.LOG else None)
        for argv in getattr(scenario, "setup", []):
            [(out, err, status)] = run_cases.execute(machine, run_cases.Run(0, shlex.join(argv), 1,
                                                                             machine))
            if status != 0:
                return status, None, [f"{title}: the set-up {argv} failed: {out + err!r}"]
        if card_fault is not None:
            machine.setup("fault", card_fault)
        preload = [os.path.join(os.path.dirname(args.sim), "libzorvisim.so"), args.fiu, args.faults]
        env = [f"LD_PRELOAD={' '.join(preload)}", "FIU_CTRL_FIFO=", "FIU_PRNG_SEED=1",
               f"ZORVI_FAULT_COUNT={machine.path('fault-count')}"] + list(env_extra)
        command = shlex.join(["env"] + env + scenario.argv)
        run = run_cases.Run(0, command, 1, machine, scenario.stdin)
        if signal_at is not None:
            run.events = [("sleep", str(signal_at[0])), ("signal", signal_at[1])]
        [(out, err, status)] = run_cases.execute(machine, run)
        calls = machine.read("fault-count")
        if status < 0 and (signal_at is None or -status != getattr(signal, "SIG" + signal_at[1])):
            broken = [f"died of signal {-status}"]
        else:
            broken = scenario.judge(machine, status, out + err, signal_at is not None)
        return status, int(calls) if calls else None, [
            f"{title}: {b} (exit {status}); output {(out + err)[-300:]!r}" for b in broken]
    finally:
        machine.close()


def walk_series(args, scenario, point, error, mode):
    """Every N of one point in one mode: (runs, what they reached, violations);
    the other kinds of row answer alike."""
    runs, violations, n, reached = 0, [], 1, 0
    while True:
        env = [f"ZORVI_FAULT_POINT={point}", f"ZORVI_FAULT_AT={n}", f"ZORVI_FAULT_MODE={mode}",
               f"ZORVI_FAULT_ERRNO={error}"]
        title = f"{scenario.name} {point} {mode} N={n}"
        _, calls, broken = run_once(args, scenario, title, env)
        runs += 1
        violations += broken
        if calls is None:  # no count: the run ended abnormally; a rule says why
            violations += [] if broken else [f"{title}: no call count"]
            break
        reached = max(reached, calls)
        if n > calls:  # the Nth call never came: that was a run without a fault
            break
        n += 1 if n < args.stride else args.stride
    return runs, f"{reached} calls", violations


def run_signals(args, scenario, name, count):
    """`count` runs, each sent the signal a little later than the one before,
    from the start to the end of a whole run; with --stride, a quarter of
    them at most."""
    count //= min(args.stride, 4)
    start = time.monotonic()
    run_once(args, scenario, "")
    span = (time.monotonic() - start) * 1.2
    violations, met = [], 0
    for i in range(count):
        at = span * i / count
        status, _, broken = run_once(args, scenario, f"{scenario.name} signal {name} at {at:.4f} s",
                                     signal_at=(at, name))
        met += 1 if status == -getattr(signal, "SIG" + name) else 0
        violations += broken
    return count, f"{met} ended by it", violations


def rows(table, only):
    for number, line in enumerate(open(table, encoding="utf-8"), 1):
        words = line.split("#", 1)[0].split()
        if words and all(w in line for w in only):
            yield number, words


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--faults", required=True)
    parser.add_argument("--fiu", required=True)
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--stride", type=int, default=1,
                        help="walk N = 1 to STRIDE, then every STRIDE-th N only")
    parser.add_argument("table")
    parser.add_argument("only", nargs="*")
    args = run_cases.parse_args(parser)
    args.faults = os.path.abspath(args.faults)
    scenarios, work = {}, []
    for number, words in rows(args.table, args.only):
        scenario, title = scenarios.setdefault(words[0], Scenario(words[0])), " ".join(words)
        if words[1] == "point":
            code = words[3] if words[3].isdigit() else str(getattr(errno, words[3]))
            work += [(f"{title} {mode}", (walk_series, args, scenario, words[2], code, mode))
                     for mode in ("once", "on")]
        elif words[1] == "signal":
            work.append((title, (run_signals, args, scenario, words[2], int(words[3]))))
        elif words[1] == "card":
            fault = " ".join(words[2:])
            work.append((title, (lambda *a: (1, "faulted", run_once(*a)[2]),
                                 args, scenario, title, (), fault)))
        else:
            raise ValueError(f"{args.table}:{number}: unknown row kind {words[1]}")
    total_runs, failed = 0, []
    template = run_cases.Machine(args, HERE)  # the fresh machine every run copies
    args.template = template.dir
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = [(title, pool.submit(job[0], *job[1:])) for title, job in work]
            for title, future in futures:
                runs, reached, violations = future.result()
                total_runs += runs
                failed += violations
                print(f"{title}: {runs} runs, {reached}, {len(violations)} violations")
    finally:
        template.close()
    for v in failed:
        print("VIOLATION " + v)
    print(f"{total_runs} runs, {len(failed)} violations")
    sys.exit(1 if failed or not work else 0)


if __name__ == "__main__":
    main()
