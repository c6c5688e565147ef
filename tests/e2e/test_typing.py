"""The real keystroke output under Wine: SendInput typing into the receiver. Every
brace token's key and extended flag is the key-plan unit test's; here one of each."""
import subprocess
import unittest

from bench import Bench, Receiver, poll
from fake_reader import TcpReader

SHIFT = 0x10


class Typing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = Bench("typing").start()
        cls.receiver = Receiver(cls.bench)

    @classmethod
    def tearDownClass(cls):
        cls.bench.stop()

    def type(self, *records, **options):
        args = [a for n, v in options.items() for a in ("--" + n.replace("_", "-"), v)]
        self.bench.run("typeline.exe", "--focus", self.receiver.TITLE, *args, *records)

    def new_events(self, start):
        return self.receiver.events()[start:]

    def assert_no_modifier_down(self):
        self.assertEqual(self.bench.key_state()["held"], [])

    def test_case_is_exact_with_caps_lock_on(self):
        # The typing process runs when Caps Lock goes on, as the program in the tray does
        # (Wine 8 gives a process started later an all-zero key state).
        typer = self.bench.spawn("typeline.exe", "--focus", self.receiver.TITLE, "--stdin",
                                 stdin=True)
        capitals = [(0x41, False), (0x42, True), (0x31, False), (0x5A, True), (0x5A, False)]
        try:
            self.type("ready")  # its window is up and the receiver in front again
            self.receiver.wait_text("ready")
            for caps, text, want in ((True, "Ab1zZ", capitals),
                                     (False, "Ab", [(0x41, True), (0x42, False)])):
                self.bench.set_caps_lock(caps, self.receiver)
                start = len(self.receiver.events())
                typer.stdin.write(f"{text}\n".encode())
                typer.stdin.flush()
                self.receiver.wait_text(text)
                self.assertEqual(self.downs_with_shift(start), want, f"Caps Lock {caps}")
        finally:
            self.bench.set_caps_lock(False, self.receiver)
            typer.stdin.close()
            typer.wait(timeout=30)
        self.assert_no_modifier_down()

    def xkey(self, *args):  # a real key from the X server: Wine takes it as the user's own
        subprocess.run(["xdotool", *args], env=self.bench.env, check=True)

    def downs_with_shift(self, start):  # (virtual key, Shift down) of each press since start
        shift, out = False, []
        for e in self.new_events(start):
            if e["vk"] == SHIFT and e["kind"] in ("KD", "KU"):
                shift = e["kind"] == "KD"
            elif e["kind"] == "KD":
                out.append((e["vk"], shift))
        return out

    def test_a_held_ctrl_makes_no_chord_and_a_held_alt_opens_no_menu(self):
        self.bench.wbench("down", "0xA2")  # the user holds left Ctrl
        try:
            start = len(self.receiver.events())
            self.type("wq")
            self.receiver.wait_text("wq")
            chars = [e["ch"] for e in self.new_events(start) if e["kind"] in ("CH", "SCH")]
            self.assertEqual(chars, [ord("w"), ord("q")], "no Ctrl+W or Ctrl+Q control character")
        finally:
            self.bench.wbench("up", "0xA2")
        self.bench.focus(self.receiver.TITLE)
        # The control: a lone real Alt press and release asks for the menu.
        start = len(self.receiver.events())
        self.xkey("key", "Alt_L")
        poll(lambda: any(e["kind"] == "MENU" for e in self.new_events(start)),
             what="the menu from a lone Alt")
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

    def test_prefix_suffix_delay_shift_around_the_capital_only_and_unicode(self):
        start = len(self.receiver.events())
        # {TAB} x3, 50 ms after every key, "Ab", {ENTER} x1, {UP} x1 (index 13 of suffix 2).
        self.type("Ab", prefix=11, prefix_repeat=3, delay=5, suffix1=5, suffix1_repeat=1,
                  suffix2=13, suffix2_repeat=1)
        poll(lambda: any(e["kind"] == "KU" and e["vk"] == 0x26 for e in self.new_events(start)),
             what="the Up suffix")
        self.receiver.wait_quiet()
        keys = [e for e in self.new_events(start) if e["kind"] in ("KD", "KU")]
        tap = lambda vk, ext=False: [("KD", vk, ext), ("KU", vk, ext)]  # noqa: E731
        self.assertEqual([(e["kind"], e["vk"], e["ext"]) for e in keys],
                         tap(0x09) * 3 + [("KD", SHIFT, False)] + tap(0x41) + [("KU", SHIFT, False)]
                         + tap(0x42) + tap(0x0D) + tap(0x26, True))
        self.assertNotIn(0, [e["sc"] for e in keys], "every key carries its scan code")
        downs = [e for e in keys if e["kind"] == "KD" and e["vk"] != SHIFT]
        gaps = [b["t"] - a["t"] for a, b in zip(downs, downs[1:])]
        for gap in gaps:  # loosely: the delay is there, and nothing stalls
            self.assertGreaterEqual(gap, 40, gaps)
            self.assertLess(gap, 1000, gaps)
        self.type("\u00e9\u20ac(x)")  # characters the layout lacks
        self.receiver.wait_text("\u00e9\u20ac(x)")
        self.assert_no_modifier_down()
