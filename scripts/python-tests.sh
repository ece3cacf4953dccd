#!/usr/bin/env bash
# Runs the Python package's tests (python/tests) with Debian's python3 and
# pytest against a built library and virtual printer:
#   PALOMA_LIBRARY=build/libpaloma.so PALOMA_VPRINTER=build/tools/vprinter/paloma-vprinter \
#     scripts/python-tests.sh [pytest arguments]
# Without them, the newest build*/ of the tree is used. ctest runs it with both set.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PALOMA_PYTHON:-/usr/bin/python3}
if ! "$python" -c 'import pytest' 2>/dev/null; then
  echo "python-tests: pytest is missing for $python: run scripts/deps.sh (installs python3-pytest)" >&2
  exit 1
fi
lib=${PALOMA_LIBRARY:-$(ls -t build*/libpaloma.so 2>/dev/null | head -n1 || true)}
if [ -z "$lib" ] || [ ! -f "$lib" ]; then
  echo "python-tests: no library: build one (cmake -S . -B build && cmake --build build) or set PALOMA_LIBRARY" >&2
  exit 1
fi
export PALOMA_LIBRARY=$lib
if [ -z "${PALOMA_VPRINTER:-}" ]; then
  vp=$(dirname "$lib")/tools/vprinter/paloma-vprinter
  [ -x "$vp" ] && export PALOMA_VPRINTER=$vp
fi
# A library built with AddressSanitizer loads into python only after its
# runtime: preload the very runtime it links. Leak detection is off because
# the interpreter does not free its own memory at exit.
asan=$(ldd "$lib" | awk '/libasan\.so/ && !seen { print $3; seen = 1 }')
if [ -n "$asan" ]; then
  export LD_PRELOAD=$asan
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi
rc=0
"$python" -m pytest -p no:cacheprovider -q -rs python/tests "$@" || rc=$?
if [ "$rc" -eq 5 ]; then
  echo "python-tests: pytest collected no tests (exit 5): python/tests must hold them" >&2
  exit 1
fi
exit "$rc"
