#!/usr/bin/env python3
"""The fault walk: a load, a seal and an export with their C library calls
failing one at a time, in the manner of SQLite's tests.

  fault_walk.py --sim ZORVISIM --faults LIBZORVI_FAULTS --fiu FIU_POSIX_PRELOAD
                [--path DIR]... [--jobs N] [--stride K] TABLE [WORDS]

For each row of TABLE (walk.txt) with a libfiu point, the scenario runs with
the Nth call of the point failing, once and then from the Nth call on, for
N = 1, 2, ... until N passes the number of calls the run made (with
--stride K: N = 1 to K, then every Kth N); a card fault is one run; a
signal row is RUNS runs that are sent the signal at moments spread over a
whole run, so that one of them lands between any two steps. Every run must:

- end by itself (within RUN_SECONDS), and not die of a signal;
- load: exit 0 exactly when the card holds the record of the file, whole;
  otherwise no template reached the card, and the run printed "Operation
  failed." or, before any prompt, a start-up message; in "rollover", whose
  log starts above its size limit, the old log is afterwards whole either
  where it was or in operations.log.old; every record of the operation log is whole, there is
  at most one begin and one result, and a result says SUCCEED exactly when
  the exit status is 0;
- seal and export: the target is the old file or the new one, whole; exit 0
  means the new one; no temporary file remains, a run ended by a signal
  included.

Sanitizer reports go where the environment's *SAN_OPTIONS send them. Prints
every violation, then one line a series and the totals; exit status 1 when
any run broke a rule.
"""

import argparse, concurrent.futures, errno, os, re, shutil, signal, subprocess, sys, tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import run_cases  # noqa: E402  (the case tables' machine and .card fixtures)

RUN_SECONDS = 30
HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
EXAMPLES = os.path.join(os.path.dirname(TESTS), "examples")

DATE = r"(?:\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )?"
LOAD_PREFIX = DATE + r"(?:\[zorviconfig zorvi0 -f t\.ini\] )?"
BEGIN = re.compile(LOAD_PREFIX + r"\[Begin\]\.\r\n")
RESULT = re.compile(LOAD_PREFIX + r"(?:\[\d\d:\d\d:\d\d\] )?\[(SUCCEED|FAILED<-?\d+>)\]\.\r\n")
ROLLBACK = re.compile(DATE + r"The old operation log has been backed up to "
                      r"/opt/zorvi/operation_logs/operations\.log\.old\.\r\n")
# A log one byte above the 4 MiB limit, kept sparse: every load moves it aside.
OLD_LOG = b"[2020-01-01 00:00:00] [zorviconfig zorvi0 -f x] [Begin].\r\n"
OLD_LOG_SIZE = 4194305


def read(path, default=None):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return default


