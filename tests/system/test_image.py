"""The programs as Windows XP SP3's loader meets them: 32-bit x86, their subsystem, versions
it accepts, statically linked, and no import that XP lacks (scripts/check-image)."""

import subprocess
import sys
import unittest

import rig

# Each program we ship, in the build tree, with its subsystem.
PROGRAMS = [
    ("msrsetup.exe", "gui"),
    ("msrprofile.exe", "console"),
]


class ImageTest(unittest.TestCase):
    def test_programs_start_on_windows_xp(self):
        for name, subsystem in PROGRAMS:
            with self.subTest(program=name):
                run = subprocess.run([sys.executable, str(rig.SOURCE / "scripts" / "check-image"),
                                      "--subsystem", subsystem, str(rig.PRODUCT / name)],
                                     capture_output=True, text=True)
                self.assertEqual(run.stdout + run.stderr, "")
                self.assertEqual(run.returncode, 0)


if __name__ == "__main__":
    unittest.main()
