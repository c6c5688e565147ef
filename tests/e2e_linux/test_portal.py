"""Typing through the desktop portal's remote keyboard (TARVIK_TYPING=portal) and
logind's session lock, with tarvik on X: mock_portal.py on a private session bus,
python3-dbusmock's logind on a private system bus."""
import json
import signal
import tempfile
from pathlib import Path

from bench import poll
from linux_bench import (SYSTEM_PYTHON, MockLogind, PrivateBus, Process, ReaderTest,
                         Receiver, bus_call)

MOCK_PORTAL = Path(__file__).resolve().parent / "mock_portal.py"
SESSION_ID = "c1"
CONTROL = ["--dest=org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop"]
# Evdev numbers: A, Shift_L, B, C, Enter.
KEY_A, KEY_SHIFT, KEY_B, KEY_C, KEY_ENTER = 30, 42, 48, 46, 28
# "aBc" then Enter, each key down then up, Shift around the B.
LINE_KEYS = [(KEY_A, 1), (KEY_A, 0), (KEY_SHIFT, 1), (KEY_B, 1), (KEY_B, 0), (KEY_SHIFT, 0),
             (KEY_C, 1), (KEY_C, 0), (KEY_ENTER, 1), (KEY_ENTER, 0)]
NOT_ALLOWED = "not typed: the desktop does not let keys be typed now"
LOCKED = "not typed: locked or secure desktop"
REFUSED, ALLOWED, ABSENT = ("Desktop portal: typing was not allowed", "typing allowed",
                            "Desktop portal: not reached")


