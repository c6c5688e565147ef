"""A headless KDE Plasma 5.27 compositor for the end-to-end tests, run as an
ordinary user: a copy of kwin_wayland (the installed one carries file
capabilities, which a container refuses to exec) with a virtual output and
Xwayland, its own session bus on which the real xdg-desktop-portal and
xdg-desktop-portal-kde come up by activation. A keyboard-only RemoteDesktop
session is allowed there at once, with no dialog. Keys are read back from the
GNOME bench's GTK receiver, which gets the focus as the newest window."""
import os
import shutil
from pathlib import Path

from bench import poll
from gnome_bench import Gnome

TOOLS = ("kwin_wayland", "dbus-daemon", "/usr/libexec/xdg-desktop-portal",
         "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde")
SOCKET = "wayland-kde"
START_WAIT = 60.0


def missing_tools():
    return [t for t in TOOLS if not shutil.which(t)]


class Kde(Gnome):
    def __init__(self, name="kde"):
        super().__init__(name)

    def start(self):
        self._own(self.work, 0o755)
        self._own(self.runtime, 0o700)
        for sub in ("", ".config", ".local", ".local/state", ".local/share"):
            self._own(self.home / sub, 0o700)
        kwin = self.work / "kwin_wayland"
        shutil.copy(shutil.which("kwin_wayland"), kwin)  # a copy carries no file capabilities
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(self.home),
                    "XDG_RUNTIME_DIR": str(self.runtime), "XDG_CONFIG_HOME": str(self.home / ".config"),
                    "XDG_STATE_HOME": str(self.home / ".local" / "state"),
                    "XDG_DATA_HOME": str(self.home / ".local" / "share"), "LANG": "C.UTF-8",
                    "XDG_CURRENT_DESKTOP": "KDE", "XDG_SESSION_TYPE": "wayland",
                    "KDE_FULL_SESSION": "true", "WAYLAND_DISPLAY": SOCKET, "QT_QPA_PLATFORM": "wayland"}
        address = f"unix:path={self.runtime}/bus"
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.spawn("session-bus", ["dbus-daemon", "--session", "--nofork", f"--address={address}"])
        poll(lambda: (self.runtime / "bus").exists(), what="the session bus")
        self.kwin = self.spawn("kwin", [str(kwin), "--virtual", "--xwayland", "--width", "1280", "--height", "800",
                            "--socket", SOCKET])
        poll(lambda: (self.runtime / SOCKET).exists(), timeout=START_WAIT,
             what=f"kwin's socket (see {self.work})")
        display = poll(lambda: self._xwayland_display(), timeout=START_WAIT, what="Xwayland's display")
        self.env["DISPLAY"] = display
        return self

    def _xwayland_display(self):
        """The display of kwin's own Xwayland, from its command line (another
        desktop of the same user may have one too)."""
        for proc in Path("/proc").iterdir():
            try:
                if not proc.name.isdigit() or (proc / "comm").read_text().strip() != "Xwayland":
                    continue
                if int((proc / "stat").read_text().rsplit(")", 1)[1].split()[1]) != self.kwin.pid:
                    continue
                args = (proc / "cmdline").read_bytes().decode(errors="replace").split("\0")
            except (OSError, ValueError, IndexError):
                continue
            return next((a for a in args if a.startswith(":") and a[1:].isdigit()), None)
        return None
