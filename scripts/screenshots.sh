#!/usr/bin/env bash
# Takes the user guide's pictures of the window, in English and in Russian, under Xvfb:
# a simulated KRT-17A is read out; its parameter table, its dose history tab, the diagram
# and two unsent edits (one refused), then the table kept when the dosimeter leaves, are
# saved as docs/window-<en|ru>-<parameters|dose-history|diagram|editing|out-of-range>.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ ! -x build/bin/dosimeter-manager ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target dosimeter-manager
fi
command -v xvfb-run > /dev/null || { echo "screenshots.sh: xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }

mkdir -p docs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for lang in en ru; do
  # The language comes from the settings file, in a settings folder of this run's own
  # (the user's own settings stay as they are).
  mkdir -p "$work/$lang/config/dosimeter-manager"
  printf '%s' "$lang" > "$work/$lang/config/dosimeter-manager/locale.cfg"
  printf '0' > "$work/$lang/config/dosimeter-manager/system.cfg"
  cp data/Commands.lst "$work/$lang/"
  (cd "$work/$lang" && XDG_CONFIG_HOME="$work/$lang/config" xvfb-run -a -s "-screen 0 1024x768x24" \
      "$root/build/bin/dosimeter-manager" --simulate KRT-17A --screenshots "$root/docs")
done
