"""msrprofile.exe under Wine on Windows paths: show and build, a build over an existing file
(the replacing rename), a bad profile that changes nothing, diff, JSON and exit codes."""

import json

import rig

ENGLISH = bytes.fromhex("4608253b3b3f" + "00" * 9)


def run(*args):
    return rig.run_exe(list(args), rig.DRIVE_C, exe=rig.BUILD / "msrprofile.exe")


class ProfileTest(rig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.dir = rig.workdir("profiles")

    def test_show_then_build_gives_the_same_bytes(self):
        settings = bytes.fromhex("c6182f3f3b0d20137f0140112233ff")
        (self.dir / "reader.ini").write_bytes(settings)
        shown = run("show", "C:\\profiles\\reader.ini", "-o", "C:\\profiles\\reader.toml")
        self.assertEqual(shown.returncode, 0, shown.stderr)
        # A text file as Windows writes one: CR LF line ends, which Notepad needs.
        text = (self.dir / "reader.toml").read_bytes().decode()
        for line in ('ending_code = 0x0D\r\n', 'interface = "virtual COM port"\r\n'):
            self.assertIn(line, text)
        self.assertEqual(run("show", "C:\\profiles\\reader.ini").stdout.decode(), text)
        built = run("build", "C:\\profiles\\reader.toml", "-o", "C:\\profiles\\copy.ini")
        self.assertEqual(built.returncode, 0, built.stderr)
        self.assertEqual((self.dir / "copy.ini").read_bytes(), settings)

    def test_build_replaces_an_existing_file(self):
        # MoveFileExA without MOVEFILE_REPLACE_EXISTING fails here with error 183.
        (self.dir / "p.toml").write_text("inter_character_delay = 2\nsend_lrc = true\n")
        for target in ("C:\\profiles\\msr.ini", "C:\\msrprofile-root.ini"):
            host = rig.DRIVE_C / target[3:].replace("\\", "/")
            host.write_bytes(b"old settings")
            built = run("build", "C:\\profiles\\p.toml", "-o", target)
            self.assertEqual((built.returncode, host.read_bytes()),
                             (0, ENGLISH[:1] + b"\x18" + ENGLISH[2:6] + b"\x02" + ENGLISH[7:]))
            host.unlink()
        self.assertEqual([p.name for p in self.dir.iterdir()], ["p.toml"])

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

    def test_messages_say_what_is_wrong(self):
        (self.dir / "p.toml").write_text("send_lrc = true\n")
        (self.dir / "doziv.dll").write_bytes(b"MZ not a library" * 64)
        (self.dir / "msrprofile.exe").write_bytes((rig.BUILD / "msrprofile.exe").read_bytes())
        exe = self.dir / "msrprofile.exe"
        rows = [(["build", "C:\\profiles\\p.toml", "-o", "C:\\profiles\\no\\x.ini"], 5,
                 "not written: the folder C:\\profiles\\no does not exist"),
                (["build", "C:\\profiles\\p.toml", "-o", "C:\\profiles"], 5,
                 "not written: it is a folder"),
                # Error 193, in the system's words: Wine's differ from Windows'.
                (["read", "--usb"], 2,
                 "C:\\profiles\\doziv.dll was found but Windows could not load it: "),
                # A path, not an option (Wine's C runtime may not resolve it: exit 3 then).
                (["show", "/profiles/none.toml"], 3, "/profiles/none.toml: can't be opened")]
        for args, code, says in rows:
            run = rig.run_exe(args, rig.DRIVE_C, exe=exe)
            self.assertEqual((run.returncode, says in run.stderr.decode()), (code, True),
                             (args, run.stderr))

    def test_diff_json_and_exit_codes(self):
        # The offline commands touch no reader and keep no log, even when one exists.
        rig.LOG.write_bytes(b"")
        (self.dir / "a.ini").write_bytes(ENGLISH)
        (self.dir / "b.toml").write_text("send_track3 = false\n")
        differ = run("diff", "--json", "C:\\profiles\\a.ini", "C:\\profiles\\b.toml")
        self.assertEqual(differ.returncode, 1)
        self.assertEqual(json.loads(differ.stdout)["differences"], [{
            "name": "send_track3", "field": "mr1", "mask": 4,
            "a": {"value": True, "raw": 0}, "b": {"value": False, "raw": 4}}])
        rows = [(["diff", "C:\\profiles\\a.ini", "C:\\profiles\\a.ini"], 0), (["--version"], 0),
                (["build", "--help"], 0), ([], 64), (["show"], 64),
                (["show", "C:\\profiles\\none.ini"], 3)]
        for args, code in rows:
            self.assertEqual(run(*args).returncode, code, args)
        self.assertEqual(rig.LOG.read_bytes(), b"")
