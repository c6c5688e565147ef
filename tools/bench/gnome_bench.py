"""A headless GNOME 43 session for the end-to-end tests, run as an ordinary
user: gnome-shell --headless with a virtual monitor, its own session bus
(the real xdg-desktop-portal and xdg-desktop-portal-gnome come up on it by
activation), a fake system bus with python3-dbusmock's logind (gnome-shell
will not start without one), mutter's own RemoteDesktop session as the
physical keyboard a headless mutter lacks, the portal's consent dialog
answered through AT-SPI, and a GTK window on Wayland that logs every key.

Every program is started in a process group of its own and the whole group
is stopped: the bus's activated services and Xwayland go with it."""
import json
import os
import select
import signal
import subprocess
import time
from pathlib import Path

from bench import poll
from linux_bench import BUS_CONFIG, SYSTEM_PYTHON, STOP_WAIT
from sway_bench import Sway

TOOLS = ("gnome-shell", "dbus-daemon", "gsettings", "/usr/libexec/xdg-desktop-portal",
         "/usr/libexec/xdg-desktop-portal-gnome")
HERE = Path(__file__).resolve().parent
HELPER = HERE / "gnome_helper.py"  # runs as the session's user: keys, clicks, the receiver
SESSION_ID = "c1"
MONITOR = "1280x800"
START_WAIT = 60.0
# An extension of the test's own: it lets org.gnome.Shell.Eval run, so the test
# can focus a window and switch the input source the way the shell does.
EXTENSION = "tarvik-bench@tarvik.test"
EXTENSION_JS = "function init() {}\nfunction enable() { global.context.unsafe_mode = true; }\n" \
               "function disable() {}\n"
SETTINGS = [("org.gnome.shell", "welcome-dialog-last-shown-version", "'999'"),
            ("org.gnome.shell", "enabled-extensions", f"['{EXTENSION}']"),
            ("org.gnome.desktop.session", "idle-delay", "uint32 0"),
            ("org.gnome.desktop.screensaver", "lock-enabled", "false"),
            ("org.gnome.desktop.interface", "toolkit-accessibility", "true"),
            ("org.gnome.desktop.input-sources", "sources", "[('xkb', 'us'), ('xkb', 'de')]")]


def _read_line(pipe, what, timeout=START_WAIT):
    """A line from a child's pipe, or an error once `timeout` has passed without one."""
    line = b""
    end = time.monotonic() + timeout
    while not line.endswith(b"\n"):
        left = end - time.monotonic()
        if left <= 0 or not select.select([pipe], [], [], left)[0]:
            raise TimeoutError(f"timed out after {timeout:.0f} s waiting for {what}")
        chunk = os.read(pipe.fileno(), 1)
        if not chunk:
            break
        line += chunk
    return line.decode(errors="replace").strip()


def missing_tools():
    import shutil
    return [t for t in TOOLS if not shutil.which(t)]


