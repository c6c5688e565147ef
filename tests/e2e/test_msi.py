"""The MSI as a fleet installs, upgrades and repairs it, silently and per machine,
under Wine's msiexec in a fresh prefix; and the installed program at the end of
the session."""
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

from bench import MAIN, WINE, Bench, poll, win_build_dir, wine_path
from fake_reader import TcpReader

SOURCE = Path(__file__).resolve().parents[2]
BUILD_MSI = SOURCE / "packaging" / "windows" / "build_msi.cmake"
MAKER = "QUILLMARKS"  # CompanyName in tarvik.rc
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_LONG = UNINSTALL_KEY.replace("HKLM", "HKEY_LOCAL_MACHINE")  # as reg query lists subkeys
INSTALL_TIMEOUT = 180
# The first install into a fresh prefix, on a loaded machine, has been seen to
# take its files and shortcut well over 30 s to show: the polls return at once
# when they are there, so their limit costs nothing when all is well.
SETTLE_TIMEOUT = 120
WINE_TIMEOUT = 120
REPAIR = ("REINSTALL=ALL", "REINSTALLMODE=vomus")  # a repair that takes properties
VERSION_MAX_INCLUSIVE = 0x200  # Upgrade table attributes
TRANSITIVE = 0x40  # Component table attributes
# What Wine's stub of RegisterApplicationRestart prints on its "process" debug
# channel: the command line and RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT.
RESTART_REGISTERED = 'RegisterApplicationRestart (L"/restarted",11)'
WM_ENDSESSION, ENDSESSION_CLOSEAPP = 0x16, 0x1


def msi_rows(msi, table):  # [[columns]]
    # msiinfo writes three header lines first, and a table of streams (Icon)
    # also as files into the current folder: a scratch one, not the caller's.
    with tempfile.TemporaryDirectory() as scratch:
        out = subprocess.run(["msiinfo", "export", str(Path(msi).resolve()), table], check=True,
                             capture_output=True, text=True, cwd=scratch).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def msi_table(msi, table):  # {first column: the others, tab-separated}
    return {row[0]: "\t".join(row[1:]) for row in msi_rows(msi, table)}


def product_code(msi):
    return msi_table(msi, "Property")["ProductCode"]


