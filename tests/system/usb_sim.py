"""The substitute doziv.dll (sim/usb_library) as the system tests use it: installed beside a
copy of msrsetup.exe in a folder of the test's own, its reader set and read back through
its state file, and its calls read from its record file.

    reader = usb_sim.Reader(rig.workdir("usb"))      # state and record files live here
    app = reader.install(folder, "no_setmrstatebuf")  # folder/msrsetup.exe + folder/doziv.dll
    reader.set(base=[...], ext=[...], jis=1, fail={"OpenUSB": 5})
    run = rig.run_exe(["-u", "-s"], cwd, exe=app, env=reader.env())
    reader.state()["base"], reader.calls("SetMrStateBuf")

Variants (each a doziv.dll without the named entry points): full, no_setmrstatebuf,
no_setmrstate, no_write (neither write entry point), no_closeusb, no_getmrstate1,
no_setmrstate1, no_ext (neither extended-block entry point), no_retrievestatistics,
no_getmrstate, no_openusb, no_setid."""

import os
import shutil
from pathlib import Path

import rig

SIM_DIR = rig.BUILD / "usb_sim"
VARIANTS = ("full", "no_setmrstatebuf", "no_setmrstate", "no_write", "no_closeusb",
            "no_getmrstate1", "no_setmrstate1", "no_ext", "no_retrievestatistics",
            "no_getmrstate", "no_openusb", "no_setid")
DEFAULT_BASE = [0xC6, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13]
DEFAULT_EXT = [0] * 7


def dll(variant="full"):
    path = SIM_DIR / variant / "doziv.dll"
    if not path.exists():
        raise RuntimeError(f"{path} is not built")
    return path


def install(folder, variant="full", exe=True):
    """Puts the variant's doziv.dll into folder and, with exe, a copy of msrsetup.exe
    beside it (the program's own folder is where the library is looked for). Returns the
    path of the copied program."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(dll(variant), folder / "doziv.dll")
    if not exe:
        return None
    shutil.copyfile(rig.EXE, folder / "msrsetup.exe")
    return folder / "msrsetup.exe"


def install_exe_only(folder):
    """A copy of msrsetup.exe in folder, without any library beside it."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(rig.EXE, folder / "msrsetup.exe")
    return folder / "msrsetup.exe"


def install_tool(folder, variant="full"):
    """tools/usbcall.exe beside the variant's doziv.dll in folder: it calls the library
    directly (SetID, OpenUSB, the commands given, CloseUSB), for checking the stand-in
    itself. Returns the path of the tool."""
    folder = Path(folder)
    install(folder, variant, exe=False)
    shutil.copyfile(rig.TOOLS / "usbcall.exe", folder / "usbcall.exe")
    return folder / "usbcall.exe"


class Call:
    """One recorded entry-point call: name, integer arguments, the 32-byte buffer as the
    library received it (or None), and the status it returned."""

    def __init__(self, line):
        left, _, status = line.rpartition(" = ")
        words = left.split()
        self.name = words[0]
        self.status = int(status)
        self.args = []
        self.buffer = None
        rest = words[1:]
        if self.name in ("SetID", "RetrieveStatistics"):
            self.args = [int(w) for w in rest]
        elif rest:
            self.buffer = bytes(int(w, 16) for w in rest)

    def __repr__(self):
        return f"Call({self.name}, {self.args}, {self.buffer!r}, {self.status})"


class Reader:
    """A simulated USB reader: its state file and record file in folder."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.state_file = self.folder / "usb_state.txt"
        self.record_file = self.folder / "usb_record.txt"
        self.clear_record()
        self.set()

    def env(self):
        """The environment a Wine process needs to find this reader's files (Wine passes
        the Unix environment on to Windows programs)."""
        return {"MSR_SIM_USB_STATE": str(self.state_file),
                "MSR_SIM_USB_RECORD": str(self.record_file)}

    def install(self, folder, variant="full"):
        return install(folder, variant)

    def set(self, base=None, ext=None, present=1, extended=1, version="2.10", jis=0, cif=0,
            resets=0, fail=None):
        """Writes the whole state: base (p2j, mr1..mr7) and ext (kq1..kq7) as byte lists,
        the reader's answers, and the entry points that fail (name -> status)."""
        base = DEFAULT_BASE if base is None else list(base)
        ext = DEFAULT_EXT if ext is None else list(ext)
        assert len(base) == 8 and len(ext) == 7
        lines = ["# written by usb_sim.py",
                 "base=" + " ".join(f"{b:02x}" for b in base),
                 "ext=" + " ".join(f"{b:02x}" for b in ext),
                 f"present={present}", f"extended={extended}", f"version={version}",
                 f"jis={jis}", f"cif={cif}", f"resets={resets}"]
        for name, status in (fail or {}).items():
            lines.append(f"fail.{name}={status}")
        # In one step: a program polling the reader must never read half a state.
        new = self.state_file.with_suffix(".new")
        new.write_text("\n".join(lines) + "\n")
        os.replace(new, self.state_file)

    def state(self):
        """The state file as a dict: base and ext as byte lists, the rest as ints or text;
        failures under "fail" as name -> status."""
        out = {"fail": {}}
        for line in self.state_file.read_text().splitlines():
            if not line or line.startswith("#") or "=" not in line:
                continue
            key, value = line.split("=", 1)
            if key in ("base", "ext"):
                out[key] = [int(w, 16) for w in value.split()]
            elif key.startswith("fail."):
                out["fail"][key[5:]] = int(value, 0)
            elif key == "version":
                out[key] = value
            else:
                out[key] = int(value)
        return out

    def clear_record(self):
        self.record_file.write_bytes(b"")

    def events(self):
        """Every line of the record, in order (attach/detach lines included)."""
        if not self.record_file.exists():
            return []
        return self.record_file.read_text().splitlines()

    def calls(self, name=None):
        """The recorded entry-point calls, all or those of one name."""
        out = [Call(line) for line in self.events() if " = " in line]
        return [c for c in out if name is None or c.name == name]

    def names(self):
        return [c.name for c in self.calls()]
