"""Headless sway, Xwayland, a de layout: keys through the virtual keyboard into wev and an X window
across a `swaymsg reload`, and a GTK entry on Wayland read back through the accessibility bus; the
focused window from wlr-foreign-toplevel, again with a new compositor."""
import contextlib
import json
import os
import select
import subprocess
import time
import unittest

from bench import poll
from fake_reader import TcpReader
from field_read_bench import FIELD_RECEIVER, LAUNCHER, FieldReceiver
from linux_bench import BUS_CONFIG, SYSTEM_PYTHON
from sway_bench import Sway, Wev, XReceiver, missing_tools

# Feedback on, prefix {TAB} once, suffix 1 {ENTER} once, suffix 2 {F2} once, no delay.
SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n11,1\r\n5,1\r\n15,1\r\n0\r\n'
FIELD_TITLE = "Sway GTK entry"
# The entry gets no Tab first: a scan led by a key that may move the caret is not read back.
RULES = f"[all]\nreplace = \\^ => \u0416\n[title {FIELD_TITLE}]\nprefix = none\n"
FIELD_LINE = "gtk4006381333931Ab-1;xZ@\u00e9\u20ac."
# Shifted, AltGr and spare-keycode characters; each line's last is not typed.
LINES = ["Ab-1;xZ@{|~\u00e9\u20ac^.", "Cd-2;y\\_\u20ac\u00e9^."]
NAMES = {"-": "minus", ";": "semicolon", "@": "at", "{": "braceleft", "|": "bar", "~": "asciitilde",
         "\u00e9": "eacute", "\u20ac": "U20AC", "\u0416": "U0416", "\\": "backslash", "_": "underscore"}
SPEED_LINE = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789" * 14
OUT_OF_THE_WAY = 60


def keys_of(line):
    """The (keysym name, text) of each press the line should give."""
    typed = line[:-1].replace("^", "\u0416")
    return ([("Tab", "\t")] + [(NAMES.get(c, c), c) for c in typed] + [("Return", "\r"), ("F2", "")])


def start_accessibility_bus(sway):
    """A session bus with at-spi-bus-launcher on it, both as the session's user (the bus takes
    no one else), in sway.env for what is started after."""
    folder = sway.work / "session-bus"
    sway._own(folder, 0o700)
    (folder / "bus.conf").write_text(BUS_CONFIG.format(folder=folder))
    bus = sway.spawn("session-bus", ["dbus-daemon", f"--config-file={folder / 'bus.conf'}", "--nofork",
                                     "--print-address=1"], stdout=subprocess.PIPE)
    address = bus.stdout.readline().decode().strip()
    bus.stdout.close()
    sway.env.update(DBUS_SESSION_BUS_ADDRESS=address, GSETTINGS_BACKEND="memory")
    sway.env.pop("NO_AT_BRIDGE", None)
    sway.spawn("a11y-bus", [LAUNCHER, "--launch-immediately"])
    poll(lambda: sway.run("dbus-send", f"--bus={address}", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                          "org.a11y.Bus.GetAddress")[0] == 0, what="the accessibility bus")


class WaylandField(FieldReceiver):
    """The GTK entry of tools/receiver/field_receiver.py as a Wayland client of sway."""

    def __init__(self, sway, title):
        self.log = sway.work / "field-gtk.log"
        self.proc = sway.spawn("field-gtk", [SYSTEM_PYTHON, str(FIELD_RECEIVER), "gtk", str(self.log), title],
                               GDK_BACKEND="wayland")
        poll(lambda: "MAPPED" in self.lines(), what="the GTK entry")
        self.focus = lambda: sway.focus(f'[title="{title}"]')


