"""The program on KDE Plasma 5.27 (Debian 12), headless: kwin_wayland with a
virtual output, the real xdg-desktop-portal and xdg-desktop-portal-kde, and a
GTK window on Wayland that logs every key. A keyboard-only session is allowed
there with no dialog; keys go at full speed, with no pause around Shift."""
import unittest

from bench import poll
from gnome_bench import GtkReceiver
from kde_bench import Kde, missing_tools
from test_gnome import DesktopTyping

LINES = ["Ab1-/_.:@#", "XYZ 789 QWERTY", "THE QUICK BROWN FOX", "a!B@c#D$e%F^g&H*i(J)k_L+"] * 3
ALLOWED = "Desktop portal: typing allowed"


class KdeTyping(DesktopTyping):
    DESKTOP, MISSING = Kde, staticmethod(missing_tools)

    def test_lines_exact_at_full_speed_with_no_dialog(self):
        kde, reader = self.desktop, self.reader
        kde.tarvik()
        poll(lambda: ALLOWED in kde.log_text(), what="the session allowed, with no one asked")
        self.assertNotIn("GNOME (XDG_CURRENT_DESKTOP)", kde.log_text())  # no pauses here
        reader.wait_connected()
        poll(lambda: reader.received() == b"F", what="the F after the connect")
        # The program's window has gone out of the way: the receiver, the
        # newest window, has the focus.
        receiver = GtkReceiver(kde)
        poll(receiver.has_focus, what="the receiver focused")
        spent = self.type_lines(receiver, LINES)
        chars = sum(len(line) + 1 for line in LINES)
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
        print(f"\n{chars / spent:.0f} characters a second, the reader's round trip included")


if __name__ == "__main__":
    unittest.main()
