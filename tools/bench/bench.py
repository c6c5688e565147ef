"""The Wine bench: a headless X display, a Wine virtual desktop with a private
prefix, and helpers to run the Windows programs inside it and watch what they do.

Everything it starts it stops, by process id. A template prefix is made once per
build folder and copied for each bench, so every test starts from a clean
C:\\windows.
"""
import ctypes
import fcntl
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
DESKTOP = "TarvikE2E"
MAIN = "QUILLMARKS Tarvik"  # the main window's title


def win_build_dir():
    return Path(os.environ.get("TARVIK_WINDOWS_BUILD_DIR", "build/windows")).resolve()


def wine_path(path):
    """A Linux path as Windows programs under Wine name it (drive Z: is /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wait_quiet(path, quiet):
    """Until the file has not grown for `quiet` seconds: a receiver's log is
    written as keys are read, some time after they were sent."""
    last, since = -1, time.monotonic()
    while True:
        size = path.stat().st_size
        if size != last:
            last, since = size, time.monotonic()
        elif time.monotonic() - since >= quiet:
            return
        time.sleep(0.05)


def poll(predicate, timeout=20.0, interval=0.05, what="condition"):
    """Calls predicate until it returns something true; raises after timeout."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise TimeoutError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


class Bench:
    def __init__(self, name):
        self.exe_dir = win_build_dir()
        root = self.exe_dir / "e2e"
        root.mkdir(parents=True, exist_ok=True)
        self.root = root
        self.work = Path(tempfile.mkdtemp(prefix=f"{name}-", dir=root))
        self.prefix = self.work / "prefix"
        self.procs = []
        self.xvfb = None
        self.display = None
        self.env = None

    # ---- set-up and teardown -------------------------------------------------
    def start(self, dpi=None):
        self._start_xvfb()
        template = self._template_prefix()
        subprocess.run(["cp", "-a", str(template), str(self.prefix)], check=True)
        self.env = self._wine_env(self.prefix)
        if dpi:
            # Wine takes the display's pixels per inch from the registry when
            # it starts: set it, then let the wineserver end before the run.
            subprocess.run([WINE, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                            "/t", "REG_DWORD", "/d", str(dpi), "/f"], env=self.env, timeout=60,
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=self.env, timeout=60)
        # At its end the wineserver lists the objects still alive (a serial
        # port's pending reads among them) on its error output: keep that out
        # of the test's output, in the bench's folder beside the prefix.
        with open(self.work / "wineserver.log", "ab") as log:
            subprocess.run([WINESERVER, "-p"], env=self.env, check=True, stdout=log, stderr=log)
        # The first call starts Wine's services, which inherit its output: keep
        # them away from any pipe a later call reads.
        subprocess.run([WINE, "cmd", "/c", "exit"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=120)
        return self

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.kill()
        for p in self.procs:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        if self.env:
            subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            try:
                subprocess.run([WINESERVER, "-w"], env=self.env, timeout=20)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        if os.environ.get("TARVIK_KEEP_E2E") != "1":
            shutil.rmtree(self.prefix, ignore_errors=True)

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()  # what start() got running before it failed
            raise

    def __exit__(self, *exc):
        if exc[0] is not None:
            try:
                self.screenshot("failure")
            except Exception:  # the screenshot must not hide the real failure
                pass
        self.stop()

    def _start_xvfb(self):
        for n in range(90, 190):
            if Path(f"/tmp/.X{n}-lock").exists() or Path(f"/tmp/.X11-unix/X{n}").exists():
                continue
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x1024x24", "-nolisten",
                                     "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            env = dict(os.environ, DISPLAY=f":{n}")
            try:
                poll(lambda: proc.poll() is not None or subprocess.run(
                    ["xdpyinfo"], env=env, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL).returncode == 0, timeout=15, what="Xvfb")
            except TimeoutError:
                proc.kill()
                proc.wait()
                continue
            if proc.poll() is None:
                self.xvfb, self.display = proc, f":{n}"
                return
        raise RuntimeError("no free X display number for Xvfb")

    def _wine_env(self, prefix):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", DISPLAY=self.display,
                   WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv=d")
        return env

    def _template_prefix(self):
        template = self.root / "prefix-template"
        with open(self.root / "prefix-template.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if (template / ".complete").exists():
                return template
            shutil.rmtree(template, ignore_errors=True)
            env = self._wine_env(template)
            quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         stdin=subprocess.DEVNULL)
            try:
                subprocess.run([WINE, "wineboot", "-i"], env=env, timeout=300, check=True,
                               **quiet)
                # Every program lands in one virtual desktop, chosen in the registry.
                subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\Explorer", "/v",
                                "Desktop", "/d", DESKTOP, "/f"], env=env, timeout=60, check=True,
                               **quiet)
                subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops",
                                "/v", DESKTOP, "/d", "1024x768", "/f"], env=env, timeout=60,
                               check=True, **quiet)
            except BaseException:
                # The template's own wineserver, and the programs it holds.
                subprocess.run([WINESERVER, "-k"], env=env, **quiet)
                raise
            subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
            (template / ".complete").touch()
            return template

    # ---- running programs ----------------------------------------------------
    def exe(self, name):
        return str(self.exe_dir / name)

    def run(self, exe, *args, timeout=60, check=True):
        """Runs a Windows program to its end; returns (exit code, stdout)."""
        r = subprocess.run([WINE, self.exe(exe), *map(str, args)], env=self.env, timeout=timeout,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        out = r.stdout.decode("utf-8", "replace")
        if os.environ.get("TARVIK_BENCH_TRACE"):
            print(f"[bench] {exe} {' '.join(map(str, args))} -> {r.returncode}", flush=True)
        if check and r.returncode != 0:
            raise RuntimeError(f"{exe} {' '.join(map(str, args))} exited {r.returncode}: "
                               f"{out} {r.stderr.decode('utf-8', 'replace')}")
        return r.returncode, out

    def spawn(self, exe, *args, stdin=False, stdout=None):
        """Starts a Windows program; with stdin=True it reads from a pipe
        (p.stdin); with stdout a path, its output goes to that file."""
        out = open(stdout, "wb") if stdout else subprocess.DEVNULL
        p = subprocess.Popen([WINE, self.exe(exe), *map(str, args)], env=self.env,
                             stdout=out, stderr=subprocess.DEVNULL,
                             stdin=subprocess.PIPE if stdin else subprocess.DEVNULL)
        if stdout:
            out.close()
        self.procs.append(p)
        return p

    # Queries that change nothing, safe to ask twice.
    READ_ONLY = {"keystate", "state", "foreground", "wait", "msgbox", "getsel", "getcheck",
                 "gettext", "pixel", "rect", "client", "winrect", "taborder"}

    def wbench(self, *args, check=True):
        code, out = self.run("wbench.exe", *args, check=False)
        if code != 0 and not out and args[0] in self.READ_ONLY:
            # Seen once in CI: the helper process ended with 1 and said
            # nothing, which its code cannot do. A query is asked again.
            print(f"[bench] wbench {' '.join(map(str, args))} died silently; asking again",
                  flush=True)
            code, out = self.run("wbench.exe", *args, check=False)
        if check and code != 0:
            raise RuntimeError(f"wbench.exe {' '.join(map(str, args))} exited {code}: {out}")
        return out.strip()

    # ---- tarvik.exe -----------------------------------------------------------
    def tarvik(self):
        """tarvik.exe, started, once its window shows."""
        proc = self.spawn("tarvik.exe")
        self.wait_visible(MAIN)
        return proc

    def wait_tray(self):
        poll(lambda: self.wbench("state", MAIN) == "visible=0 iconic=1", timeout=40, interval=0.5,
             what="the window in the tray")

    def write_settings(self, address):
        """C:\\windows\\pelrin.ini for a reader at address, with feedback on and nothing else."""
        (self.prefix / "drive_c" / "windows" / "pelrin.ini").write_bytes(
            f'0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n'.encode())

    def log_text(self):
        """The program's log, "" before it is written."""
        path = next(self.prefix.glob("drive_c/users/*/AppData/Local/Tarvik/tarvik.log"), None)
        return path.read_text(encoding="utf-8") if path else ""

    # ---- helpers inside the desktop -----------------------------------------
    def wait_window(self, title, timeout_ms=20000):
        return int(self.wbench("wait", title, timeout_ms))

    def wait_visible(self, title, timeout=20.0):
        self.wait_window(title)
        poll(lambda: "visible=1" in self.wbench("state", title), timeout=timeout,
             what=f"window {title!r} shown")

    def control_id(name):
        """The window identifier of a control of the main window, by its name."""
        bases = {"Combo": 1000, "Check": 1100, "Label": 1200, "Command": 1300, "Picture": 1400}
        kind = name.rstrip("0123456789")
        return bases[kind] + int(name[len(kind):])

    control_id = staticmethod(control_id)

    def focus(self, title):
        self.wbench("focus", title)

    def post(self, title, msg, wparam=0, lparam=0):
        self.wbench("post", title, msg, wparam, lparam)

    def message_box_text(self, caption):
        return self.wbench("msgbox", caption)

    def press_button(self, caption, button_id):
        self.wbench("press", caption, button_id)

    def key_state(self):
        """{'held': [modifier keys down]}."""
        names = self.wbench("keystate").split("=", 1)[1]
        return {"held": [n for n in names.split(",") if n]}

    def set_caps_lock(self, on, receiver):
        """Sets Caps Lock as a user's key press would, and checks it with a probe
        key in the receiver: a bare "A" key arrives as "A" only with Caps Lock on.

        Wine follows the X server's lock state and re-syncs to it whenever a
        window comes forward, so the lock is set in the X server itself (an
        injected VK_CAPITAL would be undone); an X Shift press then makes Wine
        apply it, as a key press of its own."""
        x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XkbLockModifiers.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_uint,
                                         ctypes.c_uint]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        dpy = x11.XOpenDisplay(self.display.encode())
        if not dpy:
            raise RuntimeError(f"cannot open X display {self.display}")
        lock_mask, use_core_kbd = 2, 0x100
        x11.XkbLockModifiers(dpy, use_core_kbd, lock_mask, lock_mask if on else 0)
        x11.XCloseDisplay(dpy)  # flushes the request
        subprocess.run(["xdotool", "key", "Shift_L"], env=self.env, check=True)
        for _ in range(20):
            before = receiver.text()
            self.wbench("tap", "0x41")
            probe = poll(lambda: receiver.text()[len(before):], what="the Caps Lock probe")
            if (probe == "A") == on:
                return
            time.sleep(0.2)  # Wine applies the X state with a lag; probe again
        raise RuntimeError(f"Caps Lock could not be set {'on' if on else 'off'}")

    def desktop_windows(self):
        r = subprocess.run(["xdotool", "search", "--name", f"{DESKTOP} - Wine desktop"],
                           env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return r.stdout.decode().split()

    def screenshot(self, name):
        out = self.work / f"{name}.png"
        subprocess.run(["import", "-display", self.display, "-window", "root", str(out)],
                       env=self.env, timeout=30, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return out


class Receiver:
    """The receiving window and its key log."""

    TITLE = "Tarvik Receiver"

    def __init__(self, bench, title=TITLE, options=()):
        self.bench = bench
        self.title = title
        self.log = bench.work / f"receiver-{len(bench.procs)}.log"
        bench.spawn("receiver.exe", *options, wine_path(self.log), title)
        bench.wait_window(title)
        poll(lambda: self.log.exists(), what="the receiver's log")

    def events(self):
        out = []
        for line in self.log.read_text(errors="replace").splitlines():
            parts = line.split()
            if len(parts) < 6:
                continue
            f = dict(p.split("=", 1) for p in parts[1:])
            out.append({"kind": parts[0], "vk": int(f["vk"], 16), "sc": int(f["sc"], 16),
                        "ext": f["ext"] == "1", "ch": int(f["ch"], 16), "t": int(f["t"]),
                        "at": int(f.get("at", f["t"])), "us": int(f.get("us", 0))})
        return out

    def text(self):
        return "".join(chr(e["ch"]) for e in self.events() if e["kind"] == "CH")

    def wait_text(self, expected, timeout=20.0):
        """Waits until the typed text ends with `expected`, then until the log
        has been quiet for a moment (SendInput returns before keys are read)."""
        poll(lambda: self.text().endswith(expected), timeout=timeout,
             what=f"{expected!r} in the receiver (got {self.text()!r})")
        self.wait_quiet()
        return self.text()

    def wait_quiet(self, quiet=0.3):
        wait_quiet(self.log, quiet)
