#!/usr/bin/env python3
"""check and a load agree: files made from the examples by random edits,
sealed afterwards for the card (so that about half are accepted), go through
`zorvitemplate check --json` with the card's PCI device id and driver
version, and through a load on a simulated card of that id behind a driver
of that version, both drawn at random. The load succeeds exactly when check
accepts, and otherwise the line the load prints before "Operation failed."
is the load_message of check's first error.

  same_verdict.py --sim ZORVISIM --path DIR... [--files N] [--seed S]
"""

import argparse, json, os, random, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import run_cases  # noqa: E402  (the case tables' simulated machine)

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
VALUES = [b"0", b"1", b"3", b"4", b"65535", b"65536", b"4294967295", b"4294967296",
          b"4294967297", b"-1", b"0x1F", b"0X", b"x4", b"12abc", b"", b"1 # n", b"2 // n",
          b"9" * 33, b"0x3310", b"0x13310"]
# The driver's reply (its first word is its version) and the card's id.
DRIVERS = ["1.4.3.0", "1.4.3.0", "1.10.0.1 build 7", "1.4.2.9"]
PCI_IDS = ["0x3310", "0x3311"]
LINES = [b"[xyz", b"[CONFIG]", b"[INFO]", b"[ CONFIG ]", b"[NOTES]", b"# c", b"",
         b"HN", b"=5", b"QNP5 = 1", b"hn = 1", b"HN\0 = 1", b"HN = 1\0 9"]


def edit(lines, rng):
    """One random edit of the file's lines, in place."""
    at = rng.randrange(len(lines))
    kind = rng.randrange(7)
    if kind == 0 and len(lines) > 1:
        del lines[at]
    elif kind == 1:
        lines.insert(rng.randrange(len(lines) + 1), lines[at])
    elif kind == 2 and b"=" in lines[at]:
        key = lines[at].split(b"=", 1)[0]
        lines[at] = key + b"= " + rng.choice(VALUES)
    elif kind == 3:
        lines.insert(at, rng.choice(LINES))
    elif kind == 4:
        lines[at] = lines[at] + b" #" + b"x" * rng.choice([100, 490, 509, 510, 600, 1100])
    elif kind == 5:
        lines[at] = b"#" + b"y" * rng.choice([509, 510, 511]) + lines[at]
    else:
        lines[at] = lines[at] + b"\r"


def make_file(rng):
    name = rng.choice(["minimal.ini", "full.ini", "pcidid.ini"])
    with open(os.path.join(EXAMPLES, name), "rb") as f:
        lines = f.read().split(b"\n")
    for _ in range(rng.choice([1, 1, 2])):
        edit(lines, rng)
    return b"\n".join(lines)


def judge(args, number, text, rng):
    machine = run_cases.Machine(args, EXAMPLES)
    driver, pci_id = rng.choice(DRIVERS), rng.choice(PCI_IDS)
    card = f"--pci-id {pci_id} --driver-version '{driver}'"
    try:
        # Sealed for the card after the edits: its id, then its METADATA, so
        # that a refusal is more than a stale checksum.
        machine.write("t.ini", text.replace(b"PCIDID = 0x3310", b"PCIDID = " + pci_id.encode()))
        run_cases.execute(machine, run_cases.Run(0, f"zorvitemplate seal --pci-id {pci_id} t.ini",
                                                 1, machine))
        machine.write("driver_version", driver.encode())
        machine.setup("card", f"zorvi0 {pci_id}")
        (check, _, _), = run_cases.execute(machine, run_cases.Run(
            0, f"zorvitemplate check --json {card} t.ini", 1, machine))
        (load, _, status), = run_cases.execute(machine, run_cases.Run(
            0, "zorviconfig zorvi0 -f t.ini", 1, machine, b"yes\nagree\n"))
    finally:
        machine.close()
    report = json.loads(check)
    errors = [f for f in report["findings"] if f["severity"] == "error"]
    lines = load.decode("latin-1").split("\n")
    said = lines[lines.index("Operation failed.") - 1] if "Operation failed." in lines else None
    wanted = errors[0]["load_message"] if errors else None
    differ = (f"file {number} ({card}): check {'accepts' if report['accepted'] else 'refuses'} "
              f"({wanted!r}), the load exits {status} ({said!r})\n{text[:2000]!r}"
              if (status == 0) != report["accepted"] or said != wanted else None)
    return report["accepted"], said, differ


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--seed", type=int, default=22)
    args = run_cases.parse_args(parser)
    rng = random.Random(args.seed)
    failed, accepted, messages = 0, 0, set()
    for number in range(args.files):
        ok, said, differ = judge(args, number, make_file(rng), rng)
        if differ is not None:
            failed += 1
            print("DIFFERENT " + differ)
        accepted += 1 if ok else 0
        messages.add(said.split(",")[-1] if said else None)
    print(f"{args.files} files ({accepted} accepted, {len(messages)} kinds of first message), "
          f"{failed} verdicts differ")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
