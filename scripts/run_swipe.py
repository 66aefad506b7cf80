"""The swipe run of scripts/run: a simulated reader on COM5 and msrprofile.exe under Wine,
the whole story of checking a swipe: the reader read into a profile, a test card swiped
against it, a change the reader doesn't hold yet (the LRC) shown as a difference, the change
written, and the card swiped again.

    run_swipe.py
"""

import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "system"))
import rig  # noqa: E402
import vcom_sim  # noqa: E402

FOLDER = "msrswipe"


def step(ports, title, args, reader=None):
    """Runs msrprofile.exe ARGS and prints it as a session; with `reader`, the test card
    is swiped once the program waits for it."""
    print(f"\n--- {title}\nC:\\{FOLDER}> msrprofile {' '.join(args)}", flush=True)
    cwd = rig.DRIVE_C / FOLDER
    proc = subprocess.Popen(["wine", str(cwd / "msrprofile.exe")] + args, cwd=str(cwd),
                            env=rig.wine_env(ports.env()), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, encoding="latin-1")
    card = {"track1": vcom_sim.TEST_TRACK1, "track2": vcom_sim.TEST_TRACK2}
    code, out, err = vcom_sim.swipe_when_waiting(proc, reader, card if reader else None)
    sys.stdout.write(err.replace("\r\n", "\n"))
    if reader:
        print("(the simulated reader swipes a test card, its PAN ending 1111)")
    sys.stdout.write(out.replace("\r\n", "\n"))
    print(f"exit code: {code}", flush=True)
    return code


def main():
    cwd = rig.workdir(FOLDER)
    shutil.copy(rig.BUILD / "msrprofile.exe", cwd / "msrprofile.exe")
    with vcom_sim.VcomPorts(rig.BUILD / "demo" / "swipe") as ports:
        reader = ports.reader(5)
        ports.apply()
        codes = [step(ports, "the reader's settings as a profile",
                      ["read", "--port", "COM5", "-o", f"C:\\{FOLDER}\\reader.toml"]),
                 step(ports, "a swipe against them",
                      ["swipe", "--port", "COM5", "--profile", "reader.toml"], reader)]
        profile = (cwd / "reader.toml").read_text()
        (cwd / "lrc.toml").write_text(profile.replace("send_lrc = false", "send_lrc = true"))
        print("\n--- lrc.toml: reader.toml with send_lrc = true")
        codes += [step(ports, "a swipe against lrc.toml, before the reader has it (exit 1)",
                       ["swipe", "--port", "COM5", "--profile", "lrc.toml"], reader),
                  step(ports, "lrc.toml written to the reader",
                       ["write", "lrc.toml", "--port", "COM5"]),
                  step(ports, "the swipe again, as JSON",
                       ["swipe", "--port", "COM5", "--profile", "lrc.toml", "--json"], reader)]
    # The story went as told: each step's exit code is the one it should have.
    return 0 if codes == [0, 0, 1, 0, 0] else 1


if __name__ == "__main__":
    sys.exit(main())
