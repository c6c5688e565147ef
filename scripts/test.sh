#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests under the sanitizers,
# the Windows-side tests of the Win32 pieces under Wine, then the unit tests
# and the Wine end-to-end tests of the real build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize
ctest --preset windows
ctest --preset linux "$@"
