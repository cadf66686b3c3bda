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
            groff-base man-db dpkg-dev lintian unzip file strace valgrind locales)
fi

# The locales the tests open links in under Wine (code pages 1251 and 932;
# C.UTF-8 is always there), generated once.
locales() {
  local name
  for name in ru_RU ja_JP; do
    locale -a 2>/dev/null | grep -qx "$name.utf8" || localedef -i "$name" -f UTF-8 "$name.UTF-8"
  done
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  [ "${1:-}" = native ] || locales
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
source "$(dirname "$0")/install.sh"
apt_install "${missing[@]}"
[ "${1:-}" = native ] || locales
