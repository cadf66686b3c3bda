#!/usr/bin/env bash
# What a user installs, checked the way they meet it: "cmake --install" of
# the native build into a scratch prefix, the manual page through groff and
# man, the Debian package built, read, checked by lintian and installed with
# dpkg, and the Windows zips when those builds are there; then all of it built
# twice more, to give the same bytes.  Each installed mklnk makes a
# real link.  Needs the native build in build/ (scripts/test.sh makes it);
# runs as root, like the rest of the tests.  Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

fail() { echo "package-check: $*" >&2; exit 1; }

[ -f build/CMakeCache.txt ] || fail "no native build in build/ (cmake -S . -B build && cmake --build build)"
[ "$(id -u)" -eq 0 ] || fail "dpkg needs root"
version=$(sed -n 's/^set(MKLNK_VERSION_STRING "\(.*\)")$/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no MKLNK_VERSION_STRING in CMakeLists.txt"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Makes one link with the mklnk at $1, in Windows paths under Z:, and checks
# the confirmation line byte for byte (CR LF included), the exit status and
# that the file begins with a shell link's header.
make_link() {
  local bin=$1 dir out
  dir=$(mktemp -d "$scratch/run.XXXXXX")
  mkdir "$dir/Links" "$dir/My Data"
  echo "figures" >"$dir/My Data/report.txt"
  local win
  win=$(win_path "$dir")
  local link="$win\\Links\\report" target="$win\\My Data\\report.txt"
  out=$(cd / && "$bin" "$link" "$target") || fail "$bin: exit status $? making a link"
  [ "$out" = "shortcut created for $link <<===>> \"$target\""$'\r' ] ||
    fail "$bin: unexpected output: $(printf '%q' "$out")"
  # HeaderSize 0x4C, then the shell link CLSID 00021401-0000-0000-C000-000000000046.
  cmp -s -n 20 "$dir/Links/report.lnk" \
    <(printf '\x4c\x00\x00\x00\x01\x14\x02\x00\x00\x00\x00\x00\xc0\x00\x00\x00\x00\x00\x00\x46') ||
    fail "$bin: $dir/Links/report.lnk is missing or not a shell link"
}

check_help_and_version() {
  local bin=$1 out
  out=$("$bin" --version) || fail "$bin --version: exit status $?"
  [ "${out%$'\r'}" = "mklnk $version" ] || fail "$bin --version: $(printf '%q' "$out")"
  out=$("$bin" --help) || fail "$bin --help: exit status $?"
  # The usage text, then the options.
  [[ $out == "$("$bin")"$'\n\r\nOptions'* ]] || fail "$bin --help: not the usage text and the options: $(printf '%q' "$out")"
}

# A manual page that groff formats without a single warning and man shows.
check_page() {
  local page=$1 err
  err=$(zcat -f "$page" | groff -ww -man -Tutf8 2>&1 >/dev/null) || fail "groff failed on $page: $err"
  [ -z "$err" ] || fail "groff warns on $page:"$'\n'"$err"
  MANWIDTH=80 man -l "$page" 2>&1 | grep -q '^NAME' || fail "man -l cannot show $page"
}

# The files (not folders) under a tree, relative to it, sorted.
files_under() { (cd "$1" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort); }

# (a) cmake --install into a scratch prefix: exactly our five files.
cmake --build build -j2 --target mklnk >/dev/null
prefix=$scratch/prefix
cmake --install build --prefix "$prefix" >/dev/null
expected=$'bin/mklnk\nshare/doc/mklnk/README.md\nshare/doc/mklnk/changelog\nshare/doc/mklnk/copyright\nshare/man/man1/mklnk.1'
got=$(files_under "$prefix")
[ "$got" = "$expected" ] || fail "cmake --install put:"$'\n'"$got"$'\n'"expected:"$'\n'"$expected"
make_link "$prefix/bin/mklnk"
check_help_and_version "$prefix/bin/mklnk"

# (b) The installed page: the version filled in, no groff warning.
grep -q "^\.TH MKLNK 1 .*\"mklnk $version\"" "$prefix/share/man/man1/mklnk.1" ||
  fail "the manual page's .TH line does not carry version $version"
check_page "$prefix/share/man/man1/mklnk.1"

# (c) The Debian package.
rm -f build/mklnk_*.deb
(cd build && cpack -G DEB) >"$scratch/cpack-deb.log" 2>&1 || { cat "$scratch/cpack-deb.log"; fail "cpack -G DEB failed"; }
debs=(build/mklnk_*.deb)
{ [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ]; } || fail "cpack made no single mklnk_*.deb"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
for field in "Package=mklnk" "Section=utils" "Architecture=$arch"; do
  [ "$(dpkg-deb -f "$deb" "${field%%=*}")" = "${field#*=}" ] || fail "$deb: ${field%%=*} is not ${field#*=}"
done
for field in Maintainer Description Version; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "$deb: no $field"
done
# The runtimes are linked in: the program loads nothing, or, where the C
# library could not be linked in, that alone.
# The static executable brings lintian's one overridden tag along.
depends=$(dpkg-deb -f "$deb" Depends)
expected=$'usr/bin/mklnk\nusr/share/doc/mklnk/README.md\nusr/share/doc/mklnk/changelog.gz\nusr/share/doc/mklnk/copyright'
if file -b build/mklnk | grep -q 'static-pie linked'; then
  [ -z "$depends" ] || fail "$deb: Depends is \"$depends\" for a program that loads no library"
  expected+=$'\nusr/share/lintian/overrides/mklnk'
else
  [[ $depends =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] || fail "$deb: Depends is \"$depends\", expected libc6 alone"
fi
expected+=$'\nusr/share/man/man1/mklnk.1.gz'
got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | LC_ALL=C sort)
[ "$got" = "$expected" ] || fail "$deb holds:"$'\n'"$got"$'\n'"expected:"$'\n'"$expected"
# Debian's own checker, at its strictest: any tag at all, down to the
# pedantic and experimental ones, fails the check; one that is wrong for
# mklnk goes into cmake/lintian-overrides with the reason.
lintian --pedantic -E -I --fail-on error,warning,info,pedantic,experimental "$deb" >"$scratch/lintian.log" 2>&1 ||
  { cat "$scratch/lintian.log"; fail "lintian finds fault with $deb"; }
grep -v '^running with root privileges' "$scratch/lintian.log" && fail "lintian finds fault with $deb"

# Installed with dpkg into a root of its own rather than into the machine:
# the real unpacking, file registration and dependency check, while the
# machine's /usr and package database stay as they are (a mklnk the
# developer installed stays, and a failed check leaves nothing half
# installed).  The root's database starts with the machine's entries for the
# packages named in Depends, so they are checked against the versions
# really installed here; the log stays in the root too.
root=$scratch/root
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$root/var/log"
: >"$admin/status"
read -ra deps <<<"$(sed 's/([^)]*)//g; s/[,|]/ /g' <<<"$depends")"
for dep in "${deps[@]}"; do
  pkg=$(dpkg-query -W -f='${binary:Package}\n' "$dep:$arch" 2>/dev/null || dpkg-query -W -f='${binary:Package}\n' "$dep") ||
    fail "$dep, which the package depends on, is not installed here"
  { dpkg-query -s "$pkg"; echo; } >>"$admin/status"
  : >"$admin/info/$pkg.list"
done
dpkg_root() { dpkg --root="$root" --log="$root/var/log/dpkg.log" "$@"; }
dpkg_root -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i $deb failed"; }
[ "$(dpkg-query --admindir="$admin" -W -f='${Status}' mklnk)" = "install ok installed" ] ||
  fail "dpkg does not list mklnk as installed"
make_link "$root/usr/bin/mklnk"
check_help_and_version "$root/usr/bin/mklnk"
check_page "$root/usr/share/man/man1/mklnk.1.gz"
dpkg_root -r mklnk >>"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -r mklnk failed"; }
[ -z "$(find "$root/usr" ! -type d 2>/dev/null)" ] || fail "dpkg -r left files under $root/usr"

