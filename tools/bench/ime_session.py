"""An input-method framework on a Linux bench's display, as a desktop session
runs it: a private session bus, the framework's daemon on it, and the
variables that make GTK and Qt programs started afterwards use it.

Frameworks:
  none        no framework: GTK's own key handling (the control run)
  ibus        IBus with its xkb:us::eng engine, GTK through IBus's GTK 3 module
  ibus-xim    the same daemon, GTK through X's input-method protocol (XIM)
  fcitx5      Fcitx 5 with its keyboard-us engine, GTK through Fcitx's GTK 3 module
  fcitx5-xim  the same daemon, GTK through XIM

Everything started here is stopped by process id; processes the bus or the
daemons start on their own (activated services, engines, the XIM bridge) are
found afterwards by the private bus address in their environment.
"""
import os
import signal
import subprocess
import time
from dataclasses import dataclass

from bench import poll, wait_quiet
from linux_bench import STOP_WAIT, _xlib, run, stop_all

GTK_MODULES = "/usr/lib/x86_64-linux-gnu/gtk-3.0/3.0.0/immodules"
BUS_WAIT = 20.0  # a cold ibus-daemon builds its engine cache first
LOG_QUIET = 0.3
KEY_CALLS = ("type='method_call',interface='org.freedesktop.IBus.InputContext',"
             "member='ProcessKeyEvent'")
FCITX_TRACE_OPTION = "--verbose=key_trace=5"
FCITX_KEY_TRACE = "] KeyEvent: "  # a line of Fcitx's key_trace log for each key event


@dataclass(frozen=True)
class Framework:
    name: str
    daemon: tuple = ()          # the daemon's command line, () for none
    bus_name: str = ""          # the name it owns on the session bus once ready
    engine: str = ""            # what it types Latin text with
    gtk_module: str = ""        # GTK_IM_MODULE
    module_file: str = ""       # the GTK module a GTK program must have loaded
    xim_server: str = ""        # XMODIFIERS is @im=<this>; X selection @server=<this>
    package: str = ""           # where the daemon comes from, for the error message


# Fcitx without the parts a headless bench has no use for (its panel, tray item,
# clipboard and lookup add-ons) and without its IBus imitation, so a GTK program
# never takes it for IBus.
_FCITX = ("fcitx5", "--replace", FCITX_TRACE_OPTION,
          "--disable=ibusfrontend,notificationitem,classicui,kimpanel,clipboard,spell,emoji,"
          "quickphrase,unicode")
_IBUS = ("ibus-daemon", "--xim", "--panel=disable", "--emoji-extension=disable", "--replace")

FRAMEWORKS = {f.name: f for f in (
    Framework("none"),
    Framework("ibus", _IBUS, "org.freedesktop.IBus", "xkb:us::eng", "ibus",
              "im-ibus.so", "ibus", "ibus ibus-gtk3"),
    Framework("ibus-xim", _IBUS, "org.freedesktop.IBus", "xkb:us::eng", "xim",
              "im-xim.so", "ibus", "ibus"),
    Framework("fcitx5", _FCITX, "org.fcitx.Fcitx5", "keyboard-us", "fcitx", "im-fcitx5.so", "fcitx",
              "fcitx5 fcitx5-frontend-gtk3"),
    Framework("fcitx5-xim", _FCITX, "org.fcitx.Fcitx5", "keyboard-us", "xim", "im-xim.so", "fcitx",
              "fcitx5 fcitx5-frontend-gtk3"),
)}


def missing_tools(framework):
    """What this machine lacks to run `framework`, as messages (empty when nothing)."""
    out = []
    if framework.daemon and not _which(framework.daemon[0]):
        out.append(f"{framework.daemon[0]} is not installed (Debian: {framework.package})")
    if framework.module_file and not os.path.exists(f"{GTK_MODULES}/{framework.module_file}"):
        out.append(f"GTK 3 has no {framework.module_file} (Debian: {framework.package})")
    if not _which("dbus-daemon"):
        out.append("dbus-daemon is not installed (Debian: dbus)")
    return out


def _which(program):
    return any(os.access(os.path.join(d, program), os.X_OK)
               for d in os.environ.get("PATH", "").split(os.pathsep))