class SwayTyping(unittest.TestCase):
    def setUp(self):
        self.assertEqual(missing_tools(xwayland=True), [], "tools the test needs")
        self.sway = Sway("sway", xwayland=True, layout="de")
        self.addCleanup(self.sway.stop)
        self.sway.start()

    def visible(self, app_id):
        nodes, found = [json.loads(self.sway.swaymsg("-t", "get_tree", "-r"))], []
        while nodes:
            node = nodes.pop()
            found += [node] if node.get("app_id") == app_id and node.get("visible") else []
            nodes += node.get("nodes", []) + node.get("floating_nodes", [])
        return found

    def scan(self, reader, line, receiver):
        """Asserts the line's keys in the focused receiver and its F; the seconds to the last key."""
        receiver.focus()
        before, expected = len(receiver.typed()), keys_of(line)
        feedback, sent = reader.received() + b"F", time.monotonic()
        reader.send(line.encode("cp1252") + b"\r\n")
        with contextlib.suppress(TimeoutError):  # the keys that came are compared below
            poll(lambda: len(receiver.typed(before)) >= len(expected), timeout=30, interval=0.01, what="keys")
        seconds = time.monotonic() - sent
        self.assertEqual(receiver.typed(before), expected, f"{line!r} into {receiver}")
        poll(lambda: reader.received() == feedback, what="the F after the line")
        return seconds

    def test_lines_arrive_exactly_in_native_and_x_windows_across_a_reload(self):
        sway = self.sway
        reader = TcpReader()
        self.addCleanup(reader.stop)
        start_accessibility_bus(sway)
        wev, xrecv = Wev(sway), XReceiver(sway, sway.x_display())
        for focus, said in ((wev.focus, "app_id=wev title=wev"), (lambda: sway.swaymsg("workspace", "2"),
                            "none"), (xrecv.focus, f"app_id=TarvikReceiver title={xrecv.TITLE}")):
            focus()
            self.assertEqual(sway.run(os.environ["TARVIK_WAYLAND_TARGET"], "--target"), (0, said + "\n"))
        settings = sway.home / ".config" / "tarvik"
        sway._own(settings, 0o700)
        for name, text in (("pelrin.ini", SETTINGS.format(address=reader.address)), ("tarvik.ini", RULES)):
            (settings / name).write_bytes(text.encode("cp1252" if name == "pelrin.ini" else "utf-8"))
            os.chown(settings / name, sway.account.pw_uid, sway.account.pw_gid)
        sway.spawn("tarvik", [os.environ["TARVIK_EXE"]], QT_QPA_PLATFORM="wayland")
        log = sway.home / ".local" / "state" / "tarvik" / "tarvik.log"
        poll(lambda: self.visible("tarvik"), what="the program's window")
        poll(lambda: log.exists() and "virtual keyboard on wayland-1" in log.read_text(), what="virtual keyboard")
        poll(lambda: not self.visible("tarvik"), timeout=OUT_OF_THE_WAY, what="the window out of the way")
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")
        wev.focus()
        poll(wev.has_keyboard, what="wev given the keyboard")
        for receivers in ((wev, xrecv), (xrecv, wev)):  # the layout put back on every keyboard by a reload
            if receivers[0] is xrecv:
                sway.swaymsg("reload")
            for line, receiver in zip(LINES, receivers):
                self.scan(reader, line, receiver)
        speed = {name: round(len(SPEED_LINE) / self.scan(reader, SPEED_LINE + ".", receiver))
                 for receiver, name in ((wev, "wev"), (xrecv, "X receiver"))}
        print(f"\ncharacters a second at delay 0: {speed}")
        field = WaylandField(sway, FIELD_TITLE)
        field.focus()
        before, answers = field.text(), reader.received() + b"F"
        reader.send(FIELD_LINE.encode("cp1252") + b"\r\n")
        # The F comes once the field has been read back: the line is there by then.
        poll(lambda: reader.received() == answers, what=f"the F after the line; the entry has {field.text()!r}")
        self.assertEqual(field.text(), before + FIELD_LINE[:-1], "the GTK entry when the F came")
        poll(lambda: ": typed; delivered" in log.read_text(), what=f"delivered in the log:\n{log.read_text()}")
        log = log.read_text()
        self.assertEqual(log.count(": typed;"), 7, log)
        self.assertNotIn("list of windows failed", log)
        # Before the keyboard goes: the compositor releases a vanished keyboard's keys.
        self.assertEqual(wev.unreleased(), [], "keys pressed and never released in wev")
        self.assertEqual(xrecv.unreleased(), [], "keys pressed and never released in the X receiver")


class SwayWindowList(unittest.TestCase):
    """The list of windows (loss and "none" are unit-tested) found again with a new compositor."""

    def test_the_list_comes_back_with_a_new_compositor(self):
        self.assertEqual(missing_tools(), [], "tools the test needs")
        sway = Sway("swaylist")
        self.addCleanup(sway.stop)
        sway.start()
        watch = sway.spawn("watch", [os.environ["TARVIK_WAYLAND_TARGET"], "--watch"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(watch.stdout.close)
        log = sway.work / f"watch-{len(sway.procs) - 1}.log"
        for restart in (False, True):
            if restart:
                sway.stop_compositor()
                poll(lambda: "The desktop's list of windows failed" in log.read_text(), what="the loss")
                sway.start_compositor()
            Wev(sway).focus()
            watch.stdin.write(b"\n")
            watch.stdin.flush()
            self.assertTrue(select.select([watch.stdout], [], [], 20)[0], "the watch answered")
            self.assertEqual(watch.stdout.readline().decode().strip(), "app_id=wev title=wev")
        self.assertIn("The desktop lists its windows again", log.read_text())
        watch.stdin.close()
        self.assertEqual(watch.wait(timeout=20), 0)
