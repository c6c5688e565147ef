"""tarvik typing on X at delay 0 into a window that reads keys as LibreOffice's
own X11 backend does: a release and a press of the same key with one server
time are auto-repeat, and the press is dropped. Doubled characters, and
characters the layout lacks on keycodes bound for them, arrive exactly; a
record with more such characters than the layout has keycodes for is not
typed and not answered. Then LibreOffice Calc itself on that backend, its
cells read back through UNO (Debian: libreoffice-calc, python3-uno)."""
import contextlib
import os
import signal
import socket
import sys
from pathlib import Path

from bench import poll
from linux_bench import ReaderTest, Receiver

# Debian's UNO bridge lives with Debian's own interpreter.
sys.path.append("/usr/lib/python3/dist-packages")

# Characters the US layout lacks (Windows-1252, as the reader sends them):
# three records of eight each, more than the spare keycodes take at once, so
# the third waits for bindings of the first to grow old.
MISSING = ["\u00e9\u00e8\u00ea\u00eb\u00e0\u00e2\u00e4\u00e7",
           "\u00ec\u00ed\u00ee\u00ef\u00f2\u00f3\u00f4\u00f6",
           "\u00f9\u00fa\u00fb\u00fc\u00f1\u00fd\u00ff\u00df"]
DOUBLED = ["4006381333931", "AABBCC 1122", "aa11\u00e9\u00e9zz"]
# Fifty-eight different characters beyond the layout: more than any layout leaves free.
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


# Calc's first start without its tips, and no completion of a cell from the
# column's other entries.
CALC_PROFILE = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Input"><prop oor:name="AutoInput" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
"""
# A cell each; a letter or a leading digit keeps each a text, and no two start alike.
CALC_LINES = ["1aa22bb33cc", "4006381333931x", "5AABBCC 1122", "6" + MISSING[0], "7" + MISSING[1],
              "8" + MISSING[2], "9zz00yy11xx", "ab1122334455"]
CALC_WAIT = 90.0
STOP_WAIT = 10.0


def stop_children(proc):
    """The office runs as a child of its launcher, which does not pass a
    SIGTERM on: each child is stopped by its own process id."""
    def stat(pid):  # the fields after the command's name, or None once gone
        try:
            return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            return None
    children = [int(p.name) for p in Path("/proc").glob("[0-9]*")
                if (stat(p.name) or [0, 0])[1] == str(proc.pid)]
    for pid in children:
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGTERM)
    for pid in children:
        try:
            poll(lambda: (stat(pid) or ["Z"])[0] == "Z", timeout=STOP_WAIT, what=f"process {pid} to end")
        except TimeoutError:
            os.kill(pid, signal.SIGKILL)


class Calc(ReaderTest):
    BENCH = dict(name="calc")
    SETTINGS = Typing.SETTINGS

    def test_lines_into_libreoffice_calc_on_its_own_x11_backend(self):
        import uno  # a missing package fails the test here
        bench, reader = self.bench, self.reader
        profile = bench.config / "libreoffice" / "4" / "user"
        profile.mkdir(parents=True)
        (profile / "registrymodifications.xcu").write_text(CALC_PROFILE)
        bench.env["SAL_USE_VCLPLUGIN"] = "gen"
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        office = bench.spawn("soffice", ["soffice", "--norestore", "--nologo", "--calc",
                                         f"--accept=socket,host=127.0.0.1,port={port};urp;"])
        self.addCleanup(stop_children, office)  # before the bench stops the launcher
        calc = poll(lambda: bench.windows("Untitled 1 - LibreOffice Calc"), timeout=CALC_WAIT,
                    what="Calc's window")[0]
        self.start_in_tray()
        bench.activate(calc)

        answers = reader.received()
        for line in CALC_LINES:
            answers += b"F"
            reader.send((line + "X\r\n").encode("cp1252"))
            poll(lambda: reader.received() == answers, timeout=HOLD_WAIT, what=f"the F for {line!r}")
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        ctx = resolver.resolve(f"uno:socket,host=127.0.0.1,port={port};urp;StarOffice.ComponentContext")
        desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
        document = desktop.getCurrentComponent()
        sheet = document.Sheets.getByIndex(0)

        def cells():
            return [sheet.getCellByPosition(0, row).getString() for row in range(len(CALC_LINES))]

        try:
            poll(lambda: cells() == CALC_LINES, timeout=HOLD_WAIT, what="every cell exact")
        except TimeoutError:
            self.assertEqual(cells(), CALC_LINES)
        document.setModified(False)  # no question whether to save it
        try:
            desktop.terminate()  # the bench stops what is left
        except Exception:  # noqa: BLE001 - the bridge goes with the office
            pass
