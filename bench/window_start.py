"""Start-up of the setup window under Wine: msrsetup.exe with a USB reader (the stand-in
doziv.dll beside it) against the yardstick (the same window made the plainest way,
bench/yardstick.cpp) and the plain window (one empty window of the same size,
tests/system/tools/plainwin.cpp). Prints figures; asserts nothing.

    python3 bench/window_start.py [--runs N] [--msrsetup EXE] [--build BUILD] [--native NATIVE]

Every program runs once per round, in an order drawn for the round, so that a change in
the machine's load falls on all alike (medians, with the spread):
  shown      process start to its window on screen
  painted    process start to the window painted and the program waiting for input
  cpu        processor time the program itself used until painted (Linux's count, read
             through Wine; the machine's other load hardly changes it, unlike the times)
  peak       peak working set
then the ratios (of the medians, and the median of each round's own ratio, which a
change in the machine's load disturbs less), and a breakdown of each start from a second
set of runs watched by tools/startclock.exe as a debugger (entry-point breakpoint, DLL
load events, windows seen from outside; the programs write and show exactly what they do
otherwise, the watching costs a little time of its own).

Goals: msrsetup at most 1.15 x the yardstick in time and 1.1 x in peak memory.
Works on a display or without one (a private Xvfb, as the system tests use).
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
READER = "base=c6 08 25 3b 3b 3f 01 15\next=00 00 00 00 00 00 00\n"
LIBRARY = "doziv.dll"
PROGRAMS = ("msrsetup.exe", "yardstick.exe", "plainwin.exe")
# Markers of a traced start, in the order they happen; a program has those it reaches.
MARKERS = ("entry_ms", "window_ms", "lib_in_ms", "lib_out_ms", "form_ms", "start_ms",
           "painted_ms")
PHASES = (
    ("process start to entry point", None, "entry_ms"),
    ("entry point to first window", "entry_ms", "window_ms"),
    ("first window to reader detection", "window_ms", "lib_in_ms"),
    ("reader detection", "lib_in_ms", "lib_out_ms"),
    ("detection to the form's window", "lib_out_ms", "form_ms"),
    ("form creation (controls), shown", "form_ms", "start_ms"),
    ("showing and first paint", "start_ms", "painted_ms"),
    ("total, watched", None, "painted_ms"),
)


def parse_args():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=str(ROOT / "build" / "windows"))
    ap.add_argument("--native", default=str(ROOT / "build" / "native"))
    ap.add_argument("--runs", type=int, default=10, help="runs of each program (medians)")
    ap.add_argument("--msrsetup", help="another msrsetup.exe to measure (default: the build's)")
    return ap.parse_args()


def main():
    a = parse_args()
    os.environ["MSR_BUILD_DIR"] = str(Path(a.build).resolve())
    os.environ["MSR_NATIVE_BUILD_DIR"] = str(Path(a.native).resolve())
    os.environ["MSR_SOURCE_DIR"] = str(ROOT)
    sys.path.insert(0, str(ROOT / "tests" / "system"))
    import rig

    exe = Path(a.msrsetup).resolve() if a.msrsetup else rig.EXE
    needed = [exe, rig.TOOLS / "startclock.exe", rig.TOOLS / "yardstick.exe",
              rig.TOOLS / "plainwin.exe", rig.BUILD / "usb_sim" / "full" / LIBRARY]
    for f in needed:
        if not f.exists():
            sys.exit(f"{f} is not built (cmake --build --preset windows)")
    rig.ensure_display()
    rig.ensure_prefix()
    # The program logs into \msr.log whenever that file exists (scripts/run makes one), and
    # logging is no part of a normal start.
    rig.LOG.unlink(missing_ok=True)

    inst = rig.workdir("bench-window")
    shutil.copy(exe, inst / "msrsetup.exe")
    for f in ("usbmsrhelp.txt", "ps2msrhelp.txt"):
        shutil.copy(rig.BUILD / f, inst / f)
    shutil.copy(rig.BUILD / "usb_sim" / "full" / LIBRARY, inst / LIBRARY)
    for f in ("yardstick.exe", "plainwin.exe"):
        shutil.copy(rig.TOOLS / f, inst / f)
    state_dir = Path(tempfile.mkdtemp(prefix="bench-usb-"))
    state = state_dir / "state"
    env = {"MSR_SIM_USB_STATE": str(state), "MSR_SIM_USB_RECORD": str(state_dir / "record")}

    def measure(program, trace=False):
        state.write_text(READER)
        args = ["--trace", "--lib", LIBRARY] if trace else []
        out = run_clock(rig, inst, env, args + [program])
        if out is None:
            # Once more with Wine's error messages, to say why.
            diag = dict(env, WINEDEBUG="err+all")
            problem = run_clock(rig, inst, diag, [program], errors=True)
            sys.exit(f"{program}: no measurement:\n{problem}")
        fields = dict(kv.split("=") for kv in out.split())
        if fields["exit"] == "999":
            # A second start would find it still there and end at once.
            sys.exit(f"{program} did not end within 20 s of its close box")
        return {k: float(v) for k, v in fields.items()}

    try:
        # One run of each first: the first start after a server start pays for the prefix.
        for program in PROGRAMS:
            measure(program)
        plain = {p: [] for p in PROGRAMS}
        traced = {p: [] for p in PROGRAMS}
        # Each round runs every program once, in an order of its own, so that nothing
        # else on the machine that comes and goes in step with the rounds falls on one
        # program only.
        order = random.Random(a.runs)
        for _ in range(a.runs):
            for program in order.sample(PROGRAMS, len(PROGRAMS)):
                plain[program].append(measure(program))
        for _ in range(a.runs):
            for program in order.sample(PROGRAMS, len(PROGRAMS)):
                traced[program].append(measure(program, trace=True))
    finally:
        shutil.rmtree(state_dir, ignore_errors=True)
    report(plain, traced, a.runs, exe)


def run_clock(rig, inst, env, args, errors=False):
    """startclock's line, or None when it measured nothing (with errors: what went wrong)."""
    # Files, not pipes: Wine's services may outlive the run holding its handles.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        subprocess.run(["wine", str(rig.TOOLS / "startclock.exe")] + args, cwd=inst,
                       env=rig.wine_env(env), stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                       timeout=120)
        out.seek(0)
        err.seek(0)
        text = out.read().decode(errors="replace")
        problem = err.read().decode(errors="replace")
    if errors:
        return problem.strip()[-2000:]
    return text if "start_ms=" in text else None


