"""Fake barcode readers on the Linux side of the bench: one on TCP
(127.0.0.1), one on a serial port that Wine sees as COMn (a socat pty pair).
Each keeps every byte the program wrote to it, with the time it arrived."""
import os
import select
import socket
import subprocess
import termios
import threading
import time
import tty
from pathlib import Path

from bench import poll


class _Recorder:
    def __init__(self):
        self.lock = threading.Lock()
        self.chunks = []  # (monotonic time, bytes)
        self.peer_closed = threading.Event()

    def record(self, data):
        with self.lock:
            self.chunks.append((time.monotonic(), bytes(data)))

    def received(self):
        with self.lock:
            return b"".join(c for _, c in self.chunks)

    def byte_times(self):
        """[(time, byte value)] for every byte received."""
        with self.lock:
            return [(t, b) for t, chunk in self.chunks for b in chunk]

    def send_chunks(self, chunks, gap=0.05):
        for c in chunks:
            self.send(c)
            time.sleep(gap)  # odd chunks need time between them to stay apart


class TcpReader(_Recorder):
    def __init__(self):
        super().__init__()
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.port = self.server.getsockname()[1]
        self.conn = None
        self.connections = 0
        self.accepted_at = []  # monotonic time of each accepted link
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    @property
    def address(self):
        return f"tcp://127.0.0.1:{self.port}"

    def _serve(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            self.peer_closed.clear()
            self.accepted_at.append(time.monotonic())
            self.conn = conn
            self.connections += 1
            while True:
                try:
                    data = conn.recv(4096)
                except OSError:
                    data = b""
                if not data:
                    self.peer_closed.set()
                    conn.close()
                    break
                self.record(data)

    def wait_connected(self, timeout=30):
        poll(lambda: self.conn is not None, timeout=timeout, what="the program to connect")

    def send(self, data):
        self.conn.sendall(data)

    def drop(self):
        """The reader ends the link."""
        self.conn.shutdown(socket.SHUT_RDWR)
        self.conn.close()

    def stop(self):
        self.server.close()
        if self.conn:
            self.conn.close()


class SerialReader(_Recorder):
    """A pty pair: Wine opens one end as COM<port>, the reader holds the other."""

    def __init__(self, bench, port=5):
        super().__init__()
        self.bench = bench
        self.dir = Path(bench.work)
        self.wine_end, self.host_end = self.dir / "ttyWine", self.dir / "ttyHost"
        self._plug()
        device = Path(bench.prefix) / "dosdevices" / f"com{port}"
        if device.is_symlink() or device.exists():
            device.unlink()
        device.symlink_to(self.wine_end)

    def _plug(self):
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.wine_end}", f"pty,raw,echo=0,link={self.host_end}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.bench.procs.append(self.socat)
        poll(lambda: self.wine_end.exists() and self.host_end.exists(), what="socat's ptys")
        # Opened before the program writes, so nothing it sends is lost.
        self.fd = os.open(self.host_end, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        attrs = termios.tcgetattr(self.fd)
        attrs[3] &= ~termios.ECHO
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        self.running = True
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while self.running:
            r, _, _ = select.select([self.fd], [], [], 0.1)
            if not r:
                continue
            try:
                data = os.read(self.fd, 4096)
            except OSError:
                return
            if data:
                self.record(data)

    def send(self, data):
        os.write(self.fd, data)

    def drop(self):
        """The port goes away, as when a USB reader is pulled."""
        self.socat.kill()
        self.socat.wait(timeout=10)

    def plug_back(self):
        """The same port comes back, as when the reader is plugged in again."""
        self.running = False
        self.thread.join(timeout=5)
        os.close(self.fd)
        poll(lambda: not self.wine_end.exists(), what="the old pty to go")
        self._plug()

    def stop(self):
        self.running = False
        self.thread.join(timeout=5)
        os.close(self.fd)
        if self.socat.poll() is None:
            self.socat.kill()
