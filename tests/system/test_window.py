"""The setup window as a user meets it: the real msrsetup.exe under Wine, installed with
its help texts and the stand-in doziv.dll, driven through its native controls by
tools/winctl.exe, against the stand-in USB library and the simulated vCOM reader."""

import shutil
import subprocess
import tempfile
from pathlib import Path

import rig
import vcom_sim

WINCTL = rig.TOOLS / "winctl.exe"
USB_SIM = rig.BUILD / "usb_sim"
ARTIFACTS = rig.BUILD / "artifacts"
TITLE = "ZOV ORU VAZ Izove Duro"
SHOW_SETTINGS_BASE = "c6 08 25 3b 3b 3f 02 15"  # ALT-num, tracks 1-3, codes, delay 2, f/w 15h


class UsbReader:
    """The stand-in doziv.dll's reader: its state file and the record of every call."""

    def __init__(self, directory, **state):
        self.directory = Path(directory)
        if self.directory.exists():
            shutil.rmtree(self.directory)
        self.directory.mkdir(parents=True)
        self.state_path = self.directory / "state"
        self.record_path = self.directory / "record"
        values = {"base": SHOW_SETTINGS_BASE, "ext": "00 00 00 00 00 00 00", "present": 1,
                  "extended": 1, "jis": 0, "cif": 0}
        values.update(state)
        self.state_path.write_text("".join(f"{k}={v}\n" for k, v in values.items()))

    def env(self):
        return {"MSR_SIM_USB_STATE": str(self.state_path),
                "MSR_SIM_USB_RECORD": str(self.record_path)}

    def state(self):
        pairs = {}
        for line in self.state_path.read_text().splitlines():
            if "=" in line and not line.startswith("#"):
                k, v = line.split("=", 1)
                pairs[k.strip()] = v.strip()
        return pairs

    def calls(self, name=None):
        """The recorded entry-point calls as (name, [argument words], status)."""
        out = []
        if not self.record_path.exists():
            return out
        for line in self.record_path.read_text().splitlines():
            if " = " not in line:
                continue
            head, status = line.rsplit(" = ", 1)
            words = head.split()
            if name is None or words[0] == name:
                out.append((words[0], words[1:], int(status)))
        return out

    def writes(self):
        return [c for c in self.calls() if c[0] in ("SetMrStateBuf", "SetMrState", "SetMrState1")]


def install(name, dll="full"):
    """A fresh installation on drive C: the exe, its help texts and the reader's library
    beside it, as the program is installed; it runs with this folder as its current
    directory, as a shortcut or Explorer starts it."""
    d = rig.workdir(name)
    for f in ("msrsetup.exe", "usbmsrhelp.txt", "ps2msrhelp.txt"):
        shutil.copy(rig.BUILD / f, d / f)
    if dll:
        shutil.copy(USB_SIM / dll / "doziv.dll", d / "doziv.dll")
    return d


class Done:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def winctl(*args, timeout=60, check=True):
    # Output through files, not pipes: the first Wine process after a server restart
    # leaves the prefix's services holding its standard handles, so a pipe never ends.
    with tempfile.TemporaryFile() as o, tempfile.TemporaryFile() as e:
        rc = subprocess.run(["wine", str(WINCTL)] + [str(a) for a in args],
                            env=rig.wine_env(), stdin=subprocess.DEVNULL, stdout=o, stderr=e,
                            timeout=timeout).returncode
        o.seek(0)
        e.seek(0)
        proc = Done(rc, o.read().decode("latin-1"), e.read().decode("latin-1"))
    if check and proc.returncode != 0:
        raise AssertionError(f"winctl {' '.join(map(str, args))}: {proc.returncode} "
                             f"{proc.stderr.strip()}")
    return proc


def out(*args):
    return winctl(*args).stdout.rstrip("\r\n")


def dump():
    """Every native control of the form by name: class, visible, enabled, checked, rect,
    text. A control that has not been on screen has no native window yet."""
    controls = {}
    for line in out("dump").splitlines():
        f = line.rstrip("\r").split("\t")
        if not f[0]:
            continue
        controls[f[0]] = {"class": f[1], "visible": int(f[3]), "enabled": int(f[4]),
                          "checked": int(f[5]), "rect": tuple(int(x) for x in f[6:10]),
                          "text": f[10] if len(f) > 10 else ""}
    return controls


def on_screen(controls, name):
    """1 when the control is on screen (it has a window, and that window is visible)."""
    return controls[name]["visible"] if name in controls else 0