class Scenario:
    """Prepares a machine, names the command, and judges what a run left."""

    def __init__(self, name):
        self.name = name
        minimal = read(os.path.join(EXAMPLES, "minimal.ini"))
        if name in ("load", "rollover"):
            self.argv = ["zorviconfig", "zorvi0", "-f", "t.ini"]
            self.stdin = b"yes\nagree\n"
            self.file = read(os.path.join(EXAMPLES, "full.ini"))
            self.record = run_cases.card_record(
                os.path.join(TESTS, "template", "fixtures", "full-stored.card"))
        elif name == "seal":
            self.argv = ["zorvitemplate", "seal", "t.ini"]
            self.stdin = b""
            self.old = minimal.replace(b"HN = 1", b"HN = 2")
            self.new = self.old.replace(b"0x65232F5B", b"0x28BF5245")
            self.target = "t.ini"
        elif name == "export":
            self.argv = ["zorvitemplate", "export", "-o", "e.ini", "zorvi0"]
            self.stdin = b""
            self.old = b"old\n"
            self.new = read(os.path.join(TESTS, "zorvitemplate", "golden", "export-mode01.ini"))
            self.card = run_cases.card_record(
                os.path.join(TESTS, "zorvitemplate", "fixtures", "mode01.card"))
            self.target = "e.ini"
        else:
            raise ValueError(f"unknown scenario {name}")

    def prepare(self, machine):
        if self.name in ("load", "rollover"):
            machine.write("t.ini", self.file)
            if self.name == "rollover":
                machine.write(run_cases.LOG, OLD_LOG, OLD_LOG_SIZE)
        elif self.name == "seal":
            machine.write("t.ini", self.old)
        else:
            machine.write("cards/zorvi0/template.bin", self.card)
            machine.write("e.ini", self.old)

    def judge(self, machine, status, out):
        """The rules this run broke, as words."""
        broken = []
        if self.name in ("load", "rollover"):
            card = machine.read("cards/zorvi0/template.bin", None)
            if status == 0 and card != self.record:
                broken.append("exit 0, but the card does not hold the record whole")
            if status != 0 and card is not None:
                broken.append(f"exit {status}, but a template reached the card")
            started = b"Enter [yes] to continue:" in out
            if status != 0 and b"Operation failed." not in out and (started or not out.strip()):
                broken.append(f"exit {status} without \"Operation failed.\" or a start-up message")
            # The old log is whole in exactly one place: moved aside, or
            # still the start of the log.
            log = machine.read(run_cases.LOG, b"")
            moved = machine.read(run_cases.LOG + ".old", None)
            old = OLD_LOG.ljust(OLD_LOG_SIZE, b"\0") if self.name == "rollover" else b""
            if moved is not None and moved != old:
                broken.append("operations.log.old is not the old log, whole")
            if moved is None and not log.startswith(old):
                broken.append("the old log was neither kept nor moved aside whole")
            broken += self.judge_log(log[len(old):] if moved is None else log, status)
        else:
            now = machine.read(self.target, None)
            if now not in (self.old, self.new):
                broken.append(f"{self.target} is neither the old file nor the new one")
            if status == 0 and now != self.new:
                broken.append(f"exit 0, but {self.target} is not the new file")
            left = [n for n in os.listdir(machine.dir) if n.startswith("." + self.target + ".")]
            if left:
                broken.append(f"temporary files remain: {left}")
        return broken

    @staticmethod
    def judge_log(log, status):
        broken, begins, results, at = [], 0, [], 0
        text = log.decode("latin-1")
        m = ROLLBACK.match(text)
        if m is not None:
            at = m.end()
        while at < len(text):
            m = BEGIN.match(text, at) or RESULT.match(text, at)
            if m is None:
                return [f"a torn or unknown record in the log: {text[at:at + 80]!r}"]
            if m.re is BEGIN:
                begins += 1
            else:
                results.append(m.group(1))
            at = m.end()
        if begins > 1 or len(results) > 1:
            broken.append(f"{begins} begin and {len(results)} result records")
        if results and (results[0] == "SUCCEED") != (status == 0):
            broken.append(f"result {results[0]} with exit {status}")
        return broken


class FreshMachine(run_cases.Machine):
    """A machine copied from the walk's first one, which the launcher made:
    the same fresh state without a launcher run of its own."""

    def __init__(self, args, template):  # pylint: disable=super-init-not-called
        self.args, self.table_dir = args, HERE
        self.dir = tempfile.mkdtemp(prefix="zorviwalk.")
        self.lock_fd, self.mounted, self.readonly = None, False, False
        shutil.copytree(template, self.dir, symlinks=True, dirs_exist_ok=True)


