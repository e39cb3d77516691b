#!/usr/bin/env bash
# Keeps the layers apart: the logic below the widgets includes and links nothing of the
# view side, and the window's action numbers stay inside the window.
# Usage: scripts/check-layers.sh [SOURCE_DIR]
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
bad=0
say() { echo "check-layers: $*"; bad=1; }

logic="src/core src/params src/history src/link src/exchange src/sim src/records"
view='(grid|charts|access|app|cli)/'

# Includes: no view folder, and Qt only in the records store (Core, Sql; Gui for the PDF).
hits=$(grep -rnE "#include \"$view" $logic)
[ -n "$hits" ] && say "logic includes view code:"$'\n'"$hits"
hits=$(grep -rnE '#include [<"]Q' src/core src/params src/history src/link src/exchange src/sim)
[ -n "$hits" ] && say "Qt outside the records store and the view side:"$'\n'"$hits"
hits=$(grep -rnE '#include [<"](QtWidgets|QWidget|QApplication|QDialog|QMessageBox)' src/records)
[ -n "$hits" ] && say "widgets in the records store:"$'\n'"$hits"

# Libraries: what each logic library is built from.
hits=$(grep -nE 'dm_(grid|chart|access|app)|Qt6?::Widgets' src/core/CMakeLists.txt \
    src/params/CMakeLists.txt src/history/CMakeLists.txt src/link/CMakeLists.txt src/exchange/CMakeLists.txt \
    src/sim/CMakeLists.txt src/records/CMakeLists.txt)
[ -n "$hits" ] && say "logic links view libraries:"$'\n'"$hits"

# Action numbers of the old dialog resources (1002..1024) outside src/app; 1024 counts
# only where it is not a byte multiple.
hits=$(grep -rnE '\b10(0[2-9]|1[0-9]|2[0-3])\b|([^*0-9 ] *|^ *)\b1024\b *([^* 0-9]|$)' \
    --include='*.h' --include='*.cpp' src tests bench | grep -v '^src/app/')
[ -n "$hits" ] && say "action numbers outside the window:"$'\n'"$hits"

exit $bad
