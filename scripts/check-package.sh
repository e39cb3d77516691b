#!/usr/bin/env bash
# Checks the installation and the Debian package:
#  1. `cmake --install` into a temporary prefix puts the programs, "Commands.lst", the
#     desktop entry, the icons (SVG and PNG), the AppStream metadata, the manual pages,
#     the copyright and changelog and the bash completion where a desktop, man and bash
#     find them; the manual pages render without a warning and name every command;
#  2. cpack builds the .deb in build/, depending on Qt's SQLite driver and recommending
#     the PostgreSQL driver and Qt's translations; its version is the changelog's and
#     the AppStream metadata's newest;
#  3. the .deb is installed with dpkg (as root; otherwise unpacked with dpkg -x): dpkg -s
#     shows those relations, both programs say their version, the completion completes,
#     the installed programs run from a folder without "Commands.lst" and find the
#     installed one, and the window moves old settings from its working folder into
#     ~/.config/dosimeter-manager and starts without settings and without a box; the
#     package is removed again afterwards (KEEP_INSTALLED=1 keeps it).
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
  share/icons/hicolor/256x256/apps/dosimeter-manager.png
  share/icons/hicolor/48x48/apps/dosimeter-manager.png
  share/man/man1/dosimeter-cli.1.gz
  share/doc/dosimeter-manager/copyright
  share/doc/dosimeter-manager/changelog.gz
  share/bash-completion/completions/dosimeter-cli
  lib/udev/rules.d/70-dosimeter-manager-irda.rules
)
[ $have_window = 1 ] && expected+=(bin/dosimeter-manager share/man/man1/dosimeter-manager.1.gz)
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

# The PNG icons are PNGs of their folder's size.
for size in 48 256; do
  png="$tmp/prefix/share/icons/hicolor/${size}x${size}/apps/dosimeter-manager.png"
  read -r -a head <<< "$(head -c 24 "$png" | od -An -tu1 | tr -s ' \n' ' ')"
  [ "${head[1]} ${head[2]} ${head[3]}" = "80 78 71" ] || fail "$png is not a PNG"
  [ $((head[18] * 256 + head[19])) = "$size" ] && [ $((head[22] * 256 + head[23])) = "$size" ] \
    || fail "$png is not ${size}x${size}"
done

# Manual pages: render without a warning, name every command the program lists.
pages=(dosimeter-cli)
[ $have_window = 1 ] && pages+=(dosimeter-manager)
for page in "${pages[@]}"; do
  file="$tmp/prefix/share/man/man1/$page.1.gz"
  gzip -t "$file" || fail "$page.1.gz is not gzip"
  MANWIDTH=100 man --warnings -E UTF-8 -l "$file" > "$tmp/$page.txt" 2> "$tmp/$page.warnings" \
    || fail "man cannot show $page.1.gz"
  [ ! -s "$tmp/$page.warnings" ] || { cat "$tmp/$page.warnings"; fail "$page.1.gz renders with warnings"; }
  grep -q "^NAME" "$tmp/$page.txt" && grep -q "^SYNOPSIS" "$tmp/$page.txt" || fail "$page.1 lacks NAME or SYNOPSIS"
