#!/usr/bin/env bash
# Runs every fuzzer for a chosen time, JOBS at a time (default: the number of
# cores), and prints each one's executions and coverage:
#   scripts/fuzz-long.sh [SECONDS [NAME...]]     (default 600 s, every target)
# Logs and whatever a fuzzer finds stay in build/fuzz/long/NAME/. Fails when
# any fuzzer found a crash, leak, time-out or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
JOBS=${JOBS:-$(nproc)}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLANE_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$JOBS" --target quillane_fuzzers >/dev/null

bin=build/fuzz/fuzz
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in "$bin"/quillane_fuzz_*; do
    name=${f##*/quillane_fuzz_}
    [ "$name" = seeds ] || names+=("$name")
  done
fi
out=build/fuzz/long
mkdir -p "$out"
echo "Fuzzing ${#names[@]} targets for $seconds s each, $JOBS at a time"
printf '%s\n' "${names[@]}" | xargs -P "$JOBS" -I{} sh -c \
  'fuzz/run-fuzzer.sh "$1/quillane_fuzz_$2" "$3/$2" "$4" "fuzz/corpus/$2" "$1/seeds/$2" >"$3/$2.log" 2>&1; echo $? >"$3/$2.status"' \
  _ "$bin" {} "$out" "$seconds" || true

failed=0
printf '%-16s %12s %9s %7s %7s %8s  %s\n' target executions exec/s cov ft corpus result
for name in "${names[@]}"; do
  log=$out/$name.log
  status=$(cat "$out/$name.status" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  # The last status line that carries counts (DONE, or the last before a find).
  line=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
  corp=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$line")
  result=ok
  if [ "$status" != 0 ]; then
    result="FAILED ($log, $out/$name/artifacts/)"
    failed=1
  fi
  printf '%-16s %12s %9s %7s %7s %8s  %s\n' "$name" "${execs:--}" "${rate:--}" "${cov:--}" "${ft:--}" \
    "${corp:--}" "$result"
done
exit $failed
