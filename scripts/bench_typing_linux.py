"""Typing speed of the Linux program on a headless X display: tarvik at delay
0 against a bare loop (tools/xtest_loop: read the reader's line, type it with
XTestFakeKeyEvent, nothing else), each fed the same lines by the same fake TCP
reader and typing into the same receiving window. A line is timed from the
reader's send until the receiver has logged its last key press. A benchmark,
not a test: it reports and asserts nothing.

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


def timed_lines(reader, counter, runs, length):
    """Characters per second of each run: one line of `length` typed characters."""
    speeds = []
    for run in range(runs):
        text = "".join(ALPHABET[(run + i) % len(ALPHABET)] for i in range(length))
        # The classic line: its last character is not typed.
        data = (text + "X\r\n").encode("ascii")
        target = counter.update() + length
        start = time.monotonic()
        reader.send(data)
        end = start + LINE_WAIT
        while counter.update() < target:
            if time.monotonic() > end:
                raise TimeoutError(f"{counter.count - target + length} of {length} keys arrived")
            time.sleep(0.002)
        speeds.append(length / (time.monotonic() - start))
        time.sleep(0.3)  # the receiver's log at rest before the next line
    return speeds


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=STOP_WAIT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=STOP_WAIT)


def summary(speeds):
    return (f"median {statistics.median(speeds):,.0f} chars/s "
            f"(runs: {', '.join(f'{s:,.0f}' for s in speeds)})")


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else RUNS
    length = int(sys.argv[2]) if len(sys.argv) > 2 else LENGTH
    program("TARVIK_EXE", "tarvik")
    program("TARVIK_RECEIVER", "tarvik_receiver")
    loop = program("TARVIK_XTEST_LOOP", "tarvik_xtest_loop")
    bench = Bench("bench-typing", tray=True)
    reader = TcpReader()
    try:
        bench.start()
        bench.write_settings(SETTINGS.format(address=reader.address).encode("cp1252"))
        receiver = Receiver(bench)
        counter = PressCounter(receiver.log)

        tarvik = bench.tarvik()
        main_window = bench.wait_window(MAIN)
        # Ten seconds after start the window goes to the tray and the link opens.
        reader.wait_connected()
        poll(lambda: not bench.viewable(main_window), what="tarvik's window out of the way")
        bench.activate(receiver.window)
        ours = timed_lines(reader, counter, runs, length)
        stop(tarvik)

        poll(lambda: reader.peer_closed.is_set(), what="tarvik's link closed")
        bench.spawn("xtest_loop", [loop, "127.0.0.1", str(reader.port)])
        poll(lambda: reader.connections == 2 and not reader.peer_closed.is_set(),
             what="the bare loop to connect")
        bench.activate(receiver.window)
        bare = timed_lines(reader, counter, runs, length)

        print(f"delay 0, lines of {length} characters, {runs} runs each")
        print(f"  bare XTest loop: {summary(bare)}")
        print(f"  tarvik:          {summary(ours)}")
        print(f"  ratio tarvik / bare loop: {statistics.median(ours) / statistics.median(bare):.2f}")
    finally:
        reader.stop()
        bench.stop()


if __name__ == "__main__":
    main()
