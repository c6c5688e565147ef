"""Typing through an input-method framework into a real GTK 3 window: the
program, fed by a fake reader on TCP, types one long line at a time into a
zenity entry on its own Xvfb + IceWM display while IBus or Fcitx 5 (or
nothing, as the control) stands between the keys and the window. Per run it
tells how many characters were expected and arrived, how many were lost,
reordered, or typed with the wrong Shift state, whether a key was left down,
and how long the line took from the reader's send to the entry's Enter.

A benchmark, not a test: losses are reported, not failed. It exits non-zero
only when it cannot run (a missing program or GTK module, a daemon that never
came up, a window that never showed).

    cmake --preset linux -B build/d && cmake --build build/d -j2 --target tarvik
    python3 scripts/bench_ime.py [--frameworks ibus,fcitx5] [--runs 3] [--chars 2000]
                                 [--delay MS]

TARVIK_EXE names the program (build/linux/tarvik unless set).
"""
import argparse
import os
import random
import shutil
import string
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools" / "bench"))
from bench import poll  # noqa: E402
from fake_reader import TcpReader  # noqa: E402
from ime_compare import compare  # noqa: E402
from ime_session import FRAMEWORKS, ImeSession, missing_tools  # noqa: E402
from linux_bench import MAIN, Bench  # noqa: E402

TOOLS = ("Xvfb", "icewm", "xdotool", "xprop", "xwininfo", "zenity", "dbus-daemon", "dbus-send",
         "dbus-monitor")
# Braces are left out: they open key tokens such as {TAB} in the program's lists.
ALPHABET = string.ascii_letters + string.digits + "".join(
    c for c in string.punctuation if c not in "{}") + " "
# Characters a US layout lacks: the program binds them to spare keycodes as it types,
# so the keyboard mapping changes under the framework's feet.
NON_US = "\u00e9\u00fc\u00df\u00c4\u00d6\u20ac\u00a3\u00a7\u00b0\u00f1"
DELAY_STEP_MS = 10  # the program's delay list: 0, 10, 20 ... ms, by index
# The settings file: no beep, no feedback, the address, hidden number 0 and the delay
# index, no prefix, suffix 1 {ENTER} once (entry 5 of its list), no suffix 2.
SETTINGS = '0\r\n0\r\n"{address}"\r\n0,{delay}\r\n0,1\r\n5,1\r\n0,1\r\n0\r\n'
DROPPED = "#"  # the program types a reader line less its last character
TRAY_WAIT = 40.0
ENTER_WAIT_BASE, ENTER_WAIT_PER_CHAR = 30.0, 0.05  # seconds; generous for a slow machine


def line_text(count, seed, alphabet=ALPHABET):
    rng = random.Random(seed)
    return "".join(rng.choice(alphabet) for _ in range(count))


