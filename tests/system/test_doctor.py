"""msrprofile.exe doctor under Wine: a reader on USB HID, a reader on COM5 with COM3 held by
another program, and nothing attached; what it reports, its exit codes, and that it never
writes to a reader."""

import json
import shutil
import subprocess

import rig
import usb_sim
import vcom_sim

GERMAN, USA = 2, 0


def install(folder, doziv):
    folder.mkdir(parents=True, exist_ok=True)
    if doziv:
        usb_sim.install(folder, exe=False)
    shutil.copyfile(rig.BUILD / "msrprofile.exe", folder / "msrprofile.exe")
    return folder / "msrprofile.exe"


def lines(run):
    return run.stdout.decode("latin-1").splitlines()


class UsbDoctorTest(rig.WineTestCase):
    def test_usb_reader_and_the_terminal_layout(self):
        folder = rig.workdir("docusb")
        exe = install(folder, doziv=True)
        reader = usb_sim.Reader(rig.workdir("docusbsim"))
        # Wine's layout on the rig's X server is US: a reader that types for German
        # disagrees with it, one that types for USA agrees.
        for lang, code, layout_status in ((GERMAN, 1, "warning"), (USA, 0, "ok")):
            with self.subTest(lang=lang):
                reader.set(ext=[0x51, lang, 0, 0, 0, 0, 0], cif=1)
                reader.clear_record()
                run = rig.run_exe(["doctor"], folder, exe=exe, env=reader.env())
                self.assertEqual(run.returncode, code, run.stdout + run.stderr)
                text = lines(run)
                self.assertIn("ok      doziv.dll found: C:\\docusb\\doziv.dll", text)
                self.assertIn("ok      USB HID: a reader, firmware 0x13, JIS2 no, interface "
                              "switch yes, extended block yes", text)
                layout = [t for t in text if "this terminal types" in t]
                self.assertTrue(layout[0].startswith(layout_status), text)
                if lang == GERMAN:
                    self.assertIn("        what to do: this terminal types with the US layout "
                                  "(00000409) but the reader types for German: set "
                                  "keyboard_language = \"USA\" in the profile (or choose USA in "
                                  "the window) and write it", text)
                # Read only: no entry point that writes was called.
                self.assertEqual([n for n in reader.names() if n.startswith("SetMr")], [])
        doc = json.loads(rig.run_exe(["doctor", "--json"], folder, exe=exe,
                                     env=reader.env()).stdout)
        self.assertEqual((doc["exit"], doc["readers"][0]["where"], doc["usb"]["outcome"]),
                         (0, "USB HID", "reader"))
        self.assertEqual(doc["keyboard_layout"], {"klid": "00000409", "layout": "US",
                                                  "reader_language": "USA", "matches": True})
        options = {o["name"]: o["value"] for o in doc["readers"][0]["options"]}
        self.assertEqual((options["interface"], options["keyboard_language"]),
                         ("virtual COM port", "USA"))


class VcomDoctorTest(rig.WineTestCase):
    def test_reader_on_com5_com3_held_and_nothing_attached(self):
        folder = rig.workdir("docvcom")
        exe = install(folder, doziv=False)
        with vcom_sim.VcomPorts() as ports:
            com5 = ports.reader(5)
            com3 = ports.reader(3)
            ports.reader(4, silent=1)
            ports.set_lines(4, cts=False, dsr=False)
            ports.reader(6, silent=1)
            ports.apply()
            holder = subprocess.Popen(["wine", str(rig.TOOLS / "holdfile.exe"), "\\\\.\\COM3",
                                       "60"], env=rig.wine_env(ports.env()),
                                      stdout=subprocess.PIPE, text=True)
            try:
                self.assertEqual(holder.stdout.readline().strip(), "ready")
                run = ports.run_exe(["doctor"], folder, exe=exe)
                doc = json.loads(ports.run_exe(["doctor", "--json"], folder, exe=exe).stdout)
            finally:
                holder.kill()
                holder.wait()
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            text = lines(run)
            ours = [t for t in text if t.split()[1:2] in (["COM6:"], ["COM5:"], ["COM4:"],
                                                           ["COM3:"])]
            self.assertEqual(ours, [
                "info    COM6: a device that does not answer the settings read command: not a "
                "reader, or a reader on USB HID",
                "ok      COM5: a reader, firmware 0x13, JIS2 no, interface switch yes",
                "info    COM5: send_track1 = true, send_track2 = true, send_track3 = true, "
                "send_leading_ending_codes = true, send_lrc = false, send_ending_cr = true, "
                "additional_cr = false, tab_to_end = false, interface = \"virtual COM port\"",
                "info    COM4: no device: CTS and DSR off"] + ours[4:])
            # Windows opens a COM port for one program at a time, so the held COM3 fails
            # with access denied; Wine 8 lets a second process open it, and the reader
            # there then answers.
            self.assertIn(ours[4], ("info    COM3: in use by another program (access denied)",
                                    "ok      COM3: a reader, firmware 0x13, JIS2 no, "
                                    "interface switch yes"))
            self.assertTrue(any(t.startswith("info    doziv.dll not found (looked at "
                                             "C:\\docvcom\\doziv.dll, ") for t in text), text)
            outcomes = {p["port"]: p["outcome"] for p in doc["ports"]}
            self.assertEqual([outcomes[f"COM{n}"] for n in (6, 5, 4)],
                             ["no_answer", "reader", "no_device"])
            self.assertIn(outcomes["COM3"], ("in_use", "reader"))
            # Asked, never told: the settings read and the two type queries, twice.
            self.assertEqual(com5.record(), [vcom_sim.READ_CMD, vcom_sim.JIS2_QUERY,
                                             vcom_sim.CIF_QUERY] * 2)
            self.assertFalse([c for c in com3.record()
                              if c.startswith((vcom_sim.WRITE_PREFIX, vcom_sim.RESET_CMD))])


    def test_nothing_attached(self):
        folder = rig.workdir("docnone")
        exe = install(folder, doziv=False)
        run = rig.run_exe(["doctor"], folder, exe=exe)
        self.assertEqual(run.returncode, 2, run.stdout + run.stderr)
        text = lines(run)
        self.assertIn("info    USB HID: no reader: doziv.dll, the reader's USB library, was not "
                      "found (looked at C:\\docnone\\doziv.dll, C:\\windows\\system32\\doziv.dll, "
                      "C:\\windows\\doziv.dll): put it beside msrprofile.exe", text)
        self.assertEqual(text[-2], "warning no reader found")
