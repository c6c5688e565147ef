"""The Linux bench: a headless X display (Xvfb) with IceWM as window manager
and, when asked, as tray host; a home, configuration, state and runtime
folder of its own for each bench; helpers to run tarvik and the receiver on
it, find their windows with xdotool and read their state with xwininfo and
xprop.

Everything it starts it stops, by process id. TARVIK_EXE and TARVIK_RECEIVER
name the programs (the build sets both); TARVIK_KEEP_E2E=1 keeps a bench's
folder, with each program's output and a screenshot of the display at the end.
"""
import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from bench import poll, wait_quiet
from fake_reader import SerialReader, TcpReader, _Recorder

MAIN = "QUILLMARKS Tarvik"
MODIFIERS = {"Shift_L", "Shift_R", "Control_L", "Control_R", "Alt_L", "Alt_R", "Meta_L",
             "ISO_Level3_Shift", "Mode_switch"}
SCREEN = "1280x1024x24"
DISPLAY_WAIT = 15.0  # Xvfb names its display once it listens
STOP_WAIT = 10.0


# A bus with no services to start on demand: a real portal or logind must not come up.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={folder}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""
# Debian's own interpreter has python3-dbus and python3-dbusmock; another on
# PATH (pyenv) may not.
SYSTEM_PYTHON = "/usr/bin/python3"
LOGIND = "org.freedesktop.login1"
LOGIND_PATH = "/org/freedesktop/login1"
LOGIND_MANAGER = "org.freedesktop.login1.Manager"
MOCK = "org.freedesktop.DBus.Mock"


def stop_all(procs, one_by_one=False):
    """SIGTERM to each process still running, last started first, then a kill
    for one that will not end. one_by_one: each ends before the next is asked."""
    for p in reversed(procs):
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
        if one_by_one:
            _wait_or_kill(p)
    for p in reversed(procs):
        _wait_or_kill(p)


def _wait_or_kill(p):
    try:
        p.wait(timeout=STOP_WAIT)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait(timeout=STOP_WAIT)


def run(args, env, check=True, **kwargs):
    """Runs a short command: its standard output, or an error when it failed and check."""
    r = subprocess.run(list(args), env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=30, **kwargs)
    if check and r.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} exited {r.returncode}: {r.stderr.decode()}")
    return r.stdout.decode(errors="replace")


def bus_call(address, env, *args):
    """dbus-send to the bus at `address`; whether it was answered."""
    r = subprocess.run(["dbus-send", f"--bus={address}", "--print-reply", *args], env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    return r.returncode == 0


class Process:
    """A program of the test's own, stopped by its process id; `output`: a file
    for what it prints (appended)."""

    def __init__(self, args, output=None, **kwargs):
        if output is None:
            self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, **kwargs)
            return
        with open(output, "ab") as out:
            self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                         **kwargs)

    def stop(self):
        stop_all([self.proc])


