"""Silent programming of a USB reader (msrsetup -u -s with the stand-in doziv.dll), the whole
process from start to exit, against a GUI program that imports the same system DLLs and
does next to nothing (tools/plaindlls.exe), and msrprofile's check of the same reader
(msrprofile verify FILE --usb): wall time, CPU time and peak resident memory of the Linux
process that runs each, under the same Wine with the same warm wineserver, all
interleaved. Prints figures; asserts nothing.

Neither program opens a window, but every Wine GUI process attaches to Wine's desktop
process, which needs an X display to stay up: without one, each run would start it anew
and the figures would be Wine's. So, as on a terminal with a desktop, the runs get the
display there is, or a private Xvfb on a machine without one. CPU time is printed beside
wall time as a cross-check that other work on the machine does not sway.

    python3 bench/silent_start.py [--build BUILD] [--runs N]

Goals: msrsetup/plain time ratio <= 1.1, peak memory ratio <= 1.1; msrprofile verify /
msrsetup -u -s time ratio <= 1.1.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import importlib.util
from importlib.machinery import SourceFileLoader
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# p2j mr1..mr7 kq1..kq7, as a technician's settings file holds them.
SETTINGS = bytes([0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x99,
                  0x81, 0x82, 0x03, 0x04, 0x05, 0x06, 0x07])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build" / "windows"))
    ap.add_argument("--runs", type=int, default=60)
    a = ap.parse_args()
    os.environ["MSR_BUILD_DIR"] = str(Path(a.build).resolve())
    os.environ["MSR_SOURCE_DIR"] = str(ROOT)
    sys.path.insert(0, str(ROOT / "tests" / "system"))
    import rig
    import usb_sim

    for f in (rig.EXE, rig.TOOLS / "plaindlls.exe", rig.BUILD / "msrprofile.exe"):
        if not f.exists():
            sys.exit(f"{f} is not built")
    # The yardstick must load what msrsetup loads, or the ratio measures the difference.
    loader = SourceFileLoader("check_image", str(ROOT / "scripts" / "check-image"))
    check_image = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(check_image)
    dlls = {f.name: sorted(d.lower() for d in check_image.read_image(f)["imports"])
            for f in (rig.EXE, rig.TOOLS / "plaindlls.exe")}
    if len({tuple(d) for d in dlls.values()}) != 1:
        sys.exit("msrsetup.exe and plaindlls.exe import different DLLs, so the ratio would "
                 f"not compare like with like: {dlls}")
    rig.ensure_display()
    rig.ensure_prefix()
    # The program logs into \msr.log whenever that file exists (scripts/run makes one), and
    # logging is no part of a normal start.
    rig.LOG.unlink(missing_ok=True)

    inst = rig.workdir("bench-silent")
    app = usb_sim.install(inst)
    shutil.copy(rig.TOOLS / "plaindlls.exe", inst / "plaindlls.exe")
    reader = usb_sim.Reader(Path(tempfile.mkdtemp(prefix="bench-usb-", dir=rig.BUILD)))
    rig.WINDOWS_INI.write_bytes(SETTINGS)
    # The same run without the library beside the program tells the program's own share
    # from the library's (the stand-in's loading and its state files).
    bare = usb_sim.install_exe_only(inst / "bare")
    # msrprofile beside the same library, checking the reader against what it holds.
    shutil.copy(rig.BUILD / "msrprofile.exe", inst / "msrprofile.exe")
    (inst / "reader.ini").write_bytes(bytes(usb_sim.DEFAULT_BASE + usb_sim.DEFAULT_EXT))
    programs = {"msrsetup.exe": [str(app), "-u", "-s"],
                "  no library": [str(bare), "-u", "-s"],
                "plaindlls.exe": [str(inst / "plaindlls.exe")],
                "msrprofile verify": [str(inst / "msrprofile.exe"), "verify", "reader.ini", "--usb"]}

    def measure(args):
        reader.set()
        reader.clear_record()
        start = time.monotonic()
        # Files, not pipes: Wine's services may outlive the run holding its handles.
        with tempfile.TemporaryFile() as out:
            proc = subprocess.Popen(["wine"] + args, cwd=inst, env=rig.wine_env(reader.env()),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=out)
            # The wine launcher execs the loader, which runs the program in this same
            # process: its peak resident set is the program's, Wine's share included.
            _, status, usage = os.wait4(proc.pid, 0)
            proc.returncode = os.waitstatus_to_exitcode(status)
        return (time.monotonic() - start, usage.ru_utime + usage.ru_stime, usage.ru_maxrss,
                proc.returncode)

    results = {name: [] for name in programs}
    try:
        # One warm-up run of each: the first start after a server start pays for the prefix.
        for args in programs.values():
            measure(args)
        for _ in range(a.runs):
            for name, args in programs.items():
                results[name].append(measure(args))
    finally:
        rig.WINDOWS_INI.unlink(missing_ok=True)
        shutil.rmtree(reader.folder, ignore_errors=True)
        shutil.rmtree(inst, ignore_errors=True)

    print(f"silent start to exit under Wine, {a.runs} runs each, interleaved, warm wineserver")
    print(f"{'program':<19}{'median ms':>10}{'min ms':>9}{'max ms':>9}{'cpu ms':>8}"
          f"{'peak KiB':>10}{'exit codes':>12}")
    med, cpu, mem = {}, {}, {}
    for name, rows in results.items():
        times = [r[0] * 1000 for r in rows]
        med[name] = statistics.median(times)
        cpu[name] = statistics.median(r[1] * 1000 for r in rows)
        mem[name] = statistics.median(r[2] for r in rows)
        codes = sorted({r[3] for r in rows})
        print(f"{name:<19}{med[name]:>10.1f}{min(times):>9.1f}{max(times):>9.1f}"
              f"{cpu[name]:>8.1f}{mem[name]:>10.0f}{str(codes):>12}")
    mine, bare, plain = "msrsetup.exe", "  no library", "plaindlls.exe"
    print(f"time ratio msrsetup/plain: {med[mine] / med[plain]:.2f} (goal <= 1.1); "
          f"cpu time ratio {cpu[mine] / cpu[plain]:.2f}; without the library "
          f"{med[bare] / med[plain]:.2f}, cpu {cpu[bare] / cpu[plain]:.2f}")
    print(f"peak memory ratio msrsetup/plain: {mem[mine] / mem[plain]:.2f} (goal <= 1.1)")
    verify = "msrprofile verify"
    print(f"time ratio msrprofile verify --usb / msrsetup -u -s: {med[verify] / med[mine]:.2f} "
          f"(goal <= 1.1); cpu time ratio {cpu[verify] / cpu[mine]:.2f}; "
          f"peak memory ratio {mem[verify] / mem[mine]:.2f}")


if __name__ == "__main__":
    main()
