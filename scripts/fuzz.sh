#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each on its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default 60 s, every target)
# Environment: FUZZ_JOBS=N runs N fuzzing processes per target (default 1);
# FUZZ_RUNS=N stops each target after N executions instead of (or before) the time.
# Findings (crash-*, leak-*, timeout-*, oom-*) are written to fuzz/findings/; the grown
# corpus stays in build-fuzz/corpus/, each run's log in build-fuzz/logs/. Exit status 1
# when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DDM_FUZZ=ON > /dev/null
if [ $# -gt 0 ]; then
  cmake --build build-fuzz -j "$jobs" --target "$@"
  targets=()
  for t in "$@"; do targets+=("build-fuzz/bin/$t"); done
else
  cmake --build build-fuzz -j "$jobs"
  targets=(build-fuzz/bin/fuzz_*)
fi
mkdir -p fuzz/findings build-fuzz/logs
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  short=${name#fuzz_}
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="fuzz/seeds/$short"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  extra=()
  [ -f "fuzz/dicts/$short.dict" ] && extra+=("-dict=fuzz/dicts/$short.dict")
  [ -n "${FUZZ_RUNS:-}" ] && extra+=("-runs=$FUZZ_RUNS")
  [ "${FUZZ_JOBS:-1}" -gt 1 ] && extra+=("-fork=$FUZZ_JOBS")
  echo "== $name for ${seconds}s"
  start=$(date +%s)
  log="build-fuzz/logs/$name-$(date +%Y%m%d-%H%M%S)-$$.log"
  if ! "$target" "$corpus" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
       -artifact_prefix=fuzz/findings/"$name"- -print_final_stats=1 \
       "${extra[@]}" > "$log" 2>&1; then
    echo "$name: FINDING (see $log and fuzz/findings/)"
    grep -a -E 'ERROR|SUMMARY|==[0-9]+==' "$log" | head -20 || true
    tail -30 "$log"
    status=1
  else
    runs=$(grep -a -E 'stat::number_of_executed_units' "$log" | awk '{s+=$2} END {print s+0}')
    echo "$name: $runs executions in $(( $(date +%s) - start ))s, no finding"
  fi
done
exit $status
