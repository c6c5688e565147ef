"""The reader link under Wine: a fake reader on TCP and on a serial port,
the program's own wireless library, reception, feedback and typing, and the
inactivity close."""
import socket
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "bench"))
from bench import Bench, Receiver, poll  # noqa: E402
from fake_reader import SerialReader, TcpReader  # noqa: E402

ODD_CHUNKS = [b"AB", b"C1\r", b"\nXY", b"Z\r", b"\n"]  # the lines "ABC1" and "XYZ"


class Link(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = Bench("link").start()
        cls.receiver = Receiver(cls.bench)
        cls.runs = 0

    @classmethod
    def tearDownClass(cls):
        cls.bench.stop()

    def start_driver(self, address, *options):
        Link.runs += 1
        log = self.bench.work / f"linkdriver-{Link.runs}.log"
        proc = self.bench.spawn("linkdriver.exe", "--address", address, "--minimized", "--focus",
                                self.receiver.TITLE, "--beep", "0", *options, stdout=log)
        return proc, log

    def said(self, log, text, timeout=30):
        poll(lambda: log.exists() and text in log.read_text(errors="replace"), timeout=timeout,
             what=f"{text!r} from the driver")

    def typed_since(self, start):
        return "".join(chr(e["ch"]) for e in self.receiver.events()[start:] if e["kind"] == "CH")

    def lines_with_feedback(self, reader, address):
        start = len(self.receiver.events())
        proc, log = self.start_driver(address, "--feedback", "1")
        self.said(log, "connected")
        reader.send_chunks(ODD_CHUNKS)
        # Each record less its last character is typed.
        poll(lambda: self.typed_since(start) == "ABCXY", what="the typed lines")
        poll(lambda: reader.received() == b"FF", what="one F after each line")
        self.assertIn("line ABC1", log.read_text())
        self.assertIn("line XYZ", log.read_text())
        reader.drop()
        self.said(log, "disconnected")
        proc.wait(timeout=30)

    def test_tcp_lines_in_odd_chunks_are_typed_and_answered(self):
        reader = TcpReader()
        try:
            self.lines_with_feedback(reader, reader.address)
        finally:
            reader.stop()

    def test_serial_lines_in_odd_chunks_are_typed_and_answered(self):
        reader = SerialReader(self.bench, port=5)
        try:
            self.lines_with_feedback(reader, "COM5")
        finally:
            reader.stop()

    def test_no_feedback_when_it_is_off_and_bad_input_types_nothing_wrong(self):
        reader = TcpReader()
        try:
            start = len(self.receiver.events())
            proc, log = self.start_driver(reader.address, "--feedback", "0")
            self.said(log, "connected")
            # Control characters type nothing; a lone LF and CR LF alone are
            # passed over; the line after them still comes through.
            reader.send_chunks([b"\x01\x02Q\x7fx\r\n", b"\n\r\n", b"OK!\r\n"])
            poll(lambda: self.typed_since(start) == "QOK", what="the typed lines")
            self.receiver.wait_quiet()
            self.assertEqual(reader.received(), b"")
            # A link that drops in the middle of a line types nothing of it.
            reader.send(b"PART")
            reader.drop()
            self.said(log, "disconnected")
            proc.wait(timeout=30)
            self.assertEqual(self.typed_since(start), "QOK")
        finally:
            reader.stop()

    def test_failed_attempts_report_an_error(self):
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))  # a port nobody listens on: the connect is refused
        port = probe.getsockname()[1]
        probe.close()
        proc, log = self.start_driver(f"tcp://127.0.0.1:{port}")
        self.said(log, "connect failed")
        proc.wait(timeout=30)
        self.assertNotEqual(log.read_text().split("connect failed ")[1].split()[0], "0")
        # A Bluetooth address on a machine without a radio fails at once.
        proc, log = self.start_driver("00:1A:7D:DA:71:13")
        self.said(log, "connect failed")
        proc.wait(timeout=30)

    def test_idle_link_is_closed_with_the_reader_commands(self):
        reader = TcpReader()
        try:
            proc, log = self.start_driver(reader.address, "--feedback", "0", "--timeout", "1")
            self.said(log, "connected")
            # The first check comes 64 s after the connect, past the 1 minute.
            poll(lambda: reader.peer_closed.is_set(), timeout=150, what="the inactivity close")
            self.assertEqual(reader.received(), b"B\x7c\x1e\x0dS")
            times = [t for t, _ in reader.byte_times()]
            b_at, bar_at, s_at = times[0], times[1], times[4]
            self.assertTrue(0.03 <= bar_at - b_at <= 2.0, bar_at - b_at)
            self.assertTrue(0.5 <= s_at - b_at <= 5.0, s_at - b_at)
            self.said(log, "disconnected")
            proc.wait(timeout=30)
        finally:
            reader.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
