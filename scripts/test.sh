#!/usr/bin/env bash
# Builds the library and its tests with warnings as errors, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs every test (unit and integration).
# A CUPS daemon is started for the spooler tests when none runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# The mutation table must still match the code (seconds; the run itself is
# scripts/mutants.sh, outside CI).
scripts/mutants.sh --check
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DPALOMA_SANITIZE=ON -DPALOMA_WERROR=ON -DPALOMA_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scripts/with-cupsd.sh ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 "$@"
# The concurrency tests again under ThreadSanitizer, in a small build of
# their target only: any data race between threads calling the library fails.
tsan=${TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$tsan" -DCMAKE_BUILD_TYPE=Debug -DPALOMA_TSAN=ON -DPALOMA_WERROR=ON \
  -DPALOMA_TESTS=ON -DPALOMA_TOOLS=OFF >/dev/null
cmake --build "$tsan" -j"$(nproc)" --target integration_concurrency
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  timeout 300 "$tsan/integration_concurrency"
# Each fuzz target for a minute on its corpus (PALOMA_SKIP_FUZZ=1 leaves them out).
if [ "${PALOMA_SKIP_FUZZ:-0}" != 1 ]; then
  scripts/fuzz-smoke.sh
fi
# The SDK as a consumer meets it: installed package, examples, .deb and .tar.gz
# (PALOMA_SKIP_PACKAGES=1 leaves them out).
if [ "${PALOMA_SKIP_PACKAGES:-0}" != 1 ]; then
  scripts/package-tests.sh
fi
# The Windows build and its tests under Wine (PALOMA_SKIP_WINE=1 leaves them out).
if [ "${PALOMA_SKIP_WINE:-0}" != 1 ]; then
  scripts/wine-tests.sh
fi
