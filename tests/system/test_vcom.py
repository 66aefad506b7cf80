"""Silent programming of a reader on a virtual COM port, as a user sees it: msrsetup.exe
under Wine against simulated readers on COM4, COM5 and COM9 (pseudo-terminals mapped as
Wine maps a real port), checked by the bytes each reader received, the settings it stored,
the exit code and the log.

The prefix's own COM1 (/dev/ttyS0) stays listed; every case here is decided on the ports
above it, so nothing depends on what answers there."""

import os
import re
import select
import shutil
import tempfile
import time
import unittest
from pathlib import Path

import rig
import vcom_sim
from vcom_sim import CIF_QUERY, JIS2_QUERY, READ_CMD, RESET_CMD, WRITE_PREFIX

# What each simulated reader holds before every case: firmware 13h, virtual COM interface.
READER_SETTINGS = bytes.fromhex("c608253b3b3f0113" "01" "000000000000")
READER_BEHAVIOUR = dict(jis=0, cif=1, silent=0, readlen=16, querylen=5, delay=0, writes=0,
                        resets=0)
# The settings file: no byte 00, 0A or 0D among the ones that reach the log as characters.
INI_BASE = bytes.fromhex("462b213a3c3e40" "05")
INI_EXT_REST = bytes.fromhex("112233445566")


def ini_bytes(kq1):
    return INI_BASE + bytes([kq1]) + INI_EXT_REST


