"""msrprofile.exe's device commands under Wine against the USB and virtual COM stand-ins
(read, write, verify: the same, a difference, no reader), and the fleet script
program-reader.cmd under Wine's cmd."""

import datetime
import hashlib
import json
import shutil
import subprocess

import rig
import usb_sim
import vcom_sim


def install(folder):
    """msrprofile.exe and the fleet script in folder, beside the stand-in doziv.dll."""
    usb_sim.install(folder, exe=False)
    for name in ("msrprofile.exe", "program-reader.cmd"):
        shutil.copyfile(rig.BUILD / name, folder / name)
    return folder / "msrprofile.exe"


class UsbTest(rig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.dir = rig.workdir("profdev")
        self.exe = install(self.dir)
        self.reader = usb_sim.Reader(rig.workdir("profdevsim"))

    def run_tool(self, *args, exe=None):
        return rig.run_exe(list(args), self.dir, exe=exe or self.exe, env=self.reader.env())

    def test_read_change_write_verify(self):
        rig.LOG.write_bytes(b"")  # the device commands log as msrsetup does, when it exists
        read = self.run_tool("read", "--usb", "-o", "C:\\profdev\\r.toml")
        self.assertEqual(read.returncode, 0, read.stderr)
        self.assertIn(b"kq3..kq7 could not be read", read.stderr)
        profile = (self.dir / "r.toml").read_text()
        self.assertIn("firmware = 0x13", profile)
        (self.dir / "r.toml").write_text(profile.replace("send_lrc = false", "send_lrc = true")
                                         .replace("firmware = 0x13", "firmware = 0x00"))
        write = self.run_tool("write", "C:\\profdev\\r.toml", "--usb")
        self.assertEqual(write.returncode, 0, write.stdout + write.stderr)
        # The reader took the change and kept its own firmware byte.
        self.assertEqual(self.reader.state()["base"], [0xC6, 0x18, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13])
        self.assertEqual(self.run_tool("verify", "C:\\profdev\\r.toml", "--usb").returncode, 0)
        self.reader.set(base=[0xC6, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13])
        differs = self.run_tool("verify", "C:\\profdev\\r.toml", "--usb")
        self.assertEqual(differs.returncode, 1)
        self.assertIn(b"send_lrc: intended true, found false", differs.stdout)
        log = rig.log_text()
        self.assertIn(" msrprofile " + (rig.SOURCE / "VERSION").read_text().strip() + ": verify C:\\profdev\\r.toml --usb \r\n", log)
        self.assertIn(" GetMrState1=0, rbuf= \r\n", log)

    def test_no_reader_and_a_reader_that_fails(self):
        (self.dir / "e.ini").write_bytes(bytes.fromhex("4608253b3b3f" + "00" * 9))
        self.reader.set(present=0)
        for args in (["read", "--usb"], ["verify", "C:\\profdev\\e.ini", "--usb"],
                     ["write", "C:\\profdev\\e.ini", "--usb"]):
            self.assertEqual(self.run_tool(*args).returncode, 2, args)
        self.reader.set(fail={"GetMrState": 5})
        self.assertEqual(self.run_tool("verify", "C:\\profdev\\e.ini", "--usb").returncode, 4)
        self.assertNotIn("SetMrStateBuf", self.reader.names())

    def test_an_option_the_reader_cant_hold_makes_it_differ(self):
        self.reader.set(extended=0)
        (self.dir / "de.toml").write_text('keyboard_language = "German"\n')
        for command in ("write", "verify"):
            run = self.run_tool(command, "C:\\profdev\\de.toml", "--usb",
                                "--results", "C:\\profdev\\r.txt")
            self.assertEqual(run.returncode, 1, run.stdout)
            self.assertIn(b'keyboard_language: intended "German", this USB HID reader has no '
                          b"extended block to hold it", run.stdout)
        lines = (self.dir / "r.txt").read_text().splitlines()
        self.assertEqual([line.split("\t")[5] for line in lines], ["differs", "differs"])

    def test_a_switch_to_virtual_com_is_not_read_back_over_usb(self):
        self.reader.set(cif=1)
        (self.dir / "v.toml").write_text('interface = "virtual COM port"\n')
        write = self.run_tool("write", "C:\\profdev\\v.toml", "--usb")
        self.assertEqual(write.returncode, 0, write.stderr)
        self.assertIn(b"msrprofile verify C:\\profdev\\v.toml --vcom", write.stdout)
        self.assertEqual((self.reader.state()["ext"][0], self.reader.state()["resets"]), (1, 1))
        self.assertEqual(self.reader.names().count("GetMrState"), 1)

    def fleet(self, *args):
        return self.run_tool("/c", "program-reader.cmd", *args, "--results",
                             "C:\\profdev\\results.txt", exe="cmd")

    def test_fleet_script_writes_only_what_differs_and_passes_exit_codes_on(self):
        (self.dir / "fleet.toml").write_text("send_track3 = false\n")
        checked = self.fleet("fleet.toml", "--check")
        self.assertEqual(checked.returncode, 1, checked.stdout + checked.stderr)
        self.assertNotIn("SetMrStateBuf", self.reader.names())
        self.assertEqual(self.fleet("fleet.toml").returncode, 0)  # USB HID, then vCOM
        self.assertEqual(self.reader.state()["base"][:7], [0x46, 0x0C, 0x25, 0x3B, 0x3B, 0x3F, 0])
        self.reader.clear_record()
        self.assertEqual(self.fleet("fleet.toml", "--usb").returncode, 0)
        self.assertNotIn("SetMrStateBuf", self.reader.names())  # held already: not written
        self.reader.set(present=0)
        self.assertEqual(self.fleet("fleet.toml", "--usb").returncode, 2)
        # One line per msrprofile command, appended, in the fixed format whatever the locale.
        lines = [line.split("\t") for line in (self.dir / "results.txt").read_text().splitlines()]
        self.assertEqual([f[2:7] for f in lines], [
            ["verify", "usb", "-", "differs", "1"],
            ["verify", "usb", "-", "differs", "1"], ["write", "usb", "-", "written", "0"],
            ["verify", "usb", "-", "same", "0"],
            ["verify", "usb", "-", "same", "0"],
            ["verify", "usb", "-", "no-reader", "2"]])
        sha = hashlib.sha256((self.dir / "fleet.toml").read_bytes()).hexdigest()
        now = datetime.datetime.now(datetime.timezone.utc)
        for f in lines:
            when = datetime.datetime.strptime(f[0], "%Y-%m-%dT%H:%M:%SZ")
            self.assertLess(abs(now - when.replace(tzinfo=datetime.timezone.utc)).total_seconds(), 300)
            self.assertEqual(f[7:], ["C:\\profdev\\fleet.toml", sha])

    def test_fleet_script_tells_a_profile_it_cant_open_from_a_bad_one(self):
        (self.dir / "bad.toml").write_text("no_such_key = 1\n")
        for profile, code, said in (("gone.toml", 6, b"gone.toml can't be opened: retry later"),
                                    ("bad.toml", 3, b"bad.toml is not a valid profile")):
            run = self.fleet(profile, "--usb")
            self.assertEqual(run.returncode, code, run.stdout)
            self.assertIn(said, run.stdout)
        # Only msrprofile's verify of the bad profile wrote a line; the reader was not asked.
        self.assertEqual((self.dir / "results.txt").read_text().count("\tbad-profile\t"), 1)
        self.assertNotIn("GetMrState", self.reader.names())

    def test_fleet_script_refuses_a_transport_that_would_run_commands(self):
        (self.dir / "fleet.toml").write_text("send_track3 = false\n")
        for value in ("COM3&echo INJECTED>pwned3", "COM3|echo INJECTED>pwned", "COM3^echo",
                      "COM3(echo)", "COM3)echo INJECTED>pwned(", ";x&echo INJECTED>pwned"):
            run = self.fleet("fleet.toml", "--port", value)
            self.assertEqual(run.returncode, 64, (value, run.stdout))
            self.assertEqual(sorted(p.name for p in self.dir.glob("pwned*")), [], value)
        for switch in ("--vcom=0", "--vcom=299", "--vcom=05"):
            self.assertEqual(self.fleet("fleet.toml", switch).returncode, 64, switch)
        self.assertNotIn("GetMrState", self.reader.names())


class VcomTest(rig.WineTestCase):
    def test_read_write_verify_on_com5(self):
        folder = rig.workdir("profvcom")
        exe = install(folder)
        with vcom_sim.VcomPorts() as ports:
            reader = ports.reader(5)
            ports.apply()

            def run(*args):
                return ports.run_exe(list(args), folder, exe=exe)

            read = run("read", "--vcom", "-o", "C:\\profvcom\\r.ini")
            self.assertEqual(read.returncode, 0, read.stderr)
            self.assertEqual((folder / "r.ini").read_bytes(), reader.settings()[:9] + bytes(6))
            changed = bytearray((folder / "r.ini").read_bytes())
            changed[6] = 0x05  # inter_character_delay
            (folder / "r.ini").write_bytes(changed)
            write = run("write", "C:\\profvcom\\r.ini", "--vcom=5")
            self.assertEqual(write.returncode, 0, write.stdout + write.stderr)
            self.assertEqual(reader.state()["mr6"], 5)
            self.assertEqual(run("verify", "C:\\profvcom\\r.ini", "--port", "COM5").returncode, 0)
            reader.set_state(mr6=7)
            differs = run("verify", "C:\\profvcom\\r.ini", "--vcom")
            self.assertEqual(differs.returncode, 1)
            self.assertIn(b"inter_character_delay: intended 5, found 7", differs.stdout)
            self.assertEqual(run("verify", "C:\\profvcom\\r.ini", "--vcom=6").returncode, 2)
            # The registry's list, in the order --vcom probes it.
            self.assertEqual(run("ports").stdout.split()[0], b"COM5")

    def test_held_port_history_in_program_data_and_restore(self):
        folder = rig.workdir("profhist")
        exe = install(folder)
        (folder / "lrc.toml").write_text("send_lrc = true\n")
        with vcom_sim.VcomPorts() as ports:
            reader = ports.reader(5, kq1=0x01)  # on its virtual COM interface
            original = reader.settings()
            ports.apply()

            def run(*args):
                return ports.run_exe(list(args), folder, exe=exe)

            holder = subprocess.Popen(["wine", str(rig.TOOLS / "holdfile.exe"), "\\\\.\\COM5",
                                       "60"], env=rig.wine_env(ports.env()),
                                      stdout=subprocess.PIPE, text=True)
            try:
                self.assertEqual(holder.stdout.readline().strip(), "ready")
                held = run("write", "C:\\profhist\\lrc.toml", "--port", "COM5", "--results",
                           "C:\\profhist\\results.log")
            finally:
                holder.kill()
                holder.wait()
            self.assertEqual(held.returncode, 2, held.stderr)
            self.assertIn(b"COM5 is in use by another program", held.stderr)
            line = (folder / "results.log").read_text().splitlines()[-1]
            self.assertEqual(line.split("\t")[5], "port-busy")
            self.assertEqual(reader.record(), [])

            write = run("write", "C:\\profhist\\lrc.toml", "--port", "COM5")
            self.assertEqual(write.returncode, 0, write.stdout + write.stderr)
            self.assertIn(b"keeps its virtual COM port interface", write.stdout)
            self.assertEqual(reader.state()["resets"], 0)
            # Windows names the common application data folder: no variable set here.
            newest = json.loads(run("history", "--json").stdout)["entries"][0]
            self.assertTrue(newest["path"].startswith("C:\\ProgramData\\msrsetup\\history\\"),
                            newest["path"])
            self.assertEqual((newest["transport"], newest["port"]), ("vcom", "COM5"))
            restore = run("restore", "--vcom")
            self.assertEqual(restore.returncode, 0, restore.stdout + restore.stderr)
            self.assertEqual(reader.settings()[:9], original[:9])
