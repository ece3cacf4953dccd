#!/usr/bin/env bash
# Checks the SDK as a consumer meets it: builds the library and tools in
# Release, installs them to a scratch prefix, builds the examples against the
# installed package with find_package and with pkg-config (shared and
# static), runs each against the virtual printer on 127.0.0.1, then makes the
# .deb and .tar.gz packages, unpacks the .deb files into a scratch root and
# builds a consumer against them; links a C program statically (CMake's
# paloma::paloma_static and pkg-config's paloma-static); installs the Python
# package into a fresh virtual environment with no index; checks that all of
# them carry the project's version and that the API reference builds without
# a warning. Exits non-zero on the first failure.
#
# Environment: PALOMA_PKG_BUILD (build directory, default build-pkg).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${PALOMA_PKG_BUILD:-$ROOT/build-pkg}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/paloma-pkg.XXXXXX")
PREFIX=$WORK/prefix
vprinter_pid=""
cleanup() {
  if [ -n "$vprinter_pid" ]; then kill "$vprinter_pid" 2>/dev/null || true; wait "$vprinter_pid" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
log() { printf '== package tests: %s\n' "$*"; }
fail() { printf 'package tests: %s\n' "$*" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

log "Release build of the library and tools in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPALOMA_TESTS=OFF -DPALOMA_TOOLS=ON \
  -DPALOMA_WERROR=ON "${launcher[@]}" >"$WORK/configure.log" || { cat "$WORK/configure.log"; fail "configure failed"; }
cmake --build "$BUILD" -j"$(nproc)" >"$WORK/build.log" || { tail -40 "$WORK/build.log"; fail "build failed"; }
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null

log "virtual printer on 127.0.0.1"
mkdir -p "$WORK/labels"
"$PREFIX/bin/paloma-vprinter" --listen 127.0.0.1:0 --out "$WORK/labels" >"$WORK/vprinter.out" 2>&1 &
vprinter_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$WORK/vprinter.out" | head -n1)
  [ -n "$port" ] && break
  kill -0 "$vprinter_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || { cat "$WORK/vprinter.out" >&2; fail "the virtual printer did not start"; }

log "the installed paloma tool"
printf 'SIZE 50 mm,30 mm\r\nCLS\r\nPRINT 1\r\n' >"$WORK/label.prn"
"$PREFIX/bin/paloma" print "$WORK/label.prn" --to "tcp://127.0.0.1:$port" ||
  fail "the installed paloma could not print to the virtual printer"
[ -f "$PREFIX/share/man/man1/paloma.1" ] || fail "the manual page paloma(1) was not installed"
for supp in tsan.supp lsan.supp; do
  [ -s "$PREFIX/share/paloma/sanitizers/$supp" ] ||
    fail "the sanitizer suppression file share/paloma/sanitizers/$supp was not installed"
done
if pkg-config --exists pappl; then
  log "the installed printer application"
  [ -x "$PREFIX/bin/paloma-printer-app" ] || fail "paloma-printer-app was not installed"
  "$PREFIX/bin/paloma-printer-app" --version | grep -qx "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")" ||
    fail "paloma-printer-app --version does not give the project's version"
  [ -f "$PREFIX/share/man/man1/paloma-printer-app.1" ] || fail "the manual page paloma-printer-app(1) was not installed"
  [ -f "$PREFIX/lib/systemd/system/paloma-printer-app.service" ] || fail "the printer application's service unit was not installed"
fi

run_examples() {  # DIR: the examples built there run against the printer
  local dir=$1
  "$dir/label_demo" 127.0.0.1 "$port" >/dev/null || fail "$dir/label_demo failed"
  "$dir/status_poll" 127.0.0.1 "$port" 2 >/dev/null || fail "$dir/status_poll failed"
  "$dir/hostfont_scripts" 127.0.0.1 "$port" || fail "$dir/hostfont_scripts failed"
  "$dir/five_slots" 127.0.0.1:"$port" 127.0.0.1:"$port" 127.0.0.1:"$port" 127.0.0.1:"$port" \
    127.0.0.1:"$port" >/dev/null || fail "$dir/five_slots failed"
  "$dir/many_printers" "tcp://127.0.0.1:$port" "tcp://127.0.0.1:$port" | grep -q ready ||
    fail "$dir/many_printers failed"
}

log "examples with find_package(paloma)"
cmake -S "$ROOT/examples" -B "$WORK/ex-cmake" -DCMAKE_PREFIX_PATH="$PREFIX" >/dev/null
cmake --build "$WORK/ex-cmake" -j"$(nproc)" >/dev/null || fail "examples do not build with find_package"
run_examples "$WORK/ex-cmake"

log "examples with pkg-config, shared and static"
export PKG_CONFIG_PATH=$PREFIX/lib/pkgconfig
mkdir -p "$WORK/ex-pc" "$WORK/ex-pcs"
cflags=$(pkg-config --cflags paloma | xargs)
[ "$cflags" = "-I$PREFIX/lib/pkgconfig/../../include" ] || fail "pkg-config --cflags gives more than the include folder: $cflags"
static_libs=$(pkg-config --static --libs paloma | sed 's/-lpaloma\b//')
for ex in label_demo.cc status_poll.c hostfont_scripts.cc five_slots.c many_printers.c; do
  name=${ex%.*}
  case $ex in *.cc) cc=(g++ -std=c++17 -Wall -Werror) ;; *) cc=(gcc -std=c11 -Wall -Werror) ;; esac
  # shellcheck disable=SC2046,SC2086
  "${cc[@]}" "$ROOT/examples/$ex" -o "$WORK/ex-pc/$name" $cflags $(pkg-config --libs paloma) \
    -Wl,-rpath,"$PREFIX/lib" || fail "$ex does not build with pkg-config --libs"
  # shellcheck disable=SC2086
  "${cc[@]}" "$ROOT/examples/$ex" -o "$WORK/ex-pcs/$name" $cflags \
    -Wl,-Bstatic -lpaloma -Wl,-Bdynamic $static_libs -lstdc++ || fail "$ex does not link statically with pkg-config --static"
