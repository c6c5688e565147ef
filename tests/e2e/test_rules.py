"""The rules file with tarvik.exe under Wine."""
import unittest

from bench import MAIN, Bench, Receiver, poll
from fake_reader import TcpReader

WM_SYSCOMMAND, RULES_COMMAND = 0x0112, 0x0010

FIRST = """; a plain reader, GS shown, a mark per program
[reader]
lines = plain
[all]
GS = "<GS>"
[app notepad.exe]
replace = ^ => N:
[app RECEIVER.EXE]
replace = ^ => R:
"""
SECOND = "[title .*Receiver.*]\r\nreplace = ^ => T:\r\n"


class Rules(unittest.TestCase):
    def setUp(self):
        self.bench = Bench("rules").start()
        self.addCleanup(self.bench.stop)
        self.reader = TcpReader()
        self.addCleanup(self.reader.stop)

    def test_plain_lines_text_for_gs_a_section_per_program_and_a_changed_file(self):
        bench, reader = self.bench, self.reader
        bench.write_settings(reader.address)
        rules = bench.prefix / "drive_c" / "windows" / "tarvik.ini"
        rules.write_bytes(b"\xef\xbb\xbf" + FIRST.encode())
        receiver = Receiver(bench)
        bench.tarvik()
        bench.wait_tray()
        reader.wait_connected(timeout=30)
        poll(lambda: reader.received() == b"F", what="the F after the connect")

        bench.focus(receiver.TITLE)
        reader.send_chunks([b"4006381333931\r", b"\nA\x1dB\r\n"])
        poll(lambda: receiver.text() == "R:4006381333931R:A<GS>B", what="two plain lines typed whole")
        poll(lambda: reader.received() == b"FFF", what="one F for each line")

        rules.write_bytes(SECOND.encode())  # a classic reader again, by title
        bench.focus(receiver.TITLE)
        reader.send(b"XY1\r\n")
        poll(lambda: receiver.text().endswith("T:XY"), what="the line typed by the changed rules")
        poll(lambda: "([title .*Receiver.*], changed by the rules): typed" in bench.log_text(),
             what="the line logged once checked")
        log = bench.log_text()
        for line in ["Record of 13 characters ([app RECEIVER.EXE], changed by the rules): typed",
                     "Record of 3 characters ([app RECEIVER.EXE], changed by the rules): typed",
                     "Record of 3 characters ([title .*Receiver.*], changed by the rules): typed"]:
            self.assertIn(line, log)
        self.assertNotIn("4006381333931", log)

        # "Rules..." from the system menu: the file made from the template, then opened.
        rules.unlink()
        bench.post(MAIN, WM_SYSCOMMAND, RULES_COMMAND, 0)
        poll(lambda: rules.exists() and rules.stat().st_size > 0, what="the template written")
        self.assertTrue(rules.read_bytes().startswith(b"; tarvik.ini: rules for what Tarvik types."))
        self.assertIn(b"\r\n", rules.read_bytes())
        poll(lambda: "tarvik.ini opened for editing" in bench.log_text(), what="the editor opened")
        bench.wait_window("tarvik.ini - Notepad")
