# Sourced by setup.sh: apt_install, the one way the scripts install Debian
# packages.  A package mirror is often mid-sync: one of its indexes then
# fails to download (apt-get update exits 100, "File has unexpected size ...
# Mirror sync in progress?"), and without the security archive's i386 index
# the i386 candidates are the point release's while the amd64 ones are the
# security archive's, which a Multi-Arch: same library cannot mix ("held
# broken packages").  So the update is tried a few times and then gone on
# from, and an install that apt cannot resolve is tried once more with the
# security archive's priority lowered for that install alone (a preferences
# folder of its own, given on the command line: nothing is left in
# /etc/apt).  MKLNK_APT_PAUSE is the pause between updates, in seconds.

apt_install() {
  local log pause=${MKLNK_APT_PAUSE:-5} try failed prefs names
  log=$(mktemp)
  export DEBIAN_FRONTEND=noninteractive
  for try in 1 2 3; do
    apt-get update -qq >"$log" 2>&1 && break
    if [ "$try" = 3 ]; then
      failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$log" | tr '\n' ' ')
      echo "setup: apt-get update failed 3 times; going on without ${failed:-the indexes it names}(the mirror may be mid-sync)"
    else
      sleep "$pause"
    fi
  done
  if apt-get install -y -qq "$@" >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  # The same install, the security archive below the point release.  The
  # folder holds the system's own preferences too.
  prefs=$(mktemp -d)
  cp /etc/apt/preferences.d/* "$prefs"/ 2>/dev/null || true
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$prefs/zz-mklnk-security.pref"
  echo "setup: apt-get install failed ($(grep -m1 '^E:' "$log" | cut -c4-)); once more with the security archive's priority lowered"
  if apt-get -o Dir::Etc::PreferencesParts="$prefs" install -y -qq "$@" >"$log" 2>&1; then
    rm -rf "$prefs" "$log"
    return 0
  fi
  rm -rf "$prefs"
  # The packages apt names as the trouble, else every one asked for.
  names=$(sed -n -e 's/^ \([^ ]*\) : Depends.*/\1/p' -e 's/^E: Unable to locate package \(.*\)/\1/p' \
               -e "s/^E: Package '\([^']*\)' has no installation candidate/\1/p" "$log" | sort -u | tr '\n' ' ')
  echo "setup: cannot install ${names:-$* }(apt-get: $(grep -m1 '^E:' "$log" | cut -c4-))"
  rm -f "$log"
  return 1
}
