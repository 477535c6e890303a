#!/usr/bin/env bash
# Shows the Updater bringing a Korvanta installation from 0.2.0.0 to 0.3.0.0: builds it, lays out
# an installation under out/demo/install, serves the update from a loopback nginx and runs the
# real Updater there.
#
# With a reachable display the window opens on it and you click "Check  Update" yourself. Without
# one (or with --headless) the demo runs on a private Xvfb, clicks by itself and takes three
# screenshots into out/demo/screenshots. Exits 0 only when the update was installed and the
# client started again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

headless=0
for arg in "$@"; do
  case $arg in
    --headless) headless=1 ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $arg (try --help)" >&2; exit 2 ;;
  esac
done

step() { printf '\n== %s\n' "$*"; }

step "packages"
./scripts/setup.sh

step "publisher's key pair and build (Release, build-demo)"
# The demo publisher's keys are made once and kept, so later runs need no rebuild of the window.
keys=$root/out/demo-keys
if [ ! -f "$keys/publisher.key" ]; then
  cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANTA_BUILD_TESTS=OFF >/dev/null
  cmake --build build-demo --target korvanta-publish -j "$(nproc)"
  mkdir -p "$keys"
  build-demo/tools/korvanta-publish keygen "$keys/publisher.key" "$keys/publisher.pub"
fi
# The Updater installs only what this key signed.
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANTA_BUILD_TESTS=OFF \
  -DKORVANTA_PUBLIC_KEY="$(cat "$keys/publisher.pub")" >/dev/null
cmake --build build-demo --target Updater korvanta-publish -j "$(nproc)"

. scripts/lib/demo-server.sh
. scripts/lib/demo-desktop.sh

out=$root/out/demo
install=$out/install
www=$out/server/www
shots=$out/screenshots
rm -rf "$out"
mkdir -p "$install" "$www" "$out/server/state" "$shots"
# Qt wants a private runtime folder; a bare root shell has none.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$out/runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"

updater_pid=
cleanup() {
  if [ -n "$updater_pid" ]; then kill "$updater_pid" 2>/dev/null || true; fi
  demo_server_stop
  desk_xvfb_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "installation and update server"
demo_layout_install "$install"
cp build-demo/app/Updater "$install/Updater"
# 3 MiB at 1 MiB/s: the download lasts long enough to be watched.
demo_publish_update build-demo/tools/korvanta-publish "$keys/publisher.key" "$www" 3072
demo_server_start "$www" "$out/server/state" 1m
archive_size=$(stat -c %s "$www/Update.zip")
echo "installation:  $install"
echo "update server: nginx on $DEMO_PROXY answering for http://$DEMO_HOST/ (Update.zip: $archive_size bytes, signed)"

version_before=$(head -n1 "$install/version.txt" | tr -d '\r')

# Started the way a user starts it: from the installation folder; the server stands in as proxy.
start_updater() {
  (cd "$install" && exec env http_proxy="$DEMO_PROXY" no_proxy= NO_PROXY= ./Updater) \
    >"$out/updater.log" 2>&1 &
  updater_pid=$!
}

download_under_way() {
  local size
  size=$(stat -c %s "$install/Update.zip" 2>/dev/null || echo 0)
  [ "$size" -ge $((archive_size * 2 / 5)) ]
}
client_restarted() { grep -qs "Korvanta client $DEMO_NEW_VERSION started" "$install/client-ran.log"; }
updater_ended() { ! kill -0 "$updater_pid" 2>/dev/null; }

if [ "$headless" -eq 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  step "Updater on $DISPLAY"
  echo "Click \"Check  Update\" in the window's title bar; it installs the update and closes itself."
  start_updater
  wait "$updater_pid" || true
  updater_pid=
  shot_note="none (run with --headless for them)"
else
  step "Updater on a private display"
  desk_xvfb_start "$out/xvfb"
  echo "Xvfb on $DISPLAY"
  start_updater
  desk_find_window 20 || { echo "demo: the Updater's window did not appear; see $out/updater.log" >&2; exit 1; }
  sleep 0.5  # first paint
  desk_screenshot "$shots/1-before.png"
  desk_locate_commands || { echo "demo: title-bar commands not found in the window" >&2; exit 1; }
  echo "clicking \"Check  Update\" at $DESK_UPDATE_X,$DESK_ITEM_Y"
  click_time=$SECONDS
  desk_click_update
  if wait_for 20 download_under_way; then
    desk_screenshot "$shots/2-downloading.png"
    echo "downloading after $((SECONDS - click_time)) s"
  else
    echo "demo: no download under way 20 s after the click" >&2
  fi
  # The client starts right after the status line reads "Update done, ..."; the Updater then
  # pauses 4 seconds before it ends, time enough for the picture.
  if wait_for 30 client_restarted; then
    sleep 0.3
    desk_screenshot "$shots/3-after.png"
    echo "installed and client started after $((SECONDS - click_time)) s"
  fi
  wait_for 20 updater_ended || echo "demo: the Updater did not end by itself" >&2
  echo "Updater ended $((SECONDS - click_time)) s after the click"
  shot_note=$shots
fi
if updater_ended; then updater_pid=; fi

version_after=$(head -n1 "$install/version.txt" | tr -d '\r')
step "outcome"
echo "installed version before: $version_before"
echo "installed version after:  $version_after"
if client_restarted; then
  echo "client restarted:         yes, client-ran.log: $(tail -n1 "$install/client-ran.log")"
else
  echo "client restarted:         no"
fi
echo "screenshots:              $shot_note"
echo "files in the installation:"
(cd "$install" && find . -type f -printf '  %M %9s  %P\n' | sort -k3)

if [ "$version_after" = "$DEMO_NEW_VERSION" ] && client_restarted; then
  echo "demo: update installed and client started"
else
  echo "demo: FAILED (Updater output in $out/updater.log)" >&2
  exit 1
fi
