#!/usr/bin/env bash
# Mutation check: puts each fault of scripts/mutants_table.py into a scratch
# copy of the tree (build-mutants/), runs the subsystem's tests against it and
# prints killed / survived per fault and the score. Takes minutes; only its
# --check is part of scripts/test.sh. Run it before closing work that touches
# the core.
#   scripts/mutants.sh                 every fault
#   scripts/mutants.sh --only ID,ID    some faults
#   scripts/mutants.sh --check         only check the table still matches the code
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in python3 cmake ctest git; do
  if ! command -v "$tool" >/dev/null; then
    echo "mutants.sh: $tool is missing; run scripts/deps.sh (or scripts/test.sh) first" >&2
    exit 1
  fi
done
exec python3 scripts/mutants.py "$@"
