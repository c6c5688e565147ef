"""Typing speed of the Linux program on a headless X display: tarvik at delay
0 against a bare loop (tools/xtest_loop: read the reader's line, type it with
XTestFakeKeyEvent, nothing else), each fed by a fake TCP reader of its own and
typing into the same receiving window, a line each in turn, so that both
meet the same load from the rest of the machine. A line is timed from the
reader's send until the receiver has logged its first and its last key press;
the processor time each program spent on its lines is read from /proc.

Two receivers, with the accessibility bus up as on a desktop: the bench's
Xlib window, which shows nothing there (tarvik cannot tell what arrived),
and a GTK 3 entry holding 4096 characters, put back to them after each line,
which tarvik reads back before the first key and after the last (lines of
at most 100 characters there: the entry itself is slow). What the
check cost each of tarvik's records comes from its log. A benchmark, not a
test: it reports and asserts nothing.

    TARVIK_LINUX_BUILD_DIR=build/linux python3 scripts/bench_typing_linux.py [RUNS] [LENGTH]

TARVIK_EXE, TARVIK_RECEIVER and TARVIK_XTEST_LOOP name other programs than
the build folder's.
"""
import os
import re
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools" / "bench"))
from bench import poll  # noqa: E402
from fake_reader import TcpReader  # noqa: E402
from field_read_bench import FieldReceiver, start_accessibility_bus  # noqa: E402
from linux_bench import MAIN, Bench, Receiver  # noqa: E402

RUNS, LENGTH = 5, 1500
# Beep and feedback off, the address, delay 0 (hidden number 0), no prefix
# and no suffixes, no timeout.
SETTINGS = '0\r\n0\r\n"{address}"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n'
# A barcode's characters: capitals (Shift around each) and digits.
ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
# A key press in the receiver's log that is no modifier.
PRESS = re.compile(rb"^KP kc=\d+ ks=(?!Shift_|Control_|Alt_|ISO_Level3)", re.M)
LINE_WAIT = 60.0
STOP_WAIT = 10.0
FIELD_CHARS = 4096  # what the GTK entry holds before each line
# A GTK 3 entry lays its whole line out again for each character: holding 4 KiB
# it takes about 200 a second here, so its lines are short ones.
FIELD_LINE = 100
FIELD_TITLE = "Bench GTK entry"
# The end of a typed record's log line: what reading the field back cost it.
RECORD = re.compile(r"Record of \d+ characters[^:\n]*: (typed; delivered|typed; cannot tell|arrived wrong|[^:\n]*)"
                    r"[^\n]*?(?: \((\d+) reads in ([\d.]+) ms; ([\d.]+) ms after the last key\))?$", re.M)


def program(env_name, target):
    build = Path(os.environ.get("TARVIK_LINUX_BUILD_DIR", ROOT / "build" / "linux")).resolve()
    path = Path(os.environ.get(env_name, build / target))
    if not path.exists():
        raise SystemExit(f"{path} does not exist: build the target {target} first")
    os.environ[env_name] = str(path)
    return str(path)


