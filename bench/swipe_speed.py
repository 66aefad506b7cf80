#!/usr/bin/env python3
"""How long msrprofile swipe takes natively from the last byte of a swipe to its report,
against the simulated reader on a serial port (tests/system/linux_serial.py: needs root).
Prints figures; asserts nothing. Goal: under 50 ms.

    python3 bench/swipe_speed.py [--native build/native] [--swipes 30]

One msrprofile process waits for --swipes swipes of a test card (--count), so that each
figure is the swipe alone, not the start of a process. The last byte's time is when the
stand-in wrote its swipe count, right after sending (the file's modification time); the
report's is when its last line reached this script. Layouts:
  profile    the reader's framing given (--profile): the swipe ends with its CR
  no profile the swipe ends 40 ms after its CR, when no second CR follows
  no CR      a reader that sends no CR: the swipe ends 300 ms after its last byte"""

import argparse
import statistics
import tempfile
import time
from pathlib import Path

import build_trees

ROOT = Path(__file__).resolve().parents[1]
NOCR = 0x80  # kq1: no ending CR


def latencies(ports, reader, exe, extra, swipes):
    """The milliseconds from each swipe's last byte to its report."""
    proc = ports.start([exe, "swipe", "--port", reader.node, "--count", str(swipes)] + extra)
    card = {"track1": vcom_sim.TEST_TRACK1, "track2": vcom_sim.TEST_TRACK2}
    times = []
    try:
        for _ in range(swipes):
            line = ""
            while "swipe a card on " not in line:
                line = proc.stderr.readline()
                if not line:
                    raise RuntimeError("msrprofile ended before it waited for a swipe")
            reader.swipe(**card)
            last_byte = reader.swiped_path.stat().st_mtime_ns
            while not line.startswith("the swipe is "):
                line = proc.stdout.readline()
                if not line:
                    raise RuntimeError("msrprofile ended without a report")
            times.append((time.time_ns() - last_byte) / 1e6)
            if "valid" not in line or "not valid" in line:
                raise RuntimeError(f"the swipe was not read as valid: {line.strip()}")
    finally:
        proc.kill()
        proc.wait()
    return times


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--swipes", type=int, default=30)
    args, linux_serial = build_trees.serial_bench(ap)
    global vcom_sim
    import vcom_sim

    exe = str(linux_serial.NATIVE / "msrprofile")
    with tempfile.TemporaryDirectory() as d, linux_serial.LinuxSerial() as ports:
        reader = ports.reader()
        settings = reader.settings()
        profile = Path(d) / "reader.ini"
        profile.write_bytes(settings)
        print(f"{'layout':<11} {'swipes':>6} {'median':>8} {'p90':>8} {'max':>8}")
        for name, kq1, extra in (("profile", settings[8], ["--profile", str(profile)]),
                                 ("no profile", settings[8], []),
                                 ("no CR", settings[8] | NOCR, [])):
            reader.set_state(kq1=kq1)
            t = sorted(latencies(ports, reader, exe, extra, args.swipes))
            p90 = t[min(len(t) - 1, int(len(t) * 0.9))]
            print(f"{name:<11} {len(t):>6} {statistics.median(t):>6.1f}ms {p90:>6.1f}ms "
                  f"{t[-1]:>6.1f}ms", flush=True)
    print("goal: under 50 ms from the last byte to the report (a reader that sends no CR "
          "can only be heard to end by its silence)")


if __name__ == "__main__":
    main()
