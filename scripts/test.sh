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

# --- Sanitizers and fuzzing -------------------------------------------------
# The native suite again, everything built under AddressSanitizer and
# UndefinedBehaviorSanitizer (the end-to-end tests then run the sanitized
# mklnk too).  Reports go to files rather than stderr, so a test that only
# looks at stdout or the exit status cannot hide one: any file there fails
# the run.  LeakSanitizer works in this container, so leaks count as well.
echo "== native build under ASan and UBSan"
cmake -S . -B build-asan -DMKLNK_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
cmake --build build-asan -j2
san_logs="$PWD/build-asan/sanitizer-reports"
rm -rf "$san_logs" && mkdir -p "$san_logs"
(cd build-asan &&
 ASAN_OPTIONS="log_path=$san_logs/asan:exitcode=66:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1" \
 UBSAN_OPTIONS="log_path=$san_logs/ubsan:exitcode=66:print_stacktrace=1" \
 ctest --output-on-failure) || { cat "$san_logs"/* 2>/dev/null; exit 1; }
if compgen -G "$san_logs/*" >/dev/null; then
  echo "sanitizer reports:"; cat "$san_logs"/*; exit 1
fi

# A bounded fuzzing run of the splitter and the path procedures; a longer
# one is "scripts/fuzz.sh 600".
echo "== fuzzing"
bash scripts/fuzz.sh 25
# --- end of sanitizers and fuzzing ------------------------------------------
