"""The programs as Windows meets them: as XP SP3's loader reads them (scripts/check-image),
their manifests, and a version that follows VERSION into both programs and the package,
also when VERSION changes in a tree that was already built."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

import rig

sys.path.insert(0, str(rig.SOURCE / "scripts"))
from peimage import RT_MANIFEST, read_image, version_info  # noqa: E402

VERSION = (rig.SOURCE / "VERSION").read_text().split()[0]
V1 = "{urn:schemas-microsoft-com:asm.v1}"
VISTA_TO_11 = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
               "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
               "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
CC6 = ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df")
# Each program we ship: its subsystem and the dependencies its manifest names.
PROGRAMS = [
    ("msrsetup.exe", "gui", [CC6]),
    ("msrprofile.exe", "console", []),
]


class ImageTest(unittest.TestCase):
    def test_programs_start_on_windows_xp(self):
        for name, subsystem, _ in PROGRAMS:
            with self.subTest(program=name):
                run = subprocess.run([sys.executable, str(rig.SOURCE / "scripts" / "check-image"),
                                      "--subsystem", subsystem, str(rig.PRODUCT / name)],
                                     capture_output=True, text=True)
                self.assertEqual(run.stdout + run.stderr, "")
                self.assertEqual(run.returncode, 0)

    def test_manifest_and_version_resource(self):
        for name, _, dependencies in PROGRAMS:
            with self.subTest(program=name):
                image = read_image(rig.PRODUCT / name)
                root = ET.fromstring(image["resources"][(RT_MANIFEST, 1)])
                self.assertEqual(root.find(V1 + "assemblyIdentity").get("version"), VERSION + ".0")
                levels = [(e.get("level"), e.get("uiAccess")) for e in root.iter()
                          if e.tag.endswith("}requestedExecutionLevel")]
                self.assertEqual(levels, [("asInvoker", "false")])
                self.assertEqual({e.get("Id") for e in root.iter() if e.tag.endswith("}supportedOS")},
                                 VISTA_TO_11)
                found = [(a.get("name"), a.get("version"), a.get("publicKeyToken"))
                         for a in root.iter(V1 + "assemblyIdentity")][1:]
                self.assertEqual(found, dependencies)
                # Fixed pixels: Windows, not the program, scales the window.
                self.assertFalse([e for e in root.iter() if "dpiAware" in e.tag])
                self.assertEqual(version_info(image), (VERSION + ".0", [0x409]))
                self.assertIn("ProductName\0\0msrsetup\0".encode("utf-16-le"),
                              image["resources"][(16, 1)])


class VersionBumpTest(unittest.TestCase):
    """The sources linked into a tree of their own with its own VERSION, built where
    build/windows is relative to them, so that a compiler cache serves what did not change."""

    def test_a_new_version_reaches_both_programs_and_the_package(self):
        with tempfile.TemporaryDirectory(prefix="bump-", dir=rig.BUILD) as tmp:
            tree = Path(tmp) / "src"
            tree.mkdir()
            for entry in rig.SOURCE.iterdir():
                if entry.name not in ("VERSION", "build", ".git"):
                    (tree / entry.name).symlink_to(entry)
            (tree / "VERSION").write_text(VERSION + "\n")
            build = tree / "build" / "windows"
            env = dict(os.environ, CCACHE_BASEDIR=str(tree), CCACHE_NOHASHDIR="1")
            if shutil.which("ccache"):
                env.update(CMAKE_C_COMPILER_LAUNCHER="ccache", CMAKE_CXX_COMPILER_LAUNCHER="ccache")
            subprocess.run(["cmake", "--preset", "windows", "-DMSR_SYSTEM_TESTS=OFF"], cwd=tree,
                           env=env, check=True, capture_output=True)
            subprocess.run(["cmake", "--build", str(build), "--target", "msrsetup", "msrprofile",
                            "-j2"], env=env, check=True, capture_output=True)
            bumped = "%s.%d" % (VERSION.rsplit(".", 1)[0], int(VERSION.rsplit(".", 1)[1]) + 1)
            (tree / "VERSION").write_text(bumped + "\n")
            subprocess.run([str(tree / "scripts" / "package"), "--build", str(build)],
                           env=env, check=True, capture_output=True)
            msi = tree / "dist" / f"msrsetup-{bumped}.msi"
            subprocess.run(["msiextract", "-C", str(Path(tmp) / "x"), str(msi)], check=True,
                           capture_output=True)
            installed = Path(tmp) / "x" / "Program Files" / "msrsetup"
            for name in ("msrsetup.exe", "msrprofile.exe"):
                for where in (build / name, installed / name):
                    self.assertEqual(version_info(read_image(where))[0], bumped + ".0", where)
            self.assertIn(f"ProductVersion\t{bumped}\n", subprocess.run(
                ["msiinfo", "export", str(msi), "Property"], capture_output=True, text=True).stdout)
            # A VERSION the build can't take stops the next run before it writes a package.
            (tree / "VERSION").write_text(bumped + "-rc1\n")
            run = subprocess.run([str(tree / "scripts" / "package"), "--build", str(build)],
                                 env=env, capture_output=True, text=True)
            self.assertNotEqual(run.returncode, 0)
            self.assertIn(f'VERSION holds "{bumped}-rc1": it must be three numbers', run.stderr)
            self.assertEqual(sorted(p.name for p in (tree / "dist").iterdir()), [])


if __name__ == "__main__":
    unittest.main()
