#!/usr/bin/env python3
"""Runs the cases of one table, each on a fresh simulated machine.

  run_cases.py --sim ZORVISIM [--path DIR]... TABLE [TITLE-WORDS]

The table format is described in tests/README.md. Prints each failing case with
what differed, then "N passed, N failed"; exit status 1 when any case failed.
"""

import argparse, contextlib, difflib, fcntl, os, pathlib, re, shlex, shutil, signal, subprocess, sys, tempfile, time

LOG = "opt/zorvi/operation_logs/operations.log"
LOCK = "opt/zorvi/locks/op_log"
RUN_SECONDS = 30  # a run takes well under a second, even under the sanitizers
# time(2) reads the kernel's coarse clock, which lags time.time() by up to a
# tick: a stamp written just after the window opened may name the second before.
COARSE_CLOCK_LAG = 0.1
TYPES = {"u8": 1, "u16": 2, "u32": 4}
CHECKS = {"log", "stored", "requests", "syslog", "has"}


class CaseFailed(Exception): pass  # noqa: E701


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
    with open(path, encoding="utf-8") as f:
        lines = list(enumerate(f, 1)) + [("extra", x) for x in extra.split(";")]
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


def fixture_card(table_dir, rest, w):
    """The record of a `template` or `stored` line: NAME FIXTURE [FIELDS]."""
    return card_record(os.path.join(table_dir, w[1].decode()),
                       rest.split(None, 2)[2] if len(w) > 2 else "")


def records(text):  # the whole records of a log, without their line ends
    return text.split("\r\n")[:-1]


def masked(record, window):
    """The record with every stamp of a second in `window` written [D] or [T]."""
    for t in range(int(window[0]), int(window[1]) + 1):
        for form, mark in (("[%Y-%m-%d %H:%M:%S]", "[D]"), ("[%H:%M:%S]", "[T]")):
            record = record.replace(time.strftime(form, time.localtime(t)), mark)
    return record


def edit(m, name, old, new, every=False):
    text = m.read(name)
    if old not in text:
        raise CaseFailed(f"edit: {old!r} is not in {name}")
    m.write(name, text.replace(old, new, -1 if every else 1))


def fill(m):
    with open(m.path("opt/filler"), "wb", buffering=0) as f, contextlib.suppress(OSError):
        while f.write(b"x" * 4096):
            pass


def mount_opt(m, size):
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "zorvicase",
                    m.path("opt")], check=True)
    m.mounted = True


def remove(m, name):
    os.unlink(m.path(name)) if os.path.isfile(m.path(name)) else shutil.rmtree(m.path(name))


# What each setup line does, given the machine, its words and the line's text.
SETUP = {
    "card": lambda m, w, r: m.write(f"cards/{w[0].decode()}/pci_device_id", w[1]),
    "nocard": lambda m, w, r: shutil.rmtree(m.path(f"cards/{w[0].decode()}")),
    "driver": lambda m, w, r: m.write("driver_version", w[0]),
    "fault": lambda m, w, r: m.write(f"faults/{w[0].decode()}", b"".join(w[1:2])),
    "template": lambda m, w, r: m.write(f"cards/{w[0].decode()}/template.bin",
                                        fixture_card(m.table_dir, r, w)),
    "file": lambda m, w, r: m.write(w[0].decode(),
                                    pathlib.Path(m.table_dir, w[1].decode()).read_bytes()),
    "write": lambda m, w, r: m.write(w[0].decode(), w[1]),
    "edit": lambda m, w, r: edit(m, w[0].decode(), w[1], w[2], w[3:] == [b"all"]),
    "append": lambda m, w, r: m.write(w[0].decode(), m.read(w[0].decode()) + w[1]),
    "fifo": lambda m, w, r: os.mkfifo(m.path(w[0].decode())),
    "opt": lambda m, w, r: m.write("opt/" + w[0].decode(), b"".join(w[1:2]),
                                   int(w[3]) if w[2:3] == [b"size"] else None),
    "optfs": lambda m, w, r: mount_opt(m, w[0].decode()),
    "fill": lambda m, w, r: fill(m),
    "lock": lambda m, w, r: m.set_lock(True),
    "unlock": lambda m, w, r: m.set_lock(False),
    "rm": lambda m, w, r: remove(m, w[0].decode()),
    "readonly": lambda m, w, r: m.options.append("--readonly-opt"),
    "console": lambda m, w, r: m.options.append("--console"),  # the next run only
    "parallel": None,  # kept by the case for its next run
}


