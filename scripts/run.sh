#!/usr/bin/env bash
# Sets up, builds and runs the program on a headless display with a simulated
# reader on 127.0.0.1: the window, the tray, the link, and scanned lines typed
# into a receiving window.
#   scripts/run.sh           tarvik.exe under Wine; screenshots in build/demo/
#   scripts/run.sh --linux   the Linux tarvik on Xvfb and IceWM; screenshots in build/demo-linux/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ "${1:-}" = "--linux" ]; then
  shift
  cmake --workflow --preset linux
  TARVIK_EXE="$PWD/build/linux/tarvik" TARVIK_RECEIVER="$PWD/build/linux/tarvik_receiver" \
    python3 scripts/demo_linux.py "$@"
else
  scripts/build.sh
  TARVIK_WINDOWS_BUILD_DIR="$PWD/build/windows" python3 scripts/demo.py "$@"
fi
