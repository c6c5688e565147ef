"""The session lock: on X a mock logind (two users, no session id for tarvik), screen savers on
the bus and X's own; on headless GNOME the shell's lock screen, marked in its logind session."""
import ctypes
import os
import tempfile
import unittest
from pathlib import Path

from bench import poll
from fake_reader import TcpReader
from gnome_bench import Gnome, GtkReceiver, missing_tools
from linux_bench import (LOGIND, SYSTEM_PYTHON, MockLogind, PrivateBus, Process, ReaderTest, Receiver,
                         _xlib, bus_call, display_session, logind_resolution)

LOCKED = "not typed: locked or secure desktop"
OTHER_UID = 1000  # MockLogind's own session "c2" belongs to this user
SESSION = "/org/freedesktop/login1/session/"
SCREEN_SAVER_ACTIVE, SCREEN_SAVER_RESET = 1, 0  # XForceScreenSaver's modes


def answers(reader):
    return reader.received().count(b"F")


class Lock(ReaderTest):
    BENCH = dict(name="lock")
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'

    def setUp(self):
        super().setUp()
        self.assertNotEqual(os.getuid(), OTHER_UID, "the test's user must not be the other user")
        self.buses = Path(tempfile.mkdtemp(prefix="buses-", dir=self.bench.work))
        self.session_bus = PrivateBus(self.buses / "session")
        self.addCleanup(self.session_bus.stop)
        self.bench.env.pop("XDG_SESSION_ID", None)
        self.bench.env.update(DBUS_SESSION_BUS_ADDRESS=self.session_bus.address,
                              DBUS_SYSTEM_BUS_ADDRESS=f"unix:path={self.buses}/no-system-bus")
        self.receiver = Receiver(self.bench)

    def line(self, data, why=None):
        """A line of three characters: typed with its F, or with why refused in the log, no keys, no F."""
        log, events = self.bench.log_text, len(self.receiver.events())
        before, answered = log().count(why or "\0"), answers(self.reader)
        self.bench.activate(self.receiver.window)
        self.reader.send(data)
        if why is None:
            keys = [chr(c) for c in data[:2]] + ["Return"]
            self.assertEqual(self.receiver.wait_presses(events, len(keys)), keys)
            poll(lambda: answers(self.reader) == answered + 1, what="the F for the typed line")
            return
        poll(lambda: log().count(why) > before, what=f"the log line {why!r}")
        self.assertEqual(answers(self.reader), answered, "an F for a line not typed")
        self.assertEqual(len(self.receiver.events()), events, "keys of a line not typed")

    def users_display_session(self):
        """A mock logind that does not know our session id: another user's c2, our display session c7."""
        logind = MockLogind(self.buses, self.bench.env, "c2")
        self.addCleanup(logind.stop)
        logind.add_session("c7", os.getuid(), "me", display=True)
        logind.resolve_like_logind(os.getuid())
        self.start_in_tray()
        return logind

    def test_the_users_display_session_found_without_its_id_and_again_after_a_new_login(self):
        me, logind = os.getuid(), self.users_display_session()
        self.assertIn(f'Session lock: logind\'s session {SESSION}c7 (GetSession("auto")) is asked',
                      self.bench.log_text())
        # c2 is another user's, not ours; c8 is a new login after c7's logout.
        for session, locked in (("c2", True), ("c7", True), ("c7", False), ("c8", True), ("c8", False)):
            if (session, locked) == ("c8", True):
                logind.remove_session("c7", me)
                logind.add_session("c8", me, "me", display=True)
            self.assertTrue(logind.call(SESSION + session, "org.freedesktop.login1.Session.SetLockedHint",
                                        f"boolean:{str(locked).lower()}"))
            self.line(b"lk1\r\n", f"{LOCKED}: logind's session {SESSION}{session}" if locked and session != "c2"
                      else None)
        self.assertIn(f"Session lock: logind's session {SESSION}c7 does not answer", self.bench.log_text())
        self.assertNotIn("cannot be known", self.bench.log_text())

    def test_a_session_not_in_front_lets_the_reader_go_and_takes_it_back(self):
        """Active toggled on the session, then the session left in the background ends and the
        user's new login is in front."""
        me, logind = os.getuid(), self.users_display_session()
        log = self.bench.log_text
        self.assertIn(f'Session in front: logind\'s session {SESSION}c7 (GetSession("auto")) is followed', log())
        for step in ("inactive", "active", "inactive", "new login"):
            connections, answered = self.reader.connections, answers(self.reader)
            let_go = log().count("This session is no longer the one in front")
            if step == "new login":
                logind.remove_session("c7", me)
                logind.add_session("c8", me, "me", display=True)
                logind.emit("org.freedesktop.login1.Manager", "SessionRemoved", "so", "'c7'",
                            f"objectpath '{SESSION}c7'")
            else:
                self.assertTrue(logind.call(SESSION + "c7", "org.freedesktop.DBus.Properties.Set",
                                            "string:org.freedesktop.login1.Session", "string:Active",
                                            f"variant:boolean:{str(step == 'active').lower()}"))
            if step != "inactive":
                poll(lambda: self.reader.connections == connections + 1, what="the link taken back")
                poll(lambda: answers(self.reader) == answered + 1, what="the F after the connect")
                self.line(b"fr1\r\n")
                continue
            poll(self.reader.peer_closed.is_set, what="the link let go")
            poll(lambda: log().count("This session is no longer the one in front") > let_go, what="the log line")
            self.assertEqual(self.reader.connections, connections, "a link tried from behind")
        self.assertIn(f"Session in front: logind's session {SESSION}c8 (GetSession(\"auto\")) is followed", log())

    def test_screen_savers(self):
        self.start_in_tray()
        self.line(b"ss1\r\n")  # no service: nothing says locked
        for name, path in (("org.freedesktop.ScreenSaver", "/ScreenSaver"),
                           ("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver")):
            service = Process([SYSTEM_PYTHON, "-m", "dbusmock", name, path, name], env=self.bench.env,
                              output=self.bench.work / f"{name}.log")
            self.addCleanup(service.stop)
            for active in (False, True):
                poll(lambda: bus_call(self.session_bus.address, self.bench.env, f"--dest={name}", path,
                                      "org.freedesktop.DBus.Mock.AddMethod", f"string:{name}",
                                      "string:GetActive", "string:", "string:b", f"string:ret = {active}"),
                     what=name)
                self.line(b"ss2\r\n", f"{LOCKED}: {name}" if active else None)
            service.stop()
            self.line(b"ss3\r\n")
        x = _xlib()
        x.XForceScreenSaver.argtypes = [ctypes.c_void_p, ctypes.c_int]
        for mode, why in ((SCREEN_SAVER_ACTIVE, f"{LOCKED}: the X screen saver"), (SCREEN_SAVER_RESET, None)):
            x.XForceScreenSaver(self.bench._display(), mode)
            x.XSync(self.bench._display(), 0)
            self.line(b"ss4\r\n", why)
        self.assertNotIn("cannot be known", self.bench.log_text())
        self.assertEqual(self.bench.keys_down(), [])