def normalise(log):
    """The log's lines with handles and times made comparable."""
    # Windows' msvcrt prints %p in upper case; Wine's prints it in lower case.
    text = re.sub(r"\b[Ff]{%d}\b" % (rig.BITS // 4), "INVALID", log)
    text = re.sub(rf"\b{rig.PTR}\b", "H", text)
    text = re.sub(r"(tm=|at )\d+", r"\1T", text)
    return text.split("\r\n")


def setcom_lines(log):
    """The lines of the silent write, from " in setcom" to " out setcom"."""
    lines = normalise(log)
    start = lines.index(" in setcom, mode=1, tm=T ")
    return lines[start:lines.index(" out setcom at T ", start) + 1]


def text(data):
    """A command or reply as the log prints it with %s: up to its first zero byte."""
    return data.split(b"\0", 1)[0].decode("latin-1")


def dump(data):
    return ["".join(f" {b:x}" for b in data), "".join(" " + chr(b) for b in data)]


def opened(n, lines=0x30):
    return [f" hCom=H, port=\\\\.\\COM{n}, lerr=0, tm=T ", " getcs=1, dcb.baud=9600 ",
            f" getms=1, ms={lines:x} "]


def missing(n):
    """A port number with no device behind it."""
    return [f" hCom=INVALID, port=\\\\.\\COM{n}, lerr=2, tm=T "]


def no_lines(n):
    """A port that opens but holds neither CTS nor DSR: closed again untouched."""
    return opened(n, 0)


def probed(n, reply, lines=0x30):
    """A port given its time-outs and sent the settings read command; `reply` came back."""
    rows = opened(n, lines) + [
        " in settimeout, hCom=H, tm=T ",
        # A port Wine has just opened reports all time-outs 0.
        " GetCommTimeouts()=1,  0,0,0,0,0 ",
        " SetCommTimeouts()=1,0 ", " PurgeComm()=1 ", " SetCommTimeouts(1)=1,0 ",
        " GetCommTimeouts()=1,  20,200,1,200,1, lerr=0 ", " out settimeout at T ",
        " in wrcom, mode=0, hcom=H, tm=T ",
        f" wf( 4,{text(READ_CMD)} )=1, nbw=4, lerr=0 ",
        f" rf( 16,{text(reply)} )=1, nbw={len(reply)}, lerr=0 "]
    return rows + (dump(reply) if reply else [])


def programmed(n, ini, reset, lines=0x30, reply=READER_SETTINGS + b"\0"):
    """The reader found on port n and sent the file's settings (and the reset)."""
    command = WRITE_PREFIX + ini[0:7] + ini[8:9]
    rows = probed(n, reply, lines) + [
        " in wrcom, mode=1, hcom=H, tm=T "] + dump(command) + [
        f" wf( 12,{text(command)} )=1, nbw=12, lerr=0 "]
    if reset:
        rows += [" in wrcom, mode=2, hcom=H, tm=T "] + dump(RESET_CMD + bytes(7)) + [
            " reset( 5 )=1, nbw=5, lerr=0 "]
    return rows


def after_write(ini):
    """The reader's settings after it took the file's write: mr7 is its own."""
    return ini[0:7] + READER_SETTINGS[7:8] + ini[8:9] + READER_SETTINGS[9:]


class VcomSilentTest(rig.WineTestCase):
    """One mapping of COM4, COM5 and COM9 for the whole class: a wineserver restart costs
    about a second, a case well under one."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.ports = vcom_sim.VcomPorts()
        try:
            cls.readers = {n: cls.ports.reader(n) for n in (4, 5, 9)}
            cls.ports.apply()
            cls.listed = vcom_sim.serialcomm_ports()
        except Exception:
            cls.ports.close()
            raise

    @classmethod
    def tearDownClass(cls):
        codes = cls.ports.close()
        super().tearDownClass()
        if any(codes.values()):
            raise AssertionError(f"simulated readers ended with {codes}")

    def setUp(self):
        super().setUp()
        for n, r in self.readers.items():
            r.set_state(**READER_BEHAVIOUR)
            r.set_settings(READER_SETTINGS)
            r.clear_record()
            self.ports.set_lines(n)

    def run_silent(self, cp, ini):
        rig.WINDOWS_INI.write_bytes(ini)
        rig.LOG.write_bytes(b"")
        # As separate words, so that the program gets the command line exactly as typed.
        run = self.ports.run_exe(cp.split(), rig.workdir("vcom"))
        return run, rig.log_text()

    def assert_received(self, expected):
        """`expected`: port -> list of commands; the other readers received no byte."""
        for n, r in self.readers.items():
            self.assertEqual(r.record(), expected.get(n, []), f"COM{n}")

    def test_named_port_is_programmed_and_reset_follows_only_for_hid_interface(self):
        rows = [
            # command line, kq1 in the file, reset expected
            ("-v5 -s", 0x50, False),
            ("-v5 -c -s", 0x50, True),
            ("-v5 -c -s", 0x51, False),
            ("-c -v5 -s", 0x52, True),
        ]
        for cp, kq1, reset in rows:
            with self.subTest(cp=cp, kq1=kq1):
                self.setUp()
                ini = ini_bytes(kq1)
                run, log = self.run_silent(cp, ini)
                self.assertEqual(run.returncode, cp.index("-s"))
                write = WRITE_PREFIX + ini[0:7] + bytes([kq1])
                self.assert_received({5: [READ_CMD, write] + ([RESET_CMD] if reset else [])})
                state = self.readers[5].state()
                self.assertEqual(self.readers[5].settings(), after_write(ini))
                self.assertEqual((state["writes"], state["resets"]), (1, int(reset)))
                self.assertEqual(setcom_lines(log),
                                 [" in setcom, mode=1, tm=T ", " in chkcom at T, cport=5 "] +
                                 programmed(5, ini, reset) + [" out setcom at T "])

    def test_write_goes_to_the_highest_port_that_answers(self):
        ini = ini_bytes(0x50)
        write = WRITE_PREFIX + ini[0:7] + ini[8:9]
        between = missing(8) + missing(7) + missing(6)
        taken = [READ_CMD, write]
        nine = READER_SETTINGS[:9]
        rows = [
            # what COM9 does, its CTS and DSR, the port programmed, what COM9 receives,
            # the log from COM9 down to the port programmed
            ("answers", {}, (1, 1), 9, taken, programmed(9, ini, False)),
            ("answers 9 bytes", {"readlen": 9}, (1, 1), 9, taken,
             programmed(9, ini, False, reply=nine)),
            ("CTS only", {}, (1, 0), 9, taken, programmed(9, ini, False, lines=0x10)),
            ("DSR only", {}, (0, 1), 9, taken, programmed(9, ini, False, lines=0x20)),
            ("no modem lines", {}, (0, 0), 5, [],
             no_lines(9) + between + programmed(5, ini, False)),
            ("answers 8 bytes", {"readlen": 8}, (1, 1), 5, [READ_CMD],
             probed(9, READER_SETTINGS[:8]) + between + programmed(5, ini, False)),
            ("silent", {"silent": 1}, (1, 1), 5, [READ_CMD],
             probed(9, b"") + between + programmed(5, ini, False)),
            ("answers after the time-out", {"delay": 600}, (1, 1), 5, [READ_CMD],
             probed(9, b"") + between + programmed(5, ini, False)),
        ]
        for name, behaviour, (cts, dsr), target, com9, lines in rows:
            with self.subTest(com9=name):
                self.setUp()
                self.readers[9].set_state(**behaviour)
                self.ports.set_lines(9, cts=bool(cts), dsr=bool(dsr))
                run, log = self.run_silent("-v -s", ini)
                self.assertEqual(run.returncode, 3)
                self.assert_received({9: com9} if target == 9 else {9: com9, 5: taken})
                self.assertEqual(self.readers[target].settings(), after_write(ini))
                got = setcom_lines(log)
                self.assertEqual(got[:3], [" in setcom, mode=1, tm=T ",
                                           " in chkcom at T, cport=0 ", " open serialcomm=1 "])
                k = len(self.listed)
                found = [re.fullmatch(r" i=(\d+), ss=(\S+) ", line) for line in got[3:3 + k]]
                self.assertTrue(all(found), got[3:3 + k])
                self.assertEqual([int(m[1]) for m in found], list(range(k)))
                self.assertEqual(sorted(m[2] for m in found), self.listed)
                self.assertEqual(got[3 + k:], lines + [" out setcom at T "])

    def test_nothing_is_written_when_no_reader_answers(self):
        # COM9 silent, COM5 without modem lines, COM4 answering 8 bytes; what the prefix's
        # own COM1 does comes after COM2 and is not looked at.
        expected = (probed(9, b"") + missing(8) + missing(7) + missing(6) + no_lines(5) +
                    probed(4, READER_SETTINGS[:8]) + missing(3) + missing(2))
        for cp in ("-v -s", "-v -c -s"):
            with self.subTest(cp=cp):
                self.setUp()
                self.readers[9].set_state(silent=1)
                self.ports.set_lines(5, cts=False, dsr=False)
                self.readers[4].set_state(readlen=8)
                run, log = self.run_silent(cp, ini_bytes(0x50))
                self.assertEqual(run.returncode, 201)
                self.assert_received({9: [READ_CMD], 4: [READ_CMD]})
                for r in self.readers.values():
                    self.assertEqual(r.settings(), READER_SETTINGS)
                got = setcom_lines(log)
                start = got.index(" hCom=H, port=\\\\.\\COM9, lerr=0, tm=T ")
                self.assertEqual(got[start:start + len(expected)], expected)
                self.assertEqual(got[-1], " out setcom at T ")
                self.assertNotIn(" in wrcom, mode=1", "\n".join(got))

    def test_stand_in_seen_through_wine(self):
        # The stand-ins alone, through a plain Win32 client: the modem lines each port is
        # given and the reader's answer, whatever the program under test does with them.
        rows = [((True, True), 0x30), ((True, False), 0x10), ((False, True), 0x20),
                ((False, False), 0x00)]
        for (cts, dsr), ms in rows:
            with self.subTest(cts=cts, dsr=dsr):
                self.ports.set_lines(4, cts=cts, dsr=dsr)
                run = self.ports.run_exe(["COM4", READ_CMD.hex()], rig.DRIVE_C,
                                         exe=rig.TOOLS / "comtalk.exe")
                out = run.stdout.decode().split("\r\n")
                self.assertEqual(out[0], f"baud=9600 getms=1 ms={ms:x} lerr=0")
                self.assertRegex(out[1], r"^read=1 n=16 ms=\d+: " + " ".join(
                    f"{b:02x}" for b in READER_SETTINGS + b"\0") + "$")
        # Without the preload, Wine has no modem lines for a pseudo-terminal.
        run = rig.run_exe(["COM4"], rig.DRIVE_C, exe=rig.TOOLS / "comtalk.exe")
        self.assertEqual(run.stdout.decode().split("\r\n")[0],
                         "baud=9600 getms=0 ms=0 lerr=50")

    def test_named_port_without_device(self):
        run, log = self.run_silent("-v7 -s", ini_bytes(0x50))
        self.assertEqual(run.returncode, 201)
        self.assert_received({})
        self.assertEqual(setcom_lines(log), [" in setcom, mode=1, tm=T ",
                                             " in chkcom at T, cport=7 "] + missing(7) +
                         [" out setcom at T "])


class VcomReaderTest(unittest.TestCase):
    """The simulated reader itself, spoken to directly on its pseudo-terminal: the tests
    above are only as good as it is."""

    def setUp(self):
        vcom_sim.check_built()
        self.dir = Path(tempfile.mkdtemp(prefix="vcomreader-"))
        self.reader = vcom_sim.Reader(0, self.dir)
        self.fd = os.open(self.reader.pts, os.O_RDWR | os.O_NOCTTY)

    def tearDown(self):
        os.close(self.fd)
        code = self.reader.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
        self.assertEqual(code, 0, "the reader ends cleanly on SIGTERM")

    def talk(self, data, quiet=0.15):
        """Sends `data`; returns what comes back until the line stays quiet."""
        os.write(self.fd, data)
        out = b""
        while select.select([self.fd], [], [], quiet)[0]:
            out += os.read(self.fd, 256)
        return out

    def test_answers(self):
        rows = [
            # state, command, answer
            ({}, READ_CMD, READER_SETTINGS + b"\0"),
            ({"readlen": 9}, READ_CMD, READER_SETTINGS[:9]),
            ({"readlen": 3}, READ_CMD, READER_SETTINGS[:3]),
            ({"readlen": 20}, READ_CMD, READER_SETTINGS + bytes(5)),
            ({"silent": 1}, READ_CMD, b""),
            ({"jis": 1}, JIS2_QUERY, bytes.fromhex("044a000000")),
            ({"jis": 0}, JIS2_QUERY, bytes.fromhex("0400000000")),
            ({"cif": 1}, CIF_QUERY, bytes.fromhex("0446000000")),
            ({"cif": 0, "jis": 1}, CIF_QUERY, bytes.fromhex("0400000000")),
            ({"jis": 1, "querylen": 2}, JIS2_QUERY, bytes.fromhex("044a")),
            ({"silent": 1, "jis": 1}, JIS2_QUERY, b""),
            ({}, bytes.fromhex("1d4d52d014"), b""),
            ({}, RESET_CMD, b""),
            ({}, WRITE_PREFIX + bytes(range(1, 9)), b""),
        ]
        for state, command, answer in rows:
            with self.subTest(state=state, command=command.hex()):
                self.reader.set_state(**READER_BEHAVIOUR)
                self.reader.set_settings(READER_SETTINGS)
                self.reader.set_state(**state)
                self.assertEqual(self.talk(command), answer)

    def test_write_stores_all_but_the_firmware_byte_and_reset_is_counted(self):
        self.talk(WRITE_PREFIX + bytes.fromhex("41424344454647c8"))
        self.talk(RESET_CMD)
        state = self.reader.state()
        self.assertEqual(self.reader.settings(),
                         bytes.fromhex("41424344454647" "13" "c8" "000000000000"))
        self.assertEqual((state["writes"], state["resets"]), (1, 1))
        self.assertEqual(self.talk(READ_CMD)[:9], bytes.fromhex("4142434445464713c8"))

    def test_record_holds_commands_and_stray_bytes(self):
        self.talk(READ_CMD + b"\x55\x1d\x4d\x52" + CIF_QUERY)
        self.talk(b"\x1d\x4d", quiet=0.6)  # an unfinished command, given up when quiet
        self.assertEqual(self.reader.record(),
                         [READ_CMD, b"\x55", b"\x1d\x4d\x52", CIF_QUERY, b"\x1d\x4d"])

    def test_settle_takes_what_was_sent_at_once(self):
        # Sent and straight away settled, as after a program that wrote and ended: the write
        # is acted on and the unfinished command recorded without the quiet time.
        os.write(self.fd, WRITE_PREFIX + bytes.fromhex("41424344454647c8") + b"\x1d\x4d")
        self.reader.settle()
        self.assertEqual(self.reader.record(), [WRITE_PREFIX + bytes.fromhex("41424344454647c8"),
                                                b"\x1d\x4d"])
        self.assertEqual(self.reader.state()["writes"], 1)
        # Settled means answered, and a settle request during the answer's delay doesn't
        # cut the delay short.
        self.reader.set_state(delay=400)
        start = time.monotonic()
        os.write(self.fd, READ_CMD)
        time.sleep(0.05)
        self.reader.settle()
        self.assertGreaterEqual(time.monotonic() - start, 0.4)
        self.assertEqual(self.talk(b"", quiet=0.1)[:9], bytes.fromhex("4142434445464713c8"))

    def test_late_answer(self):
        self.reader.set_state(delay=400)
        os.write(self.fd, READ_CMD)
        self.assertEqual(select.select([self.fd], [], [], 0.2)[0], [])
        self.assertEqual(self.talk(b"", quiet=2.0)[:9], READER_SETTINGS[:9])


if __name__ == "__main__":
    unittest.main()
