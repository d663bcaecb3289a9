#!/usr/bin/env bash
# Builds the presets and runs every test: the portable code, the simulated
# desktop and the scenarios on Linux, plainly and under ASan and UBSan; a
# fixed run of the fuzz targets under libFuzzer; the checks of the
# cross-built hook libraries, the tray program and its 32-bit helper, and
# the end-to-end scenarios on a Wine desktop, 32-bit first: the 64-bit build
# packs and tests the 32-bit build's files.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset linux
cmake --workflow --preset linux-asan
cmake --workflow --preset fuzz
bash scripts/wine-desktop.sh cmake --workflow --preset windows32
bash scripts/wine-desktop.sh cmake --workflow --preset windows
