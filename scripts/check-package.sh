#!/usr/bin/env bash
# Checks the installation and the Debian package:
#  1. `cmake --install` into a temporary prefix puts the programs, "Commands.lst", the
#     desktop entry, the icon and the AppStream metadata where a desktop finds them;
#  2. cpack builds the .deb in build/;
#  3. the .deb is installed with dpkg (as root; otherwise unpacked with dpkg -x), the
#     installed programs run from a folder without "Commands.lst" and find the installed
#     one; the package is removed again afterwards (KEEP_INSTALLED=1 keeps it).
# Takes a few minutes on top of a normal build, so the test command does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

fail() { echo "check-package: $*" >&2; exit 1; }

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j "$jobs"
have_window=0
[ -x build/bin/dosimeter-manager ] && have_window=1

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "== cmake --install into $tmp/prefix"
cmake --install build --prefix "$tmp/prefix" > "$tmp/install.log"
expected=(
  bin/dosimeter-cli
  share/dosimeter-manager/Commands.lst
  share/applications/dosimeter-manager.desktop
  share/icons/hicolor/scalable/apps/dosimeter-manager.svg
  share/metainfo/org.borealis.DosimeterManager.metainfo.xml
  lib/udev/rules.d/70-dosimeter-manager-irda.rules
)
[ $have_window = 1 ] && expected+=(bin/dosimeter-manager)
for f in "${expected[@]}"; do
  [ -e "$tmp/prefix/$f" ] || fail "cmake --install did not install $f"
done
(cd "$tmp/prefix" && find . -type f | sort)
cmp data/Commands.lst "$tmp/prefix/share/dosimeter-manager/Commands.lst" \
  || fail "the installed Commands.lst differs from data/Commands.lst"
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$tmp/prefix/share/applications/dosimeter-manager.desktop"
fi
if command -v appstreamcli > /dev/null; then
  appstreamcli validate --no-net --pedantic \
    "$tmp/prefix/share/metainfo/org.borealis.DosimeterManager.metainfo.xml" \
    || fail "the AppStream metadata does not validate"
fi

echo "== cpack"
rm -f build/dosimeter-manager_*.deb
(cd build && cpack -G DEB > "$tmp/cpack.log") || { cat "$tmp/cpack.log"; fail "cpack failed"; }
deb=$(ls build/dosimeter-manager_*.deb)
echo "$deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
[ -n "$(dpkg-deb --field "$deb" Depends)" ] || fail "the package declares no dependencies"
listing=$(dpkg-deb --contents "$deb")
for f in "${expected[@]}"; do
  grep -q "\./usr/$f\$" <<< "$listing" || fail "the package lacks /usr/$f"
done

echo "== install the package"
root=""
installed=0
if [ "$(id -u)" -eq 0 ] && { installed=1; dpkg -i "$deb"; }; then
  :
else
  [ $installed = 1 ] && { dpkg -r dosimeter-manager > /dev/null 2>&1 || true; installed=0; }
  echo "dpkg -i not possible here: unpacking instead"
  root="$tmp/root"
  dpkg -x "$deb" "$root"
fi
cleanup() {
  if [ $installed = 1 ] && [ "${KEEP_INSTALLED:-0}" != 1 ]; then
    dpkg -r dosimeter-manager > /dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

cli="$root/usr/bin/dosimeter-cli"
# Run from a folder without "Commands.lst": the programs must find the installed one.
mkdir -p "$tmp/elsewhere"
cd "$tmp/elsewhere"
out=$("$cli" format-dose 0.0000123)
[ "$out" = "12.3 mkSv" ] || fail "format-dose printed '$out'"
echo "format-dose 0.0000123: $out"

reply="$OLDPWD/tests/data/params-krt17a.txt"
installedTable=$("$cli" params "$reply")
shippedTable=$("$cli" params "$reply" --catalogue "$OLDPWD/data/Commands.lst")
[ "$installedTable" = "$shippedTable" ] \
  || fail "the installed programs do not find the installed Commands.lst"
grep -q "Serial number" <<< "$installedTable" || fail "the catalogue names are missing"
echo "the installed catalogue is found from $PWD"

# A copy of the program with the catalogue beside it, away from any share folder.
mkdir -p "$tmp/portable"
cp "$cli" "$tmp/portable/"
cp "$OLDPWD/data/Commands.lst" "$tmp/portable/"
portableTable=$("$tmp/portable/dosimeter-cli" params "$reply")
[ "$portableTable" = "$shippedTable" ] \
  || fail "a program does not find Commands.lst beside itself"
echo "Commands.lst beside the program is found from $PWD"

if [ $have_window = 1 ]; then
  win="$root/usr/bin/dosimeter-manager"
  timeout 60 "$win" --help > "$tmp/help.txt" 2>&1 || fail "dosimeter-manager --help failed"
  grep -qi "usage" "$tmp/help.txt" || fail "dosimeter-manager --help printed no usage"
  echo "dosimeter-manager --help: ok"
  # The window against its simulated dosimeter, started where there is no catalogue:
  # a missing catalogue would stop it at a message box and the time-out would end it.
  mkdir -p "$tmp/winrun" "$tmp/home" "$tmp/shots"
  cd "$tmp/winrun"
  printf en > locale.cfg
  printf 0 > system.cfg
  HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_DATA_HOME="$tmp/home/.local/share" \
    timeout 120 "$win" --simulate KRT-17A --screenshots "$tmp/shots" > "$tmp/window.txt" 2>&1 \
    || { cat "$tmp/window.txt"; fail "the installed window did not run to its end"; }
  ls "$tmp/shots"/*.png > /dev/null 2>&1 || fail "the installed window saved no pictures"
  echo "installed window ran against the simulated dosimeter: $(ls "$tmp/shots" | tr '\n' ' ')"
fi
echo "package check passed"
