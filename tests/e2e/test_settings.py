"""pelrin.ini under Wine: created at first start, rewritten at every change,
restored at start, and kept per user when the Windows directory is read-only."""
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "bench"))
from bench import Bench, poll  # noqa: E402

MAIN = "QUILLMARKS Tarvik"
DEFAULT = b'1\r\n1\r\n""\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n'
ID = Bench.control_id


class SettingsFile(unittest.TestCase):
    def setUp(self):
        self.bench = Bench("settings").start()
        # Cleanups run last-in first-out: a read-only mount made by a test is
        # undone before the bench and its prefix go.
        self.addCleanup(self.bench.stop)
        self.windows_file = self.bench.prefix / "drive_c" / "windows" / "pelrin.ini"

    def start(self):
        proc = self.bench.spawn("tarvik.exe")
        self.bench.wait_visible(MAIN)
        return proc

    def stop(self, proc):
        self.bench.wbench("close", MAIN)
        proc.wait(timeout=30)

    def file_becomes(self, path, expected):
        poll(lambda: path.exists() and path.read_bytes() == expected,
             what=f"{path.name} to hold {expected!r} (has "
                  f"{path.read_bytes() if path.exists() else None!r})")

    def selection(self, name):
        return int(self.bench.wbench("getsel", MAIN, ID(name)))

    def test_first_start_writes_the_defaults_and_every_change_saves(self):
        proc = self.start()
        self.file_becomes(self.windows_file, DEFAULT)
        self.assertEqual(len(self.windows_file.read_bytes()), 33)
        self.bench.wbench("select", MAIN, ID("Combo1"), 2)
        self.file_becomes(self.windows_file, DEFAULT.replace(b"0,0\r\n", b"0,2\r\n", 1))
        self.bench.wbench("click", MAIN, ID("Check2"))
        self.bench.wbench("select", MAIN, ID("Combo9"), 5)
        self.file_becomes(self.windows_file,
                          b'1\r\n0\r\n""\r\n0,2\r\n0,0\r\n0,0\r\n0,0\r\n5\r\n')
        self.stop(proc)

    def test_a_file_written_by_hand_loads_into_the_window(self):
        file = b'0\r\n1\r\n"tcp://127.0.0.1:4000"\r\n17,3\r\n11,2\r\n24,15\r\n13,1\r\n10\r\n'
        self.windows_file.write_bytes(file)
        proc = self.start()
        self.assertEqual(self.bench.wbench("getcheck", MAIN, ID("Check1")), "0")
        self.assertEqual(self.bench.wbench("getcheck", MAIN, ID("Check2")), "1")
        self.assertEqual(self.bench.wbench("gettext", MAIN, ID("Label25")), "tcp://127.0.0.1:4000")
        for name, index in (("Combo1", 3), ("Combo8", 11), ("Combo7", 2), ("Combo2", 24),
                            ("Combo4", 15), ("Combo3", 13), ("Combo5", 1), ("Combo9", 10)):
            self.assertEqual(self.selection(name), index, name)
        self.assertEqual(self.windows_file.read_bytes(), file)  # rewritten, but the same
        self.stop(proc)

    def test_a_bad_file_gives_a_working_window_and_a_clean_next_save(self):
        self.windows_file.write_bytes(b'yes\r\n1\r\n"COM3\r\n999,1\r\n\xff\xfe\r\n')
        proc = self.start()
        for name in ("Combo1", "Combo2", "Combo3", "Combo6", "Combo8", "Combo9"):
            self.assertGreaterEqual(self.selection(name), 0, name)
        self.assertEqual(self.selection("Combo1"), 1)
        self.bench.wbench("select", MAIN, ID("Combo9"), 2)
        self.file_becomes(self.windows_file,
                          b'1\r\n1\r\n""\r\n0,1\r\n0,0\r\n0,0\r\n0,0\r\n2\r\n')
        self.stop(proc)

    def make_read_only(self, directory):
        # A standard user cannot write C:\Windows. The bench runs as root, so
        # the directory is made read-only by mounting it so.
        try:
            subprocess.run(["mount", "--bind", str(directory), str(directory)], check=True,
                           stderr=subprocess.PIPE)
            subprocess.run(["mount", "-o", "remount,bind,ro", str(directory)], check=True,
                           stderr=subprocess.PIPE)
        except (subprocess.CalledProcessError, FileNotFoundError) as e:
            subprocess.run(["umount", str(directory)], stderr=subprocess.DEVNULL)
            self.skipTest(f"this machine lets no test mount a directory read-only: {e}")
        self.addCleanup(subprocess.run, ["umount", str(directory)], check=True)

    def test_a_save_that_fails_leaves_the_previous_file_whole(self):
        proc = self.start()
        self.file_becomes(self.windows_file, DEFAULT)
        self.make_read_only(self.windows_file.parent)
        self.bench.wbench("select", MAIN, ID("Combo1"), 5)  # returns once the save was tried
        self.assertEqual(self.selection("Combo1"), 5)  # the choice holds for this run
        self.assertEqual(self.windows_file.read_bytes(), DEFAULT)
        self.assertEqual(list(self.windows_file.parent.glob("pelrin.ini*.tmp")), [])
        self.stop(proc)

    def test_a_virtualstore_copy_is_where_the_settings_start_when_no_other_exists(self):
        # An earlier version without a manifest had its writes to the Windows
        # directory redirected into the user's VirtualStore.
        local = next((self.bench.prefix / "drive_c" / "users").glob("*/AppData/Local"))
        virtual = local / "VirtualStore" / "windows" / "pelrin.ini"
        virtual.parent.mkdir(parents=True)
        old = DEFAULT.replace(b"0,0\r\n", b"0,7\r\n", 1)
        virtual.write_bytes(old)
        self.make_read_only(self.windows_file.parent)
        proc = self.start()
        self.assertEqual(self.selection("Combo1"), 7)
        self.bench.wbench("select", MAIN, ID("Combo9"), 3)
        user_file = local.parent / "Roaming" / "Tarvik" / "pelrin.ini"
        self.file_becomes(user_file, b'1\r\n1\r\n""\r\n0,7\r\n0,0\r\n0,0\r\n0,0\r\n3\r\n')
        self.stop(proc)
        self.assertEqual(virtual.read_bytes(), old)  # read, never moved or changed

    def test_a_read_only_windows_directory_keeps_the_settings_per_user(self):
        windows_dir = self.windows_file.parent
        self.windows_file.write_bytes(DEFAULT.replace(b"0,0\r\n", b"0,4\r\n", 1))
        before = self.windows_file.read_bytes()
        self.make_read_only(windows_dir)
        proc = self.start()
        # Started from the Windows directory's file...
        self.assertEqual(self.selection("Combo1"), 4)
        self.bench.wbench("select", MAIN, ID("Combo1"), 6)
        users = self.bench.prefix / "drive_c" / "users"
        user_file = lambda: next(users.glob("*/AppData/Roaming/Tarvik/pelrin.ini"), None)  # noqa: E731
        # ...and now kept in the user's own folder.
        poll(lambda: user_file() and user_file().read_bytes() ==
             DEFAULT.replace(b"0,0\r\n", b"0,6\r\n", 1), what="the per-user file")
        self.stop(proc)
        proc = self.start()
        self.assertEqual(self.selection("Combo1"), 6)  # the newest settings, not the old copy
        self.stop(proc)
        self.assertEqual(self.windows_file.read_bytes(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