class Machine:
    def __init__(self, args, table_dir, copy_of=None):
        """A fresh machine, made by the simulator or copied from one it made."""
        self.args, self.table_dir = args, table_dir
        self.dir = tempfile.mkdtemp(prefix="zorvicase.")
        self.lock_fd, self.mounted, self.options = None, False, []
        if copy_of is None:
            subprocess.run([args.sim, "--state", self.dir, "--", "true"], check=True)
        else:
            shutil.copytree(copy_of, self.dir, symlinks=True, dirs_exist_ok=True)

    def path(self, relative):
        return os.path.join(self.dir, relative)

    def close(self):
        if self.lock_fd is not None:
            os.close(self.lock_fd)
        if self.mounted:
            subprocess.run(["umount", "-l", self.path("opt")])
        shutil.rmtree(self.dir, ignore_errors=True)

    # From `skip` on, `size` bytes at most: some cases' logs are sparse files of 4 GiB.
    def read(self, relative, default=b"", skip=0, size=-1):
        try:
            with open(self.path(relative), "rb") as f:
                f.seek(skip)
                return f.read(size)
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
            if not os.path.exists(self.path(LOCK)):
                self.write(LOCK, b"")
            self.lock_fd = os.open(self.path(LOCK), os.O_WRONLY)
        fcntl.flock(self.lock_fd, fcntl.LOCK_EX if held else fcntl.LOCK_UN)

    def setup(self, word, rest):
        SETUP[word](self, words(rest, self.dir), rest)

    def log_state(self):
        info = os.stat(self.path(LOG)) if os.path.exists(self.path(LOG)) else None
        return (info.st_ino, info.st_size) if info else (None, 0)

    def snapshot(self):
        """What a run's checks compare with: the journal, the log's inode and
        size, the count of system-log calls and every card's template."""
        cards = {n: self.read(f"cards/{n}/template.bin", None)
                 for n in os.listdir(self.path("cards"))}
        return {"journal": self.read("journal").decode(), "log": self.log_state(),
                "syslog": len(self.read("syslog").splitlines()), "cards": cards}

    def log_gained(self, before):
        """The records the operation log gained since `before`, or all of a new log."""
        inode, size = self.log_state()
        skip = before[1] if inode == before[0] and size >= before[1] else 0
        return records(self.read(LOG, skip=skip).decode("latin-1"))


class Run:
    def __init__(self, line, command, parallel, machine, stdin=b""):
        self.line, self.command, self.parallel = line, command, parallel
        self.stdin, self.events, self.out, self.err, self.status = stdin, [], [], [], 0
        self.any_out, self.optional, self.checks = False, set(), []
        self.before, self.started = machine.snapshot(), time.time()


def spawn(machine, run, argv):
    path = machine.args.path + [os.environ.get("PATH", "/usr/bin:/bin")]
    env = dict(os.environ, PATH=":".join(path))
    cmd = [machine.args.sim, "--state", machine.dir] + machine.options + ["--"] + argv
    stdin = subprocess.DEVNULL if run.stdin in ("null", "closed") else subprocess.PIPE
    closed = (lambda: os.close(0)) if run.stdin == "closed" else None
    p = subprocess.Popen(cmd, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         cwd=machine.dir, env=env, preexec_fn=closed, restore_signals=True,
                         start_new_session=True)
    os.set_blocking(p.stdout.fileno(), False)
    return p


def until(done, what, seconds=20, pause=0.01):
    deadline = time.monotonic() + seconds
    while not done():
        if time.monotonic() >= deadline:
            raise CaseFailed(what())
        time.sleep(pause)


def printed(p, out, text):
    with contextlib.suppress(BlockingIOError):
        out.extend(os.read(p.stdout.fileno(), 65536))
    return text in out


