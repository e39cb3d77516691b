#!/usr/bin/env bash
# Keeps the layers apart: the logic below the widgets includes and links nothing of the
# view side, and the window's action numbers stay inside the window.
# Usage: scripts/check-layers.sh [SOURCE_DIR]
# tests/check_layers_test.sh plants each kind of break in a copy and expects this to fail.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
bad=0
say() { echo "check-layers: $*"; bad=1; }

# Folders under src/. Logic decides and never reaches up; "qt" is the UTF-8 to QString
# helper records and the views share (Qt Core only).
logic="core params history link sim records exchange qt"
qt_free="core params history link sim exchange"
qt_core="records qt"
view="grid charts access app cli"

dirs() { for d in "$@"; do [ -d "src/$d" ] && echo "src/$d"; done; }
alt() { local IFS='|'; echo "$*"; }
logic_dirs=$(dirs $logic)
qt_free_dirs=$(dirs $qt_free)
qt_core_dirs=$(dirs $qt_core)

# Includes, quoted or in angle brackets, blanks allowed after the '#'.
inc='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]'

hits=$(grep -rnE "$inc($(alt $view))/" $logic_dirs)
[ -n "$hits" ] && say "logic includes view code:"$'\n'"$hits"
hits=$(grep -rnE "${inc}Q" $qt_free_dirs)
[ -n "$hits" ] && say "Qt outside the records store and the view side:"$'\n'"$hits"
hits=$(grep -rnE "$inc(QtWidgets|QWidget|QApplication|QDialog|QMessageBox)" $qt_core_dirs)
[ -n "$hits" ] && say "widgets in the records store:"$'\n'"$hits"

# Libraries: every library a view folder defines, by name, and Qt Widgets, in no logic
# CMakeLists (DEPS lines and target_link_libraries alike; comments aside).
view_libs=$(for d in $(dirs $view); do
    find "$d" -name CMakeLists.txt -exec grep -hoE '(dm_library|add_library)\([[:space:]]*[A-Za-z0-9_]+' {} +
done | sed -E 's/.*\([[:space:]]*//' | sort -u)
if [ -z "$view_libs" ]; then
    say "no view libraries found under src/ ($view): is this the source tree?"
else
    hits=$(find $logic_dirs -name CMakeLists.txt -exec grep -nHwE "$(alt $view_libs)|Qt6?::Widgets" {} + |
        grep -vE '^[^:]+:[0-9]+:[[:space:]]*#')
    [ -n "$hits" ] && say "logic links view libraries:"$'\n'"$hits"
fi

# Action numbers of the old dialog resources (1002..1024) outside src/app; 1024 counts
# only where it is not a byte multiple.
code_dirs=$(for d in src tests bench; do [ -d "$d" ] && echo "$d"; done)
hits=$(grep -rnE '\b10(0[2-9]|1[0-9]|2[0-3])\b|([^*0-9 ] *|^ *)\b1024\b *([^* 0-9]|$)' \
    --include='*.h' --include='*.cpp' $code_dirs | grep -v '^src/app/')
[ -n "$hits" ] && say "action numbers outside the window:"$'\n'"$hits"

exit $bad
