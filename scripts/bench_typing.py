"""Typing speed under Wine: the program's keystroke output at delay 0 against a
bare SendInput loop in the same run, the measured gaps at delays 10 and 50, and
what the reach decision adds before a record's first key.
Measured until the receiving window has handled the last character, not until
SendInput returns. A benchmark, not a test: it reports and asserts nothing.

    TARVIK_WINDOWS_BUILD_DIR=build/windows python3 scripts/bench_typing.py
"""
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools" / "bench"))
from bench import Bench, Receiver, poll  # noqa: E402

N = 300


def handled(receiver, start, count):
    poll(lambda: sum(e["kind"] == "CH" for e in receiver.events()[start:]) >= count,
         timeout=120, what=f"{count} characters")
    receiver.wait_quiet()
    ev = receiver.events()[start:]
    first = next(e for e in ev if e["kind"] == "KD")
    last = [e for e in ev if e["kind"] == "CH"][-1]
    return ev, max(1, last["at"] - first["at"])


def main():
    with Bench("bench-typing") as bench:
        r = Receiver(bench)
        bench.focus(r.TITLE)
        fresh_us, kept_us = (float(v) for v in bench.wbench("reach", 500).split())
        print(f"before the first key, the reach decision: {fresh_us:.0f} us asked afresh, "
              f"{kept_us:.0f} us with the window in front kept")
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


if __name__ == "__main__":
    main()
