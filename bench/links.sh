#!/usr/bin/env bash
# Times creating links with the native build: N runs of mklnk, each making a
# link to a file, against N runs of /bin/true in the same loop shape, and
# prints both and their ratio.  Usage: bench/links.sh [N] [path to mklnk]
set -euo pipefail
runs=${1:-300}
tool=$(readlink -f "${2:-build/mklnk}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/links"
echo data > "$work/target.txt"
cd "$work"

now() { date +%s%N; }

start=$(now)
for ((i = 0; i < runs; i++)); do /bin/true 'links\l' target.txt >/dev/null; done
base=$(( $(now) - start ))

start=$(now)
for ((i = 0; i < runs; i++)); do "$tool" "links\\l$((i % 10))" target.txt >/dev/null; done
tool_ns=$(( $(now) - start ))

[ -s links/l0.lnk ] || { echo "bench: no link was made" >&2; exit 1; }
awk -v n="$runs" -v b="$base" -v t="$tool_ns" 'BEGIN {
  printf "runs: %d\n/bin/true: %.1f us a run\nmklnk:     %.1f us a run\nratio:     %.2f\n",
         n, b / n / 1000, t / n / 1000, t / b }'