class Gnome(Sway):
    def __init__(self, name="gnome"):
        super().__init__(name)
        self.keyboard = None

    def spawn(self, name, args, stdin=subprocess.DEVNULL, stdout=None, **extra):
        env = dict(self.env, **extra)
        log = open(self.work / f"{name}-{len(self.procs)}.log", "wb")
        p = subprocess.Popen(args, env=env, stdin=stdin, stdout=stdout or log, stderr=log,
                             cwd=self.work, start_new_session=True, **self._user())
        log.close()
        self.procs.append(p)
        return p

    def _bus(self, name, folder):
        self._own(folder, 0o700)
        (folder / "bus.conf").write_text(BUS_CONFIG.format(folder=folder))
        p = self.spawn(name, ["dbus-daemon", f"--config-file={folder / 'bus.conf'}", "--nofork",
                              "--print-address=1"], stdout=subprocess.PIPE)
        address = _read_line(p.stdout, f"{name}'s address")
        p.stdout.close()
        if not address:
            raise RuntimeError(f"{name}: dbus-daemon named no address")
        return address

    def start(self):
        self._own(self.work, 0o755)
        self._own(self.runtime, 0o700)
        for sub in ("", ".config", ".local", ".local/state", ".local/share", ".local/share/gnome-shell",
                    ".local/share/gnome-shell/extensions", f".local/share/gnome-shell/extensions/{EXTENSION}"):
            self._own(self.home / sub, 0o700)
        ext = self.home / ".local/share/gnome-shell/extensions" / EXTENSION
        (ext / "extension.js").write_text(EXTENSION_JS)
        (ext / "metadata.json").write_text(json.dumps(
            {"uuid": EXTENSION, "name": "bench", "description": "bench", "shell-version": ["43"]}))
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(self.home),
                    "XDG_RUNTIME_DIR": str(self.runtime), "XDG_CONFIG_HOME": str(self.home / ".config"),
                    "XDG_STATE_HOME": str(self.home / ".local" / "state"),
                    "XDG_DATA_HOME": str(self.home / ".local" / "share"), "LANG": "C.UTF-8",
                    "XDG_CURRENT_DESKTOP": "GNOME", "XDG_SESSION_TYPE": "wayland",
                    "XDG_SESSION_DESKTOP": "gnome", "WAYLAND_DISPLAY": "wayland-0",
                    "XDG_SESSION_ID": SESSION_ID}
        # The system bus and logind first: gnome-shell asks for them at once.
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self._bus("system-bus", self.work / "system")
        self.spawn("logind", [SYSTEM_PYTHON, "-m", "dbusmock", "--system", "--template", "logind"])
        poll(lambda: self.run("dbus-send", f"--bus={self.env['DBUS_SYSTEM_BUS_ADDRESS']}",
                              "--print-reply", "--dest=org.freedesktop.login1",
                              "/org/freedesktop/login1", "org.freedesktop.DBus.Mock.AddSession",
                              f"string:{SESSION_ID}", "string:seat0",
                              f"uint32:{self.account.pw_uid}", f"string:{self.account.pw_name}",
                              "boolean:true")[0] == 0, what="the mock logind")
        # The session bus starts the real portals on demand (a config of its own would not).
        address = f"unix:path={self.runtime}/bus"
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.spawn("session-bus", ["dbus-daemon", "--session", "--nofork", f"--address={address}"])
        poll(lambda: (self.runtime / "bus").exists(), what="the session bus")
        for schema, key, value in SETTINGS:
            code, out = self.run("gsettings", "set", schema, key, value)
            if code != 0:
                raise RuntimeError(f"gsettings set {schema} {key}: {out}")
        self.spawn("gnome-shell", ["gnome-shell", "--wayland", "--headless", "--virtual-monitor",
                                   MONITOR])
        poll(lambda: (self.runtime / "wayland-0").exists(), timeout=START_WAIT,
             what=f"gnome-shell's socket (see {self.work})")
        poll(lambda: self.eval("global.context.unsafe_mode") == "true", timeout=START_WAIT,
             what="the shell's Eval (the bench's extension)")
        # mutter starts Xwayland itself and tells its own environment where.
        display = poll(lambda: json.loads(self.eval("imports.gi.GLib.getenv('DISPLAY')") or "null"),
                       timeout=START_WAIT, what="Xwayland's display")
        self.env["DISPLAY"] = display
        self.env["XAUTHORITY"] = str(poll(lambda: next(self.runtime.glob(".mutter-Xwaylandauth.*"), None),
                                          what="Xwayland's authority file"))
        self.keyboard = self.helper("keyboard")
        self.keyboard_line()  # mutter's session has started
        self.keysym("Escape")  # the overview goes, and windows can have the keyboard
        poll(lambda: self.eval("Main.overview.visible") == "false", what="the overview gone")
        return self

    def eval(self, js):
        """Runs JavaScript in the shell: its result as JSON text, or None."""
        code, out = self.run("gdbus", "call", "--session", "--dest", "org.gnome.Shell",
                             "--object-path", "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", js)
        if code != 0 or not out.startswith("(true, "):
            return None
        return out[len("(true, '"):-len("')\n")]

    def helper(self, *args, stdin=subprocess.PIPE, **extra):
        return self.spawn(f"helper-{args[0]}", [SYSTEM_PYTHON, str(HELPER), *args], stdin=stdin,
                          stdout=subprocess.PIPE, **extra)

    def keyboard_line(self):
        line = _read_line(self.keyboard.stdout, "mutter's remote keyboard")
        if line != "ok":
            raise RuntimeError(f"mutter's remote keyboard: {line!r}")

    def keysym(self, name):
        """A key through mutter's own RemoteDesktop session, as from the user's keyboard."""
        self.keyboard.stdin.write(f"{name}\n".encode())
        self.keyboard.stdin.flush()
        self.keyboard_line()

    def focus(self, title):
        js = (f"const w = global.get_window_actors().map(a => a.meta_window)"
              f".find(w => w.get_title() == {json.dumps(title)}); "
              f"w && w.activate(global.get_current_time()); !!w && w.has_focus()")
        return self.eval(js) == "true"

    def focused_title(self):
        return self.eval("global.display.focus_window ? global.display.focus_window.get_title() : ''")

    def input_source(self, index):
        """Switches to input source `index` as the keyboard shortcut would."""
        return self.eval("imports.ui.status.keyboard.getInputSourceManager()"
                         f".inputSources[{index}].activate(true); true") == "true"

    def consent(self, button, timeout=30.0):
        """Answers the portal's dialog through AT-SPI: "Share" (after ticking
        "Allow remote interaction") or "Cancel"."""
        def press():
            code, out = self.run(SYSTEM_PYTHON, str(HELPER), "consent", button)
            self.last_consent = out
            return code == 0
        poll(press, timeout=timeout, what=f"the consent dialog's {button!r} ({getattr(self, 'last_consent', '')})")

    def tarvik(self, **extra):
        """The program with no way of typing named (it chooses), its window on Wayland."""
        env = {k: v for k, v in extra.items()}
        return self.spawn("tarvik", [os.environ["TARVIK_EXE"]], QT_QPA_PLATFORM="wayland", **env)

    def log_text(self):
        log = self.home / ".local" / "state" / "tarvik" / "tarvik.log"
        return log.read_text(errors="replace") if log.exists() else ""

    def write_settings(self, text):
        folder = self.home / ".config" / "tarvik"
        self._own(folder, 0o700)
        (folder / "pelrin.ini").write_bytes(text.encode("cp1252"))
        os.chown(folder / "pelrin.ini", self.account.pw_uid, self.account.pw_gid)

    def stop(self):
        # Each group as a whole, the last started first: the shell after its clients.
        for p in reversed(self.procs):
            if p.stdin:
                p.stdin.close()
            try:
                os.killpg(p.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                p.wait(timeout=STOP_WAIT)
            except subprocess.TimeoutExpired:
                pass
        time.sleep(0.2)
        for p in reversed(self.procs):
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            if p.poll() is None:
                p.wait(timeout=STOP_WAIT)
        self.procs = []
        super().stop()


class GtkReceiver:
    """A GTK 3 window on Wayland (GDK_BACKEND=wayland) that logs each key it
    gets: its keysym name and the character it types."""

    def __init__(self, gnome, title="receiver", backend="wayland"):
        self.gnome, self.title = gnome, title
        self.log = gnome.work / f"{title}.jsonl"
        gnome.spawn(title, [SYSTEM_PYTHON, str(HELPER), "receiver", title, str(self.log)],
                    GDK_BACKEND=backend)
        poll(lambda: self.log.exists() and self.events(), what="the receiver's window")

    def events(self):
        if not self.log.exists():
            return []
        return [json.loads(x) for x in self.log.read_text().splitlines() if x.endswith("}")]

    def focus(self):
        poll(lambda: self.gnome.focus(self.title) and self.has_focus(), what="the receiver focused")

    def has_focus(self):
        focus = [e["focus"] for e in self.events() if "focus" in e]
        return bool(focus) and focus[-1]

    def presses(self):
        return [(e["key"], e["text"]) for e in self.events() if e.get("down")]

    def text(self):
        return "".join(e["text"] for e in self.events() if e.get("down"))

    def unreleased(self):
        down = {}
        for e in self.events():
            if "code" in e:
                down[e["code"]] = down.get(e["code"], 0) + (1 if e["down"] else -1)
        return sorted(c for c, n in down.items() if n != 0)