def do_event(machine, p, out, word, rest):
    w = words(rest, machine.dir) if rest else []
    if word == "wait":
        until(lambda: printed(p, out, w[0]),
              lambda: f"never printed {w[0]!r}; so far {bytes(out)!r}")
    elif word == "sleep":
        time.sleep(float(rest))
    elif word == "signal":
        p.send_signal(getattr(signal, "SIG" + rest.strip()))
    elif word == "input":
        p.stdin.write(w[0])
        p.stdin.flush()
    elif word == "held":
        until(lambda: os.path.exists(machine.path("faults/held")), lambda: "no request was held")
    elif word in ("lock", "unlock", "rm", "fifo"):
        machine.setup(word, rest)
    elif word in ("log", "waitlog"):
        until(lambda: len(records(machine.read(LOG).decode("latin-1"))) == int(rest),
              lambda: f"log has not {rest} records: {machine.read(LOG)!r}",
              20 if word == "waitlog" else 0, 0.02)
    else:
        raise CaseFailed(f"unknown event {word}")


def execute(machine, run):
    """Runs the command (run.parallel times at once); returns the results."""
    argv = words(run.command, machine.dir)
    procs = [spawn(machine, run, argv) for _ in range(run.parallel)]
    if "--console" in machine.options:
        machine.options.remove("--console")
    outs = [bytearray() for _ in procs]
    for p, out in zip(procs, outs):
        if p.stdin:
            with contextlib.suppress(BrokenPipeError):
                p.stdin.write(run.stdin)
                p.stdin.flush()
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


def has(machine, w):
    """A `has PATH WHAT` line holds."""
    path, what = machine.path(w[0].decode()), w[1].decode()
    if what == "absent" or not os.path.exists(path):
        return what == "absent" and not os.path.lexists(path)
    if what == "mode":
        return os.stat(path).st_mode & 0o7777 == int(w[2], 8)
    if what == "size":
        return os.path.getsize(path) == int(w[2])
    if what == "starts":
        return machine.read(w[0].decode(), size=len(w[2])) == w[2]
    return machine.read(w[0].decode()) == w[1]


def syslog_calls(machine, before):
    for j in machine.read("syslog").decode().splitlines()[before:]:
        f = dict(x.split("=", 1) for x in j.split()[1:])
        yield " ".join([bytes.fromhex(f["identity"]).decode("latin-1"), f["option"], f["facility"],
                        f["priority"], bytes.fromhex(f["message"]).decode("latin-1")])


def check(machine, run):
    results = execute(machine, run)
    window = (run.started - COARSE_CLOCK_LAG, time.time())
    d = machine.dir
    # Each optional line is any number of copies of itself.
    pattern = re.compile(b"".join(b"(?:" + re.escape(part) + b")*" if i in run.optional else
                                  re.escape(part) for i, part in enumerate(run.out)), re.DOTALL)
    problems = []
    for out, err, status in results:
        if not run.any_out and pattern.fullmatch(out) is None:
            diff = difflib.unified_diff(b"".join(run.out).decode("latin-1").splitlines(True),
                                        out.decode("latin-1").splitlines(True), "want", "got")
            problems.append("standard output differs:\n" + "".join(diff))
        if err != b"".join(run.err):
            problems.append(f"standard error: {err.decode('latin-1')!r}")
        if status != run.status:
            problems.append(f"exit status {status}, want {run.status}")
    journal = machine.read("journal").decode()[len(run.before["journal"]):].splitlines()
    opens = sum(1 for j in journal if j.startswith("open ") and "errno=0 " in j)
    if opens != sum(1 for j in journal if j.startswith("close ")):
        problems.append("a tool-device descriptor was left open")
    lines = {word: [(r, n) for w, r, n in run.checks if w == word] for word in CHECKS}
    stored = set()
    for rest, _ in lines["stored"]:
        w = words(rest, d)
        stored.add(w[0].decode())
        got = machine.read(f"cards/{w[0].decode()}/template.bin", None)
        want = None if w[1] == b"none" else fixture_card(machine.table_dir, rest, w)
        if got != want:
            where = [i for i in range(1024) if got and want and got[i] != want[i]][:40]
            problems.append(f"card {w[0].decode()} holds "
                            f"{'nothing' if got is None else 'other bytes'}, at {where}")
    for rest, _ in lines["requests"]:
        seen = [tuple(int(re.search(f" {f}=(\\d+)", j).group(1)) for f in ("module", "command"))
                for j in journal if j.startswith("ioctl ")]
        wanted = [tuple(int(x, 0) for x in r.split("/")) for r in rest.split() if r != "none"]
        if seen != wanted:
            problems.append(f"requests {seen}, want {wanted}")
    for rest, number in lines["has"]:
        if not has(machine, words(rest, d)):
            problems.append(f"line {number}: {shlex.split(rest)[0]} is not {rest}")
    # The log's records in order (in any order for parallel runs), the system log's in any.
    for word, gained in (("log", lambda: machine.log_gained(run.before["log"])),
                         ("syslog", lambda: syslog_calls(machine, run.before["syslog"]))):
        want = [expand(r, d) for r, _ in lines[word] if r.strip() != "none"]
        got = [masked(r, window) for r in gained()] if lines[word] else want
        if sorted(got) != sorted(want) or (word == "log" and run.parallel == 1 and got != want):
            problems.append(f"{word} gained:\n" + "\n".join(got) + "\nwant:\n" + "\n".join(want))
    for name in os.listdir(machine.path("cards")):
        got = machine.read(f"cards/{name}/template.bin", None)
        if name not in stored and got != run.before["cards"].get(name):
            problems.append(f"card {name} changed, and no 'stored' line says so")
    if problems:
        raise CaseFailed(f"run at line {run.line}: " + "\n".join(problems))


