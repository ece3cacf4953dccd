#!/usr/bin/env bash
# Builds the library and its tests with warnings as errors, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs every test (unit and integration).
# A CUPS daemon is started for the spooler tests when none runs.
#
# After the build, every stage runs even when one before it failed, and the
# script ends with a summary: each stage passed, failed or skipped, and the
# reason of every test that skipped. Exits non-zero when any stage failed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# The mutation table must still match the code (seconds; the run itself is
# scripts/mutants.sh, outside CI).
scripts/mutants.sh --check
build=${BUILD_DIR:-build-test}
summary=()   # one line a stage
failed=0
stage() {  # NAME COMMAND...: runs a stage and notes how it ended
  local name=$1 start rc=0
  shift
  start=$(date +%s)
  "$@" || rc=$?
  local took=$(( $(date +%s) - start ))s
  if [ "$rc" -eq 0 ]; then
    summary+=("passed   $name ($took)")
  else
    summary+=("FAILED   $name (exit $rc, $took)")
    failed=1
  fi
}
skipped() { summary+=("skipped  $1 ($2)"); }
print_summary() {
  echo
  echo "== test.sh summary"
  printf '  %s\n' "${summary[@]}"
  if [ -s "$build/ctest-skips.txt" ]; then
    echo "  tests that skipped, and why:"
    sed 's/^/    /' "$build/ctest-skips.txt"
  fi
  [ "$failed" -eq 0 ] && echo "== all stages that ran passed" || echo "== some stages FAILED (see above)"
}

build_all() {
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DPALOMA_SANITIZE=ON -DPALOMA_WERROR=ON -DPALOMA_TESTS=ON >/dev/null &&
  cmake --build "$build" -j"$(nproc)"
}
stage "build with AddressSanitizer and UndefinedBehaviorSanitizer" build_all
if [ "$failed" -ne 0 ]; then
  print_summary
  exit 1
fi
# The shipped suppression files (the font libraries' own threads and caches).
supp=$PWD/share/sanitizers
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
rm -f "$build/ctest-junit.xml" "$build/ctest-skips.txt"
stage "unit and integration tests (ctest)" scripts/with-cupsd.sh ctest --test-dir "$build" \
  --output-on-failure -j2 --timeout 300 --output-junit ctest-junit.xml "$@"
if [ -f "$build/ctest-junit.xml" ]; then
  python3 scripts/test-skips.py "$build/ctest-junit.xml" >"$build/ctest-skips.txt" || true
fi
# The concurrency tests again under ThreadSanitizer, in a small build of
# their target only: any data race between threads calling the library fails.
tsan_run() {
  local tsan=${TSAN_BUILD_DIR:-build-tsan}
  cmake -S . -B "$tsan" -DCMAKE_BUILD_TYPE=Debug -DPALOMA_TSAN=ON -DPALOMA_WERROR=ON \
    -DPALOMA_TESTS=ON -DPALOMA_TOOLS=OFF >/dev/null &&
  cmake --build "$tsan" -j"$(nproc)" --target integration_concurrency &&
  TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp} \
    timeout 300 "$tsan/integration_concurrency"
}
stage "concurrency tests under ThreadSanitizer" tsan_run
# Each fuzz target for a minute on its corpus (PALOMA_SKIP_FUZZ=1 leaves them out).
if [ "${PALOMA_SKIP_FUZZ:-0}" != 1 ]; then
  stage "fuzz smoke (scripts/fuzz-smoke.sh)" scripts/fuzz-smoke.sh
else
  skipped "fuzz smoke" "PALOMA_SKIP_FUZZ=1"
fi
# The SDK as a consumer meets it: installed package, examples, .deb and .tar.gz
# (PALOMA_SKIP_PACKAGES=1 leaves them out).
if [ "${PALOMA_SKIP_PACKAGES:-0}" != 1 ]; then
  stage "package checks (scripts/package-tests.sh)" scripts/package-tests.sh
else
  skipped "package checks" "PALOMA_SKIP_PACKAGES=1"
fi
# The Windows build and its tests under Wine (PALOMA_SKIP_WINE=1 leaves them out).
if [ "${PALOMA_SKIP_WINE:-0}" != 1 ]; then
  stage "Windows build and tests under Wine (scripts/wine-tests.sh)" scripts/wine-tests.sh
else
  skipped "Windows build and tests under Wine" "PALOMA_SKIP_WINE=1"
fi
print_summary
exit "$failed"
