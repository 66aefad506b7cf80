"""msrprofile layouts natively: what a US reader's names give on each of the eight host
layouts, dead keys combined as Windows combines them; the table; and text that looks like
a card number refused without being shown.

    python3 layouts.py PATH/TO/msrprofile"""

import json
import subprocess
import sys
import unittest


def layouts(*args):
    return subprocess.run([sys.argv[1], "layouts", *args], capture_output=True, text=True,
                          encoding="utf-8", timeout=30)


class LayoutsTest(unittest.TestCase):
    def test_what_a_us_reader_types_on_each_host(self):
        rows = [  # host, typed, received
            ("USA", "O'NEIL", "O'NEIL"),
            ("Poland(214)", "$", "\u00a4"),
            ("German", "=2512", "\u00b42512"),  # the dead acute before a digit
            ("Spanish", "O'NEIL", "O\u00b4NEIL"),  # the dead acute before a consonant
            ("Italian", "O'NEIL", "O\u00e0NEIL"),
            ("French", "O'NEIL", "O\u00f9NEIL"),
            ("Holland", "O'CONNOR", "O\u00b4CONNOR"),
            ("Portugal", "O'LEARY", "O\u00baLEARY"),
            ("Spanish", "O'", "O\u00b4"),  # a dead key left waiting: its accent
        ]
        for host, typed, received in rows:
            with self.subTest(host=host, typed=typed):
                run = layouts("--reader", "USA", "--host", host, "--type", typed, "--json")
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(json.loads(run.stdout),
                                 {"reader": "USA", "host": host, "received": received})

    def test_the_table_marks_dead_keys(self):
        run = layouts("--reader", "USA", "--host", "German")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("  =  ->  \u00b4 (U+00B4)  dead key\n", run.stdout)
        self.assertNotIn("  A  ->", run.stdout)  # unchanged characters are left out

    def test_a_card_number_is_refused_and_not_shown(self):
        for text in ("4111111111111111", "4111 1111 1111 1111", "%B41111^"):
            with self.subTest(text=text):
                run = layouts("--reader", "USA", "--host", "German", "--type", text)
                self.assertEqual(run.returncode, 64)
                self.assertIn("this looks like a card number", run.stderr)
                self.assertNotIn("1111", run.stdout + run.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
