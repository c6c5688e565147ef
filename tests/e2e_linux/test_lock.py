"""The session lock as tarvik sees it, without a keyboard grab of its own. On X:
python3-dbusmock's logind on a private system bus with two users' sessions and
no session id for tarvik (as gnome-session starts programs), screen saver
services on a private session bus, and the X server's own screen saver. On GNOME 43, headless: the
shell's own lock screen, which it marks in its logind session."""
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


class Lock(ReaderTest):
    BENCH = dict(name="lock")
    # Feedback on, no prefix, suffix 1 {ENTER} once, no suffix 2, no delay. The classic
    # line mode types a line without its last character before the CR.
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

    def answers(self):
        return self.reader.received().count(b"F")

    def line(self, data, why=None):
        """A line of three characters: typed with its F, or with why refused in the log, no keys, no F."""
        log, events = self.bench.log_text, len(self.receiver.events())
        before, answered = log().count(why or "\0"), self.answers()
        self.bench.activate(self.receiver.window)
        self.reader.send(data)
        if why is None:
            keys = [chr(c) for c in data[:2]] + ["Return"]
            self.assertEqual(self.receiver.wait_presses(events, len(keys)), keys)
            poll(lambda: self.answers() == answered + 1, what="the F for the typed line")
            return
        poll(lambda: log().count(why) > before, what=f"the log line {why!r}")
        self.assertEqual(self.answers(), answered, "an F for a line not typed")
        self.assertEqual(len(self.receiver.events()), events, "keys of a line not typed")

    def test_the_users_display_session_found_without_its_id_and_again_after_a_new_login(self):
        me = os.getuid()
        logind = MockLogind(self.buses, self.bench.env, "c2")
        self.addCleanup(logind.stop)
        logind.add_session("c7", me, "me", display=True)
        logind.resolve_like_logind(me)

        def set_locked(session, locked):
            self.assertTrue(logind.call(SESSION + session, "org.freedesktop.login1.Session.SetLockedHint",
                                        f"boolean:{'true' if locked else 'false'}"))

        self.start_in_tray()
        self.assertIn(f'Session lock: logind\'s session {SESSION}c7 (GetSession("auto")) is asked',
                      self.bench.log_text())
        set_locked("c2", True)  # another user's lock is not ours
        self.line(b"lk1\r\n")
        set_locked("c7", True)
        self.line(b"lk2\r\n", f"{LOCKED}: logind's session {SESSION}c7")
        set_locked("c7", False)
        self.line(b"lk3\r\n")

        # Logged out and in again: the old session's object is gone, the new one is found.
        logind.remove_session("c7", me)
        logind.add_session("c8", me, "me", display=True)
        set_locked("c8", True)
        self.line(b"lk4\r\n", f"{LOCKED}: logind's session {SESSION}c8")
        self.assertIn(f"Session lock: logind's session {SESSION}c7 does not answer", self.bench.log_text())
        set_locked("c8", False)
        self.line(b"lk5\r\n")
        self.assertNotIn("cannot be known", self.bench.log_text())

    def screen_saver(self, name, path):
        """A screen saver service on the session bus; returns its GetActive setter."""
        service = Process([SYSTEM_PYTHON, "-m", "dbusmock", name, path, name], env=self.bench.env,
                          output=self.bench.work / f"{name}.log")
        self.addCleanup(service.stop)

        def set_active(active):
            poll(lambda: bus_call(self.session_bus.address, self.bench.env, f"--dest={name}", path,
                                  "org.freedesktop.DBus.Mock.AddMethod", f"string:{name}",
                                  "string:GetActive", "string:", "string:b", f"string:ret = {active}"),
                 what=name)
        set_active(False)
        return service, set_active

    def x_screen_saver(self, mode):
        x = _xlib()
        x.XForceScreenSaver.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XForceScreenSaver(self.bench._display(), mode)
        x.XSync(self.bench._display(), 0)

    def test_screen_savers(self):
        self.start_in_tray()
        self.line(b"ss1\r\n")  # no service: nothing says locked

        # KDE's name at its second path, then GNOME's.
        kde, kde_active = self.screen_saver("org.freedesktop.ScreenSaver", "/ScreenSaver")
        self.line(b"ss2\r\n")
        kde_active(True)
        self.line(b"ss3\r\n", f"{LOCKED}: org.freedesktop.ScreenSaver")
        kde.stop()
        self.line(b"ss4\r\n")
        gnome, gnome_active = self.screen_saver("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver")
        gnome_active(True)
        self.line(b"ss5\r\n", f"{LOCKED}: org.gnome.ScreenSaver")
        gnome.stop()

        # The X server's own screen saver.
        self.x_screen_saver(SCREEN_SAVER_ACTIVE)
        self.line(b"ss6\r\n", f"{LOCKED}: the X screen saver")
        self.x_screen_saver(SCREEN_SAVER_RESET)
        self.line(b"ss7\r\n")

        self.assertNotIn("cannot be known", self.bench.log_text())
        self.assertEqual(self.bench.keys_down(), [])


