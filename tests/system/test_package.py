"""The package a technician copies to a terminal (scripts/package): unpacked into a fresh
folder on drive C, its files are the program with its help texts beside it, msrprofile with
the default profiles and the fleet script, and a SHA-256 list that checks; the program runs
from there, and so does the fleet script."""

import shutil
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

import rig
import usb_sim

SETTINGS = bytes([0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x99,
                  0x81, 0x82, 0x03, 0x04, 0x05, 0x06, 0x07])


class PackageTest(rig.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.dist = Path(tempfile.mkdtemp(prefix="package-", dir=rig.BUILD))
        cls.zip = cls.dist / "msrsetup-win32.zip"
        subprocess.run([str(rig.SOURCE / "scripts" / "package"), "--build", str(rig.PRODUCT),
                        "--out", str(cls.zip)], check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dist, ignore_errors=True)
        for name in ("pkg", "pkgsim", "t"):
            shutil.rmtree(rig.DRIVE_C / name, ignore_errors=True)
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.folder = rig.workdir("pkg")
        with zipfile.ZipFile(self.zip) as z:
            self.names = z.namelist()
            z.extractall(self.folder)

    def test_program_help_texts_and_their_sums(self):
        self.assertEqual(self.names, ["msrsetup.exe", "usbmsrhelp.txt", "ps2msrhelp.txt",
                                      "msrprofile.exe", "program-reader.cmd",
                                      "profiles/english.toml", "profiles/jis2.toml",
                                      "profiles/non-english.toml", "SHA256SUMS"])
        check = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=self.folder,
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        listed = [line.split("  ", 1)[1] for line in
                  (self.folder / "SHA256SUMS").read_text().splitlines()]
        self.assertEqual(listed, self.names[:-1])
        self.assertEqual((self.folder / "msrsetup.exe").read_bytes(), (rig.PRODUCT / "msrsetup.exe").read_bytes())
        # cmd.exe needs CR LF line ends in a script, whatever the checkout has.
        self.assertTrue(all(line.endswith(b"\r\n") for line in
                            (self.folder / "program-reader.cmd").read_bytes().splitlines(True)))

    @unittest.skipUnless(rig.RUNS_32BIT, rig.NO_32BIT)
    def test_unpacked_program_programs_a_usb_reader(self):
        # The reader's library goes beside the program, as a technician installs it; the
        # program is started from another folder.
        reader = usb_sim.Reader(rig.workdir("pkgsim"))
        usb_sim.install(self.folder, exe=False)
        rig.WINDOWS_INI.write_bytes(SETTINGS)
        run = rig.run_exe(["-u", "-s"], rig.workdir("t"), exe=self.folder / "msrsetup.exe",
                          env=reader.env())
        self.assertEqual(run.returncode, 3)
        self.assertEqual(reader.state()["base"], list(SETTINGS[:7]) + [0x13])
        self.assertEqual(reader.names(), ["SetID", "OpenUSB", "SetMrStateBuf", "CloseUSB"])

    @unittest.skipUnless(rig.RUNS_32BIT, rig.NO_32BIT)
    def test_fleet_script_programs_the_reader_from_a_shipped_profile(self):
        reader = usb_sim.Reader(rig.workdir("pkgsim"))
        usb_sim.install(self.folder, exe=False)
        run = rig.run_exe(["/c", "program-reader.cmd", "profiles\\jis2.toml", "--usb",
                           "--results", "C:\\pkg\\results.txt"], self.folder, exe="cmd",
                          env=reader.env())
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(reader.state()["base"], [0xC6, 0x08, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x13])


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def verified(path, ca):
    """osslsigncode exits 0 even when a signature fails: its output tells."""
    text = subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(path)],
                          capture_output=True, text=True).stdout
    return (text.count("Signature verification: ok") == 2 and "MISMATCH" not in text
            and text.rstrip().endswith("Succeeded"))


def throwaway_signer(d):
    """A throw-away certificate authority (d/ca.pem) and a code-signing certificate it
    issued: (its key, the chain of both)."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
            "-out", "ca.pem", "-days", "2", "-subj", "/CN=throw-away CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign", cwd=d)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "sign.key",
            "-out", "sign.csr", "-subj", "/CN=throw-away signer", cwd=d)
    (d / "ext").write_text("keyUsage=critical,digitalSignature\n"
                           "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "sign.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "ext", "-out", "sign.pem", cwd=d)
    (d / "chain.pem").write_bytes((d / "sign.pem").read_bytes() + (d / "ca.pem").read_bytes())
    return d / "sign.key", d / "chain.pem"


class SigningTest(unittest.TestCase):
    def test_signed_programs_and_package_verify_offline_and_a_changed_byte_fails(self):
        with tempfile.TemporaryDirectory() as tmp:
            d = Path(tmp)
            key, chain = throwaway_signer(d)
            out = subprocess.run([str(rig.SOURCE / "scripts" / "package"), "--build", str(rig.PRODUCT),
                                  "--out", str(d / "m.zip"), "--sign", str(key),
                                  "--cert", str(chain)],
                                 check=True, capture_output=True, text=True).stdout
            self.assertIn("signed: msrsetup.exe, msrprofile.exe and the package", out)
            with zipfile.ZipFile(d / "m.zip") as z:
                z.extractall(d / "u")
            sums = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=d / "u",
                                  capture_output=True, text=True)
            self.assertEqual(sums.returncode, 0, sums.stdout)
            msi = next(d.glob("msrsetup-*.msi"))
            for signed in (d / "u" / "msrsetup.exe", d / "u" / "msrprofile.exe", msi):
                self.assertTrue(verified(signed, d / "ca.pem"), signed)
            changed = bytearray((d / "u" / "msrprofile.exe").read_bytes())
            changed[len(changed) // 3] ^= 1
            (d / "changed.exe").write_bytes(changed)
            self.assertFalse(verified(d / "changed.exe", d / "ca.pem"))

    def test_a_key_that_is_not_the_certificates_stops_before_anything_is_made(self):
        with tempfile.TemporaryDirectory() as tmp:
            d = Path(tmp)
            _, chain = throwaway_signer(d)
            openssl("genpkey", "-algorithm", "RSA", "-out", "other.key", cwd=d)
            (d / "dist").mkdir()
            (d / "dist" / "m.zip").write_bytes(b"the previous run's")
            run = subprocess.run([str(rig.SOURCE / "scripts" / "package"), "--build", str(rig.PRODUCT),
                                  "--out", str(d / "dist" / "m.zip"), "--sign", str(d / "other.key"),
                                  "--cert", str(chain)], capture_output=True, text=True)
            self.assertEqual(run.returncode, 2)
            self.assertIn("does not belong to the first certificate", run.stderr)
            self.assertEqual([(p.name, p.read_bytes()) for p in (d / "dist").iterdir()],
                             [("m.zip", b"the previous run's")])
