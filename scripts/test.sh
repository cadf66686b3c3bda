#!/usr/bin/env bash
# Sets up, builds the native and both Windows executables and runs every
# test: the native build directly, the Windows builds under Wine (as far as
# the machine can run them; the output says which ran), the install rules and
# packages, the native suite again under the sanitizers, a bounded fuzzing
# run and the static checks.  Every stage runs even when one before it
# failed; the last line counts them.
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
# Both Windows executables: the 32-bit mklnk.exe, the product, and the
# 64-bit one for Windows installations without 32-bit support.
build_windows() {
  local bits dir
  for bits in 32 64; do
    dir=build-win; [ "$bits" = 64 ] && dir=build-win64
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$([ "$bits" = 64 ] && echo x86_64 || echo i686).cmake" \
          -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null && cmake --build "$dir" -j2 || return 1
  done
}

# What the shipped 32-bit executable promises, checked as a file: it needs no
# Wine, so it runs on every machine.
check_exe() {
  (cd build-win && ctest --output-on-failure -R exe_budget) &&
    (cd build-win64 && ctest --output-on-failure -R exe_budget)
}

# The Windows suites under Wine, as far as this machine can run them: the
# 64-bit build under Wine's 64-bit loader always, the 32-bit build under the
# 32-bit loader when the kernel runs 32-bit programs.  Whether a loader
# works is found out by running that build's mklnk.exe once (the usage
# text); the last line names what ran.  A machine that can run neither
# fails the stage.
windows_suites() {
  local lines=() failed=0 started=0 bits dir out
  for bits in 64 32; do
    dir=build-win; [ "$bits" = 64 ] && dir=build-win64
    if [ ! -f "$dir/mklnk.exe" ]; then
      lines+=("$bits-bit: not built"); failed=1; continue
    fi
    out=$(tests/tools/wine-run "$dir/mklnk.exe" 2>"$dir/wine-probe.log")
    if [[ $out != "To make a shortcut"* ]]; then
      lines+=("$bits-bit: not run, Wine cannot start it here ($(grep -m1 . "$dir/wine-probe.log" | cut -c1-100))")
      [ "$bits" = 64 ] && failed=1
      continue
    fi
    started=$((started + 1))
    if (cd "$dir" && ctest --output-on-failure -E exe_budget); then
      lines+=("$bits-bit: passed")
    else
      lines+=("$bits-bit: FAILED"); failed=1
    fi
  done
  [ "$started" -eq 0 ] && lines+=("no Windows suite could run on this machine")
  printf -v out '%s; ' "${lines[@]}"
  echo "Windows suites under Wine: ${out%; }"
  return $failed
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
stage "Windows builds" build_windows
stage "Windows executables as files" check_exe
stage "Windows suites under Wine" windows_suites
stage "native tests" bash -c 'cd build && ctest --output-on-failure'
# The POSIX fallbacks of the Linux calls, as macOS and the BSDs build them.
stage "native tests, portable build" bash -c 'cmake -S . -B build-portable -DMKLNK_PORTABLE=ON \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null && cmake --build build-portable -j2 &&
  cd build-portable && ctest --output-on-failure'
# cmake --install, the manual page, the Debian package and the Windows zips.
stage "install and packages" bash scripts/package-check.sh
stage "native tests under ASan and UBSan" sanitized
# A bounded run; a longer one is "scripts/fuzz.sh 600".
stage "fuzzing" bash scripts/fuzz.sh 25
stage "static checks" bash scripts/static-checks.sh

echo "test stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
