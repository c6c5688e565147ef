"""A headless sway session for the end-to-end tests, run as an ordinary user
(sway will not run as root): its own runtime folder, no bar; with Xwayland
and a user's own keyboard layout in its config when asked. wev as the native
receiving window, its keys read back from its log; the bench's X receiver
under Xwayland."""
import os
import pwd
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

from bench import poll
from linux_bench import Receiver, stop_all

USER = "tarvik-e2e"  # made when the tests run as root and it is not there
CONFIG = """xwayland {xwayland}
output HEADLESS-1 resolution 1024x768
"""
# sway 1.7 to 1.9 put this layout on every keyboard, virtual ones included,
# at each reload.
LAYOUT = "input type:keyboard xkb_layout {layout}\n"
TOOLS = ("sway", "swaymsg", "wev", "stdbuf")
X_TOOLS = ("Xwayland", "xkbcomp")


def missing_tools(xwayland=False):
    return [t for t in TOOLS + (X_TOOLS if xwayland else ()) if not shutil.which(t)]


def _account():  # ourselves, or when root an ordinary user of our own
    if os.geteuid() != 0:
        return pwd.getpwuid(os.geteuid())
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        USER], check=True)
        return pwd.getpwnam(USER)


class Sway:
    def __init__(self, name, xwayland=False, layout=None):
        self.account = _account()
        self.work = Path(tempfile.mkdtemp(prefix=f"tarvik-e2e-{name}-"))
        self.runtime = self.work / "run"
        self.home = self.work / "home"
        self.procs = []
        self.env = None
        self.compositor = None
        self.config = CONFIG.format(xwayland="enable" if xwayland else "disable")
        if layout:
            self.config += LAYOUT.format(layout=layout)

    def _own(self, path, mode):
        path.mkdir(parents=True, exist_ok=True, mode=mode)
        os.chmod(path, mode)
        os.chown(path, self.account.pw_uid, self.account.pw_gid)

    def start(self):
        self._own(self.work, 0o755)
        self._own(self.runtime, 0o700)
        for sub in ("", ".config", ".local", ".local/state"):
            self._own(self.home / sub, 0o700)
        (self.work / "sway.conf").write_text(self.config)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(self.home),
                    "XDG_RUNTIME_DIR": str(self.runtime), "XDG_CONFIG_HOME": str(self.home / ".config"),
                    "XDG_STATE_HOME": str(self.home / ".local" / "state"), "LANG": "C.UTF-8",
                    "NO_AT_BRIDGE": "1"}
        return self.start_compositor()

    def start_compositor(self):
        """sway itself, again after stop_compositor: the same socket name."""
        self.compositor = self.spawn("sway", ["sway", "-c", str(self.work / "sway.conf")],
                                     WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                                     WLR_RENDERER="pixman")
        log = self.work / f"sway-{len(self.procs) - 1}.log"
        poll(lambda: (self.runtime / "wayland-1").exists() and self._ipc(), timeout=30,
             what=f"sway's sockets (see {log})")
        self.env.update(WAYLAND_DISPLAY="wayland-1", SWAYSOCK=str(self._ipc()), XDG_SESSION_TYPE="wayland")
        return self

    def stop_compositor(self):
        """sway alone: its clients lose their connection, the socket goes."""
        stop_all([self.compositor])
        poll(lambda: not (self.runtime / "wayland-1").exists() and not self._ipc(),
             what="sway's sockets gone")

    def x_display(self):
        """The display of sway's Xwayland, as sway hands it to what it starts."""
        where = self.work / "display"
        self.swaymsg("exec", f"echo $DISPLAY > {where}")
        return poll(lambda: where.exists() and where.read_text().strip(), what="sway's X display")

    def _ipc(self):
        socks = sorted(self.runtime.glob("sway-ipc.*.sock"))
        return socks[0] if socks else None

    def _user(self):
        # As root the child becomes the user itself: the very process we stop and wait for.
        if os.geteuid() != 0:
            return {}
        return dict(user=self.account.pw_uid, group=self.account.pw_gid, extra_groups=[])

    def spawn(self, name, args, stdin=subprocess.DEVNULL, stdout=None, **extra):
        # As the session's user; its output goes to <name>-<n>.log.
        env = dict(self.env, **extra)
        log = open(self.work / f"{name}-{len(self.procs)}.log", "wb")
        p = subprocess.Popen(args, env=env, stdin=stdin, stdout=stdout or log, stderr=log,
                             cwd=self.work, **self._user())
        log.close()
        self.procs.append(p)
        return p

    def run(self, *args):  # a short command as the session's user: (exit code, output)
        p = subprocess.run(list(args), env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                           cwd=self.work, timeout=30, **self._user())
        return p.returncode, (p.stdout + p.stderr).decode(errors="replace")

    def swaymsg(self, *args):
        code, out = self.run("swaymsg", *args)
        if code != 0:
            raise RuntimeError(f"swaymsg {' '.join(args)} failed: {out}")
        return out

    def focus(self, criteria):
        """Once the window is mapped: a client's first configure comes before."""
        poll(lambda: self.run("swaymsg", f"{criteria} focus")[0] == 0, what=f"{criteria} focused")

    def stop(self):
        stop_all(self.procs, one_by_one=True)  # sway goes after its clients
        if os.environ.get("TARVIK_KEEP_E2E") != "1":
            shutil.rmtree(self.work, ignore_errors=True)