class GnomeLock(unittest.TestCase):
    """gnome-shell locks only where a display manager answers on the system bus (its
    canLock): a mock GDM stands in. The shell marks its lock in logind's LockedHint of
    its session; tarvik, started without XDG_SESSION_ID, finds that session itself."""
    GDM = ["org.gnome.DisplayManager", "/org/gnome/DisplayManager/Manager",
           "org.gnome.DisplayManager.Manager"]
    SETTINGS = Lock.SETTINGS

    def setUp(self):
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
        gnome.write_settings(self.SETTINGS.format(address=self.reader.address))

    def system(self, *args, reply=False):
        code, out = self.gnome.run("dbus-send", f"--bus={self.gnome.env['DBUS_SYSTEM_BUS_ADDRESS']}",
                                   "--print-reply", *args)
        return (out.split()[-1] if code == 0 else out) if reply else code == 0

    def locked_hint(self):
        return self.system(f"--dest={LOGIND}", SESSION + "c1", "org.freedesktop.DBus.Properties.Get",
                           "string:org.freedesktop.login1.Session", "string:LockedHint", reply=True)

    def answers(self):
        return self.reader.received().count(b"F")

    def test_the_shells_lock_screen_seen_through_the_session_it_marks(self):
        gnome = self.gnome
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
        poll(lambda: self.answers() == 1, what="the F after the connect")
        self.assertIn(f'Session lock: logind\'s session {SESSION}c1 (GetSession("auto"))', gnome.log_text())

        def line(data, typed):
            if typed:
                receiver.focus()  # the lock screen holds the keyboard while it is up
            answered, why = self.answers(), gnome.log_text().count(LOCKED)
            self.reader.send(data)
            if typed:
                poll(lambda: receiver.text().endswith(typed), what=f"the keys of {data!r}")
                poll(lambda: self.answers() == answered + 1, what="the F")
            else:
                poll(lambda: gnome.log_text().count(LOCKED) > why, what="the line refused")
                self.assertIn(f"{LOCKED}: logind's session {SESSION}c1", gnome.log_text())
                self.assertEqual(self.answers(), answered, "an F for a line not typed")

        line(b"Lk1\r\n", "Lk\r")
        self.assertEqual(gnome.eval("Main.screenShield.lock(true); true"), "true")
        poll(lambda: self.locked_hint() == "true", what="the shell's LockedHint")
        text = receiver.text()
        line(b"Lk2\r\n", None)
        self.assertEqual(gnome.eval("Main.screenShield.deactivate(false); true"), "true")
        poll(lambda: self.locked_hint() == "false", what="the shell's LockedHint cleared")
        self.assertEqual(receiver.text(), text, "keys of a line not typed")
        line(b"Lk3\r\n", "Lk\r" * 2)
        self.assertNotIn("cannot be known", gnome.log_text())
