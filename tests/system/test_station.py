"""msrprofile.exe station under Wine: USB readers plugged in and out (the stand-in's state
file says whether one is present), each programmed as write programs it."""

import subprocess
import threading

import rig
import usb_sim
from test_profile_device import install

# The English defaults with send_lrc on, and the reader's own firmware byte.
PROFILE_BASE = [0x46, 0x18, 0x25, 0x3B, 0x3B, 0x3F, 0x00, 0x13]


class StationTest(rig.WineTestCase):
    def test_three_readers_one_refusing_the_extended_block(self):
        folder = rig.workdir("station")
        exe = install(folder)
        reader = usb_sim.Reader(rig.workdir("stationsim"))
        (folder / "lrc.toml").write_text("send_lrc = true\n")
        reader.set(present=0)
        proc = subprocess.Popen(
            ["wine", str(exe), "station", "C:\\station\\lrc.toml", "--usb", "--count", "3",
             "--results", "C:\\station\\r.txt"],
            cwd=folder, env=rig.wine_env(reader.env()), stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True, errors="replace")
        watchdog = threading.Timer(240, proc.kill)
        watchdog.start()
        for cleanup in (proc.communicate, proc.kill, watchdog.cancel):  # run last first
            self.addCleanup(cleanup)
        lines, states = [], []

        def stderr_until(text):
            while text not in (line := proc.stderr.readline()):
                self.assertTrue(line, f"station ended before {text!r}: {lines}")

        # (the reader plugged in, its entry points that fail)
        for number, fail in ((1, None), (2, {"SetMrState1": 1}), (3, None)):
            stderr_until(f"plug in reader {number}")
            reader.set(present=1, fail=fail)
            lines.append(proc.stdout.readline())
            states.append(reader.state())
            reader.set(present=0)  # unplugged: the station waits for that before the next
        summary = proc.stdout.readline()
        self.assertEqual(proc.wait(timeout=60), 1, lines + [summary])
        self.assertRegex(lines[0], r"^reader 1  \d\d:\d\d:\d\d  USB HID  firmware 0x13  "
                                   r"written: unplug it\n$")
        self.assertRegex(lines[1], r"  failed \(.*\): unplug it and set it aside: it did not take "
                                   r"the profile\n$")
        self.assertIn("written: unplug it", lines[2])
        self.assertEqual(summary, "station: 3 readers: 2 written, 0 no change, 1 failed (2)\n")
        # The second's base block was put back from what the read before the write kept.
        self.assertEqual([s["base"] for s in states],
                         [PROFILE_BASE, usb_sim.DEFAULT_BASE, PROFILE_BASE])
        self.assertIn("The reader still holds its previous settings. What it held before is kept "
                      "in C:\\ProgramData\\msrsetup\\history\\", lines[1])
        words = [line.split("\t")[5] for line in (folder / "r.txt").read_text().splitlines()]
        self.assertEqual(words, ["written", "reader-failed", "written"])
