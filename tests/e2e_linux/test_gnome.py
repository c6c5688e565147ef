"""The program on GNOME 43 (Debian 12), headless: the real xdg-desktop-portal and
xdg-desktop-portal-gnome, the consent dialog answered through AT-SPI, and a GTK
window on Wayland that logs every key. tarvik chooses the portal itself."""
import time
import unittest

from bench import poll
from fake_reader import TcpReader
from gnome_bench import Gnome, GtkReceiver, missing_tools

# Feedback on, no prefix, suffix 1 {ENTER} once, no suffix 2, no delay.
SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'
# Capitals and shifted symbols on the first input source (us); each line
# several times, as one wrong key in a few hundred is what mutter gets wrong.
US_LINES = ["Ab1-/_.:@#", "XYZ 789 QWERTY", "THE QUICK BROWN FOX", "a!B@c#D$e%F^g&H*i(J)k_L+"]
REPEATS = 3
# AltGr characters and the moved Z and Y once de is in use (switched in the
# shell while the receiver, a Wayland window, has the focus: Xwayland is not told).
DE_LINES = ["@\u20ac", "2\u20ac zY{}", "Z@y\u20ac|~"]
REFUSED = "Desktop portal: typing was not allowed"
ALLOWED = "Desktop portal: typing allowed"
NOT_ALLOWED = "not typed: the desktop does not let keys be typed now"


class DesktopTyping(unittest.TestCase):
    """A desktop with the real portal, a reader, and the program's settings."""
    DESKTOP, MISSING = Gnome, staticmethod(missing_tools)

    def setUp(self):
        self.assertEqual(self.MISSING(), [], "tools the test needs")
        self.desktop = self.DESKTOP()
        self.addCleanup(self.desktop.stop)  # also after a start that failed half-way
        self.desktop.start()
        self.reader = TcpReader()
        self.addCleanup(self.reader.stop)
        self.desktop.write_settings(SETTINGS.format(address=self.reader.address))

    def answers(self):
        return self.reader.received().count(b"F")

    def send(self, line):
        # The reader's last character before the line end is its own, never typed.
        self.reader.send(line.encode("cp1252") + b"0\r\n")

    def type_lines(self, receiver, lines):
        """Each line typed exactly, then its F; the seconds its keys took."""
        spent = 0.0
        for line in lines:
            answered, typed = self.answers(), receiver.text() + line + "\r"
            start = time.monotonic()
            self.send(line)
            poll(lambda: len(receiver.text()) >= len(typed), what=f"the keys of {line!r}")
            spent += time.monotonic() - start
            poll(lambda: self.answers() == answered + 1, what=f"the F after {line!r}")
            self.assertEqual(receiver.text(), typed)
        return spent


class GnomeTyping(DesktopTyping):
    def test_lines_exact_after_consent_and_nothing_after_a_refusal(self):
        gnome, reader = self.desktop, self.reader
        receiver = GtkReceiver(gnome)
        receiver.focus()
        gnome.tarvik()
        # The first dialog is refused: GNOME then closes the session at once.
        gnome.consent("Cancel")
        poll(lambda: REFUSED in gnome.log_text(), what="the refusal in the log")
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")
        receiver.focus()
        self.send("Ab1")
        poll(lambda: NOT_ALLOWED in gnome.log_text(), what="the line not typed")
        log = gnome.log_text()
        self.assertIn("the desktop did not allow Tarvik to type", log)
        self.assertNotIn("closed", log[log.index(REFUSED):])
        self.assertEqual(self.answers(), 1, "an F for a line not typed")
        self.assertEqual(receiver.presses(), [])

        # That line asked again; now the user allows it.
        gnome.consent("Share")
        poll(lambda: ALLOWED in gnome.log_text(), what="the consent in the log")
        receiver.focus()
        self.type_lines(receiver, US_LINES * REPEATS)
        self.assertTrue(gnome.input_source(1), "de in use")
        self.type_lines(receiver, DE_LINES)
        self.assertIn("GNOME's input source in use, de", gnome.log_text())
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")

        # An X program (through Xwayland), us again: each Shift waits for Xwayland to show it.
        self.assertTrue(gnome.input_source(0), "us in use")
        x_receiver = GtkReceiver(gnome, "x-receiver", backend="x11")
        x_receiver.focus()
        self.type_lines(x_receiver, US_LINES)
        self.assertNotIn("Xwayland did not show", gnome.log_text())
        self.assertEqual(x_receiver.unreleased(), [], "keys pressed and never released")


if __name__ == "__main__":
    unittest.main()
