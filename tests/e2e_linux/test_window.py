"""tarvik on an X display whose desktop neither minimizes nor has a tray (no
window manager at all, as far as the window can tell, like a tiling one)."""
import time

from bench import poll
from linux_bench import MAIN, ReaderTest, Receiver


class NoTrayNoMinimize(ReaderTest):
    BENCH = dict(name="window", wm=False)
    # No prefix, suffix 1 {ENTER} once, no suffix 2, no delay.
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,1\r\n0,1\r\n5,1\r\n0,1\r\n0\r\n'

    def focus(self, window):
        # No window manager to ask for activation: the focus is set directly.
        self.bench._run("xdotool", "windowfocus", "--sync", str(window))

    def test_hidden_typed_tray_used_when_it_comes_and_brought_back(self):
        bench, reader = self.bench, self.reader
        receiver = Receiver(bench)
        started = time.monotonic()
        proc = bench.tarvik()
        main = bench.wait_window(MAIN)
        poll(lambda: bench.viewable(main), what="the main window shown")

        poll(lambda: not bench.viewable(main), timeout=40, what="the window out of the way")
        self.assertGreater(time.monotonic() - started, 8)
        poll(lambda: "did not minimize the window: it is hidden instead" in bench.log_text(),
             what="the log saying why the window is hidden")
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")

        self.focus(receiver.window)
        reader.send(b"Hidden1\r\n")  # the reader's last character is not typed
        self.assertEqual(receiver.wait_presses(0, 7), list("Hidden") + ["Return"])
        poll(lambda: reader.received() == b"FF", what="the F after the line")

        # A tray host that comes later is used: the icon goes in, the window stays hidden.
        bench.start_wm(tray=True)
        poll(lambda: bench.tray_icons(), timeout=30, what="the icon in the tray that came later")
        self.assertFalse(bench.viewable(main))
        self.focus(receiver.window)
        start = len(receiver.events())
        reader.send(b"Tray2\r\n")
        self.assertEqual(receiver.wait_presses(start, 5), list("Tray") + ["Return"])
        poll(lambda: reader.received() == b"FFF", what="the F after the line")

        # Started again, the program brings its window back and ends itself.
        second = bench.tarvik()
        self.assertEqual(second.wait(timeout=15), 0)
        poll(lambda: bench.shown(main), what="the window back")
        self.assertIsNone(proc.poll())
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
