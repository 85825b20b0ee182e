#!/usr/bin/env python3
"""Runs the cases of one table, each on a fresh simulated machine.

  run_cases.py --sim ZORVISIM [--path DIR]... TABLE [TITLE-WORDS]

The table format is described in tests/README.md. Prints each failing case with
what differed, then "N passed, N failed"; exit status 1 when any case failed.
"""

import argparse, difflib, fcntl, os, re, shlex, shutil, signal, subprocess
import sys, tempfile, time

STAMP = re.compile(r"\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\]|\[(\d\d:\d\d:\d\d)\]")
LOG = "opt/zorvi/operation_logs/operations.log"
LOCK = "opt/zorvi/locks/op_log"
RUN_SECONDS = 30  # a run takes well under a second, even under the sanitizers
# time(2) reads the kernel's coarse clock, which lags time.time() by up to a
# tick: a stamp written just after the window opened may name the second before.
COARSE_CLOCK_LAG = 0.1
SETUP = {"card", "nocard", "driver", "fault", "template", "file", "write", "edit", "append",
         "fifo", "opt", "optfs", "fill", "lock", "unlock", "parallel", "rm", "readonly"}
TYPES = {"u8": 1, "u16": 2, "u32": 4}


class CaseFailed(Exception):
    pass


def expand(text, folder):
    text = re.sub(r"\{(\\x..|\\.|.)\*(\d+)\}", lambda m: m.group(1) * int(m.group(2)), text)
    return text.replace("{D}", folder)


def unescape(text):
    return text.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1")


def words(text, folder):
    return [unescape(expand(w, folder)) for w in shlex.split(text)]


def card_record(path, extra=""):
    """A .card fixture: lines OFFSET TYPE VALUE...; every byte not named is zero.
    `extra` holds more such lines, split by ";", laid over the file's bytes."""
    record, named = bytearray(1024), set()
    lines = list(enumerate(open(path, encoding="utf-8"), 1)) + [("extra", x) for x in extra.split(";")]
    for number, line in lines:
        fields = shlex.split(line, comments=True)
        if not fields:
            continue
        offset, kind, values = int(fields[0], 0), fields[1], fields[2:]
        data = (unescape(values[0]) if kind == "text" else
                b"".join(int(v.split("*")[0], 0).to_bytes(TYPES[kind], "little") *
                         int(v.split("*")[1] if "*" in v else 1) for v in values))
        span = set(range(offset, offset + len(data)))
        if (span & named and number != "extra") or offset + len(data) > 1024:
            raise CaseFailed(f"{path}:{number}: bytes named twice or past the record")
        named |= span
        record[offset:offset + len(data)] = data
    return bytes(record)


def field_diff(want, got):
    return "; ".join(f"offset {i}: want {want[i]:#04x} got {got[i]:#04x}"
                     for i in range(1024) if want[i] != got[i])[:600]


def records(text):
    return [r + "\r\n" for r in text.split("\r\n")[:-1]]


def masked(record, window):
    def one(m):
        stamp = m.group(1) or m.group(2)
        fmt = "%Y-%m-%d %H:%M:%S" if m.group(1) else "%H:%M:%S"
        inside = any(time.strftime(fmt, time.localtime(t)) == stamp
                     for t in range(int(window[0]), int(window[1]) + 1))
        return ("[D]" if m.group(1) else "[T]") if inside else m.group(0)
    return STAMP.sub(one, record)


