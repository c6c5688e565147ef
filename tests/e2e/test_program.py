"""tarvik.exe as a user runs it, under Wine, against a fake reader: the tray,
the link, typing from the tray, Quit, the close box, one instance, and the
device selection window."""
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "bench"))
from bench import Bench, Receiver, poll, wine_path  # noqa: E402
from fake_reader import SerialReader, TcpReader  # noqa: E402

MAIN = "QUILLMARKS Tarvik"
SELECT = "Select BT device"
ID = Bench.control_id
WM_COMMAND, WM_MOUSEMOVE = 0x111, 0x200
DISCOVER = 3  # the selection window's button; Select and Cancel are IDOK and IDCANCEL


def settings(address, feedback=1, beep=0):
    return (f'{beep}\r\n{feedback}\r\n"{address}"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n').encode()


class Program(unittest.TestCase):
    def setUp(self):
        self.bench = Bench("program").start()
        self.addCleanup(self.bench.stop)
        self.reader = TcpReader()
        self.addCleanup(self.reader.stop)
        self.ini = self.bench.prefix / "drive_c" / "windows" / "pelrin.ini"

    def start(self):
        started = time.monotonic()
        proc = self.bench.spawn("tarvik.exe")
        self.bench.wait_visible(MAIN)
        return proc, started

    def state(self):
        return self.bench.wbench("state", MAIN)

    def in_tray(self):
        return self.state() == "visible=0 iconic=1"

    def tray_event(self, code):
        # The tray's callback: message 512 with the mouse message in lParam.
        self.bench.post(MAIN, WM_MOUSEMOVE, 1, code)

    def label25(self):
        return self.bench.wbench("pixel", MAIN, ID("Label25"))

    def click(self, title, control_id):
        # Posted, not sent: the click may open a modal box.
        self.bench.post(title, WM_COMMAND, control_id, 0)

    def test_tray_link_typing_and_quit(self):
        self.ini.write_bytes(settings(self.reader.address, feedback=1))
        receiver = Receiver(self.bench)
        proc, started = self.start()
        poll(lambda: self.label25() == "255,0,0", what="Label25 red without a link")
        # Ten seconds after start the window goes to the tray and the link opens.
        poll(self.in_tray, timeout=40, interval=0.5, what="the window in the tray")
        self.assertGreater(time.monotonic() - started, 8)
        self.reader.wait_connected(timeout=30)
        poll(lambda: self.reader.received() == b"F", what="the F after the connect")
        # Timed from the reader's own accept: the polls above may notice the
        # link a second or more after it opened.
        gap = self.reader.byte_times()[0][0] - self.reader.accepted_at[0]
        self.assertTrue(1.2 <= gap <= 6.0, f"F came {gap:.2f} s after the connect")

        # In the tray, lines are typed into the focused window.
        self.bench.focus(receiver.TITLE)
        start = len(receiver.events())
        self.reader.send_chunks([b"SCAN", b"1\r\n"])
        poll(lambda: "".join(chr(e["ch"]) for e in receiver.events()[start:] if e["kind"] == "CH")
             == "SCAN", what="the line typed from the tray")
        self.assertEqual(self.bench.wbench("gettext", MAIN, ID("Label1")), "SCAN1")
        poll(lambda: self.reader.received() == b"FF", what="the F after the typed line")

        # Pointer over the icon and a button press change nothing; the release restores.
        self.tray_event(0x200)
        self.tray_event(0x201)
        self.assertTrue(self.in_tray())
        self.tray_event(0x202)
        poll(lambda: self.state() == "visible=1 iconic=0", what="the window restored")
        poll(lambda: self.label25() == "0,192,0", what="Label25 green with the link")

        # Shown: lines are shown and answered, not typed.
        start = len(receiver.events())
        self.reader.send(b"SHOWN\r\n")
        poll(lambda: self.bench.wbench("gettext", MAIN, ID("Label1")) == "SHOWN", what="Label1")
        poll(lambda: self.reader.received() == b"FFF", what="the F after the line")
        self.assertEqual([e for e in receiver.events()[start:] if e["kind"] == "CH"], [])

        # The reader drops the link: the program connects again.
        self.reader.drop()
        poll(lambda: self.reader.connections == 2, timeout=30, what="the reconnect")
        poll(lambda: self.label25() == "0,192,0", what="Label25 green again")

        # Waking from sleep: the link may have died silently, so it is reopened.
        self.bench.post(MAIN, 0x218, 0x12, 0)  # WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC
        poll(lambda: self.reader.connections == 3, timeout=30, what="the reconnect after sleep")

        # Quit, No: nothing changes. Quit, Yes: the program ends.
        self.click(MAIN, ID("Command3"))
        self.assertEqual(self.bench.message_box_text("(!)"), "Quit ZAM Wedge ?")
        self.bench.press_button("(!)", 7)
        poll(lambda: not self.bench.run("wbench.exe", "wait", "(!)", 100, check=False)[0] == 0,
             what="the question to close")
        self.assertIsNone(proc.poll())
        self.click(MAIN, ID("Command3"))
        self.bench.message_box_text("(!)")
        self.bench.press_button("(!)", 6)
        proc.wait(timeout=30)

        # The diagnostics log tells all of it, and nothing that was scanned.
        log = self.log_text()
        address = self.reader.address
        for event in ["Tarvik 0.1.0 started", r"Settings: C:\windows\pelrin.ini",
                      f"Link to {address} open", "Record of 5 characters: typed",
                      "Record of 5 characters: shown only (the window is not in the tray)",
                      f"Link to {address} dropped: -8 (the reader closed the link)",
                      "Resumed from sleep: the link is opened again", "Quit: the program ends"]:
            self.assertIn(event, log)
        for line in log.splitlines():
            self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S")
        for scanned in ("SCAN", "SHOWN"):
            self.assertNotIn(scanned, log)

    def log_text(self):
        users = self.bench.prefix / "drive_c" / "users"
        path = poll(lambda: next(users.glob("*/AppData/Local/Tarvik/tarvik.log"), None),
                    what="the diagnostics log")
        return path.read_text(encoding="utf-8")

    def test_a_serial_reader_pulled_and_plugged_back_is_typed_again(self):
        reader = SerialReader(self.bench, port=5)
        self.addCleanup(reader.stop)
        self.ini.write_bytes(settings("COM5", feedback=1))
        receiver = Receiver(self.bench)
        proc, _ = self.start()
        poll(self.in_tray, timeout=40, interval=0.5, what="the window in the tray")
        poll(lambda: reader.received() == b"F", timeout=30, what="the F after the connect")
        self.bench.focus(receiver.TITLE)
        reader.send(b"ONE1\r\n")
        poll(lambda: receiver.text().endswith("ONE"), what="the line typed")
        # The adapter is pulled: the link drops; plugged back, it opens again
        # by itself, and lines are typed as before.
        reader.drop()
        poll(lambda: "Link to COM5 dropped: " in self.log_text(), what="the drop in the log")
        reader.plug_back()
        poll(lambda: reader.received() == b"FFF", timeout=30, what="the F after the reconnect")
        self.bench.focus(receiver.TITLE)
        reader.send(b"TWO2\r\n")
        poll(lambda: receiver.text().endswith("ONETWO"), what="the line typed after the reconnect")
        self.bench.wbench("close", MAIN)
        proc.wait(timeout=30)
        self.assertEqual(self.log_text().count("Link to COM5 open"), 2)

    def test_one_instance_and_the_close_box(self):
        # The icon carries an image for every scaling from 100 % to 300 %.
        self.assertEqual(self.bench.wbench("iconsizes", wine_path(self.bench.exe("tarvik.exe"))),
                         "16 20 24 32 40 48")
        proc, _ = self.start()
        poll(self.in_tray, timeout=40, interval=0.5, what="the window in the tray")
        # A second start brings the running copy back and ends itself.
        second = self.bench.spawn("tarvik.exe")
        self.assertEqual(second.wait(timeout=30), 0)
        poll(lambda: self.state() == "visible=1 iconic=0", what="the first copy's window back")
        self.assertIsNone(proc.poll())
        # The close box ends the program without a question.
        self.bench.wbench("close", MAIN)
        proc.wait(timeout=30)

    def test_select_device_suspends_then_cancel_saves_and_reconnects(self):
        self.ini.write_bytes(settings(self.reader.address, feedback=0))
        proc, _ = self.start()
        poll(self.in_tray, timeout=40, interval=0.5, what="the window in the tray")
        self.reader.wait_connected(timeout=30)
        self.tray_event(0x202)
        poll(lambda: self.state() == "visible=1 iconic=0", what="the window restored")
        saved = self.ini.stat().st_mtime_ns
        time.sleep(0.05)  # a save must show a newer time than the one just read
        self.click(MAIN, ID("Command6"))
        self.bench.wait_visible(SELECT)
        poll(lambda: self.reader.peer_closed.is_set(), what="the link suspended")
        # No radio under Wine: Discover says so.
        self.click(SELECT, DISCOVER)
        self.assertEqual(self.bench.message_box_text("Tarvik"), "No Bluetooth API was found.")
        self.bench.press_button("Tarvik", 1)
        poll(lambda: self.bench.run("wbench.exe", "wait", "Tarvik", 100, check=False)[0] != 0,
             what="the message to close")
        self.assertEqual(self.reader.connections, 1)  # nothing while the window is open
        # Real keys: Enter is "Select", which with no row does nothing (a
        # discovery would bring the message back, and it would take the Esc);
        # Esc is "Cancel".
        self.bench.focus(SELECT)
        subprocess.run(["xdotool", "key", "Return"], env=self.bench.env, check=True)
        subprocess.run(["xdotool", "key", "Escape"], env=self.bench.env, check=True)
        poll(lambda: self.reader.connections == 2, timeout=30, what="the reconnect")
        self.assertNotEqual(self.bench.run("wbench.exe", "wait", "Tarvik", 100, check=False)[0], 0,
                            "Enter started a discovery")
        self.assertGreater(self.ini.stat().st_mtime_ns, saved)
        self.assertEqual(self.ini.read_bytes(), settings(self.reader.address, feedback=0))
        self.bench.wbench("close", MAIN)
        proc.wait(timeout=30)


if __name__ == "__main__":
    unittest.main(verbosity=2)
