#!/usr/bin/env bash
# Sets up, builds and runs the program on a headless display with a simulated
# reader on 127.0.0.1: the window, the tray, the link, and scanned lines typed
# into a receiving window.
#   scripts/run.sh           tarvik.exe under Wine; screenshots in build/demo/
#   scripts/run.sh --linux   the Linux tarvik on Xvfb and IceWM; screenshots in build/demo-linux/
#   TARVIK_WINDOWS_BUILD_DIR, TARVIK_LINUX_BUILD_DIR: other build folders than
#   build/windows and build/linux
# Whether it succeeds or fails, or is stopped with Ctrl+C, it leaves nothing
# of its own running (it fails if the demo left something behind).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/own_processes.sh
trap stop_own_processes EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
scripts/setup.sh
if [ "${1:-}" = "--linux" ]; then
  shift
  build=$(realpath -m "${TARVIK_LINUX_BUILD_DIR:-build/linux}")
  cmake --preset linux -B "$build"
  cmake --build "$build" --target tarvik tarvik_receiver
  TARVIK_EXE="$build/tarvik" TARVIK_RECEIVER="$build/tarvik_receiver" \
    python3 scripts/demo_linux.py "$@"
else
  build=$(realpath -m "${TARVIK_WINDOWS_BUILD_DIR:-build/windows}")
  cmake --preset windows -B "$build"
  cmake --build "$build" --target tarvik receiver wbench
  TARVIK_WINDOWS_BUILD_DIR="$build" python3 scripts/demo.py "$@"
fi
own_processes_ended