class Machine:
    def __init__(self, args, table_dir):
        self.args, self.table_dir = args, table_dir
        self.dir = tempfile.mkdtemp(prefix="zorvicase.")
        self.lock_fd, self.mounted, self.readonly = None, False, False
        subprocess.run([args.sim, "--state", self.dir, "--", "true"], check=True)

    def path(self, relative):
        return os.path.join(self.dir, relative)

    def close(self):
        if self.lock_fd is not None:
            os.close(self.lock_fd)
        if self.mounted:
            subprocess.run(["umount", "-l", self.path("opt")])
        shutil.rmtree(self.dir, ignore_errors=True)

    def read(self, relative, default=b""):
        try:
            with open(self.path(relative), "rb") as f:
                return f.read()
        except OSError:
            return default

    def write(self, relative, data, size=None):
        os.makedirs(os.path.dirname(self.path(relative)), mode=0o700, exist_ok=True)
        with open(self.path(relative), "wb") as f:
            f.write(data)
            if size is not None:
                f.truncate(size)

    def set_lock(self, held):
        if self.lock_fd is None:
            self.write(LOCK, b"") if not os.path.exists(self.path(LOCK)) else None
            self.lock_fd = os.open(self.path(LOCK), os.O_WRONLY)
        fcntl.flock(self.lock_fd, fcntl.LOCK_EX if held else fcntl.LOCK_UN)

    def setup(self, word, rest):
        w = words(rest, self.dir)
        text = lambda i: w[i].decode("latin-1")
        if word == "card":
            self.write(f"cards/{text(0)}/pci_device_id", w[1])
        elif word == "nocard":
            shutil.rmtree(self.path(f"cards/{text(0)}"))
        elif word == "driver":
            self.write("driver_version", w[0])
        elif word == "fault":
            self.write(f"faults/{text(0)}", w[1] if len(w) > 1 else b"")
        elif word == "template":
            self.write(f"cards/{text(0)}/template.bin",
                       card_record(os.path.join(self.table_dir, text(1)),
                                   rest.split(None, 2)[2] if len(w) > 2 else ""))
        elif word == "file":
            self.write(text(0), open(os.path.join(self.table_dir, text(1)), "rb").read())
        elif word == "write":
            self.write(text(0), w[1])
        elif word in ("edit", "append"):
            old = self.read(text(0))
            if word == "append":
                new = old + w[1]
            elif w[1] not in old:
                raise CaseFailed(f"edit: {w[1]!r} is not in {text(0)}")
            else:
                new = old.replace(w[1], w[2], -1 if len(w) > 3 and w[3] == b"all" else 1)
            self.write(text(0), new)
        elif word == "fifo":
            os.mkfifo(self.path(text(0)))
        elif word == "opt":
            self.write("opt/" + text(0), w[1] if len(w) > 1 else b"",
                       int(w[3]) if len(w) > 3 and w[2] == b"size" else None)
        elif word == "optfs":
            subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={text(0)},mode=0755",
                            "zorvicase", self.path("opt")], check=True)
            self.mounted = True
        elif word == "fill":
            fd = os.open(self.path("opt/filler"), os.O_WRONLY | os.O_CREAT, 0o600)
            try:
                while os.write(fd, b"x" * 4096):
                    pass
            except OSError:
                os.close(fd)
        elif word in ("lock", "unlock"):
            self.set_lock(word == "lock")
        elif word == "rm":
            os.unlink(self.path(text(0))) if os.path.isfile(self.path(text(0))) else shutil.rmtree(
                self.path(text(0)))
        elif word == "readonly":
            self.readonly = True


class Run:
    def __init__(self, line, command):
        self.line, self.command = line, command
        self.stdin, self.events, self.out, self.err = b"", [], [], []
        self.status, self.any_out, self.checks, self.parallel = 0, False, [], 1
        self.optional = set()  # indexes into `out` of lines that may come 0 to N times


def output_pattern(run, folder):
    """The expected standard output as a pattern: the literal parts as they
    stand, each optional line as any number of copies of itself."""
    parts = []
    for i, part in enumerate(run.out):
        text = re.escape(part.replace(b"{D}", folder))
        parts.append(b"(?:" + text + b")*" if i in run.optional else text)
    return re.compile(b"".join(parts), re.DOTALL)


def spawn(machine, run, argv):
    env = dict(os.environ)
    env["PATH"] = ":".join(machine.args.path + [env.get("PATH", "/usr/bin:/bin")])
    stdin = {"closed": None, "null": subprocess.DEVNULL}.get(run.stdin, subprocess.PIPE)
    cmd = [machine.args.sim, "--state", machine.dir] + ["--readonly-opt"] * machine.readonly + [
        "--"] + argv
    preexec = (lambda: os.close(0)) if run.stdin == "closed" else None
    p = subprocess.Popen(cmd, stdin=stdin if preexec is None else subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=machine.dir, env=env,
                         preexec_fn=preexec, restore_signals=True, start_new_session=True)
    os.set_blocking(p.stdout.fileno(), False)
    return p


def pump(p, out):
    try:
        out.extend(os.read(p.stdout.fileno(), 65536))
    except BlockingIOError:
        pass


def do_event(machine, p, out, word, rest):
    w = words(rest, machine.dir) if rest else []
    deadline = time.monotonic() + 20
    if word == "wait":
        while w[0] not in out:
            if time.monotonic() > deadline:
                raise CaseFailed(f"never printed {w[0]!r}; so far {bytes(out)!r}")
            time.sleep(0.01)
            pump(p, out)
    elif word == "sleep":
        time.sleep(float(rest))
    elif word == "signal":
        p.send_signal(getattr(signal, "SIG" + rest.strip()))
    elif word == "input":
        p.stdin.write(w[0])
        p.stdin.flush()
    elif word == "held":
        while not os.path.exists(machine.path("faults/held")):
            if time.monotonic() > deadline:
                raise CaseFailed("no request was held")
            time.sleep(0.01)
    elif word in ("lock", "unlock", "rm", "fifo"):
        machine.setup(word, rest)
    elif word in ("log", "waitlog"):
        while len(records(machine.read(LOG).decode("latin-1"))) != int(rest):
            if word == "log" or time.monotonic() > deadline:
                raise CaseFailed(f"log has not {rest} records: {machine.read(LOG)!r}")
            time.sleep(0.02)
    else:
        raise CaseFailed(f"unknown event {word}")


