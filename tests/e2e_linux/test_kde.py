"""The program on KDE Plasma 5.27 (Debian 12), headless: kwin_wayland with a
virtual output, the real xdg-desktop-portal and xdg-desktop-portal-kde, and a
GTK window on Wayland that logs every key. A keyboard-only session is allowed
there with no dialog; keys go at full speed, with no pause around Shift."""
import time
import unittest

from bench import poll
from fake_reader import TcpReader
from gnome_bench import GtkReceiver
from kde_bench import Kde, missing_tools

# Feedback on, no prefix, suffix 1 {ENTER} once, no suffix 2, no delay.
SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'
LINES = ["Ab1-/_.:@#", "XYZ 789 QWERTY", "THE QUICK BROWN FOX", "a!B@c#D$e%F^g&H*i(J)k_L+"] * 3
ALLOWED = "Desktop portal: typing allowed"


class KdeTyping(unittest.TestCase):
    def setUp(self):
        self.assertEqual(missing_tools(), [], "tools the test needs")
        self.kde = Kde()
        self.addCleanup(self.kde.stop)  # also after a start that failed half-way
        self.kde.start()
        self.reader = TcpReader()
        self.addCleanup(self.reader.stop)
        self.kde.write_settings(SETTINGS.format(address=self.reader.address))

    def test_lines_exact_at_full_speed_with_no_dialog(self):
        kde, reader = self.kde, self.reader
        kde.tarvik()
        poll(lambda: ALLOWED in kde.log_text(), what="the session allowed, with no one asked")
        self.assertNotIn("GNOME (XDG_CURRENT_DESKTOP)", kde.log_text())  # no pauses here
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")
        # The program's window has gone out of the way: the receiver, the
        # newest window, has the focus.
        receiver = GtkReceiver(kde)
        poll(receiver.has_focus, what="the receiver focused")
        typed, chars, spent = "", 0, 0.0
        for line in LINES:
            answered = reader.received().count(b"F")
            typed += line + "\r"
            start = time.monotonic()
            reader.send(line.encode("cp1252") + b"0\r\n")  # the last character is the reader's own
            poll(lambda: len(receiver.text()) >= len(typed), what=f"the keys of {line!r}")
            spent += time.monotonic() - start
            chars += len(line) + 1
            poll(lambda: reader.received().count(b"F") == answered + 1, what=f"the F after {line!r}")
            self.assertEqual(receiver.text(), typed)
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
        print(f"\n{chars / spent:.0f} characters a second, the reader's round trip included")


if __name__ == "__main__":
    unittest.main()
