"""tarvik typing on X at delay 0 into a window that reads keys as LibreOffice's
own X11 backend does: a release and a press of the same key with one server
time are auto-repeat, and the press is dropped. Doubled characters, and
characters the layout lacks on keycodes bound for them, arrive exactly; a
record with more such characters than the layout has keycodes for is not
typed and not answered."""
import os

from bench import poll
from linux_bench import ReaderTest, Receiver

# Characters the US layout lacks (Windows-1252, as the reader sends them):
# three records of eight each, more than the spare keycodes take at once, so
# the third waits for bindings of the first to grow old.
MISSING = ["\u00e9\u00e8\u00ea\u00eb\u00e0\u00e2\u00e4\u00e7",
           "\u00ec\u00ed\u00ee\u00ef\u00f2\u00f3\u00f4\u00f6",
           "\u00f9\u00fa\u00fb\u00fc\u00f1\u00fd\u00ff\u00df"]
DOUBLED = ["4006381333931", "AABBCC 1122", "aa11\u00e9\u00e9zz"]
# Sixty different characters beyond the layout: more than any layout leaves free.
TOO_MANY = "".join(chr(c) for c in range(0xC0, 0xFC) if c not in (0xD7, 0xF7))
# Bindings of a record are taken over only this long after it (XKeyInjector::kBindingHold), and
# the wait is generous.
HOLD_WAIT = 30.0


class SameTimeReceiver(Receiver):
    def __init__(self, bench):
        self.bench = bench
        self.log = bench.work / "receiver.log"
        bench.spawn("receiver", [os.environ["TARVIK_RECEIVER"], str(self.log), self.TITLE,
                                 "--same-time-repeat"])
        poll(lambda: self.log.exists() and "MAPPED" in self.log.read_text(), what="the receiver")
        self.window = bench.wait_window(self.TITLE)


class Typing(ReaderTest):
    BENCH = dict(name="typing")
    # Feedback on, delay 0, no prefix, suffix 1 {ENTER} once.
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'

    def test_doubled_and_bound_characters_at_delay_0(self):
        bench, reader = self.bench, self.reader
        receiver = SameTimeReceiver(bench)
        self.start_in_tray()
        bench.activate(receiver.window)

        expected, answers = "", 1
        for line in DOUBLED + MISSING + DOUBLED:
            reader.send((line + "X\r\n").encode("cp1252"))
            expected += line + "\r"
            answers += 1
            poll(lambda: reader.received() == b"F" * answers, timeout=HOLD_WAIT,
                 what=f"the F for {line!r}")
        # Shift let go and pressed again between two capitals is taken for
        # auto-repeat too, which changes nothing: the state of each key
        # event says Shift is down.
        poll(lambda: receiver.text() == expected, timeout=HOLD_WAIT,
             what=f"every line exact; got {receiver.text()!r}")

        reader.send((TOO_MANY + "X\r\n").encode("cp1252"))
        poll(lambda: "characters the keyboard layout lacks" in bench.log_text(),
             what="the record with too many characters refused in the log")
        reader.send(b"OK1\r\n")
        expected += "OK\r"
        poll(lambda: receiver.text() == expected, what=f"the next line; got {receiver.text()!r}")
        poll(lambda: reader.received() == b"F" * (answers + 1), what="the F for the next line")
        self.assertIn("not typed: a character the keyboard here cannot type", bench.log_text())
        self.assertEqual(reader.received(), b"F" * (answers + 1), "an F for the refused record")
        self.assertEqual(bench.keys_down(), [], "keys the X server still holds down")
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
