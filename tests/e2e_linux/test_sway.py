"""The program on a wlroots desktop: headless sway with Xwayland and a user's
own layout (de) in its config, keys through the compositor's virtual keyboard
(zwp_virtual_keyboard_v1) into a native window (wev) and an X window under
Xwayland (the bench's receiver), a `swaymsg reload` between lines; the focused
window's app_id and title from wlr-foreign-toplevel, and that list lost with
its compositor and found again with the next."""
import json
import os
import select
import subprocess
import time
import unittest

from bench import poll
from fake_reader import TcpReader
from sway_bench import Sway, Wev, XReceiver, missing_tools

# Feedback on, prefix {TAB} once, suffix 1 {ENTER} once, suffix 2 {F2} once, no delay.
SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n11,1\r\n5,1\r\n15,1\r\n0\r\n'
# The reader's code page (Windows-1252) has no Cyrillic: the rules make ^ one.
RULES = "[all]\nreplace = \\^ => \u0416\n"
# Capitals, characters shifted on a US layout and on AltGr on the de one, and
# characters on neither, bound to spare keycodes; the last character of each
# line is not typed.
LINES = ["Ab-1;xZ@{|~\u00e9\u20ac^.", "Cd-2;y\\_\u20ac\u00e9^."]
NAMES = {"A": "A", "b": "b", "-": "minus", "1": "1", ";": "semicolon", "x": "x", "Z": "Z",
         "@": "at", "{": "braceleft", "|": "bar", "~": "asciitilde", "\u00e9": "eacute",
         "\u20ac": "U20AC", "\u0416": "U0416", "C": "C", "d": "d", "2": "2", "y": "y",
         "\\": "backslash", "_": "underscore"}
# A long line of capitals and digits, typed as fast as each receiver takes it.
SPEED_LINE = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789" * 14
# The program goes out of the way 10 s after its start; more on a slow machine.
OUT_OF_THE_WAY = 60


def keys_of(line):
    """The (keysym name, text) of each press the line should give."""
    typed = line[:-1].replace("^", "\u0416")
    return ([("Tab", "\t")] + [(NAMES.get(c, c), c) for c in typed] + [("Return", "\r"), ("F2", "")])


