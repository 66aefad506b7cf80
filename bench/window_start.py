"""Start-up of the setup window: time from start to the window on screen with a USB
reader (the stand-in doziv.dll), against the plainest Win32 window program under the same
Wine, and the peak working set of both. Prints figures; asserts nothing.

    python3 bench/window_start.py [--build BUILD] [--native NATIVE] [--runs N]

Goals: start-up ratio <= 1.3, memory ratio <= 1.2.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build" / "windows"))
    ap.add_argument("--native", default=str(ROOT / "build" / "native"))
    ap.add_argument("--runs", type=int, default=10)
    a = ap.parse_args()
    os.environ["MSR_BUILD_DIR"] = str(Path(a.build).resolve())
    os.environ["MSR_NATIVE_BUILD_DIR"] = str(Path(a.native).resolve())
    os.environ["MSR_SOURCE_DIR"] = str(ROOT)
    sys.path.insert(0, str(ROOT / "tests" / "system"))
    import rig

    rig.ensure_display()
    rig.ensure_prefix()
    for f in (rig.EXE, rig.TOOLS / "startclock.exe", rig.TOOLS / "plainwin.exe"):
        if not f.exists():
            sys.exit(f"{f} is not built")

    inst = rig.workdir("bench-window")
    for f in ("msrsetup.exe", "usbmsrhelp.txt", "ps2msrhelp.txt"):
        shutil.copy(rig.BUILD / f, inst / f)
    shutil.copy(rig.BUILD / "usb_sim" / "full" / "doziv.dll", inst / "doziv.dll")
    shutil.copy(rig.TOOLS / "plainwin.exe", inst / "plainwin.exe")
    state_dir = Path(tempfile.mkdtemp(prefix="bench-usb-", dir=rig.BUILD))
    state = state_dir / "state"
    env = {"MSR_SIM_USB_STATE": str(state), "MSR_SIM_USB_RECORD": str(state_dir / "record")}

    def measure(program):
        state.write_text("base=c6 08 25 3b 3b 3f 01 15\next=00 00 00 00 00 00 00\n")
        # Files, not pipes: Wine's services may outlive the run holding its handles.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            subprocess.run(["wine", str(rig.TOOLS / "startclock.exe"), program], cwd=inst,
                           env=rig.wine_env(env), stdin=subprocess.DEVNULL, stdout=out,
                           stderr=err, timeout=60)
            out.seek(0)
            err.seek(0)
            text = out.read().decode()
            problem = err.read().decode(errors="replace")
        if "start_ms=" not in text:
            sys.exit(f"{program}: no measurement: {problem.strip()[-500:]}")
        fields = dict(kv.split("=") for kv in text.split())
        return float(fields["start_ms"]), int(fields["peak_kb"]), int(fields["exit"])

    results = {"msrsetup.exe": [], "plainwin.exe": []}
    # One warm-up run of each: the first start after a server start pays for the prefix.
    for program in results:
        measure(program)
    for _ in range(a.runs):
        for program in results:
            results[program].append(measure(program))
    shutil.rmtree(state_dir, ignore_errors=True)

    print(f"window start-up under Wine, {a.runs} runs each, warm wineserver")
    print(f"{'program':<14}{'median ms':>11}{'min ms':>9}{'max ms':>9}{'peak KiB':>10}"
          f"{'exit codes':>12}")
    med = {}
    mem = {}
    for program, rows in results.items():
        times = [r[0] for r in rows]
        med[program] = statistics.median(times)
        mem[program] = statistics.median(r[1] for r in rows)
        codes = sorted({r[2] for r in rows})
        print(f"{program:<14}{med[program]:>11.1f}{min(times):>9.1f}{max(times):>9.1f}"
              f"{mem[program]:>10.0f}{str(codes):>12}")
    print(f"start-up ratio msrsetup/plain: {med['msrsetup.exe'] / med['plainwin.exe']:.2f} "
          f"(goal <= 1.3)")
    print(f"peak memory ratio msrsetup/plain: {mem['msrsetup.exe'] / mem['plainwin.exe']:.2f} "
          f"(goal <= 1.2)")


if __name__ == "__main__":
    main()
