#!/usr/bin/env bash
# Sets up, builds both executables and runs every test: the native build
# directly, the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build -j2
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build-win -j2

echo "== Windows build under Wine"
(cd build-win && ctest --output-on-failure)
echo "== native build"
(cd build && ctest --output-on-failure)
