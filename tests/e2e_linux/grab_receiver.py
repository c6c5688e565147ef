"""A window that holds the keyboard grabbed for as long as it runs, as a
virtual machine viewer or a remote desktop client does, and logs the text of
every key press it gets: "GRABBED" once it holds the keyboard, then one line
"KP <hex of the UTF-8 text>" a press. Plain Xlib through ctypes.

grab_receiver.py LOG TITLE
"""
import ctypes
import select
import sys

KEY_PRESS, KEY_PRESS_MASK, GRAB_SUCCESS, GRAB_MODE_ASYNC, CURRENT_TIME = 2, 1, 0, 1, 0
MAP_NOTIFY, STRUCTURE_NOTIFY_MASK = 19, 1 << 17
GRAB_TRIES, GRAB_WAIT = 100, 0.05  # the window manager may hold the keyboard a moment


class XKeyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("root", ctypes.c_ulong),
                ("subwindow", ctypes.c_ulong), ("time", ctypes.c_ulong), ("x", ctypes.c_int),
                ("y", ctypes.c_int), ("x_root", ctypes.c_int), ("y_root", ctypes.c_int),
                ("state", ctypes.c_uint), ("keycode", ctypes.c_uint), ("same_screen", ctypes.c_int)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("key", XKeyEvent), ("pad", ctypes.c_long * 24)]


def main(log_path, title):
    x = ctypes.cdll.LoadLibrary("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    for name in ("XDefaultRootWindow", "XCreateSimpleWindow"):
        getattr(x, name).restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                      ctypes.c_ulong]
    x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
    x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x.XGrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                ctypes.c_int, ctypes.c_ulong]
    x.XPending.argtypes = [ctypes.c_void_p]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    x.XConnectionNumber.argtypes = [ctypes.c_void_p]
    x.XLookupString.argtypes = [ctypes.POINTER(XKeyEvent), ctypes.c_char_p, ctypes.c_int,
                                ctypes.c_void_p, ctypes.c_void_p]
    d = x.XOpenDisplay(None)
    if not d:
        sys.exit("no X display")
    w = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), 0, 0, 300, 100, 0, 0, 0xffffff)
    x.XStoreName(d, w, title.encode())
    x.XSelectInput(d, w, KEY_PRESS_MASK | STRUCTURE_NOTIFY_MASK)
    x.XMapWindow(d, w)
    ev = XEvent()
    while True:
        x.XNextEvent(d, ctypes.byref(ev))
        if ev.type == MAP_NOTIFY:
            break
    for _ in range(GRAB_TRIES):
        if x.XGrabKeyboard(d, w, 0, GRAB_MODE_ASYNC, GRAB_MODE_ASYNC, CURRENT_TIME) == GRAB_SUCCESS:
            break
        select.select([], [], [], GRAB_WAIT)
    else:
        sys.exit("the keyboard could not be grabbed")
    with open(log_path, "a", buffering=1) as log:
        log.write("GRABBED\n")
        text = ctypes.create_string_buffer(32)
        while True:
            while x.XPending(d):
                x.XNextEvent(d, ctypes.byref(ev))
                if ev.type == KEY_PRESS:
                    n = x.XLookupString(ctypes.byref(ev.key), text, len(text), None, None)
                    log.write(f"KP {text.raw[:n].hex()}\n")
            select.select([x.XConnectionNumber(d)], [], [])


if __name__ == "__main__":
    main(*sys.argv[1:])
