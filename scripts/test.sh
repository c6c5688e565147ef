#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests under the sanitizers,
# the fuzz targets for a short while each, the Windows-side tests of the
# Win32 pieces under Wine, then the unit tests (the Linux twins' among them)
# and the end-to-end tests of both programs: tarvik.exe under Wine, the Linux
# tarvik on Xvfb (with IceWM, and with no window manager; into LibreOffice
# Calc on its own X11 backend), on headless sway with Xwayland, on headless
# GNOME 43 through its real portal and consent dialog, on KDE's KWin through
# its real portal, and through a mock desktop portal and logind. The benchmarks print their
# figures on the way (the rules' cost; the Linux typing speed against a bare
# XTest loop; typing through IBus and Fcitx 5 into a GTK entry), asserting
# nothing; one that cannot run fails the script. Each preset's configure,
# build and test steps are its CMake workflow. It ends with nothing of its
# own still running, and fails if a test left a process behind (Xvfb, Wine,
# a program under test); on a failure or Ctrl+C it stops them itself.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/own_processes.sh
cleanup() {
  # Stopped early: the Windows-side test runner's display, wineserver and
  # serial pair first, through the runner, so it starts afresh next time.
  if [ $? -ne 0 ]; then
    tests/win/wine-run.sh --stop build/windows/tests/win >/dev/null 2>&1 || true
  fi
  stop_own_processes
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
scripts/setup.sh
scripts/build.sh
cmake --workflow --preset sanitize
cmake --workflow --preset fuzz
# What the rules cost on a long record: printed, not asserted.
build/linux/rules_bench
ctest --preset windows
ctest --preset linux "$@"
TARVIK_LINUX_BUILD_DIR=build/linux python3 scripts/bench_typing_linux.py 3
python3 scripts/bench_ime.py --frameworks ibus,fcitx5 --runs 1
own_processes_ended