done
if ldd "$WORK/ex-pcs/status_poll" | grep -q libpaloma; then fail "the static example still needs libpaloma.so"; fi
# Libs.private names each library once (a static link needs only the last place).
private=$(sed -n 's/^Libs.private: //p' "$PREFIX/lib/pkgconfig/paloma.pc" | sed 's/ -lstdc++ -lm -lpthread$//')
dups=$(echo "$private" | tr ' ' '\n' | sort | uniq -d | xargs)
[ -z "$dups" ] || fail "paloma.pc's Libs.private names these more than once: $dups"
# paloma-static.pc: the static library although the shared one is beside it.
mkdir -p "$WORK/ex-pcst"
# shellcheck disable=SC2046
gcc -std=c11 -Wall -Werror "$ROOT/examples/status_poll.c" -o "$WORK/ex-pcst/status_poll" \
  $(pkg-config --cflags --libs --static paloma-static) || fail "status_poll.c does not link with pkg-config paloma-static"
if ldd "$WORK/ex-pcst/status_poll" | grep -q libpaloma; then fail "pkg-config paloma-static links libpaloma.so"; fi
"$WORK/ex-pcst/status_poll" 127.0.0.1 "$port" 2 >/dev/null || fail "the program linked with paloma-static failed"

log "a C program with find_package and paloma::paloma_static"
mkdir -p "$WORK/static-c"
cat >"$WORK/static-c/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(static_consumer C)
find_package(paloma 1.0 REQUIRED)
add_executable(static_consumer main.c)
target_link_libraries(static_consumer PRIVATE paloma::paloma_static)
CMAKE
cat >"$WORK/static-c/main.c" <<'C'
#include <paloma.h>
#include <stdlib.h>
int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (!openethernet("127.0.0.1", atoi(argv[1]))) return 1;
  int ok = sendcommand("CLS") == 1;
  return closeport() == 1 && ok ? 0 : 1;
}
C
cmake -S "$WORK/static-c" -B "$WORK/static-c/build" -DCMAKE_PREFIX_PATH="$PREFIX" >"$WORK/static-c.log" 2>&1 &&
  cmake --build "$WORK/static-c/build" >>"$WORK/static-c.log" 2>&1 ||
  { cat "$WORK/static-c.log"; fail "a C program does not link paloma::paloma_static"; }
if ldd "$WORK/static-c/build/static_consumer" | grep -q libpaloma; then fail "paloma::paloma_static linked libpaloma.so"; fi
"$WORK/static-c/build/static_consumer" "$port" || fail "the C program linked with paloma::paloma_static failed"

