#!/usr/bin/env bash
# Static analysis of the product sources (src/): clang-tidy with the checks
# of .clang-tidy, and cppcheck.  Tests and googletest are not looked at.
#
# clang-tidy runs twice over the code: once as the Linux build compiles it
# (core modules and platform/posix, flags from a compile database), and once
# as the Windows build does (core modules and platform/win32, for the i686
# mingw-w64 target with its own headers), so 32-bit sizes and the Windows
# API are checked too.  cppcheck likewise runs one pass per build: the core
# modules with platform/posix, then with platform/win32 for 32-bit Windows.
#
# Exits non-zero on any finding.  Needs clang-tidy, cppcheck and mingw-w64
# (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

jobs=2
native=build-tidy
windows=build-tidy-win

for tool in clang-tidy cppcheck cmake i686-w64-mingw32-g++ python3; do
  command -v "$tool" >/dev/null || { echo "static-checks: $tool is missing (run scripts/setup.sh)" >&2; exit 2; }
done

# Configuring is all we need: the compile database, the file lists and the
# generated version header.
cmake -S . -B "$native" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DMKLNK_TESTS=OFF >/dev/null
cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DMKLNK_TESTS=OFF >/dev/null

# The product sources a compile database names, one per line.
sources_of() {
  python3 - "$1" "$root/src/" <<'EOF'
import json, os, sys
entries = json.load(open(sys.argv[1]))
seen = []
for e in entries:
    f = os.path.normpath(os.path.join(e["directory"], e["file"]))
    if f.startswith(sys.argv[2]) and f not in seen:
        seen.append(f)
print("\n".join(seen))
EOF
}

# The mingw-w64 C++ compiler's system include directories, in its order.
mingw_includes() {
  i686-w64-mingw32-g++ -E -x c++ - -v </dev/null 2>&1 |
    sed -n '/#include <...> search starts here:/,/End of search list./p' |
    sed '1d;$d' | while read -r dir; do realpath -m "$dir"; done
}

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# ---- clang-tidy -------------------------------------------------------------
start=$SECONDS
mapfile -t native_files < <(sources_of "$native/compile_commands.json")
mapfile -t windows_files < <(sources_of "$windows/compile_commands.json")
# The Windows flags come from here, not from the database: the compile
# database of the cross build names a compiler whose headers clang cannot
# find by itself.
{
  printf '%s\n' --target=i686-w64-mingw32 -nostdinc
  mingw_includes | sed 's/^/-isystem/'
  printf '%s\n' "-I$root/src" "-I$root/$windows/generated" -std=c++20 -DNDEBUG -Wall -Wextra
} >"$logs/windows.flags"

# One job per file and platform; each writes its own log, so the output of
# parallel jobs never interleaves.
{
  for f in "${native_files[@]}"; do printf 'native\0%s\0' "$f"; done
  for f in "${windows_files[@]}"; do printf 'windows\0%s\0' "$f"; done
} | NATIVE="$native" LOGS="$logs" xargs -0 -n2 -P"$jobs" bash -c '
  platform=$1 file=$2
  log="$LOGS/tidy-$platform-$(basename "$(dirname "$file")")-$(basename "$file").log"
  if [ "$platform" = native ]; then
    clang-tidy --quiet --use-color=false -p "$NATIVE" "$file" >"$log" 2>&1 || touch "$log.failed"
  else
    mapfile -t flags <"$LOGS/windows.flags"
    clang-tidy --quiet --use-color=false "$file" -- "${flags[@]}" >"$log" 2>&1 || touch "$log.failed"
  fi
' _

# A finding is a diagnostic line of our own; clang-tidy also exits non-zero
# on one, so a run that failed without any is the tool itself failing (a
# flag it cannot take, a crash) and counts too.
finding='^/.*:[0-9]+:[0-9]+: (warning|error):'
tidy_findings=0
tidy_broken=0
for log in "$logs"/tidy-*.log; do
  n=$(grep -cE "$finding" "$log" || true)
  tidy_findings=$((tidy_findings + n))
  if [ "$n" -gt 0 ]; then
    grep -vE ' warnings? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' "$log"
  elif [ -e "$log.failed" ]; then
    tidy_broken=$((tidy_broken + 1))
    cat "$log"
  fi
done
echo "clang-tidy: ${#native_files[@]} Linux + ${#windows_files[@]} Windows files, $tidy_findings findings," \
     "$tidy_broken runs failed, $((SECONDS - start)) s"

# ---- cppcheck ---------------------------------------------------------------
start=$SECONDS
cppcheck_common=(--enable=warning,performance,portability,style --std=c++20 --language=c++
                 --inline-suppr --suppress=missingIncludeSystem --error-exitcode=1 --quiet
                 -j"$jobs" --template='{file}:{line}:{column}: {severity}: {message} [{id}]'
                 -I src)
# The program as the Linux build sees it (everything but the Windows layer),
# then as the Windows one does: a 32-bit Windows target without the Linux
# layer, so that the core modules are looked at with 32-bit sizes too.
mapfile -t posix_sources < <(find src -name '*.cpp' -not -path 'src/platform/win32/*' | sort)
mapfile -t windows_sources < <(find src -name '*.cpp' -not -path 'src/platform/posix/*' | sort)
cppcheck_failed=0
cppcheck "${cppcheck_common[@]}" --library=posix -I "$native/generated" -U_WIN32 \
  "${posix_sources[@]}" 2>"$logs/cppcheck-posix.log" || cppcheck_failed=1
cppcheck "${cppcheck_common[@]}" --library=windows --platform=win32A -D_WIN32 -I "$windows/generated" \
  "${windows_sources[@]}" 2>"$logs/cppcheck-win32.log" || cppcheck_failed=1
cat "$logs"/cppcheck-*.log
cppcheck_findings=$(cat "$logs"/cppcheck-*.log | grep -cE ':[0-9]+:[0-9]+: ' || true)
echo "cppcheck: 2 passes (Linux, Windows), $cppcheck_findings findings, $((SECONDS - start)) s"

if [ "$tidy_findings" -gt 0 ] || [ "$tidy_broken" -gt 0 ] || [ "$cppcheck_findings" -gt 0 ] ||
   [ "$cppcheck_failed" -ne 0 ]; then
  echo "static-checks: FAILED"
  exit 1
fi
echo "static-checks: clean"
