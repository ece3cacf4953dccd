#!/usr/bin/env bash
# The API reference check: the header builds with no doxygen warning and every
# exported function has its entry; a function added without a comment, or with
# a parameter its comment leaves out, fails the build.
#
# Usage: reference_test.sh DOXYFILE HEADER   (ctest passes both)
set -euo pipefail
doxyfile=$1
header=$2
command -v doxygen >/dev/null || { echo "reference test: install doxygen (scripts/deps.sh)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/paloma-docs.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { printf 'reference test: %s\n' "$*" >&2; failures=$((failures + 1)); }

# run NAME HEADER: doxygen on HEADER into $work/NAME; its warnings in NAME.log
run() {
  local name=$1 input=$2
  mkdir -p "$work/$name"
  { cat "$doxyfile"; echo "INPUT = $input"; echo "OUTPUT_DIRECTORY = $work/$name"
    echo "STRIP_FROM_PATH = $(dirname "$input")"; } \
    | timeout 120 doxygen - >"$work/$name.log" 2>&1
}

# The header as it is: no warning, and a reference entry for every function.
if ! run real "$header"; then
  fail "doxygen fails on $header:"; cat "$work/real.log" >&2
elif [ -s "$work/real.log" ]; then
  fail "doxygen warns on $header:"; cat "$work/real.log" >&2
fi
html=$work/real/html
[ -f "$html/index.html" ] || fail "no index.html was written"
missing=()
while read -r fn; do
  grep -rqE "<a [^>]*>${fn}</a>" "$html"/*.html 2>/dev/null || missing+=("$fn")
done < <(grep -v '^#' "$header" | sed 's:/\*.*\*/::' \
           | grep -oE 'PALOMA_API[^(]*[ *]([A-Za-z_][A-Za-z0-9_]*) *\(' \
           | sed -E 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*) *\($/\1/' | sort -u)
[ ${#missing[@]} -eq 0 ] || fail "functions with no entry in any group of the reference: ${missing[*]}"

# A function added with no comment at all.
mkdir -p "$work/undoc"
sed 's|^PALOMA_API int closeport(void);|&\nPALOMA_API int paloma_added_later(int x);|' "$header" \
  >"$work/undoc/paloma.h"
grep -q paloma_added_later "$work/undoc/paloma.h" || fail "could not add a function to a copy of the header"
if run undoc "$work/undoc/paloma.h"; then
  fail "an undocumented function passed"
elif ! grep -q 'paloma_added_later' "$work/undoc.log"; then
  fail "the failure does not name the undocumented function:"; cat "$work/undoc.log" >&2
fi

# A function whose comment documents one parameter of two.
mkdir -p "$work/param"
sed 's|^PALOMA_API int closeport(void);|&\n/** Adds. @param x the first @return the sum */\nPALOMA_API int paloma_added_later(int x, int y);|' \
  "$header" >"$work/param/paloma.h"
if run param "$work/param/paloma.h"; then
  fail "a function with an undocumented parameter passed"
elif ! grep -q '\by\b' "$work/param.log"; then
  fail "the failure does not name the parameter:"; cat "$work/param.log" >&2
fi

[ "$failures" -eq 0 ] && echo "reference test: passed"
exit $((failures > 0))