log "the Python package into a fresh virtual environment, with no package index"
py=/usr/bin/python3  # Debian's, whose venv has no wheel package
[ -x "$py" ] || py=python3
if "$py" -c 'import ensurepip' 2>/dev/null; then
  "$py" -m venv "$WORK/venv" >"$WORK/venv.log" 2>&1 || { cat "$WORK/venv.log"; fail "python3 -m venv failed"; }
  # As the README says; then once more without --no-build-isolation, which
  # must work offline too (the build backend needs nothing from an index).
  for flags in --no-build-isolation ""; do
    # shellcheck disable=SC2086
    PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 "$WORK/venv/bin/pip" install -q --force-reinstall $flags "$ROOT/python" \
      >"$WORK/pip.log" 2>&1 || { cat "$WORK/pip.log"; fail "pip install ${flags:-(isolated)} ./python failed in a fresh venv"; }
  done
  (cd "$WORK" && PALOMA_LIBRARY=$PREFIX/lib/libpaloma.so "$WORK/venv/bin/python" -c "
import paloma, sys
assert paloma.__file__.startswith('$WORK/venv/'), paloma.__file__
with paloma.Printer.tcp('127.0.0.1', $port) as p:
    p.clear()
") || fail "the package installed in the venv does not print"
else
  fail "$py has no ensurepip: install python3-venv (scripts/deps.sh does)"
fi
run_examples "$WORK/ex-pc"
run_examples "$WORK/ex-pcs"
ls "$WORK/labels"/*.png >/dev/null 2>&1 || fail "the virtual printer made no label"

# One version: the project's (CMakeLists.txt) is the pkg-config file's, the
# CMake package's, the shared library's file name and each tool's --version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $BUILD/CMakeCache.txt"
log "one version: $version"
[ "$(pkg-config --modversion paloma)" = "$version" ] \
  || fail "pkg-config says $(pkg-config --modversion paloma), the project $version"
grep -q "^set(PACKAGE_VERSION \"$version\")" "$PREFIX/lib/cmake/paloma/palomaConfigVersion.cmake" \
  || fail "the CMake package's version is not $version"
[ -f "$PREFIX/lib/libpaloma.so.$version" ] || fail "no $PREFIX/lib/libpaloma.so.$version"
for tool in paloma-vprinter paloma; do
  [ -x "$PREFIX/bin/$tool" ] || continue
  # (a tool from before --version existed says so in its --help)
  "$PREFIX/bin/$tool" --help 2>&1 | grep -q -- --version || { log "$tool has no --version yet"; continue; }
  said=$("$PREFIX/bin/$tool" --version 2>&1) || fail "$tool --version failed: $said"
  [ "$said" = "$tool $version" ] || fail "$tool --version says \"$said\", not \"$tool $version\""
done

log "the API reference (doxygen, warnings as errors)"
cmake --build "$BUILD" --target docs >"$WORK/docs.log" 2>&1 || { cat "$WORK/docs.log"; fail "the docs target failed"; }
[ -f "$BUILD/docs/html/index.html" ] || fail "the docs target wrote no $BUILD/docs/html/index.html"

log "DEB and TGZ packages"
(cd "$BUILD" && cpack -G "DEB;TGZ" >"$WORK/cpack.log") || { cat "$WORK/cpack.log"; fail "cpack failed"; }
for p in libpaloma1 libpaloma-dev paloma-tools python3-paloma; do
  ls "$BUILD"/${p}_*.deb >/dev/null 2>&1 || fail "no $p package"
done
ls "$BUILD"/paloma-*.tar.gz >/dev/null 2>&1 || fail "no .tar.gz package"
dpkg-deb -f "$BUILD"/libpaloma1_*.deb Depends | grep -q libcups2 || fail "libpaloma1 lists no dependencies"
# A static link needs the link files of what the library uses.
dev_depends=$(dpkg-deb -f "$BUILD"/libpaloma-dev_*.deb Depends)
for d in libcups2-dev libpango1.0-dev libusb-1.0-0-dev libstdc++-dev; do
  echo "$dev_depends" | grep -q "$d" || fail "libpaloma-dev does not depend on $d (a static link needs it): $dev_depends"
done
dpkg-deb -f "$BUILD"/paloma-tools_*.deb Recommends | grep -q fonts-noto-cjk ||
  fail "paloma-tools does not recommend a CJK font"
for deb in "$BUILD"/libpaloma1_*.deb "$BUILD"/libpaloma-dev_*.deb "$BUILD"/paloma-tools_*.deb \
           "$BUILD"/python3-paloma_*.deb; do
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is version $(dpkg-deb -f "$deb" Version), not $version"
done
ls "$BUILD"/paloma-"$version"-*.tar.gz >/dev/null 2>&1 || fail "no .tar.gz named for version $version"
debroot=$WORK/debroot
for deb in "$BUILD"/libpaloma1_*.deb "$BUILD"/libpaloma-dev_*.deb "$BUILD"/paloma-tools_*.deb \
           "$BUILD"/python3-paloma_*.deb; do
  dpkg -x "$deb" "$debroot"
done
# python3-paloma: pure Python on libpaloma1, importable by Debian's python3
# with its plugin and typed declarations, and printing on the virtual printer.
pydeb=$(ls "$BUILD"/python3-paloma_*.deb)
dpkg-deb -f "$pydeb" Depends | grep -q "libpaloma1 (= $version)" ||
  fail "python3-paloma does not depend on libpaloma1 $version: $(dpkg-deb -f "$pydeb" Depends)"
[ "$(dpkg-deb -f "$pydeb" Architecture)" = all ] || fail "python3-paloma is not Architecture: all"
pysite=$debroot/usr/lib/python3/dist-packages
for f in paloma/__init__.py paloma/testing.py paloma/raw.pyi paloma/py.typed \
         "paloma-$version.dist-info/METADATA"; do
  [ -f "$pysite/$f" ] || fail "python3-paloma has no /usr/lib/python3/dist-packages/$f"
done
mkdir -p "$WORK/pylabels"
"$PREFIX/bin/paloma-vprinter" --listen 127.0.0.1:0 --out "$WORK/pylabels" >"$WORK/pyvprinter.out" 2>&1 &
pyvp_pid=$!
for _ in $(seq 50); do grep -q "listening on" "$WORK/pyvprinter.out" && break; sleep 0.1; done
pyport=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$WORK/pyvprinter.out" | head -n1)
PYTHONPATH=$pysite PALOMA_LIBRARY=$(ls "$debroot"/usr/lib/*/libpaloma.so.1 "$debroot"/usr/lib/libpaloma.so.1 2>/dev/null | head -n1) \
  /usr/bin/python3 - "$pyport" "$version" <<'PY' || { kill "$pyvp_pid"; fail "python3-paloma does not print from Debian's python3"; }
