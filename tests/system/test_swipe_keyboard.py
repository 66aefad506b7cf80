"""msrprofile.exe swipe --keyboard under Wine: the USB stand-in's keyboard side types a test
card into msrprofile's console (a real one, on a pseudo-terminal) with the keys a reader
presses and the characters the host's layout makes of them; the report names the layout
that garbled it and the setting that fixes it.

Wine gives GetKeyboardLayoutNameA from LC_ALL and answers its own US layout for every
key, so the layout the stand-in types with and the KLID the program reads are set apart:
the stand-in by --host, the program by LC_ALL."""

import json
import os
import shutil
import subprocess
import time

import rig
import vcom_sim

TYPIST = rig.BUILD / "usb_sim" / "usb_keyboard.exe"
CARD = ["--track1", vcom_sim.TEST_TRACK1, "--track2", vcom_sim.TEST_TRACK2]
US, GERMAN = 0, 2
ADVICE = ('this terminal types with the German layout (00000407) but the reader types for '
          'USA: set keyboard_language = "German" in the profile (or choose German in the '
          'window) and write it')


def keyboard_swipe(folder, args, locale, host, state, typed=True, timeout=60):
    """Runs `msrprofile.exe swipe --keyboard ARGS` in a console on a pseudo-terminal, its
    output in files; once it waits, the stand-in types the test card with the host layout
    `host` and the reader settings in `state`. Returns (exit code, stdout, stderr)."""
    out, err = folder / "out.txt", folder / "err.txt"
    for f in (out, err):
        f.write_text("")
    command = " ".join(["wine", str(folder / "msrprofile.exe"), "swipe", "--keyboard"] + args)
    env = rig.wine_env({"LC_ALL": locale})
    env.pop("DISPLAY", None)  # a console on the terminal, not a window of its own
    # The terminal's input stays open (and empty) for the whole run: a closed one makes
    # Wine's console see stray input.
    proc = subprocess.Popen(["script", "-qfec", f"{command} >{out} 2>{err}", "/dev/null"],
                            cwd=str(folder), env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + timeout
        while "swipe a card" not in err.read_text(encoding="latin-1"):
            if proc.poll() is not None or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        if typed:
            typist = subprocess.run(["wine", str(TYPIST), "--state", str(state), "--image",
                                     "msrprofile.exe", "--host", str(host)] + CARD,
                                    env=rig.wine_env(), capture_output=True, timeout=60)
            if typist.returncode != 0:
                raise AssertionError(typist.stderr.decode("latin-1"))
        proc.wait(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.stdin.close()
    return (proc.returncode, out.read_text(encoding="latin-1"),
            err.read_text(encoding="latin-1"))


def state_file(folder, name, settings):
    """The USB stand-in's state for the fifteen bytes of `settings`."""
    b = settings.read_bytes()
    path = folder / name
    path.write_text("base=" + " ".join(f"{x:02x}" for x in b[:8]) + "\n" +
                    "ext=" + " ".join(f"{x:02x}" for x in b[8:]) + "\n")
    return path


class KeyboardSwipeTest(rig.WineTestCase):
    def test_layouts(self):
        if shutil.which("script") is None:
            self.skipTest("script (util-linux) makes the console's terminal")
        folder = rig.workdir("kbswipe")
        shutil.copyfile(rig.BUILD / "msrprofile.exe", folder / "msrprofile.exe")
        states = {}
        for lang in ("USA", "German"):
            (folder / f"{lang}.toml").write_text(f'keyboard_language = "{lang}"\n')
            run = rig.run_exe(["build", f"{lang}.toml", "-o", f"{lang}.bin"], folder,
                              exe=folder / "msrprofile.exe")
            self.assertEqual(run.returncode, 0, run.stderr)
            states[lang] = state_file(folder, f"{lang}.state", folder / f"{lang}.bin")
        de = "de_DE.UTF-8"
        # name, command line after --keyboard, LC_ALL, layout typed with, reader, exit, wanted
        rows = [
            ("US reader on a German terminal", ["--timeout", "20"], de, GERMAN, "USA", 1,
             [ADVICE, "the swipe is not valid track data"]),
            ("the same, as JSON", ["--json", "--timeout", "20"], de, GERMAN, "USA", 1,
             {"outcome": "invalid", "source": "keyboard", "finding": "host_layout",
              "host_layout": "German"}),
            ("the fix: the reader types for German", ["--profile", "German.toml", "--json"], de,
             GERMAN, "German", 0, {"outcome": "valid", "source": "keyboard", "finding": "fits",
                                   "host_layout": None}),
            ("US reader, US terminal", ["--profile", "USA.toml"], "en_US.UTF-8", US, "USA", 0,
             ["track 1: valid", "track 2: valid", "PAN 16 characters, ending 1111"]),
            ("nothing typed", ["--timeout", "2"], de, GERMAN, "USA", 2,
             ["nothing was swiped within 2 s on the keyboard"]),
        ]
        for name, args, locale, host, reader, code, wanted in rows:
            with self.subTest(name):
                rc, out, err = keyboard_swipe(folder, args, locale, host, states[reader],
                                              typed=code != 2)
                self.assertEqual(rc, code, out + err)
                # Nothing of the card but the PAN's length and last four digits.
                for secret in vcom_sim.TEST_SECRETS:
                    self.assertNotIn(secret, out + err)
                if isinstance(wanted, dict):
                    doc = json.loads(out)
                    layout = doc["swipes"][0]["layout"]
                    found = {"outcome": doc["outcome"], "source": doc["source"],
                             "finding": layout["finding"], "host_layout": layout["host_layout"]}
                    self.assertEqual(found, wanted)
                for line in wanted if isinstance(wanted, list) else []:
                    self.assertIn(line, out + err)

    def test_no_console(self):
        """Standard input from a pipe: Wine, as Windows, gives the program no console."""
        folder = rig.workdir("kbswipe")
        shutil.copyfile(rig.BUILD / "msrprofile.exe", folder / "msrprofile.exe")
        run = rig.run_exe(["swipe", "--keyboard", "--timeout", "2"], folder,
                          exe=folder / "msrprofile.exe")
        self.assertEqual(run.returncode, 64, run.stderr)
        self.assertIn(b"standard input is not a console", run.stderr)
