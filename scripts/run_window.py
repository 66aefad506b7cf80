"""The window run of scripts/run: installs msrsetup.exe with its help texts and the
stand-in reader library on drive C, starts it against a simulated reader, saves a
screenshot when headless, and prints the reader's configuration once the window closed.

    run_window.py usb|vcom|none HEADLESS(0|1) [program arguments...]
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "system"))
import rig  # noqa: E402

READER_BASE = "c6 08 25 3b 3b 3f 01 15"  # f/w 15h: a reader with the full window


def install(usb_library):
    """The installation; the USB library only where a USB reader is played (without
    its state file the stand-in plays a default reader)."""
    d = rig.DRIVE_C / "msrsetup"
    d.mkdir(parents=True, exist_ok=True)
    for f in ("msrsetup.exe", "usbmsrhelp.txt", "ps2msrhelp.txt"):
        shutil.copy(rig.BUILD / f, d / f)
    dll = d / "doziv.dll"
    if usb_library:
        shutil.copy(rig.BUILD / "usb_sim" / "full" / "doziv.dll", dll)
    elif dll.exists():
        dll.unlink()
    return d


def winctl(*args):
    with open(os.devnull, "wb") as null:
        return subprocess.run(["wine", str(rig.TOOLS / "winctl.exe")] + list(args),
                              env=rig.wine_env(), stdin=null, stdout=null,
                              stderr=null).returncode


def run(cwd, args, env, headless, wait=30):
    print(f"starting C:\\msrsetup\\msrsetup.exe {' '.join(args)}", flush=True)
    proc = subprocess.Popen(["wine", str(cwd / "msrsetup.exe")] + args, cwd=str(cwd),
                            env=rig.wine_env(env), stdin=subprocess.DEVNULL)
    # With -s anywhere on the command line the program runs silently: no window to wait for.
    silent = "-s" in " ".join(args)
    if headless and not silent:
        if winctl("--timeout", str(wait), "wait-window") == 0:
            shot = rig.BUILD / "artifacts" / "run-window.png"
            shot.parent.mkdir(parents=True, exist_ok=True)
            subprocess.run(["/usr/bin/import", "-window", "root", str(shot)], check=False)
            print(f"no display: screenshot of the window saved as {shot}; closing it with "
                  f"\"Cancel & Exit\"", flush=True)
            winctl("click", "Button3")
        else:
            shot = rig.BUILD / "artifacts" / "run-nowindow.png"
            shot.parent.mkdir(parents=True, exist_ok=True)
            subprocess.run(["/usr/bin/import", "-window", "root", str(shot)], check=False)
            print(f"no window came up (screenshot: {shot}); answering a message box if any",
                  flush=True)
            winctl("--timeout", "5", "answer-box", rig_title(), "ok")
    code = proc.wait()
    print(f"exit code: {code}")
    return code


def rig_title():
    return "ZOV ORU VAZ Izove Duro"


def main():
    mode, headless, args = sys.argv[1], sys.argv[2] == "1", sys.argv[3:]
    cwd = install(usb_library=mode != "vcom")
    sim_dir = rig.BUILD / "demo"
    sim_dir.mkdir(parents=True, exist_ok=True)
    if mode in ("usb", "none"):
        state = sim_dir / "usb-state"
        state.write_text(f"base={READER_BASE}\next=00 00 00 00 00 00 00\n"
                         f"present={0 if mode == 'none' else 1}\nextended=1\ncif=1\n")
        env = {"MSR_SIM_USB_STATE": str(state), "MSR_SIM_USB_RECORD": str(sim_dir / "usb-record")}
        code = run(cwd, args, env, headless, wait=30 if mode == "usb" else 8)
        if mode == "usb":
            print("--- the simulated USB reader's configuration now")
            print(state.read_text(), end="")
        return code
    import vcom_sim
    with vcom_sim.VcomPorts(sim_dir / "vcom") as ports:
        reader = ports.reader(5, mr7=0x15, cif=1)
        ports.apply()
        code = run(cwd, args, ports.env(), headless)
        reader.settle()
        print("--- the simulated vCOM reader's configuration now (COM5)")
        for k, v in reader.state().items():
            print(f"{k}={v:02x}" if k in vcom_sim.BYTE_KEYS else f"{k}={v}")
    return code


if __name__ == "__main__":
    sys.exit(main())
