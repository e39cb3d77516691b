#!/usr/bin/env bash
# The layering check itself: a clean copy of the sources passes, and each kind of break,
# planted in turn into a fresh copy, makes it fail and names the file.
# Usage: tests/check_layers_test.sh SOURCE_DIR
set -uo pipefail
src=${1:?usage: check_layers_test.sh SOURCE_DIR}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$src/src" "$src/scripts" "$scratch/" || exit 2
failed=0

check() { bash "$1/scripts/check-layers.sh" "$1"; }

if ! out=$(check "$scratch"); then
    echo "FAIL: the clean copy does not pass:"$'\n'"$out"
    exit 1
fi

# plant NAME FILE LINE [replace OLD]: appends LINE to FILE (or replaces OLD by it) in a
# fresh copy and expects the check to fail naming FILE.
plant() {
    local name=$1 file=$2 line=$3 old=${4:-}
    local copy="$scratch/$name"
    rm -rf "$copy" && mkdir -p "$copy" && cp -r "$scratch/src" "$scratch/scripts" "$copy/"
    mkdir -p "$(dirname "$copy/$file")"
    if [ -n "$old" ]; then
        grep -qF -- "$old" "$copy/$file" || { echo "FAIL $name: '$old' not in $file"; failed=1; return; }
        OLD=$old NEW=$line perl -0pi -e 's/\Q$ENV{OLD}\E/$ENV{NEW}/' "$copy/$file"
    else
        printf '%s\n' "$line" >> "$copy/$file"
    fi
    local out
    if out=$(check "$copy"); then
        echo "FAIL $name: the check passed with $file holding: $line"
        failed=1
    elif ! grep -qF "$file" <<< "$out"; then
        echo "FAIL $name: the check failed without naming $file:"$'\n'"$out"
        failed=1
    else
        echo "ok   $name"
    fi
    rm -rf "$copy"
}

plant deps-view-library src/params/CMakeLists.txt "DEPS dm_core dm_parameter_table_view" "DEPS dm_core"
plant link-view-library src/history/CMakeLists.txt "target_link_libraries(dm_history PUBLIC dm_chart_model)"
plant angle-include src/params/parameter_set.cpp "#include <grid/parameter_table_model.h>"
plant exchange-include src/exchange/reading_recorder.h '#include "app/main_window.h"'
plant exchange-deps src/exchange/CMakeLists.txt "dm_library(dm_exchange_plant SOURCES x.cpp DEPS dm_core dm_grid_view)"
plant qt-in-logic src/core/numbers.cpp "#  include <QString>"
plant widgets-in-records src/records/capture.cpp "#include <QWidget>"
plant action-number src/params/edit_rules.cpp "constexpr int kOldAction = 1007;"

exit $failed
