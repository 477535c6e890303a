#!/usr/bin/env bash
# Signed updates end to end: an Updater built with the test publisher's key, nginx serving what
# korvanta-publish made. A published update installs; the same update with one byte of the archive
# changed on the server is refused and leaves every installation file as it was.
# Usage: signed_run.sh PATH_TO_SIGNED_UPDATER PATH_TO_KORVANTA_PUBLISH SECRET_KEY_FILE
set -uo pipefail

updater=$(readlink -f "${1:?usage: signed_run.sh UPDATER KORVANTA_PUBLISH SECRET_KEY}")
publish=$(readlink -f "${2:?usage: signed_run.sh UPDATER KORVANTA_PUBLISH SECRET_KEY}")
key=$(readlink -f "${3:?usage: signed_run.sh UPDATER KORVANTA_PUBLISH SECRET_KEY}")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../../scripts/lib/demo-server.sh
. "$here/../../scripts/lib/demo-server.sh"
# shellcheck source=SCRIPTDIR/../../scripts/lib/demo-desktop.sh
. "$here/../../scripts/lib/demo-desktop.sh"
# shellcheck source=SCRIPTDIR/e2e-lib.sh
. "$here/e2e-lib.sh"

# Every file of the installation with its hash, the Updater itself aside.
install_hashes() { (cd "$install" && find . -type f ! -name "$(basename "$updater")" -print0 | sort -z | xargs -0 sha256sum); }

demo_layout_install "$install"
demo_publish_update "$publish" "$key" "$work/www" 512 >"$work/publish.log" 2>&1 ||
  { cat "$work/publish.log" >&2; fatal "korvanta-publish failed"; }
grep -q '<META NAME="mxSignature" CONTENT="' "$work/www/webupdate.htm" || fatal "the published page carries no signature"
demo_server_start "$work/www" "$work/state" || fatal "nginx did not start"
desk_xvfb_start "$work/xvfb" || fatal "Xvfb did not start"

# --- a tampered archive: refused, the installation untouched
cp "$work/www/Update.zip" "$work/Update.zip.published"
size=$(stat -c %s "$work/www/Update.zip")
# One byte in the middle (inside the random padding): the archive still opens, its digest differs.
python3 - "$work/www/Update.zip" "$((size / 2))" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(int(sys.argv[2])); b = f.read(1); f.seek(int(sys.argv[2])); f.write(bytes([b[0] ^ 1]))
PY
cmp -s "$work/www/Update.zip" "$work/Update.zip.published" && fatal "the archive was not changed"
before=$(install_hashes)

start_updater "$updater" tampered
desk_find_window 60 || fatal "the Updater's window did not appear"
desk_locate_commands || fatal "the title-bar commands were not found in the window"
sleep 0.3
desk_click_update
# The refused download is deleted before the window's handler; its extraction then reports the
# missing archive in a message box, which stays until answered.
box_shown() { xdotool search --onlyvisible --name '^Korvanta Updater$' >/dev/null 2>&1; }
if wait_for 20 box_shown; then
  updater_ended && fail "tampered: the Updater ended instead of reporting"
  grep -q 'GET [^ ]*/Update.zip HTTP' "$work/state/access.log" || fail "tampered: the archive was never requested"
  [ -e "$install/Update.zip" ] && fail "tampered: the refused archive was left in the installation"
  [ "$(install_hashes)" = "$before" ] || fail "tampered: installation files changed: $(diff <(echo "$before") <(install_hashes))"
  [ -e "$install/client-ran.log" ] && fail "tampered: a client was started"
  echo "tampered archive: refused, $(echo "$before" | wc -l) installation files unchanged"
  xdotool key --clearmodifiers Return
  sleep 0.3
  desk_click_exit
  wait_updater_end "tampered" 15
else
  fail "tampered: no report of the refused download within 20 s"
fi

# --- the archive as published: installed
cp "$work/Update.zip.published" "$work/www/Update.zip"
start_updater "$updater" signed
desk_find_window 60 || fatal "the Updater's window did not appear"
desk_locate_commands || fatal "the title-bar commands were not found in the window"
sleep 0.3
desk_click_update
wait_updater_end "signed" 20
check_new_version_installed 512

e2e_finish "signed update installed, tampered archive refused with the installation unchanged"