def exe_version(path):
    """The file version in an exe's version resource (VS_FIXEDFILEINFO)."""
    data = Path(path).read_bytes()
    at = data.find(struct.pack("<II", 0xFEEF04BD, 0x10000))
    assert at >= 0, f"{path} has no version resource"
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


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

        # A newer build of the same package (same source, the version one
        # higher), and that one built again: the same version, a new product code.
        *major_minor, patch = self.version.split(".")
        self.newer_version = ".".join(major_minor + [str(int(patch) + 1)])
        self.newer, self.rebuilt = (self.bench.work / f"tarvik-{self.newer_version}-{n}-x64.msi"
                                    for n in (1, 2))
        for msi in (self.newer, self.rebuilt):
            subprocess.run(["cmake", "-DWXS=tarvik.wxs", f"-DMSI={msi}",
                            f"-DVERSION={self.newer_version}", "-P", str(BUILD_MSI)],
                           cwd=wxs.parent, check=True, capture_output=True)

        self.drive_c = self.bench.prefix / "drive_c"
        self.program = self.drive_c / "Program Files" / "Tarvik" / "tarvik.exe"
        # With ALLUSERS=1 Windows puts the ProgramMenuFolder shortcut in the
        # all-users Start menu; Wine 8's msiexec in the user's whatever ALLUSERS
        # says: it is looked for there, and test_package_tables checks the rest.
        self.shortcut = (self.user_folder("APPDATA") / "Microsoft" / "Windows" / "Start Menu" /
                         "Programs" / "Tarvik.lnk")

    def wine(self, *args, timeout=WINE_TIMEOUT):
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

    def settle(self, predicate, what):
        poll(predicate, timeout=SETTLE_TIMEOUT, interval=0.5, what=what)

    def assert_installed(self, msi, version, autostart):
        self.settle(self.program.exists, f"{self.program} after installing {msi.name}")
        self.settle(self.shortcut.exists, f"{self.shortcut} after installing {msi.name}")
        expected_run = r'"C:\Program Files\Tarvik\tarvik.exe"' if autostart else None
        self.settle(lambda: self.run_value() == expected_run,
                    f"the Run value {expected_run!r} (it is {self.run_value()!r})")
        code = product_code(msi)
        entries = {}
        self.settle(lambda: entries.update(self.tarvik_uninstall_entries()) or entries,
                    "Tarvik's uninstall entry")
        self.assertEqual(list(entries), [code], "one uninstall entry, the installed package's")
        entry = entries[code]
        self.assertEqual(entry.get("DisplayVersion"), version)
        self.assertEqual(entry.get("Publisher"), MAKER)
        self.assertEqual(entry.get("DisplayIcon"), r"C:\Program Files\Tarvik\tarvik.exe,0")

    def assert_removed(self):
        self.settle(lambda: not self.program.exists(), f"{self.program} removed")
        self.settle(lambda: not self.shortcut.exists(), f"{self.shortcut} removed")
        self.settle(lambda: self.run_value() is None, "the Run value removed")
        self.settle(lambda: not self.tarvik_uninstall_entries(), "no Tarvik uninstall entry")
        self.assertIsNone(self.reg_values(rf"HKLM\Software\{MAKER}\Tarvik"), "the maker's key left")

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
        # Given by a managed install's client, AUTOSTART reaches the installing service.
        self.assertIn("AUTOSTART", properties.get("SecureCustomProperties", "").split(";"))
        # A repair applies AUTOSTART again only to transitive components.
        components = msi_table(self.msi, "Component")
        for name in ("LogOnStart", "LogOnStartOff"):
            self.assertTrue(int(components[name].split("\t")[2]) & TRANSITIVE, name)
        # The upgrade's range takes in its own version: a rebuild replaces it.
        found = [r for r in msi_rows(self.msi, "Upgrade") if r[-1] == "WIX_UPGRADE_DETECTED"]
        self.assertEqual([(r[2], int(r[4]) & VERSION_MAX_INCLUSIVE) for r in found],
                         [(self.version, VERSION_MAX_INCLUSIVE)])
        # A versioned file: its version is the exe's own, with no hash.
        exe = msi_table(self.msi, "File")["tarvik.exe"].split("\t")
        self.assertEqual(exe[3:5], [exe_version(self.bench.exe("tarvik.exe")), "1033"])
        self.assertEqual(exe_version(self.bench.exe("tarvik.exe")), self.version + ".0")
        self.assertNotIn("tarvik.exe", msi_table(self.msi, "MsiFileHash"))

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

        # A newer build replaces the installed one in place, as a fleet's
        # routine upgrade runs it: without AUTOSTART, the log-on start stays.
        self.msiexec("/i", self.newer, "/qn")
        self.assert_installed(self.newer, self.newer_version, autostart=True)
        self.assertNotEqual(product_code(self.newer), first)
        # The same version built again replaces it too: one entry, the rebuild's.
        self.msiexec("/i", self.rebuilt, "/qn")
        self.assert_installed(self.rebuilt, self.newer_version, autostart=True)

        # The older one does not go over it: its launch condition refuses.
        log = self.bench.work / "downgrade.log"
        self.msiexec("/i", self.msi, "/qn", "AUTOSTART=1", "/l*v", wine_path(log), ok=False)
        text = log.read_bytes().decode("utf-8", "replace")
        self.assertIn(f"WIX_DOWNGRADE_DETECTED = {product_code(self.rebuilt)}", text)
        self.assertRegex(text, r"LaunchConditions\. Return value 0\.", "refused by the launch condition")
        self.assert_installed(self.rebuilt, self.newer_version, autostart=True)

        # A repair changes the log-on start with AUTOSTART, and keeps it without.
        for args, autostart in [(("AUTOSTART=0",), False), ((), False), (("AUTOSTART=1",), True),
                                ((), True)]:
            self.msiexec("/i", self.rebuilt, "/qn", *REPAIR, *args)
            self.assert_installed(self.rebuilt, self.newer_version, autostart=autostart)

        self.msiexec("/x", self.rebuilt, "/qn")
        self.assert_removed()
        for path, data in user_files.items():
            self.assertTrue(path.exists(), f"the uninstall removed {path}")
            self.assertEqual(path.read_bytes(), data, f"the uninstall changed {path}")

        # Without AUTOSTART=1 nothing starts at log-on, and an upgrade adds nothing.
        self.msiexec("/i", self.msi, "/qn")
        self.assert_installed(self.msi, self.version, autostart=False)
        self.msiexec("/i", self.newer, "/qn")
        self.assert_installed(self.newer, self.newer_version, autostart=False)
        self.msiexec("/x", self.newer, "/qn")
        self.assert_removed()

    def test_installed_program_ends_with_the_session(self):
        """Log-off as Wine's wineboot does it: WM_QUERYENDSESSION, WM_ENDSESSION,
        then the process is ended. The Restart Manager that an installer on
        Windows uses sends the same two messages; Wine has none."""
        self.msiexec("/i", self.msi, "/qn")
        self.settle(self.program.exists, f"{self.program} after installing {self.msi.name}")
        reader = TcpReader()
        self.addCleanup(reader.stop)
        self.bench.write_settings(reader.address)
        errors = self.bench.work / "tarvik-stderr.txt"

        def start(*args):
            env = dict(self.env, WINEDEBUG="-all,fixme+process")
            with open(errors, "wb") as out:
                proc = subprocess.Popen([WINE, wine_path(self.program), *args], env=env,
                                        stdout=subprocess.DEVNULL, stderr=out,
                                        stdin=subprocess.DEVNULL)
            self.bench.procs.append(proc)
            return proc

        proc = start()
        self.bench.wait_visible(MAIN)
        self.bench.wait_tray()
        reader.wait_connected(timeout=SETTLE_TIMEOUT)
        poll(lambda: reader.received() == b"F", what="the F after the connect")
        self.assertIn(RESTART_REGISTERED, errors.read_text(errors="replace"))

        self.wine("wineboot", "--end-session")
        self.assertEqual(proc.wait(timeout=SETTLE_TIMEOUT), 0)
        self.assertTrue(reader.peer_closed.wait(SETTLE_TIMEOUT), "the link left open")
        log = self.bench.log_text()
        self.assertIn("Windows shuts down: the link is closed and the program ends", log)
        self.assertEqual(reader.connections, 1)

        # Started again as Windows starts it after an update, then closed as
        # the Restart Manager closes it: it must end by itself.
        proc = start("/restarted")
        self.bench.wait_visible(MAIN)
        self.bench.post(MAIN, WM_ENDSESSION, 1, ENDSESSION_CLOSEAPP)
        self.assertEqual(proc.wait(timeout=SETTLE_TIMEOUT), 0)
        log = self.bench.log_text()[len(log):]
        self.assertIn("started again by Windows, after an installer closed it", log)
        self.assertIn("An installer closes the program to replace its files: the link is closed", log)
