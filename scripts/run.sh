#!/usr/bin/env bash
# Sets up, builds and runs the program under Wine on a headless display: the
# main window comes up, a line goes through the real keystroke output into a
# receiving window, and screenshots land in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
TARVIK_WINDOWS_BUILD_DIR="$PWD/build/windows" python3 scripts/demo.py "$@"