def run_once(args, scenario, env_extra, card_fault, signal_after=None):
    """One run on a fresh machine: (exit status or None, output, calls, rules
    broken). With `signal_after` (seconds, signal) the run is sent the signal
    then, and dying of it is no fault."""
    machine = FreshMachine(args, args.template)
    try:
        scenario.prepare(machine)
        if card_fault is not None:
            machine.setup("fault", card_fault)
        count = machine.path("fault-count")
        env = dict(os.environ)
        env["PATH"] = ":".join(args.path + [env.get("PATH", "/usr/bin:/bin")])
        preload = [os.path.join(os.path.dirname(args.sim), "libzorvisim.so"), args.fiu, args.faults]
        fault_env = [f"LD_PRELOAD={' '.join(preload)}", "FIU_CTRL_FIFO=", "FIU_PRNG_SEED=1",
                     f"ZORVI_FAULT_COUNT={count}"] + env_extra
        cmd = [args.sim, "--state", machine.dir, "--", "env"] + fault_env + scenario.argv
        p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, cwd=machine.dir, env=env,
                             start_new_session=True)
        try:
            if signal_after is not None:
                p.stdin.write(scenario.stdin)
                p.stdin.close()
                p.stdin = None  # written whole: communicate has none left to send
                time.sleep(signal_after[0])
                p.send_signal(signal_after[1])
                out, _ = p.communicate(timeout=RUN_SECONDS)
            else:
                out, _ = p.communicate(scenario.stdin, timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            out, _ = p.communicate()
            return None, out, None, [f"did not end within {RUN_SECONDS} s"]
        calls = read(count)
        calls = int(calls) if calls else None
        if p.returncode < 0 and (signal_after is None or -p.returncode != signal_after[1]):
            return p.returncode, out, calls, [f"died of signal {-p.returncode}"]
        return p.returncode, out, calls, scenario.judge(machine, p.returncode, out)
    finally:
        machine.close()


def walk_series(args, scenario, point, error, mode):
    """Every N of one point in one mode: (runs, calls reached, what they are,
    violations); the other kinds of row answer alike."""
    runs, violations, n, reached = 0, [], 1, 0
    while True:
        env = [f"ZORVI_FAULT_POINT={point}", f"ZORVI_FAULT_AT={n}", f"ZORVI_FAULT_MODE={mode}",
               f"ZORVI_FAULT_ERRNO={error}"]
        status, out, calls, broken = run_once(args, scenario, env, None)
        runs += 1
        for b in broken:
            violations.append(f"{scenario.name} {point} {mode} N={n}: {b} (exit {status}); "
                              f"output {out[-300:]!r}")
        if calls is None:  # no count: the run ended abnormally; a rule says why
            if not broken:
                violations.append(f"{scenario.name} {point} {mode} N={n}: no call count")
            break
        reached = max(reached, calls)
        if n > calls:  # the Nth call never came: that was a run without a fault
            break
        n += 1 if n < args.stride else args.stride
    return runs, reached, "calls", violations


def run_card_fault(args, scenario, fault):
    status, out, _, broken = run_once(args, scenario, [], fault)
    return 1, 1, "faulted", [f"{scenario.name} card {fault}: {b} (exit {status}); output {out[-300:]!r}"
                  for b in broken]


def run_signals(args, scenario, name, count):
    """`count` runs, each sent the signal a little later than the one before,
    from the start to the end of a whole run; with --stride, a quarter of
    them at most."""
    number = getattr(signal, "SIG" + name)
    count //= min(args.stride, 4)
    start = time.monotonic()
    run_once(args, scenario, [], None)
    span = (time.monotonic() - start) * 1.2
    violations, met = [], 0
    for i in range(count):
        status, out, _, broken = run_once(args, scenario, [], None, (span * i / count, number))
        met += 1 if status == -number else 0
        violations += [f"{scenario.name} signal {name} at {span * i / count:.4f} s: {b} "
                       f"(exit {status}); output {out[-300:]!r}" for b in broken]
    return count, met, "ended by it", violations


def rows(table, only):
    for number, line in enumerate(open(table, encoding="utf-8"), 1):
        words = line.split("#", 1)[0].split()
        if words and all(w in line for w in only):
            yield number, words


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--faults", required=True)
    parser.add_argument("--fiu", required=True)
    parser.add_argument("--path", action="append", default=[])
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--stride", type=int, default=1,
                        help="walk N = 1 to STRIDE, then every STRIDE-th N only")
    parser.add_argument("table")
    parser.add_argument("only", nargs="*")
    args = parser.parse_args()
    args.sim, args.faults = os.path.abspath(args.sim), os.path.abspath(args.faults)
    args.path = [os.path.abspath(p) for p in args.path]
    scenarios = {}
    work = []
    for number, words in rows(args.table, args.only):
        scenario = scenarios.setdefault(words[0], Scenario(words[0]))
        if words[1] == "point":
            code = words[3] if words[3].isdigit() else str(getattr(errno, words[3]))
            for mode in ("once", "on"):
                work.append((f"{words[0]} {words[2]} {mode}",
                             (walk_series, args, scenario, words[2], code, mode)))
        elif words[1] == "signal":
            work.append((f"{words[0]} signal {words[2]} x{words[3]}",
                         (run_signals, args, scenario, words[2], int(words[3]))))
        elif words[1] == "card":
            work.append((f"{words[0]} card {' '.join(words[2:])}",
                         (run_card_fault, args, scenario, " ".join(words[2:]))))
        else:
            raise ValueError(f"{args.table}:{number}: unknown row kind {words[1]}")
    total_runs = total_reached = total_signalled = 0
    failed = []
    template = run_cases.Machine(args, HERE)
    args.template = template.dir
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = [(title, pool.submit(job[0], *job[1:])) for title, job in work]
            for title, future in futures:
                runs, reached, unit, violations = future.result()
                total_runs += runs
                if unit == "ended by it":
                    total_signalled += reached
                else:
                    total_reached += reached
                failed += violations
                print(f"{title}: {runs} runs, {reached} {unit}, {len(violations)} violations")
    finally:
        template.close()
    for v in failed:
        print("VIOLATION " + v)
    print(f"{total_runs} runs, {total_reached} failure points reached, "
          f"{total_signalled} runs ended by a signal, {len(failed)} violations")
    sys.exit(1 if failed or not work else 0)


if __name__ == "__main__":
    main()
