"""Typing speed under Wine: the program's keystroke output at delay 0 against a
bare SendInput loop in the same run, the measured gaps at delays 10 and 50,
what the reach decision adds before a record's first key, and the first key of
a scanned line from tarvik.exe in the tray against a bare receive-and-SendInput
loop, taking turns on the same receiver (an edit field holding 4 KiB, read back
before the first key and after the last); then, with Feedback on, the time
from the last key handled to the reader's "F", in which the field is read back.
Measured until the receiving window has handled the last character, not until
SendInput returns. A benchmark, not a test: it reports and asserts nothing.

    TARVIK_WINDOWS_BUILD_DIR=build/windows python3 scripts/bench_typing.py [TURNS]
"""
import re
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools" / "bench"))
from bench import Bench, Receiver, poll  # noqa: E402
from fake_reader import TcpReader  # noqa: E402

N = 300
ROUNDS = 40
# The reader's classic line: its last character before CR LF is not typed.
LINE = b"k7q2\r\n"
TYPED = 3
# What the field holds before the lines, and the answer's own wait after the
# read-back: Pause 100 ms, then the feedback's 200 ms.
FIELD = "4096"
ANSWER_WAIT_US = 300_000


def host_us():
    """Wine's performance counter is the host's raw monotonic clock."""
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW) // 1000


def first_key_us(receiver, reader):
    """Microseconds from the line's last byte leaving the reader to its first
    key reaching the receiving window."""
    start = len(receiver.events())
    sent = host_us()
    reader.send(LINE)
    poll(lambda: sum(e["kind"] == "CH" for e in receiver.events()[start:]) >= TYPED,
         timeout=30, what="the line typed")
    first = next(e for e in receiver.events()[start:] if e["kind"] == "KD")
    return first["us"] - sent


def answer_after_last_key_us(receiver, reader):
    """Microseconds from the receiving window handling a line's last key to the
    reader getting its "F": the read-back of the field, then the answer's own
    wait (100 ms, then the feedback's 200 ms)."""
    start, answered = len(receiver.events()), len(reader.received())
    reader.send(LINE)
    poll(lambda: sum(e["kind"] == "CH" for e in receiver.events()[start:]) >= TYPED,
         timeout=30, what="the line typed")
    poll(lambda: len(reader.received()) > answered, timeout=30, what="the reader answered")
    f_at = reader.byte_times()[answered][0]
    raw_minus_mono_us = host_us() - time.monotonic() * 1e6  # the reader's clock is CLOCK_MONOTONIC
    last = [e for e in receiver.events()[start:] if e["kind"] == "CH"][-1]
    return (f_at * 1e6 + raw_minus_mono_us) - last["us"]


def first_keys(bench):
    """tarvik.exe (in the tray, feedback off) and the bare loop take turns, into
    an edit field that holds 4 KiB already: Tarvik reads it before the first key
    and again after the last."""
    receiver = Receiver(bench, "Field Receiver", options=("--fill", FIELD))
    ours, bare = TcpReader(), TcpReader()
    try:
        ini = bench.prefix / "drive_c" / "windows" / "pelrin.ini"
        ini.write_bytes(f'0\r\n0\r\n"{ours.address}"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n'.encode())
        bench.spawn("tarvik.exe")
        bench.spawn("wbench.exe", "loop", bare.port)
        ours.wait_connected(timeout=60)
        bare.wait_connected(timeout=60)
        poll(lambda: bench.wbench("state", "QUILLMARKS Tarvik") == "visible=0 iconic=1",
             timeout=60, interval=0.5, what="tarvik.exe in the tray")
        bench.focus(receiver.title)
        pairs = []
        for _ in range(ROUNDS):
            pairs.append((first_key_us(receiver, ours), first_key_us(receiver, bare)))
            receiver.wait_quiet(0.1)
        ours_us = [a for a, _ in pairs]
        bare_us = [b for _, b in pairs]
        late = [a - b for a, b in pairs]
        print(f"first key after the line's end, {ROUNDS} turns each: Tarvik median "
              f"{statistics.median(ours_us) / 1000:.2f} ms, bare loop "
              f"{statistics.median(bare_us) / 1000:.2f} ms; Tarvik later by a median "
              f"{statistics.median(late) / 1000:.2f} ms (quartiles "
              f"{statistics.quantiles(late, n=4)[0] / 1000:.2f}, "
              f"{statistics.quantiles(late, n=4)[2] / 1000:.2f})")
        # Feedback on: the reader hears after the field is read back.
        bench.wbench("click", "QUILLMARKS Tarvik", Bench.control_id("Check2"))
        bench.focus(receiver.title)
        after = []
        for _ in range(ROUNDS):
            after.append(answer_after_last_key_us(receiver, ours) - ANSWER_WAIT_US)
            receiver.wait_quiet(0.1)
        check_cost(bench.log_text())
        # The same with the read-back turned off: what is left is the answer's
        # own timers, so the difference is what the check adds before "F".
        (bench.prefix / "drive_c" / "windows" / "tarvik.ini").write_bytes(b"[all]\r\nverify = off\r\n")
        unchecked = []
        for _ in range(ROUNDS):
            unchecked.append(answer_after_last_key_us(receiver, ours) - ANSWER_WAIT_US)
            receiver.wait_quiet(0.1)
        for what, gaps in (("read back", after), ("verify = off", unchecked)):
            print(f"feedback on, {ROUNDS} lines into a {FIELD}-character field, {what}: from the last key "
                  f"handled to the reader's \"F\", less the answer's own {ANSWER_WAIT_US // 1000} ms, a median "
                  f"{statistics.median(gaps) / 1000:.2f} ms (quartiles "
                  f"{statistics.quantiles(gaps, n=4)[0] / 1000:.2f}, "
                  f"{statistics.quantiles(gaps, n=4)[2] / 1000:.2f}; worst {max(gaps) / 1000:.2f})")
    finally:
        ours.stop()
        bare.stop()


