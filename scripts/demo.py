"""Runs tarvik.exe under Wine and types one line into a receiving window."""
import shutil
import time
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from bench import Bench, Receiver, poll  # noqa: E402
from fake_reader import TcpReader  # noqa: E402

LINE = sys.argv[1] if len(sys.argv) > 1 else "Hello from Tarvik 123"


def main():
    out = Path("build/demo")
    out.mkdir(parents=True, exist_ok=True)
    with Bench("demo") as bench:
        bench.spawn("tarvik.exe")
        bench.wait_visible("QUILLMARKS Tarvik")
        time.sleep(1)  # let Wine finish painting before the picture is taken
        shutil.copy(bench.screenshot("main-window"), out / "main-window.png")
        print(f"tarvik.exe is up under Wine; screenshot: {out / 'main-window.png'}")
        receiver = Receiver(bench)
        # Prefix {TAB} once, the line, suffix {ENTER} once, 10 ms after every key.
        bench.run("typeline.exe", "--focus", receiver.TITLE, "--prefix", 11, "--prefix-repeat", 1,
                  "--suffix1", 5, "--suffix1-repeat", 1, "--delay", 1, LINE)
        typed = receiver.wait_text(LINE + "\r")
        shutil.copy(bench.screenshot("typed"), out / "typed.png")
        print(f"The receiver got: {typed!r}")
        print(f"Screenshot after typing: {out / 'typed.png'}")

        # A simulated reader on 127.0.0.1, through the program's own link.
        reader = TcpReader()
        try:
            log = bench.work / "linkdriver.log"
            bench.spawn("linkdriver.exe", "--address", reader.address, "--minimized", "--focus",
                        receiver.TITLE, "--beep", "0", "--feedback", "1", stdout=log)
            reader.wait_connected()
            poll(lambda: log.exists() and "connected" in log.read_text(), what="the link")
            before = receiver.text()
            reader.send_chunks([b"4006381", b"333931\r", b"\n"])
            poll(lambda: receiver.text()[len(before):] == "400638133393", what="the scanned line")
            poll(lambda: reader.received() == b"F", what="the feedback command")
            print(f"A simulated reader sent '4006381333931' CR LF in three chunks; the receiver "
                  f"got {receiver.text()[len(before):]!r} and the reader got back "
                  f"{reader.received()!r}.")
            reader.drop()
        finally:
            reader.stop()


if __name__ == "__main__":
    main()
