"""The build trees a benchmark measures, as --build and --native, made known to the system
tests' helpers (tests/system), which a benchmark then imports."""

import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def add_arguments(ap):
    ap.add_argument("--build", default=os.environ.get("MSR_BUILD_DIR", ROOT / "build/windows"))
    ap.add_argument("--native", default=os.environ.get("MSR_NATIVE_BUILD_DIR",
                                                       ROOT / "build/native"))


def use(args):
    """Points the helpers at the trees of `args` and puts them on the import path."""
    os.environ["MSR_BUILD_DIR"] = str(Path(args.build).resolve())
    os.environ["MSR_NATIVE_BUILD_DIR"] = str(Path(args.native).resolve())
    os.environ["MSR_SOURCE_DIR"] = str(ROOT)
    sys.path.insert(0, str(ROOT / "tests" / "system"))


def serial_bench(ap):
    """Parses `ap`, given the trees' options too, for a benchmark on the pseudo-terminal
    readers; returns the arguments and the serial helpers (linux_serial), or ends saying
    why those readers can't be had on this machine."""
    add_arguments(ap)
    args = ap.parse_args()
    use(args)
    import linux_serial

    reason = linux_serial.unavailable()
    if reason:
        raise SystemExit(f"{Path(sys.argv[0]).stem}: {reason}")
    return args, linux_serial
