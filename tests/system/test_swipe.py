"""msrprofile.exe swipe under Wine against the virtual COM stand-in: a test card swiped
while the command waits, its report and JSON masked, compared with a profile that matches
and one that differs, a wrong swipe, and nothing swiped before the time-out."""

import json
import shutil
import subprocess

import rig
import vcom_sim

TRACK1, TRACK2 = vcom_sim.TEST_TRACK1, vcom_sim.TEST_TRACK2
# The stand-in's default block (the USB set, on COM): codes "%" ";" ";" "?", no LRC, CR.
LRC_ON = {"mr1": 0x18}


def lrc(track):
    """The card's LRC over a track's text, sentinels included."""
    base = 0x20 if track[0] == "%" else 0x30
    x = 0
    for c in track:
        x ^= ord(c) - base
    return chr(base + x)


def install(folder):
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(rig.BUILD / "msrprofile.exe", folder / "msrprofile.exe")
    return folder / "msrprofile.exe"


def swipe_run(ports, reader, folder, exe, args, swipe):
    proc = subprocess.Popen(["wine", str(exe), "swipe"] + args, cwd=str(folder),
                            env=rig.wine_env(ports.env()), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            encoding="latin-1")
    return vcom_sim.swipe_when_waiting(proc, reader, swipe)


class VcomSwipeTest(rig.WineTestCase):
    def test_swipes_on_com5(self):
        folder = rig.workdir("swipe")
        exe = install(folder)
        for name, lrc_on in (("lrc", "true"), ("plain", "false")):
            (folder / f"{name}.toml").write_text(f'send_lrc = {lrc_on}\n'
                                                 'interface = "virtual COM port"\n')
        cards = {"track1": TRACK1, "track2": TRACK2}
        # name, reader state, command line after the reader, swipe, exit, text or JSON wanted
        rows = [
            ("valid, no profile", {}, ["--port", "COM5"], cards, 0,
             ["track 1: valid", "PAN 16 characters, ending 1111", "the swipe is valid track data"]),
            ("matches its profile", LRC_ON, ["--port", "COM5", "--profile",
                                             "C:\\swipe\\lrc.toml"], cards, 0,
             ["the swipe is valid and shows what C:\\swipe\\lrc.toml says"]),
            ("differs from its profile", LRC_ON, ["--port", "COM5", "--profile",
                                                  "C:\\swipe\\plain.toml"], cards, 1,
             ["send_lrc profile false, swipe true: DIFFERS",
              "the swipe is valid but differs from C:\\swipe\\plain.toml"]),
            ("against the reader's own settings", LRC_ON, ["--port", "COM5", "--from-reader"],
             cards, 0, ["the swipe is valid and shows what the reader's settings says"]),
            ("json, found by probing", LRC_ON, ["--vcom", "--json"], cards, 0,
             {"outcome": "valid", "port": "COM5", "pan_length": 16, "pan_last4": "1111"}),
            ("an unreadable track", {}, ["--port", "COM5", "--json"],
             {"track1": "%E?", "track2": TRACK2}, 1, {"outcome": "invalid", "status": "unreadable"}),
            # Raw bytes go out before the tracks, the stand-in's CR after them.
            ("a bad LRC", LRC_ON, ["--port", "COM5", "--profile", "C:\\swipe\\lrc.toml"],
             {"raw": (TRACK1 + chr(ord(lrc(TRACK1)) ^ 1)).encode()}, 1,
             ["LRC: failed", "the swipe is not valid track data"]),
            ("nothing swiped", {}, ["--port", "COM5", "--timeout", "2"], None, 2, []),
        ]
        rig.LOG.write_bytes(b"")  # the diagnostic log is on
        with vcom_sim.VcomPorts() as ports:
            reader = ports.reader(5)
            ports.apply()
            base = reader.settings()
            for name, state, args, swipe, code, wanted in rows:
                with self.subTest(name):
                    reader.set_settings(base)
                    reader.set_state(**state)
                    rc, out, err = swipe_run(ports, reader, folder, exe, args, swipe)
                    self.assertEqual(rc, code, out + err)
                    everything = out + err
                    # Nothing of the card but the PAN's length and last four digits.
                    for secret in vcom_sim.TEST_SECRETS:
                        self.assertNotIn(secret, everything)
                    if isinstance(wanted, dict):
                        doc = json.loads(out)
                        found = {k: doc[k] for k in ("outcome", "port") if k in wanted}
                        track = doc["swipes"][0]["tracks"][0]
                        if "status" in wanted:
                            found["status"] = track["status"]
                        if "pan_length" in wanted:
                            found.update(pan_length=track["pan"]["length"],
                                         pan_last4=track["pan"]["last4"])
                        self.assertEqual(found, wanted)
                    if isinstance(wanted, list):
                        lines = [" ".join(line.split()) for line in out.splitlines()]
                        for line in wanted:
                            self.assertIn(line, "\n".join(lines))
                        # The options that differ are named, and only those.
                        self.assertEqual([t for t in lines if t.endswith("DIFFERS")],
                                         [w for w in wanted if w.endswith("DIFFERS")], out)
                    if swipe is None:
                        self.assertIn("nothing was swiped", err)
        # swipe keeps no log at all, not even of its settings read (--vcom, --from-reader).
        self.assertEqual(rig.log_text(), "")
