#!/usr/bin/env bash
# Builds both presets and runs every test: the portable code, the simulated
# desktop and the scenarios on Linux, and the checks of the cross-built
# tavikhook.dll.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset linux
cmake --workflow --preset windows
