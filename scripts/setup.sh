#!/usr/bin/env bash
# Installs what building and testing mklnk needs on Debian 12 (as root).
# "setup.sh native" installs only what the native build and lnkinfo need.
# Quick when everything is there already.
set -euo pipefail

if [ "${1:-}" = native ]; then
  packages=(cmake g++ make liblnk-utils)
else
  packages=(cmake g++ make googletest python3
            g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 wine64-tools
            liblnk-utils python3-liblnk python3-libfwsi
            clang libclang-rt-14-dev clang-tidy cppcheck
            groff-base man-db dpkg-dev lintian unzip file strace valgrind)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
