"""Simulated readers on serial ports that libserialport can open: for the native tests of
the Linux serial backend, and for running msrprofile on Linux against a simulated reader.

libserialport opens only ports that sysfs knows, and a pseudo-terminal is none. So each
simulated reader (sim/vcom_reader on a pseudo-terminal) is bind-mounted over a tty node
that sysfs knows (/dev/tty63, then /dev/tty62, ...) inside a private mount namespace in
which only the command under test runs. sim/modem_lines, preloaded into that command,
gives the pseudo-terminal the CTS/DSR lines of a real port (settable per node) and lets
libserialport set the lines a port drives. Needs root (unshare -m, mount --bind); nothing
outside the namespace changes: /dev/tty63 stays what it was for every other process.

    reason = linux_serial.unavailable()      # None, or why this machine can't do it
    with linux_serial.LinuxSerial() as ports:
        r = ports.reader(silent=1)           # on the next free node; r.node, r.pts
        ports.set_lines(r.node, cts=False, dsr=False)
        run = ports.run([exe, "--port", r.node])   # .returncode .stdout .stderr .elapsed
        proc = ports.start([exe, ...])           # the same, running: a subprocess.Popen
        r.record(), r.state(), r.set_state(...)    # as vcom_sim.Reader

From a shell (as root, after building the native preset):

    python3 tests/system/linux_serial.py [--lines "cts dsr"|none] [KEY=VALUE ...] -- COMMAND...

starts one reader (KEY=VALUE as for sim/vcom_reader), runs COMMAND with the reader on
/dev/tty63, then prints the reader's state and the commands it received; exits with
COMMAND's exit code, or 77 when the machine can't do it.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import rig
import vcom_sim

NATIVE = rig.NATIVE
# The tool under test is a native 64-bit program: the 64-bit build of the preload.
MODEM_LINES = vcom_sim.MODEM_LINES_LIBS[0]
SKIP = 77

# Binds each PTS over its NODE, then runs the command with the preload; only the command
# gets the preload, not mount.
_NAMESPACE_SCRIPT = ('while [ "$1" != -- ]; do mount --bind "$1" "$2" || exit 125; '
                     'shift 2; done; shift; export LD_PRELOAD="$MSR_TEST_PRELOAD"; exec "$@"')


def tty_nodes():
    """tty nodes that sysfs knows, /dev/tty63 first; tty0 and tty1 (the console) are left out."""
    nodes = []
    for n in range(63, 1, -1):
        node = Path(f"/dev/tty{n}")
        if node.is_char_device() and Path(f"/sys/class/tty/tty{n}").exists():
            nodes.append(str(node))
    return nodes


def unavailable():
    """Why simulated readers can't be set up here, or None when they can."""
    if os.geteuid() != 0:
        return "needs root (a private mount namespace and bind mounts)"
    for tool in ("unshare", "mount"):
        if shutil.which(tool) is None:
            return f"{tool} is not installed"
    probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "true"],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        return f"unshare -m is not permitted here: {probe.stderr.strip()}"
    if not tty_nodes():
        return "no tty node that sysfs knows (/dev/ttyN with /sys/class/tty/ttyN)"
    return None


class LinuxSerial:
    """The simulated readers of one test and the namespace their command runs in."""

    def __init__(self):
        vcom_sim.check_built([vcom_sim.READER_EXE, MODEM_LINES])
        self.directory = Path(tempfile.mkdtemp(prefix="linux-serial-"))
        self.lines_path = self.directory / "modem_lines"
        self.lines_path.write_text("")
        self.lines = {}
        self.readers = []
        self._free = tty_nodes()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def reader(self, node=None, **state):
        """Starts a simulated reader (state keys as for sim/vcom_reader) that the command
        will see on `node`, by default the next free tty node."""
        node = node or self._free[0]
        self._free.remove(node)
        r = vcom_sim.Reader(node, self.directory / Path(node).name, **state)
        r.node = node
        self.readers.append(r)
        return r

    def set_lines(self, node, cts=True, dsr=True):
        """The CTS and DSR lines the command sees on `node`."""
        self.lines[node] = " ".join(w for w, on in (("cts", cts), ("dsr", dsr)) if on) or "none"
        self.lines_path.write_text("".join(f"{n} {w}\n" for n, w in self.lines.items()))

    def _command(self, args, env):
        binds = [a for r in self.readers for a in (r.pts, r.node)]
        full_env = dict(os.environ)
        preload = vcom_sim.preload_env(MODEM_LINES)
        full_env.update({"MSR_TEST_PRELOAD": preload.pop("LD_PRELOAD"), **preload,
                         "MSR_MODEM_LINES": str(self.lines_path)})
        full_env.update(env or {})
        cmd = (["unshare", "--mount", "--propagation", "private", "sh", "-c", _NAMESPACE_SCRIPT,
                "sh"] + binds + ["--"] + [str(a) for a in args])
        return cmd, full_env

    def start(self, args, env=None):
        """As `run`, without waiting: the Popen, its output in text pipes."""
        cmd, full_env = self._command(args, env)
        return subprocess.Popen(cmd, env=full_env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                errors="replace")

    def run(self, args, timeout=120, env=None):
        """Runs `args` in a private mount namespace where every reader's node is its
        pseudo-terminal, with the modem lines preloaded."""
        cmd, full_env = self._command(args, env)
        start = time.monotonic()
        proc = subprocess.run(cmd, env=full_env, capture_output=True, text=True,
                              errors="replace", timeout=timeout)
        elapsed = time.monotonic() - start
        vcom_sim.settle(self.readers)
        return rig.Run(proc, elapsed)

    def close(self):
        for r in self.readers:
            r.stop()
        shutil.rmtree(self.directory, ignore_errors=True)


def main(argv):
    args = argv[1:]
    if "--" not in args or args.index("--") == len(args) - 1:
        print(__doc__)
        return 2
    split = args.index("--")
    options, command = args[:split], args[split + 1:]
    lines = None
    if options[:1] == ["--lines"] and len(options) >= 2:
        lines, options = options[1], options[2:]
    state = {}
    for pair in options:
        key, _, value = pair.partition("=")
        state[key] = (value if key in vcom_sim.HEX_KEYS else
                      int(value, 16) if key in vcom_sim.BYTE_KEYS else int(value))
    reason = unavailable()
    if reason:
        print(f"linux_serial: {reason}", file=sys.stderr)
        return SKIP
    with LinuxSerial() as ports:
        reader = ports.reader(**state)
        if lines is not None:
            words = lines.split()
            ports.set_lines(reader.node, cts="cts" in words, dsr="dsr" in words)
        run = ports.run(command)
        sys.stdout.write(run.stdout)
        sys.stderr.write(run.stderr)
        print(f"--- reader on {reader.node} ({reader.pts}): state")
        print("".join(f"{k}={v:02x}\n" if k in vcom_sim.BYTE_KEYS else f"{k}={v}\n"
                      for k, v in reader.state().items()), end="")
        print("--- commands received")
        for command_bytes in reader.record():
            print(command_bytes.hex(" "))
    return run.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
