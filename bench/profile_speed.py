#!/usr/bin/env python3
"""How long msrprofile's offline commands take natively, whole process: show of a settings
file, show of a profile, build of a profile, diff of two files. Prints figures; asserts
nothing. Goal: show and build under 5 ms.

    python3 bench/profile_speed.py [--native build/native] [--runs 200]

The same figures for /bin/true are the floor that starting any process costs here."""

import argparse
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def timed(cmd, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        times.append(time.perf_counter() - start)
        if done.returncode not in (0, 1):
            raise SystemExit(f"{' '.join(cmd)}: exit {done.returncode}: {done.stderr.decode()}")
    return times


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--native", default=ROOT / "build" / "native")
    ap.add_argument("--runs", type=int, default=200)
    args = ap.parse_args()
    exe = str(Path(args.native).resolve() / "msrprofile")
    with tempfile.TemporaryDirectory() as d:
        d = Path(d)
        (d / "a.ini").write_bytes(bytes.fromhex("c6182f3f3b0d20137f0140112233ff"))
        profile = ROOT / "resources" / "profiles" / "english.toml"
        cases = [
            ("/bin/true (process floor)", ["/bin/true"]),
            ("show settings file", [exe, "show", str(d / "a.ini")]),
            ("show --json settings file", [exe, "show", "--json", str(d / "a.ini")]),
            ("show profile", [exe, "show", str(profile)]),
            ("build profile", [exe, "build", str(profile), "-o", str(d / "b.ini")]),
            ("diff file and profile", [exe, "diff", str(d / "a.ini"), str(profile)]),
        ]
        print(f"msrprofile, native, whole process, {args.runs} runs each")
        print(f"{'command':<28}{'median ms':>10}{'min ms':>9}{'max ms':>9}")
        for name, cmd in cases:
            timed(cmd, 3)  # warm the file cache
            t = timed(cmd, args.runs)
            print(f"{name:<28}{statistics.median(t) * 1000:>10.2f}{min(t) * 1000:>9.2f}"
                  f"{max(t) * 1000:>9.2f}")
    print("goal: show and build under 5 ms")


if __name__ == "__main__":
    main()
