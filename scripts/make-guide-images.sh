#!/usr/bin/env bash
# Makes the pictures of docs/guide.md: builds the library and the virtual
# printer (Release, in BUILD_DIR, default build-guide), builds
# docs/guide/guide_examples.c against them, starts the virtual printer on
# 127.0.0.1 on a free port, prints each example on it and copies the PNG it
# renders to docs/guide/NAME.png.
#
#   scripts/make-guide-images.sh            # every example
#   scripts/make-guide-images.sh barcode    # only these
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
fail() { printf 'make-guide-images: %s\n' "$*" >&2; exit 1; }

all=(origin rotation sensors printerfont barcode symbols rss hostfont picture)
if [ $# -gt 0 ]; then names=("$@"); else names=("${all[@]}"); fi
for n in "${names[@]}"; do
  [[ " ${all[*]} " == *" $n "* ]] || fail "no example named $n (there are: ${all[*]})"
done

build=${BUILD_DIR:-build-guide}
case "$build" in /*) ;; *) build=$root/$build ;; esac
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPALOMA_TESTS=OFF -DPALOMA_TOOLS=ON \
  "${launcher[@]}" >"$build.configure.log" 2>&1 \
  || { cat "$build.configure.log" >&2; fail "configure failed; scripts/deps.sh installs what the build needs"; }
rm -f "$build.configure.log"
cmake --build "$build" --target paloma paloma-vprinter -j2 >/dev/null \
  || fail "the build failed: run cmake --build $build --target paloma paloma-vprinter to see why"
lib=$(dirname "$(find "$build" -maxdepth 2 -name 'libpaloma.so' | head -n1)")
vprinter=$(find "$build" -type f -name paloma-vprinter -perm -u+x | head -n1)
[ -n "$vprinter" ] && [ -n "$lib" ] || fail "the build made no library or virtual printer in $build"

work=$(mktemp -d "${TMPDIR:-/tmp}/paloma-guide.XXXXXX")
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cc -std=c11 -Wall -Wextra -Werror -o "$work/guide_examples" docs/guide/guide_examples.c \
  -Iinclude -L"$lib" -lpaloma -Wl,-rpath,"$lib" || fail "docs/guide/guide_examples.c does not build"

mkdir -p "$work/out"
"$vprinter" --listen 127.0.0.1:0 --out "$work/out" >"$work/vprinter.out" 2>&1 &
pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^paloma-vprinter: listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/vprinter.out")
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/vprinter.out" >&2; fail "the virtual printer did not start"; }

for n in "${names[@]}"; do
  before=$(find "$work/out" -name 'label-*.png' | wc -l)
  timeout 60 "$work/guide_examples" 127.0.0.1 "$port" "$n" || fail "example $n failed"
  png=""
  for _ in $(seq 1 50); do  # the printer renders after the connection ends
    if [ "$(find "$work/out" -name 'label-*.png' | wc -l)" -gt "$before" ]; then
      png=$(find "$work/out" -name 'label-*.png' | sort | tail -n1)
      break
    fi
    sleep 0.1
  done
  [ -n "$png" ] || fail "example $n rendered no label; see $work/out/log.jsonl"
  if grep -q '"error"' "$work/out/log.jsonl"; then
    grep '"error"' "$work/out/log.jsonl" >&2
    fail "the virtual printer found an error in example $n"
  fi
  cp "$png" "docs/guide/$n.png"
  echo "docs/guide/$n.png ($(stat -c %s "docs/guide/$n.png") bytes)"
done
