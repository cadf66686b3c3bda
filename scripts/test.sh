#!/usr/bin/env bash
# Sets up, builds both executables and runs every test: the native build
# directly, the Windows build under Wine, the native suite again under the
# sanitizers, a bounded fuzzing run and the static checks.  Every stage runs
# even when one before it failed; the last line counts them.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

passed=0
failed=0
stage() {
  local name=$1
  shift
  echo "== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "== $name: FAILED"
    failed=$((failed + 1))
  fi
}

build_native() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null && cmake --build build -j2
}
build_windows() {
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null &&
    cmake --build build-win -j2
}

# The native suite with everything built under AddressSanitizer and
# UndefinedBehaviorSanitizer (the end-to-end tests then run the sanitized
# mklnk too).  Reports go to files rather than stderr, so a test that only
# looks at stdout or the exit status cannot hide one: any file there fails
# the stage.  LeakSanitizer works in this container, so leaks count as well.
sanitized() {
  cmake -S . -B build-asan -DMKLNK_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null || return 1
  cmake --build build-asan -j2 || return 1
  local logs="$PWD/build-asan/sanitizer-reports"
  rm -rf "$logs" && mkdir -p "$logs"
  (cd build-asan &&
   ASAN_OPTIONS="log_path=$logs/asan:exitcode=66:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1" \
   UBSAN_OPTIONS="log_path=$logs/ubsan:exitcode=66:print_stacktrace=1" \
   ctest --output-on-failure) || { cat "$logs"/* 2>/dev/null; return 1; }
  if compgen -G "$logs/*" >/dev/null; then
    echo "sanitizer reports:"
    cat "$logs"/*
    return 1
  fi
}

stage "native build" build_native
stage "Windows build" build_windows
stage "Windows build under Wine" bash -c 'cd build-win && ctest --output-on-failure'
stage "native build" bash -c 'cd build && ctest --output-on-failure'
stage "native build under ASan and UBSan" sanitized
# A bounded run; a longer one is "scripts/fuzz.sh 600".
stage "fuzzing" bash scripts/fuzz.sh 25
stage "static checks" bash scripts/static-checks.sh

echo "test stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
