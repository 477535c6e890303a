# shellcheck shell=bash
# What the end-to-end scripts share: a work folder with an installation, the Updater started and
# reaped there, failures counted, logs shown. Sourced after the demo libraries; sets $work,
# $install and $XDG_RUNTIME_DIR. The caller defines nothing; it calls e2e_finish at the end.

work=$(mktemp -d /tmp/korvanta-e2e.XXXXXX)
install=$work/install
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$install" "$work/www" "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"

updater_pid=
failures=0
e2e_extra_cleanup=:

e2e_cleanup() {
  [ -n "$updater_pid" ] && kill -KILL "$updater_pid" 2>/dev/null
  $e2e_extra_cleanup
  demo_server_stop
  desk_xvfb_stop
  rm -rf "$work"
}
trap e2e_cleanup EXIT

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

# start_updater UPDATER NAME: starts the Updater in the installation folder, output to updater-NAME.log.
start_updater() {
  updater_log=$work/updater-$2.log
  (cd "$install" && exec env http_proxy="$DEMO_PROXY" no_proxy= NO_PROXY= "$1") >"$updater_log" 2>&1 &
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

# wait_updater_end WHAT SECONDS: the Updater must end by itself within SECONDS.
wait_updater_end() {
  if wait_for "$2" updater_ended; then
    finish_updater "$1"
  else
    fail "$1: the Updater did not end by itself within $2 s"
    kill -KILL "$updater_pid" 2>/dev/null
    wait "$updater_pid" 2>/dev/null
    updater_pid=
  fi
}

# The checks of an installed update of the demo's new version.
check_new_version_installed() {
  printf '%s\r\n' "$DEMO_NEW_VERSION" | cmp -s - "$install/version.txt" ||
    fail "version.txt is not the new one: '$(head -n1 "$install/version.txt")'"
  [ "$(cat "$install/maps/harbour.map" 2>/dev/null)" = $'map harbour\nsize 64 64' ] ||
    fail "the new folder's file maps/harbour.map was not installed"
  [ "$(stat -c %s "$install/assets/textures.pak" 2>/dev/null)" = $((${1:-1024} * 1024)) ] ||
    fail "assets/textures.pak was not installed whole"
  grep -q "Korvanta client $DEMO_NEW_VERSION" "$install/Korvanta.exe" ||
    fail "Korvanta.exe was not replaced by the new client"
  [ -x "$install/Korvanta.exe" ] || fail "the new Korvanta.exe is not executable"
  # The stand-in writes its line as it starts; give it a moment after the Updater ended.
  wait_for 5 grep -qx "Korvanta client $DEMO_NEW_VERSION started" "$install/client-ran.log" ||
    fail "the new client was not started (client-ran.log: '$(cat "$install/client-ran.log" 2>/dev/null)')"
}

# e2e_finish SUMMARY: the script's verdict.
e2e_finish() {
  if [ "$failures" -ne 0 ]; then
    show_logs
    echo "end-to-end run: $failures check(s) failed" >&2
    exit 1
  fi
  echo "end-to-end run: $1"
}
