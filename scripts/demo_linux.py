"""Runs the Linux tarvik on a headless X desktop (Xvfb and IceWM with a tray)
with a simulated reader on 127.0.0.1: the window comes up, goes to the tray
after ten seconds, connects, and the scanned lines are typed into a
receiving window, each whole and followed by Enter. Screenshots land in
build/demo-linux/."""
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools" / "bench"))
from bench import poll  # noqa: E402
from demo_scans import PLAIN_READER, SETTINGS, report_scans, type_scans  # noqa: E402
from fake_reader import TcpReader  # noqa: E402
from linux_bench import MAIN, Bench, Receiver  # noqa: E402


def main():
    out = Path("build/demo-linux").resolve()
    out.mkdir(parents=True, exist_ok=True)
    bench = Bench("demo")
    reader = TcpReader()
    try:
        bench.start()
        bench.write_settings(SETTINGS.format(address=reader.address).encode("cp1252"))
        (bench.settings_file().parent / "tarvik.ini").write_text(PLAIN_READER)
        receiver = Receiver(bench)
        bench.tarvik()
        main_window = bench.wait_window(MAIN)
        poll(lambda: bench.shown(main_window), what="the main window")
        bench.screenshot("started")
        shutil.copy(bench.work / "started.png", out / "main-window.png")
        print(f"tarvik is up on {bench.display}, reader {reader.address}: {out / 'main-window.png'}")
        poll(lambda: not bench.viewable(main_window) and bench.tray_icons(), timeout=40,
             what="the tray")
        reader.wait_connected()
        print("Ten seconds later it sits in the tray and the link is open.")
        poll(lambda: reader.received() == b"F", what="the feedback command")
        print("The reader got the feedback command 'F'.")
        bench.activate(receiver.window)
        typed = type_scans(reader, receiver.text)
        bench.screenshot("typed")
        shutil.copy(bench.work / "typed.png", out / "typed.png")
        shutil.copy(bench.state / "tarvik" / "tarvik.log", out / "tarvik.log")
        print(f"Screenshots and the program's log: {out}")
        return report_scans(typed)
    finally:
        reader.stop()
        bench.stop()


if __name__ == "__main__":
    if "TARVIK_EXE" not in os.environ:
        sys.exit("TARVIK_EXE must name the tarvik program (scripts/run.sh --linux sets it)")
    sys.exit(0 if main() else 1)
