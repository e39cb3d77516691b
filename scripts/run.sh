#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"
# The window arrives with the main-window work; until then show the command-line tool.
build/bin/dosimeter-cli --help
build/bin/dosimeter-cli format-dose 0.0000123
build/bin/dosimeter-cli format-duration 90061
