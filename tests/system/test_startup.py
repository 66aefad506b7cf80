"""Start-up as a user sees it: the log only when \\msr.log exists, its header, the
start-up lines for several command lines, exit codes and the single-instance rule."""

import datetime
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import rig


def startup_lines(log):
    """The lines after the header, up to and including " -init- "."""
    lines = log.split("\r\n")
    return lines[4:lines.index(" -init- ") + 1]


class StartupTest(rig.WineTestCase):
    def test_no_log_file_no_log(self):
        cwd = rig.workdir("t")
        run = rig.run_exe("-s", cwd)
        self.assertEqual(run.returncode, 0)
        self.assertFalse(rig.LOG.exists())
        self.assertEqual(sorted(p.name for p in cwd.iterdir()), [])

    def test_header_has_todays_date_and_time(self):
        rig.LOG.write_bytes(b"")
        before = datetime.datetime.now()
        rig.run_exe("-s", rig.workdir("t"))
        after = datetime.datetime.now()
        log = rig.log_text()
        lines = log.split("\r\n")
        self.assertEqual(lines[0], "")
        self.assertEqual(lines[1], " " + "-" * 38 + " ")
        m = re.fullmatch(r" \* 1\.02\.3-92\.1\.10 \* (\d{4})-([1-9]\d?)-([1-9]\d?),  "
                         r"([ \d]\d):(\d\d):(\d\d)\.(\d\d)  ", lines[2])
        self.assertIsNotNone(m, lines[2])
        y, mo, d, h, mi, s, cs = (int(g) for g in m.groups())
        stamp = datetime.datetime(y, mo, d, h, mi, s, cs * 10000)
        self.assertLessEqual(before - datetime.timedelta(seconds=1), stamp)
        self.assertLessEqual(stamp, after + datetime.timedelta(seconds=1))
        self.assertEqual(lines[3], " " + stamp.strftime("%a %b %d %H:%M:%S %Y"))

    def test_startup_lines_and_exit_codes(self):
        rows = [
            # command line, exit code (no reader here: 201, or with -d the position of
            # -s), lines after the curdir line
            ("-s", 201, [" vcom=0, usb=0, jis=0 "]),
            ("-u -s", 201, [" usb version. (92.9.20,101.8.6) ", " vcom=0, usb=1, jis=0 "]),
            ("-j -u -s", 201, [" usb version. (92.9.20,101.8.6) ",
                             " usb jis version. (95.11.9.4) ", " vcom=0, usb=1, jis=1 "]),
            ("-v2 -v5 -d -s", 11, [" usb vcom version. (102.7.23.2) "] * 2 +
             [" vcom=1, usb=0, jis=0 "]),
            ("a-sb", 201, [" vcom=0, usb=0, jis=0 "]),
            ("x -s -s -S", 201, [" vcom=0, usb=0, jis=0 "]),
        ]
        for cp, code, rest in rows:
            with self.subTest(cp=cp):
                rig.LOG.write_bytes(b"")
                run = rig.run_exe(cp.split(), rig.workdir("t"))
                self.assertEqual(run.returncode, code)
                lines = startup_lines(rig.log_text())
                self.assertEqual(lines[0], f" curdir=C:\\t, inifn=C:\\windows\\tvrnmsr.ini, "
                                           f"len=10, cp={cp} ")
                self.assertEqual(lines[1:-1], rest)

    def test_log_is_in_the_root_of_the_current_drive(self):
        with tempfile.TemporaryDirectory() as d:
            drive = rig.PREFIX / "dosdevices" / "m:"
            drive.unlink(missing_ok=True)
            drive.symlink_to(d)
            try:
                cwd = Path(d) / "deep" / "er"
                cwd.mkdir(parents=True)
                # Wine takes a while to notice a new drive letter; until then it maps the
                # folder through Z:. Wait until a Wine process sees it as M:.
                for _ in range(20):
                    # Output to a file, not a pipe: Wine's services may hold a pipe open.
                    with tempfile.TemporaryFile() as out:
                        subprocess.run(["wine", "cmd", "/c", "cd"], cwd=str(cwd),
                                       env=rig.wine_env(), stdout=out,
                                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
                        out.seek(0)
                        if out.read().strip().upper().startswith(b"M:"):
                            break
                    time.sleep(0.5)
                (Path(d) / "msr.log").write_bytes(b"kept\r\n")
                rig.run_exe("-s", cwd)
                text = (Path(d) / "msr.log").read_bytes().decode("latin-1")
                self.assertTrue(text.startswith("kept\r\n\r\n -----"), repr(text[:300]))
                self.assertIn(" curdir=M:\\deep\\er, ", text)
                self.assertFalse(rig.LOG.exists())
            finally:
                drive.unlink()

    def test_runs_append(self):
        rig.LOG.write_bytes(b"")
        rig.run_exe("-u -s".split(), rig.workdir("t"))
        rig.run_exe("-j -s".split(), rig.workdir("t"))
        log = rig.log_text()
        self.assertEqual(log.count(" * 1.02.3-92.1.10 * "), 2)
        self.assertLess(log.index("usb=1, jis=0"), log.index("usb=0, jis=1"))

    def test_locked_log_is_left_alone(self):
        # On Windows a read-only log fails its "a+" open the same way; Wine running as
        # root opens a read-only file for writing anyway, so the lock stands in for it
        # here (the read-only case is covered by the unit tests).
        rig.LOG.write_bytes(b"old\r\n")
        holder = subprocess.Popen(["wine", str(rig.TOOLS / "holdfile.exe"), "C:\\msr.log", "30"],
                                  env=rig.wine_env(), stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(holder.stdout.readline().strip(), "ready")
            run = rig.run_exe("-s", rig.workdir("t"))
            self.assertEqual(run.returncode, 201)  # no PS/2 driver here
        finally:
            holder.kill()
            holder.wait()
        self.assertEqual(rig.LOG.read_bytes(), b"old\r\n")

    def test_second_instance_exits_at_once_and_says_so(self):
        rig.LOG.write_bytes(b"")
        holder = subprocess.Popen(
            ["wine", str(rig.TOOLS / "holdwin.exe"), "TApplication", "ZOV ORU VAZ Izove Duro",
             "30"], env=rig.wine_env(), stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(holder.stdout.readline().strip(), "ready")
            run = rig.run_exe("-u -s".split(), rig.workdir("t"))
            self.assertEqual(run.returncode, 202)  # not 3: silent mode never ran
            self.assertIn(b" another instance has its window open: nothing written, exit=202 ",
                          rig.LOG.read_bytes())
        finally:
            holder.kill()
            holder.wait()

    def test_hostile_command_lines(self):
        rig.LOG.write_bytes(b"")
        long_line = "x" * 10000 + "-v42" + " -s"
        for args in (["\xa0\xff-u-s"], [long_line], ['C:\\my-dir\\x-y.txt', "-s"]):
            with self.subTest(args=args[0][:20]):
                run = rig.run_exe(args, rig.workdir("t"))
                self.assertGreaterEqual(run.returncode, 0)
                self.assertNotIn(b"Unhandled exception", run.stderr)
