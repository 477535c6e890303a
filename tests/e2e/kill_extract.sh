#!/usr/bin/env bash
# The real Updater killed with SIGKILL while it extracts a large update, twice at different
# moments: afterwards every installation file must be its old or its new content (compared by
# SHA-256), and a third run must install the update whole. Temporary files a killed extraction
# leaves beside their targets are not installation files; they are counted, and the complete run
# must have removed them.
# Usage: kill_extract.sh PATH_TO_UPDATER
set -uo pipefail

updater=${1:?usage: kill_extract.sh PATH_TO_UPDATER}
updater=$(readlink -f "$updater")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../../scripts/lib/demo-server.sh
. "$here/../../scripts/lib/demo-server.sh"
# shellcheck source=SCRIPTDIR/../../scripts/lib/demo-desktop.sh
. "$here/../../scripts/lib/demo-desktop.sh"
# shellcheck source=SCRIPTDIR/e2e-lib.sh
. "$here/e2e-lib.sh"

files=300 file_kib=320

# Temporary files of the extractor: ".<name>.korvanta-XXXXXX" beside their target.
is_temporary() { [[ $(basename "$1") == .*.korvanta-?????? ]]; }

# hashes DIR: "<sha256>  <path>" of every installation file below DIR, sorted by path.
hashes() {
  (cd "$1" && find . -type f ! -name Update.zip ! -name client-ran.log -print0 | sort -z |
    while IFS= read -r -d '' f; do
      is_temporary "$f" || sha256sum "$f"
    done)
}

# The old installation with large files, and an update that replaces every one of them. The
# archive lists version.txt last, so an interrupted extraction still leaves the old version.
demo_layout_install "$install"
stage=$work/stage
mkdir -p "$install/assets" "$stage/assets"
for i in $(seq -w 1 "$files"); do
  printf 'old pack %s\n' "$i" >"$install/assets/pack$i.pak"
  head -c "$((file_kib * 1024))" /dev/urandom >"$stage/assets/pack$i.pak"
done
printf '%s\r\n' "$DEMO_NEW_VERSION" >"$stage/version.txt"
demo_write_client "$stage/Korvanta.exe" "$DEMO_NEW_VERSION"
printf 'Korvanta %s\n' "$DEMO_NEW_VERSION" >"$stage/readme.txt"
(cd "$stage" && zip -q -X -r ../www/Update.zip Korvanta.exe readme.txt assets && zip -q -X ../www/Update.zip version.txt)
demo_write_page "$work/www"

old_hashes=$(hashes "$install")
new_hashes=$(hashes "$stage")
# Each path and its two allowed hashes; files the update does not carry have only the old one.
declare -A allowed
while read -r sum path; do allowed[$path]=$sum; done <<<"$old_hashes"
while read -r sum path; do allowed[$path]="${allowed[$path]:-} $sum"; done <<<"$new_hashes"

demo_server_start "$work/www" "$work/state" || fatal "nginx did not start"
desk_xvfb_start "$work/xvfb" || fatal "Xvfb did not start"

# new_packs: how many of the large files are already the new ones (the old ones are tiny).
new_packs() { find "$install/assets" -name 'pack*.pak' -size +100k 2>/dev/null | wc -l; }

# run_updater NAME: starts the Updater in the installation and clicks "Check  Update".
run_updater() {
  start_updater "$updater" "$1"
  desk_find_window 60 || fatal "$1: the Updater's window did not appear"
  desk_locate_commands || fatal "$1: the title-bar commands were not found"
  sleep 0.3
  desk_click_update
}

# check_installation WHAT: every installation file is its old or its new content.
compared=0
check_installation() {
  local sum path bad=0 temporaries
  while read -r sum path; do
    [ -n "$path" ] || continue
    compared=$((compared + 1))
    if [ -z "${allowed[$path]:-}" ]; then
      fail "$1: unexpected file $path"
      bad=1
    elif [[ " ${allowed[$path]} " != *" $sum "* ]]; then
      fail "$1: $path is neither its old nor its new content"
      bad=1
    fi
  done <<<"$(hashes "$install")"
  for path in "${!allowed[@]}"; do
    [ -f "$install/$path" ] || fail "$1: $path is missing"
  done
  temporaries=$(find "$install" -name '.*.korvanta-*' | wc -l)
  local replaced
  replaced=$(comm -12 <(hashes "$install" | sort) <(echo "$new_hashes" | sort) | wc -l)
  echo "$1: $replaced of $(echo "$new_hashes" | wc -l) files new, the rest old; $temporaries temporary file(s) left"
  return "$bad"
}

# kill_during_extraction NAME PACKS: kills the Updater once PACKS large files are in place (or, for
# 0, once the first temporary file of the extraction shows).
kill_during_extraction() {
  local name=$1 packs=$2 deadline=$((SECONDS + 60))
  run_updater "$name"
  until { [ "$packs" -eq 0 ] && find "$install" -name '.*.korvanta-*' -print -quit | grep -q .; } ||
      { [ "$packs" -gt 0 ] && [ "$(new_packs)" -ge "$packs" ]; }; do
    if [ "$SECONDS" -ge "$deadline" ] || updater_ended; then
      fail "$name: the moment to kill was never seen"
      tail -n 20 "$updater_log" >&2
      return
    fi
    sleep 0.005
  done
  kill -KILL "$updater_pid"
  wait "$updater_pid" 2>/dev/null
  updater_pid=
  check_installation "$name"
  # version.txt comes last: while it is old the extraction was cut short, and the next run updates.
  grep -qx "$DEMO_OLD_VERSION"$'\r' "$install/version.txt" || fail "$name: the kill came after the extraction"
}

kill_during_extraction "first kill, early in the extraction" 0
kill_during_extraction "second kill, half-way through the extraction" $((files / 2))

run_updater "complete run"
# Built with the sanitizers, a leak or undefined behaviour shows in its output and its status.
wait_updater_end "complete run" 90
check_installation "complete run"
[ "$(find "$install" -name '.*.korvanta-*' | wc -l)" -eq 0 ] ||
  fail "complete run: temporary files of the killed runs were left behind"
[ "$(comm -12 <(hashes "$install" | sort) <(echo "$new_hashes" | sort) | wc -l)" -eq "$(echo "$new_hashes" | wc -l)" ] ||
  fail "complete run: the update was not installed whole"

e2e_finish "killed extraction: $compared file hashes compared, each old or new; the next run installed the update"
