"""pelrin.ini under Wine: restored and rewritten byte for byte, a failed save, and
the VirtualStore and per-user files when the Windows directory is read-only."""
import subprocess
import unittest

from bench import MAIN, Bench, poll

ID = Bench.control_id


def ini(combo1=0, combo9=0):
    return f'1\r\n1\r\n""\r\n0,{combo1}\r\n0,0\r\n0,0\r\n0,0\r\n{combo9}\r\n'.encode()


class SettingsFile(unittest.TestCase):
    def setUp(self):
        self.bench = Bench("settings").start()
        self.addCleanup(self.bench.stop)  # cleanups run last-in first-out: unmount first
        self.windows_file = self.bench.prefix / "drive_c" / "windows" / "pelrin.ini"

    def stop(self, proc):
        self.bench.wbench("close", MAIN)
        proc.wait(timeout=30)

    def file_becomes(self, path, expected):
        poll(lambda: path.exists() and path.read_bytes() == expected,
             what=f"{path.name} to hold {expected!r}")

    def selection(self, name):
        return int(self.bench.wbench("getsel", MAIN, ID(name)))

    def make_read_only(self, directory):
        # The bench runs as root: a read-only bind mount stands for a standard user's rights.
        try:
            for args in (["--bind", str(directory)], ["-o", "remount,bind,ro"]):
                subprocess.run(["mount", *args, str(directory)], check=True,
                               stderr=subprocess.PIPE)
        except (subprocess.CalledProcessError, FileNotFoundError) as e:
            subprocess.run(["umount", str(directory)], stderr=subprocess.DEVNULL)
            self.fail(f"this machine lets no test mount a directory read-only: {e}")
        # Lazily: Wine may still hold the directory for a moment after the test.
        self.addCleanup(subprocess.run, ["umount", "--lazy", str(directory)], check=True)

    def test_a_file_is_restored_rewritten_the_same_and_kept_whole_when_a_save_fails(self):
        file = b'0\r\n1\r\n"tcp://127.0.0.1:4000"\r\n17,3\r\n11,2\r\n24,15\r\n13,1\r\n10\r\n'
        self.windows_file.write_bytes(file)
        proc = self.bench.tarvik()
        self.assertEqual(self.bench.wbench("gettext", MAIN, ID("Label25")), "tcp://127.0.0.1:4000")
        for name, index in (("Combo1", 3), ("Combo8", 11), ("Combo4", 15), ("Combo9", 10)):
            self.assertEqual(self.selection(name), index, name)
        self.assertEqual(self.windows_file.read_bytes(), file)  # rewritten, but the same
        self.bench.wbench("select", MAIN, ID("Combo9"), 5)
        saved = file.replace(b"\r\n10\r\n", b"\r\n5\r\n")
        self.file_becomes(self.windows_file, saved)
        self.make_read_only(self.windows_file.parent)
        self.bench.wbench("select", MAIN, ID("Combo1"), 5)  # returns once the save was tried
        self.assertEqual(self.selection("Combo1"), 5)
        self.assertEqual(self.windows_file.read_bytes(), saved)
        self.assertEqual(list(self.windows_file.parent.glob("pelrin.ini*.tmp")), [])
        self.stop(proc)

    def test_a_read_only_windows_directory_starts_from_the_virtualstore_then_keeps_per_user(self):
        local = next((self.bench.prefix / "drive_c" / "users").glob("*/AppData/Local"))
        virtual = local / "VirtualStore" / "windows" / "pelrin.ini"
        virtual.parent.mkdir(parents=True)
        virtual.write_bytes(ini(combo1=7))
        self.make_read_only(self.windows_file.parent)
        proc = self.bench.tarvik()
        self.assertEqual(self.selection("Combo1"), 7)
        self.bench.wbench("select", MAIN, ID("Combo9"), 3)
        user_file = local.parent / "Roaming" / "Tarvik" / "pelrin.ini"
        self.file_becomes(user_file, ini(combo1=7, combo9=3))
        self.stop(proc)
        proc = self.bench.tarvik()
        self.assertEqual(self.selection("Combo9"), 3)  # the user's file, not the old copy
        self.stop(proc)
        self.assertEqual(virtual.read_bytes(), ini(combo1=7))  # read, never moved or changed
        self.assertFalse(self.windows_file.exists())
