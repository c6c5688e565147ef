"""The program on a wlroots desktop: headless sway with no X at all, keys
through the compositor's virtual keyboard (zwp_virtual_keyboard_v1) into wev,
and the focused window's app_id and title from wlr-foreign-toplevel."""
import json
import os
import unittest

from bench import poll
from fake_reader import TcpReader
from sway_bench import Sway, Wev, missing_tools

# Feedback on, prefix {TAB} once, suffix 1 {ENTER} once, suffix 2 {F2} once, no delay.
SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n11,1\r\n5,1\r\n15,1\r\n0\r\n'
# The lines "Aé€b~éÿ1" and "€z 2" in the reader's code page (Windows-1252);
# their last characters are not typed. The keymap binds é, € and ÿ to spare
# keycodes for the first record, and € again for the second.
LINES = [b"A\xe9\x80b~\xe9\xff1\r\n", b"\x80z 2\r\n"]
LINE_KEYS = [[("Tab", "\t"), ("A", "A"), ("eacute", "é"), ("U20AC", "€"), ("b", "b"),
              ("asciitilde", "~"), ("eacute", "é"), ("ydiaeresis", "ÿ"), ("Return", "\r"), ("F2", "")],
             [("Tab", "\t"), ("U20AC", "€"), ("z", "z"), ("space", " "), ("Return", "\r"), ("F2", "")]]
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

    def test_the_program_types_lines_into_the_focused_window(self):
        sway = self.sway
        reader = TcpReader()
        self.addCleanup(reader.stop)
        settings = sway.home / ".config" / "tarvik"
        sway._own(settings, 0o700)
        (settings / "pelrin.ini").write_bytes(SETTINGS.format(address=reader.address).encode("cp1252"))
        os.chown(settings / "pelrin.ini", sway.account.pw_uid, sway.account.pw_gid)
        wev = Wev(sway)
        # What the program asks the compositor for: the focused window, or none.
        wev.focus()
        target = [os.environ["TARVIK_WAYLAND_TARGET"], "--target"]
        self.assertEqual(sway.run(*target), (0, "app_id=wev title=wev\n"))
        sway.swaymsg("workspace", "2")
        self.assertEqual(sway.run(*target), (0, "none\n"))
        sway.swaymsg("workspace", "1")
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
        # The headless seat had no keyboard: wev takes the one the program gives it.
        poll(wev.has_keyboard, what="wev given the keyboard")
        expected = []
        for line, keys in zip(LINES, LINE_KEYS):
            feedback = reader.received() + b"F"
            reader.send(line)
            expected += keys
            self.assertEqual(wev.wait_presses(len(expected)), expected)
            poll(lambda: reader.received() == feedback, what="the F after the line")
        # While the keyboard is still there: the compositor lets go of the keys
        # of a keyboard that goes away.
        self.assertEqual(wev.unreleased(), [], "keys pressed and never released")
