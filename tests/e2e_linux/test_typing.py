"""X at delay 0 into a window that drops a press sharing its server time with a release, as
LibreOffice's X11 backend does; a record needing too many spare keycodes is refused; Calc itself."""
import contextlib
import os
import signal
import socket
import sys
from pathlib import Path

from bench import poll
from linux_bench import ReaderTest, Receiver

sys.path.append("/usr/lib/python3/dist-packages")

# Unbound characters: the third record waits for the first's bindings to grow old.
MISSING = ["éèêëàâäç", "ìíîïòóôö", "ùúûüñýÿß"]
DOUBLED = ["4006381333931", "AABBCC 1122", "aa11\u00e9\u00e9zz"]
TOO_MANY = "".join(chr(c) for c in range(0xC0, 0xFC) if c not in (0xD7, 0xF7))
HOLD_WAIT = 30.0


class Typing(ReaderTest):
    BENCH = dict(name="typing")
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'

    def test_doubled_and_bound_characters_at_delay_0(self):
        bench, reader = self.bench, self.reader
        spawn = bench.spawn  # the receiver with its same-time auto-repeat
        bench.spawn = lambda name, args: spawn(name, args + ["--same-time-repeat"])
        receiver = Receiver(bench)
        bench.spawn = spawn
        self.start_in_tray()
        bench.activate(receiver.window)

        lines = DOUBLED + MISSING + DOUBLED
        for answers, line in enumerate(lines, 2):
            reader.send((line + "X\r\n").encode("cp1252"))
            poll(lambda: reader.received() == b"F" * answers, timeout=HOLD_WAIT, what=f"the F for {line!r}")
        expected = "".join(line + "\r" for line in lines)
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


# No tips on the first start, no completion of a cell from the column's other entries.
CALC_PROFILE = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<oor:items xmlns:oor="http://openoffice.org/2001/registry">\n' + "".join(
                    f'<item oor:path="/org.openoffice.Office.{name}"><prop oor:name="{prop}" oor:op="fuse">'
                    "<value>false</value></prop></item>\n" for name, prop in (("Common/Misc", "ShowTipOfTheDay"),
                    ("Common/Misc", "FirstRun"), ("Calc/Input", "AutoInput"))) + "</oor:items>\n")
# A cell each; a letter or a leading digit keeps each a text, and no two start alike.
CALC_LINES = ["1aa22bb33cc", "4006381333931x", "5AABBCC 1122", "6" + MISSING[0], "7" + MISSING[1],
              "8" + MISSING[2], "9zz00yy11xx", "ab1122334455"]
CALC_WAIT = 90.0
STOP_WAIT = 10.0


def stop_children(proc):
    """The launcher passes no SIGTERM on to the office: each child is stopped itself."""
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
        (profile := bench.config / "libreoffice" / "4" / "user").mkdir(parents=True)
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
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        ctx = resolver.resolve(f"uno:socket,host=127.0.0.1,port={port};urp;StarOffice.ComponentContext")
        desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
        document = desktop.getCurrentComponent()
        sheet = document.Sheets.getByIndex(0)
        cells = lambda: [sheet.getCellByPosition(0, r).getString() for r in range(len(CALC_LINES))]  # noqa: E731
        with contextlib.suppress(TimeoutError):
            poll(lambda: cells() == CALC_LINES, timeout=HOLD_WAIT, what="every cell exact")
        self.assertEqual(cells(), CALC_LINES)
        document.setModified(False)  # no question whether to save it
        with contextlib.suppress(Exception):  # the bridge goes with the office; the bench stops the rest
            desktop.terminate()
