"""The cost of reading back the focused field through AT-SPI: a GTK 3 entry and a Qt 6 line
edit holding 4 KiB each, read COUNT times by tarvik's own reader (tarvik_field_probe), on a
headless X display with a session bus and the accessibility bus of its own.
  field_read_bench.py [--count 200] [--chars 4096] [--limit-ms 200]
TARVIK_FIELD_PROBE names the probe (default: build/linux/tarvik_field_probe).
Also the helpers the end-to-end tests use: the accessibility bus on a bench, and the field."""
import argparse
import os
import signal
import subprocess
from pathlib import Path

from bench import poll
from linux_bench import SYSTEM_PYTHON, Bench, PrivateBus, bus_call

FIELD_RECEIVER = Path(__file__).resolve().parents[1] / "receiver" / "field_receiver.py"
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def start_accessibility_bus(bench):
    """A session bus of the bench's own with at-spi-bus-launcher on it, in bench.env for what
    is started after; both stop with the bench, the bus last."""
    bus = PrivateBus(bench.work / "session-bus")
    bench.procs.insert(0, bus.proc)
    # The launcher keeps IsEnabled in GSettings; without a dconf service on this bus only
    # the memory backend lets it change.
    bench.env.update(DBUS_SESSION_BUS_ADDRESS=bus.address, GSETTINGS_BACKEND="memory")
    bench.env.pop("NO_AT_BRIDGE", None)  # GTK's bridge
    bench.spawn("a11y-bus", [LAUNCHER, "--launch-immediately"])
    poll(lambda: bus_call(bus.address, bench.env, "--dest=org.a11y.Bus", "/org/a11y/bus",
                          "org.a11y.Bus.GetAddress"), what="the accessibility bus")
    return bus


def enable_accessibility(bench):
    """The bus's IsEnabled on, as tarvik sets it at start (Qt then shows its fields)."""
    subprocess.run(["gdbus", "call", "--address", bench.env["DBUS_SESSION_BUS_ADDRESS"], "--dest", "org.a11y.Bus",
                    "--object-path", "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Set",
                    "org.a11y.Status", "IsEnabled", "<true>"], env=bench.env, check=True, timeout=30,
                   stdout=subprocess.DEVNULL)


def accessible_names(bench, pid, depth=8):
    """The names of every object a program of process `pid` shows on the accessibility bus
    (a label's name is its text)."""
    script = f"""
import dbus
session = dbus.bus.BusConnection({bench.env["DBUS_SESSION_BUS_ADDRESS"]!r})
bus = dbus.bus.BusConnection(session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
    dbus_interface="org.a11y.Bus"))
ACC = "org.a11y.atspi.Accessible"
def walk(name, path, depth):
    o = bus.get_object(name, path, introspect=False)
    print(o.Get(ACC, "Name", dbus_interface="org.freedesktop.DBus.Properties"))
    if depth:
        for n, p in o.GetChildren(dbus_interface=ACC):
            walk(n, p, depth - 1)
root = bus.get_object("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", introspect=False)
for name, path in root.GetChildren(dbus_interface=ACC):
    if bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").GetConnectionUnixProcessID(
            name, dbus_interface="org.freedesktop.DBus") == {pid}:
        walk(name, path, {depth})
"""
    r = subprocess.run([SYSTEM_PYTHON, "-c", script], env=bench.env, capture_output=True, text=True, timeout=30)
    return r.stdout.splitlines() + ([r.stderr[-300:]] if r.returncode else [])


class FieldReceiver:
    """A GTK entry or a Qt line edit in a window of its own (tools/receiver/field_receiver.py)."""

    def __init__(self, bench, toolkit, title, *args):
        self.log = bench.work / f"field-{toolkit}-{len(bench.procs)}.log"
        self.proc = bench.spawn(f"field-{toolkit}", [SYSTEM_PYTHON, str(FIELD_RECEIVER), toolkit, str(self.log),
                                                     title, *args])
        poll(lambda: "MAPPED" in self.lines(), what=f"the {toolkit} field")
        self.window = bench.wait_window(title)

    def lines(self):
        return self.log.read_text(errors="replace").splitlines() if self.log.exists() else []

    def text(self):
        """The field's text now, as the widget itself has it."""
        before = len(self.lines())
        self.proc.send_signal(signal.SIGUSR1)
        line = poll(lambda: next((t for t in self.lines()[before:] if t.startswith("TEXT")), None),
                    what="the field's text")
        return bytes.fromhex(line[5:]).decode()

    def drops(self):
        return sum(t.startswith("DROP") for t in self.lines())


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--count", type=int, default=200)
    p.add_argument("--chars", type=int, default=4096)
    p.add_argument("--limit-ms", type=int, default=200)
    a = p.parse_args()
    probe = os.environ.get("TARVIK_FIELD_PROBE", "build/linux/tarvik_field_probe")
    bench = Bench("field-read", tray=False).start()
    try:
        start_accessibility_bus(bench)
        enable_accessibility(bench)
        for toolkit in ("gtk", "qt"):
            field = FieldReceiver(bench, toolkit, f"Field {toolkit}", "--text", str(a.chars))
            bench.activate(field.window)
            r = subprocess.run([probe, str(a.count), str(a.limit_ms)], env=bench.env, capture_output=True,
                               text=True, timeout=300, check=True)
            lines = r.stdout.splitlines()
            fields = sum(" field " in line for line in lines)
            load = Path("/proc/loadavg").read_text().split()[:3]
            print(f"{toolkit}: {fields}/{a.count} reads of a {a.chars}-character field; {lines[-1]}; "
                  f"load {' '.join(load)}")
            if fields != a.count:
                print("\n".join(line for line in lines if " none " in line)[:2000])
            field.proc.terminate()
            field.proc.wait(timeout=10)
    finally:
        bench.stop()


if __name__ == "__main__":
    main()
