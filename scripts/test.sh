#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, then the
# same tests built with AddressSanitizer and UndefinedBehaviorSanitizer, the threaded
# tests with ThreadSanitizer, the device link cross-compiled for Windows, and each
# fuzz target for a few seconds (FUZZ_SMOKE_SECONDS, default 5) on its corpus.
# The package check (scripts/check-package.sh) takes minutes more and is run apart.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# The PostgreSQL test servers this run starts (the ctest fixtures', the tests' own) carry
# this tag; on every exit, failure and interruption they are stopped and their folders
# removed, with those of the build folders' fixtures, even if a ctest run was cut short.
# (Each server's watcher also stops it once its ctest or test program is gone.)
export DM_PGTEST_RUN="test.sh-$$-$(date +%s)"
stop_test_servers() {
  bash scripts/pg-test-server.sh stop-run "$DM_PGTEST_RUN" || true
  for b in build build-asan build-tsan; do
    bash scripts/pg-test-server.sh stop "$b/pg-test" || true
  done
}
trap stop_test_servers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

jobs=$(nproc 2>/dev/null || echo 2)
# Every build below goes through ccache, so a clean clone rebuilds only what changed.
if command -v ccache > /dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
export QT_QPA_PLATFORM=offscreen

echo "== build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300 | tee build/ctest.log

echo "== benchmarks (smoke run)"
for b in build/bin/bench_*; do
  [ -x "$b" ] || continue
  "$b" --benchmark_min_time=0.01 > /dev/null
done

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DDM_SANITIZE=address,undefined -DDM_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 | tee build-asan/ctest.log

echo "== threaded tests under ThreadSanitizer"
bash scripts/check-tsan.sh

echo "== Windows cross-compile check"
bash scripts/check-windows.sh

echo "== fuzz targets (smoke run)"
bash scripts/fuzz.sh "${FUZZ_SMOKE_SECONDS:-5}"

echo "== all tests passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
# One summary line over both ctest runs; reaching here means none failed.
ran=$(grep -ho 'tests failed out of [0-9]*' build/ctest.log build-asan/ctest.log | awk '{s += $5} END {print s + 0}')
echo "tests: $ran passed, 0 failed"
