"""Silent programming through the USB support library, as a user sees it: msrsetup.exe
under Wine with the substitute doziv.dll beside it, the simulated reader's blocks before
and after, the calls the library saw, the exit code and the log."""

import re
import shutil
import subprocess

import rig
import usb_sim

# p2j mr1..mr7, kq1..kq7 of the settings file.
SETTINGS = bytes([0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x99,
                  0x81, 0x82, 0x03, 0x04, 0x05, 0x06, 0x07])
READER_BASE = [0xC6, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13]
READER_EXT = [0x01, 0x80, 0x33, 0x44, 0x55, 0x66, 0x77]
NULL = rig.NULL  # a null pointer as the program's %p prints it
# Wine's msvcrt prints %p in lower case, Windows' in upper case.
PTR = rig.PTR
# The last-error value after a library loaded: Windows leaves the cleared value as it
# is, Wine's loader leaves 183 (ERROR_ALREADY_EXISTS) behind.
LOADED = rf" LoadLibrary\( doziv\.dll \)={PTR}, lerr=(0|183) "


NO_READER = [r" save failed: no reader answered, reader holds old ",
             r" silent write failed, exit=201 "]


def usb_lines(log):
    """The lines from the first setusb entry line to the end of the run."""
    lines = log.split("\r\n")
    start = next(i for i, line in enumerate(lines) if line.startswith(" in setusb at "))
    return [line for line in lines[start:] if line]


