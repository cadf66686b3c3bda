#!/usr/bin/env bash
# Sets up, builds the native mklnk and makes one real shortcut with it:
# /tmp/mklnk-demo/Links/report.lnk pointing at /tmp/mklnk-demo/Data/report.txt,
# then shows what an independent reader (lnkinfo) finds in the link.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh native
cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build -j2 --target mklnk >/dev/null

demo=/tmp/mklnk-demo
rm -rf "$demo"
mkdir -p "$demo/Links" "$demo/Data"
echo "quarterly figures" > "$demo/Data/report.txt"

source scripts/common.sh
link=$(win_path "$demo/Links/report")
target=$(win_path "$demo/Data/report.txt")
echo "\$ build/mklnk '$link' '$target'"
build/mklnk "$link" "$target"
echo "\$ lnkinfo $demo/Links/report.lnk"

lnkinfo "$demo/Links/report.lnk" | sed -n '/Link information/,/Working directory/p'
