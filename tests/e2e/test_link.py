"""The reader link under Wine: a fake reader on TCP and on a serial port, lines
in odd chunks typed and answered, and a line cut off by a drop typed not at all."""
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "bench"))
from bench import Bench, Receiver, poll  # noqa: E402
from fake_reader import SerialReader, TcpReader  # noqa: E402

ODD_CHUNKS = [b"AB", b"C1\r", b"\nXY", b"Z\r", b"\n"]  # the lines "ABC1" and "XYZ"


class Link(unittest.TestCase):
    def setUp(self):
        self.bench = Bench("link").start()
        self.addCleanup(self.bench.stop)
        self.receiver = Receiver(self.bench)

    def typed_since(self, start):
        return "".join(chr(e["ch"]) for e in self.receiver.events()[start:] if e["kind"] == "CH")

    def test_lines_in_odd_chunks_are_typed_and_answered_on_tcp_and_serial(self):
        for transport in ("tcp", "serial"):
            with self.subTest(transport):
                reader = TcpReader() if transport == "tcp" else SerialReader(self.bench, port=5)
                self.addCleanup(reader.stop)
                address = reader.address if transport == "tcp" else "COM5"
                log = self.bench.work / f"linkdriver-{transport}.log"
                start = len(self.receiver.events())
                proc = self.bench.spawn("linkdriver.exe", "--address", address, "--minimized",
                                        "--focus", self.receiver.TITLE, "--beep", "0",
                                        "--feedback", "1", stdout=log)
                said = lambda text: poll(  # noqa: E731
                    lambda: log.exists() and text in log.read_text(errors="replace"),
                    timeout=30, what=f"{text!r} from the driver")
                said("connected")
                reader.send_chunks(ODD_CHUNKS)
                # Each record less its last character is typed.
                poll(lambda: self.typed_since(start) == "ABCXY", what="the typed lines")
                poll(lambda: reader.received() == b"FF", what="one F after each line")
                said("line XYZ")
                reader.send(b"PART")  # cut off by the drop: nothing of it is typed
                reader.drop()
                said("disconnected")
                proc.wait(timeout=30)
                self.assertEqual(self.typed_since(start), "ABCXY")


if __name__ == "__main__":
    unittest.main(verbosity=2)