class Program:
    """msrsetup.exe running with its window, in the background."""

    def __init__(self, folder, args=(), env=None, cwd=None):
        self.proc = subprocess.Popen(["wine", str(folder / "msrsetup.exe")] + list(args),
                                     cwd=str(cwd or folder), env=rig.wine_env(env),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

    def wait(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.wait()


class WindowTest(rig.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for f in (WINCTL, USB_SIM / "full" / "doziv.dll"):
            if not f.exists():
                raise RuntimeError(f"{f} is not built")

    def setUp(self):
        super().setUp()
        self.programs = []

    def tearDown(self):
        for p in self.programs:
            p.kill()
        super().tearDown()

    def start(self, args=(), reader=None, env=None, cwd=None, dll="full", run_in=None):
        """Starts the program installed in cwd (a fresh installation by default), with
        run_in as its current directory (its own folder by default)."""
        cwd = cwd or install("win", dll)
        e = dict(reader.env()) if reader else {}
        e.update(env or {})
        p = Program(cwd, args, e, cwd=run_in)
        self.programs.append(p)
        return p

    def usb_reader(self, **state):
        return UsbReader(rig.BUILD / "window-usb-sim", **state)

    # --- USB reader ---

    def test_usb_reader_is_found_and_its_settings_shown(self):
        reader = self.usb_reader()
        p = self.start(reader=reader)
        self.assertEqual(out("wait-window"), " ZOV ORU VAZ Izove Duro  v5.02.15")
        c = dump()
        expect = [
            # control, enabled, checked, text
            ("CheckBox1", 1, 1, "Use ALT-num emulation"),
            ("CheckBox2", 1, 1, "Enable MSR Track 1"),
            ("CheckBox4", 1, 1, "Enable MSR Track 3"),
            ("CheckBox5", 1, 1, "Send  Leading/Ending  Codes"),
            ("CheckBox9", 1, 1, "Send Ending CR"),
            ("Edit1", 1, -1, "%"),
            ("Edit2", 1, -1, ";"),
            ("Edit4", 1, -1, "?"),
            ("Edit6", 1, -1, "2"),
            ("Button2", 1, -1, "Save && Exit"),
            ("StaticText2", 1, -1, "Reset to Non-English Defaults"),
            ("Image3", 1, -1, ""),
        ]
        for name, enabled, checked, text in expect:
            with self.subTest(control=name):
                got = c[name]
                self.assertEqual((got["visible"], got["enabled"], got["checked"], got["text"]),
                                 (1, enabled, checked, text))
        # Not on screen: the interface box (the reader can't switch), the tabs, the status.
        for name in ("CheckBox13", "PageControl1", "Label10"):
            with self.subTest(control=name):
                self.assertEqual(on_screen(c, name), 0)
        # The layout's places, in client coordinates.
        self.assertEqual(c["Button3"]["rect"], (292, 456, 120, 40))
        self.assertEqual(c["Edit3"]["rect"], (22 + 616, 256 + 97, 30, 30))
        self.assertEqual(c["Image3"]["rect"], (740, 516, 212, 41))
        # The focus starts on Help.
        self.assertEqual(out("focused"), "Button1")

        # Image3 lies beyond the client area: both scroll bars, and scrolling to the lower
        # right brings it fully into view.
        self.assertEqual(out("scrollbars"), "h=1 v=1 client=742,516")
        out("scroll", "h", "end")
        out("scroll", "v", "end")
        self.assertEqual(out("get", "Image3", "rect"), f"{742 - 212} {516 - 41} 212 41")
        out("scroll", "h", "home")
        out("scroll", "v", "home")
        self.assertEqual(out("get", "Button3", "rect"), "292 456 120 40")

        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        shot = ARTIFACTS / "window-usb.png"
        subprocess.run(["/usr/bin/import", "-window", "root", str(shot)], check=True)
        self.assertGreater(shot.stat().st_size, 1000)

        out("click", "Button3")
        self.assertEqual(p.wait(), 0)
        self.assertEqual(reader.writes(), [])

    def test_save_writes_track_3_off_then_the_extended_block(self):
        reader = self.usb_reader(ext="00 00 00 00 00 00 00")
        p = self.start(reader=reader)
        out("wait-window")
        out("click", "CheckBox4")
        self.assertEqual(out("get", "CheckBox4", "checked"), "0")
        # The track 3 row follows its box.
        self.assertEqual(out("get", "Edit3", "enabled"), "0")
        out("post-click", "Button2")
        self.assertEqual(p.wait(), 0)
        writes = reader.writes()
        self.assertEqual([w[0] for w in writes], ["SetMrStateBuf", "SetMrState1"])
        base = bytes.fromhex("".join(writes[0][1]))
        self.assertEqual(base[:8], bytes.fromhex("c60c253b3b3f0215"))  # mr1 bit 2 set
        ext = bytes.fromhex("".join(writes[1][1]))
        self.assertEqual(ext[:2], bytes.fromhex("00b8"))
        self.assertEqual(ext[2:9], bytes(7))
        self.assertEqual(reader.state()["base"], "c6 0c 25 3b 3b 3f 02 15")
        self.assertEqual(reader.state()["resets"], "0")

    def tab_to(self, name, limit=60):
        """Real Tab presses until the named control holds the focus; how many it took."""
        for n in range(limit):
            if out("focused") == name:
                return n
            out("press", "tab")
        self.fail(f"Tab never reached {name}")

    def test_keyboard_user_tabs_into_a_code_and_off_screen_controls(self):
        # Tab selects the code edit's one character, so the key typed replaces it.
        reader = self.usb_reader()
        p = self.start(reader=reader)
        out("wait-window")
        self.tab_to("Edit1")
        out("press", "x")
        self.assertEqual(out("get", "Edit1", "text"), "x")
        out("post-click", "Button2")
        self.assertEqual(p.wait(), 0)
        base = bytes.fromhex("".join(reader.writes()[0][1]))
        self.assertEqual(base[2], 0x78)  # mr2

    def test_tab_to_a_control_below_the_view_scrolls_it_into_sight(self):
        p = self.start(args=["-t"], reader=self.usb_reader())
        out("wait-window")
        before = dump()["CheckBox12"]["rect"]
        self.tab_to("CheckBox12")
        left, top, width, height = dump()["CheckBox12"]["rect"]
        self.assertNotEqual((left, top), before[:2])  # the window scrolled
        cw, ch = (int(v) for v in out("scrollbars").split("client=")[1].split(","))
        self.assertTrue(0 <= left and left + width <= cw and 0 <= top and top + height <= ch,
                        (left, top, width, height, cw, ch))
        out("click", "Button3")
        self.assertEqual(p.wait(), 0)

    def test_every_way_out_but_save_writes_nothing(self):
        rows = [
            ("Cancel && Exit", ["click", "Button3"]),
            ("Esc", ["key", "esc"]),
            ("close box", ["close"]),
        ]
        for how, action in rows:
            with self.subTest(how=how):
                reader = self.usb_reader()
                p = self.start(reader=reader)
                out("wait-window")
                out("click", "CheckBox4")
                out("click", "Button17")  # the delay steps to 3
                self.assertEqual(out("get", "Edit6", "text"), "3")
                out(*action)
                self.assertEqual(p.wait(), 0)
                self.assertEqual(reader.writes(), [])
                self.assertEqual(reader.state()["base"], SHOW_SETTINGS_BASE)

    def test_usb_interface_switch_asks_first(self):
        reader = self.usb_reader(cif=1)
        p = self.start(reader=reader)
        out("wait-window")
        self.assertEqual(out("get", "CheckBox13", "visible"), "1")
        self.assertEqual(out("get", "CheckBox13", "checked"), "0")
        rows = [
            # answer, box checked afterwards
            ("cancel", "0"),
            ("ok", "1"),
        ]
        for answer, checked in rows:
            with self.subTest(answer=answer):
                out("post-click", "CheckBox13")
                self.assertEqual(out("answer-box", TITLE, answer),
                                 "MSR will change to Virtual COM port interface")
                self.assertEqual(out("get", "CheckBox13", "checked"), checked)
        out("post-click", "Button2")
        self.assertEqual(p.wait(), 0)
        ext = bytes.fromhex("".join(reader.calls("SetMrState1")[0][1]))
        self.assertEqual(ext[:3], bytes.fromhex("00b801"))  # vcomif set in kq1
        self.assertEqual(reader.state()["resets"], "1")

    def test_usb_interface_switch_declined_sends_no_reset(self):
        # Cancelled at once, or confirmed and then unchecked again: the box shows the USB
        # interface, so kq1 goes out with vcomif clear and no reset follows.
        for how, answers in (("cancelled", ["cancel"]), ("changed mind", ["ok", None])):
            with self.subTest(how=how):
                reader = self.usb_reader(cif=1)
                p = self.start(reader=reader)
                out("wait-window")
                for answer in answers:
                    out("post-click", "CheckBox13")
                    if answer:
                        out("answer-box", TITLE, answer)
                    else:
                        out("no-box", TITLE)
                self.assertEqual(out("get", "CheckBox13", "checked"), "0")
                out("post-click", "Button2")
                self.assertEqual(p.wait(), 0)
                ext = bytes.fromhex("".join(reader.calls("SetMrState1")[0][1]))
                self.assertEqual(ext[:3], bytes.fromhex("00b800"))
                self.assertEqual(len(reader.calls("SetMrState1")), 1)
                self.assertEqual(reader.state()["resets"], "0")

    # --- no reader, second start, help ---

    def test_no_reader_one_box_no_window_exit_code_zero(self):
        rig.LOG.write_bytes(b"")
        reader = self.usb_reader(present=0)
        p = self.start(reader=reader)
        self.assertEqual(out("answer-box", TITLE, "ok"), "No MSR Detected!")
        self.assertEqual(p.wait(), 0)
        # The window never came, and only the one box did.
        self.assertEqual(winctl("--timeout", "1", "wait-window", check=False).returncode, 1)
        log = rig.log_text()
        self.assertIn(" vcom=0, usb=0, jis=0 ", log)
        self.assertNotIn(" kq1=", log)
        self.assertEqual(log.count("in setusb at"), 1)

    def test_second_start_while_open_leaves_everything_alone(self):
        rig.LOG.write_bytes(b"")
        reader = self.usb_reader()
        p = self.start(reader=reader)
        out("wait-window")
        # The first run's creation lines are flushed once its window is up.
        before = rig.LOG.read_bytes()
        self.assertIn(b" 92.11.27, 95.10.31 ", before)
        second = rig.run_exe([], install("second"), env=reader.env())
        self.assertEqual(second.returncode, 0)
        self.assertEqual(rig.LOG.read_bytes(), before)
        # A silent start writes nothing either, and says so.
        second = rig.run_exe(["-u", "-s"], install("second"), env=reader.env())
        self.assertEqual(second.returncode, 202)
        self.assertIn(b"window open: nothing written, exit=202", rig.LOG.read_bytes())
        self.assertEqual(reader.writes(), [])
        out("wait-window")  # the first window is still there, and still works
        out("click", "Button3")
        self.assertEqual(p.wait(), 0)

    def test_help_opens_the_usb_help_in_notepad(self):
        # Started from another folder (a shortcut without "Start in"), which holds a
        # notepad.exe of its own: the system's notepad opens the text beside the program.
        reader = self.usb_reader()
        elsewhere = rig.workdir("elsewhere")
        shutil.copy(rig.TOOLS / "plainwin.exe", elsewhere / "notepad.exe")
        p = self.start(reader=reader, run_in=elsewhere)
        out("wait-window")
        try:
            out("click", "Button1")
            title = out("wait-top", "Notepad")
            self.assertIn("usbmsrhelp", title.lower())
            planted = winctl("--timeout", "1", "wait-top", "PlainWindow", check=False)
            self.assertEqual(planted.returncode, 1, "the planted notepad.exe ran")
        finally:
            winctl("close-top", "Notepad", check=False)
            winctl("close-top", "PlainWindow", check=False)
        # The setup window goes on working.
        out("click", "CheckBox4")
        self.assertEqual(out("get", "CheckBox4", "checked"), "0")
        out("click", "Button3")
        self.assertEqual(p.wait(), 0)

    # --- virtual COM reader ---

    def test_vcom_reader_caption_hidden_delay_and_interface_switch(self):
        vcom_sim.check_built()
        with vcom_sim.VcomPorts() as ports:
            com = ports.reader(5, p2j=0xC6, mr1=0x08, mr6=0x02, mr7=0x15, kq1=0x01, cif=1)
            ports.apply()
            p = self.start(args=["-v5"], env=ports.env())
            self.assertEqual(out("wait-window"), " ZOV ORU VAZ Izove Duro  v5.02.15")
            c = dump()
            # No delay setting for a virtual COM reader, and no ALT-num.
            for name in ("Label5", "Button16", "Edit6", "Button17"):
                with self.subTest(control=name):
                    self.assertEqual(on_screen(c, name), 0)
            self.assertEqual((c["CheckBox1"]["enabled"], c["CheckBox1"]["checked"]), (0, 0))
            # The reader is on its virtual COM interface: the box starts checked.
            self.assertEqual((c["CheckBox13"]["visible"], c["CheckBox13"]["checked"]), (1, 1))
            rows = [("cancel", "1"), ("ok", "0")]
            for answer, checked in rows:
                with self.subTest(answer=answer):
                    out("post-click", "CheckBox13")
                    self.assertEqual(out("answer-box", "ZUR URU VED Ededodu", answer),
                                     "MSR will change to USB hid keyboard interface")
                    self.assertEqual(out("get", "CheckBox13", "checked"), checked)
            com.clear_record()
            out("post-click", "Button2")
            self.assertEqual(p.wait(timeout=60), 0)
            com.settle()
            writes = [r for r in com.record() if r.startswith(vcom_sim.WRITE_PREFIX)]
            self.assertEqual(len(writes), 1)
            # p2j with ALT-num cleared, mr1..mr6, then kq1 with vcomif cleared.
            self.assertEqual(writes[0][4:], bytes.fromhex("46 08 25 3b 3b 3f 02 00"))
            self.assertEqual(com.record()[-1], vcom_sim.RESET_CMD)
            self.assertEqual(com.state()["resets"], 1)