KEY = re.compile(r"\] key: serial: \d+; time: \d+; key: (\d+); state: (\d)")
SYM = re.compile(r"sym: (\S+)\s+\((\d+)\), utf8: '(.*)'$")


class Wev:
    def __init__(self, sway):
        self.sway = sway
        self.log = sway.work / f"wev-keys-{len(sway.procs)}.log"
        sway.spawn("wev", ["sh", "-c", f"exec stdbuf -oL wev > '{self.log}'"])
        poll(lambda: "xdg_toplevel] configure" in self._text(), what="wev's window")

    def _text(self):
        # Bytes as written: text mode would turn Return's carriage return into a line feed.
        return self.log.read_bytes().decode(errors="replace") if self.log.exists() else ""

    def focus(self):
        self.sway.focus("[app_id=wev]")

    def has_keyboard(self):
        return "wl_keyboard] enter" in self._text()

    def keys(self):  # [(evdev code, down, keysym name, utf8)] in the order wev got them
        out, pending = [], None
        for line in self._text().split("\n"):
            m = KEY.search(line)
            if m:
                pending = (int(m.group(1)), m.group(2) == "1")
                continue
            m = SYM.search(line)
            if m and pending:
                out.append(pending + (m.group(1), m.group(3)))
                pending = None
        return out

    def presses(self):  # [(keysym name, utf8)]
        return [(sym, text) for _, down, sym, text in self.keys() if down]

    def typed(self, start=0):  # the presses from the `start`th on
        return self.presses()[start:]

    def wait_presses(self, count, timeout=20.0):
        try:
            return poll(lambda: len(self.presses()) >= count and self.presses(), timeout=timeout,
                        what=f"{count} keys in wev")
        except TimeoutError as e:
            raise TimeoutError(f"{e}; got {self.presses()}") from None

    def unreleased(self):
        down = {}
        for code, pressed, _, _ in self.keys():
            down[code] = down.get(code, 0) + (1 if pressed else -1)
        return sorted(code for code, n in down.items() if n != 0)


class XReceiver(Receiver):
    """The bench's X receiver under sway's Xwayland, focused through sway."""

    def __init__(self, sway, display):
        self.sway = sway
        self.log = sway.work / "x-receiver.log"
        sway.spawn("x-receiver", [os.environ["TARVIK_RECEIVER"], str(self.log), self.TITLE],
                   DISPLAY=display)
        poll(lambda: self.log.exists() and "MAPPED" in self.log.read_text(), what="the X receiver")

    def focus(self):
        self.sway.focus(f'[title="{self.TITLE}"]')

    def typed(self, start=0):  # [(keysym name, utf8)] of the presses from the `start`th on
        return [(e["ks"], e["txt"]) for e in self.events() if e["kind"] == "KP"][start:]
