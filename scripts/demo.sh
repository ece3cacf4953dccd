#!/usr/bin/env bash
# Prints one label on the virtual printer and shows where its PNG is:
# installs what is missing, builds the virtual printer, the example and the
# shared library (the Python package finds it there), starts the printer on
# 127.0.0.1 on a free port with its live page, runs examples/label_demo against
# it, and ends with the page's address and the path of the PNG it made (on a
# terminal, the printer runs until Enter is pressed).
#
# Each run writes into a fresh folder of its own, made inside OUT_DIR (default
# <build>/labels); nothing that was there before is removed or overwritten.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/deps.sh --demo

build=${BUILD_DIR:-build-demo}
mkdir -p "$build"
echo "demo: building the library, the virtual printer and the example in $build (minutes the first time)" >&2
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPALOMA_TESTS=OFF -DPALOMA_TOOLS=ON &&
       cmake --build "$build" --target paloma paloma-vprinter label_demo -j2; } >"$build/demo-build.log" 2>&1; then
  tail -n 30 "$build/demo-build.log" >&2
  echo "demo: the build failed; the whole output is in $build/demo-build.log" >&2
  exit 1
fi

case "$build" in /*) build_abs=$build ;; *) build_abs=$root/$build ;; esac
parent=${OUT_DIR:-$build_abs/labels}
mkdir -p "$parent" || { echo "demo: cannot make $parent; set OUT_DIR to a folder you can write" >&2; exit 1; }
out=$(mktemp -d "$parent/run.XXXXXX") || {
  echo "demo: cannot make a folder in $parent; set OUT_DIR to a folder you can write" >&2
  exit 1
}
vprinter=$(find "$build" -type f -name paloma-vprinter -perm -u+x | head -n1)
demo=$(find "$build" -type f -name label_demo -perm -u+x | head -n1)

"$vprinter" --listen 127.0.0.1:0 --http 127.0.0.1:0 --out "$out" >"$out/vprinter.out" 2>"$out/vprinter.err" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT

port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^paloma-vprinter: listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$out/vprinter.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the virtual printer did not start:" >&2
  cat "$out/vprinter.err" >&2
  exit 1
fi

"$demo" 127.0.0.1 "$port"

png=$(ls "$out"/label-*.png 2>/dev/null | tail -n1 || true)
if [ -z "$png" ]; then
  echo "demo: no label was rendered; see $out/log.jsonl" >&2
  exit 1
fi
page=$(sed -n 's/^paloma-vprinter: preview on \(http:.*\)$/\1/p' "$out/vprinter.out")
# On a terminal the printer keeps running so that the page can be opened.
if [ -t 0 ] && [ -t 1 ]; then
  echo "demo: the printer runs until you press Enter (print more to 127.0.0.1:$port)" >&2
fi
echo "$page"
echo "$png"
if [ -t 0 ] && [ -t 1 ]; then
  read -r _ || true
fi
kill "$pid"
wait "$pid" 2>/dev/null || true
trap - EXIT
