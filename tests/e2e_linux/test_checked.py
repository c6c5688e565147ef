"""Checked delivery on X with the accessibility bus: tarvik reads the focused field back through
AT-SPI after a record's keys. A GTK entry and a Qt line edit get their lines and the F after them;
a terminal cannot be read, and still gets its line and the F; a field that drops keys at full
speed gets no F, a notice, a slower pace, and then the next line whole."""
from bench import poll
from field_read_bench import FieldReceiver, accessible_names, enable_accessibility, start_accessibility_bus
from linux_bench import ReaderTest
import test_typing

LINE_WAIT = 30.0
LONG = 200  # characters; the dropping field loses every 40th at full speed
DROP_EVERY = 40


def long_line(seed):
    return "".join("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"[(i * 7 + seed) % 62]
                   for i in range(LONG))


class Checked(ReaderTest):
    BENCH = dict(name="checked")
    SETTINGS = test_typing.Typing.SETTINGS  # delay 0, Enter after each line

    def setUp(self):
        super().setUp()
        start_accessibility_bus(self.bench)
        self.answers = b""

    def send(self, line, answered=True):
        """One reader line (its last character is the reader's own and not typed)."""
        self.reader.send((line + "X\r\n").encode("cp1252"))
        if answered:
            self.answers += b"F"
            poll(lambda: self.reader.received() == self.answers, timeout=LINE_WAIT, what=f"the F for {line!r}")

    def outcomes(self, kind):
        return self.bench.log_text().count(kind)

    def start_in_tray(self):
        proc = super().start_in_tray()
        self.answers = self.reader.received()
        return proc

    def test_gtk_entry_and_qt_line_edit_each_delivered(self):
        bench = self.bench
        self.start_in_tray()
        # Qt programs show their fields only when started with the bus's IsEnabled on.
        poll(lambda: "Turned on the desktop's accessibility" in bench.log_text(), what="IsEnabled turned on")
        gtk = FieldReceiver(bench, "gtk", "Checked GTK")
        qt = FieldReceiver(bench, "qt", "Checked Qt")
        for n, (field, line) in enumerate(((gtk, "gtk4006381333931"), (qt, "Qt6 line AAbb 1122"),
                                           (gtk, long_line(1))), 1):
            bench.activate(field.window)
            before = field.text()
            self.send(line)
            poll(lambda: field.text() == before + line, what=f"{line!r} in the field; got {field.text()!r}")
            poll(lambda: self.outcomes(": typed; delivered") == n,
                 what=f"{n} lines delivered in the log:\n{bench.log_text()}")
        self.assertEqual(self.outcomes("cannot tell"), 0, bench.log_text())

    def test_terminal_cannot_be_told_and_gets_its_line(self):
        bench = self.bench
        self.start_in_tray()
        out = bench.work / "terminal.txt"
        bench.spawn("xterm", ["xterm", "-title", "Checked terminal", "-e", "sh", "-c", f"cat > {out}"])
        bench.activate(bench.wait_window("Checked terminal"))
        self.send("4006381333931")
        poll(lambda: out.exists() and out.read_text() == "4006381333931\n", what="the line in the terminal")
        poll(lambda: "typed; cannot tell whether it arrived: no accessible field" in bench.log_text(),
             what=f"cannot tell in the log:\n{bench.log_text()}")

    def test_field_that_drops_keys_gets_no_f_then_a_slower_pace(self):
        bench = self.bench
        enable_accessibility(bench)  # tarvik's own notice then shows there too
        tarvik = self.start_in_tray()
        field = FieldReceiver(bench, "gtk", "Checked slow field", "--drop-every", str(DROP_EVERY))
        bench.activate(field.window)
        self.send(long_line(2), answered=False)
        poll(lambda: "arrived wrong in" in bench.log_text(), timeout=LINE_WAIT,
             what=f"the difference in the log:\n{bench.log_text()}")
        self.assertGreater(field.drops(), 0)
        log = bench.log_text()
        self.assertRegex(log, r"Record of 201 characters: arrived wrong in \S+?, 200 characters sent, \d+ arrived: "
                              r"\d+ lost .*; no suffix typed; .* now go \d+ ms apart")
        poll(lambda: any(n.startswith("A scan arrived wrong in") for n in accessible_names(bench, tarvik.pid)),
             what=f"the notice among {accessible_names(bench, tarvik.pid)}")
        self.assertEqual(self.reader.received(), self.answers, "an F for a line that arrived wrong")
        drops = field.drops()
        before = field.text()
        self.send(long_line(3))
        poll(lambda: field.text() == before + long_line(3), what="the next line whole")
        self.assertEqual(field.drops(), drops, "keys dropped at the slower pace")
        poll(lambda: self.outcomes(": typed; delivered") == 1, what=f"delivered in the log:\n{bench.log_text()}")


if __name__ == "__main__":
    import unittest
    unittest.main()
