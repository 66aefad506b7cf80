#!/usr/bin/env python3
"""A long station session natively: readers appearing and going, one after another, on the
simulated reader's serial port (tests/system/linux_serial.py: needs root). Prints figures;
asserts nothing. Goals: the station adds at most 10 % per reader to what write alone takes,
and its memory stays flat.

    python3 bench/station_soak.py [--native build/native] [--readers 1000] [--writes 30]

Each reader is the stand-in answering with its factory settings (plugged in), then silent
(unplugged). The station's time per reader is its JSON "seconds" (the look that found it,
write, read back, compare); write alone is `msrprofile write` against the same stand-in,
the whole process. Peak memory (VmHWM) after the 100th reader and after the last."""

import argparse
import json
import signal
import statistics
import tempfile
import time
from pathlib import Path

import build_trees


def history(profile):
    """Each write keeps what it replaced: in the run's own folder, not the system's."""
    return {"MSRPROFILE_HISTORY": str(profile.parent / "history")}


def station(ports, reader, exe, profile, factory, readers, read_cmd):
    """Seconds per reader, seconds from plugging in to being found, the whole cycle's
    seconds, the looks a second at an empty port, and the peak memory by reader count."""
    # No --count: the station still runs after the last reader, for its memory to be read.
    proc = ports.start([exe, "station", str(profile), "--port", reader.node, "--json"],
                       env=history(profile))
    own, found, peaks = [], [], {}
    try:
        idle = 5.0
        reader.clear_record()
        time.sleep(idle)
        looks = sum(1 for c in reader.record() if c == read_cmd) / idle
        started = time.monotonic()
        for number in range(1, readers + 1):
            line = ""
            while f"plug in reader {number}" not in line:
                line = proc.stderr.readline()
                if not line:
                    raise RuntimeError("the station ended before it waited for a reader")
            reader.set_state(silent=0, **factory)
            plugged = time.monotonic()
            end = json.loads(proc.stdout.readline())
            if end["outcome"] != "written":
                raise RuntimeError(f"reader {number}: {end}")
            own.append(end["seconds"])
            found.append(time.monotonic() - plugged - end["seconds"])
            if number in (100, readers):
                status = Path(f"/proc/{proc.pid}/status").read_text()
                peaks[number] = int(status.split("VmHWM:")[1].split()[0])
            reader.set_state(silent=1)
        proc.send_signal(signal.SIGTERM)
        proc.stdout.readline()  # the summary
        if proc.wait(timeout=30) != 0:
            raise RuntimeError(f"the station ended with {proc.returncode}")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return own, found, (time.monotonic() - started) / readers, looks, peaks


def write_alone(ports, reader, exe, profile, factory, writes):
    times = []
    for _ in range(writes):
        reader.set_state(silent=0, **factory)
        run = ports.run([exe, "write", str(profile), "--port", reader.node], env=history(profile))
        if run.returncode != 0:
            raise RuntimeError(f"write: {run.returncode} {run.stderr}")
        times.append(run.elapsed)
    return times


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--readers", type=int, default=1000)
    ap.add_argument("--writes", type=int, default=30)
    args, linux_serial = build_trees.serial_bench(ap)
    import vcom_sim

    exe = str(linux_serial.NATIVE / "msrprofile")
    with tempfile.TemporaryDirectory() as d, linux_serial.LinuxSerial() as ports:
        reader = ports.reader(silent=1)
        factory = {k: v for k, v in reader.state().items() if k in vcom_sim.BYTE_KEYS}
        profile = Path(d) / "lrc.toml"
        # The reader's own interface: a switch would end each write without a read-back.
        profile.write_text('send_lrc = true\ninterface = "virtual COM port"\n')
        alone = write_alone(ports, reader, exe, profile, factory, args.writes)
        reader.set_state(silent=1, **factory)
        own, found, cycle, looks, peaks = station(ports, reader, exe, profile, factory,
                                                  args.readers, vcom_sim.READ_CMD)
    w, s = statistics.median(alone), statistics.median(own)
    for name, t in ((f"write alone, {len(alone)} runs:", alone), (f"station, {len(own)} readers:", own)):
        print(f"{name:<23} median {statistics.median(t) * 1000:6.1f} ms, max {max(t) * 1000:.1f}")
    print(f"ratio station / write alone: {s / w:.3f}  (goal: at most 1.10)")
    print(f"found after plugging in: median {statistics.median(found) * 1000:.0f} ms, max "
          f"{max(found) * 1000:.0f} ms (goal: within 1 s); looks at an empty port: "
          f"{looks:.1f} a second (at most 2)")
    print(f"whole cycle per reader, plugging and unplugging at the station's pace: "
          f"{cycle * 1000:.0f} ms")
    for number, kib in sorted(peaks.items()):
        print(f"peak memory after {number:>5} readers: {kib} KiB")


if __name__ == "__main__":
    main()
