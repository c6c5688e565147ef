"""The MSI as a fleet installs it, silently and per machine, under Wine's msiexec
in a fresh prefix."""
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from bench import WINE, Bench, poll, win_build_dir, wine_path

SOURCE = Path(__file__).resolve().parents[2]
BUILD_MSI = SOURCE / "packaging" / "windows" / "build_msi.cmake"
MAKER = "QUILLMARKS"  # CompanyName in tarvik.rc
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_LONG = UNINSTALL_KEY.replace("HKLM", "HKEY_LOCAL_MACHINE")  # as reg query lists subkeys
INSTALL_TIMEOUT = 180


def msi_table(msi, table):  # {first column: the others, tab-separated}
    # msiinfo writes three header lines first, and a table of streams (Icon)
    # also as files into the current folder: a scratch one, not the caller's.
    with tempfile.TemporaryDirectory() as scratch:
        out = subprocess.run(["msiinfo", "export", str(Path(msi).resolve()), table], check=True,
                             capture_output=True, text=True, cwd=scratch).stdout
    return dict(line.partition("\t")[::2] for line in out.splitlines()[3:])


def product_code(msi):
    return msi_table(msi, "Property")["ProductCode"]


class Msi(unittest.TestCase):
    def setUp(self):
        for tool in ("wixl", "msibuild", "msiinfo", "cmake"):
            self.assertIsNotNone(shutil.which(tool), f"{tool} is not installed (Debian: wixl, msitools)")
        self.assertTrue(Path(WINE).exists(), f"{WINE} is missing (Debian: wine64)")
        build = win_build_dir()
        wxs = build / "msi" / "tarvik.wxs"
        self.assertTrue(wxs.exists(), f"{wxs} is missing: build the windows preset first")
        match = re.search(r'<\?define Version = "([0-9.]+)"\?>', wxs.read_text(encoding="utf-8"))
        self.assertIsNotNone(match, f"no version in {wxs}")
        self.version = match.group(1)
        self.msi = build / f"tarvik-{self.version}-x64.msi"
        self.assertTrue(self.msi.exists(), f"{self.msi} is missing: build the windows preset first")

        self.bench = Bench("msi").start()
        self.addCleanup(self.bench.stop)  # ends every Wine process: wineserver -k on the prefix
        # No Linux menu entries for the shortcut the package makes.
        self.env = dict(self.bench.env)
        self.env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"

        # A newer build of the same package: same source, the version one higher.
        *major_minor, patch = self.version.split(".")
        self.newer_version = ".".join(major_minor + [str(int(patch) + 1)])
        self.newer = self.bench.work / f"tarvik-{self.newer_version}-x64.msi"
        subprocess.run(["cmake", "-DWXS=tarvik.wxs", f"-DMSI={self.newer}",
                        f"-DVERSION={self.newer_version}", "-P", str(BUILD_MSI)],
                       cwd=wxs.parent, check=True, capture_output=True)

        self.drive_c = self.bench.prefix / "drive_c"
        self.program = self.drive_c / "Program Files" / "Tarvik" / "tarvik.exe"
        # With ALLUSERS=1 Windows puts the ProgramMenuFolder shortcut in the
        # all-users Start menu; Wine 8's msiexec in the user's whatever ALLUSERS
        # says: it is looked for there, and test_package_tables checks the rest.
        self.shortcut = (self.user_folder("APPDATA") / "Microsoft" / "Windows" / "Start Menu" /
                         "Programs" / "Tarvik.lnk")

    def wine(self, *args, timeout=60):
        return subprocess.run([WINE, *args], env=self.env, timeout=timeout, capture_output=True,
                              stdin=subprocess.DEVNULL)

    def msiexec(self, action, msi, *args, ok=True):
        r = self.wine("msiexec", action, wine_path(msi), *args, timeout=INSTALL_TIMEOUT)
        what = f"msiexec {action} {msi.name} {' '.join(args)}"
        (self.assertEqual if ok else self.assertNotEqual)(r.returncode, 0, what)

    def reg_values(self, key):
        r = self.wine("reg", "query", key)
        if r.returncode != 0:
            return None
        lines = r.stdout.decode("utf-8", "replace").splitlines()
        found = (re.match(r"^    (\S.*?)    (REG_\w+)    ?(.*)$", line) for line in lines)
        return {m.group(1): m.group(3).strip() for m in found if m}

    def tarvik_uninstall_entries(self):  # {product code: values}
        r = self.wine("reg", "query", UNINSTALL_KEY)
        self.assertEqual(r.returncode, 0, f"reg query {UNINSTALL_KEY}: {r.stderr!r}")
        entries = {}
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            key = line.strip()
            if key.upper().startswith(UNINSTALL_LONG.upper() + "\\"):
                values = self.reg_values(key) or {}
                if values.get("DisplayName") == "Tarvik":
                    entries[key.rsplit("\\", 1)[1]] = values
        return entries

    def run_value(self):
        return (self.reg_values(RUN_KEY) or {}).get("Tarvik")

    def user_folder(self, variable):  # %APPDATA%, %LOCALAPPDATA% as a Linux path
        r = self.wine("cmd", "/c", f"echo %{variable}%")
        windows = r.stdout.decode("utf-8", "replace").strip()
        self.assertNotIn("%", windows, f"Wine has no {variable}")
        r = self.wine("winepath", "-u", windows)
        return Path(r.stdout.decode("utf-8", "replace").strip())

    def assert_installed(self, msi, version, autostart):
        poll(self.program.exists, timeout=30, what=f"{self.program} after installing {msi.name}")
        poll(self.shortcut.exists, timeout=30, what=f"{self.shortcut} after installing {msi.name}")
        expected_run = r'"C:\Program Files\Tarvik\tarvik.exe"' if autostart else None
        poll(lambda: self.run_value() == expected_run, timeout=30,
             what=f"the Run value {expected_run!r} (it is {self.run_value()!r})")
        code = product_code(msi)
        entries = poll(self.tarvik_uninstall_entries, timeout=30, what="Tarvik's uninstall entry")
        self.assertEqual(list(entries), [code], "one uninstall entry, the installed package's")
        entry = entries[code]
        self.assertEqual(entry.get("DisplayVersion"), version)
        self.assertEqual(entry.get("Publisher"), MAKER)
        self.assertEqual(entry.get("DisplayIcon"), r"C:\Program Files\Tarvik\tarvik.exe,0")

    def assert_removed(self):
        poll(lambda: not self.program.exists(), timeout=30, what=f"{self.program} removed")
        poll(lambda: not self.shortcut.exists(), timeout=30, what=f"{self.shortcut} removed")
        poll(lambda: self.run_value() is None, timeout=30, what="the Run value removed")
        poll(lambda: not self.tarvik_uninstall_entries(), timeout=30, what="no Tarvik uninstall entry")

    def test_package_tables(self):
        """What Windows reads from the package and Wine does not show."""
        properties = msi_table(self.msi, "Property")
        self.assertEqual(properties.get("ALLUSERS"), "1", "a per-machine package")
        self.assertEqual(properties.get("ARPPRODUCTICON"), "tarvik.ico")
        self.assertEqual(properties.get("Manufacturer"), MAKER)
        self.assertIn("tarvik.ico", msi_table(self.msi, "Icon"))
        shortcut = msi_table(self.msi, "Shortcut").get("TarvikShortcut", "").split("\t")
        self.assertEqual(shortcut[:3], ["ProgramMenuFolder", "Tarvik", "StartMenuShortcut"])
        summary = subprocess.run(["msiinfo", "suminfo", str(self.msi)], check=True,
                                 capture_output=True, text=True).stdout
        self.assertRegex(summary, r"(?m)^Template: .*x64", "a 64-bit package")
        newer = msi_table(self.newer, "Property")
        self.assertEqual(properties.get("UpgradeCode"), newer.get("UpgradeCode"),
                         "one UpgradeCode for every version")
        self.assertNotEqual(properties.get("ProductCode"), newer.get("ProductCode"))

    def test_install_upgrade_uninstall(self):
        self.msiexec("/i", self.msi, "/qn", "AUTOSTART=1")
        self.assert_installed(self.msi, self.version, autostart=True)
        first = product_code(self.msi)

        # The user's files, where the installed program keeps them: pelrin.ini
        # in C:\windows when it may write there (Wine), else %APPDATA%\Tarvik;
        # the log in %LOCALAPPDATA%\Tarvik.
        user_files = {
            self.drive_c / "windows" / "pelrin.ini": b'0\r\n1\r\n"COM5"\r\n',
            self.user_folder("APPDATA") / "Tarvik" / "pelrin.ini": b'0\r\n1\r\n"COM7"\r\n',
            self.user_folder("APPDATA") / "Tarvik" / "tarvik.ini": b"[app]\r\n",
            self.user_folder("LOCALAPPDATA") / "Tarvik" / "tarvik.log": b"Tarvik started\r\n",
        }
        for path, data in user_files.items():
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)

        # A newer build replaces the installed one in place.
        self.msiexec("/i", self.newer, "/qn", "AUTOSTART=1")
        self.assert_installed(self.newer, self.newer_version, autostart=True)
        self.assertNotEqual(product_code(self.newer), first)

        # The older one does not go over it: its launch condition refuses.
        log = self.bench.work / "downgrade.log"
        self.msiexec("/i", self.msi, "/qn", "AUTOSTART=1", "/l*v", wine_path(log), ok=False)
        text = log.read_bytes().decode("utf-8", "replace")
        self.assertIn(f"WIX_DOWNGRADE_DETECTED = {product_code(self.newer)}", text)
        self.assertRegex(text, r"LaunchConditions\. Return value 0\.", "refused by the launch condition")
        self.assert_installed(self.newer, self.newer_version, autostart=True)

        self.msiexec("/x", self.newer, "/qn")
        self.assert_removed()
        for path, data in user_files.items():
            self.assertTrue(path.exists(), f"the uninstall removed {path}")
            self.assertEqual(path.read_bytes(), data, f"the uninstall changed {path}")

        # Without AUTOSTART=1 nothing starts at log-on.
        self.msiexec("/i", self.msi, "/qn")
        self.assert_installed(self.msi, self.version, autostart=False)
        self.msiexec("/x", self.msi, "/qn")
        self.assert_removed()
