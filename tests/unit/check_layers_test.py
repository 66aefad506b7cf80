#!/usr/bin/env python3
"""scripts/check-layers finds an include planted where it runs up, and lets one that
runs down pass: one row a plant."""
import importlib.machinery
import importlib.util
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
_loader = importlib.machinery.SourceFileLoader("check_layers",
                                              str(ROOT / "scripts" / "check-layers"))
check = importlib.util.module_from_spec(importlib.util.spec_from_loader(_loader.name, _loader))
_loader.exec_module(check)

# file, the include planted in it, whether check-layers must find it
PLANTS = [
    ("msrprofile/commands/station.cpp", "msrprofile/cli.h", True),
    ("msrprofile/reader/reader.cpp", "msrprofile/keyboard/keys.h", True),  # siblings
    ("msrprofile/keyboard/keys.cpp", "msrprofile/swipe/swipe.h", True),
    ("msrprofile/keyboard/layout_gen/layout_gen.cpp", "msrprofile/commands/swipe.h", True),
    ("msrprofile/profile/codec.cpp", "msrprofile/reader/reader.h", True),
    ("msrprofile/exit_codes.h", "msrprofile/profile/codec.h", True),
    ("msrprofile/gadgets/x.cpp", "msrprofile/exit_codes.h", True),  # a folder in no layer
    ("msrprofile/swipe/swipe.cpp", "app/process_state.h", True),
    ("settings/history.cpp", "msrprofile/profile/codec.h", True),
    ("msrprofile/commands/station.cpp", "msrprofile/swipe/swipe.h", False),
    ("msrprofile/swipe/key_capture.cpp", "msrprofile/keyboard/keys.h", False),
    ("msrprofile/reader/reader.cpp", "msrprofile/card_memory.h", False),
    ("msrprofile/cli.cpp", "msrprofile/commands/command.h", False),
]


class PlantedIncludes(unittest.TestCase):
    def test_plants(self):
        for source, target, found in PLANTS:
            with self.subTest(source=source, target=target), tempfile.TemporaryDirectory() as d:
                path = Path(d) / source
                path.parent.mkdir(parents=True)
                path.write_text(f'#include "{target}"\n')
                self.assertEqual(bool(list(check.violations(Path(d)))), found)


if __name__ == "__main__":
    sys.exit(unittest.main())
