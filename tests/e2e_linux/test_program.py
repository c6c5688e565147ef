"""tarvik as a user runs it on an X desktop with a tray, against a fake reader on TCP."""
import time
import wave

from bench import poll
from linux_bench import MAIN, ReaderTest, Receiver

PREFIX, SUFFIXES = ["Tab", "Tab"], ["Return", "F2", "F2"]
ODD_CHUNKS = [b"SC", b"AN1\r", b"\nab", b"2\r", b"\n"]  # the lines "SCAN1" and "ab2"
# The middle of Command3 at 96 dpi, in pixels: (2880 + 1515 / 2, 3360 + 1095 / 2) / 15.
QUIT_BUTTON = (242, 260)


class Program(ReaderTest):
    BENCH = dict(name="program")
    # The prefix {TAB} twice, suffix 1 {ENTER} once, suffix 2 {F2} twice, 10 ms after each key;
    # hidden number 7 rides along unseen. Beep on, with no sound device here: no line waits for it.
    SETTINGS = '1\r\n1\r\n"{address}"\r\n7,1\r\n11,2\r\n5,1\r\n15,2\r\n0\r\n'

    def in_tray(self):
        return not self.bench.viewable(self.main) and self.bench.tray_icons()

    def shown(self):
        return self.bench.shown(self.main) and not self.bench.tray_icons()

    def test_settings_tray_typing_drop_one_instance_and_quit(self):
        bench, reader, file = self.bench, self.reader, self.settings
        with wave.open(str(bench.settings_file().with_name("beep1.wav")), "wb") as beep:
            beep.setnchannels(1), beep.setsampwidth(2), beep.setframerate(8000)
            beep.writeframes(bytes(4000))
        receiver = Receiver(bench)
        started = time.monotonic()
        proc = bench.tarvik()
        self.main = bench.wait_window(MAIN)
        poll(self.shown, what="the main window shown")
        self.assertEqual(bench.settings_file().read_bytes(), file)  # rewritten, but the same

        # A change through the window rewrites the whole file: Tab from "Beep" to the
        # delay list, Down to its next entry.
        bench.activate(self.main)
        bench.key("Tab", "Down")
        changed = file.replace(b"\r\n7,1\r\n", b"\r\n7,2\r\n")
        poll(lambda: bench.settings_file().read_bytes() == changed, what="the delay saved")

        poll(self.in_tray, timeout=30, what="the window in the tray")
        self.assertGreater(time.monotonic() - started, 8)
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")

        bench.activate(receiver.window)
        start = len(receiver.events())
        reader.send_chunks(ODD_CHUNKS)
        expected = PREFIX + list("SCAN") + SUFFIXES + PREFIX + list("ab") + SUFFIXES
        self.assertEqual(receiver.wait_presses(start, len(expected)), expected)
        self.assertEqual(receiver.text(), "\t\tSCAN\r\t\tab\r")
        poll(lambda: reader.received() == b"FFF", what="one F after each line")

        reader.drop()
        poll(lambda: reader.connections == 2, timeout=30, what="the reconnect")
        poll(lambda: reader.received() == b"FFFF", what="the F after the reconnect")
        reader.send(b"TWO2\r\n")
        poll(lambda: receiver.text().endswith("\t\tTWO\r"), what="the line after the reconnect")

        # A second start brings the running copy back and ends itself at once.
        second = bench.tarvik()
        self.assertEqual(second.wait(timeout=15), 0)
        poll(self.shown, what="the first copy's window back")
        self.assertIsNone(proc.poll())
        bench.activate(receiver.window)
        start = len(receiver.events())
        reader.send(b"SHOWN1\r\n")
        poll(lambda: reader.received() == b"FFFFF", what="the F after a line while shown")
        poll(lambda: "Record of 6 characters: shown only" in bench.log_text(), what="the log")
        self.assertEqual(receiver.events()[start:], [], "a line was typed while the window shows")

        bench.minimize(self.main)  # the user's minimize goes to the tray; a click on the icon back
        icon = poll(self.in_tray, what="the window in the tray again")[0]
        bench.click(icon, 12, 12)
        poll(self.shown, what="the window back from the tray")

        bench.click(self.main, *QUIT_BUTTON)
        box = bench.wait_window("(!)")
        bench.activate(box)
        bench.key("Return")  # Yes is the default button
        self.assertEqual(proc.wait(timeout=30), 0)
        self.assertIn("Quit: the program ends", bench.log_text())
        self.assertEqual(bench.keys_down(), [], "keys the X server still holds down")
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
