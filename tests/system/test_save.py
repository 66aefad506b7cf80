"""A save that fails: the window keeps the user's edits and says what the reader holds,
and only the reader that was read is written, as it was read."""

import vcom_sim
from test_window import TITLE, WindowTest, dump, out

EDITED = "c6 0c 25 3b 3b 3f 02 15"  # the shown base block with track 3 switched off
OLD = "c6 08 25 3b 3b 3f 02 15"


class SaveTest(WindowTest):
    def failed_save(self, words):
        """Save, whose box must hold `words`; then the window is still there, with the edit
        and with Save usable again."""
        out("post-click", "Button2")
        self.assertIn(words, out("answer-box", TITLE, "ok"))
        c = dump()
        self.assertEqual((c["CheckBox4"]["checked"], c["Button2"]["enabled"]), (0, 1))

    def test_usb_save_fails_keeps_the_window_and_works_once_the_reader_is_back(self):
        rows = [  # state that fails the save, what the box says the reader holds, its base
            ({"fail.SetMrStateBuf": 6}, "still holds its previous settings", OLD),
            ({"fail.SetMrState1": 6}, "still holds its previous settings", OLD),
            ({"unplug_after_base": 1}, "new basic settings and its previous extended", EDITED),
            ({"present": 0}, "did not answer", OLD)]
        for fault, words, base in rows:
            with self.subTest(fault=fault):
                reader = self.usb_reader(ext="01 00 00 00 00 00 00")
                p = self.start(reader=reader)
                out("wait-window")
                out("click", "CheckBox4")
                with open(reader.state_path, "a") as f:
                    f.write("".join(f"{k}={v}\n" for k, v in fault.items()))
                self.failed_save(words)
                self.assertEqual((reader.state()["base"], reader.state()["ext"][:2]),
                                 (base, "01"))
                # Plugged back in, the same window saves.
                state = reader.state_path.read_text().splitlines()
                reader.state_path.write_text("".join(
                    line + "\n" for line in state if "fail." not in line and "present" not in line))
                out("post-click", "Button2")
                self.assertEqual(p.wait(), 0)
                self.assertEqual(reader.state()["base"], EDITED)

    def test_vcom_save_goes_to_the_port_read_and_only_as_read(self):
        vcom_sim.check_built()
        with vcom_sim.VcomPorts() as ports:
            other = ports.reader(5)
            com = ports.reader(7, stray="25", answers=3)  # read and two queries, then silent
            ports.apply()
            settings = com.settings()
            p = self.start(args=["-v"], env=ports.env())
            out("wait-window")
            out("post-click", "Button2")
            self.assertIn("on COM7 did not answer", out("answer-box", TITLE, "ok"))
            # Back, but changed by another program since the window read it.
            com.set_state(answers=-1, mr1=0x0C)
            out("post-click", "Button2")
            self.assertIn("answers differently", out("answer-box", TITLE, "ok"))
            com.set_state(mr1=0x08)
            out("post-click", "Button2")
            self.assertEqual(p.wait(timeout=60), 0)
            ports.readers[7].settle()
            other.settle()
            # The stray byte shifted nothing: an unedited save writes what the reader held.
            self.assertEqual(com.settings(), settings)
            self.assertEqual(com.state()["writes"], 1)
            self.assertEqual(other.state()["writes"], 0)

