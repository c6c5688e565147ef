"""tarvik's life on an X desktop with logind on a private system bus: starts,
sleep, a copy killed outright, and the signals that end it."""
import signal

from bench import poll
from linux_bench import MAIN, MockLogind, ReaderTest, Receiver

MANAGER = "org.freedesktop.login1.Manager"
REOPENED = "Resumed from sleep: the link is opened again"


class Lifecycle(ReaderTest):
    BENCH = dict(name="lifecycle")
    # No prefix, suffix 1 {ENTER} once, no suffix 2, 200 ms after each key.
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,20\r\n0,1\r\n5,1\r\n0,1\r\n0\r\n'

    def setUp(self):
        super().setUp()
        self.logind = MockLogind(self.bench.work, self.bench.env, "c1")
        self.bench.env["XDG_SESSION_ID"] = "c1"
        self.addCleanup(self.logind.stop)

    def running(self, procs, connections):  # the one copy of procs still running, once it has the reader
        poll(lambda: self.reader.connections == connections, timeout=30, what="the connect")
        poll(lambda: self.reader.received().count(b"F") >= connections, what="the F")
        alive = [p for p in procs if p.poll() is None]
        self.assertEqual(len(alive), 1)
        self.assertEqual(len(self.bench.windows(MAIN)), 1)
        return alive[0]

    def ended(self, proc, sig, text):
        proc.send_signal(sig)
        self.assertEqual(proc.wait(timeout=30), 0)
        self.assertIn(f"Signal {int(sig)} ({text}): the program ends", self.bench.log_text())
        self.assertEqual(self.bench.keys_down(), [], "keys the X server still holds down")

    def test_one_of_two_resume_stale_lock_and_end_signals(self):
        bench, reader = self.bench, self.reader
        receiver = Receiver(bench)

        # Two at once: one runs, the other hands over and ends with 0.
        pair = [bench.tarvik(), bench.tarvik()]
        poll(lambda: any(p.poll() is not None for p in pair), what="one of the two to end")
        self.assertEqual([p.poll() for p in pair].count(0), 1)
        proc = self.running(pair, 1)

        # Going to sleep does nothing (a line typed since shows it was heard);
        # waking opens the link again, once.
        self.logind.emit(MANAGER, "PrepareForSleep", "b", "true")
        bench.activate(receiver.window)
        reader.send(b"zz1\r\n")
        self.assertEqual(receiver.wait_presses(0, 3), ["z", "z", "Return"])
        self.assertNotIn("Resumed from sleep", bench.log_text())
        self.logind.emit(MANAGER, "PrepareForSleep", "b", "false")
        poll(lambda: REOPENED in bench.log_text(), what="the resume in the log")
        self.running([proc], 2)
        self.assertEqual(bench.log_text().count("Resumed from sleep"), 1)

        # Killed outright: its lock and socket stay, and the next copy starts anyway.
        proc.send_signal(signal.SIGKILL)
        proc.wait(timeout=30)
        self.assertEqual(len(list(bench.runtime.glob("*tarvik.lock"))), 1)
        self.assertEqual(len(list(bench.runtime.glob("*tarvik.socket"))), 1)
        poll(lambda: not bench.windows(MAIN), what="the killed copy's window gone")
        proc = self.running([bench.tarvik()], 3)

        # SIGTERM while a line is being typed: the key down goes up, nothing is saved over.
        bench.activate(receiver.window)
        reader.send(b"abcdefghijkl1\r\n")
        poll(lambda: len(receiver.presses()) >= 6, what="the line's first keys")
        self.ended(proc, signal.SIGTERM, "Terminated")
        receiver.wait_quiet()
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
        self.assertEqual(bench.settings_file().read_bytes(), self.settings)

        self.ended(self.running([bench.tarvik()], 4), signal.SIGINT, "Interrupt")
