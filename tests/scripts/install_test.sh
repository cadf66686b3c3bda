#!/usr/bin/env bash
# apt_install (scripts/install.sh) against a stand-in apt-get on PATH, as a
# mirror mid-sync answers: every update exits 100 naming the index it could
# not fetch, and the first install cannot be resolved.  The function must
# retry the update, go on, install again with the security archive's
# priority lowered for that install only, and leave /etc/apt as it was; and
# when the second install fails too, name the packages and fail.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The function's own temporary files go to a folder of the test's, so that
# what another program makes in /tmp meanwhile is not taken for a leftover.
mkdir "$work/bin" "$work/tmp"
cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$*" >>"$STANDIN_LOG"
case " $* " in
  *" update "*)
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  *PreferencesParts=*)
    all="$*"; dir=${all#*PreferencesParts=}; dir=${dir%% *}
    cat "$dir"/*.pref >>"$STANDIN_LOG"
    [ -n "${STANDIN_FAIL_TWICE:-}" ] || exit 0 ;;
esac
echo "The following packages have unmet dependencies:"
echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
echo "E: Unable to correct problems, you have held broken packages."
exit 100
STANDIN
chmod +x "$work/bin/apt-get"
before=$(find /etc/apt -printf '%p %s %T@\n' 2>/dev/null | sort | sha256sum)
status=0
check() {  # what, expected, actual
  if [ "$2" != "$3" ]; then
    printf 'FAILED: %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3"
    status=1
  fi
}
for fail_twice in "" 1; do
  : >"$work/log"
  out=$(TMPDIR="$work/tmp" PATH="$work/bin:$PATH" STANDIN_LOG="$work/log" STANDIN_FAIL_TWICE=$fail_twice MKLNK_APT_PAUSE=0 \
        bash -c 'set -euo pipefail; source "$1"; apt_install wine32:i386 lintian' _ "$here/../../scripts/install.sh")
  rc=$?
  line1="setup: apt-get update failed 3 times; going on without http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz (the mirror may be mid-sync)"
  line2="setup: apt-get install failed (Unable to correct problems, you have held broken packages.); once more with the security archive's priority lowered"
  calls="update -qq
update -qq
update -qq
install -y -qq wine32:i386 lintian
-o Dir::Etc::PreferencesParts=DIR install -y -qq wine32:i386 lintian
Package: *
Pin: release l=Debian-Security
Pin-Priority: 100"
  if [ -z "$fail_twice" ]; then
    check "output" "$line1"$'\n'"$line2" "$out"
    check "status" 0 "$rc"
  else
    check "output, second install failing" "$line1"$'\n'"$line2"$'\n'"setup: cannot install wine32:i386 (apt-get: Unable to correct problems, you have held broken packages.)" "$out"
    check "status, second install failing" 1 "$rc"
  fi
  check "apt-get calls" "$calls" "$(sed -E 's/PreferencesParts=[^ ]+/PreferencesParts=DIR/' "$work/log")"
done
check "/etc/apt left as it was" "$before" "$(find /etc/apt -printf '%p %s %T@\n' 2>/dev/null | sort | sha256sum)"
leftover=$(ls -A "$work/tmp")
check "no temporary folder left" "" "$leftover"
[ $status = 0 ] && echo "apt_install: passed"
exit $status
