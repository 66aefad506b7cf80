"""msrprofile swipe on Linux from a keyboard reader: --evdev on input_event records through a
FIFO and from a file (no input device can be made here), and --keyboard on a pseudo-terminal
typed into with a US reader's test card as a US and a French desktop give it.

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

PAN = "4111111111111111"
CARD = f"%B{PAN}^DOE/JOHN^2512101000000000000000?;{PAN}=25121010000000000000?\r"
SECRETS = (PAN[:-4], PAN[-5:], "DOE/JOHN", "2512", "101000")
# The Linux key codes a US reader presses for the card's characters, and Shift.
KEYS = {str(d): (2 + (d - 1) % 10, False) for d in range(10)}
KEYS.update({c: (k, True) for c, k in zip("BDOEJHN%^?", (48, 32, 24, 18, 36, 35, 49, 6, 7, 53))})
KEYS.update({"/": (53, False), ";": (39, False), "=": (13, False), "\r": (28, False)})
# What a French desktop makes of those keys (the measured table of the layouts).
FRENCH = dict(zip("%^/?;01245", "56!§mà&é'("))
# ...and a Spanish one as Windows types it: the apostrophe is the dead acute, which gives
# the accent and then the consonant after it.
SPANISH = dict(zip("^/?;='", "&-_ñ¡´"))
ONEIL = CARD.replace("DOE/JOHN", "O'NEIL/JOHN")


def records(text):
    """input_event records (64-bit time) of a US reader typing `text`; Shift is key 42."""
    ev = lambda code, value: struct.pack("llHHi", 0, 0, 1, code, value)  # noqa: E731
    out = b""
    for c in text:
        code, shift = KEYS[c]
        keys = ev(code, 1) + struct.pack("llHHi", 0, 0, 0, 0, 0) + ev(code, 0)
        out += ev(42, 1) + keys + ev(42, 0) if shift else keys
    return out


def swipe(args, stdin=subprocess.DEVNULL, feed=None, wait_prompt=False):
    """`msrprofile swipe ARGS`; feed() gives it its swipe (once it waits, with wait_prompt)."""
    proc = subprocess.Popen([sys.argv[1], "swipe"] + args, stdin=stdin, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    err = ""
    while wait_prompt and "swipe a card" not in err and proc.poll() is None:
        err += proc.stderr.readline()
    feeder = threading.Thread(target=feed or (lambda: None))
    feeder.start()
    out, rest = proc.communicate(timeout=30)
    feeder.join()
    return proc.returncode, out + err + rest


class KeyboardSwipe(unittest.TestCase):
    def check(self, rows):
        for name, args, kwargs, code, wanted in rows:
            with self.subTest(name):
                rc, output = swipe(args, **kwargs)
                self.assertEqual(rc, code, output)
                for secret in SECRETS:
                    self.assertNotIn(secret, output)
                if isinstance(wanted, dict):
                    doc = json.loads(output[:output.rindex("}") + 1])
                    self.assertEqual({k: doc[k] for k in wanted}, wanted)
                for line in wanted if isinstance(wanted, list) else []:
                    self.assertIn(line, output)

    def test_evdev(self):
        with tempfile.TemporaryDirectory() as tmp:
            fifo, recording = Path(tmp) / "event", Path(tmp) / "recording"
            os.mkfifo(fifo)
            recording.write_bytes(records(CARD))
            play = lambda data: {"feed": lambda: fifo.write_bytes(data)}  # noqa: E731
            self.check([
                ("a FIFO of records", ["--evdev", str(fifo)], play(records(CARD)), 0,
                 ["track 1: valid", "track 2: valid", "PAN 16 characters, ending 1111"]),
                ("a recording, as JSON", ["--evdev", str(recording), "--json"], {}, 0,
                 {"outcome": "valid", "source": "evdev", "port": str(recording)}),
                ("records that end with nothing typed", ["--evdev", str(fifo)], play(b""), 2,
                 ["records ended before anything was swiped"]),
                ("no such device", ["--evdev", str(fifo) + "x"], {}, 2,
                 ["there is no input device"]),
                ("not an input device", ["--evdev", "/dev/null"], {}, 64,
                 ["/dev/null is not an input device"]),
            ])

    def test_terminal(self):
        master, slave = pty.openpty()

        def typed(text):
            # The terminal is made raw just after the prompt.
            return {"stdin": slave, "wait_prompt": True,
                    "feed": lambda: (time.sleep(0.2), os.write(master, text.encode()))}

        self.check([
            ("US desktop", ["--keyboard"], typed(CARD), 0, ["track 2: valid"]),
            ("French desktop", ["--keyboard"], typed("".join(FRENCH.get(c, c) for c in CARD)),
             1, ['the French layout (0000040C) but the reader types for USA: set '
                 'keyboard_language = "French"']),
            ("O'NEIL, Spanish desktop", ["--keyboard"],
             typed("".join(SPANISH.get(c, c) for c in ONEIL)), 1,
             ['the Spanish layout (0000040A) but the reader types for USA']),
            ("not a terminal", ["--keyboard", "--timeout", "2"], {}, 64,
             ["standard input is not a terminal"]),
        ])
        os.close(slave)
        os.close(master)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