# (d) The Windows zips, from whichever Windows builds are there.
zips=()
for dir in build-win build-win64; do
  [ -f "$dir/CMakeCache.txt" ] || continue
  rm -f "$dir"/mklnk-*.zip
  (cd "$dir" && cpack -G ZIP) >"$scratch/cpack-zip.log" 2>&1 || { cat "$scratch/cpack-zip.log"; fail "cpack -G ZIP failed in $dir"; }
  zip=("$dir"/mklnk-*.zip)
  { [ ${#zip[@]} -eq 1 ] && [ -f "${zip[0]}" ]; } || fail "cpack made no single mklnk-*.zip in $dir"
  top=$(basename "${zip[0]}" .zip)
  echo "${zip[0]}:"
  unzip -Z1 "${zip[0]}" | sed 's/^/  /'
  got=$(unzip -Z1 "${zip[0]}" | LC_ALL=C sort)
  [ "$got" = "$top/LICENSE"$'\n'"$top/README.md"$'\n'"$top/mklnk.exe" ] || fail "${zip[0]} holds:"$'\n'"$got"
  # The archive carries the program this build made, not an older one.
  unzip -p "${zip[0]}" "$top/mklnk.exe" | cmp -s - "$dir/mklnk.exe" || fail "${zip[0]}: mklnk.exe differs from $dir/mklnk.exe"
  zips+=("$(basename "${zip[0]}")")
done

# (e) Reproducible: two more builds of these sources, the native one and the
# Windows ones there are, with their packages, give the same bytes.  The
# first builds the checkout with SOURCE_DATE_EPOCH unset, so it takes the
# last commit's time; the second a copy of the tree without .git, in another
# place and at another depth, with SOURCE_DATE_EPOCH set to that time, under
# another umask and time zone.  A time, path, mode or order that reached a
# file would show.
build_all() {  # source folder, build folder
  local toolchain bits
  cmake -S "$1" -B "$2/native" -DMKLNK_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null &&
    cmake --build "$2/native" -j2 >/dev/null && (cd "$2/native" && cpack -G DEB >/dev/null) || return 1
  for bits in "${windows[@]}"; do
    toolchain=mingw-i686; [ "$bits" = win64 ] && toolchain=mingw-x86_64
    cmake -S "$1" -B "$2/$bits" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/$toolchain.cmake" -DMKLNK_TESTS=OFF \
          -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null &&
      cmake --build "$2/$bits" -j2 >/dev/null && (cd "$2/$bits" && cpack -G ZIP >/dev/null) || return 1
  done
}
sums() { (cd "$1" && sha256sum native/mklnk native/mklnk_*.deb ${windows[@]/%//mklnk.exe} ${windows[@]/%//mklnk-*.zip}); }
# What the build took for SOURCE_DATE_EPOCH.
epoch_of() { sed -n 's/^set(CPACK_MKLNK_SOURCE_DATE_EPOCH "\([0-9]*\)")$/\1/p' "$1/CPackConfig.cmake"; }

windows=()
[ -f build-win/CMakeCache.txt ] && windows+=(win32)
[ -f build-win64/CMakeCache.txt ] && windows+=(win64)
copy=$scratch/copy/mklnk
mkdir -p "$copy"
tar --exclude='./build*' --exclude=./out --exclude=./.git -cf - . | tar -xf - -C "$copy"
(unset SOURCE_DATE_EPOCH; umask 022; TZ=UTC build_all . "$scratch/one") || fail "the first build for the comparison failed"
epoch=$(epoch_of "$scratch/one/native")
if git rev-parse --git-dir >/dev/null 2>&1; then
  [ "$epoch" = "$(git log -1 --format=%ct)" ] || fail "SOURCE_DATE_EPOCH unset gave $epoch, not the last commit's time"
fi
(umask 002; SOURCE_DATE_EPOCH=$epoch TZ=America/New_York build_all "$copy" "$copy/build/x") ||
  fail "the second build for the comparison failed"
sums "$scratch/one" >"$scratch/one.sums"
sums "$copy/build/x" >"$scratch/two.sums"
cat "$scratch/one.sums"
diff "$scratch/one.sums" "$scratch/two.sums" || fail "two builds of the same sources differ"

# The date is the sources' date: the manual page's, every file's in the
# Debian package, the PE header's time stamp.
day=$(date -u -d "@$epoch" +%F)
grep -q "^\.TH MKLNK 1 $day " "$scratch/one/native/doc/mklnk.1" || fail "the manual page is not dated $day"
times=$(dpkg-deb --fsys-tarfile "$scratch"/one/native/mklnk_*.deb | TZ=UTC tar -tv --full-time | awk '{ print $4 " " $5 }' | sort -u)
[ "$times" = "$(date -u -d "@$epoch" '+%F %T')" ] || fail "the Debian package's files are dated"$'\n'"$times"
for bits in "${windows[@]}"; do
  exe=$scratch/one/$bits/mklnk.exe
  pe=$(od -An -tu4 -j60 -N4 "$exe")
  [ "$(od -An -tu4 -j$((pe + 8)) -N4 "$exe" | tr -d ' ')" = "$epoch" ] || fail "$exe: the PE time stamp is not $epoch"
done

# Without git or SOURCE_DATE_EPOCH, the date of the changelog's latest entry.
env -u SOURCE_DATE_EPOCH cmake -S "$copy" -B "$scratch/three" -DMKLNK_TESTS=OFF >/dev/null || fail "cmake failed in a tree without .git"
released=$(date -u -d "$(sed -n 's/^ -- .*>  //p' doc/changelog | head -1)" +%s)
[ "$(epoch_of "$scratch/three")" = "$released" ] ||
  fail "a tree without .git took the date $(epoch_of "$scratch/three"), not the changelog's, $released"

echo "package-check: passed: cmake --install (5 files), man page without warnings," \
     "$(basename "$deb") (Depends: ${depends:-none}) clean for lintian, installed and run, --help/--version checked," \
     "zips: ${zips[*]:-none (no Windows build)}; two builds the same bytes"
