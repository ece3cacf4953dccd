#!/usr/bin/env bash
# Checks the dynamic symbols of libpaloma.so: every symbol it defines is a
# function declared in include/paloma.h, exported with the version PALOMA_1;
# every declared function that the library's objects define (as the static
# library shows them) is exported; nothing else is exported; and no part of
# the library calls sendfile (there it would be the SDK's own).
#
#   exported_symbols.sh LIBRARY HEADER STATIC_LIBRARY
set -euo pipefail
usage="usage: exported_symbols.sh LIBRARY HEADER STATIC_LIBRARY"
lib=${1:?$usage}
header=${2:?$usage}
static=${3:?$usage}
for tool in readelf nm; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: install binutils" >&2; exit 1; }
done

# Every PALOMA_API function of the header (C and C++ linkage alike).
declared=$(grep -v '^#' "$header" | grep -oE 'PALOMA_API[^(;]*[ *]([A-Za-z_][A-Za-z0-9_]*)\(' \
  | sed -E 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*)\($/\1/' | sort -u)
[ -n "$declared" ] || { echo "no PALOMA_API function found in $header" >&2; exit 1; }

# The defined dynamic symbols, demangled: type, binding, visibility, name.
# The version node itself appears as an absolute symbol of its own name.
defined=$(readelf --dyn-syms --wide --demangle "$lib" \
  | awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && !($7 == "ABS" && $8 ~ /^PALOMA_1(@@PALOMA_1)?$/) {
           name = $8; for (i = 9; i <= NF; i++) name = name " " $i
           print $4 "|" $5 "|" $6 "|" name }')

# Names the C library defines as well (cmake/legacy_names.cmake).
system_names=sendfile

status=0
while IFS='|' read -r type bind vis name; do
  [ -n "$name" ] || continue
  base=${name%%@*}
  base=${base%%(*}
  # A function without the paloma_ prefix has its own symbol paloma_legacy_NAME.
  legacy=0
  if [[ "$base" == paloma_legacy_* ]]; then base=${base#paloma_legacy_}; legacy=1; fi
  if [ "$type" != FUNC ] || [ "$bind" != GLOBAL ] || [ "$vis" != DEFAULT ]; then
    echo "exported but no public function: $type $bind $vis $name" >&2
    status=1
  elif ! grep -qx -- "$base" <<<"$declared"; then
    echo "exported but not declared in the header: $name" >&2
    status=1
  elif grep -qx -- "$base" <<<"$system_names" && [ "$legacy" -eq 0 ]; then
    # A name the C library defines as well: only the old version, never the
    # default one a new program would link to in place of the C library's.
    if [[ "$name" != "$base@PALOMA_1" ]]; then
      echo "exported as the default version, which would stand in for the C library's: $name" >&2
      status=1
    fi
  elif [[ "$name" != *@@PALOMA_1 ]]; then
    echo "exported without the version PALOMA_1: $name" >&2
    status=1
  fi
done <<<"$defined"

exported=$(while IFS='|' read -r _ _ _ name; do n=${name%%@*}; n=${n%%(*}; echo "${n#paloma_legacy_}"; done <<<"$defined" | sort -u)
# The declared functions the objects define: each must be exported.
built=$(nm --defined-only --demangle "$static" 2>/dev/null | awk '$2 ~ /^[TW]$/ {
          name = $3; for (i = 4; i <= NF; i++) name = name " " $i; print name }' \
  | sed -E 's/\(.*$//' | sort -u)
defined_declared=$(comm -12 <(echo "$declared") <(echo "$built"))
missing=$(comm -23 <(echo "$defined_declared") <(echo "$exported"))
if [ -n "$missing" ]; then
  echo "defined and declared in the header but not exported:" $missing >&2
  status=1
fi
unbuilt=$(comm -23 <(echo "$declared") <(echo "$built"))
[ -z "$unbuilt" ] || echo "note: declared in the header but defined nowhere yet:" $unbuilt >&2
# Inside the library the name sendfile is the SDK's own function: a call
# meant for the system's sendfile(2) would reach it instead.
callers=$(nm -A "$static" 2>/dev/null | awk '$2 == "U" && $3 == "sendfile" { print $1 }')
if [ -n "$callers" ]; then
  echo "the library calls sendfile, which inside it is the SDK's own function, not the" \
       "system's (use another way to reach sendfile(2)):" $callers >&2
  status=1
fi
# The static library defines the plain names only weakly (a program's own
# function of the name wins, and the library's calls go to its
# paloma_legacy_ symbols) and the C library's names not at all.
strong=$(nm --defined-only "$static" 2>/dev/null | awk '$2 == "T" { print $3 }' \
  | grep -vE '^(paloma_|_Z)' | grep -xF -f <(echo "$declared") || true)
if [ -n "$strong" ]; then
  echo "the static library defines plain names strongly (an application's own function of the" \
       "name would clash):" $strong >&2
  status=1
fi
for n in $system_names; do
  if nm --defined-only "$static" 2>/dev/null | awk '{ print $3 }' | grep -qx "$n"; then
    echo "the static library defines $n, which would stand in for the C library's" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "$(wc -l <<<"$exported") functions exported, all with version PALOMA_1"
exit "$status"
