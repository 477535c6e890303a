#!/usr/bin/env bash
# The demo: a real update run of the real Updater against the built-in demo update server.
# Lays out a demo installation (version 0.2.0.0 and a stand-in client) and an nginx update server on
# loopback under out/demo/, points the system proxy at it and starts the Updater there. With a
# display the user clicks "Check  Update"; without one (or with --headless) it runs under Xvfb,
# clicks itself, saves screenshots and prints the outcome.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/lib/demo-server.sh
. scripts/lib/demo-desktop.sh

headless=0
[ "${1:-}" = "--headless" ] && headless=1
[ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 || headless=1

./scripts/setup.sh
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANTA_BUILD_TESTS=OFF >/dev/null
cmake --build build-demo --target Updater
updater="$root/build-demo/app/Updater"

demo="$root/out/demo"
rm -rf "$demo"
mkdir -p "$demo/install" "$demo/www" "$demo/state" "$demo/screenshots"
demo_layout_install "$demo/install"
demo_build_update "$demo/www" 3072
demo_write_page "$demo/www"

updater_pid=
cleanup() {
  [ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null || true
  demo_server_stop
  desk_xvfb_stop
}
trap cleanup EXIT

# Slow enough that the progress bar can be seen moving.
demo_server_start "$demo/www" "$demo/state" "1m"
before=$(head -n 1 "$demo/install/version.txt" | tr -d '\r')
echo "Demo update server: nginx on $DEMO_PROXY for http://$DEMO_HOST"
echo "Installed version before the run: $before"

[ "$headless" -eq 1 ] && desk_xvfb_start "$demo/state"
(cd "$demo/install" && exec env http_proxy="$DEMO_PROXY" no_proxy= "$updater") &
updater_pid=$!

if [ "$headless" -eq 0 ]; then
  echo "Pick \"Check  Update\" in the Updater's title bar; it ends by itself after the update."
  wait "$updater_pid" || true
  updater_pid=
else
  desk_find_window 20
  sleep 0.5
  desk_screenshot "$demo/screenshots/1-before.png"
  desk_locate_commands
  desk_click_update
  # The download is rate-limited: take the picture while the bar moves.
  sleep 1.5
  desk_screenshot "$demo/screenshots/2-downloading.png"
  for _ in $(seq 1 300); do
    grep -q "$DEMO_NEW_VERSION" "$demo/install/client-ran.log" 2>/dev/null && break
    sleep 0.1
  done
  sleep 0.5
  desk_screenshot "$demo/screenshots/3-after.png"
  for _ in $(seq 1 150); do
    kill -0 "$updater_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$updater_pid" 2>/dev/null; then
    echo "The Updater did not end by itself." >&2
    exit 1
  fi
  wait "$updater_pid" || true
  updater_pid=
  cp "$demo/screenshots/1-before.png" docs/images/demo-1-before.png
  cp "$demo/screenshots/2-downloading.png" docs/images/demo-2-downloading.png
  cp "$demo/screenshots/3-after.png" docs/images/demo-3-after.png
fi

after=$(head -n 1 "$demo/install/version.txt" | tr -d '\r')
echo "Installed version after the run: $after"
if grep -q "$DEMO_NEW_VERSION" "$demo/install/client-ran.log" 2>/dev/null; then
  echo "Client restarted: $(tail -n 1 "$demo/install/client-ran.log")"
else
  echo "Client restarted: no"
fi
echo "Files in the installation:"
(cd "$demo/install" && find . -type f ! -name '.*' | sort | sed 's/^/  /')
[ "$headless" -eq 1 ] && echo "Screenshots: $demo/screenshots"
[ "$after" = "$DEMO_NEW_VERSION" ] && grep -q "$DEMO_NEW_VERSION" "$demo/install/client-ran.log"