class UsbWineTest(rig.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The first Wine process after the server starts brings up Wine's own services,
        # which keep that process's output open for as long as they live; let them come up
        # with none of our pipes, so that the runs below end when the program ends.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=rig.wine_env(),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)

    def tearDown(self):
        for name in ("usbsim", "usbapp", "usbtool"):
            shutil.rmtree(rig.DRIVE_C / name, ignore_errors=True)
        super().tearDown()


class UsbSilentTest(UsbWineTest):
    def setUp(self):
        super().setUp()
        self.reader = usb_sim.Reader(rig.workdir("usbsim"))
        self.reader.set(base=READER_BASE, ext=READER_EXT)
        self.app_dir = rig.workdir("usbapp")
        self.cwd = rig.workdir("t")
        rig.WINDOWS_INI.write_bytes(SETTINGS)
        rig.LOG.write_bytes(b"")

    def run_silent(self, app, args="-u -s"):
        return rig.run_exe(args.split(), self.cwd, exe=app, env=self.reader.env())

    def assertLines(self, lines, patterns):
        """Each line matches its pattern in full; the patterns are regular expressions."""
        self.assertEqual(len(lines), len(patterns), "\n".join(lines))
        for line, pattern in zip(lines, patterns):
            self.assertRegex(line, "^" + pattern + "$")

    def entry_lines(self, mode=1):
        return [rf" in setusb at \d+, mode={mode} ",
                re.escape(r" in setusb, HIDpath=C:\windows\system32\hid.dll, 19 ")]

    def test_silent_write_programs_the_base_block(self):
        app = self.reader.install(self.app_dir)
        run = self.run_silent(app)
        self.assertEqual(run.returncode, 3)
        state = self.reader.state()
        # The reader keeps its own firmware byte; the extended block is left alone, since
        # no query came before the write.
        self.assertEqual(state["base"], list(SETTINGS[:7]) + [0x13])
        self.assertEqual(state["ext"], READER_EXT)
        self.assertEqual(state["resets"], 0)
        self.assertEqual(self.reader.names(), ["SetID", "OpenUSB", "SetMrStateBuf", "CloseUSB"])
        self.assertEqual(self.reader.calls("SetID")[0].args, [0x2911, 0x1500, 0])
        sent = self.reader.calls("SetMrStateBuf")[0].buffer
        self.assertEqual(sent[:16], SETTINGS[:8] + bytes(8))
        # Loaded once, released before the program ended.
        self.assertEqual(self.reader.events()[0], "attach")
        self.assertEqual(self.reader.events()[-1], "detach free")
        self.assertLines(usb_lines(rig.log_text()), self.entry_lines() + [
            LOADED,
            rf" GetProcAddress\( OpenUSB\)={PTR} ",
            rf" GetProcAddress\( SetID\)={PTR} ",
            r" OpenUSB\(500\)=0 ",
            rf" GetProcAddress\( SetMrStateBuf\)={PTR} ",
            r" SetMrState=0 ",
            rf" GetProcAddress\( CloseUSB\)={PTR} ",
            r" CloseUSB=0 ",
            r" in setusb1 at \d+, mode=1 ",
        ])

    def test_library_without_setmrstatebuf_gets_setmrstate(self):
        app = self.reader.install(self.app_dir, "no_setmrstatebuf")
        run = self.run_silent(app)
        self.assertEqual(run.returncode, 3)
        self.assertEqual(self.reader.names(), ["SetID", "OpenUSB", "SetMrState", "CloseUSB"])
        # SetMrState takes no settings: the reader's block stays as it was.
        self.assertEqual(self.reader.state()["base"], READER_BASE)
        lines = usb_lines(rig.log_text())
        self.assertLines(lines[6:9], [
            rf" GetProcAddress\( SetMrStateBuf\)={NULL} ",
            rf" GetProcAddress\( SetMrState\)=(?!{NULL}){PTR} ",
            r" SetMrState=0 ",
        ])

    def test_library_without_either_write_entry_logs_99(self):
        app = self.reader.install(self.app_dir, "no_write")
        run = self.run_silent(app)
        self.assertEqual(run.returncode, 3)
        self.assertEqual(self.reader.names(), ["SetID", "OpenUSB", "CloseUSB"])
        self.assertEqual(self.reader.state()["base"], READER_BASE)
        lines = usb_lines(rig.log_text())
        self.assertLines(lines[6:11], [
            rf" GetProcAddress\( SetMrStateBuf\)={NULL} ",
            rf" GetProcAddress\( SetMrState\)={NULL} ",
            r" SetMrState=99 ",
            rf" GetProcAddress\( CloseUSB\)={PTR} ",
            r" CloseUSB=0 ",
        ])

    def test_refused_write_changes_nothing(self):
        self.reader.set(base=READER_BASE, ext=READER_EXT, fail={"SetMrStateBuf": 6})
        app = self.reader.install(self.app_dir)
        run = self.run_silent(app)
        self.assertEqual(run.returncode, 200)
        self.assertEqual(self.reader.state()["base"], READER_BASE)
        self.assertIn("\r\n SetMrState=6 \r\n", rig.log_text())

    def test_failing_openusb_writes_nothing(self):
        self.reader.set(base=READER_BASE, ext=READER_EXT, fail={"OpenUSB": 5})
        app = self.reader.install(self.app_dir)
        run = self.run_silent(app)
        self.assertEqual(run.returncode, 201)
        self.assertEqual(self.reader.names(), ["SetID", "OpenUSB"])
        self.assertEqual(self.reader.state()["base"], READER_BASE)
        self.assertEqual(self.reader.events()[-1], "detach free")
        self.assertLines(usb_lines(rig.log_text()), self.entry_lines() + [
            LOADED,
            rf" GetProcAddress\( OpenUSB\)={PTR} ",
            rf" GetProcAddress\( SetID\)={PTR} ",
            r" OpenUSB\(500\)=5 ",
            r" openUSB failed ",
        ] + NO_READER)

    def test_no_reader_attached_writes_nothing(self):
        self.reader.set(base=READER_BASE, ext=READER_EXT, present=0)
        app = self.reader.install(self.app_dir)
        run = self.run_silent(app, "-d -u -s")
        self.assertEqual(run.returncode, 6)
        self.assertEqual(self.reader.state()["base"], READER_BASE)
        self.assertIn("\r\n OpenUSB(500)=2 \r\n openUSB failed \r\n", rig.log_text())

    def test_missing_library_writes_nothing(self):
        app = usb_sim.install_exe_only(self.app_dir)
        for args, code in (("-u -s", 201), ("-j -u -s", 201)):
            with self.subTest(args=args):
                rig.LOG.write_bytes(b"")
                run = self.run_silent(app, args)
                self.assertEqual(run.returncode, code)
                self.assertEqual(self.reader.events(), [])
                self.assertEqual(self.reader.state()["base"], READER_BASE)
                self.assertLines(usb_lines(rig.log_text()), self.entry_lines() + [
                    rf" LoadLibrary\( doziv\.dll \)={NULL}, lerr=126 ",
                ] + NO_READER)

    def test_library_is_found_by_full_path_only(self):
        # The program's folder has no doziv.dll; another folder has one. The Windows
        # folder is the last place looked in; the current directory is never looked in.
        app = usb_sim.install_exe_only(self.app_dir)
        for where, folder, programmed in (("current directory", self.cwd, False),
                                          ("Windows folder", rig.DRIVE_C / "windows", True)):
            with self.subTest(where=where):
                rig.LOG.write_bytes(b"")
                self.reader.set(base=READER_BASE, ext=READER_EXT)
                self.reader.clear_record()
                usb_sim.install(folder, exe=False)
                try:
                    run = self.run_silent(app)
                finally:
                    (folder / "doziv.dll").unlink()
                self.assertEqual(run.returncode, 3)
                base = list(SETTINGS[:7]) + [0x13] if programmed else READER_BASE
                self.assertEqual(self.reader.state()["base"], base)
                load = usb_lines(rig.log_text())[2]
                if programmed:
                    self.assertRegex(load, "^" + LOADED + "$")
                else:
                    self.assertEqual(self.reader.events(), [])
                    self.assertEqual(load, f" LoadLibrary( doziv.dll )={NULL}, lerr=126 ")

    def test_without_a_log_the_reader_is_still_programmed(self):
        rig.LOG.unlink()
        app = self.reader.install(self.app_dir)
        run = self.run_silent(app)
        self.assertEqual(run.returncode, 3)
        self.assertFalse(rig.LOG.exists())
        self.assertEqual(self.reader.state()["base"], list(SETTINGS[:7]) + [0x13])


class UsbStandInTest(UsbWineTest):
    """The substitute library on its own, called directly: what the window tests rely on."""

    def setUp(self):
        super().setUp()
        self.reader = usb_sim.Reader(rig.workdir("usbsim"))
        self.tool = usb_sim.install_tool(rig.workdir("usbtool"))

    def call(self, *commands):
        run = rig.run_exe(list(commands), self.tool.parent, exe=self.tool, env=self.reader.env())
        return run.stdout.decode().splitlines()

    def test_read_answers_the_state(self):
        self.reader.set(base=READER_BASE, ext=READER_EXT, version="1.1", jis=1, cif=1)
        out = self.call("read", "stat", "8", "stat", "18", "stat", "19", "query")
        self.assertEqual(out, [
            "SetID=0", "OpenUSB=0",
            "GetMrState=0 00 c6 08 25 3b 3b 3f 01 13 00 00 00 00 00 00 00",
            "RetrieveStatistics(8)=0 1.1", "RetrieveStatistics(18)=0 JIS2",
            "RetrieveStatistics(19)=0 FCOM", "GetMrState1=0 00 a0 01 80", "CloseUSB=0"])

    def test_plain_reader_without_extended_block(self):
        self.reader.set(extended=0)
        out = self.call("stat", "18", "stat", "19", "query", "ext", *["1"] * 7)
        self.assertEqual(out[2:6], ["RetrieveStatistics(18)=0 ANSI",
                                    "RetrieveStatistics(19)=0 KBD",
                                    "GetMrState1=0 00 b9 00 00", "SetMrState1=1"])
        self.assertEqual(self.reader.state()["ext"], [0] * 7)

    def test_writes_change_the_state(self):
        self.reader.set(base=READER_BASE, ext=READER_EXT)
        out = self.call("base", "46", "28", "25", "3f", "3b", "3b", "02", "99",
                        "ext", "81", "82", "3", "4", "5", "6", "7", "reset")
        self.assertEqual(out[2:5], ["SetMrStateBuf=0", "SetMrState1=0", "SetMrState1=0"])
        state = self.reader.state()
        self.assertEqual(state["base"], [0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x13])
        self.assertEqual(state["ext"], [0x81, 0x82, 3, 4, 5, 6, 7])
        self.assertEqual(state["resets"], 1)
        self.assertEqual(self.reader.names(), ["SetID", "OpenUSB", "SetMrStateBuf",
                                               "SetMrState1", "SetMrState1", "CloseUSB"])
        self.assertEqual(self.reader.calls("SetMrState1")[1].buffer, bytes([0, 0xFF, 0xAA]) +
                         bytes(29))

    def test_injected_failure_and_no_reader(self):
        self.reader.set(fail={"GetMrState": 7})
        self.assertEqual(self.call("read")[2], "GetMrState=7 " + " ".join(["00"] * 16))
        self.assertEqual(self.reader.state()["fail"], {"GetMrState": 7})
        self.reader.set(present=0)
        self.assertEqual(self.call("read")[1:3], ["OpenUSB=2", "GetMrState=3" + " 00" * 16])
