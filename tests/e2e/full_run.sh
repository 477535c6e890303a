#!/usr/bin/env bash
# One whole update run of the real Updater binary: nginx on loopback as the update server, the
# Updater in a temporary installation on its own Xvfb, "Check  Update" clicked with xdotool.
# Then a second start, which must remove the archive the first run left behind.
# Usage: full_run.sh PATH_TO_UPDATER
set -uo pipefail

updater=${1:?usage: full_run.sh PATH_TO_UPDATER}
updater=$(readlink -f "$updater")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../../scripts/lib/demo-server.sh
. "$here/../../scripts/lib/demo-server.sh"
# shellcheck source=SCRIPTDIR/../../scripts/lib/demo-desktop.sh
. "$here/../../scripts/lib/demo-desktop.sh"

# shellcheck source=SCRIPTDIR/e2e-lib.sh
. "$here/e2e-lib.sh"
mkdir -p "$work/running"

running_pid=
stop_running_client() { [ -n "$running_pid" ] && kill -KILL "$running_pid" 2>/dev/null; }
e2e_extra_cleanup=stop_running_client

demo_layout_install "$install"
demo_build_update "$work/www" 1024
demo_write_page "$work/www"
demo_server_start "$work/www" "$work/state" || fatal "nginx did not start"
desk_xvfb_start "$work/xvfb" || fatal "Xvfb did not start"

# A client that is still running when the update comes; the Updater must end it.
cat >"$work/running/Korvanta.exe" <<'EOF'
#!/bin/sh
while :; do sleep 0.2; done
EOF
chmod 0755 "$work/running/Korvanta.exe"
"$work/running/Korvanta.exe" &
running_pid=$!

# --- first start: the update run
start_updater "$updater" run
desk_find_window 60 || fatal "the Updater's window did not appear"
desk_locate_commands || fatal "the title-bar commands were not found in the window"
sleep 0.3
clicked=$(date +%s%N)
desk_click_update
wait_updater_end "update run" 20
echo "update run: the Updater ended $((($(date +%s%N) - clicked) / 1000000)) ms after the click"

if kill -0 "$running_pid" 2>/dev/null; then
  fail "the running Korvanta.exe was not ended before the download"
else
  { wait "$running_pid"; } 2>/dev/null
  running_pid=
fi

check_new_version_installed 1024
cmp -s "$install/Update.zip" "$work/www/Update.zip" ||
  fail "Update.zip was not left behind complete after the run"

# --- second start: the leftover archive goes at start-up
if [ -f "$install/Update.zip" ]; then
  start_updater "$updater" restart
  if desk_find_window 60; then
    [ -e "$install/Update.zip" ] && fail "the leftover Update.zip was not deleted at start-up"
    desk_locate_commands || fatal "the title-bar commands were not found in the restarted window"
    desk_click_exit
    if wait_for 15 updater_ended; then
      finish_updater "exit"
    else
      fail "the Updater did not end after \"Exit\""
    fi
  else
    fail "the restarted Updater's window did not appear"
  fi
fi

e2e_finish "update installed, client restarted, leftover archive removed"
