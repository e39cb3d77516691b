#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each on its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# Findings (crash-*, leak-*, timeout-*) are written to fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DDM_FUZZ=ON > /dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)"
mkdir -p fuzz/findings
status=0
for target in build-fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "== $name for ${seconds}s"
  if ! "$target" "$corpus" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
       -artifact_prefix=fuzz/findings/"$name"- -print_final_stats=1 2> "build-fuzz/$name.log"; then
    echo "$name: FINDING (see build-fuzz/$name.log and fuzz/findings/)"
    tail -30 "build-fuzz/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units' "build-fuzz/$name.log" || true
  fi
done
exit $status
