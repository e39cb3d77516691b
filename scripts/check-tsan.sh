#!/usr/bin/env bash
# Builds the tests that run threads (the discovery thread, the exchange cycle over a
# live link, the simulated dosimeter's server thread, the fault-injection races) with
# ThreadSanitizer, and runs them. Only those targets are built.
#   scripts/check-tsan.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
wanted=(link_tests push_cli_tests exchange_tests exchange_cli_tests sim_tests sim_cli_tests fault_tests irda_stack_tests irda_sir_cli_tests)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDM_SANITIZE=thread -DDM_BUILD_GUI=OFF -DDM_BUILD_BENCH=OFF > /dev/null
known=$(ninja -C build-tsan -t targets all | cut -d: -f1)
targets=()
for t in "${wanted[@]}"; do
  if grep -qx "$t" <<< "$known"; then targets+=("$t"); fi
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no threaded test targets in this tree yet"
  exit 0
fi
# Some tests run the command-line tool; build it with the same sanitizer.
extra=()
grep -qx dosimeter-cli <<< "$known" && extra+=(dosimeter-cli)
cmake --build build-tsan -j "$jobs" --target "${targets[@]}" "${extra[@]}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=4"
status=0
for t in "${targets[@]}"; do
  echo "== $t under ThreadSanitizer"
  if ! "build-tsan/bin/$t" --gtest_brief=1; then
    echo "$t: FAILED under ThreadSanitizer"
    status=1
  fi
done
exit $status
