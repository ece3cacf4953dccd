#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each on its corpus for
# FUZZ_SECONDS (default 60), so that a change that breaks a target, or an
# input the corpus already holds, shows in CI. New inputs go to a scratch
# folder; the corpus in the tree is only read. A finding stops the script
# with the fuzzer's report and the reproducer's path.
#   FUZZ_SECONDS=10 scripts/fuzz-smoke.sh          # a quicker look
#   FUZZ_TARGETS="readers_fuzz" scripts/fuzz-smoke.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
if ! command -v clang++ >/dev/null; then
  echo "fuzz-smoke: clang++ is missing; run scripts/deps.sh (it installs clang and libclang-rt-14-dev)" >&2
  exit 1
fi

# target, its folder in the build tree, its corpus folders, a dictionary
targets=(
  "readers_fuzz|tests/fuzz|tests/fuzz/corpus/readers|"
  "builders_fuzz|tests/fuzz|tests/fuzz/corpus/builders|"
  "fonttext_fuzz|tests/fuzz|tests/fuzz/corpus/fonttext|"
  "picture_fuzz|tests/fuzz|tests/fuzz/corpus/picture|"
  "vprinter_fuzz|tools/vprinter/fuzz|tools/vprinter/fuzz/corpus/vprinter tools/vprinter/fuzz/seeds|tools/vprinter/fuzz/vprinter.dict"
  "vprinter_label_fuzz|tools/vprinter/fuzz|tools/vprinter/fuzz/corpus/label tools/vprinter/fuzz/seeds|tools/vprinter/fuzz/vprinter.dict"
  "vprinter_session_fuzz|tools/vprinter/fuzz|tools/vprinter/fuzz/corpus/session tools/vprinter/fuzz/seeds|tools/vprinter/fuzz/vprinter.dict"
)
wanted=${FUZZ_TARGETS:-}

cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALOMA_SANITIZE=ON -DPALOMA_WERROR=ON -DPALOMA_TESTS=OFF \
  -DPALOMA_TOOLS=ON >/dev/null
names=()
for t in "${targets[@]}"; do
  name=${t%%|*}
  if [ -z "$wanted" ] || [[ " $wanted " == *" $name "* ]]; then names+=("$name"); fi
done
cmake --build "$build" -j"$(nproc)" --target "${names[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/share/sanitizers/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for t in "${targets[@]}"; do
  IFS='|' read -r name dir corpora dict <<<"$t"
  if [[ ! " ${names[*]} " == *" $name "* ]]; then continue; fi
  mkdir -p "$scratch/$name"
  args=(-max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096
        -artifact_prefix="$scratch/$name-")
  [ -n "$dict" ] && args+=(-dict="$root/$dict")
  # New inputs go to the first folder: the scratch one.
  args+=("$scratch/$name")
  read -r -a dirs <<<"$corpora"
  for d in "${dirs[@]}"; do args+=("$root/$d"); done
  echo "== $name: ${seconds} s"
  if ! (cd "$scratch" && "$root/$build/$dir/$name" "${args[@]}" >"$scratch/$name.log" 2>&1); then
    tail -n 60 "$scratch/$name.log" >&2
    keep=$(mktemp -d /tmp/fuzz-finding-XXXXXX)
    cp "$scratch/$name"-* "$keep/" 2>/dev/null || true
    echo "fuzz-smoke: $name found a fault; reproducers kept in $keep (run the target on one to see it)" >&2
    exit 1
  fi
  grep -E "^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units" "$scratch/$name.log" | sed 's/^/   /'
done
echo "fuzz-smoke: every target ran without a finding"
