"""Shared rig of the system tests: the build tree's private Wine prefix, running
msrsetup.exe in it, and its files (the log, the settings file) as a user would see them."""

import atexit
import os
import shutil
import signal
import socket
import subprocess
import sys
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
# The 32-bit product as it ships, whichever build the tests run.
PRODUCT = Path(os.environ.get("MSR_PRODUCT_BUILD_DIR", SOURCE / "build" / "windows"))
# The 64-bit loader, for what must run 64-bit (the service manager's kernel drivers).
WINE64 = "/usr/lib/wine/wine64" if Path("/usr/lib/wine/wine64").exists() else "wine64"
# A kernel without IA-32 emulation runs no 32-bit program, 32-bit Wine included. The tests
# then run the x86-64 build of the same sources (scripts/test builds it) under 64-bit Wine,
# and "wine" is that loader; what only a started 32-bit program can show is skipped.
def _runs_32bit():
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], **QUIET_RUN).returncode == 0
    except OSError:  # "Exec format error", or no 32-bit Wine at all
        return False


QUIET_RUN = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
             "stderr": subprocess.DEVNULL}
RUNS_32BIT = _runs_32bit()
NO_32BIT = "this machine's kernel runs no 32-bit programs (no IA-32 emulation)"
if not RUNS_32BIT:
    os.environ["PATH"] = f"{SOURCE / 'scripts' / 'wine64-only'}:{os.environ.get('PATH', '')}"
    os.environ["WINELOADER"] = WINE64


def _pe_bits(exe):
    """32 or 64, from the PE header's machine field (32 when the file can't be read)."""
    try:
        data = exe.read_bytes()[:4096]
        pe = int.from_bytes(data[0x3C:0x40], "little")
        return 64 if int.from_bytes(data[pe + 4:pe + 6], "little") == 0x8664 else 32
    except (OSError, ValueError):
        return 32


# %p prints a handle or an address as 8 hexadecimal digits in the 32-bit program, 16 in
# the x86-64 build.
BITS = _pe_bits(EXE)
PTR = "[0-9A-Fa-f]{%d}" % (BITS // 4)
NULL = "0" * (BITS // 4)
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


# A ctest run without a display keeps one Xvfb and one wineserver for all the test files:
# `rig.py start` (a fixture test) starts them and writes "<pid> <display>" here;
# `rig.py stop` ends them.
SESSION = BUILD / "rig-session"
QUIET = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}


def _accepts(address):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        try:
            s.connect(address)
            return True
        except OSError:
            return False


def _display_taken(number):
    """A running server holds the display: it takes connections (on its socket file or the
    abstract one), or its lock file names a live process."""
    socket_path = f"/tmp/.X11-unix/X{number}"
    if _accepts(socket_path) or _accepts("\0" + socket_path):
        return True
    try:
        pid = int(Path(f"/tmp/.X{number}-lock").read_text().strip())
        os.kill(pid, 0)
        return True
    except (OSError, ValueError):
        return False


def _start_xvfb(**popen):
    """A private Xvfb on a display of its own: (process, ":N"). Xvfb's own choice of a free
    display (-displayfd) trusts the lock files in /tmp; a server whose lock file has gone
    makes it pick that server's number and fail (the programs then end with "no driver
    could be loaded"), or leaves DISPLAY on another user's screen. So the number is chosen
    here, and the server kept only once it is up and takes connections."""
    for number in range(100, 200):
        if _display_taken(number):
            continue
        xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"], **QUIET, **popen)
        deadline = time.monotonic() + 10
        while xvfb.poll() is None and time.monotonic() < deadline:
            if _accepts(f"/tmp/.X11-unix/X{number}"):
                return xvfb, f":{number}"
            time.sleep(0.05)
        _stop(xvfb)
    raise RuntimeError("no X display: Xvfb would not start on any of :100..:199")


def _stop(xvfb):
    """Ends a server so that it takes its lock file and socket with it."""
    xvfb.terminate()
    try:
        xvfb.wait(timeout=5)
    except subprocess.TimeoutExpired:
        xvfb.kill()
        xvfb.wait()


def _end_wineserver():
    # A wineserver kept from an earlier run holds a desktop on that run's display, which
    # may be gone: windows of this run would never appear. End it; ensure_prefix starts a
    # fresh one, whose desktop uses the display of this run.
    subprocess.run(["wineserver", "-k"], env=wine_env(), check=False, **QUIET)
    subprocess.run(["wineserver", "-w"], env=wine_env(), check=False, **QUIET)


def _session():
    """(pid, display) of the session's Xvfb while it runs, else None."""
    try:
        pid, display = SESSION.read_text().split()
        cmdline = Path(f"/proc/{pid}/cmdline").read_bytes()
    except (OSError, ValueError):
        return None
    return (int(pid), display) if cmdline.split(b"\0")[0].endswith(b"Xvfb") else None


def ensure_display():
    """Windows need an X display: the one we have, the session's, or a private Xvfb."""
    if os.environ.get("DISPLAY"):
        return
    session = _session()
    if session:
        os.environ["DISPLAY"] = session[1]
        return
    xvfb, os.environ["DISPLAY"] = _start_xvfb()
    atexit.register(_stop, xvfb)
    # Registered last, so run first: the wineserver kept for the run goes before the
    # display its desktop lives on.
    atexit.register(subprocess.run, ["wineserver", "-k"], env=wine_env(), check=False, **QUIET)
    _end_wineserver()


def start_session():
    """One Xvfb (unless there is a display) and one wineserver for the test files to come.
    Both are detached: ctest waits for nothing that still holds the test's output."""
    stop_session()
    if not os.environ.get("DISPLAY"):
        xvfb, os.environ["DISPLAY"] = _start_xvfb(start_new_session=True)
        SESSION.write_text(f"{xvfb.pid} {os.environ['DISPLAY']}\n")
        _end_wineserver()
    ensure_prefix()


def stop_session():
    """Ends what start_session started; with a display of the caller's, nothing."""
    session = _session()
    if session:
        _end_wineserver()
        os.kill(session[0], signal.SIGTERM)
    SESSION.unlink(missing_ok=True)


def ensure_prefix():
    """Makes the prefix once and keeps one wineserver for the run."""
    subprocess.run(["bash", "-c", f'source "{SOURCE}/scripts/wine-env.sh" && '
                    f'msr_wine_env "{BUILD}" && msr_wine_prefix'], check=True)
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False, **QUIET)
    # The server, and the service manager, driver host and desktop process that the first
    # Wine process of a fresh server starts, keep the standard handles they inherit for as
    # long as they live: a captured run (or ctest itself) would wait for its pipes forever.
    # So the server gets no pipe, and a throw-away process with null handles starts the rest.
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), check=False, **QUIET)


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


if __name__ == "__main__":
    # python3 rig.py start|stop: the ctest fixtures around the system tests.
    # python3 rig.py start-xvfb: for the shell scripts (scripts/wine-env.sh, msr_xvfb), a
    # private Xvfb chosen as above that outlives this call; prints its display number and
    # process id.
    command = sys.argv[1] if len(sys.argv) == 2 else ""
    if command == "start-xvfb":
        server, display = _start_xvfb()
        print(display.lstrip(":"), server.pid)
    elif command in ("start", "stop"):
        {"start": start_session, "stop": stop_session}[command]()
    else:
        sys.exit("usage: rig.py start|stop|start-xvfb")
