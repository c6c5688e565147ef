"""A one-line text field that shows its text through AT-SPI, as real applications
do: a GTK 3 entry or a Qt 6 line edit, in a window of its own.
  field_receiver.py gtk|qt LOGFILE TITLE [--text N] [--keys] [--drop-every K --drop-gap-ms G]
--text N: the field starts with N characters, the caret at its end.
--keys (GTK): each key press is logged as the Xlib receiver logs it (KP kc=<keycode> ks=<keysym>),
and SIGUSR2 puts the field back to its starting text, then logs RESET.
--drop-every K: every K-th character key is dropped when it comes less than G ms after
the character key before it, as a slow application that loses keys at full speed does.
The times are the X server's, of the keys' events: a key this program gets late because
it was busy still counts as sent in time.
The log gets MAPPED once the window is up, DROP <n> for each key dropped, and on
SIGUSR1 TEXT <the field's text in hex>.
"""
import argparse
import os
import signal
import sys

sys.path.append("/usr/lib/python3/dist-packages")  # Debian's gi and PyQt6


class Dropper:
    def __init__(self, every, gap_ms, log):
        self.every, self.gap, self.log = every, gap_ms / 1000.0, log
        self.count, self.last = 0, None

    def drop(self, is_character, server_ms):
        """Whether to drop this key press."""
        if not is_character or not self.every:
            return False  # a Shift goes just before its character at any pace
        now, last = server_ms / 1000.0, self.last
        self.last = now
        self.count += 1
        if self.count % self.every == 0 and last is not None and now - last < self.gap:
            self.log(f"DROP {self.count}")
            return True
        return False


def main():
    p = argparse.ArgumentParser()
    p.add_argument("toolkit", choices=("gtk", "qt"))
    p.add_argument("log")
    p.add_argument("title")
    p.add_argument("--text", type=int, default=0)
    p.add_argument("--keys", action="store_true")
    p.add_argument("--drop-every", type=int, default=0)
    p.add_argument("--drop-gap-ms", type=float, default=3.0)
    a = p.parse_args()
    out = open(a.log, "a", buffering=1)
    log = lambda line: out.write(line + "\n")  # noqa: E731
    dropper = Dropper(a.drop_every, a.drop_gap_ms, log)
    start = "0123456789abcdef" * (a.text // 16 + 1)
    if a.toolkit == "gtk":
        run_gtk(a.title, start[:a.text], dropper, log, a.keys)
    else:
        run_qt(a.title, start[:a.text], dropper, log)


def run_gtk(title, text, dropper, log, keys):
    import gi
    gi.require_version("Gtk", "3.0")
    gi.require_version("Gdk", "3.0")
    from gi.repository import Gdk, GLib, Gtk
    window = Gtk.Window(title=title)
    entry = Gtk.Entry()
    entry.set_max_length(0)
    entry.set_text(text)
    window.add(entry)
    window.connect("destroy", Gtk.main_quit)

    def pressed(_, e):
        if keys:
            log(f"KP kc={e.hardware_keycode} ks={Gdk.keyval_name(e.keyval)}")
        return dropper.drop(bool(e.string) and e.string.isprintable(), e.time)

    def reset():
        entry.set_text(text)
        entry.set_position(-1)
        log("RESET")
        return True
    entry.connect("key-press-event", pressed)
    window.connect("map-event", lambda *_: log("MAPPED"))
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1,
                         lambda: log("TEXT " + entry.get_text().encode().hex()) or True)
    if keys:
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR2, reset)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, lambda: Gtk.main_quit() or False)
    window.show_all()
    entry.grab_focus()
    entry.set_position(-1)
    Gtk.main()


def run_qt(title, text, dropper, log):
    from PyQt6.QtCore import QSocketNotifier
    from PyQt6.QtWidgets import QApplication, QLineEdit

    app = QApplication(sys.argv[:1])

    class Field(QLineEdit):
        def keyPressEvent(self, e):
            if dropper.drop(bool(e.text()) and e.text().isprintable(), e.timestamp()):
                return
            super().keyPressEvent(e)

        def showEvent(self, e):
            super().showEvent(e)
            log("MAPPED")

    field = Field()
    field.setMaxLength(1 << 20)
    field.setText(text)
    field.setWindowTitle(title)
    field.resize(400, 40)
    # Signals reach Python only between Qt's events: a pipe wakes the loop.
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    signal.set_wakeup_fd(write_end)
    notifier = QSocketNotifier(read_end, QSocketNotifier.Type.Read)
    pending = []
    signal.signal(signal.SIGUSR1, lambda *_: pending.append("text"))
    signal.signal(signal.SIGTERM, lambda *_: pending.append("quit"))

    def woke():
        os.read(read_end, 64)
        while pending:
            if pending.pop(0) == "quit":
                app.quit()
            else:
                log("TEXT " + field.text().encode().hex())
    notifier.activated.connect(woke)
    field.show()
    field.setFocus()
    field.setCursorPosition(len(text))
    app.exec()


if __name__ == "__main__":
    main()
