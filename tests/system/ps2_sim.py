"""The keyboard-wedge and touch driver stand-ins (sim/drivers) as the system tests use
them: installed as kernel services in the rig's Wine prefix, told how to misbehave
through their config.txt, and read back through their record.txt and state.txt, all in
C:\\msrsim\\<device>\\."""

import shutil
import subprocess
import tempfile
import time

import rig

SIM_DIR = rig.DRIVE_C / "msrsim"
DRIVER_DIR = rig.BUILD / "drivers"

# Device name -> (service name, driver file).
DRIVERS = {
    "VIDEDU": ("MsrSimVidedu", "videdu.sys"),
    "krnldrvr": ("MsrSimKrnldrvr", "krnldrvr.sys"),
    "DUVU.VXD": ("MsrSimDuvu", "duvu.sys"),
    "ROZIVADU": ("MsrSimRozivadu", "rozivadu.sys"),
}

BASE_NAMES = ("p2j", "mr1", "mr2", "mr3", "mr4", "mr5", "mr6", "mr7")


def _sc(*args):
    """Runs Wine's sc through the 64-bit loader: a service that the 32-bit sc creates is
    marked 32-bit and hosted in a 32-bit driver host, which can't load the (64-bit)
    stand-in drivers. Its output goes through a file, not a pipe: the first sc of a fresh
    wineserver starts the service manager and the driver host, which inherit its
    standard handles and keep a pipe open for as long as they live."""
    with tempfile.TemporaryFile() as out:
        proc = subprocess.run([rig.WINE64, "sc", *args], env=rig.wine_env(), stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.STDOUT, timeout=60)
        out.seek(0)
        proc.stdout = out.read().decode("latin-1")
    return proc


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


class Driver:
    def __init__(self, device):
        self.device = device
        self.service, self.file = DRIVERS[device]
        self.folder = SIM_DIR / device

    def running(self):
        return "RUNNING" in _sc("query", self.service).stdout

    def wait_running(self, seconds):
        deadline = time.monotonic() + seconds
        while not self.running():
            if time.monotonic() > deadline:
                return False
            time.sleep(0.2)
        return True

    def install(self):
        """Creates and starts the kernel service; its device is there once this returns."""
        self.remove()
        self.reset()
        binary = DRIVER_DIR / self.file
        if not binary.exists():
            raise RuntimeError(f"{binary} is not built")
        created = _sc("create", self.service, "type=", "kernel", "start=", "demand",
                      "binPath=", windows_path(binary))
        if created.returncode != 0:
            raise RuntimeError(f"sc create {self.service}: {created.stdout}")
        # Right after a fresh prefix the first start can fail, and on a busy machine the
        # service may take a while to report running: look for a few seconds, and start
        # it again if it still doesn't.
        for _ in range(3):
            started = _sc("start", self.service)
            if self.wait_running(5):
                break
        if not self.running():
            raise RuntimeError(f"sc start {self.service}: {started.stdout}")

    def remove(self):
        """Stops and deletes the service (its device goes with it); no error if absent."""
        if self.running():
            _sc("stop", self.service)
            for _ in range(50):
                if not self.running():
                    break
                time.sleep(0.1)
        _sc("delete", self.service)

    def reset(self):
        """Forgets what the driver recorded and stored, and any misbehaviour."""
        self.folder.mkdir(parents=True, exist_ok=True)
        for name in ("config.txt", "record.txt", "state.txt"):
            (self.folder / name).unlink(missing_ok=True)

    def configure(self, rules):
        """rules: control code -> "fail" or the byte count to answer with."""
        text = "".join(f"{code:08x} {rule}\n" for code, rule in rules.items())
        (self.folder / "config.txt").write_text(text)

    def record(self):
        """The control calls received, oldest first, as dicts: code, in, out, nonzero,
        ret (ints) and ok (bool)."""
        path = self.folder / "record.txt"
        if not path.exists():
            return []
        calls = []
        for line in path.read_text().splitlines():
            code, *fields, result = line.split()
            call = {k: int(v) for k, v in (f.split("=") for f in fields)}
            call["code"] = int(code, 16)
            call["ok"] = result == "ok"
            calls.append(call)
        return calls

    def codes(self):
        return [c["code"] for c in self.record()]

    def state(self):
        """The base block the simulated reader holds, as a list of eight ints in the
        order p2j, mr1..mr7, or None before anything was written."""
        path = self.folder / "state.txt"
        if not path.exists():
            return None
        values = dict(line.split("=") for line in path.read_text().splitlines())
        return [int(values[n], 16) for n in BASE_NAMES]


def clear_files():
    """Empties C:\\msrsim. Only while no stand-in is installed: a running one writes into
    its folder, which install() makes."""
    shutil.rmtree(SIM_DIR, ignore_errors=True)


def remove_all():
    for device in DRIVERS:
        Driver(device).remove()
    shutil.rmtree(SIM_DIR, ignore_errors=True)
