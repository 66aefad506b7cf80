#!/usr/bin/env python3
"""How long silent vCOM programming (-v -s) takes under Wine against simulated readers,
compared with what the serial protocol itself costs. Prints figures; asserts nothing.

    python3 bench/vcom_probe.py [--build build/windows] [--native build/native] [--runs 5]

For K = 1, 8 and 32 listed ports of ours, COM2..COM(K+1):
  top      the reader on the highest, the others absent: found at the first port probed
  absent   the reader on COM2, the ports above it listed but their devices gone
  silent   the reader on COM2, the ports above it devices that never answer
The ports are probed from the highest down, so in the last two layouts the K-1 other ports
are all probed before the reader. COM1 is left to the prefix (Wine gives /dev/ttyS0 the
lowest free number, so mapping COM1 would only move it up among ours); it lies below the
reader and is never probed.

The protocol's floor for a run is: Wine start (a run of the same program that probes no
port: -v299 -s) + the 100 ms pause after the settings read command of the answering port +
its reply time (the stand-in answers at once: 0) + for each silent port the same 100 ms
pause and its 216 ms read time-out. The ratio is the median run over that floor."""

import argparse
import statistics
from pathlib import Path

import build_trees

ROOT = Path(__file__).resolve().parents[1]

PAUSE = 0.100          # after the settings read command
READ_TIMEOUT = 0.216   # 200 ms + 1 ms per byte of a 16-byte read, nothing received
INI = bytes.fromhex("462b213a3c3e4005" "51" "112233445566")  # vcomif set: no reset


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    build_trees.add_arguments(ap)
    ap.add_argument("--runs", type=int, default=9, help="runs per layout (median taken)")
    ap.add_argument("--sizes", default="1,8,32")
    args = ap.parse_args()
    build_trees.use(args)
    import rig
    import vcom_sim

    rig.ensure_display()
    rig.ensure_prefix()
    for f in (rig.LOG,):
        if f.exists():
            f.unlink()
    saved_ini = rig.WINDOWS_INI.read_bytes() if rig.WINDOWS_INI.exists() else None
    rig.WINDOWS_INI.write_bytes(INI)
    cwd = rig.workdir("vcombench")

    def timed(ports, cps, runs):
        """Median times of the command lines, run in turn so that a change in the machine's
        load falls on all of them alike."""
        times = {cp: [] for cp in cps}
        for _ in range(runs):
            for cp in cps:
                run = ports.run_exe(cp.split(), cwd)
                if run.returncode != cp.index("-s"):
                    raise RuntimeError(f"{cp}: exit code {run.returncode}")
                times[cp].append(run.elapsed)
        return [statistics.median(times[cp]) for cp in cps]

    def layout(k, kind, runs):
        """Median time of -v -s and of the no-port baseline; the reader's record."""
        with vcom_sim.VcomPorts() as ports:
            top = k + 1 if kind == "top" else 2
            reader = ports.reader(top)
            for n in range(2, k + 2):
                if n == top:
                    continue
                if kind == "silent":
                    ports.reader(n, silent=1)
                else:
                    ports.absent(n)
            ports.apply()
            ports.run_exe(["-v299", "-s"], cwd)  # warm the server and the file cache
            reader.clear_record()
            # With the reader named (-vN) the port list is not read: the difference to -v
            # is what reading the list costs.
            cps = ["-v299 -s", "-v -s"] + ([f"-v{top} -s"] if kind == "top" else [])
            base, total, *named = timed(ports, cps, runs)
            writes = sum(1 for c in reader.record() if c.startswith(vcom_sim.WRITE_PREFIX))
            if writes != runs * (len(cps) - 1):
                raise RuntimeError(f"K={k} {kind}: the reader took {writes} writes in {runs} runs")
            silent = k - 1 if kind == "silent" else 0
            floor = base + PAUSE + silent * (PAUSE + READ_TIMEOUT)
            return base, total, floor, (total - named[0] if named else None)

    sizes = [int(s) for s in args.sizes.split(",")]
    results = {}
    try:
        print(f"{'K':>3} {'layout':<7} {'runs':>4} {'wine start':>10} {'run':>9} "
              f"{'floor':>9} {'ratio':>6} {'port list':>9}")
        for k in sizes:
            for kind in ("top", "absent", "silent"):
                if k == 1 and kind != "top":
                    continue  # one port: all layouts are the same
                runs = max(1, args.runs // 2) if kind == "silent" and k > 8 else args.runs
                base, total, floor, listing = layout(k, kind, runs)
                results[(k, kind)] = (base, total, floor)
                extra = f"{listing * 1000:>7.1f}ms" if listing is not None else ""
                print(f"{k:>3} {kind:<7} {runs:>4} {base * 1000:>8.0f}ms {total * 1000:>7.0f}ms "
                      f"{floor * 1000:>7.0f}ms {total / floor:>6.3f} {extra:>9}", flush=True)
    finally:
        if saved_ini is None:
            rig.WINDOWS_INI.unlink(missing_ok=True)
        else:
            rig.WINDOWS_INI.write_bytes(saved_ini)

    # Per-port costs: the run over the same run's baseline, less the answering port's share
    # as measured with K = 1, spread over the K-1 other ports.
    if (1, "top") in results:
        b1, t1, _ = results[(1, "top")]
        one = t1 - b1
        print(f"answering port: {one * 1000:.1f} ms (protocol: {PAUSE * 1000:.0f} ms)")
        for kind, protocol in (("absent", 0.0), ("silent", PAUSE + READ_TIMEOUT)):
            for k in sizes:
                if k > 1 and (k, kind) in results:
                    b, t, _ = results[(k, kind)]
                    each = (t - b - one) / (k - 1)
                    print(f"{kind} port (K={k}): {each * 1000:.1f} ms each "
                          f"(protocol: {protocol * 1000:.0f} ms)")


if __name__ == "__main__":
    main()
