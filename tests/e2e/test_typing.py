"""The real keystroke output under Wine: the main window's lists, minimized,
typing through SendInput into the receiver."""
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "bench"))
from bench import Bench, Receiver, poll  # noqa: E402

SHIFT, CTRL = 0x10, 0x11
KEY_DOWN = ("KD", "SKD")

# Prefix list (Combo8) index -> (virtual key, extended flag); "{UP}" is taken
# from the suffix-1 list, where it has index 12.
PREFIX_KEYS = {
    1: (0x08, False), 2: (0x03, True), 3: (0x28, True), 4: (0x23, True), 5: (0x0D, False),
    6: (0x1B, False), 7: (0x24, True), 8: (0x25, True), 9: (0x22, True), 10: (0x27, True),
    11: (0x09, False), **{12 + i: (0x70 + i, False) for i in range(12)},
}


class Typing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = Bench("typing").start()
        cls.receiver = Receiver(cls.bench)

    @classmethod
    def tearDownClass(cls):
        cls.bench.stop()

    def type(self, *records, **options):
        args = []
        for name, value in options.items():
            args += ["--" + name.replace("_", "-"), value]
        self.bench.run("typeline.exe", "--focus", self.receiver.TITLE, *args, *records)

    def new_events(self, start):
        return self.receiver.events()[start:]

    def assert_no_modifier_down(self):
        self.assertEqual(self.bench.key_state()["held"], [])

    def test_capital_gets_shift_around_it_only(self):
        start = len(self.receiver.events())
        self.type("Ab1")
        self.receiver.wait_text("Ab1")
        keys = [(e["kind"], e["vk"]) for e in self.new_events(start) if e["kind"] in ("KD", "KU")]
        self.assertEqual(keys, [("KD", SHIFT), ("KD", 0x41), ("KU", 0x41), ("KU", SHIFT),
                                ("KD", 0x42), ("KU", 0x42), ("KD", 0x31), ("KU", 0x31)])
        for e in self.new_events(start):
            if e["kind"] == "KD":
                self.assertNotEqual(e["sc"], 0, "every key carries its scan code")
        self.assert_no_modifier_down()

    def test_every_brace_token_arrives_as_its_key(self):
        for index, (vk, ext) in list(PREFIX_KEYS.items()) + [(None, (0x26, True))]:
            start = len(self.receiver.events())
            if index is None:
                self.type(".", suffix1=12, suffix1_repeat=1)  # "{UP}" after the record
            else:
                self.type(".", prefix=index, prefix_repeat=1)
            poll(lambda: any(e["kind"] in KEY_DOWN and e["vk"] == vk
                             for e in self.new_events(start)), what=f"key {vk:#x}")
            self.receiver.wait_quiet()
            down = [e for e in self.new_events(start) if e["kind"] in KEY_DOWN]
            key = next(e for e in down if e["vk"] == vk)
            self.assertEqual(key["ext"], ext, f"extended flag of {vk:#x}")
            others = [e["vk"] for e in down if e["vk"] not in (vk, 0xBE)]
            # Break is Ctrl+Cancel; nothing else comes with a modifier.
            self.assertEqual(others, [CTRL] if vk == 0x03 else [], f"keys around {vk:#x}")
            self.assert_no_modifier_down()

    def test_characters_the_layout_lacks_arrive_whole(self):
        self.type("\u00e9\u20ac(x)")
        self.receiver.wait_text("\u00e9\u20ac(x)")
        self.assert_no_modifier_down()

    def test_case_is_exact_with_caps_lock_on(self):
        # The typing process was running when Caps Lock went on, as the
        # program in the tray is. (A process started after the change would
        # not see it under Wine 8, which starts a thread's key state all-zero
        # and never syncs it; Windows and later Wine versions do.)
        typer = self.bench.spawn("typeline.exe", "--focus", self.receiver.TITLE, "--stdin",
                                 stdin=True)
        capitals = [(0x41, False), (0x42, True), (0x31, False), (0x5A, True), (0x5A, False)]
        try:
            self.type("ready")  # its window is up and the receiver in front again
            self.receiver.wait_text("ready")
            self.bench.set_caps_lock(True, self.receiver)
            start = len(self.receiver.events())
            typer.stdin.write("Ab1zZ\n".encode())
            typer.stdin.flush()
            self.receiver.wait_text("Ab1zZ")
            # With Caps Lock on, capitals come without Shift, small letters with it.
            self.assertEqual(self.downs_with_shift(start), capitals)

            self.bench.set_caps_lock(False, self.receiver)
            start = len(self.receiver.events())
            typer.stdin.write("Ab\n".encode())
            typer.stdin.flush()
            self.receiver.wait_text("Ab")
            self.assertEqual(self.downs_with_shift(start), [(0x41, True), (0x42, False)])
        finally:
            self.bench.set_caps_lock(False, self.receiver)
            typer.stdin.close()
            typer.wait(timeout=30)
        self.assert_no_modifier_down()

    def downs_with_shift(self, start):
        """(virtual key, Shift down) of each key press after `start`."""
        shift, out = False, []
        for e in self.new_events(start):
            if e["vk"] == SHIFT and e["kind"] in ("KD", "KU"):
                shift = e["kind"] == "KD"
            elif e["kind"] == "KD":
                out.append((e["vk"], shift))
        return out

    def test_a_held_modifier_makes_no_chord(self):
        self.bench.wbench("down", "0xA2")  # the user holds left Ctrl
        try:
            start = len(self.receiver.events())
            self.type("wq")
            self.receiver.wait_text("wq")
            chars = [e["ch"] for e in self.new_events(start) if e["kind"] in ("CH", "SCH")]
            self.assertEqual(chars, [ord("w"), ord("q")], "no Ctrl+W or Ctrl+Q control character")
        finally:
            self.bench.wbench("up", "0xA2")
        self.assert_no_modifier_down()

    def xkey(self, *args):
        """A real key from the X server: Wine takes it as the user's own."""
        subprocess.run(["xdotool", *args], env=self.bench.env, check=True)

    def test_a_held_alt_opens_no_menu(self):
        self.bench.focus(self.receiver.TITLE)
        # The control: here, too, a lone Alt press and release asks for the menu.
        start = len(self.receiver.events())
        self.xkey("key", "Alt_L")
        poll(lambda: any(e["kind"] == "MENU" for e in self.new_events(start)),
             what="the menu from a lone Alt")
        # The user holds Alt while a record is typed, and lets go after it.
        start = len(self.receiver.events())
        self.xkey("keydown", "Alt_L")
        try:
            self.type("ab")
            self.receiver.wait_text("ab")
        finally:
            self.xkey("keyup", "Alt_L")
        self.receiver.wait_quiet()
        events = self.new_events(start)
        self.assertEqual([e for e in events if e["kind"] == "MENU"], [], "a menu was asked for")
        self.assertEqual([chr(e["ch"]) for e in events if e["kind"] in ("CH", "SCH")], ["a", "b"])
        self.assert_no_modifier_down()

    def test_nothing_is_typed_while_the_window_is_shown(self):
        start = len(self.receiver.events())
        self.type("zz", "zz", shown=True)
        self.type("ok")
        self.receiver.wait_text("ok")
        self.assertEqual("".join(chr(e["ch"]) for e in self.new_events(start) if e["kind"] == "CH"),
                         "ok")

    def test_prefix_suffix_repeats_and_delay(self):
        start = len(self.receiver.events())
        # {TAB} x3, 50 ms after every key, "AB", {ENTER} x1.
        self.type("AB", prefix=11, prefix_repeat=3, delay=5, suffix1=5, suffix1_repeat=1)
        poll(lambda: any(e["kind"] == "KU" and e["vk"] == 0x0D for e in self.new_events(start)),
             what="the Enter suffix")
        self.receiver.wait_quiet()
        downs = [e for e in self.new_events(start) if e["kind"] == "KD" and e["vk"] != SHIFT]
        self.assertEqual([e["vk"] for e in downs], [0x09, 0x09, 0x09, 0x41, 0x42, 0x0D])
        gaps = [b["t"] - a["t"] for a, b in zip(downs, downs[1:])]
        for gap in gaps:  # loosely: the delay is there, and nothing stalls
            self.assertGreaterEqual(gap, 40, gaps)
            self.assertLess(gap, 1000, gaps)
        self.assert_no_modifier_down()


if __name__ == "__main__":
    unittest.main(verbosity=2)