def execute(machine, run):
    """Runs the command (run.parallel times at once); returns the results."""
    argv = words(run.command, machine.dir)
    procs = [spawn(machine, run, argv) for _ in range(run.parallel)]
    outs = [bytearray() for _ in procs]
    for p, out in zip(procs, outs):
        if p.stdin and run.stdin not in ("null", "closed"):
            try:
                p.stdin.write(run.stdin)
                p.stdin.flush()
            except BrokenPipeError:
                pass
        for word, rest in run.events:
            do_event(machine, p, out, word, rest)
    results = []
    for p, out in zip(procs, outs):
        os.set_blocking(p.stdout.fileno(), True)
        try:
            rest, err = p.communicate(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:  # a hang fails its case, not the table
            os.killpg(p.pid, signal.SIGKILL)
            rest, err = p.communicate()
        results.append((bytes(out) + rest, err, p.returncode))
    return results


def check(machine, run, before, window):
    results = execute(machine, run)
    window = (window - COARSE_CLOCK_LAG, time.time())
    d = machine.dir
    want = b"".join(run.out).replace(b"{D}", d.encode())
    pattern = output_pattern(run, d.encode())
    problems = []
    for out, err, status in results:
        if not run.any_out and pattern.fullmatch(out) is None:
            diff = difflib.unified_diff(want.decode("latin-1").splitlines(True),
                                        out.decode("latin-1").splitlines(True), "want", "got")
            problems.append("standard output differs:\n" + "".join(diff))
        if err != b"".join(run.err).replace(b"{D}", d.encode()):
            problems.append(f"standard error: {err.decode('latin-1')!r}")
        if status != run.status:
            problems.append(f"exit status {status}, want {run.status}")
    journal = machine.read("journal").decode()[len(before["journal"]):].splitlines()
    opens = sum(1 for j in journal if j.startswith("open ") and "errno=0 " in j)
    if opens != sum(1 for j in journal if j.startswith("close ")):
        problems.append("a tool-device descriptor was left open")
    new_log = records(read_log(machine, before["log"]))
    stated = set()
    for word, rest, line in run.checks:
        w = words(rest, d)
        if word == "log":
            stated.add("log")
        elif word == "stored":
            name = w[0].decode()
            got = machine.read(f"cards/{name}/template.bin", None)
            stated.add(name)
            want_card = None if w[1] == b"none" else card_record(
                os.path.join(machine.table_dir, w[1].decode()),
                rest.split(None, 2)[2] if len(w) > 2 else "")
            if got != want_card:
                problems.append(f"card {name} holds {'nothing' if got is None else 'other bytes'}"
                                + (": " + field_diff(want_card, got) if got and want_card else ""))
        elif word == "requests":
            seen = [(int(re.search(r" module=(\d+)", j).group(1)),
                     int(re.search(r" command=(\d+)", j).group(1)))
                    for j in journal if j.startswith("ioctl ")]
            wanted = [] if rest.strip() == "none" else [
                tuple(int(x, 0) for x in r.split("/")) for r in rest.split()]
            if seen != wanted:
                problems.append(f"requests {seen}, want {wanted}")
        elif word == "syslog":
            pass
        elif word == "has":
            path, what = machine.path(w[0].decode()), w[1].decode()
            if what == "absent":
                ok = not os.path.lexists(path)
            elif not os.path.exists(path):
                ok = False
            elif what == "mode":
                ok = os.stat(path).st_mode & 0o7777 == int(w[2], 8)
            elif what == "size":
                ok = os.path.getsize(path) == int(w[2])
            elif what == "starts":
                with open(path, "rb") as f:
                    ok = f.read(len(w[2])) == w[2]
            else:
                ok = machine.read(w[0].decode()) == w[1]
            if not ok:
                problems.append(f"line {line}: {w[0].decode()} is not {rest}")
    if "log" in stated:
        want_log = [expand(rest, d) + "\r\n" for word, rest, _ in run.checks
                    if word == "log" and rest.strip() != "none"]
        got_log = [masked(r, window) for r in new_log]
        if run.parallel > 1:
            want_log, got_log = sorted(want_log), sorted(got_log)
        if got_log != want_log:
            problems.append("operation log gained:\n" + "".join(got_log) + "want:\n" +
                            "".join(want_log))
    syslog_want = [expand(rest, d) for word, rest, _ in run.checks if word == "syslog"]
    if syslog_want or any(w == "syslog" for w, _, _ in run.checks):
        got = []
        for j in machine.read("syslog").decode().splitlines()[before["syslog"]:]:
            f = dict(x.split("=", 1) for x in j.split()[1:])
            got.append(" ".join([bytes.fromhex(f["identity"]).decode("latin-1"), f["option"],
                                 f["facility"], f["priority"],
                                 masked(bytes.fromhex(f["message"]).decode("latin-1"), window)]))
        if sorted(got) != sorted(x for x in syslog_want if x.strip() != "none"):
            problems.append(f"system log {got}, want {syslog_want}")
    for name in os.listdir(machine.path("cards")):
        got = machine.read(f"cards/{name}/template.bin", None)
        if name not in stated and got != before["cards"].get(name):
            problems.append(f"card {name} changed, and no 'stored' line says so")
    if problems:
        raise CaseFailed(f"run at line {run.line}: " + "\n".join(problems))


def log_state(machine):
    try:
        info = os.stat(machine.path(LOG))
        return (info.st_ino, info.st_size)
    except OSError:
        return (None, 0)


def read_log(machine, before):
    """What the operation log gained since `before`, or all of a new log."""
    inode, size = log_state(machine)
    skip = before[1] if inode == before[0] and size >= before[1] else 0
    try:
        with open(machine.path(LOG), "rb") as f:
            f.seek(skip)
            return f.read().decode("latin-1")
    except OSError:
        return ""


def snapshot(machine):
    cards = {n: machine.read(f"cards/{n}/template.bin", None)
             for n in os.listdir(machine.path("cards"))}
    return {"journal": machine.read("journal").decode(), "log": log_state(machine),
            "syslog": len(machine.read("syslog").splitlines()), "cards": cards}


def run_case(args, table_dir, lines):
    machine = Machine(args, table_dir)
    run, pending_parallel = None, 1

    def finish():
        if run is not None:
            check(machine, run, run.before, run.started)

    try:
        for number, line in lines:
            word, _, rest = line.partition(" ")
            if word in SETUP:
                finish()
                run = None
                if word == "parallel":
                    pending_parallel = int(rest)
                else:
                    machine.setup(word, rest)
            elif word == "$":
                finish()
                run = Run(number, rest)
                run.parallel, pending_parallel = pending_parallel, 1
                run.before, run.started = snapshot(machine), time.time()
            elif run is None:
                raise CaseFailed(f"line {number}: {word} before any run")
            elif word == "<":
                run.stdin = rest.strip() if rest.strip() in ("null", "closed") else unescape(
                    expand(rest, machine.dir))
            elif word == "!":
                event, _, detail = rest.partition(" ")
                run.events.append((event, detail))
            elif word in ("|", "|*"):
                if word == "|*":
                    run.optional.add(len(run.out))
                run.out.append(unescape(expand(rest, "{D}")) + b"\n")
            elif word == "2|":
                run.err.append(unescape(expand(rest, "{D}")) + b"\n")
            elif word == ">":
                golden = os.path.join(table_dir, rest.strip())
                run.out.append(open(golden, "rb").read())
            elif word == "~":
                run.any_out = True
            elif word == "?":
                run.status = int(rest)
            elif word in ("log", "stored", "requests", "syslog", "has"):
                run.checks.append((word, rest, number))
            else:
                raise CaseFailed(f"line {number}: unknown word {word!r}")
        finish()
    finally:
        machine.close()


def cases(table):
    """(title, first line, [(line number, text)]) of every case in the table."""
    found = []
    for number, text in enumerate(open(table, encoding="utf-8").read().split("\n"), 1):
        if text.startswith("== "):
            found.append((text[3:].strip(), number, []))
        elif text.strip() and not text.startswith("#") and found:
            found[-1][2].append((number, text.rstrip("\n") if text.startswith("|") else
                                 text.strip()))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--path", action="append", default=[])
    parser.add_argument("table")
    parser.add_argument("only", nargs="*")
    args = parser.parse_args()
    args.sim, args.path = os.path.abspath(args.sim), [os.path.abspath(p) for p in args.path]
    table_dir = os.path.dirname(os.path.abspath(args.table))
    passed = failed = 0
    for title, number, lines in cases(args.table):
        if args.only and not all(w in title for w in args.only):
            continue
        try:
            run_case(args, table_dir, lines)
            passed += 1
        except (CaseFailed, OSError, subprocess.SubprocessError, ValueError, KeyError,
                IndexError) as e:
            failed += 1
            print(f"FAILED {args.table}:{number}: {title}\n  {e}\n")
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed or not passed else 0)


if __name__ == "__main__":
    main()
