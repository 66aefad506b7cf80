"""Silent programming of a PS/2 reader: msrsetup.exe -s under Wine against the
keyboard-wedge and touch driver stand-ins, checked by what the drivers received, what
the simulated reader holds, the exit code and the log."""

import re

import ps2_sim
import rig

WMR, T8042, VERSION, TOUCH = 0x80FF0024, 0x80FF0038, 0x80FF0040, 0x000F0054

# p2j, mr1..mr7, kq1..kq7
SETTINGS = bytes([0x86, 0x19, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x56,
                  0x81, 0x02, 0, 0, 0, 0, 0])
BASE = list(SETTINGS[:8])
INVALID = "f" * (rig.BITS // 4)  # INVALID_HANDLE_VALUE as the program prints it
# msvcrt prints %p in upper case on Windows, Wine's in lower case.
HANDLE = rig.PTR

OPEN_LINES = [
    rf" in dopen\( 0 \), hd={INVALID}, win95_f=0 ",
    "",
    r" InitSD\(\)=1, lerr=0 ",
    r" SetSDDacl\(\)=1, lerr=0 ",
]
NOT_THERE = rf"={INVALID}, lerr=2 "
VERSION_LINE = r" ger_ver, br=9, lerr=0 "
T8042_LINES = [r" t8042\(\)=1, br=64, lerr=0 ", " 55  0  0  0  0  0  0  0 "] + \
    [" 0  0  0  0  0  0  0  0 "] * 7


def wmr_lines(ok, br, lerr="0"):
    """The wmr line and its dump, with the stand-in's reply: the block, then ACKs."""
    lines = [rf" wmr\(\)={ok}, br={br}, lerr={lerr} "]
    reply = [f"{b:x}" for b in BASE] + ["fa"] * 12
    shown = reply[:br]
    rows = [shown[i:i + 8] for i in range(0, len(shown), 8)] or [[]]
    lines += ["".join(f" {x} " for x in row) for row in rows]
    return lines


def version_dump(name):
    data = [1, 0] + [ord(c) for c in name[:7]]
    data += [0] * (9 - len(data))
    return "".join(f" {b:x} " for b in data)


class Ps2Test(rig.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        ps2_sim.remove_all()

    @classmethod
    def tearDownClass(cls):
        ps2_sim.remove_all()

    def setUp(self):
        super().setUp()
        self.drivers = {}
        # What earlier tests left in the record and state files.
        ps2_sim.clear_files()

    def tearDown(self):
        for d in self.drivers.values():
            d.remove()
        super().tearDown()

    def install(self, *devices):
        for device in devices:
            d = ps2_sim.Driver(device)
            self.drivers[device] = d
            d.install()
        return [self.drivers[x] for x in devices]

    def program(self, log=True, code=0):
        """msrsetup -s with the settings file in the Windows directory, which must exit with
        `code`; returns the log lines from the transport's first line on, without the two
        that name a failure."""
        rig.WINDOWS_INI.write_bytes(SETTINGS)
        if log:
            rig.LOG.write_bytes(b"")
        run = rig.run_exe("-s", rig.workdir("t"))
        self.assertEqual(run.returncode, code)
        if not log:
            self.assertFalse(rig.LOG.exists())
            return None
        lines = rig.log_text().split("\r\n")
        self.assertEqual(lines[-1], "")  # the log ends with a whole line
        first = next(i for i, l in enumerate(lines) if l.startswith(" in dopen("))
        if code:
            self.assertEqual(lines[-2], f" silent write failed, exit={code} ")
            return lines[first:-3]
        return lines[first:-1]

    def assertLines(self, lines, patterns):
        self.assertEqual(len(lines), len(patterns), "\n".join(lines))
        for line, pattern in zip(lines, patterns):
            self.assertRegex(line, "^" + pattern + "$")

    def test_no_driver_nothing_is_written(self):
        lines = self.program(code=201)
        self.assertLines(lines, OPEN_LINES + [
            r" createfile\( videdu\)" + NOT_THERE,
            r" createfile\( kdrnldrvr\)" + NOT_THERE,
            r" createfile\( duvu\)" + NOT_THERE,
        ])
        for device in ps2_sim.DRIVERS:
            self.assertEqual(ps2_sim.Driver(device).record(), [])

    def test_silent_mode_programs_the_reader(self):
        wedge, touch = self.install("VIDEDU", "ROZIVADU")
        lines = self.program()
        self.assertEqual(wedge.state(), BASE)
        self.assertEqual([(c["code"], c["in"], c["out"], c["ok"]) for c in wedge.record()],
                         [(VERSION, 9, 9, True), (T8042, 64, 64, True), (WMR, 8, 64, True)])
        # The probe and the version query carry zeros, the write the block.
        self.assertEqual([c["nonzero"] for c in wedge.record()],
                         [0, 0, sum(1 for b in BASE if b)])
        self.assertEqual([(c["code"], c["in"], c["out"], c["nonzero"], c["ok"])
                          for c in touch.record()], [(TOUCH, 1024, 1024, 0, True)])
        self.assertLines(lines, OPEN_LINES + [
            rf" createfile\( videdu\)={HANDLE}, lerr=0 ", VERSION_LINE, version_dump("VIDEDU")
        ] + T8042_LINES + wmr_lines(1, 20))

    def test_short_answers_are_tried_three_times(self):
        wedge, touch = self.install("VIDEDU", "ROZIVADU")
        wedge.configure({WMR: 19})
        lines = self.program(code=200)
        self.assertEqual(wedge.codes(), [VERSION, T8042, WMR, WMR, WMR])
        self.assertEqual([c["ret"] for c in wedge.record()], [9, 64, 19, 19, 19])
        self.assertIsNone(wedge.state())  # the reader never took the block
        # The sequence still ends with the touch driver.
        self.assertEqual(touch.codes(), [TOUCH])
        self.assertEqual(lines[-12:], [l.replace("\\", "") for l in wmr_lines(1, 19) * 3])

    def test_failing_writes_are_tried_three_times(self):
        wedge, touch = self.install("VIDEDU", "ROZIVADU")
        wedge.configure({WMR: "fail"})
        lines = self.program(code=200)
        self.assertEqual(wedge.codes(), [VERSION, T8042, WMR, WMR, WMR])
        self.assertIsNone(wedge.state())
        self.assertEqual(touch.codes(), [TOUCH])
        # STATUS_UNSUCCESSFUL reaches the program as ERROR_GEN_FAILURE.
        self.assertEqual(lines[-6:], [" wmr()=0, br=0, lerr=1f ", ""] * 3)

    def test_programs_without_a_log(self):
        wedge, touch = self.install("VIDEDU", "ROZIVADU")
        self.program(log=False)
        self.assertEqual(wedge.state(), BASE)
        self.assertEqual(wedge.codes(), [VERSION, T8042, WMR])
        self.assertEqual(touch.codes(), [TOUCH])

    def test_krnldrvr_serves_when_videdu_is_missing(self):
        wedge, touch = self.install("krnldrvr", "ROZIVADU")
        lines = self.program()
        self.assertEqual(wedge.state(), BASE)
        self.assertEqual(touch.codes(), [TOUCH])
        self.assertLines(lines[:7], OPEN_LINES + [
            r" createfile\( videdu\)" + NOT_THERE,
            rf" createfile\( kdrnldrvr\)={HANDLE}, lerr=0 ", VERSION_LINE])
        self.assertEqual(lines[7], version_dump("krnldrvr"))

    def test_9x_driver_leaves_the_touch_driver_alone(self):
        # An NT driver answering as DUVU.VXD lets the 9x path run under Wine.
        wedge, touch = self.install("DUVU.VXD", "ROZIVADU")
        lines = self.program()
        self.assertEqual(wedge.state(), BASE)
        self.assertEqual(touch.record(), [])
        self.assertLines(lines, OPEN_LINES + [
            r" createfile\( videdu\)" + NOT_THERE,
            r" createfile\( kdrnldrvr\)" + NOT_THERE,
            rf" createfile\( duvu\)={HANDLE}, lerr=0 ", VERSION_LINE, version_dump("DUVU.VXD")
        ] + T8042_LINES + wmr_lines(1, 20))

    def test_touch_driver_failure_is_logged(self):
        wedge, touch = self.install("VIDEDU", "ROZIVADU")
        touch.configure({TOUCH: "fail"})
        lines = self.program()
        self.assertEqual(wedge.state(), BASE)
        self.assertEqual([c["ok"] for c in touch.record()], [False])
        self.assertEqual(lines[-1], " f0054 Ioctl Failed! lerr=1f ")

    def test_missing_touch_driver_is_logged(self):
        wedge, = self.install("VIDEDU")
        lines = self.program()
        self.assertEqual(wedge.state(), BASE)
        self.assertEqual(lines[-1], " rozivadu.sys Open Failed! lerr=2 ")

    def test_removed_driver_is_gone(self):
        wedge, = self.install("VIDEDU")
        wedge.remove()
        self.drivers.clear()
        lines = self.program(code=201)
        self.assertRegex(lines[4], r" createfile\( videdu\)" + NOT_THERE)
        self.assertEqual(wedge.record(), [])
        self.assertTrue(re.fullmatch(r" createfile\( duvu\)" + NOT_THERE, lines[-1]))
