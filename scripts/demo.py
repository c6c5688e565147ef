"""Runs tarvik.exe under Wine with a simulated reader on 127.0.0.1: the window
comes up, goes to the tray after ten seconds, connects, and the scanned lines
are typed into a receiving window, each whole and followed by Enter.
Screenshots land in build/demo/."""
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools" / "bench"))
from bench import Bench, Receiver, poll  # noqa: E402
from demo_scans import PLAIN_READER, SETTINGS, report_scans, type_scans  # noqa: E402
from fake_reader import TcpReader  # noqa: E402

MAIN = "QUILLMARKS Tarvik"


def main():
    out = Path("build/demo")
    out.mkdir(parents=True, exist_ok=True)
    with Bench("demo") as bench:
        reader = TcpReader()
        try:
            # No real reader here: the settings point at the simulated one.
            windows = bench.prefix / "drive_c" / "windows"
            (windows / "pelrin.ini").write_bytes(SETTINGS.format(address=reader.address).encode())
            (windows / "tarvik.ini").write_text(PLAIN_READER)
            receiver = Receiver(bench)
            bench.spawn("tarvik.exe")
            bench.wait_visible(MAIN)
            time.sleep(1)  # let Wine paint before the picture is taken
            shutil.copy(bench.screenshot("started"), out / "main-window.png")
            print(f"tarvik.exe is up under Wine, reader {reader.address}: {out / 'main-window.png'}")
            poll(lambda: bench.wbench("state", MAIN) == "visible=0 iconic=1", timeout=40,
                 interval=0.5, what="the tray")
            reader.wait_connected()
            print("Ten seconds later it sits in the tray and the link is open.")
            poll(lambda: reader.received() == b"F", what="the feedback command")
            print("The reader got the feedback command 'F'.")
            bench.focus(receiver.TITLE)
            typed = type_scans(reader, receiver.text)
            # Wine puts a window's painting on the X display once its thread
            # waits for messages: the receiver idle, its text is in the picture.
            receiver.wait_quiet()
            shutil.copy(bench.screenshot("typed"), out / "typed.png")
            bench.post(MAIN, 0x200, 1, 0x202)  # a click on the tray icon
            bench.wait_visible(MAIN)
            time.sleep(1)
            shutil.copy(bench.screenshot("restored"), out / "restored.png")
            left, top, width, height = map(int, bench.wbench("winrect", MAIN).split(","))
            subprocess.run(["convert", str(out / "restored.png"), "-crop",
                            f"{width}x{height}+{left}+{top}", "+repage", str(out / "rx.png")],
                           check=True)
            print(f"Restored from the tray, the window shows the link and the last line: "
                  f"{out / 'restored.png'}")
            return report_scans(typed)
        finally:
            reader.stop()


if __name__ == "__main__":
    sys.exit(0 if main() else 1)