class SwayTyping(unittest.TestCase):
    def setUp(self):
        self.assertEqual(missing_tools(xwayland=True), [], "tools the test needs")
        self.sway = Sway("sway", xwayland=True, layout="de")
        self.addCleanup(self.sway.stop)  # also after a start that failed half-way
        self.sway.start()
        self.target = [os.environ["TARVIK_WAYLAND_TARGET"], "--target"]

    def visible(self, app_id):
        def walk(node):
            yield node
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                yield from walk(child)
        tree = json.loads(self.sway.swaymsg("-t", "get_tree", "-r"))
        return [n for n in walk(tree) if n.get("app_id") == app_id and n.get("visible")]

    def start_program(self, reader):
        sway = self.sway
        settings = sway.home / ".config" / "tarvik"
        sway._own(settings, 0o700)
        for name, text in (("pelrin.ini", SETTINGS.format(address=reader.address)), ("tarvik.ini", RULES)):
            (settings / name).write_bytes(text.encode("cp1252" if name == "pelrin.ini" else "utf-8"))
            os.chown(settings / name, sway.account.pw_uid, sway.account.pw_gid)
        sway.spawn("tarvik", [os.environ["TARVIK_EXE"]], QT_QPA_PLATFORM="wayland")
        log = sway.home / ".local" / "state" / "tarvik" / "tarvik.log"
        poll(lambda: self.visible("tarvik"), what="the program's window")
        poll(lambda: log.exists() and "virtual keyboard on wayland-1" in log.read_text(),
             what="typing through the virtual keyboard, in the log")
        poll(lambda: not self.visible("tarvik"), timeout=OUT_OF_THE_WAY,
             what="the program's window out of the way")
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")

    def scan(self, reader, line, receiver):
        """Sends a line to the receiver, focused; asserts its keys, waits for
        its F. The seconds from the send to the last key."""
        receiver.focus()
        before, expected, feedback = len(receiver.typed()), keys_of(line), reader.received() + b"F"
        sent = time.monotonic()
        reader.send(line.encode("cp1252") + b"\r\n")
        try:
            poll(lambda: len(receiver.typed(before)) >= len(expected), timeout=30, interval=0.01,
                 what=f"{len(expected)} keys")
        except TimeoutError as e:
            raise AssertionError(f"{e}; got {receiver.typed(before)}") from None
        seconds = time.monotonic() - sent
        self.assertEqual(receiver.typed(before), expected, f"{line!r} into {receiver}")
        poll(lambda: reader.received() == feedback, what="the F after the line")
        return seconds

    def test_lines_arrive_exactly_in_native_and_x_windows_across_a_reload(self):
        sway = self.sway
        reader = TcpReader()
        self.addCleanup(reader.stop)
        wev = Wev(sway)
        xrecv = XReceiver(sway, sway.x_display())
        # What the program asks the compositor for: the focused window, or none.
        wev.focus()
        self.assertEqual(sway.run(*self.target), (0, "app_id=wev title=wev\n"))
        xrecv.focus()
        self.assertEqual(sway.run(*self.target), (0, f"app_id=TarvikReceiver title={xrecv.TITLE}\n"))
        sway.swaymsg("workspace", "2")
        self.assertEqual(sway.run(*self.target), (0, "none\n"))
        sway.swaymsg("workspace", "1")
        self.start_program(reader)
        # The headless seat had no keyboard: wev takes the one the program gives it.
        wev.focus()
        poll(wev.has_keyboard, what="wev given the keyboard")
        # Each receiver a line, the layout put back on every keyboard, each again.
        self.scan(reader, LINES[0], wev)
        self.scan(reader, LINES[1], xrecv)
        sway.swaymsg("reload")
        self.scan(reader, LINES[0], xrecv)
        self.scan(reader, LINES[1], wev)
        speed = {name: round(len(SPEED_LINE) / self.scan(reader, SPEED_LINE + ".", receiver))
                 for receiver, name in ((wev, "wev"), (xrecv, "X receiver"))}
        print(f"\ncharacters a second at delay 0: {speed}")
        log = (sway.home / ".local" / "state" / "tarvik" / "tarvik.log").read_text()
        self.assertEqual(log.count(": typed\n"), 6, log)
        self.assertNotIn("list of windows failed", log)
        # While the keyboard is still there: the compositor lets go of the keys
        # of a keyboard that goes away.
        self.assertEqual(wev.unreleased(), [], "keys pressed and never released in wev")
        self.assertEqual(xrecv.unreleased(), [], "keys pressed and never released in the X receiver")


class SwayWindowList(unittest.TestCase):
    """The list of windows, kept as the program keeps it (a Qt event loop reads
    its news between queries), with its compositor gone and back."""

    def setUp(self):
        self.assertEqual(missing_tools(), [], "tools the test needs")
        self.sway = Sway("swaylist")
        self.addCleanup(self.sway.stop)
        self.sway.start()

    def test_a_lost_list_is_no_foreground_said_once_and_comes_back_with_a_new_compositor(self):
        sway = self.sway
        watch = sway.spawn("watch", [os.environ["TARVIK_WAYLAND_TARGET"], "--watch"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(watch.stdout.close)
        log = sway.work / f"watch-{len(sway.procs) - 1}.log"

        def query():
            watch.stdin.write(b"\n")
            watch.stdin.flush()
            ready, _, _ = select.select([watch.stdout], [], [], 20)
            self.assertTrue(ready, "the watch answered")
            return watch.stdout.readline().decode().strip()

        Wev(sway).focus()
        self.assertEqual(query(), "app_id=wev title=wev")
        sway.stop_compositor()
        # Read as it happens, between queries, and said once however often asked.
        failed = "The desktop's list of windows failed"
        poll(lambda: failed in log.read_text(), what="the failure in the log")
        self.assertEqual([query(), query()], ["none", "none"])
        self.assertEqual(log.read_text().count(failed), 1, log.read_text())
        sway.start_compositor()
        Wev(sway).focus()
        self.assertEqual(query(), "app_id=wev title=wev")
        self.assertIn("The desktop lists its windows again", log.read_text())
        watch.stdin.close()
        self.assertEqual(watch.wait(timeout=20), 0)
