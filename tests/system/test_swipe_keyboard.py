"""msrprofile.exe swipe --keyboard under Wine, in a real console (a pseudo-terminal): the USB
stand-in's keyboard side types a test card with the keys a reader presses and the
characters the host's layout makes of them. Wine answers its US layout for every key and
reads the KLID (GetKeyboardLayoutNameA) from LC_ALL, so the layout typed with is the
stand-in's --host and the KLID the program sees is set by LC_ALL."""

import json
import shutil
import subprocess
import time

import rig
import vcom_sim

ADVICE = ('this terminal types with the {} layout ({}) but the reader types for USA: set '
          'keyboard_language = "{}" in the profile (or choose {} in the window) and write it')
GERMAN = ADVICE.format("German", "00000407", "German", "German")
# A name whose apostrophe is the Spanish layout's dead acute, before a consonant.
ONEIL = vcom_sim.TEST_TRACK1.replace(vcom_sim.TEST_NAME, "O'NEIL/JOHN")


def keyboard_swipe(folder, args, locale, host, state, track1=vcom_sim.TEST_TRACK1):
    """`msrprofile.exe swipe --keyboard ARGS` in a console, its output in files; once it
    waits, the stand-in types the card (host: its layout; state: the reader's settings;
    None: nothing). Returns (exit code, stdout and stderr)."""
    out, err = folder / "out.txt", folder / "err.txt"
    err.write_text("")
    command = f'wine {folder / "msrprofile.exe"} swipe --keyboard {" ".join(args)}'
    env = rig.wine_env({"LC_ALL": locale})
    env.pop("DISPLAY", None)  # the console on the terminal, not a window of its own
    # The terminal's input stays open (and empty) for the run: a closed one is stray input.
    proc = subprocess.Popen(["script", "-qfec", f"{command} >{out} 2>{err}", "/dev/null"],
                            cwd=folder, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while "swipe a card" not in err.read_text() and time.monotonic() < deadline:
            time.sleep(0.05)
        if state is not None:
            subprocess.run(["wine", str(rig.BUILD / "usb_sim" / "usb_keyboard.exe"), "--state",
                            str(state), "--image", "msrprofile.exe", "--host", str(host),
                            "--track1", track1, "--track2", vcom_sim.TEST_TRACK2],
                           env=rig.wine_env(), check=True, capture_output=True, timeout=60)
        proc.wait(timeout=60)
    finally:
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        proc.stdin.close()
    return proc.returncode, out.read_text(encoding="latin-1") + err.read_text(encoding="latin-1")


class KeyboardSwipeTest(rig.WineTestCase):
    def test_layouts(self):
        folder = rig.workdir("kbswipe")
        shutil.copyfile(rig.BUILD / "msrprofile.exe", folder / "msrprofile.exe")
        state = {}
        for lang in ("USA", "German"):
            (folder / f"{lang}.toml").write_text(f'keyboard_language = "{lang}"\n')
            rig.run_exe(["build", f"{lang}.toml", "-o", "b"], folder, exe=folder / "msrprofile.exe")
            b = (folder / "b").read_bytes()
            state[lang] = folder / f"{lang}.state"
            state[lang].write_text(f"base={b[:8].hex(' ')}\next={b[8:].hex(' ')}\n")
        de, us = "de_DE.UTF-8", "en_US.UTF-8"
        # name, arguments after --keyboard, LC_ALL, layout typed with, reader, exit, wanted
        rows = [
            ("US reader, German terminal", [], de, 2, "USA", 1,
             [GERMAN, "the swipe is not valid track data"]),
            ("O'NEIL, US reader, Spanish terminal", [], "es_ES.UTF-8", 3, "USA", 1,
             [ADVICE.format("Spanish", "0000040A", "Spanish", "Spanish")], ONEIL),
            ("the same, as JSON", ["--json"], de, 2, "USA", 1,
             {"outcome": "invalid", "source": "keyboard", "finding": "host_layout",
              "host_layout": "German"}),
            ("the fix: it types for German", ["--profile", "German.toml", "--json"], de, 2,
             "German", 0, {"outcome": "valid", "source": "keyboard", "finding": "fits",
                           "host_layout": None}),
            ("US reader, US terminal", ["--profile", "USA.toml"], us, 0, "USA", 0,
             ["track 1: valid", "track 2: valid", "PAN 16 characters, ending 1111"]),
            ("nothing typed", ["--timeout", "2"], de, 2, None, 2,
             ["nothing was swiped within 2 s on the keyboard"]),
        ]
        for name, args, locale, host, reader, code, wanted, *track1 in rows:
            with self.subTest(name):
                rc, output = keyboard_swipe(folder, args, locale, host, state.get(reader),
                                            *track1)
                self.assertEqual(rc, code, output)
                for secret in vcom_sim.TEST_SECRETS:  # the PAN's last four digits only
                    self.assertNotIn(secret, output)
                if isinstance(wanted, dict):
                    doc = json.loads(output[:output.rindex("}") + 1])
                    layout = doc["swipes"][0]["layout"]
                    self.assertEqual(wanted, {"outcome": doc["outcome"], "source": doc["source"],
                                              "finding": layout["finding"],
                                              "host_layout": layout["host_layout"]})
                for line in wanted if isinstance(wanted, list) else []:
                    self.assertIn(line, output)

    def test_no_console(self):
        """Standard input from a pipe: Wine, as Windows, gives the program no console."""
        shutil.copyfile(rig.BUILD / "msrprofile.exe", rig.workdir("kbswipe") / "msrprofile.exe")
        run = rig.run_exe(["swipe", "--keyboard"], rig.DRIVE_C / "kbswipe",
                          exe=rig.DRIVE_C / "kbswipe" / "msrprofile.exe")
        self.assertEqual(run.returncode, 64, run.stderr)
        self.assertIn(b"standard input is not a console", run.stderr)