def check_cost(log):
    """What the read-back cost each line, as tarvik.exe logs it: the reads of
    the field, the time spent in them, and the verdict's time after the last key."""
    found = [(int(n), float(ms), float(after)) for n, ms, after in re.findall(
        r"typed; delivered \((\d+) reads in ([\d.]+) ms; ([\d.]+) ms after the last key\)", log)]
    if not found:
        raise SystemExit("no line of tarvik.exe's log says what its read-back cost")
    reads, ms, after = zip(*found)
    print(f"read-back of the {FIELD}-character field, {len(found)} lines: reads a median "
          f"{statistics.median(reads):.0f} (most {max(reads)}), time in them a median "
          f"{statistics.median(ms):.2f} ms (worst {max(ms):.2f}), the verdict a median "
          f"{statistics.median(after):.2f} ms after the last key was sent (worst {max(after):.2f})")


def handled(receiver, start, count):
    poll(lambda: sum(e["kind"] == "CH" for e in receiver.events()[start:]) >= count,
         timeout=120, what=f"{count} characters")
    receiver.wait_quiet()
    ev = receiver.events()[start:]
    first = next(e for e in ev if e["kind"] == "KD")
    last = [e for e in ev if e["kind"] == "CH"][-1]
    return ev, max(1, last["at"] - first["at"])


def main():
    global ROUNDS
    if len(sys.argv) > 1:
        ROUNDS = int(sys.argv[1])
    with Bench("bench-typing") as bench:
        r = Receiver(bench)
        bench.focus(r.TITLE)
        fresh_us, kept_us, *each = (float(v) for v in bench.wbench("reach", 500).split())
        print(f"before the first key, the reach decision: {fresh_us:.0f} us asked afresh, "
              f"{kept_us:.0f} us with the window in front kept, of which "
              + ", ".join(f"{what} {us:.0f}" for what, us in zip(
                  ("input desktop", "foreground", "title", "process id", "process facts"), each)))
        start = len(r.events())
        bench.wbench("burst", N)
        _, bare_ms = handled(r, start, N)

        start = len(r.events())
        bench.run("typeline.exe", "--focus", r.TITLE, "a" * N)
        _, ours_ms = handled(r, start, N)
        print(f"delay 0, {N} characters: bare SendInput loop {N * 1000 / bare_ms:.0f} keys/s, "
              f"Tarvik {N * 1000 / ours_ms:.0f} keys/s")

        for index, delay in ((1, 10), (5, 50)):
            start = len(r.events())
            bench.run("typeline.exe", "--focus", r.TITLE, "--delay", index, "b" * 40)
            ev, _ = handled(r, start, 40)
            downs = [e["t"] for e in ev if e["kind"] == "KD"]
            gaps = [b - a for a, b in zip(downs, downs[1:])]
            print(f"delay {delay} ms: gap between keys mean {statistics.mean(gaps):.1f} ms, "
                  f"min {min(gaps)}, max {max(gaps)}")

        first_keys(bench)


if __name__ == "__main__":
    main()