def med(rows, key):
    values = [r[key] for r in rows if r.get(key, -1) >= 0]
    return statistics.median(values) if values else None


def report(plain, traced, runs, exe):
    print(f"window start-up under Wine: {exe}")
    print(f"{runs} runs of each program, interleaved, warm wineserver; medians [min-max]")
    print(f"{'program':<15}{'shown ms':>22}{'painted ms':>22}{'cpu ms':>18}{'peak KiB':>10}"
          f"{'exit':>6}")
    m = {}
    for program, rows in plain.items():
        m[program] = {k: med(rows, k) for k in ("start_ms", "painted_ms", "cpu_ms", "peak_kb")}

        def spread(key):
            v = [r[key] for r in rows]
            return f"{statistics.median(v):.1f} [{min(v):.0f}-{max(v):.0f}]"

        codes = sorted({int(r["exit"]) for r in rows})
        print(f"{program:<15}{spread('start_ms'):>22}{spread('painted_ms'):>22}"
              f"{spread('cpu_ms'):>18}{m[program]['peak_kb']:>10.0f}"
              f"{','.join(map(str, codes)):>6}")

    def ratio(p, q, key):
        return m[p][key] / m[q][key]

    def paired(p, q, key):
        # Each round runs the programs one after the other: a change in the machine's load
        # falls on both sides of a round's ratio alike.
        return statistics.median(a[key] / b[key] for a, b in zip(plain[p], plain[q]))

    print()
    print("ratios: of the medians; in brackets the median of each round's own ratio")
    print(f"{'':<26}{'shown':>14}{'painted':>14}{'cpu':>14}{'peak':>14}")
    for p, q, goal in (("msrsetup.exe", "yardstick.exe", "goal <= 1.15 (time), 1.1 (peak)"),
                       ("msrsetup.exe", "plainwin.exe", ""),
                       ("yardstick.exe", "plainwin.exe", "")):
        cells = "".join(f"{ratio(p, q, k):>7.2f} ({paired(p, q, k):.2f})"
                        for k in ("start_ms", "painted_ms", "cpu_ms", "peak_kb"))
        print(f"{p[:-4] + ' / ' + q[:-4]:<26}{cells}   {goal}")

    print()
    print("breakdown of the start, watched runs (medians, ms)")
    print(f"{'phase':<36}" + "".join(f"{p[:-4]:>11}" for p in PROGRAMS))
    for label, begin, end in PHASES:
        cells = []
        for program in PROGRAMS:
            values = []
            for r in traced[program]:
                b = 0.0 if begin is None else r.get(begin, -1)
                e = r.get(end, -1)
                if b >= 0 and e >= 0:
                    values.append(e - b)
            cells.append(f"{statistics.median(values):>11.1f}" if values else f"{'-':>11}")
        print(f"{label:<36}" + "".join(cells))


if __name__ == "__main__":
    main()