class GnomeLock(unittest.TestCase):
    """gnome-shell locks only where a display manager answers (its canLock): a mock GDM."""
    GDM = ["org.gnome.DisplayManager", "/org/gnome/DisplayManager/Manager", "org.gnome.DisplayManager.Manager"]

    def system(self, *args, reply=False):
        code, out = self.gnome.run("dbus-send", f"--bus={self.gnome.env['DBUS_SYSTEM_BUS_ADDRESS']}",
                                   "--print-reply", *args)
        return (out.split()[-1] if code == 0 else out) if reply else code == 0

    def test_the_shells_lock_screen_seen_through_the_session_it_marks(self):
        self.assertEqual(missing_tools(), [], "tools the test needs")
        gnome = self.gnome = Gnome("gnomelock")
        self.addCleanup(gnome.stop)
        spawn = gnome.spawn

        def with_gdm(name, args, **extra):  # started before the session bus, so before the shell
            if name == "session-bus":
                spawn("gdm", [SYSTEM_PYTHON, "-m", "dbusmock", "--system", *self.GDM])
                poll(lambda: self.system("--dest=" + self.GDM[0], self.GDM[1],
                                         "org.freedesktop.DBus.Mock.AddProperty", f"string:{self.GDM[2]}",
                                         "string:Version", "variant:string:43.0"), what="the mock GDM")
            return spawn(name, args, **extra)
        gnome.spawn = with_gdm
        gnome.start()
        self.reader = TcpReader()
        self.addCleanup(self.reader.stop)
        gnome.write_settings(Lock.SETTINGS.format(address=self.reader.address))
        uid = gnome.account.pw_uid
        for args in logind_resolution(uid):
            self.assertTrue(self.system(f"--dest={LOGIND}", "/org/freedesktop/login1", *args))
        code, out = gnome.run("gdbus", "call", "--address", gnome.env["DBUS_SYSTEM_BUS_ADDRESS"],
                              "--dest", LOGIND, *display_session(uid, "c1", SESSION + "c1"))
        self.assertEqual(code, 0, out)
        gnome.env.pop("XDG_SESSION_ID")  # gnome-session hands its programs none

        receiver = GtkReceiver(gnome)
        receiver.focus()
        gnome.tarvik()
        gnome.consent("Share")
        poll(lambda: "Desktop portal: typing allowed" in gnome.log_text(), what="the consent")
        self.reader.wait_connected()
        poll(lambda: answers(self.reader) == 1, what="the F after the connect")
        self.assertIn(f'Session lock: logind\'s session {SESSION}c1 (GetSession("auto"))', gnome.log_text())

        start, typed = receiver.text(), ""
        for lock, hint in ((None, None), ("lock(true)", "true"), ("deactivate(false)", "false")):
            if lock:
                self.assertEqual(gnome.eval(f"Main.screenShield.{lock}; true"), "true")
                poll(lambda: self.system(f"--dest={LOGIND}", SESSION + "c1", "org.freedesktop.DBus.Properties.Get",
                                         "string:org.freedesktop.login1.Session", "string:LockedHint",
                                         reply=True) == hint, what=f"the shell's LockedHint {hint}")
            answered, refused = answers(self.reader), gnome.log_text().count(LOCKED)
            if lock == "lock(true)":
                self.reader.send(b"Lk2\r\n")
                poll(lambda: gnome.log_text().count(LOCKED) > refused, what="the line refused")
                self.assertIn(f"{LOCKED}: logind's session {SESSION}c1", gnome.log_text())
                self.assertEqual(answers(self.reader), answered, "an F for a line not typed")
                continue
            receiver.focus()  # the lock screen held the keyboard while it was up
            self.reader.send(b"Lk1\r\n")
            typed += "Lk\r"
            poll(lambda: receiver.text() == start + typed, what=f"the keys {typed!r}; got {receiver.text()!r}")
            poll(lambda: answers(self.reader) == answered + 1, what="the F")
        self.assertNotIn("cannot be known", gnome.log_text())
