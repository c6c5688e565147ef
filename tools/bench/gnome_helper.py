"""The parts of the GNOME bench that run as the session's user, on its buses
(Debian's own Python, for python3-gi and pyatspi):

  keyboard            mutter's own RemoteDesktop session, held open; reads keysym
                      names on stdin, taps each, answers "ok" per line
  consent BUTTON      presses BUTTON ("Share" or "Cancel") in the portal's dialog
                      through AT-SPI; "Share" ticks "Allow remote interaction" first
  receiver TITLE LOG  a GTK 3 window that logs each key and focus change to LOG
"""
import json
import sys
import time

import gi

MUTTER = "org.gnome.Mutter.RemoteDesktop"
TICK_POLLS, TICK_POLL_S = 100, 0.05


def keyboard():
    gi.require_version("Gdk", "3.0")
    from gi.repository import Gdk, Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def call(path, iface, method, args=None, reply=None):
        return bus.call_sync(MUTTER, path, iface, method, args,
                             GLib.VariantType(reply) if reply else None, 0, 10000, None)

    session = call("/org/gnome/Mutter/RemoteDesktop", MUTTER, "CreateSession", None, "(o)")[0]
    call(session, MUTTER + ".Session", "Start")
    print("ok", flush=True)
    for line in sys.stdin:
        sym = Gdk.keyval_from_name(line.strip())
        for down in (True, False):
            call(session, MUTTER + ".Session", "NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, down)))
        print("ok", flush=True)


def consent(button):
    import pyatspi

    def find(node, role, name):
        # GTK 4 names a button by its mnemonic and its label: "_Share Share".
        try:
            if node.getRole() == role and name in (node.name, (node.name or "").split(" ")[-1]):
                return node
            for child in node:
                if child is not None:
                    found = find(child, role, name)
                    if found:
                        return found
        except Exception:  # a window that went away as we walked it
            return None
        return None

    def act(node):
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        action.doAction(0)
        return names

    desktop = pyatspi.Registry.getDesktop(0)
    apps = [a for a in desktop if a is not None and "portal" in (a.name or "")]
    for app in apps:
        target = find(app, pyatspi.ROLE_PUSH_BUTTON, button)
        if not target:
            continue
        if button == "Share":
            box = find(app, pyatspi.ROLE_CHECK_BOX, "Allow remote interaction")
            if not box:
                continue
            if not box.getState().contains(pyatspi.STATE_CHECKED):
                act(box)
            # "Share" is insensitive until the dialog has taken the tick.
            for _ in range(TICK_POLLS):
                if target.getState().contains(pyatspi.STATE_SENSITIVE):
                    break
                time.sleep(TICK_POLL_S)
        act(target)
        print(f"pressed {button} in {app.name}")
        return 0
    print("no dialog among", [a.name for a in desktop if a is not None])
    return 1


def receiver(title, path):
    gi.require_version("Gtk", "3.0")
    gi.require_version("Gdk", "3.0")
    from gi.repository import Gdk, Gtk
    out = open(path, "a", buffering=1)

    def log(**record):
        out.write(json.dumps(record) + "\n")

    def key(_, event, down):
        ch = Gdk.keyval_to_unicode(event.keyval)
        log(key=Gdk.keyval_name(event.keyval), text=chr(ch) if ch else "",
            code=event.hardware_keycode, down=down, state=int(event.state))
        return True

    window = Gtk.Window(title=title)
    window.set_default_size(400, 200)
    window.connect("key-press-event", key, True)
    window.connect("key-release-event", key, False)
    window.connect("focus-in-event", lambda *_: log(focus=True))
    window.connect("focus-out-event", lambda *_: log(focus=False))
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    log(ready=True)
    Gtk.main()


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "keyboard":
        keyboard()
    elif mode == "consent":
        sys.exit(consent(sys.argv[2]))
    elif mode == "receiver":
        receiver(sys.argv[2], sys.argv[3])
