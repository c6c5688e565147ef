#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests under the sanitizers,
# the fuzz targets for a short while each, the Windows-side tests of the
# Win32 pieces under Wine, then the unit tests and the Wine end-to-end tests
# of the real build. Each preset's configure, build and test steps are its
# CMake workflow.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cmake --workflow --preset sanitize
cmake --workflow --preset fuzz
ctest --preset windows
ctest --preset linux "$@"
