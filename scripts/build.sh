#!/usr/bin/env bash
# Builds both presets: the Linux unit tests and the Windows programs.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset linux
cmake --workflow --preset windows
