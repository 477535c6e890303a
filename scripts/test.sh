#!/usr/bin/env bash
# Builds the project and runs the whole test suite twice: once as built for use, once under
# AddressSanitizer and UndefinedBehaviorSanitizer; then each fuzz target briefly, replaying its
# corpus first. Any failure, sanitizer finding or fuzz crash fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/setup.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

echo "== build and test"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKORVANTA_SANITIZE=ON

echo "== fuzz each reader of untrusted input briefly"
./scripts/fuzz.sh 20