import importlib.metadata, sys
import paloma, paloma.testing
assert "/usr/lib/python3/dist-packages/paloma/" in paloma.__file__, paloma.__file__
assert importlib.metadata.version("paloma") == sys.argv[2]
with paloma.Printer.open(f"tcp://127.0.0.1:{sys.argv[1]}") as p:
    p.setup(40, 20)
    p.clear()
    p.bar(10, 10, 100, 20)
    p.print()
PY
for _ in $(seq 50); do ls "$WORK"/pylabels/label-*.png >/dev/null 2>&1 && break; sleep 0.1; done
kill "$pyvp_pid"; wait "$pyvp_pid" 2>/dev/null || true
ls "$WORK"/pylabels/label-*.png >/dev/null 2>&1 || fail "the label from python3-paloma was not printed"
[ -f "$debroot/usr/share/doc/python3-paloma/copyright" ] || fail "python3-paloma has no copyright file"
[ -f "$debroot/usr/share/doc/libpaloma1/copyright" ] || fail "libpaloma1 has no copyright file"
if pkg-config --exists pappl; then
  for f in usr/bin/paloma-printer-app usr/share/man/man1/paloma-printer-app.1 usr/lib/systemd/system/paloma-printer-app.service; do
    [ -f "$debroot/$f" ] || fail "paloma-tools has no /$f"
  done
  dpkg-deb -f "$BUILD"/paloma-tools_*.deb Depends | grep -q libpappl || fail "paloma-tools does not depend on libpappl"
fi
mkdir -p "$WORK/consumer"
cat >"$WORK/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(consumer C)
find_package(paloma 1.0 REQUIRED)
add_executable(consumer main.c)
target_link_libraries(consumer PRIVATE paloma::paloma)
CMAKE
cat >"$WORK/consumer/main.c" <<'C'
#include <paloma.h>
#include <stdio.h>
int main(void) { printf("%s\n", dllversion()); return openethernet("127.0.0.1", 1) ? 1 : 0; }
C
cmake -S "$WORK/consumer" -B "$WORK/consumer/build" -DCMAKE_PREFIX_PATH="$debroot/usr" >/dev/null
cmake --build "$WORK/consumer/build" >/dev/null || fail "a consumer does not build against the unpacked .deb files"
LD_LIBRARY_PATH=$debroot/usr/lib "$WORK/consumer/build/consumer" >/dev/null || fail "the consumer of the .deb files failed"
log "passed"