class ImeSession:
    """Started on a running linux_bench.Bench: its env gets the bus and the
    framework's variables, so programs the bench spawns afterwards use them."""

    def __init__(self, bench, framework, watch=True):
        self.bench = bench
        self.framework = framework
        self.watch = watch  # count the key events the framework is handed
        self.procs = []
        self.bus_address = None

    def start(self):
        f, env = self.framework, self.bench.env
        env["GSETTINGS_BACKEND"] = "memory"  # no dconf service on a private bus
        for name in ("GTK_IM_MODULE", "QT_IM_MODULE", "XMODIFIERS"):
            env.pop(name, None)
        # The bus even without a framework: GTK would otherwise start one of its own
        # through dbus-launch, that nothing here would stop.
        socket = self.bench.runtime / "bus"
        self.bus_address = f"unix:path={socket}"
        self._spawn("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                             f"--address={self.bus_address}"])
        poll(socket.exists, what="the session bus socket")
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        if not f.daemon:
            env["GTK_IM_MODULE"] = "gtk-im-context-simple"
            return self
        env.update(GTK_IM_MODULE=f.gtk_module, QT_IM_MODULE=f.gtk_module,
                   XMODIFIERS=f"@im={f.xim_server}")
        self._spawn(f.name, [a for a in f.daemon if self.watch or a != FCITX_TRACE_OPTION])
        poll(lambda: self._name_owned(f.bus_name), timeout=BUS_WAIT,
             what=f"{f.daemon[0]} to own {f.bus_name} (TARVIK_KEEP_E2E=1 keeps its log)")
        if f.name.startswith("ibus"):
            self._run("ibus", "engine", f.engine)
            poll(lambda: self._run("ibus", "engine").strip() == f.engine,
                 what=f"IBus to use {f.engine}")
        if f.name.startswith("ibus") and self.watch:
            # IBus runs a bus of its own: every key a client hands it is a
            # ProcessKeyEvent call there, which a monitor on that bus counts.
            self._spawn("ibus-keys", ["dbus-monitor", "--address", self._run("ibus", "address")
                                      .strip(), KEY_CALLS])
        poll(self.xim_server_owner, timeout=BUS_WAIT,
             what=f"the XIM server @server={f.xim_server} on the display")
        return self

    def keys_seen(self):
        """Key events the framework has been handed so far (press and release each
        count), or None without a framework."""
        f = self.framework
        if not f.daemon or not self.watch:
            return None
        # The monitor and the daemon write as they go: what is logged has settled
        # once the log stops growing.
        wait_quiet(self.bench.work / f"{'ibus-keys' if f.name.startswith('ibus') else f.name}.log",
                   LOG_QUIET)
        if f.name.startswith("ibus"):
            return self._log("ibus-keys").count("member=ProcessKeyEvent")
        return self._log(f.name).count(FCITX_KEY_TRACE)

    def _log(self, name):
        return (self.bench.work / f"{name}.log").read_text(errors="replace")

    def _spawn(self, name, args):
        log = open(self.bench.work / f"{name}.log", "wb")
        # A session of its own, so its children can be told from the bench's.
        p = subprocess.Popen(args, env=self.bench.env, stdin=subprocess.DEVNULL, stdout=log,
                             stderr=log, start_new_session=True)
        log.close()
        self.procs.append(p)
        return p

    def _run(self, *args):
        return run(args, self.bench.env)

    def _name_owned(self, name):
        r = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                            f"string:{name}"], env=self.bench.env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=30)
        return r.returncode == 0 and b"boolean true" in r.stdout

    def xim_server_owner(self):
        """The window owning the X selection @server=<name>, as XIM clients find it; 0 if none."""
        if not self.framework.xim_server:
            return 0
        x, d = _xlib(), self.bench._display()
        return x.XGetSelectionOwner(d, x.XInternAtom(d, f"@server={self.framework.xim_server}"
                                                     .encode(), 0))

    def xim_servers(self):
        """The root window's XIM_SERVERS property as xprop shows it."""
        r = subprocess.run(["xprop", "-root", "XIM_SERVERS"], env=self.bench.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return r.stdout.decode(errors="replace").strip()

    def module_loaded(self, pid):
        """Whether process `pid` has the framework's GTK module mapped (True when none is due)."""
        if not self.framework.module_file:
            return True
        try:
            with open(f"/proc/{pid}/maps") as maps:
                return any(line.rstrip().endswith("/" + self.framework.module_file)
                           for line in maps)
        except OSError:
            return False

    def stop(self):
        stop_all(self.procs)
        if self.bus_address:
            self._end_stragglers()

    def _end_stragglers(self):
        """Ends what the bus or the daemon started and left: every process whose
        environment names this bench's private bus, by its id."""
        mark = f"DBUS_SESSION_BUS_ADDRESS={self.bus_address}".encode()
        end = time.monotonic() + STOP_WAIT
        while True:
            left = []
            for entry in os.listdir("/proc"):
                if not entry.isdigit() or int(entry) == os.getpid():
                    continue
                try:
                    with open(f"/proc/{entry}/environ", "rb") as e:
                        if mark in e.read().split(b"\0"):
                            left.append(int(entry))
                except OSError:
                    continue
            if not left:
                return
            sig = signal.SIGTERM if time.monotonic() < end else signal.SIGKILL
            for pid in left:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            time.sleep(0.2)
