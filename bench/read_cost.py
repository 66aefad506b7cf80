#!/usr/bin/env python3
"""What taking a settings record only when two reads agree costs msrprofile natively,
against the simulated reader on a serial port (tests/system/linux_serial.py: needs root).
Prints figures; asserts nothing.

    python3 bench/read_cost.py [--native build/native] [--runs 10]

Rows, whole process each:
  one read        the transport's single settings read and queries (tests/system/posix_vcom)
  read            msrprofile read: two reads that agree
  read, stray     msrprofile read of a reader that sends one stray byte first: three reads
  write           msrprofile write of a one-option profile: reads, history entry, write,
                  read-back"""

import argparse
import os
import statistics
import tempfile
from pathlib import Path

import build_trees


def median_ms(ports, reader, cmd, runs, state=None, env=None):
    times = []
    for _ in range(runs):
        if state:
            reader.set_state(**state)
        run = ports.run(cmd, env=env)
        if run.returncode != 0:
            raise SystemExit(f"{' '.join(map(str, cmd))}: exit {run.returncode}: {run.stderr}")
        times.append(run.elapsed * 1000)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=10)
    args, linux_serial = build_trees.serial_bench(ap)

    exe = linux_serial.NATIVE / "msrprofile"
    driver = linux_serial.NATIVE / "tests" / "system" / "posix_vcom"
    with tempfile.TemporaryDirectory() as d, linux_serial.LinuxSerial() as ports:
        reader = ports.reader()
        profile = Path(d) / "lrc.toml"
        profile.write_text("send_lrc = true\n")
        env = {"MSRPROFILE_HISTORY": os.path.join(d, "history")}
        rows = [("one read", [driver, "read", reader.node], None),
                ("read", [exe, "read", "--port", reader.node], None),
                ("read, stray", [exe, "read", "--port", reader.node], {"stray": "25"}),
                ("write", [exe, "write", str(profile), "--port", reader.node], None)]
        base = None
        print(f"{'':<12} {'median':>8} {'over one read':>14}")
        for name, cmd, state in rows:
            ms = median_ms(ports, reader, cmd, args.runs, state, env)
            base = ms if base is None else base
            print(f"{name:<12} {ms:>6.0f}ms {ms - base:>12.0f}ms", flush=True)


if __name__ == "__main__":
    main()