class PressCounter:
    """Key presses the receiver has logged, read as its log grows."""

    def __init__(self, log):
        self.log, self.offset, self.count, self.rest = log, 0, 0, b""

    def update(self):
        with open(self.log, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        self.offset += len(data)
        data = self.rest + data
        cut = data.rfind(b"\n") + 1
        self.count += len(PRESS.findall(data[:cut]))
        self.rest = data[cut:]
        return self.count


def cpu_seconds(pid):
    """User and system time of a process and its threads so far."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed_line(reader, counter, pid, text, logged):
    """Characters per second of one line, the program's processor time on it, and the
    seconds to its first key; `logged` (or None) counts the records the program has logged,
    as it does once it has read the field back."""
    # The classic line: its last character is not typed.
    data = (text + "X\r\n").encode("ascii")
    first = counter.update() + 1
    target = first - 1 + len(text)
    records = logged() if logged else 0
    cpu = cpu_seconds(pid)
    start = time.monotonic()
    latency = None
    reader.send(data)
    end = start + LINE_WAIT
    while counter.update() < target:
        if latency is None and counter.count >= first:
            latency = time.monotonic() - start
        if time.monotonic() > end:
            raise TimeoutError(f"{counter.count - target + len(text)} of {len(text)} keys arrived")
        time.sleep(0.002)
    speed = len(text) / (time.monotonic() - start)
    time.sleep(0.3)  # the receiver's log at rest, the program's last answers read
    if logged:
        poll(lambda: logged() > records, timeout=LINE_WAIT, what="the record in the program's log")
    return speed, cpu_seconds(pid) - cpu, latency if latency is not None else time.monotonic() - start


def timed_lines(programs, counter, runs, length, between=lambda: None):
    """For each (reader, pid, logged) a list of (speed, processor seconds, first key seconds),
    a line each in turn; `between` runs after each line."""
    results = [[] for _ in programs]
    for run in range(runs):
        text = "".join(ALPHABET[(run + i) % len(ALPHABET)] for i in range(length))
        for (reader, pid, logged), out in zip(programs, results):
            out.append(timed_line(reader, counter, pid, text, logged))
            between()
    return results


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=STOP_WAIT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=STOP_WAIT)


def summary(lines, length):
    speeds = [speed for speed, _, _ in lines]
    cpu = statistics.median(seconds for _, seconds, _ in lines) / length * 1e6
    first = [latency * 1000 for _, _, latency in lines]
    return (f"median {statistics.median(speeds):,.0f} chars/s, {cpu:.0f} us of processor a "
            f"character, first key after {statistics.median(first):.1f} ms "
            f"(runs: {', '.join(f'{s:,.0f}' for s in speeds)}; first key "
            f"{', '.join(f'{f:.1f}' for f in first)} ms)")


def check_cost(log):
    """What tarvik's log says its records came to, and what reading the field back cost them."""
    records = RECORD.findall(log)
    kinds = statistics.multimode(kind for kind, *_ in records)
    costs = [(int(n), float(t), float(after)) for _, n, t, after in records if n]
    out = f"{len(records)} records, most {' / '.join(kinds)}; "
    if not costs:
        return out + "no field read"

    def spread(values, unit):
        return (f"median {statistics.median(values):g}{unit}, worst {max(values):g}{unit} "
                f"(runs: {', '.join(f'{v:g}' for v in values)})")
    return (out + f"{len(costs)} checked: reads {spread([c[0] for c in costs], '')}; time in them "
            f"{spread([c[1] for c in costs], ' ms')}; verdict after the last key "
            f"{spread([c[2] for c in costs], ' ms')}")


def compare(name, ours, theirs, length, log):
    ratios = [a / b for (a, _, _), (b, _, _) in zip(ours, theirs)]
    print(f"{name}:")
    print(f"  bare XTest loop: {summary(theirs, length)}")
    print(f"  tarvik:          {summary(ours, length)}")
    print(f"  ratio tarvik / bare loop: median {statistics.median(ratios):.2f} "
          f"(runs: {', '.join(f'{r:.2f}' for r in ratios)})")
    print(f"  tarvik's check: {check_cost(log)}")


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else RUNS
    length = int(sys.argv[2]) if len(sys.argv) > 2 else LENGTH
    program("TARVIK_EXE", "tarvik")
    program("TARVIK_RECEIVER", "tarvik_receiver")
    loop = program("TARVIK_XTEST_LOOP", "tarvik_xtest_loop")
    bench = Bench("bench-typing", tray=True)
    reader, bare_reader = TcpReader(), TcpReader()
    try:
        bench.start()
        start_accessibility_bus(bench)
        bench.write_settings(SETTINGS.format(address=reader.address).encode("cp1252"))
        receiver = Receiver(bench)
        counter = PressCounter(receiver.log)

        tarvik = bench.tarvik()
        main_window = bench.wait_window(MAIN)
        # Ten seconds after start the window goes to the tray and the link opens.
        reader.wait_connected()
        poll(lambda: not bench.viewable(main_window), what="tarvik's window out of the way")
        bare = bench.spawn("xtest_loop", [loop, "127.0.0.1", str(bare_reader.port)])
        bare_reader.wait_connected()
        records = lambda: len(RECORD.findall(bench.log_text()))  # noqa: E731
        programs = [(reader, tarvik.pid, records), (bare_reader, bare.pid, None)]
        print(f"delay 0, lines of {length} characters, {runs} runs each, a line each in turn; "
              f"load {' '.join(Path('/proc/loadavg').read_text().split()[:3])}")
        bench.activate(receiver.window)
        ours, theirs = timed_lines(programs, counter, runs, length)
        log = bench.log_text()
        compare("Xlib window (no accessible field)", ours, theirs, length, log)

        field = FieldReceiver(bench, "gtk", FIELD_TITLE, "--text", str(FIELD_CHARS), "--keys")

        def reset():  # the field back to its 4 KiB after each line
            resets = field.lines().count("RESET")
            field.proc.send_signal(signal.SIGUSR2)
            poll(lambda: field.lines().count("RESET") > resets, what="the field put back")
        bench.activate(field.window)
        short = min(length, FIELD_LINE)
        ours, theirs = timed_lines(programs, PressCounter(field.log), runs, short, reset)
        stop(tarvik)
        compare(f"GTK 3 entry holding {FIELD_CHARS} characters, lines of {short}", ours, theirs, short,
                bench.log_text()[len(log):])
    finally:
        reader.stop()
        bare_reader.stop()
        bench.stop()


if __name__ == "__main__":
    main()
