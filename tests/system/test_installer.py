"""The Windows Installer package (scripts/package) as a fleet tool uses it: its tables as
msiinfo reads them, the same bytes from a second build, and under Wine a silent install,
an upgrade to the next version, a refused downgrade, an upgrade from an unsigned package to
the signed one of the same version, and an uninstall, each exit code read in full (Wine's
shell passes on only its low eight bits)."""

import re
import shutil
import subprocess
import tempfile
import uuid
import zipfile
from pathlib import Path

import rig
from test_package import throwaway_signer

UPGRADE_CODE = "{6C1E2B7A-3F0D-4E59-9A8B-2D4C7E1F5A30}"
VERSION = (rig.SOURCE / "VERSION").read_text().split()[0]
FOLDER = rig.DRIVE_C / "Program Files (x86)" / "msrsetup"
PAYLOAD = ["msrprofile.exe", "msrsetup.exe", "profiles/english.toml", "profiles/jis2.toml",
           "profiles/non-english.toml", "program-reader.cmd", "ps2msrhelp.txt",
           "usbmsrhelp.txt"]


# What the File table says of each file: its short and long name, and a file version for the
# programs (Language: their version resource's, US English).
FILES = [
    ("msrsetup.exe", "msrsetup.exe", VERSION + ".0", "1033"),
    ("usbmsrhelp.txt", "USBMSR~1.TXT|usbmsrhelp.txt", "", ""),
    ("ps2msrhelp.txt", "PS2MSR~1.TXT|ps2msrhelp.txt", "", ""),
    ("msrprofile.exe", "MSRPRO~1.EXE|msrprofile.exe", VERSION + ".0", "1033"),
    ("program_reader.cmd", "PROGRA~1.CMD|program-reader.cmd", "", ""),
    ("english.toml", "ENGLIS~1.TOM|english.toml", "", ""),
    ("jis2.toml", "JIS2~1.TOM|jis2.toml", "", ""),
    ("non_english.toml", "NON-EN~1.TOM|non-english.toml", "", ""),
]
VERSION_MAX_INCLUSIVE = 0x200


def product_code(msi):
    return dict(row[:2] for row in table(msi, "Property"))["ProductCode"]


def table(msi, name):
    # A table with streams (Icon) is exported with its streams, as files in the current
    # folder: the package's own temporary folder, not the sources.
    text = subprocess.run(["msiinfo", "export", str(msi), name], check=True,
                          capture_output=True, text=True, cwd=Path(msi).parent).stdout
    return [line.split("\t") for line in text.splitlines()[3:]]


def msiexec(*args):
    # cmd's !errorlevel! carries the whole code, 1603 included.
    run = rig.run_exe(["/v:on", "/c", "msiexec " + " ".join(args) + " & echo rc=!errorlevel!"],
                      rig.DRIVE_C, exe="cmd", timeout=120,
                      env={"WINEDLLOVERRIDES": "winedbg.exe=d;mscoree=d;mshtml=d;winemenubuilder.exe=d"})
    return int(re.search(rb"rc=(\d+)", run.stdout).group(1))


