"""The Linux serial backend: the vCOM transport through libserialport against simulated
readers, driven by posix_vcom as msrprofile drives it, and msrprofile itself. Exits 77
(skipped) when the machine can't give the readers a port that libserialport opens (see
linux_serial.py)."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import linux_serial
import vcom_sim
from vcom_sim import CIF_QUERY, JIS2_QUERY, READ_CMD, RESET_CMD, WRITE_PREFIX

DRIVER = linux_serial.NATIVE / "tests" / "system" / "posix_vcom"
MSRPROFILE = linux_serial.NATIVE / "msrprofile"


def reports(run):
    """What the driver printed about each reader it read: (COM text, path, fifteen bytes)."""
    found, lines = [], run.stdout.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("reader "):
            _, com, path = line.split()
            found.append((com, path, bytes.fromhex(lines[i + 1].removeprefix("block "))))
    return found


class LinuxSerialTest(unittest.TestCase):
    def setUp(self):
        self.ports = linux_serial.LinuxSerial()
        self.addCleanup(self.ports.close)

    def drive(self, *args):
        return self.ports.run([DRIVER, *args])

    def test_reader_with_cts_dsr_is_found_and_read(self):
        r = self.ports.reader(p2j=0x46, mr6=0x05, kq1=0x21, jis=1)
        run = self.drive("read", r.node)
        self.assertEqual(run.returncode, 0, run.stderr)
        [(com, path, block)] = reports(run)
        self.assertEqual((com, path), ("COM1", r.node))
        self.assertEqual(block[:9], r.settings()[:9])  # base block and kq1: what vCOM reads
        self.assertIn("jis 1 cif 1", run.stdout)
        self.assertEqual(r.record(), [READ_CMD, JIS2_QUERY, CIF_QUERY])
        # The bind mount lived in the test's namespace only.
        self.assertEqual(os.major(os.stat(r.node).st_rdev), 4)

    def test_write_sends_the_block_resets_and_reads_back(self):
        r = self.ports.reader()
        wanted = bytes.fromhex("46 09 23 3a 3a 2f 00 00 00 00 00 00 00 00 00")
        run = self.drive("write", wanted.hex(), r.node)
        self.assertEqual(run.returncode, 0, run.stderr)
        state = r.settings()
        self.assertEqual(state[:7], wanted[:7])
        self.assertEqual(state[7], 0x13)  # the firmware byte is the reader's own
        self.assertEqual(state[8], wanted[8])
        self.assertEqual(r.state()["writes"], 1)
        # kq1 bit 0 clear on a reader that can switch: the keyboard interface needs a reset.
        self.assertEqual(r.state()["resets"], 1)
        self.assertIn(WRITE_PREFIX + wanted[:7] + wanted[8:9], r.record())
        self.assertIn(RESET_CMD, r.record())
        before, after = reports(run)
        self.assertEqual(after[2][:9], state[:9])

    def test_port_without_modem_lines_is_not_used(self):
        r = self.ports.reader()
        self.ports.set_lines(r.node, cts=False, dsr=False)
        run = self.drive("read", r.node)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("no reader", run.stdout)
        self.assertIn(" getms=1, ms=0 ", run.stderr)  # opened, asked, found no line on
        self.assertEqual(r.record(), [])

    def test_silent_reader_is_given_up_after_the_time_out(self):
        r = self.ports.reader(silent=1)
        run = self.drive("read", r.node)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertEqual(r.record(), [READ_CMD])
        # 100 ms for the reader to gather, then 216 ms of read time-out: never less.
        self.assertGreaterEqual(run.elapsed, 0.316)

    def test_first_port_in_order_that_answers_is_used(self):
        first, second = self.ports.reader(p2j=0x41), self.ports.reader(p2j=0x42)
        run = self.drive("read", first.node, second.node)
        self.assertEqual([(c, p, b[0]) for c, p, b in reports(run)], [("COM2", first.node, 0x41)])
        self.assertEqual(second.record(), [])

    def test_probe_goes_on_past_a_silent_port(self):
        silent, answering = self.ports.reader(silent=1), self.ports.reader(p2j=0x42)
        run = self.drive("read", silent.node, answering.node)
        self.assertEqual([(c, p) for c, p, _ in reports(run)], [("COM1", answering.node)])
        self.assertEqual(silent.record(), [READ_CMD])

    def test_port_is_held_exclusively(self):
        r = self.ports.reader()
        run = self.drive("lock", r.node)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("second open: error 5", run.stdout)  # ERROR_ACCESS_DENIED, as on Windows

    def test_msrprofile_reads_writes_and_verifies(self):
        r = self.ports.reader()
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        profile = os.path.join(folder, "r.toml")

        def tool(*args):
            return self.ports.run([MSRPROFILE, *args, "--port", r.node])

        read = tool("read", "-o", profile)
        self.assertEqual(read.returncode, 0, read.stderr)
        with open(profile) as f:
            text = f.read()
        with open(profile, "w") as f:
            f.write(text.replace('ending_code = "?"', 'ending_code = "!"'))
        write = tool("write", profile)
        self.assertEqual(write.returncode, 0, write.stdout + write.stderr)
        self.assertEqual(r.state()["mr5"], ord("!"))
        self.assertEqual(tool("verify", profile).returncode, 0)
        r.set_state(mr5=ord("?"))
        differs = tool("verify", profile)
        self.assertEqual(differs.returncode, 1)
        self.assertIn('ending_code: intended "!", found "?"', differs.stdout)
        self.ports.set_lines(r.node, cts=False, dsr=False)
        self.assertEqual(tool("verify", profile).returncode, 2)

    def tool(self, r, *args, env=None):
        return self.ports.run([MSRPROFILE, *args, "--port", r.node], env=env)

    def test_msrprofile_takes_a_record_only_when_reads_agree(self):
        # reader's misbehaviour, command, exit, what it says
        rows = [
            ("a stray % before the reply", dict(stray="25"), 0, "read the reader"),
            ("16 bytes of noise", dict(noise=1), 4, "the reader's answers disagree"),
            ("answers every other command", dict(alternate=1), 4, "the reader's answers disagree"),
        ]
        for name, state, code, says in rows:
            with self.subTest(name):
                r = self.ports.reader(**state)
                folder = tempfile.mkdtemp()
                self.addCleanup(shutil.rmtree, folder)
                backup = os.path.join(folder, "backup.ini")
                read = self.tool(r, "read", "-o", backup)
                self.assertEqual(read.returncode, code, read.stderr)
                self.assertIn(says, read.stderr)
                if code == 0:
                    with open(backup, "rb") as f:
                        self.assertEqual(f.read()[:9], r.settings()[:9])
                profile = os.path.join(folder, "lrc.toml")
                with open(profile, "w") as f:
                    f.write("send_lrc = true\n")
                write = self.tool(r, "write", profile, env={"MSRPROFILE_HISTORY": folder})
                # A reader that answered every other command may look absent now (2).
                self.assertIn(write.returncode, (code, 2) if code else (0,), write.stderr)
                self.assertEqual(r.state()["writes"], 1 if code == 0 else 0)

    def test_answer_to_the_write_never_shifts_the_read_back(self):
        r = self.ports.reader(writeanswer="06")
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for n, delay in enumerate((0, 5, 10, 20, 40)):
            profile = os.path.join(folder, f"p{n}.toml")
            with open(profile, "w") as f:
                f.write(f"inter_character_delay = {delay}\n")
            write = self.tool(r, "write", profile, env={"MSRPROFILE_HISTORY": folder})
            self.assertEqual(write.returncode, 0, write.stdout + write.stderr)
            self.assertEqual(r.state()["mr6"], delay)

    def test_port_held_by_another_program_is_named(self):
        r = self.ports.reader()
        holder = subprocess.Popen(["flock", "--exclusive", r.pts, "sleep", "60"])
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        results = os.path.join(folder, "results.log")
        while subprocess.run(["flock", "--nonblock", r.pts, "true"]).returncode == 0:
            time.sleep(0.05)  # until the holder has it
        run = self.tool(r, "read", "--json")
        self.assertEqual(run.returncode, 2, run.stderr)
        self.assertEqual(json.loads(run.stdout)["outcome"], "port_busy")
        self.assertIn(f"{r.node} is in use by another program", run.stderr)
        profile = os.path.join(folder, "lrc.toml")
        with open(profile, "w") as f:
            f.write("send_lrc = true\n")
        write = self.tool(r, "write", profile, "--results", results,
                          env={"MSRPROFILE_HISTORY": folder})
        self.assertEqual(write.returncode, 2, write.stderr)
        with open(results) as f:
            self.assertEqual(f.read().splitlines()[-1].split("\t")[5], "port-busy")
        self.assertEqual(r.record(), [])

    def test_history_keeps_what_a_write_replaced_and_restore_puts_it_back(self):
        r = self.ports.reader(kq1=0x01)  # on its virtual COM interface
        original = r.settings()
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        env = {"MSRPROFILE_HISTORY": os.path.join(folder, "history")}
        profile = os.path.join(folder, "lrc.toml")
        with open(profile, "w") as f:
            f.write("send_lrc = true\nending_code = \"!\"\n")  # no interface
        write = self.tool(r, "write", profile, env=env)
        self.assertEqual(write.returncode, 0, write.stdout + write.stderr)
        self.assertIn("keeps its virtual COM port interface", write.stdout)
        self.assertEqual((r.state()["resets"], r.state()["mr5"]), (0, ord("!")))
        self.assertEqual(self.tool(r, "verify", profile).returncode, 0)  # interface not compared

        listed = self.ports.run([MSRPROFILE, "history", "--json"], env=env)
        [entry] = json.loads(listed.stdout)["entries"]
        self.assertEqual((entry["transport"], entry["firmware"]), ("vcom", 0x13))
        self.assertFalse(entry["entry"].upper().startswith("COM"))
        for bad, says in (("nosuch.toml", "no history entry"), (profile[:-5], "no history")):
            with self.subTest(bad):
                run = self.tool(r, "restore", bad, env=env)
                self.assertEqual(run.returncode, 3, run.stderr)
                self.assertIn(says, run.stderr)
        self.assertEqual(r.state()["writes"], 1)

        restore = self.tool(r, "restore", env=env)
        self.assertEqual(restore.returncode, 0, restore.stdout + restore.stderr)
        self.assertEqual(r.settings()[:9], original[:9])

        # A history folder that can't be made: nothing goes to the reader.
        run = self.tool(r, "write", profile, env={"MSRPROFILE_HISTORY": profile + "/history"})
        self.assertEqual(run.returncode, 5, run.stderr)
        self.assertIn("nothing was written", run.stderr)
        self.assertEqual(r.state()["writes"], 2)

    def test_msrprofile_swipe(self):
        r = self.ports.reader()
        card = {"track1": vcom_sim.TEST_TRACK1, "track2": vcom_sim.TEST_TRACK2}
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        short = os.path.join(folder, "short.toml")
        with open(short, "w") as f:
            f.write("send_lrc = false\n")  # leaves interface out: not compared
        # what the swipe sends, exit, what the output says
        rows = [
            ("a test card", card, 0, "PAN 16 characters, ending 1111"),
            ("a profile without interface", card, 0, "shows what " + short),
            # The noise holds CRs: on a busy machine a pause after one ends the burst there.
            ("10 kB of noise first", dict(card, noise=10240), 1,
             ("that is no swipe", "the swipe is not valid track data")),
            ("binary bytes", {"raw": bytes(range(0, 256, 7)) + b"\r"}, 1,
             "the swipe is not valid track data"),
            # Named by sentinel and position, whatever their errors.
            ("a lower-case name, a PAN failing Luhn",
             {"track1": "%B4111111111111112^doe/john^2512101000000000000000?",
              "track2": ";4111111111111112=25121010000000000000?"}, 1,
             "track 2: not valid; leading code ;"),
            ("unreadable tracks, no profile", {"raw": b"%E?;E?+E?\r"}, 1,
             "track 3: unreadable; leading code +"),
            ("unplugged mid-swipe", dict(card, hangup=20), 2,
             "stopped answering in the middle of a swipe"),
        ]
        for name, swipe, code, says in rows:
            with self.subTest(name):
                extra = ["--profile", short] if "without interface" in name else []
                proc = self.ports.start([MSRPROFILE, "swipe", "--port", r.node, *extra])
                rc, out, err = vcom_sim.swipe_when_waiting(proc, r, swipe)
                self.assertEqual(rc, code, out + err)
                self.assertTrue(any(s in out + err for s in (says if isinstance(says, tuple)
                                                             else (says,))), out + err)
                for secret in vcom_sim.TEST_SECRETS:
                    self.assertNotIn(secret, out + err)

    def station(self, reader, *args):
        """msrprofile station running on `reader`, and a reader of its standard error."""
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        profile = os.path.join(folder, "lrc.toml")
        with open(profile, "w") as f:
            # The reader's own interface: a switch would end the write without a read-back.
            f.write('send_lrc = true\ninterface = "virtual COM port"\n')
        proc = self.ports.start([MSRPROFILE, "station", profile, "--port", reader.node, "--json",
                                 *[a.replace("FOLDER", folder) for a in args]],
                                env={"MSRPROFILE_HISTORY": os.path.join(folder, "history")})
        self.addCleanup(proc.communicate)
        self.addCleanup(proc.kill)  # cleanups run last first

        def stderr_until(text):
            while text not in (line := proc.stderr.readline()):
                self.assertTrue(line, f"station ended before saying {text!r}")
        return proc, stderr_until, folder

    def test_msrprofile_station_takes_readers_as_they_come_and_go(self):
        r = self.ports.reader(silent=1)
        proc, stderr_until, folder = self.station(r, "--count", "3", "--results", "FOLDER/r.txt")
        seen = []
        # (what the reader answers once plugged in, the outcome the station gives it)
        for state, outcome in (({}, "written"), ({"mr7": 0}, "failed"),
                               ({"mr7": 0x13}, "no_change")):
            stderr_until(f"plug in reader {len(seen) + 1}")
            r.set_state(silent=0, **state)
            seen.append(json.loads(proc.stdout.readline()))
            self.assertEqual(seen[-1]["outcome"], outcome, seen[-1])
            time.sleep(1)  # left plugged in a while, it must not be taken again
            r.set_state(silent=1)  # unplugged: the station waits for that before the next
        summary = json.loads(proc.stdout.readline())
        self.assertEqual(proc.wait(timeout=30), 1)
        self.assertEqual((summary["readers"], summary["failed_readers"]), (3, [2]))
        self.assertEqual(seen[0]["port"], r.node)
        self.assertIn("firmware byte of 0", seen[1]["message"])
        self.assertEqual(r.state()["writes"], 1)  # neither the noise nor the same again
        with open(os.path.join(folder, "r.txt")) as f:
            words = [line.split("\t")[5] for line in f.read().splitlines()]
        self.assertEqual(words, ["written", "reader-failed", "no-change"])

    def test_msrprofile_station_finishes_the_reader_in_hand_when_stopped(self):
        r = self.ports.reader(silent=1, delay=100)
        proc, stderr_until, _ = self.station(r)
        stderr_until("plug in reader 1")
        r.set_state(silent=0)
        while not any(c.startswith(WRITE_PREFIX) for c in r.record()):
            self.assertIsNone(proc.poll())
            time.sleep(0.01)
        proc.send_signal(signal.SIGTERM)  # the read-back is still to come
        reader, summary = (json.loads(proc.stdout.readline()) for _ in range(2))
        self.assertEqual(proc.wait(timeout=30), 0)
        self.assertEqual((reader["outcome"], summary["stopped"]), ("written", True))

    def test_msrprofile_station_checks_a_test_swipe(self):
        r = self.ports.reader(silent=1)
        proc, stderr_until, _ = self.station(r, "--count", "1", "--swipe")
        stderr_until("plug in reader 1")
        r.set_state(silent=0)
        stderr_until("swipe a test card on ")
        r.swipe(track1=vcom_sim.TEST_TRACK1, track2=vcom_sim.TEST_TRACK2)
        out, _ = proc.communicate(timeout=60)
        reader = json.loads(out.splitlines()[0])
        self.assertEqual((proc.returncode, reader["outcome"], reader["swipe"]["outcome"]),
                         (0, "written", "valid"), out)
        for secret in vcom_sim.TEST_SECRETS:
            self.assertNotIn(secret, out)

    def test_swipe_leaves_no_card_data_in_memory(self):
        """Between two swipes, once the first is reported: the process's writable memory
        holds no piece of the card in any width its code stores characters in."""
        r = self.ports.reader()
        card = {"track1": vcom_sim.TEST_TRACK1, "track2": vcom_sim.TEST_TRACK2}
        proc = self.ports.start([MSRPROFILE, "swipe", "--port", r.node, "--count", "2"])
        self.addCleanup(lambda: proc.poll() is None and (proc.kill(), proc.wait()))

        def prompt():
            line = ""
            while "swipe a card on " not in line:
                line = proc.stderr.readline()
                self.assertTrue(line, "msrprofile ended before it waited for a swipe")

        prompt()
        r.swipe(**card)
        prompt()  # the first swipe is reported: the second is waited for
        self.assertEqual(os.readlink(f"/proc/{proc.pid}/exe"), str(MSRPROFILE.resolve()))
        secrets = (vcom_sim.TEST_PAN, vcom_sim.TEST_NAME, vcom_sim.TEST_TRACK2[18:-1])
        found = []
        with open(f"/proc/{proc.pid}/maps") as maps, open(f"/proc/{proc.pid}/mem", "rb") as mem:
            for line in maps:
                span, perms = line.split()[:2]
                if not perms.startswith("rw"):
                    continue
                start, end = (int(x, 16) for x in span.split("-"))
                mem.seek(start)
                try:
                    data = mem.read(end - start)
                except OSError:
                    continue  # a guard page
                found += [(secret, code, line.split()[-1]) for secret in secrets
                          for code in ("ascii", "utf-16-le", "utf-32-le")
                          if secret.encode(code) in data]
        self.assertEqual(found, [])
        r.swipe(**card)
        out, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 0, out + err)
        self.assertEqual(out.count("the swipe is valid track data"), 2, out)


if __name__ == "__main__":
    reason = linux_serial.unavailable()
    if reason:
        print(f"skipped: {reason}")
        sys.exit(linux_serial.SKIP)
    unittest.main(verbosity=2)
