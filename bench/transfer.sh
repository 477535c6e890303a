#!/usr/bin/env bash
# The component's file-mode download of a 256 MiB file over loopback beside `curl -o` on the same
# file from the same nginx, in the same run: wall time, CPU time and peak resident memory.
#   bench/transfer.sh [size in MiB, default 256] [runs, default 3]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
size_mib=${1:-256}
runs=${2:-3}

./scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANTA_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target korvanta_transfer_bench >/dev/null

work=$(mktemp -d)
trap 'if [ -f "$work/nginx.pid" ]; then kill "$(cat "$work/nginx.pid")" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
chmod 755 "$work"  # nginx workers run as an unprivileged user
mkdir -p "$work/www" "$work/run"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/www/big.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/www/webupdate.htm" <<HTML
<META NAME="mxProduct" CONTENT="Bench">
<META NAME="mxVersion" CONTENT="1.0">
<META NAME="mxClientSideName" CONTENT="big.bin">
<META NAME="mxDownload" CONTENT="http://127.0.0.1:$port/big.bin">
HTML
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/run; proxy_temp_path $work/run; fastcgi_temp_path $work/run;
  uwsgi_temp_path $work/run; scgi_temp_path $work/run;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work"
sleep 0.3

measure() {  # prints "wall cpu maxrss_kib" of a command
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1
  awk '{printf "%.3f %.3f %d\n", $1, $2 + $3, $4}' "$work/time"
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

cd "$work/run"
for i in $(seq "$runs"); do
  "$root/build-bench/bench/korvanta_transfer_bench" "http://127.0.0.1:$port/webupdate.htm" "$port" |
    sed -E 's/.*wall=([0-9.]+) cpu=([0-9.]+) maxrss_kib=([0-9]+).*/\1 \2 \3/' >> "$work/component"
  cmp -s big.bin "$work/www/big.bin" || { echo "downloaded file differs" >&2; exit 1; }
  rm -f big.bin
  measure curl -s -o "$work/run/curl.bin" "http://127.0.0.1:$port/big.bin" >> "$work/curl"
  rm -f curl.bin
done

printf '\nFile-mode download of %d MiB over loopback, median of %d runs\n' "$size_mib" "$runs"
printf '%-22s %10s %10s %14s\n' "" "wall s" "CPU s" "peak RSS MiB"
for tool in component curl; do
  w=$(cut -d' ' -f1 "$work/$tool" | median); c=$(cut -d' ' -f2 "$work/$tool" | median)
  m=$(cut -d' ' -f3 "$work/$tool" | median)
  printf '%-22s %10s %10s %14.1f\n' "$([ $tool = component ] && echo 'TmxWebUpdate' || echo 'curl -o')" "$w" "$c" "$(echo "$m / 1024" | bc -l)"
done
cw=$(cut -d' ' -f1 "$work/component" | median); uw=$(cut -d' ' -f1 "$work/curl" | median)
printf 'wall ratio component / curl: %.2f\n' "$(echo "$cw / $uw" | bc -l)"
