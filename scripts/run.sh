#!/usr/bin/env bash
# Sets up, builds and runs tarvik.exe under Wine on a headless display, with a
# simulated reader on 127.0.0.1: the window, the tray, the link, and scanned
# lines typed into a receiving window. Screenshots land in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
TARVIK_WINDOWS_BUILD_DIR="$PWD/build/windows" python3 scripts/demo.py "$@"
