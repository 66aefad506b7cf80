#!/usr/bin/env python3
"""How long msrprofile doctor takes under Wine with 32 COM ports that hold no reader,
against msrsetup.exe probing the same ports (-v -s). Prints figures; asserts nothing.
Goal: doctor no slower than msrsetup (a ratio of at most 1).

    python3 bench/doctor_speed.py [--build build/windows] [--native build/native] [--runs 5]

COM2..COM33 are listed; layouts:
  absent     each port's device is gone (a reader unplugged): the open fails
  no lines   each port opens, with CTS and DSR off: nothing attached
The two programs run in turn, so that a change in the machine's load falls on both alike.
doctor also looks for doziv.dll and the USB reader, the PS/2 driver and the keyboard
layout; msrsetup -v looks at the COM ports only."""

import argparse
import shutil
import statistics
from pathlib import Path

import build_trees

ROOT = Path(__file__).resolve().parents[1]
PORTS = range(2, 34)
INI = bytes.fromhex("462b213a3c3e4005" "51" "112233445566")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    build_trees.add_arguments(ap)
    ap.add_argument("--runs", type=int, default=5, help="runs per program (median taken)")
    args = ap.parse_args()
    build_trees.use(args)
    import rig
    import vcom_sim

    rig.ensure_display()
    rig.ensure_prefix()
    cwd = rig.workdir("doctorbench")
    shutil.copyfile(rig.BUILD / "msrprofile.exe", cwd / "msrprofile.exe")
    (cwd / "msr.ini").write_bytes(INI)
    programs = {"msrsetup -v -s": (rig.EXE, ["-v", "-s"]),
                "msrprofile doctor": (cwd / "msrprofile.exe", ["doctor"])}
    print(f"{'layout':<9} {'runs':>4} {'msrsetup -v':>12} {'doctor':>9} {'ratio':>6}")
    for layout in ("absent", "no lines"):
        with vcom_sim.VcomPorts() as ports:
            for n in PORTS:
                if layout == "absent":
                    ports.absent(n)
                else:
                    ports.reader(n, silent=1)
            if layout == "no lines":
                for n in PORTS:
                    ports.set_lines(n, cts=False, dsr=False)
            ports.apply()
            ports.run_exe(["doctor"], cwd, exe=programs["msrprofile doctor"][0])  # warm up
            times = {name: [] for name in programs}
            for _ in range(args.runs):
                for name, (exe, cl) in programs.items():
                    run = ports.run_exe(cl, cwd, exe=exe)
                    if name.endswith("doctor") and (run.returncode != 2 or
                                                    b"COM33: " not in run.stdout):
                        raise RuntimeError(f"doctor: exit {run.returncode}, or COM33 not probed")
                    times[name].append(run.elapsed)
            setup, doctor = (statistics.median(times[n]) for n in programs)
            print(f"{layout:<9} {args.runs:>4} {setup * 1000:>10.0f}ms {doctor * 1000:>7.0f}ms "
                  f"{doctor / setup:>6.2f}", flush=True)
    print("goal: doctor no slower than msrsetup -v on the same ports (ratio at most 1)")


if __name__ == "__main__":
    main()