class Portal(ReaderTest):
    BENCH = dict(name="portal")
    # Feedback on, no prefix, suffix 1 {ENTER} once, no suffix 2, no delay.
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'

    def setUp(self):
        super().setUp()
        work = Path(tempfile.mkdtemp(prefix="buses-", dir=self.bench.work))
        self.session_bus = PrivateBus(work / "session")
        self.addCleanup(self.session_bus.stop)
        self.env = dict(self.bench.env, DBUS_SESSION_BUS_ADDRESS=self.session_bus.address)
        self.logind = MockLogind(work, self.env, SESSION_ID)
        self.addCleanup(self.logind.stop)
        self.bench.env.update(self.env, TARVIK_TYPING="portal", XDG_SESSION_ID=SESSION_ID)
        self.portal_log = self.bench.work / "portal.jsonl"

    def set_locked(self, locked):
        self.assertTrue(self.logind.call(f"/org/freedesktop/login1/session/{SESSION_ID}",
                                         "org.freedesktop.login1.Session.SetLockedHint",
                                         f"boolean:{'true' if locked else 'false'}"))

    def control(self, method, *args):
        self.assertTrue(bus_call(self.session_bus.address, self.env, *CONTROL,
                                 f"org.tarvik.PortalMock.{method}", *args))

    def start_portal(self, answer):
        self.portal = Process([SYSTEM_PYTHON, str(MOCK_PORTAL), str(self.portal_log), answer],
                              env=self.env, output=self.bench.work / "portal.log")
        self.addCleanup(self.portal.stop)
        ready = len(self.calls("ready"))
        poll(lambda: len(self.calls("ready")) > ready, what="the mock portal")

    def calls(self, kind=None):
        if not self.portal_log.exists():
            return []
        out = [json.loads(line) for line in self.portal_log.read_text().splitlines() if line]
        return [c for c in out if kind is None or c["call"] == kind]

    def keys(self):
        return [(c["code"], c["state"]) for c in self.calls("key")]

    def kept_token(self):  # the desktop's last restore token, once seen to be the one stored
        token = self.calls("Start")[-1]["restore_token"]
        self.assertEqual((self.bench.state / "tarvik" / "portal-restore-token").read_text(), token)
        return token

    def log_count(self, text):
        return self.bench.log_text().count(text)

    def answers(self):  # the reader's "F"s so far (the closing bytes at the end have none)
        return self.reader.received().count(b"F")

    def line_not_typed(self, data, why):
        before, answered = self.log_count(why), self.answers()
        self.reader.send(data)
        poll(lambda: self.log_count(why) > before, what=f"the log line {why!r}")
        self.assertEqual(self.answers(), answered, "an F for a line not typed")

    def line_typed(self, data):
        start, answered = len(self.keys()), self.answers()
        self.reader.send(data)
        poll(lambda: len(self.keys()) >= start + len(LINE_KEYS),
             what="the line's keys at the portal")
        poll(lambda: self.answers() == answered + 1, what="the F for the typed line")
        self.assertEqual(self.keys()[start:], LINE_KEYS)

    def test_consent_keys_token_lock_and_a_portal_that_comes_late(self):
        bench = self.bench
        receiver = Receiver(bench)

        # First start: the desktop refuses.
        self.start_portal("refuse")
        proc = self.start_in_tray()
        poll(lambda: self.log_count(REFUSED) == 1, what="the refusal in the log")
        select = self.calls("SelectDevices")[0]["options"]
        self.assertEqual((select["types"], select["persist_mode"]), (1, 2))
        self.assertNotIn("restore_token", select)
        bench.activate(receiver.window)
        self.line_not_typed(b"aBc1\r\n", NOT_ALLOWED)
        # The desktop closes each refused session (as GNOME does): still a refusal.
        self.assertIn("the desktop did not allow Tarvik to type", bench.log_text())
        self.assertNotIn("closed the session", bench.log_text())
        # That line asked again, and was refused again; now the desktop grants.
        poll(lambda: self.log_count(REFUSED) == 2, what="the second refusal")
        self.control("SetAnswer", "uint32:0")
        self.line_not_typed(b"aBc2\r\n", NOT_ALLOWED)
        poll(lambda: ALLOWED in bench.log_text(), what="the consent in the log")
        self.assertEqual(self.keys(), [], "keys sent before consent")
        self.line_typed(b"aBc3\r\n")
        token = self.kept_token()

        # Locked: nothing typed, no F; unlocked: typed.
        self.set_locked(True)
        self.line_not_typed(b"aBc4\r\n", LOCKED)
        self.set_locked(False)
        self.line_typed(b"aBc5\r\n")

        # The desktop closes the session: the next line asks again, with the token.
        self.control("CloseSessions")
        poll(lambda: "the desktop closed the session" in bench.log_text(), what="the close")
        self.line_not_typed(b"aBc6\r\n", NOT_ALLOWED)
        poll(lambda: self.log_count(ALLOWED) == 2, what="the second consent")
        self.assertEqual(self.calls("SelectDevices")[-1]["options"].get("restore_token"), token)
        self.line_typed(b"aBc7\r\n")
        token = self.kept_token()
        self.assertEqual(receiver.events(), [], "keys reached X past the portal")
        self.assertEqual(bench.keys_down(), [])

        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(timeout=30), 0)
        self.portal.stop()
        poll(self.reader.peer_closed.is_set, what="the link closed")  # its last bytes all in

        # Second start: no portal at first.
        absent = self.log_count(ABSENT)
        proc = self.start_in_tray()
        poll(lambda: self.log_count(ABSENT) == absent + 1, what="the absent portal in the log")
        bench.activate(receiver.window)
        self.line_not_typed(b"aBc8\r\n", NOT_ALLOWED)
        self.assertIn("xdg-desktop-portal", bench.log_text())
        selects = len(self.calls("SelectDevices"))
        self.start_portal("grant")
        poll(lambda: self.log_count(ALLOWED) == 3, timeout=30,
             what="the consent once the portal is there")
        self.assertEqual(self.calls("SelectDevices")[selects]["options"].get("restore_token"), token)
        self.assertEqual(self.log_count(ABSENT), absent + 1, "the absent portal logged more than once")
        self.line_typed(b"aBc9\r\n")
        self.assertEqual(receiver.unreleased(), [])
