# shellcheck shell=bash
# Demo installation, update archive and a loopback update server on nginx.
# Sourced by scripts/demo.sh and the end-to-end test; every function is prefixed demo_.
#
# The Updater asks for http://updates.korvanta.example/...; pointing http_proxy at the nginx
# started here makes libcurl send absolute-URI requests to it, and nginx answers them from the
# server block of that host name. Nothing leaves the loopback interface.

DEMO_HOST=updates.korvanta.example
DEMO_OLD_VERSION=0.2.0.0
DEMO_NEW_VERSION=0.3.0.0

# wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# A TCP port on 127.0.0.1 that nothing listens on right now.
demo_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# demo_write_client FILE VERSION: a stand-in for the game client. It notes that it was started and
# ends at once, so the updater's ending of running clients has nothing left to kill.
demo_write_client() {
  local file=$1 version=$2
  cat >"$file" <<EOF
#!/bin/sh
# Stand-in for the Korvanta client $version.
cd "\$(dirname "\$0")" && echo "Korvanta client $version started" >>client-ran.log
EOF
  chmod 0755 "$file"
}

# demo_layout_install DIR: an installation of the old version, as a user would have it.
demo_layout_install() {
  local dir=$1
  mkdir -p "$dir/data"
  printf '%s\r\n' "$DEMO_OLD_VERSION" >"$dir/version.txt"
  demo_write_client "$dir/Korvanta.exe" "$DEMO_OLD_VERSION"
  printf 'Korvanta %s\n' "$DEMO_OLD_VERSION" >"$dir/readme.txt"
  printf '[video]\nwidth=1024\nheight=768\n' >"$dir/data/config.ini"
}

# demo_stage_update DIR PADDING_KIB: DIR holds the new version's files as they are to be installed.
# The padding file is random, so it does not compress and the download takes as long as its size says.
demo_stage_update() {
  local stage=$1 padding_kib=$2
  rm -rf "$stage"
  mkdir -p "$stage/maps" "$stage/assets"
  printf '%s\r\n' "$DEMO_NEW_VERSION" >"$stage/version.txt"
  demo_write_client "$stage/Korvanta.exe" "$DEMO_NEW_VERSION"
  printf 'Korvanta %s\nNew: the harbour map.\n' "$DEMO_NEW_VERSION" >"$stage/readme.txt"
  printf 'map harbour\nsize 64 64\n' >"$stage/maps/harbour.map"
  head -c "$((padding_kib * 1024))" /dev/urandom >"$stage/assets/textures.pak"
}

# demo_build_update DIR PADDING_KIB: DIR/Update.zip holding the new version, unsigned.
demo_build_update() {
  local dir=$1 padding_kib=$2
  local stage="$dir/stage"
  rm -f "$dir/Update.zip"
  demo_stage_update "$stage" "$padding_kib"
  # zip keeps the Unix modes, so the new client stays executable once extracted.
  (cd "$stage" && zip -q -r -X ../Update.zip .)
  rm -rf "$stage"
}

# demo_publish_update PUBLISH_TOOL SECRET_KEY DIR PADDING_KIB: the signed Update.zip and its page
# in DIR, made by the publisher's tool as a publisher would.
demo_publish_update() {
  local tool=$1 key=$2 dir=$3 padding_kib=$4
  local stage
  stage=$(mktemp -d)
  demo_stage_update "$stage" "$padding_kib"
  printf '<P>Korvanta %s brings the harbour map.</P>\n' "$DEMO_NEW_VERSION" >"$stage.notes.htm"
  "$tool" publish --key "$key" --folder "$stage" --version "$DEMO_NEW_VERSION" \
    --url "http://$DEMO_HOST/Update.zip" --out "$dir" --author "The Korvanta Team" \
    --email "New map: the harbour" --notes "$stage.notes.htm"
  local status=$?
  rm -rf "$stage" "$stage.notes.htm"
  return "$status"
}

# demo_write_page DIR: the information page that publishes the new version.
demo_write_page() {
  local dir=$1
  cat >"$dir/webupdate.htm" <<EOF
<HTML>
<HEAD>
<TITLE>Korvanta update</TITLE>
<META NAME="mxProductName" CONTENT="Korvanta">
<META NAME="mxVersion" CONTENT="$DEMO_NEW_VERSION">
<META NAME="mxDownload" CONTENT="http://$DEMO_HOST/Update.zip">
<META NAME="mxClientSideName" CONTENT="Update.zip">
<META NAME="mxAuthor" CONTENT="The Korvanta Team">
<META NAME="mxEmail" CONTENT="New map: the harbour">
</HEAD>
<BODY>
<P>Korvanta $DEMO_NEW_VERSION brings the harbour map.</P>
</BODY>
</HTML>
EOF
}

# demo_server_start WWW STATE [RATE]: serves WWW for the update host on a free loopback port.
# STATE holds nginx's configuration, pid, logs and temp folders. RATE (for example "1m", bytes per
# second per connection) slows the archive down; empty means no limit.
# Sets DEMO_SERVER_PORT, DEMO_SERVER_PID and DEMO_PROXY (the value for http_proxy).
# shellcheck disable=SC2034  # DEMO_PROXY is for the caller
demo_server_start() {
  local www=$1 state=$2 rate=${3:-}
  local user_line="" limit_line=""
  mkdir -p "$state/temp"
  # As root nginx would hand its workers to "nobody", who cannot read a private temp folder.
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  [ -n "$rate" ] && limit_line="limit_rate $rate;"

  for _ in 1 2 3 4 5; do
    DEMO_SERVER_PORT=$(demo_free_port)
    cat >"$state/nginx.conf" <<EOF
$user_line
daemon off;
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log warn;
events { worker_connections 64; }
http {
  types { text/html htm html; application/zip zip; }
  default_type application/octet-stream;
  access_log $state/access.log;
  client_body_temp_path $state/temp/body;
  proxy_temp_path $state/temp/proxy;
  fastcgi_temp_path $state/temp/fastcgi;
  uwsgi_temp_path $state/temp/uwsgi;
  scgi_temp_path $state/temp/scgi;
  server {
    listen 127.0.0.1:$DEMO_SERVER_PORT;
    server_name $DEMO_HOST;
    root $www;
    location = /Update.zip { $limit_line }
  }
}
EOF
    nginx -e "$state/error.log" -p "$state" -c "$state/nginx.conf" >>"$state/nginx.out" 2>&1 &
    DEMO_SERVER_PID=$!
    # Ready once it answers; gone when another program took the port in the meantime.
    for _ in $(seq 1 50); do
      if ! kill -0 "$DEMO_SERVER_PID" 2>/dev/null; then break; fi
      if curl -fsS -o /dev/null --noproxy '*' -H "Host: $DEMO_HOST" \
          "http://127.0.0.1:$DEMO_SERVER_PORT/webupdate.htm" 2>/dev/null; then
        DEMO_PROXY="http://127.0.0.1:$DEMO_SERVER_PORT"
        return 0
      fi
      sleep 0.1
    done
    demo_server_stop
  done
  echo "demo server: nginx did not start; see $state/error.log" >&2
  cat "$state/error.log" "$state/nginx.out" >&2 2>/dev/null || true
  return 1
}

demo_server_stop() {
  if [ -n "${DEMO_SERVER_PID:-}" ]; then
    kill "$DEMO_SERVER_PID" 2>/dev/null || true
    wait "$DEMO_SERVER_PID" 2>/dev/null || true
    DEMO_SERVER_PID=
  fi
}
