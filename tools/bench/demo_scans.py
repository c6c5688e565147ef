"""The scans of the demos (scripts/demo.py under Wine, scripts/demo_linux.py on
X): what the simulated reader sends, the settings and rules the program gets,
and the demo's last lines, each scan beside what the receiving window got."""
import time

# What an ordinary reader sends: each scan, then CR LF.
LINES = [b"4006381333931\r\n", b"HELLO-TARVIK 42\r\n"]
# The classic format takes the character before the LF for the CR and does
# not type the one before that, which its own reader adds; an ordinary
# reader's lines are read whole with this rules file beside pelrin.ini.
PLAIN_READER = "[reader]\nlines = plain\n"
# Beep and Feedback on, the simulated reader's address, no prefix, Enter
# after each line, so that the lines stand apart in the receiving window.
SETTINGS = '1\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n5,1\r\n0,0\r\n0\r\n'
ENTER = "\r"
# How long a scan may take to arrive whole: typing, the feedback's pause,
# and a loaded machine.
SCAN_TIMEOUT_S = 20.0
POLL_INTERVAL_S = 0.05
# Where a line is cut in two, as a radio link hands it over.
SPLIT_AT = 5


def scanned(line):
    return line.decode().rstrip("\r\n")


def type_scans(reader, received_text):
    """Sends each line and waits until the receiving window got it and Enter
    (or the time is up); returns what it got for each."""
    typed = []
    for line in LINES:
        before = len(received_text())
        reader.send_chunks([line[:SPLIT_AT], line[SPLIT_AT:]])
        end = time.monotonic() + SCAN_TIMEOUT_S
        while received_text()[before:] != scanned(line) + ENTER and time.monotonic() < end:
            time.sleep(POLL_INTERVAL_S)
        typed.append(received_text()[before:])
    return typed


def report_scans(typed):
    """The demo's last lines; False when a scan was not typed as scanned."""
    for line, got in zip(LINES, typed):
        text, suffix = (got[:-1], " and Enter") if got.endswith(ENTER) else (got, "")
        print(f"Scanned {scanned(line)!r} (the reader sent {line!r}); typed {text!r}{suffix}.")
    same = typed == [scanned(line) + ENTER for line in LINES]
    print(f"{len(LINES)} scans: {'each typed exactly as scanned' if same else 'NOT typed as scanned'}.")
    return same
