"""Runs tarvik.exe under Wine with a simulated reader on 127.0.0.1: the window
comes up, goes to the tray after ten seconds, connects, and the scanned lines
are typed into a receiving window. Screenshots land in build/demo/."""
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools" / "bench"))
from bench import Bench, Receiver, poll  # noqa: E402
from fake_reader import TcpReader  # noqa: E402

MAIN = "QUILLMARKS Tarvik"
LINES = [b"4006381333931\r\n", b"HELLO-TARVIK 42\r\n"]


def main():
    out = Path("build/demo")
    out.mkdir(parents=True, exist_ok=True)
    with Bench("demo") as bench:
        reader = TcpReader()
        try:
            # No real reader here: the settings point at the simulated one.
            ini = bench.prefix / "drive_c" / "windows" / "pelrin.ini"
            ini.write_bytes(f'1\r\n1\r\n"{reader.address}"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n'
                            .encode())
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
            for line in LINES:
                before = receiver.text()
                reader.send_chunks([line[:5], line[5:]])
                typed = poll(lambda: receiver.text()[len(before):] == line[:-3].decode()
                             and receiver.text()[len(before):], what="the scanned line")
                print(f"The reader sent {line!r}; the receiving window got {typed!r}.")
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
        finally:
            reader.stop()


if __name__ == "__main__":
    main()
