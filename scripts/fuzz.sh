#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each
# for SECONDS (default 300), starting from the seed corpus in fuzz/corpus/. New inputs collect in
# build-fuzz/corpus/, crashes in build-fuzz/crashes/; a crash fails the run. Add a crashing input
# to fuzz/corpus/<target>/ once it is fixed: every run replays the corpus first.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets: tags versions url lines zip)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(tags versions url lines zip)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANTA_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" >build-fuzz/build.log 2>&1 || { cat build-fuzz/build.log >&2; exit 1; }

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for target in "${targets[@]}"; do
  work=build-fuzz/corpus/$target crashes=build-fuzz/crashes/$target log=build-fuzz/fuzz_$target.log
  mkdir -p "$work" "$crashes"
  if build-fuzz/fuzz/"fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$crashes/" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: ${runs:-?} executions in ${seconds} s, no crash"
  else
    echo "fuzz_$target: FAILED; see $log and $crashes/" >&2
    grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" >&2 || tail -n 20 "$log" >&2
    status=1
  fi
done
exit "$status"
