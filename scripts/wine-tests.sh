#!/usr/bin/env bash
# Cross-builds PALOMA.dll and its tests for 64-bit Windows with mingw-w64 and
# runs them under Wine: the unit tests on the recording fake, and the Windows
# integration tests (TCP to a loopback peer, a COM port that Wine maps to a
# pty bridged to a loopback socket, host-font text through the graphics
# interface). Also checks that the DLL exports every plain name of
# include/paloma.h. Exits non-zero on any failure.
#
# Takes about 1.5 to 2 minutes from an empty build directory on two cores
# (the cross build is most of it; the Wine prefix takes ~5 s, the tests ~20 s),
# plus the package installation on a fresh machine.
#
# Needs no display. Installs what is missing through scripts/deps.sh --wine
# (g++-mingw-w64-x86-64, wine, wine64, fonts-wine, socat, cmake, googletest).
#
# Environment: PALOMA_WIN_BUILD (build directory, default build-wine in the
# source tree), PALOMA_JOBS (default 2), PALOMA_TEST_TIMEOUT (seconds per test
# program, default 600).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${PALOMA_WIN_BUILD:-$ROOT/build-wine}
JOBS=${PALOMA_JOBS:-2}
TEST_TIMEOUT=${PALOMA_TEST_TIMEOUT:-600}
COM_NAME=COM9

log() { printf '== %s\n' "$*"; }

# ---- packages ----------------------------------------------------------------
# deps.sh installs them as root, or names the one command to run as root.
"$ROOT/scripts/deps.sh" --wine

# ---- a fresh Wine prefix, no display, no prompts ---------------------------------
WORK=$(mktemp -d "${TMPDIR:-/tmp}/paloma-wine.XXXXXX")
export WINEPREFIX=$WORK/prefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
SOCAT_PID=""
cleanup() {
  if [ -n "$SOCAT_PID" ]; then kill "$SOCAT_PID" 2>/dev/null || true; wait "$SOCAT_PID" 2>/dev/null || true; fi
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

START=$(date +%s)
log "wine prefix $WINEPREFIX"
timeout 300 wineboot -i >"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log"; exit 1; }
timeout 60 wineserver -w || true

# ---- cross build -------------------------------------------------------------------
log "cross build in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DPALOMA_WERROR=ON -DPALOMA_TESTS=ON -DPALOMA_TOOLS=OFF -DPALOMA_BENCH=OFF >"$WORK/configure.log" \
  || { cat "$WORK/configure.log"; exit 1; }
# Keep going past a target that does not build, run what did, and fail at the end.
# Programs left from an earlier build must not stand in for ones that fail now:
# remove the programs of this build's own targets, and nothing else in $BUILD.
for target in $(cmake --build "$BUILD" --target help 2>/dev/null | sed -n -e 's/^\.\.\. \([A-Za-z0-9_.-]*\).*/\1/p' -e 's/^\([A-Za-z0-9_.-]*\): .*/\1/p'); do
  rm -f "$BUILD/$target.exe"
done
build_rc=0
cmake --build "$BUILD" -j"$JOBS" -- -k || build_rc=$?
[ "$build_rc" -eq 0 ] || echo "the cross build failed (exit $build_rc); running what was built" >&2

# ---- exports -------------------------------------------------------------------------
DLL=$BUILD/PALOMA.dll
[ -f "$DLL" ] || { echo "no PALOMA.dll" >&2; exit 1; }
x86_64-w64-mingw32-objdump -p "$DLL" \
  | awk '/Ordinal\/Name Pointer\] Table/{f=1;next} f&&/^\t\[/{print $NF;next} f{f=0}' \
  | sort -u >"$WORK/exports.txt"
# Plain names: every PALOMA_API function declared before the end of the
# header's extern "C" block.
sed -n '1,/} \/\* extern "C" \*\//p' "$ROOT/include/paloma.h" \
  | grep -v '^#' | grep -oE 'PALOMA_API[^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\(' \
  | sed -E 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*)\($/\1/' | sort -u >"$WORK/declared.txt"
unexported=$(comm -23 "$WORK/declared.txt" "$WORK/exports.txt" || true)
log "PALOMA.dll exports $(wc -l <"$WORK/exports.txt") names; the header declares $(wc -l <"$WORK/declared.txt") plain ones"
exports_ok=1
if [ -n "$unexported" ]; then
  echo "declared in include/paloma.h but not exported by PALOMA.dll:" $unexported >&2
  exports_ok=0
fi

# ---- a COM port on a pty, bridged to a loopback socket ---------------------------------
COM_LINK=$WINEPREFIX/dosdevices/$(echo "$COM_NAME" | tr 'A-Z' 'a-z')
for attempt in 1 2 3 4 5; do
  PEER_PORT=$((20000 + RANDOM % 20000))
  rm -f "$COM_LINK"
  socat "pty,raw,echo=0,link=$COM_LINK" "TCP-LISTEN:$PEER_PORT,bind=127.0.0.1,reuseaddr" \
    2>"$WORK/socat.log" &
  SOCAT_PID=$!
  for _ in $(seq 50); do [ -e "$COM_LINK" ] && break; sleep 0.1; done
  sleep 0.3
  if [ -e "$COM_LINK" ] && kill -0 "$SOCAT_PID" 2>/dev/null; then break; fi
  wait "$SOCAT_PID" 2>/dev/null || true
  SOCAT_PID=""
done
[ -n "$SOCAT_PID" ] || { echo "could not bridge $COM_NAME to a pty" >&2; cat "$WORK/socat.log" >&2; exit 1; }
log "$COM_NAME -> $(readlink "$COM_LINK"), bridged to 127.0.0.1:$PEER_PORT"

# ---- run -----------------------------------------------------------------------------------
passed=0
failed=0
bad=()
run() {
  local exe=$1
  local out=$WORK/$(basename "$exe").log
  log "wine $(basename "$exe")"
  local rc=0
  PALOMA_WIN32_COM=$COM_NAME PALOMA_WIN32_COM_PEER=$PEER_PORT \
    timeout "$TEST_TIMEOUT" wine "$exe" --gtest_brief=1 >"$out" 2>&1 || rc=$?
  # Wine's own diagnostics (object dumps) are not test output.
  grep -vE '^(0x[0-9a-f]+:|    [0-9a-f]{4}: )' "$out" || true
  local p f
  p=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$out" | tail -1)
  f=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below:.*/\1/p' "$out" | tail -1)
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  if [ "$rc" -ne 0 ] || [ -z "$p" ]; then
    [ "$rc" -eq 124 ] && echo "$(basename "$exe"): timed out after ${TEST_TIMEOUT}s"
    bad+=("$(basename "$exe")")
    [ -n "$f" ] || failed=$((failed + 1))
  fi
}
shopt -s nullglob
for exe in "$BUILD"/unit_*.exe "$BUILD"/integration_*.exe; do
  run "$exe"
done
shopt -u nullglob

log "took $(( $(date +%s) - START ))s"
[ ${#bad[@]} -eq 0 ] || echo "failing programs: ${bad[*]}"
[ "$build_rc" -eq 0 ] || echo "the cross build failed"
[ "$exports_ok" -eq 1 ] || echo "PALOMA.dll lacks names the header declares"
echo "$passed passed, $failed failed"
[ "$build_rc" -eq 0 ] && [ "$exports_ok" -eq 1 ] && [ ${#bad[@]} -eq 0 ] && [ "$failed" -eq 0 ]