class InstallerTest(rig.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.dist = Path(tempfile.mkdtemp(prefix="installer-", dir=rig.BUILD))
        key, chain = throwaway_signer(cls.dist)
        sums = []
        # Twice unsigned, then signed: the same version in new bytes.
        for n, signing in ((1, []), (2, []), (3, ["--sign", str(key), "--cert", str(chain)])):
            out = subprocess.run([str(rig.SOURCE / "scripts" / "package"), "--build",
                                  str(rig.PRODUCT), "--out", str(cls.dist / str(n) / "p.zip"),
                                  *signing], check=True, capture_output=True, text=True).stdout
            sums.append(out.splitlines()[3])
        cls.sums = sums
        cls.msi = cls.dist / "1" / f"msrsetup-{VERSION}.msi"
        cls.signed = cls.dist / "3" / f"msrsetup-{VERSION}.msi"
        # The next version: the same files, a package that says one patch level more.
        cls.next = "%s.%d" % (VERSION.rsplit(".", 1)[0], int(VERSION.rsplit(".", 1)[1]) + 1)
        payload = cls.dist / "payload"
        subprocess.run(["msiextract", "-C", str(payload), str(cls.msi)], check=True,
                       capture_output=True)
        cls.newer = cls.dist / "newer.msi"
        shutil.copy(rig.SOURCE / "resources" / "msrsetup.ico",
                    payload / "Program Files" / "msrsetup" / "icon.ico")
        subprocess.run(["wixl", "-a", "x86", "-D", "Version=" + cls.next, "-D", "ProductName=msrsetup",
                        "-D", "ProductCode={%s}" % str(uuid.uuid4()).upper(), "-D", "SourceDir=.",
                        "-D", "IconFile=icon.ico",
                        "-o", str(cls.newer), str(rig.SOURCE / "deploy" / "msrsetup.wxs")],
                       cwd=payload / "Program Files" / "msrsetup", check=True)

    @classmethod
    def tearDownClass(cls):
        for msi in (cls.msi, cls.signed, cls.newer):
            msiexec("/x", product_code(msi), "/qn")
        shutil.rmtree(cls.dist, ignore_errors=True)
        super().tearDownClass()

    def test_tables_and_a_second_build(self):
        self.assertEqual(self.sums[0].split()[0], self.sums[1].split()[0])
        self.assertNotEqual(self.sums[0].split()[0], self.sums[2].split()[0])
        # The signed package is another product of the same version.
        self.assertNotEqual(product_code(self.msi), product_code(self.signed))
        props = dict(row[:2] for row in table(self.msi, "Property"))
        for name, value in [("ProductVersion", VERSION), ("ProductName", "msrsetup"),
                            ("UpgradeCode", UPGRADE_CODE), ("ALLUSERS", "1"),
                            ("ARPNOMODIFY", "1"), ("ARPPRODUCTICON", "msrsetup.ico")]:
            self.assertEqual(props.get(name), value, name)
        self.assertEqual([row[0] for row in table(self.msi, "Icon")], ["msrsetup.ico"])
        self.assertEqual([(f[0], f[2], f[4], f[5]) for f in table(self.msi, "File")], FILES)
        # Older versions and the same one are upgraded; only a newer one is a downgrade.
        upgrade = {row[-1]: row for row in table(self.msi, "Upgrade")}
        self.assertEqual(upgrade["WIX_UPGRADE_DETECTED"][1:3], ["", VERSION])
        self.assertTrue(int(upgrade["WIX_UPGRADE_DETECTED"][4]) & VERSION_MAX_INCLUSIVE)
        self.assertEqual(upgrade["WIX_DOWNGRADE_DETECTED"][1:3], [VERSION, ""])
        self.assertFalse(int(upgrade["WIX_DOWNGRADE_DETECTED"][4]) & 0x100)
        info = subprocess.run(["msiinfo", "suminfo", str(self.msi)], check=True,
                              capture_output=True, text=True).stdout
        self.assertIn("Template: Intel;1033", info)
        self.assertRegex(info, r"Version: (\d+)")
        self.assertLessEqual(int(re.search(r"Version: (\d+)", info).group(1)), 301)
        code = re.search(r"UUID\): (\{[0-9A-F-]{36}\})", info).group(1)
        self.assertNotEqual(code, product_code(self.msi))
        self.assertFalse([c for c in table(self.msi, "Component") if int(c[3]) & 256])
        self.assertFalse([r for r in table(self.msi, "Registry") if r[1] in ("1", "-1")])
        # Advertised shortcuts name a feature as their target; ours names the file.
        self.assertEqual([s[4] for s in table(self.msi, "Shortcut")],
                         ["[INSTALLFOLDER]msrsetup.exe"])
        order = {row[0]: int(row[2]) for row in table(self.msi, "InstallExecuteSequence")}
        self.assertLess(order["InstallValidate"], order["RemoveExistingProducts"])
        self.assertLess(order["RemoveExistingProducts"], order["InstallInitialize"])

    def test_install_upgrade_refused_downgrade_uninstall(self):
        self.assertEqual(msiexec("/i", f"Z:{self.msi}", "/qn"), 0)
        files = sorted(str(p.relative_to(FOLDER)) for p in FOLDER.rglob("*") if p.is_file())
        self.assertEqual(files, PAYLOAD)
        self.assertEqual((FOLDER / "msrsetup.exe").read_bytes(), (rig.PRODUCT / "msrsetup.exe").read_bytes())
        if rig.RUNS_32BIT:  # the installed programs are the 32-bit product
            run = rig.run_exe(["--version"], FOLDER, exe=FOLDER / "msrprofile.exe")
            self.assertEqual(run.stdout.decode().strip(), "msrprofile " + VERSION)

        self.assertEqual(msiexec("/i", f"Z:{self.newer}", "/qn"), 0)
        self.assertEqual(msiexec("/i", f"Z:{self.msi}", "/qn"), 1603)
        # The older product is gone, the newer one stays.
        self.assertEqual(msiexec("/x", product_code(self.msi), "/qn"), 1605)
        self.assertTrue((FOLDER / "msrsetup.exe").exists())

        self.assertEqual(msiexec("/x", product_code(self.newer), "/qn"), 0)
        self.assertFalse(FOLDER.exists())

    def test_signed_package_of_the_same_version_replaces_the_unsigned_one(self):
        self.assertEqual(msiexec("/i", f"Z:{self.msi}", "/qn"), 0)
        self.assertEqual(msiexec("/i", f"Z:{self.signed}", "/qn"), 0)
        # One product installed: the unsigned one is gone, with the signed files in place.
        self.assertEqual(msiexec("/x", product_code(self.msi), "/qn"), 1605)
        with zipfile.ZipFile(self.dist / "3" / "p.zip") as z:
            for name in ("msrsetup.exe", "msrprofile.exe"):
                self.assertEqual((FOLDER / name).read_bytes(), z.read(name), name)
        self.assertEqual(msiexec("/x", product_code(self.signed), "/qn"), 0)
        self.assertFalse(FOLDER.exists())
