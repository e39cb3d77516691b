#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window with a simulated KRT-17A
# dosimeter (the Simulator menu moves it into and out of range). Arguments are passed on
# to the window, e.g. `bash scripts/run.sh --simulate MLV-52B` or `--link irda`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display to show the window on; run it under Xvfb instead: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

args=("$@")
[ ${#args[@]} -eq 0 ] && args=(--simulate)
# The window keeps its settings (locale.cfg, system.cfg) in ~/.config/dosimeter-manager/;
# from build/bin it finds the Commands.lst the build put there.
cd build/bin
exec ./dosimeter-manager "${args[@]}"
