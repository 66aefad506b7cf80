"""msrprofile swipe on Linux from a keyboard reader: --evdev on input_event records (a FIFO
and a file of them: no input device can be made here), and --keyboard on a terminal (a
pseudo-terminal) typed into with a US reader's test card as a French desktop gives it.

    python3 keyboard_swipe.py PATH/TO/msrprofile"""

import json
import os
import pty
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

TOOL = None
PAN = "4111111111111111"
CARD = f"%B{PAN}^DOE/JOHN^2512101000000000000000?;{PAN}=25121010000000000000?\r"
SECRETS = (PAN[:-4], PAN[-5:], "DOE/JOHN", "2512", "101000")

# Linux key codes of the keys a US reader presses for the card's characters (Shift: True).
KEYS = {str(d): (2 + (d - 1) % 10, False) for d in range(10)}
KEYS.update({"B": (48, True), "D": (32, True), "O": (24, True), "E": (18, True),
             "J": (36, True), "H": (35, True), "N": (49, True), "%": (6, True),
             "^": (7, True), "/": (53, False), "?": (53, True), ";": (39, False),
             "=": (13, False), "\r": (28, False)})
KEY_LEFTSHIFT, EV_KEY, EV_SYN = 42, 1, 0

# What a French desktop makes of those keys (the measured table of the layouts).
FRENCH = {"%": "5", "^": "6", "/": "!", "?": "§", ";": "m", "0": "à", "1": "&", "2": "é",
          "4": "'", "5": "("}


def records(text):
    """input_event records (64-bit time) of a US reader typing `text`."""
    out = b""

    def event(kind, code, value):
        return struct.pack("llHHi", 0, 0, kind, code, value)

    for c in text:
        code, shift = KEYS[c]
        if shift:
            out += event(EV_KEY, KEY_LEFTSHIFT, 1)
        out += event(EV_KEY, code, 1) + event(EV_SYN, 0, 0) + event(EV_KEY, code, 0)
        if shift:
            out += event(EV_KEY, KEY_LEFTSHIFT, 0)
    return out


def swipe(args, feed=None, timeout=30):
    """Runs `msrprofile swipe ARGS`; `feed(proc)` gives it its swipe while it waits."""
    proc = subprocess.Popen([TOOL, "swipe"] + args, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    feeder = threading.Thread(target=feed, args=(proc,)) if feed else None
    if feeder:
        feeder.start()
    out, err = proc.communicate(timeout=timeout)
    if feeder:
        feeder.join()
    return proc.returncode, out, err


class EvdevTest(unittest.TestCase):
    def test_records(self):
        with tempfile.TemporaryDirectory() as tmp:
            fifo, recording = Path(tmp) / "event", Path(tmp) / "recording"
            os.mkfifo(fifo)
            recording.write_bytes(records(CARD))

            def play(data):
                def feed(proc):
                    with open(fifo, "wb") as f:
                        f.write(data)
                return feed

            # name, arguments, what is written to the FIFO, exit, wanted in the output
            rows = [
                ("a FIFO of records", ["--evdev", str(fifo)], play(records(CARD)), 0,
                 ["track 1: valid", "track 2: valid", "PAN 16 characters, ending 1111"]),
                ("a recording, as JSON", ["--evdev", str(recording), "--json"], None, 0,
                 {"outcome": "valid", "source": "evdev", "port": str(recording)}),
                ("records that end with nothing typed", ["--evdev", str(fifo)], play(b""), 2,
                 ["records ended before anything was swiped"]),
                ("no such device", ["--evdev", str(Path(tmp) / "none")], None, 2,
                 ["there is no input device"]),
                ("not an input device", ["--evdev", "/dev/null"], None, 64,
                 ["/dev/null is not an input device"]),
            ]
            for name, args, feed, code, wanted in rows:
                with self.subTest(name):
                    rc, out, err = swipe(args, feed)
                    self.assertEqual(rc, code, out + err)
                    for secret in SECRETS:
                        self.assertNotIn(secret, out + err)
                    if isinstance(wanted, dict):
                        doc = json.loads(out)
                        self.assertEqual({k: doc[k] for k in wanted}, wanted)
                        self.assertIsNone(doc["swipes"][0]["layout"])
                    for line in wanted if isinstance(wanted, list) else []:
                        self.assertIn(line, out + err)


class TerminalTest(unittest.TestCase):
    def run_on_terminal(self, typed, args):
        """msrprofile in a pseudo-terminal (its standard input; output to pipes), `typed`
        written to the terminal once it waits."""
        master, slave = pty.openpty()
        proc = subprocess.Popen([TOOL, "swipe", "--keyboard"] + args, stdin=slave,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        os.close(slave)
        err = ""
        while "swipe a card" not in err:
            line = proc.stderr.readline()
            if not line:
                break
            err += line
        time.sleep(0.2)  # the terminal is made raw after the prompt
        os.write(master, typed.encode())
        out, rest = proc.communicate(timeout=30)
        os.close(master)
        return proc.returncode, out, err + rest

    def test_layouts(self):
        french = "".join(FRENCH.get(c, c) for c in CARD)
        rows = [
            ("US reader, US desktop", CARD, ["--timeout", "10"], 0, ["track 2: valid"]),
            ("US reader, French desktop", french, ["--timeout", "10"], 1,
             ["this terminal types with the French layout (0000040C) but the reader types for "
              "USA: set keyboard_language = \"French\""]),
        ]
        for name, typed, args, code, wanted in rows:
            with self.subTest(name):
                rc, out, err = self.run_on_terminal(typed, args)
                self.assertEqual(rc, code, out + err)
                for secret in SECRETS:
                    self.assertNotIn(secret, out + err)
                for line in wanted:
                    self.assertIn(line, out)

    def test_not_a_terminal(self):
        rc, out, err = swipe(["--keyboard", "--timeout", "2"])
        self.assertEqual(rc, 64, err)
        self.assertIn("standard input is not a terminal", err)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(verbosity=2)
