"""Checked delivery with tarvik.exe under Wine: after a record's keys the program reads
back the focused field and answers the reader only then. An edit and a rich edit
control get their line and the reader its "F" after the last key; a target that drops
keys at full speed gets no "F", the user is told, the pace for it goes up, and the next
long line arrives whole with its "F"."""
import re
import time
import unittest

from bench import Bench, Receiver, poll
from fake_reader import TcpReader

LONG = "".join("0123456789abcdefghijklmnopqrstuvwxyz"[i % 36] for i in range(200))


def monotonic_raw_offset():
    """Wine's performance counter, which the receiver logs as "us", reads the host's
    CLOCK_MONOTONIC_RAW; the fake reader stamps bytes with time.monotonic(): this is
    added to the latter to compare them."""
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) - time.monotonic()


class Delivery(unittest.TestCase):
    def setUp(self):
        self.bench = Bench("delivery").start()
        self.addCleanup(self.bench.stop)
        self.reader = TcpReader()
        self.addCleanup(self.reader.stop)

    def send(self, receiver, text):
        """One reader line for the receiver in front; the program types it less its last
        character (the reader's own check character here)."""
        self.bench.focus(receiver.title)
        self.reader.send(text.encode() + b"#\r\n")

    def answers(self):
        return self.reader.received().count(b"F")

    def assert_answered_after_the_keys(self, receiver, count, start=0):
        """The reader's count-th answer is an F, and it came after the receiver had
        handled the last character of its line."""
        poll(lambda: self.answers() >= count, timeout=30, what=f"F number {count}")
        self.assertEqual(self.answers(), count, self.reader.received())
        last_key = [e for e in receiver.events()[start:] if e["kind"] == "CH"][-1]["us"] / 1e6
        answered = [t for t, b in self.reader.byte_times() if b == ord("F")][count - 1] + self.offset
        self.assertGreater(answered, last_key, f"{receiver.title}: F before the last key")
        self.assertLess(answered - last_key, 5.0, f"{receiver.title}: F long after the keys")

    def test_edit_and_rich_edit_delivered_a_dropping_target_told_then_paced(self):
        bench, reader = self.bench, self.reader
        self.offset = monotonic_raw_offset()
        bench.write_settings(reader.address)  # delay 0, feedback on
        edit = Receiver(bench, "Edit Receiver", ("--edit",))
        rich = Receiver(bench, "Rich Receiver", ("--richedit",))
        dropping = Receiver(bench, "Dropping Receiver", ("--drop-every", "40"))
        bench.tarvik()
        bench.wait_tray()
        reader.wait_connected(timeout=30)
        poll(lambda: self.answers() == 1, what="the F after the connect")

        for count, receiver in ((2, edit), (3, rich)):
            self.send(receiver, "4006381333931")
            receiver.wait_text("4006381333931")
            self.assert_answered_after_the_keys(receiver, count)
        self.assertEqual(re.findall(r"Record of 14 characters: typed; (\w+)", bench.log_text()),
                         ["delivered", "delivered"])

        self.send(dropping, LONG)
        wrong = poll(lambda: re.search(r"Record of 201 characters: arrived wrong in receiver.exe, 200 "
                                       r"characters sent, (\d+) arrived: (\d+) lost .*; no suffix typed; "
                                       r"the reader was not told the read was good; keys to receiver.exe "
                                       r"now go 5 ms apart", bench.log_text()),
                     timeout=60, what="the difference logged")
        dropped = len([e for e in dropping.events() if e["kind"] == "XCH"])
        self.assertGreater(dropped, 0, "no key was dropped")
        self.assertEqual((int(wrong[1]), int(wrong[2])), (200 - dropped, dropped))
        self.assertNotIn(LONG[:40], bench.log_text(), "the field's contents are never logged")

        # At 5 ms apart every key arrives: the line is whole, and its F is the only one
        # since the rich edit's.
        start = len(dropping.events())
        self.send(dropping, LONG[::-1])
        poll(lambda: "".join(chr(e["ch"]) for e in dropping.events()[start:] if e["kind"] == "CH")
             == LONG[::-1], timeout=60, what="the next long line whole")
        self.assertEqual([e for e in dropping.events()[start:] if e["kind"] == "XCH"], [])
        self.assert_answered_after_the_keys(dropping, 4, start)
        poll(lambda: bench.log_text().count("Record of 201 characters: typed; delivered") == 1,
             what="the paced line logged delivered")

        # What one read of a 4 KiB field costs from another process; loosely (a loaded
        # machine): the figures are printed for the record.
        for receiver in (edit, rich):
            out = bench.wbench("fieldread", receiver.title, 200, 4096)
            print(f"[delivery] {receiver.title}: one read of 4096 characters, 200 reads, us: {out}",
                  flush=True)
            figures = dict(f.split("=") for f in out.split())
            self.assertEqual(figures["chars"], "4096")
            self.assertLess(int(figures["median"]), 10_000)
            self.assertLess(int(figures["worst"]), 200_000)


if __name__ == "__main__":
    unittest.main()
