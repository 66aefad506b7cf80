"""Shared rig of the system tests: the build tree's private Wine prefix, running
msrsetup.exe in it, and its files (the log, the settings file) as a user would see them."""

import atexit
import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("MSR_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD = Path(os.environ.get("MSR_BUILD_DIR", SOURCE / "build" / "windows"))
NATIVE = Path(os.environ.get("MSR_NATIVE_BUILD_DIR", SOURCE / "build" / "native"))
EXE = BUILD / "msrsetup.exe"
TOOLS = BUILD / "tools"
PREFIX = BUILD / "wineprefix"
DRIVE_C = PREFIX / "drive_c"
LOG = DRIVE_C / "msr.log"
# The program is 32-bit: its %p prints a handle or an address as 8 hexadecimal digits.
PTR = "[0-9A-Fa-f]{8}"
NULL = "0" * 8
# The 64-bit loader, for what must run 64-bit (the service manager's kernel drivers).
WINE64 = "/usr/lib/wine/wine64" if Path("/usr/lib/wine/wine64").exists() else "wine64"
WINDOWS_INI = DRIVE_C / "windows" / "tvrnmsr.ini"


def wine_env(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(PREFIX),
        "WINEARCH": "win64",
        "WINEDEBUG": env.get("MSR_WINEDEBUG", "-all"),
        "WINEDLLOVERRIDES": "winedbg.exe=d;mscoree=d;mshtml=d",
    })
    if extra:
        env.update(extra)
    return env


_xvfb = None


def ensure_display():
    """Windows need an X display: use the one we have, or start a private Xvfb."""
    global _xvfb
    if os.environ.get("DISPLAY"):
        return
    r, w = os.pipe()
    _xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24",
                              "-nolisten", "tcp"], pass_fds=(w,), stderr=subprocess.DEVNULL)
    os.close(w)
    number = os.read(r, 16).decode().strip()
    os.close(r)
    os.environ["DISPLAY"] = ":" + number
    atexit.register(_xvfb.kill)
    # A wineserver kept from an earlier run holds a desktop on that run's display, which
    # is gone: windows of this run would never appear. End it; ensure_prefix starts a
    # fresh one, whose desktop uses the new display.
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
             "stderr": subprocess.DEVNULL}
    subprocess.run(["wineserver", "-k"], env=wine_env(), check=False, **quiet)
    subprocess.run(["wineserver", "-w"], env=wine_env(), check=False, **quiet)


def ensure_prefix():
    """Makes the prefix once and keeps one wineserver for the run."""
    subprocess.run(["bash", "-c", f'source "{SOURCE}/scripts/wine-env.sh" && '
                    f'msr_wine_env "{BUILD}" && msr_wine_prefix'], check=True)
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The server, and the service manager, driver host and desktop process that the first
    # Wine process of a fresh server starts, keep the standard handles they inherit for as
    # long as they live: a captured run (or ctest itself) would wait for its pipes forever.
    # So the server gets no pipe, and a throw-away process with null handles starts the rest.
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def workdir(name):
    """A fresh current directory on drive C (the program sees C:\\<name>)."""
    d = DRIVE_C / name
    if d.exists():
        shutil.rmtree(d)
    d.mkdir(parents=True)
    return d


class Run:
    def __init__(self, proc, elapsed):
        self.returncode = proc.returncode
        self.stdout = proc.stdout
        self.stderr = proc.stderr
        self.elapsed = elapsed


def run_exe(args, cwd, timeout=60, exe=EXE, env=None):
    """Runs a Windows program under Wine, the command line given as one string so that
    it reaches the program as typed."""
    cmd = ["wine", str(exe)] + ([args] if isinstance(args, str) and args else list(args or []))
    start = time.monotonic()
    proc = subprocess.run(cmd, cwd=str(cwd), env=wine_env(env), capture_output=True,
                          timeout=timeout)
    return Run(proc, time.monotonic() - start)


def reg_add(key, name, data, kind="REG_SZ"):
    subprocess.run([WINE64, "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                   env=wine_env(), capture_output=True, check=True)


def reg_delete(key, name):
    subprocess.run([WINE64, "reg", "delete", key, "/v", name, "/f"], env=wine_env(),
                   capture_output=True)


def log_text():
    return LOG.read_bytes().decode("latin-1") if LOG.exists() else None


class WineTestCase(unittest.TestCase):
    """Base of every system test: the prefix is ready, no log and no settings file."""

    @classmethod
    def setUpClass(cls):
        if not EXE.exists():
            raise RuntimeError(f"{EXE} is not built")
        ensure_display()
        ensure_prefix()

    def setUp(self):
        for f in (LOG, WINDOWS_INI):
            if f.exists():
                f.chmod(0o644)
                f.unlink()

    def tearDown(self):
        for f in (LOG, WINDOWS_INI):
            if f.exists():
                f.chmod(0o644)
                f.unlink()
