#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time:
#   scripts/fuzz.sh [seconds-per-target]     (default 25; a long run: 600)
# The committed seed corpus is copied first, so what a run finds does not
# grow it.  Exits non-zero when a target crashes or a property fails; the
# input that did it is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-25}
[[ $seconds =~ ^[0-9]+$ && $seconds -gt 0 ]] || { echo "usage: $0 [seconds-per-target]" >&2; exit 2; }
command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (bash scripts/setup.sh)" >&2; exit 2; }

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMKLNK_FUZZ=ON -DMKLNK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_split fuzz_paths fuzz_propstore fuzz_read >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"
status=0
for target in split paths propstore read; do
  corpus="$work/$target"
  mkdir -p "$corpus"
  # The reader starts from the public sample links.
  if [[ $target == read ]]; then cp tests/lnk/samples/*.lnk "$corpus"/; else cp tests/fuzz/corpus/"$target"/* "$corpus"/; fi
  log="$work/$target.log"
  echo "== fuzz_$target: ${seconds}s"
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
       -dict="tests/fuzz/$target.dict" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$build/artifacts/fuzz_$target-" "$corpus" >"$log" 2>&1; then
    # The last progress line holds the coverage (cov), features (ft) and speed.
    grep -E '^#[0-9]+[[:space:]]+(DONE|pulse)' "$log" | tail -1
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log"
  else
    status=1
    echo "fuzz_$target FAILED:"
    grep -vE '^#[0-9]+|Uses:|dictionary' "$log" | tail -40
  fi
done
exit $status
