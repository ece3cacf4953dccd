#!/usr/bin/env bash
# Builds the library and its tests with warnings as errors, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs every test (unit and integration).
# A CUPS daemon is started for the spooler tests when none runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DPALOMA_SANITIZE=ON -DPALOMA_WERROR=ON -DPALOMA_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scripts/with-cupsd.sh ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 "$@"
# The SDK as a consumer meets it: installed package, examples, .deb and .tar.gz
# (PALOMA_SKIP_PACKAGES=1 leaves them out).
if [ "${PALOMA_SKIP_PACKAGES:-0}" != 1 ]; then
  scripts/package-tests.sh
fi
# The Windows build and its tests under Wine (PALOMA_SKIP_WINE=1 leaves them out).
if [ "${PALOMA_SKIP_WINE:-0}" != 1 ]; then
  scripts/wine-tests.sh
fi
