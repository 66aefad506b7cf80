"""msrprofile.exe under Wine on Windows paths: show, build over an existing file (the
replacing rename), a bad profile that changes nothing, diff, JSON and the exit codes."""

import json

import rig

PROFILE_EXE = rig.BUILD / "msrprofile.exe"
ENGLISH = bytes.fromhex("4608253b3b3f" + "00" * 9)


def run(*args):
    return rig.run_exe(list(args), rig.DRIVE_C, exe=PROFILE_EXE)


class ProfileTest(rig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.dir = rig.workdir("profiles")

    def test_show_then_build_gives_the_same_bytes(self):
        settings = bytes.fromhex("c6182f3f3b0d20137f0140112233ff")
        (self.dir / "reader.ini").write_bytes(settings)
        shown = run("show", "C:\\profiles\\reader.ini")
        self.assertEqual(shown.returncode, 0, shown.stderr)
        text = shown.stdout.decode()
        self.assertIn("leading_code_track3 = \";\"\r\n", text)
        self.assertIn("ending_code = 0x0D\r\n", text)
        self.assertIn("interface = \"virtual COM port\"\r\n", text)
        (self.dir / "reader.toml").write_bytes(shown.stdout)
        built = run("build", "C:\\profiles\\reader.toml", "-o", "C:\\profiles\\copy.ini")
        self.assertEqual(built.returncode, 0, built.stderr)
        self.assertEqual((self.dir / "copy.ini").read_bytes(), settings)

    def test_build_replaces_an_existing_file_in_one_rename(self):
        (self.dir / "p.toml").write_text("inter_character_delay = 2\nsend_lrc = true\n")
        for target in ("C:\\profiles\\msr.ini", "C:\\msrprofile-root.ini"):
            with self.subTest(target=target):
                host = rig.DRIVE_C / target[3:].replace("\\", "/")
                host.write_bytes(b"old settings")
                try:
                    built = run("build", "C:\\profiles\\p.toml", "-o", target)
                    self.assertEqual(built.returncode, 0, built.stderr)
                    self.assertEqual(host.read_bytes(), ENGLISH[:1] + b"\x18" + ENGLISH[2:6] +
                                     b"\x02" + ENGLISH[7:])
                finally:
                    host.unlink()
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["p.toml"])

    def test_a_bad_profile_changes_nothing_and_exits_3(self):
        (self.dir / "p.toml").write_text("# fleet\nhost_os = \"Linux\"\n")
        (self.dir / "msr.ini").write_bytes(ENGLISH)
        built = run("build", "C:\\profiles\\p.toml", "-o", "C:\\profiles\\msr.ini")
        self.assertEqual(built.returncode, 3)
        self.assertEqual(built.stderr.decode().splitlines()[0],
                         'C:\\profiles\\p.toml:2:11: key "host_os": "Linux" is not allowed; '
                         'allowed: "Windows" or "Android"')
        self.assertEqual((self.dir / "msr.ini").read_bytes(), ENGLISH)
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["msr.ini", "p.toml"])

    def test_diff_and_json(self):
        (self.dir / "a.ini").write_bytes(ENGLISH)
        (self.dir / "b.toml").write_text("send_track3 = false\n")
        same = run("diff", "C:\\profiles\\a.ini", "C:\\profiles\\a.ini")
        self.assertEqual((same.returncode, same.stdout), (0, b"the same configuration\r\n"))
        differ = run("diff", "--json", "C:\\profiles\\a.ini", "C:\\profiles\\b.toml")
        self.assertEqual(differ.returncode, 1)
        doc = json.loads(differ.stdout)
        self.assertEqual(doc["differences"], [{
            "name": "send_track3", "field": "mr1", "mask": 4,
            "a": {"value": True, "raw": 0}, "b": {"value": False, "raw": 4}}])
        shown = json.loads(run("show", "--json", "C:\\profiles\\b.toml").stdout)
        self.assertEqual(shown["bytes"], "460c253b3b3f000000000000000000")

    def test_exit_codes_of_the_command_line(self):
        # The offline commands touch no reader and keep no log, even when one exists.
        rig.LOG.write_bytes(b"")
        rows = [(["--version"], 0), (["build", "--help"], 0), ([], 64), (["show"], 64),
                (["build", "C:\\profiles\\none.toml", "-o", "C:\\profiles\\x.ini"], 3),
                (["show", "C:\\profiles\\none.ini"], 3)]
        for args, code in rows:
            with self.subTest(args=args):
                self.assertEqual(run(*args).returncode, code)
        self.assertEqual(list(self.dir.iterdir()), [])
        self.assertEqual(rig.LOG.read_bytes(), b"")
