"""Typing on a wlroots desktop: headless sway with no X at all, keys through
the compositor's virtual keyboard (zwp_virtual_keyboard_v1) into wev, and
the focused window's app_id and title from wlr-foreign-toplevel: first the
typing alone (tarvik_wayland_type, the program's own sender), then the program
with a reader on TCP."""
import json
import os
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "bench"))
sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench import poll  # noqa: E402
from fake_reader import TcpReader  # noqa: E402
from sway_bench import Sway, Wev, missing_tools  # noqa: E402

# Feedback on, prefix {TAB} once, suffix 1 {ENTER} once, no suffix 2, no delay.
SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n11,1\r\n5,1\r\n0,0\r\n0\r\n'
# The line "Aé€b~1" in the reader's code page (Windows-1252); its last
# character is not typed.
LINE = b"A\xe9\x80b~1\r\n"
LINE_KEYS = [("Tab", "\t"), ("A", "A"), ("eacute", "é"), ("U20AC", "€"), ("b", "b"),
             ("asciitilde", "~"), ("Return", "\r")]
# The program goes out of the way 10 s after its start; more on a slow machine.
OUT_OF_THE_WAY = 60


class SwayTyping(unittest.TestCase):
    def setUp(self):
        self.assertEqual(missing_tools(), [], "tools the test needs")
        self.sway = Sway("sway")
        self.addCleanup(self.sway.stop)  # also after a start that failed half-way
        self.sway.start()

    def visible(self, app_id):
        def walk(node):
            yield node
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                yield from walk(child)
        tree = json.loads(self.sway.swaymsg("-t", "get_tree", "-r"))
        return [n for n in walk(tree) if n.get("app_id") == app_id and n.get("visible")]

    def test_typing_through_the_virtual_keyboard_and_the_focused_window(self):
        sway = self.sway
        wev = Wev(sway)
        wev.focus()
        target = [os.environ["TARVIK_WAYLAND_TYPE"], "--target"]
        self.assertEqual(sway.run(*target), (0, "app_id=wev title=wev\n"))
        # An empty workspace: no window has the focus.
        sway.swaymsg("workspace", "2")
        self.assertEqual(sway.run(*target), (0, "none\n"))
        sway.swaymsg("workspace", "1")
        wev.focus()

        typer = sway.spawn("typer", [os.environ["TARVIK_WAYLAND_TYPE"]],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.assertEqual(typer.stdout.readline(), b"ready\n")
        # The headless seat had no keyboard: wev takes the one ours gives it.
        poll(wev.has_keyboard, what="wev given the keyboard")
        records = [["a", "B", "{TAB}", "\u00e9", "\u20ac", "\u00e9", "\u00ff", "{ENTER}"],
                   ["\u20ac", "z", "{F2}", "{BS}", " ", "\u0394"]]
        for tokens in records:
            typer.stdin.write(("\t".join(tokens) + "\n").encode())
            typer.stdin.flush()
            self.assertEqual(typer.stdout.readline(), b"typed\n")
        expected = [("a", "a"), ("B", "B"), ("Tab", "\t"), ("eacute", "é"), ("U20AC", "€"),
                    ("eacute", "é"), ("ydiaeresis", "ÿ"), ("Return", "\r"),
                    ("U20AC", "€"), ("z", "z"), ("F2", ""), ("BackSpace", "\b"),
                    ("space", " "), ("U0394", "Δ")]
        self.assertEqual(wev.wait_presses(len(expected)), expected)
        # While the keyboard is still there: the compositor lets go of the
        # keys of a keyboard that goes away.
        self.assertEqual(wev.unreleased(), [], "keys pressed and never released")
        typer.stdin.close()
        self.assertEqual(typer.wait(timeout=10), 0)
        typer.stdout.close()

    def test_the_program_types_a_line_into_the_focused_window(self):
        sway = self.sway
        reader = TcpReader()
        self.addCleanup(reader.stop)
        settings = sway.home / ".config" / "tarvik"
        sway._own(settings, 0o700)
        (settings / "pelrin.ini").write_bytes(SETTINGS.format(address=reader.address).encode("cp1252"))
        os.chown(settings / "pelrin.ini", sway.account.pw_uid, sway.account.pw_gid)
        wev = Wev(sway)
        sway.spawn("tarvik", [os.environ["TARVIK_EXE"]], QT_QPA_PLATFORM="wayland")
        log = sway.home / ".local" / "state" / "tarvik" / "tarvik.log"
        poll(lambda: self.visible("tarvik"), what="the program's window")
        poll(lambda: log.exists() and "virtual keyboard on wayland-1" in log.read_text(),
             what="typing through the virtual keyboard, in the log")
        poll(lambda: not self.visible("tarvik"), timeout=OUT_OF_THE_WAY,
             what="the program's window out of the way")
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")
        wev.focus()
        poll(wev.has_keyboard, what="wev given the keyboard")
        reader.send(LINE)
        self.assertEqual(wev.wait_presses(len(LINE_KEYS)), LINE_KEYS)
        poll(lambda: reader.received() == b"FF", what="the F after the line")
        self.assertEqual(wev.unreleased(), [], "keys pressed and never released")


if __name__ == "__main__":
    unittest.main(verbosity=2)
