"""tarvik on an X desktop without a tray, its reader on a serial port given by
path (a socat pty)."""
import time

from bench import poll
from linux_bench import MAIN, PtyReader, ReaderTest, Receiver


class Serial(ReaderTest):
    BENCH = dict(name="serial", tray=False)
    # Feedback on, suffix 1 {ENTER} once, no prefix, no delay.
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'

    def new_reader(self):
        return PtyReader(self.bench)

    def test_typing_from_an_iconified_window_and_a_port_pulled_and_plugged_back(self):
        bench, reader = self.bench, self.reader
        self.assertEqual(bench.tray_host(), 0, "a tray on a desktop meant to have none")
        receiver = Receiver(bench)
        started = time.monotonic()
        proc = bench.tarvik()
        main = bench.wait_window(MAIN)
        poll(lambda: bench.shown(main), what="the main window shown")
        poll(lambda: bench.wm_state(main) == "Iconic" and not bench.viewable(main), timeout=30,
             what="the window iconified")
        self.assertGreater(time.monotonic() - started, 8)
        self.assertEqual(bench.tray_icons(), [])
        poll(lambda: reader.received() == b"F", timeout=30, what="the F after the connect")

        bench.activate(receiver.window)
        reader.send(b"ONE1\r\n")
        self.assertEqual(receiver.wait_presses(0, 4), ["O", "N", "E", "Return"])
        poll(lambda: reader.received() == b"FF", what="the F after the line")

        reader.drop()
        poll(lambda: f"Link to {reader.path} dropped: " in bench.log_text(), what="the drop logged")
        reader.plug_back()
        poll(lambda: reader.received() == b"FFF", timeout=30, what="the F after the reconnect")
        reader.send(b"TWO2\r\n")
        poll(lambda: receiver.text() == "ONE\rTWO\r", what="the line after the reconnect")
        self.assertIsNone(proc.poll())
        self.assertEqual(bench.keys_down(), [], "keys the X server still holds down")
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