done
for c in $(build/bin/dosimeter-cli --help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p'); do
  grep -q "^   $c\$" "$tmp/dosimeter-cli.txt" || fail "the manual page has no section for '$c'"
done
echo "manual pages: ${pages[*]}, every command described"

# The copyright in Debian's machine-readable form; one version everywhere.
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$tmp/prefix/share/doc/dosimeter-manager/copyright" || fail "the copyright file is not machine-readable"
version=$(sed -n 's/^project(DosimeterManager VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelogVersion=$(gzip -dc "$tmp/prefix/share/doc/dosimeter-manager/changelog.gz" | sed -n '1s/^dosimeter-manager (\(.*\)) .*/\1/p')
metainfoVersion=$(grep -o '<release version="[^"]*"' data/org.borealis.DosimeterManager.metainfo.xml | head -n 1 | cut -d'"' -f2)
[ "$changelogVersion" = "$version" ] || fail "the changelog's newest entry is $changelogVersion, the program $version"
[ "$metainfoVersion" = "$version" ] || fail "the AppStream metadata's newest release is $metainfoVersion, the program $version"
echo "version $version in the program, the changelog and the AppStream metadata"

echo "== cpack"
rm -f build/dosimeter-manager_*.deb
(cd build && cpack -G DEB > "$tmp/cpack.log") || { cat "$tmp/cpack.log"; fail "cpack failed"; }
deb=$(ls build/dosimeter-manager_*.deb)
echo "$deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
[ -n "$(dpkg-deb --field "$deb" Depends)" ] || fail "the package declares no dependencies"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
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

# The relations as dpkg keeps them (as the .deb states them when not installed).
if [ $installed = 1 ]; then
  status=$(dpkg -s dosimeter-manager)
else
  status=$(dpkg-deb --field "$deb")
fi
relation() { sed -n "s/^$1: //p" <<< "$status" | tr ',' '\n' | sed 's/^ *//; s/ .*//'; }
relation Depends | grep -qx libqt6sql6-sqlite || fail "the package does not depend on libqt6sql6-sqlite"
for r in libqt6sql6-psql qt6-translations-l10n; do
  relation Recommends | grep -qx "$r" || fail "the package does not recommend $r"
done
echo "Depends: $(sed -n 's/^Depends: //p' <<< "$status")"
echo "Recommends: $(sed -n 's/^Recommends: //p' <<< "$status")"

cli="$root/usr/bin/dosimeter-cli"
[ "$("$cli" --version)" = "dosimeter-cli $version" ] || fail "dosimeter-cli --version printed '$("$cli" --version)'"
# The completion as bash loads it, over the installed program.
completion=$(bash -c '
  source "$1"
  complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _dosimeter_cli; echo "${COMPREPLY[*]}"; }
  complete_words "$2" re
  complete_words "$2" records --db sqlite:x ""
  complete_words "$2" archive --
  complete_words "$2" chart a.txt --diagram ""' _ "$root/usr/share/bash-completion/completions/dosimeter-cli" "$cli")
[ "$(sed -n 1p <<< "$completion")" = "read-params read-archive records" ] \
  || fail "completing 'dosimeter-cli re' gave '$(sed -n 1p <<< "$completion")'"
grep -qw dosimeters <<< "$(sed -n 2p <<< "$completion")" || fail "'records' commands are not completed"
[ "$(sed -n 3p <<< "$completion")" = "--interval --json --lang --save-tab" ] || fail "archive's options are not completed"
[ "$(sed -n 4p <<< "$completion")" = "dose increments" ] || fail "--diagram's values are not completed"
echo "dosimeter-cli --version and bash completion: ok"
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
  [ "$("$win" --version)" = "dosimeter-manager $version" ] || fail "dosimeter-manager --version printed '$("$win" --version)'"
  echo "dosimeter-manager --help and --version: ok"
  # The window against its simulated dosimeter, started where there is no catalogue:
  # a missing catalogue (or any other message box) would stop it and the time-out end it.
  # First with the settings files an earlier version left in its working folder: they
  # are moved into the settings folder and used (English pictures).
  mkdir -p "$tmp/winrun" "$tmp/home" "$tmp/shots"
  cd "$tmp/winrun"
  printf en > locale.cfg
  printf 12748 > system.cfg
  HOME="$tmp/home" XDG_CONFIG_HOME="" XDG_DATA_HOME="" \
    timeout 120 "$win" --simulate KRT-17A --screenshots "$tmp/shots" > "$tmp/window.txt" 2>&1 \
    || { cat "$tmp/window.txt"; fail "the installed window did not run to its end"; }
  ls "$tmp/shots"/window-en-*.png > /dev/null 2>&1 || fail "the installed window saved no English pictures"
  echo "installed window ran against the simulated dosimeter: $(ls "$tmp/shots" | tr '\n' ' ')"
  settings="$tmp/home/.config/dosimeter-manager"
  [ "$(cat "$settings/locale.cfg")" = en ] && [ "$(cat "$settings/system.cfg")" = 12748 ] \
    || fail "the old settings did not reach $settings"
  [ ! -e locale.cfg ] && [ ! -e system.cfg ] || fail "the old settings files were left in the working folder"
  grep -q "moved to $settings/locale.cfg" "$tmp/window.txt" || fail "the move of the settings was not said"
  echo "old settings moved into $settings"
  # Then a first start with no settings anywhere: no box, the defaults, written at the end.
  rm -rf "$tmp/home" "$tmp/shots"
  mkdir -p "$tmp/home" "$tmp/shots"
  HOME="$tmp/home" XDG_CONFIG_HOME="" XDG_DATA_HOME="" \
    timeout 120 "$win" --simulate KRT-17A --screenshots "$tmp/shots" > "$tmp/window.txt" 2>&1 \
    || { cat "$tmp/window.txt"; fail "a first start without settings did not run to its end"; }
  [ "$(cat "$settings/locale.cfg")" = ru ] || fail "a first start did not keep the default language"
  echo "a first start without settings: no box, $(ls "$tmp/shots" | tr '\n' ' ')"
fi
echo "package check passed"
