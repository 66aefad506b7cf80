"""Simulated readers on virtual COM ports, for the system tests, the benchmark and the demo.

A reader is sim/vcom_reader on a pseudo-terminal. `VcomPorts` maps each simulated port into
the Wine prefix as Wine maps a real one: a value COMn=/dev/pts/N under
HKLM\\Software\\Wine\\Ports, which Wine turns into a dosdevices/comN link and a COMn entry
under HARDWARE\\DEVICEMAP\\SERIALCOMM when its server next starts; so `apply()` restarts the
wineserver. msrsetup.exe is run with sim/modem_lines preloaded, which gives the
pseudo-terminals the CTS/DSR lines a real port has, settable per port.

Mapping COM1 moves the prefix's own serial device (/dev/ttyS0, COM1 by default) to the
lowest free number, where it is probed like any other port: leave COM1 alone.

    with VcomPorts() as ports:
        com5 = ports.reader(5)                  # a reader answering on COM5
        ports.reader(7, silent=1)               # a device on COM7 that never answers
        ports.absent(3)                         # COM3 listed, its device gone
        ports.set_lines(7, cts=False, dsr=False)
        ports.apply()
        run = ports.run_exe(["-v5", "-s"], rig.workdir("t"))
        com5.record()                           # the commands COM5 received
        com5.state()                            # its settings and counters
        com5.swipe(track1="%B4111...?", track2=";4111...?")  # framed by its settings
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

import rig

READER_EXE = rig.NATIVE / "sim" / "vcom_reader" / "vcom_reader"
# One build per word size; the dynamic loader picks the one of the process through $LIB.
MODEM_LINES_DIR = rig.NATIVE / "sim" / "modem_lines"
MODEM_LINES_PRELOAD = str(MODEM_LINES_DIR) + "/$LIB/modem_lines.so"
MODEM_LINES_LIBS = [MODEM_LINES_DIR / "lib" / arch / "modem_lines.so"
                    for arch in ("x86_64-linux-gnu", "i386-linux-gnu")]


def preload_env(library):
    """The environment that preloads LIBRARY (a path; it may hold $LIB). The loader splits
    LD_PRELOAD at blanks, with no escape: from a tree whose path holds one, the library is
    named alone and found through LD_LIBRARY_PATH."""
    library = str(library)
    if " " not in library:
        return {"LD_PRELOAD": library}
    folder, name = library.rsplit("/", 1)
    return {"LD_PRELOAD": name,
            "LD_LIBRARY_PATH": ":".join(filter(None, [folder, os.environ.get("LD_LIBRARY_PATH")]))}


PORTS_KEY = r"HKLM\Software\Wine\Ports"
SERIALCOMM_KEY = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"
DOSDEVICES = rig.PREFIX / "dosdevices"

BYTE_KEYS = ["p2j"] + [f"mr{i}" for i in range(1, 8)] + [f"kq{i}" for i in range(1, 8)]
HEX_KEYS = ("stray", "writeanswer")  # byte strings as hex text, empty for none

# The commands of the reader's serial protocol, as they go over the wire.
READ_CMD = bytes.fromhex("1d4d52b3")
WRITE_PREFIX = bytes.fromhex("1d4d52b2")
JIS2_QUERY = bytes.fromhex("1d4d52d012")
CIF_QUERY = bytes.fromhex("1d4d52d013")
RESET_CMD = bytes.fromhex("1d4d52ffaa")


def check_built(files=(READER_EXE, *MODEM_LINES_LIBS)):
    for f in files:
        if not f.exists():
            raise RuntimeError(f"{f} is not built (build the native configuration)")


def _wine(args, check=True):
    # The 64-bit loader, so that reg sees the registry as Wine's own 64-bit side does (a
    # 32-bit reg would write HKLM\Software\Wine into the 32-bit view, which Wine's
    # serial-port mapping never reads).
    # Output goes through a file, not a pipe: the first Wine process after a server start
    # launches the prefix's services, which inherit its output and outlive it, so a pipe
    # would never reach its end.
    with tempfile.TemporaryFile(mode="w+") as out:
        proc = subprocess.run([rig.WINE64] + args, env=rig.wine_env(), stdout=out,
                              stderr=subprocess.DEVNULL, text=True, check=check)
        out.seek(0)
        proc.stdout = out.read()
    return proc


def reg_values(key):
    """The string values of a registry key as {name: data}; {} when the key is missing."""
    out = _wine(["reg", "query", key], check=False).stdout
    values = {}
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2] if len(parts) == 3 else ""
    return values


def serialcomm_ports():
    """The COM names the program will find under SERIALCOMM."""
    return sorted(reg_values(SERIALCOMM_KEY).values())


def restart_wineserver(expect=(), gone=(), timeout=20):
    """Ends the prefix's wineserver and starts a persistent one; the first Wine process
    after it rebuilds the port list. Waits until every COM name in `expect` is listed and
    none in `gone` is."""
    env = rig.wine_env()
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": False}
    subprocess.run(["wineserver", "-k"], env=env, **quiet)
    subprocess.run(["wineserver", "-w"], env=env, **quiet)
    subprocess.run(["wineserver", "-p"], env=env, **quiet)
    deadline = time.monotonic() + timeout
    while True:
        listed = set(serialcomm_ports())
        if set(expect) <= listed and not (set(gone) & listed):
            return listed
        if time.monotonic() > deadline:
            raise RuntimeError(f"SERIALCOMM lists {sorted(listed)}, wanted {sorted(expect)} "
                               f"and not {sorted(gone)}")
        time.sleep(0.2)


def _set_ports(values, attempts=3):
    """Sets (data) or deletes (None) values of the Ports key and checks that they took: now
    and then a `wine reg` call fails without saying so."""
    for _ in range(attempts):
        for name, data in values.items():
            if data is None:
                _wine(["reg", "delete", PORTS_KEY, "/v", name, "/f"], check=False)
            else:
                _wine(["reg", "add", PORTS_KEY, "/v", name, "/t", "REG_SZ", "/d", data, "/f"],
                      check=False)
        now = reg_values(PORTS_KEY)
        values = {n: d for n, d in values.items() if now.get(n) != d}
        if not values:
            return
    raise RuntimeError(f"Ports values not set: {values}")


def _com_links():
    return {p.name: os.readlink(p) for p in DOSDEVICES.glob("com*") if p.is_symlink()}


def _read_pairs(path):
    pairs = {}
    for line in Path(path).read_text().splitlines():
        if "=" in line and not line.startswith("#"):
            k, v = line.split("=", 1)
            pairs[k.strip()] = v.strip()
    return pairs


def settle(readers, timeout=10):
    """Once the program that talked to the readers has ended: waits until each has taken
    every byte it was sent (an unfinished command is recorded as it stands), so that their
    records and states are final and a test never races bytes still on their way."""
    def count(r):
        return int(r.settled_path.read_text()) if r.settled_path.exists() else 0
    before = {r: count(r) for r in readers}
    for r in readers:
        r.proc.send_signal(signal.SIGUSR1)
    deadline = time.monotonic() + timeout
    for r in readers:
        while count(r) <= before[r]:
            if r.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"the reader for {r.port} did not settle")
            time.sleep(0.002)


# A test card, and what of it must never appear in any output: everything but the PAN's
# length and its last four digits (PAN[-5:] catches a fifth-from-last digit shown).
TEST_PAN = "4111111111111111"
TEST_NAME = "CARDHOLDER/TEST"
TEST_TRACK1 = f"%B{TEST_PAN}^{TEST_NAME}^2512101000000000000000?"
TEST_TRACK2 = f";{TEST_PAN}=25121010000000000000?"
TEST_SECRETS = (TEST_PAN[:-4], TEST_PAN[-5:], TEST_NAME, "2512", "101000")


def swipe_when_waiting(proc, reader, swipe, timeout=90):
    """Once `proc` (msrprofile swipe, its output in text pipes) says it waits for a card,
    `reader` swipes with `swipe` (keyword arguments of Reader.swipe; None: nothing is
    swiped). Returns (exit code, standard output, standard error)."""
    err, out, rest = "", "", ""
    try:
        while swipe is not None and "swipe a card on " not in err:
            line = proc.stderr.readline()
            if not line:
                break
            err += line
        if swipe is not None:
            reader.swipe(**swipe)
        out, rest = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return proc.returncode, out, err + rest


class Reader:
    """One simulated reader: the vcom_reader process, its state file and its record."""

    def __init__(self, port, directory, stray=None, **state):
        check_built([READER_EXE])
        self.port = port
        self.directory = Path(directory)
        self.directory.mkdir(parents=True, exist_ok=True)
        self.state_path = self.directory / "state"
        self.record_path = self.directory / "record"
        self.settled_path = self.directory / "record.settled"
        self.swipe_path = self.directory / "swipe"
        self.swiped_path = self.directory / "swipe.done"
        self.record_path.write_bytes(b"")
        args = [str(READER_EXE), "--state", str(self.state_path), "--record",
                str(self.record_path), "--swipe", str(self.swipe_path)]
        args += [f"{k}={self._text(k, v)}" for k, v in state.items()]
        args += ["--stray", str(stray)] if stray else []
        # Complaints go to a file: a pipe nobody reads would stall the reader once full.
        self.stderr_path = self.directory / "stderr"
        with open(self.stderr_path, "w") as err:
            self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=err, text=True)
        line = self.proc.stdout.readline().strip()
        if not line.startswith("pts="):
            self.proc.kill()
            self.proc.wait()
            raise RuntimeError(f"vcom_reader didn't start: {line!r} "
                               f"{self.stderr_path.read_text()!r}")
        self.pts = line[4:]
        self.returncode = None

    @staticmethod
    def _text(key, value):
        if key in HEX_KEYS:
            return value
        return f"{value:02x}" if key in BYTE_KEYS else str(int(value))

    def state(self):
        """Settings bytes and behaviour keys, as ints; stray and writeanswer as hex text."""
        return {k: v if k in HEX_KEYS else int(v, 16) if k in BYTE_KEYS else int(v)
                for k, v in _read_pairs(self.state_path).items()}

    def settings(self):
        """The fifteen settings bytes p2j, mr1..mr7, kq1..kq7."""
        s = self.state()
        return bytes(s[k] for k in BYTE_KEYS)

    def set_state(self, **changes):
        """Changes keys of the state file; the reader reads it before each command."""
        pairs = _read_pairs(self.state_path)
        for k, v in changes.items():
            pairs[k] = self._text(k, v)
        tmp = self.state_path.with_suffix(".set")
        tmp.write_text("".join(f"{k}={v}\n" for k, v in pairs.items()))
        os.replace(tmp, self.state_path)

    def set_settings(self, fifteen):
        self.set_state(**dict(zip(BYTE_KEYS, fifteen)))

    def settle(self, timeout=10):
        """See `settle`."""
        settle([self], timeout)

    def swipe(self, track1=None, track2=None, track3=None, raw=b"", noise=0, endless=False,
              hangup=None, timeout=30):
        """Swipes a card: the tracks (ISO text with sentinels, None for a track the card
        doesn't carry) go out framed by the reader's settings, mr6 ms between characters,
        after `raw` bytes and `noise` pseudo-random ones. `endless` repeats the swipe until
        the next call; `hangup=N` unplugs the reader after N characters. Returns once it
        is sent (endless, hangup: once it begins)."""
        def count():
            return int(self.swiped_path.read_text()) if self.swiped_path.exists() else 0
        before = count()
        lines = [f"track{i}={t}" for i, t in enumerate((track1, track2, track3), 1) if t]
        if raw:
            lines.append(f"raw={bytes(raw).hex()}")
        if noise:
            lines.append(f"noise={int(noise)}")
        if endless:
            lines.append("endless=1")
        if hangup is not None:
            lines.append(f"hangup={int(hangup)}")
        tmp = self.swipe_path.with_suffix(".new")
        tmp.write_text("".join(line + "\n" for line in lines))
        os.replace(tmp, self.swipe_path)
        self.proc.send_signal(signal.SIGUSR2)
        deadline = time.monotonic() + timeout
        while count() <= before:
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"the reader for {self.port} did not swipe")
            time.sleep(0.002)

    def stop_swiping(self):
        """Ends an endless swipe."""
        self.swipe_path.unlink(missing_ok=True)
        self.proc.send_signal(signal.SIGUSR2)

    def record(self):
        """Everything received so far, one bytes object per command (stray bytes too)."""
        return [bytes.fromhex(line) for line in self.record_path.read_text().splitlines()]

    def clear_record(self):
        self.record_path.write_bytes(b"")

    def stop(self):
        """Ends the reader with SIGTERM; returns its exit code."""
        if self.returncode is None:
            self.proc.terminate()
            try:
                self.returncode = self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.returncode = self.proc.wait()
            self.proc.stdout.close()
        return self.returncode


class VcomPorts:
    """The simulated COM ports of one test: readers, absent devices, modem lines, and the
    Wine prefix's port mapping, restored by `close()`."""

    def __init__(self, directory=None):
        check_built()
        self.directory = Path(directory or tempfile.mkdtemp(prefix="vcomsim-", dir=rig.BUILD))
        self.directory.mkdir(parents=True, exist_ok=True)
        self.readers = {}
        self.devices = {}  # port -> device path that its Ports value names
        self.lines = {}    # device path -> line words
        self.lines_path = self.directory / "modem_lines"
        self._saved_ports = None  # Ports values before we touched them
        self._saved_links = {}    # port -> previous link target, or None
        self._links_before = None  # every comN link before the first apply()
        self._mapped = set()
        self._write_lines()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def reader(self, port, stray=None, **state):
        """Starts a simulated reader for COM`port` (mapped by the next `apply()`); `stray`
        (hex) waits on its line from the start."""
        r = Reader(port, self.directory / f"com{port}", stray, **state)
        self.readers[port] = r
        self.devices[port] = r.pts
        return r

    def absent(self, port):
        """Lists COM`port` with a device that doesn't exist, as when a reader was unplugged."""
        self.devices[port] = str(self.directory / f"gone-com{port}")

    def set_lines(self, port, cts=True, dsr=True):
        """Sets the CTS and DSR lines the program sees on COM`port`; takes effect at once."""
        words = [w for w, on in (("cts", cts), ("dsr", dsr)) if on] or ["none"]
        self.lines[self.devices[port]] = " ".join(words)
        self._write_lines()

    def _write_lines(self):
        self.lines_path.write_text("".join(f"{d} {w}\n" for d, w in self.lines.items()))

    def apply(self):
        """Maps every port of ours into the prefix and restarts the wineserver so that the
        program sees them listed."""
        if self._saved_ports is None:
            self._saved_ports = reg_values(PORTS_KEY)
            self._links_before = _com_links()
        for port in sorted(self.devices):
            if port not in self._saved_links:
                link = DOSDEVICES / f"com{port}"
                self._saved_links[port] = os.readlink(link) if link.is_symlink() else None
            self._mapped.add(port)
        _set_ports({f"COM{p}": d for p, d in self.devices.items()})
        restart_wineserver(expect=[f"COM{p}" for p in self.devices])
        # A port listed before the restart is listed at once, while Wine's mount manager
        # may still be pointing its link at the new device: wait for the links too.
        deadline = time.monotonic() + 20
        while True:
            links = _com_links()
            wrong = {p: links.get(f"com{p}") for p, d in self.devices.items()
                     if links.get(f"com{p}") != d}
            if not wrong:
                break
            if time.monotonic() > deadline:
                raise RuntimeError(f"links {wrong}, wanted {self.devices}")
            time.sleep(0.2)

    def env(self, extra=None):
        """Environment for a Wine process that should see the modem lines."""
        env = preload_env(MODEM_LINES_PRELOAD)
        env["LD_PRELOAD"] = " ".join(filter(None, [env["LD_PRELOAD"], os.environ.get("LD_PRELOAD")]))
        env["MSR_MODEM_LINES"] = str(self.lines_path)
        if extra:
            env.update(extra)
        return env

    def run_exe(self, args, cwd, timeout=120, exe=rig.EXE, env=None):
        """rig.run_exe with the modem lines. Give the switches as a list: Wine quotes a single
        argument that holds blanks, and the program then sees the quotes too."""
        run = rig.run_exe(args, cwd, timeout=timeout, exe=exe, env=self.env(env))
        settle(self.readers.values())
        return run

    def close(self):
        """Stops the readers, removes our Ports values and comN links (restoring what was
        there before) and restarts the wineserver so the port list forgets them."""
        codes = {port: r.stop() for port, r in self.readers.items()}
        if self._mapped:
            _set_ports({f"COM{p}": self._saved_ports.get(f"COM{p}") for p in self._mapped})
            for port in sorted(self._mapped):
                link = DOSDEVICES / f"com{port}"
                if link.is_symlink():
                    link.unlink()
                if self._saved_links.get(port) is not None:
                    os.symlink(self._saved_links[port], link)
            gone = [f"COM{p}" for p in self._mapped
                    if self._saved_links.get(p) is None and f"COM{p}" not in self._saved_ports]
            listed = restart_wineserver(gone=gone)
            # Wine gives its own serial devices the lowest numbers our ports left free, so
            # mapping low numbers leaves links of theirs at higher ones; they are not ours to
            # keep once nothing lists them.
            for name in set(_com_links()) - set(self._links_before):
                if name.upper() not in listed:
                    (DOSDEVICES / name).unlink()
            self._mapped.clear()
        shutil.rmtree(self.directory, ignore_errors=True)
        return codes


def main(argv):
    """Demo: python3 vcom_sim.py PORT [KEY=VALUE ...] maps a simulated reader to COM<PORT>
    in the build tree's prefix (MSR_BUILD_DIR, MSR_NATIVE_BUILD_DIR) until Ctrl-C, printing
    the environment that msrsetup.exe needs to see its modem lines."""
    if len(argv) < 2 or not argv[1].isdigit():
        print(main.__doc__)
        return 2
    port = int(argv[1])
    state = dict(a.split("=", 1) for a in argv[2:])
    state = {k: int(v, 16) if k in BYTE_KEYS else int(v) for k, v in state.items()}
    rig.ensure_prefix()
    with VcomPorts() as ports:
        reader = ports.reader(port, **state)
        ports.apply()
        env = ports.env()
        print(f"COM{port} -> {reader.pts}; state {reader.state_path}; record {reader.record_path}")
        print(f"run with: LD_PRELOAD={env['LD_PRELOAD']} MSR_MODEM_LINES={env['MSR_MODEM_LINES']}")
        try:
            while reader.proc.poll() is None:
                time.sleep(0.5)
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    import sys
    sys.exit(main(sys.argv))