class PrivateBus(Process):
    def __init__(self, folder):
        folder.mkdir(parents=True)
        config = folder / "bus.conf"
        config.write_text(BUS_CONFIG.format(folder=folder))
        super().__init__(["dbus-daemon", f"--config-file={config}", "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.address = self.proc.stdout.readline().decode().strip()
        self.proc.stdout.close()
        if not self.address:
            self.stop()
            raise RuntimeError("dbus-daemon named no address")


def logind_resolution(caller_uid):
    """The calls (method and dbus-send arguments) that make python3-dbusmock's logind,
    which names a path for any id, answer GetSession and GetUser as logind does for a
    caller of `caller_uid` in no session of its own: an unknown id is refused, and
    "auto" is the caller's user's display session."""
    user = f"{LOGIND_PATH}/user/{caller_uid}"
    get_session = f"""
if args[0] == "auto":
    user = objects.get("{user}")
    ret = user.Get("org.freedesktop.login1.User", "Display")[1] if user else "/"
    if ret == "/":
        raise dbus.exceptions.DBusException("Caller does not belong to any known session",
                                            name="org.freedesktop.login1.NoSessionForPID")
else:
    ret = "{LOGIND_PATH}/session/" + args[0]
    if ret not in objects:
        raise dbus.exceptions.DBusException("No session " + args[0],
                                            name="org.freedesktop.login1.NoSuchSession")
"""
    get_user = f"""
ret = "{LOGIND_PATH}/user/%d" % args[0]
if ret not in objects:
    raise dbus.exceptions.DBusException("No user", name="org.freedesktop.login1.NoSuchUser")
"""
    return [(f"{MOCK}.AddMethod", f"string:{LOGIND_MANAGER}", f"string:{name}", f"string:{sig}",
             "string:o", f"string:{code}")
            for name, sig, code in (("GetSession", "s", get_session), ("GetUser", "u", get_user))]


def display_session(uid, session_id="", path="/"):
    """gdbus arguments that make `session_id` user `uid`'s display session ("/": none)."""
    return ["--object-path", f"{LOGIND_PATH}/user/{uid}", "--method",
            "org.freedesktop.DBus.Properties.Set", "org.freedesktop.login1.User", "Display",
            f"<('{session_id}', objectpath '{path}')>"]


class MockLogind(Process):
    """python3-dbusmock's logind on a private system bus of its own, with one
    session; `env` gets the bus (DBUS_SYSTEM_BUS_ADDRESS)."""

    def __init__(self, work, env, session_id):
        self.bus = PrivateBus(work / "system-bus")
        env["DBUS_SYSTEM_BUS_ADDRESS"] = self.bus.address
        self.env = env
        super().__init__([SYSTEM_PYTHON, "-m", "dbusmock", "--system", "--template", "logind"],
                         env=env, output=work / "logind.log")
        poll(lambda: self.call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock.AddSession",
                               f"string:{session_id}", "string:seat0", "uint32:1000",
                               "string:user", "boolean:true"),
             what="the mock logind")

    def call(self, path, method, *args):
        return bus_call(self.bus.address, self.env, f"--dest={LOGIND}", path, method, *args)

    def add_session(self, session_id, uid, name, display=False):
        """Another session; `display`: it becomes its user's display session."""
        path = f"{LOGIND_PATH}/session/{session_id}"
        if not self.call(LOGIND_PATH, f"{MOCK}.AddSession", f"string:{session_id}", "string:seat0",
                         f"uint32:{uid}", f"string:{name}", "boolean:true"):
            raise RuntimeError(f"the mock logind did not add session {session_id}")
        if display:
            self.set_display(uid, session_id, path)
        return path

    def set_display(self, uid, session_id="", path="/"):
        run(["gdbus", "call", "--address", self.bus.address, "--dest", LOGIND,
             *display_session(uid, session_id, path)], self.env)

    def remove_session(self, session_id, uid):
        """The session ends (a logout): its object goes, and its user has no display session."""
        if not self.call(LOGIND_PATH, f"{MOCK}.RemoveObject",
                         f"objpath:{LOGIND_PATH}/session/{session_id}"):
            raise RuntimeError(f"the mock logind did not remove session {session_id}")
        self.set_display(uid)

    def resolve_like_logind(self, caller_uid):
        """GetSession and GetUser answer as logind does for a caller of `caller_uid` that is
        in no session of its own (see logind_resolution)."""
        for args in logind_resolution(caller_uid):
            if not self.call(LOGIND_PATH, *args):
                raise RuntimeError(f"the mock logind did not take {args}")

    def emit(self, interface, name, signature, *gvariants):
        """A signal from logind itself (dbus-send cannot build its variant array)."""
        run(["gdbus", "call", "--address", self.bus.address, "--dest", LOGIND, "--object-path",
             "/org/freedesktop/login1", "--method", "org.freedesktop.DBus.Mock.EmitSignal", interface,
             name, signature, "[" + ", ".join(f"<{v}>" for v in gvariants) + "]"], self.env)

    def stop(self):
        super().stop()
        self.bus.stop()


_X11 = []


def _xlib():
    """libX11 through ctypes, for what no command-line tool tells."""
    if not _X11:
        x = ctypes.cdll.LoadLibrary("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XGetSelectionOwner.restype = ctypes.c_ulong
        x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XQueryKeymap.argtypes = [ctypes.c_void_p, ctypes.c_char * 32]
        x.XAutoRepeatOff.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        _X11.append(x)
    return _X11[0]


class Bench:
    def __init__(self, name, tray=True, wm=True):
        self.tray = tray
        self.wm = wm  # False: no window manager until start_wm(), so nothing iconifies
        self.work = Path(tempfile.mkdtemp(prefix=f"tarvik-e2e-{name}-"))
        self.home = self.work / "home"
        self.config = self.home / ".config"
        self.state = self.home / ".local" / "state"
        self.runtime = self.work / "run"
        self.procs = []
        self.xvfb = None
        self.env = None
        self._x = None

    # ---- set-up and teardown -------------------------------------------------
    def start(self):
        for folder in (self.config, self.state, self.runtime):
            folder.mkdir(parents=True, mode=0o700)
        self._start_xvfb()
        # A key held a moment too long on a busy machine must not type twice, and a key
        # never let go must show as one left down, not as a flood of repeats.
        _xlib().XAutoRepeatOff(self._display())
        _xlib().XSync(self._display(), 0)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "SESSION_MANAGER")}
        env.update(DISPLAY=self.display, HOME=str(self.home), XDG_CONFIG_HOME=str(self.config),
                   XDG_STATE_HOME=str(self.state), XDG_RUNTIME_DIR=str(self.runtime),
                   QT_QPA_PLATFORM="xcb", LANG="C.UTF-8", NO_AT_BRIDGE="1",
                   XDG_SESSION_TYPE="x11")
        self.env = env
        if self.wm:
            self.start_wm()
        return self

    def stop(self):
        keep = os.environ.get("TARVIK_KEEP_E2E") == "1"
        if keep and self.env:
            self.screenshot("end")
        stop_all(self.procs)
        if self._x:
            _xlib().XCloseDisplay(self._x)
            self._x = None
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(timeout=STOP_WAIT)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        if not keep:
            shutil.rmtree(self.work, ignore_errors=True)

    def _start_xvfb(self):
        # -displayfd: Xvfb picks a free display and writes its number to us.
        read_end, write_end = os.pipe()
        try:
            try:
                with open(self.work / "xvfb.log", "wb") as log:
                    self.xvfb = subprocess.Popen(
                        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN,
                         "-nolisten", "tcp"], pass_fds=[write_end], stdout=subprocess.DEVNULL,
                        stderr=log)
            finally:
                os.close(write_end)  # ours closed, the read ends when Xvfb's goes
            number = b""
            end = time.monotonic() + DISPLAY_WAIT
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([read_end], [], [], max(0.0, end - time.monotonic()))
                chunk = os.read(read_end, 16) if ready else b""
                if not chunk:
                    raise RuntimeError(f"Xvfb named no display (see {self.work / 'xvfb.log'})")
                number += chunk
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()

    def start_wm(self, tray=None):
        """IceWM, with its tray unless told otherwise; later than start() too."""
        if tray is not None:
            self.tray = tray
        prefs = self.home / ".icewm"
        prefs.mkdir(exist_ok=True)
        (prefs / "preferences").write_text(
            f"TaskBarEnableSystemTray={int(self.tray)}\nShowTaskBar=1\nTaskBarShowClock=0\n"
            "TaskBarShowCPUStatus=0\nTaskBarShowNetStatus=0\nTaskBarShowMailboxStatus=0\n"
            "TaskBarShowApm=0\nTaskBarShowWorkspaces=0\nClickToFocus=1\nFocusOnAppRaise=1\n"
            "RequestFocusOnAppRaise=1\nShowPopupsAbovePointer=0\n")
        self.spawn("icewm", ["icewm"])
        poll(lambda: self._xprop_root("_NET_SUPPORTING_WM_CHECK"),
             what="IceWM to manage the display")
        if self.tray:
            poll(self.tray_host, what="IceWM's tray")

    # ---- running programs ----------------------------------------------------
    def spawn(self, name, args):
        """Starts a program on the display; its output goes to <name>-<n>.log."""
        log = open(self.work / f"{name}-{len(self.procs)}.log", "wb")
        p = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()
        self.procs.append(p)
        return p

    def tarvik(self):
        return self.spawn("tarvik", [os.environ["TARVIK_EXE"]])

    def settings_file(self):
        return self.config / "tarvik" / "pelrin.ini"

    def write_settings(self, data):
        self.settings_file().parent.mkdir(parents=True, exist_ok=True)
        self.settings_file().write_bytes(data)

    def log_text(self):
        path = self.state / "tarvik" / "tarvik.log"
        return path.read_text(encoding="utf-8", errors="replace") if path.exists() else ""

    # ---- windows -------------------------------------------------------------
    def _run(self, *args, check=True):
        return run(args, self.env, check)

    def _xprop_root(self, prop):
        return "window id" in self._run("xprop", "-root", prop, check=False)

    def windows(self, title):
        """The top-level windows titled exactly `title`, mapped or not."""
        return self._run("xdotool", "search", "--name", f"^{re.escape(title)}$",
                         check=False).split()

    def wait_window(self, title, timeout=20.0):
        return poll(lambda: (self.windows(title) or [None])[0], timeout=timeout,
                    what=f"a window titled {title!r}")

    def viewable(self, window):
        return "IsViewable" in self._run("xwininfo", "-id", str(window), check=False)

    def wm_state(self, window):
        """'Normal', 'Iconic', 'Withdrawn', or None where the manager set none."""
        m = re.search(r"window state: (\w+)", self._run("xprop", "-id", str(window), "WM_STATE",
                                                        check=False))
        return m.group(1) if m else None

    def shown(self, window):
        return self.viewable(window) and self.wm_state(window) == "Normal"

    def activate(self, window):
        self._run("xdotool", "windowactivate", "--sync", str(window))
        poll(lambda: self._run("xdotool", "getwindowfocus").strip() == str(window),
             what=f"window {window} to take the focus")

    def tray_icons(self, program="tarvik"):
        """The program's icons docked in IceWM's tray and shown there."""
        return [w for w in self._run("xdotool", "search", "--classname", f"^{program}$",
                                     check=False).split()
                if '"YXTrayEmbedder"' in self._run("xwininfo", "-children", "-id", w, check=False)
                and self.viewable(w)]

    def click(self, window, x, y, button=1):
        """A real click (left by default) at (x, y) pixels inside `window`."""
        self._run("xdotool", "mousemove", "--sync", "--window", str(window), str(x), str(y),
                  "click", str(button))

    def minimize(self, window):
        self._run("xdotool", "windowminimize", str(window))

    def key(self, *keys):
        """Real key presses (XTest), to the window with the focus."""
        self._run("xdotool", "key", "--delay", "50", *keys)

    def screenshot(self, name):
        try:
            subprocess.run(["import", "-display", self.display, "-window", "root",
                            str(self.work / f"{name}.png")], timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (OSError, subprocess.TimeoutExpired):
            pass  # a missing picture must not hide the failure itself

    # ---- the X server's own view ---------------------------------------------
    def _display(self):
        if not self._x:
            self._x = _xlib().XOpenDisplay(self.display.encode())
            if not self._x:
                raise RuntimeError(f"cannot open X display {self.display}")
        return self._x

    def tray_host(self):
        """The window that owns the system tray selection of screen 0, or 0."""
        x = _xlib()
        return x.XGetSelectionOwner(self._display(), x.XInternAtom(self._display(),
                                                                   b"_NET_SYSTEM_TRAY_S0", 0))

    def keys_down(self):
        """Keycodes the X server holds down now."""
        keys = (ctypes.c_char * 32)()
        _xlib().XQueryKeymap(self._display(), keys)
        return [i * 8 + b for i, byte in enumerate(keys.raw) for b in range(8) if byte >> b & 1]


class PtyReader(SerialReader):
    """A socat pty pair: tarvik opens one end by its path, the reader holds the other."""

    def __init__(self, bench):
        _Recorder.__init__(self)
        self.bench = bench
        self.wine_end, self.host_end = bench.work / "ttyReader", bench.work / "ttyHost"
        self._plug()

    @property
    def path(self):
        return str(self.wine_end)

    address = path


class ReaderTest(unittest.TestCase):
    """A bench of its own (BENCH: Bench's arguments) and a fake reader on TCP;
    SETTINGS, a pelrin.ini for the reader's {address}, written as `settings`."""
    BENCH, SETTINGS = {}, None

    def setUp(self):
        self.bench = Bench(**self.BENCH)
        self.addCleanup(self.bench.stop)  # also after a start that failed half-way
        self.bench.start()
        self.reader = self.new_reader()
        self.addCleanup(self.reader.stop)
        if self.SETTINGS:
            self.settings = self.SETTINGS.format(address=self.reader.address).encode("cp1252")
            self.bench.write_settings(self.settings)

    def new_reader(self):
        return TcpReader()

    def start_in_tray(self):
        """tarvik started, once its window `main` has gone to the tray and the
        reader has had one more connect and only the F after it."""
        before, connections = self.reader.received(), self.reader.connections
        proc = self.bench.tarvik()
        self.main = self.bench.wait_window(MAIN)
        poll(lambda: not self.bench.viewable(self.main) and self.bench.tray_icons(), timeout=30,
             what="the window in the tray")
        poll(lambda: self.reader.connections == connections + 1, timeout=30, what="the connect")
        poll(lambda: self.reader.received() == before + b"F", what="the F after the connect")
        return proc


class Receiver:
    """The receiving window and its key log."""

    TITLE = "Tarvik Receiver"

    def __init__(self, bench):
        self.bench = bench
        self.log = bench.work / "receiver.log"
        bench.spawn("receiver", [os.environ["TARVIK_RECEIVER"], str(self.log), self.TITLE])
        poll(lambda: self.log.exists() and "MAPPED" in self.log.read_text(), what="the receiver")
        self.window = bench.wait_window(self.TITLE)

    def events(self):
        out = []
        for line in self.log.read_text(errors="replace").splitlines():
            kind, *fields = line.split(" ")
            if kind not in ("KP", "KR"):
                continue
            f = dict(p.split("=", 1) for p in fields)
            out.append({"kind": kind, "kc": int(f["kc"]), "ks": f["ks"],
                        "txt": bytes.fromhex(f["txt"]).decode("utf-8", "replace"),
                        "state": int(f["state"], 16)})
        return out

    def text(self):
        return "".join(e["txt"] for e in self.events())

    def presses(self, start=0):
        """Keysym names of the key presses from event `start` on, modifiers left out."""
        return [e["ks"] for e in self.events()[start:]
                if e["kind"] == "KP" and e["ks"] not in MODIFIERS]

    def wait_presses(self, start, count, timeout=20.0):
        """Waits for `count` presses from event `start` on, then for the typing to end."""
        try:
            poll(lambda: len(self.presses(start)) >= count, timeout=timeout,
                 what=f"{count} key presses")
        except TimeoutError as e:
            raise TimeoutError(f"{e}; got {self.presses(start)}") from None
        self.wait_quiet()
        return self.presses(start)

    def unreleased(self):
        """Keycodes pressed more often than released."""
        count = {}
        for e in self.events():
            count[e["kc"]] = count.get(e["kc"], 0) + (1 if e["kind"] == "KP" else -1)
        return sorted(kc for kc, n in count.items() if n > 0)

    def wait_quiet(self, quiet=0.5):
        wait_quiet(self.log, quiet)
