"""tarvik.exe as a user runs it under Wine against a fake reader: the tray, the
link, typing, Quit, the close box and one instance. The selection window's
keys are the Windows-side tests', its suspend and reconnect the unit tests'."""
import time
import unittest

from bench import MAIN, Bench, Receiver, poll, wine_path
from fake_reader import SerialReader, TcpReader

ID = Bench.control_id
WTS_CONSOLE_CONNECT, WTS_CONSOLE_DISCONNECT, WINE_SESSION = 1, 2, 1


class Program(unittest.TestCase):
    def setUp(self):
        self.bench = Bench("program").start()
        self.addCleanup(self.bench.stop)
        self.reader = TcpReader()
        self.addCleanup(self.reader.stop)

    def state(self):
        return self.bench.wbench("state", MAIN)

    def label25(self):
        return self.bench.wbench("pixel", MAIN, ID("Label25"))

    def test_tray_link_typing_and_quit(self):
        self.bench.write_settings(self.reader.address)
        receiver = Receiver(self.bench)
        started = time.monotonic()
        proc = self.bench.tarvik()
        poll(lambda: self.label25() == "255,0,0", what="Label25 red without a link")
        self.bench.wait_tray()
        self.assertGreater(time.monotonic() - started, 8)
        self.reader.wait_connected(timeout=30)
        poll(lambda: self.reader.received() == b"F", what="the F after the connect")
        gap = self.reader.byte_times()[0][0] - self.reader.accepted_at[0]
        self.assertTrue(1.2 <= gap <= 6.0, f"F came {gap:.2f} s after the connect")

        self.bench.focus(receiver.TITLE)
        self.reader.send_chunks([b"SCAN", b"1\r\n"])
        poll(lambda: receiver.text().endswith("SCAN"), what="the line typed from the tray")
        poll(lambda: self.bench.wbench("gettext", MAIN, ID("Label1")) == "SCAN1", what="Label1 once checked")
        poll(lambda: self.reader.received() == b"FF", what="the F after the typed line")

        self.bench.post(MAIN, 0x200, 1, 0x202)  # the tray's callback: WM_LBUTTONUP in lParam
        poll(lambda: self.state() == "visible=1 iconic=0", what="the window restored")
        poll(lambda: self.label25() == "0,192,0", what="Label25 green with the link")

        start = len(receiver.events())
        self.reader.send(b"SHOWN\r\n")
        poll(lambda: self.bench.wbench("gettext", MAIN, ID("Label1")) == "SHOWN", what="Label1")
        poll(lambda: self.reader.received() == b"FFF", what="the F after the line")
        self.assertEqual([e for e in receiver.events()[start:] if e["kind"] == "CH"], [])

        self.reader.drop()
        poll(lambda: self.reader.connections == 2, timeout=30, what="the reconnect")

        self.bench.post(MAIN, 0x218, 0x12, 0)  # WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC
        poll(lambda: self.reader.connections == 3, timeout=30, what="the reconnect after sleep")

        # WM_WTSSESSION_CHANGE for Wine's session 1: another user's session comes in front
        # (console disconnect), then this one again (console connect).
        for event, connections in ((WTS_CONSOLE_DISCONNECT, 3), (WTS_CONSOLE_CONNECT, 4)):
            self.bench.post(MAIN, 0x2B1, event, WINE_SESSION)
            if connections == 3:
                poll(lambda: "the link is let go" in self.bench.log_text(), what="the link let go")
                poll(self.reader.peer_closed.is_set, what="the link closed")
            poll(lambda: self.reader.connections == connections, timeout=30, what="the link taken back")

        self.bench.post(MAIN, 0x111, ID("Command3"), 0)  # posted: the click opens a modal box
        self.assertEqual(self.bench.message_box_text("(!)"), "Quit ZAM Wedge ?")
        self.bench.press_button("(!)", 6)  # Yes
        proc.wait(timeout=30)

        log, address = self.bench.log_text(), self.reader.address
        for event in ["Tarvik 0.1.0 started", r"Settings: C:\windows\pelrin.ini",
                      f"Link to {address} open", "Record of 5 characters: typed",
                      "Record of 5 characters: shown only (the window is not in the tray)",
                      f"Link to {address} dropped: -8 (the reader closed the link)",
                      "Resumed from sleep: the link is opened again",
                      "This session is in front again: the link is taken back", "Quit: the program ends"]:
            self.assertIn(event, log)
        for scanned in ("SCAN", "SHOWN"):
            self.assertNotIn(scanned, log)

    def test_serial_pulled_and_plugged_back_one_instance_and_the_close_box(self):
        # The icon carries an image for every scaling from 100 % to 300 %.
        self.assertEqual(self.bench.wbench("iconsizes", wine_path(self.bench.exe("tarvik.exe"))),
                         "16 20 24 32 40 48")
        reader = SerialReader(self.bench, port=5)
        self.addCleanup(reader.stop)
        self.bench.write_settings("COM5")
        receiver = Receiver(self.bench)
        proc = self.bench.tarvik()
        self.bench.wait_tray()
        poll(lambda: reader.received() == b"F", timeout=30, what="the F after the connect")
        self.bench.focus(receiver.TITLE)
        reader.send(b"ONE1\r\n")
        poll(lambda: receiver.text().endswith("ONE"), what="the line typed")
        reader.drop()
        poll(lambda: "Link to COM5 dropped: " in self.bench.log_text(), what="the drop in the log")
        reader.plug_back()
        poll(lambda: reader.received() == b"FFF", timeout=30, what="the F after the reconnect")
        self.bench.focus(receiver.TITLE)
        reader.send(b"TWO2\r\n")
        poll(lambda: receiver.text().endswith("ONETWO"), what="the line typed after the reconnect")
        # A second start brings the running copy back and ends itself.
        self.assertEqual(self.bench.spawn("tarvik.exe").wait(timeout=30), 0)
        poll(lambda: self.state() == "visible=1 iconic=0", what="the first copy's window back")
        self.assertIsNone(proc.poll())
        self.bench.wbench("close", MAIN)  # the close box ends the program without a question
        proc.wait(timeout=30)
        self.assertEqual(self.bench.log_text().count("Link to COM5 open"), 2)