def run_case(args, table_dir, lines):
    machine = Machine(args, table_dir)
    run, parallel = None, 1
    try:
        for number, line in lines:
            word, _, rest = line.partition(" ")
            if word in SETUP or word == "$":
                if run is not None:
                    check(machine, run)
                run = None
                if word == "$":
                    run, parallel = Run(number, rest, parallel, machine), 1
                elif word == "parallel":
                    parallel = int(rest)
                else:
                    machine.setup(word, rest)
            elif run is None:
                raise CaseFailed(f"line {number}: {word} before any run")
            elif word == "<":
                run.stdin = rest if rest in ("null", "closed") else unescape(
                    expand(rest, machine.dir))
            elif word == "!":
                run.events.append(tuple(rest.partition(" ")[::2]))
            elif word in ("|", "|*", "2|"):
                if word == "|*":
                    run.optional.add(len(run.out))
                text = unescape(expand(rest, machine.dir)) + b"\n"
                (run.err if word == "2|" else run.out).append(text)
            elif word == ">":
                run.out.append(pathlib.Path(table_dir, rest.strip()).read_bytes())
            elif word == "~":
                run.any_out = True
            elif word == "?":
                run.status = int(rest)
            elif word in CHECKS:
                run.checks.append((word, rest, number))
            else:
                raise CaseFailed(f"line {number}: unknown word {word!r}")
        if run is not None:
            check(machine, run)
    finally:
        machine.close()


def cases(table):
    """(title, first line, [(line number, text)]) of every case in the table;
    an output line keeps its blanks."""
    found = []
    for number, text in enumerate(open(table, encoding="utf-8").read().split("\n"), 1):
        if text.startswith("== "):
            found.append((text[3:].strip(), number, []))
        elif text.strip() and not text.startswith("#") and found:
            found[-1][2].append((number, text if text.startswith("|") else text.strip()))
    return found


def parse_args(parser):
    """Adds --sim and --path, parses, and makes both absolute: runs work elsewhere."""
    parser.add_argument("--sim", required=True)
    parser.add_argument("--path", action="append", default=[])
    args = parser.parse_args()
    args.sim, args.path = os.path.abspath(args.sim), [os.path.abspath(p) for p in args.path]
    return args


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("table")
    parser.add_argument("only", nargs="*")
    args = parse_args(parser)
    table_dir = os.path.dirname(os.path.abspath(args.table))
    passed = failed = 0
    for title, number, lines in cases(args.table):
        if args.only and not all(w in title for w in args.only):
            continue
        try:
            run_case(args, table_dir, lines)
            passed += 1
        except Exception as e:  # noqa: BLE001  (any mistake fails its case, not the table)
            failed += 1
            print(f"FAILED {args.table}:{number}: {title}\n  {e}\n")
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed or not passed else 0)


if __name__ == "__main__":
    main()
