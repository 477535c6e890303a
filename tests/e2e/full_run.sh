#!/usr/bin/env bash
# One whole update run of the real Updater binary: nginx on loopback as the update server, the
# Updater in a temporary installation on its own Xvfb, "Check  Update" clicked with xdotool.
# Then a second start, which must remove the archive the first run left behind.
# Usage: full_run.sh PATH_TO_UPDATER
set -uo pipefail

updater=${1:?usage: full_run.sh PATH_TO_UPDATER}
updater=$(readlink -f "$updater")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/demo-server.sh"
. "$here/../../scripts/lib/demo-desktop.sh"

work=$(mktemp -d /tmp/korvanta-e2e.XXXXXX)
install=$work/install
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$install" "$work/www" "$work/running" "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"

updater_pid=
running_pid=
failures=0

cleanup() {
  [ -n "$updater_pid" ] && kill -KILL "$updater_pid" 2>/dev/null
  [ -n "$running_pid" ] && kill -KILL "$running_pid" 2>/dev/null
  demo_server_stop
  desk_xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# Setup that the rest cannot do without.
fatal() {
  echo "FAIL: $*" >&2
  show_logs
  exit 1
}
show_logs() {
  for log in "$work"/updater-*.log "$work/state/error.log"; do
    [ -s "$log" ] && { echo "--- $log"; tail -n 60 "$log"; } >&2
  done
}

updater_ended() { ! kill -0 "$updater_pid" 2>/dev/null; }

# start_updater NAME: starts the Updater in the installation folder, output to updater-NAME.log.
start_updater() {
  updater_log=$work/updater-$1.log
  (cd "$install" && exec env http_proxy="$DEMO_PROXY" no_proxy= NO_PROXY= "$updater") >"$updater_log" 2>&1 &
  updater_pid=$!
}

# finish_updater WHAT: reaps the ended Updater and checks that it ended cleanly.
finish_updater() {
  local status=0
  wait "$updater_pid" || status=$?
  updater_pid=
  [ "$status" -eq 0 ] || fail "$1: the Updater exited with status $status"
  if grep -qE "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:" "$updater_log"; then
    fail "$1: the Updater printed a sanitizer report"
  fi
}

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
start_updater run
desk_find_window 60 || fatal "the Updater's window did not appear"
desk_locate_commands || fatal "the title-bar commands were not found in the window"
sleep 0.3
clicked=$(date +%s%N)
desk_click_update

if wait_for 20 updater_ended; then
  echo "update run: the Updater ended $((($(date +%s%N) - clicked) / 1000000)) ms after the click"
  finish_updater "update run"
else
  fail "update run: the Updater did not end by itself within 20 s of the click"
  kill -KILL "$updater_pid" 2>/dev/null
  wait "$updater_pid" 2>/dev/null
  updater_pid=
fi

if kill -0 "$running_pid" 2>/dev/null; then
  fail "the running Korvanta.exe was not ended before the download"
else
  { wait "$running_pid"; } 2>/dev/null
  running_pid=
fi

printf '%s\r\n' "$DEMO_NEW_VERSION" | cmp -s - "$install/version.txt" ||
  fail "version.txt is not the new one: '$(head -n1 "$install/version.txt")'"
[ "$(cat "$install/maps/harbour.map" 2>/dev/null)" = $'map harbour\nsize 64 64' ] ||
  fail "the new folder's file maps/harbour.map was not installed"
[ "$(stat -c %s "$install/assets/textures.pak" 2>/dev/null)" = $((1024 * 1024)) ] ||
  fail "assets/textures.pak was not installed whole"
grep -q "Korvanta client $DEMO_NEW_VERSION" "$install/Korvanta.exe" ||
  fail "Korvanta.exe was not replaced by the new client"
[ -x "$install/Korvanta.exe" ] || fail "the new Korvanta.exe is not executable"
# The stand-in writes its line as it starts; give it a moment after the Updater ended.
wait_for 5 grep -qx "Korvanta client $DEMO_NEW_VERSION started" "$install/client-ran.log" ||
  fail "the new client was not started (client-ran.log: '$(cat "$install/client-ran.log" 2>/dev/null)')"
cmp -s "$install/Update.zip" "$work/www/Update.zip" ||
  fail "Update.zip was not left behind complete after the run"

# --- second start: the leftover archive goes at start-up
if [ -f "$install/Update.zip" ]; then
  start_updater restart
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

if [ "$failures" -ne 0 ]; then
  show_logs
  echo "end-to-end run: $failures check(s) failed" >&2
  exit 1
fi
echo "end-to-end run: update installed, client restarted, leftover archive removed"
