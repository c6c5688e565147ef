#!/usr/bin/env bash
# Sets up, builds and runs every test: unit tests, then the Wine end-to-end tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --preset linux "$@"
