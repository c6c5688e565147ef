#!/usr/bin/env bash
# Configures and builds both presets: the Linux unit tests and the Windows exe.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux
cmake --preset windows >/dev/null
cmake --build --preset windows