class Entry:
    """zenity --entry: a GTK 3 window that prints its text when Enter is pressed."""

    def __init__(self, bench, title):
        self.out = bench.work / f"{title.replace(' ', '-')}.out"
        with open(self.out, "wb") as out, open(bench.work / f"{title}.err", "wb") as err:
            self.proc = subprocess.Popen(["zenity", "--entry", f"--title={title}",
                                          "--text=Scan here"], env=bench.env,
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        bench.procs.append(self.proc)
        self.window = bench.wait_window(title)
        bench.activate(self.window)

    def text(self):
        data = self.out.read_bytes()
        return data.decode("utf-8", "replace")[:-1] if data.endswith(b"\n") else None


def fail(message):
    print(f"bench_ime: {message}", file=sys.stderr)
    sys.exit(2)


def check_tools(frameworks):
    problems = [f"{t} is not installed" for t in TOOLS if not shutil.which(t)]
    for f in frameworks:
        problems += missing_tools(f)
    exe = os.environ.get("TARVIK_EXE")
    if not exe or not os.access(exe, os.X_OK):
        problems.append(f"the program {exe!r} is not built (set TARVIK_EXE)")
    if problems:
        fail("cannot run: " + "; ".join(dict.fromkeys(problems)))


def tarvik_in_tray(bench, main):
    return not bench.viewable(main) and bench.tray_icons()


def run_framework(framework, args):
    bench = Bench(f"ime-{framework.name}")
    session = ImeSession(bench, framework, watch=not args.no_watch)
    reader = None
    rows = []
    try:
        bench.start()
        session.start()
        detect = (f"XIM owner of @server={framework.xim_server}: {session.xim_server_owner():#x}; "
                  f"{session.xim_servers()}" if framework.xim_server else "no framework")
        print(f"[{framework.name}] {detect}"
              + (f"; engine {framework.engine}" if framework.engine else ""), flush=True)
        reader = TcpReader()
        bench.write_settings(SETTINGS.format(address=reader.address,
                                             delay=args.delay // DELAY_STEP_MS).encode("cp1252"))
        bench.tarvik()
        main = bench.wait_window(MAIN)
        poll(lambda: tarvik_in_tray(bench, main), timeout=TRAY_WAIT, what="tarvik in the tray")
        reader.wait_connected()
        for run in range(1, args.runs + 1):
            rows.append(one_run(bench, session, reader, framework, run, args))
    finally:
        if reader:
            reader.stop()
        session.stop()
        bench.stop()
    return rows


def one_run(bench, session, reader, framework, run, args):
    text = line_text(args.chars, args.seed + run, ALPHABET + (NON_US if args.non_us else ""))
    entry = Entry(bench, f"IME bench {framework.name} {run}")
    if not session.module_loaded(entry.proc.pid):
        # Keys would reach the entry without the framework: figures of no worth.
        raise RuntimeError(f"zenity did not load GTK's {framework.module_file} "
                           f"(GTK_IM_MODULE={bench.env.get('GTK_IM_MODULE')})")
    logged = bench.log_text()
    seen = session.keys_seen()
    started = time.monotonic()
    reader.send((text + DROPPED + "\r\n").encode("cp1252"))
    note = ""
    try:
        got = poll(entry.text, timeout=ENTER_WAIT_BASE + ENTER_WAIT_PER_CHAR * args.chars,
                   interval=0.02, what="the entry's Enter")
        seconds = time.monotonic() - started
    except TimeoutError:
        seconds = time.monotonic() - started
        note = "Enter never arrived; "
        bench.key("Return")
        got = poll(entry.text, what="the entry's text after our own Enter")
    got = got or ""
    result = compare(text, got)
    if seen is not None:
        seen = session.keys_seen() - seen
    down = bench.keys_down()
    outcome = [line for line in bench.log_text()[len(logged):].splitlines() if "Record of" in line]
    if down:
        note += f"keys left down {down}; "
    result.update(framework=framework.name, run=run, seconds=seconds, note=note, seen=seen,
                  log=outcome[-1] if outcome else "no record logged")
    if result["first_fault"] is not None:
        at = result["first_fault"]
        result["note"] += (f"first difference at {at}: expected {text[at:at + 12]!r}, "
                           f"context got {got[max(0, at - 4):at + 12]!r}")
    print(format_row(result), flush=True)
    return result


def format_row(r):
    return (f"{r['framework']:<11} run {r['run']}: expected {r['expected']}, got {r['got']}, "
            f"lost {r['lost']}, reordered {r['reordered']}, shift {r['shift']}, "
            f"extra {r['extra']}, {r['seconds']:.2f} s ({r['expected'] / r['seconds']:.0f} "
            f"chars/s)  {r['note']}".rstrip() + f"\n            tarvik: {r['log']}"
            + ("" if r["seen"] is None else f"; key events the framework was handed: {r['seen']}"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frameworks", default="none,ibus,ibus-xim,fcitx5,fcitx5-xim",
                        help=f"comma-separated, of {', '.join(FRAMEWORKS)}")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--chars", type=int, default=2000)
    parser.add_argument("--delay", type=int, default=0,
                        help=f"the program's delay after each key, ms (a multiple of "
                             f"{DELAY_STEP_MS})")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--non-us", action="store_true",
                        help=f"mix in characters a US layout lacks ({NON_US})")
    parser.add_argument("--no-watch", action="store_true",
                        help="do not count the key events the framework is handed (a D-Bus "
                             "monitor for IBus, Fcitx's key trace), so nothing else loads it")
    args = parser.parse_args()
    os.environ.setdefault("TARVIK_EXE", str(ROOT / "build" / "linux" / "tarvik"))
    try:
        frameworks = [FRAMEWORKS[n] for n in args.frameworks.split(",")]
    except KeyError as e:
        fail(f"no framework {e}; known: {', '.join(FRAMEWORKS)}")
    if args.delay % DELAY_STEP_MS:
        fail(f"the delay must be a multiple of {DELAY_STEP_MS} ms")
    check_tools(frameworks)
    started = time.monotonic()
    rows = []
    for f in frameworks:
        try:
            rows += run_framework(f, args)
        except (RuntimeError, TimeoutError, OSError) as e:
            fail(f"{f.name}: {e}")
    print(f"\n{'framework':<11} runs  lost  reordered  shift  extra  seconds/run")
    for f in frameworks:
        mine = [r for r in rows if r["framework"] == f.name]
        total = {k: sum(r[k] for r in mine) for k in ("lost", "reordered", "shift", "extra")}
        times = ", ".join(f"{r['seconds']:.2f}" for r in mine)
        print(f"{f.name:<11} {len(mine):>4}  {total['lost']:>4}  {total['reordered']:>9}  "
              f"{total['shift']:>5}  {total['extra']:>5}  {times}")
    print(f"whole bench: {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
