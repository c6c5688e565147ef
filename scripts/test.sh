#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests under the sanitizers,
# the fuzz targets for a short while each, the Windows-side tests of the
# Win32 pieces under Wine, then the unit tests (the Linux twins' among them)
# and the end-to-end tests of both programs: tarvik.exe under Wine, the Linux
# tarvik on Xvfb and IceWM. The rules' benchmark prints its figure on the
# way. Each preset's configure, build and test steps are its CMake workflow.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cmake --workflow --preset sanitize
cmake --workflow --preset fuzz
# What the rules cost on a long record: printed, not asserted.
build/linux/rules_bench
ctest --preset windows
ctest --preset linux "$@"
