#!/usr/bin/env bash
# The performance bench: the Updater's download, extraction, whole update run, responsiveness and
# start-up, each measured beside the tools a user would pick instead, in one run, and printed as
# one table (medians; the contenders take turns within every repetition so machine noise meets
# all of them alike).
#   bench/run.sh           full run: 16/64/256 MiB downloads, a 256 MiB archive of 2000 files, 5 runs
#   bench/run.sh --quick   for iteration: 16/64 MiB, a 64 MiB archive of 500 files, 3 runs
# Never part of the test suite: it measures time, it tests nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sizes=(16 64 256)
archive_mib=256
archive_files=2000
runs=5
if [ "${1:-}" = "--quick" ]; then
  sizes=(16 64)
  archive_mib=64
  archive_files=500
  runs=3
fi

./scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANTA_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target korvanta_window_bench korvanta_minimal_window korvanta_launch \
  korvanta_empty_qt korvanta_empty_updater_libs >/dev/null
bin=$root/build-bench/bench

work=$(mktemp -d)
cleanup() {
  if [ -f "$work/nginx.pid" ]; then kill "$(cat "$work/nginx.pid")" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"  # nginx workers run as an unprivileged user
mkdir -p "$work/www" "$work/tmp" "$work/results" "$work/dl" "$work/start"
export QT_QPA_PLATFORM=offscreen no_proxy=127.0.0.1
export XDG_RUNTIME_DIR=$work/tmp

echo "Preparing data in $work ..."
for s in "${sizes[@]}"; do head -c "$((s * 1024 * 1024))" /dev/urandom > "$work/www/f$s.bin"; done
python3 bench/make_data.py "$work/tree" "$archive_mib" "$archive_files" > "$work/results/data.txt"
(cd "$work/tree" && zip -q -r "$work/www/Update.zip" .)
# The installations the extractors write over: the same files as in the archive.
for d in extract run script; do cp -a "$work/tree" "$work/inst-$d"; done
for d in dl start inst-extract inst-run; do echo "0.1" > "$work/$d/version.txt"; done

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"
page() {  # name, client-side file name, download path
  cat > "$work/www/$1" <<HTML
<HTML>
<META NAME="mxProductName" CONTENT="Korvanta">
<META NAME="mxVersion" CONTENT="2.0">
<META NAME="mxAuthor" CONTENT="Bench">
<META NAME="mxClientSideName" CONTENT="$2">
<META NAME="mxDownload" CONTENT="$base/$3">
</HTML>
HTML
}
for s in "${sizes[@]}"; do page "page$s.htm" "f$s.bin" "f$s.bin"; done
page "webupdate.htm" "Update.zip" "Update.zip"
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work"
for _ in $(seq 50); do curl -s -o /dev/null "$base/page16.htm" && break; sleep 0.1; done

# measure NAME command...: appends "wall cpu maxrss_kib" of the command to results/NAME; a
# command's own key=value line (the bench program's) goes to results/NAME.out.
measure() {
  local name=$1
  shift
  # Wall time from the shell's microsecond clock (time's own is in hundredths); CPU time and peak
  # resident memory from time.
  # Written data of the contender before (or of the data preparation) goes to disk first: a file
  # still under write-back makes replacing it wait, and that wait belongs to no one here.
  sync
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" > "$work/out" 2> "$work/err" || {
    echo "FAILED: $*" >&2
    cat "$work/err" >&2
    exit 1
  }
  local stop=$EPOCHREALTIME
  awk -v a="$start" -v b="$stop" '{printf "%.3f %.2f %d\n", b - a, $1 + $2, $3}' "$work/time" >> "$work/results/$name"
  grep -h '^ok ' "$work/out" >> "$work/results/$name.out" || true
}
same() { cmp -s "$1" "$2" || { echo "FAILED: $1 differs from $2" >&2; exit 1; }; }

for rep in $(seq "$runs"); do
  echo "Repetition $rep of $runs ..."
  for s in "${sizes[@]}"; do
    cd "$work/dl"
    measure "dl-updater-$s" "$bin/korvanta_window_bench" download "$base/page$s.htm" "$port"
    same "f$s.bin" "$work/www/f$s.bin"
    rm -f "f$s.bin"
    measure "dl-curl-$s" curl -s -o curl.bin "$base/f$s.bin"
    same curl.bin "$work/www/f$s.bin"
    rm -f curl.bin
    measure "dl-wget-$s" wget -q -O wget.bin "$base/f$s.bin"
    same wget.bin "$work/www/f$s.bin"
    rm -f wget.bin
  done

  cd "$work/inst-extract"
  measure ex-updater "$bin/korvanta_window_bench" extract "$work/www/Update.zip"
  measure ex-unzip unzip -o -q "$work/www/Update.zip"
  measure ex-bsdtar bsdtar -xf "$work/www/Update.zip"

  cd "$work/inst-run"
  measure run-updater "$bin/korvanta_window_bench" run "$base/webupdate.htm" "$port"
  same Update.zip "$work/www/Update.zip"
  cd "$work/inst-script"
  rm -f Update.zip
  measure run-script bash -c "curl -s -o Update.zip '$base/Update.zip' && unzip -o -q Update.zip"

  cd "$work/start"
  measure start-updater "$bin/korvanta_launch" "$bin/korvanta_window_bench" startup
  measure start-minimal "$bin/korvanta_launch" "$bin/korvanta_minimal_window"
  measure start-label "$bin/korvanta_launch" "$bin/korvanta_minimal_window" label
  measure start-empty-qt "$bin/korvanta_launch" "$bin/korvanta_empty_qt"
  measure start-empty-libs "$bin/korvanta_launch" "$bin/korvanta_empty_updater_libs"
done
diff -r -q -x version.txt -x Update.zip "$work/tree" "$work/inst-run" >/dev/null ||
  { echo "FAILED: the installation differs from the archive after the update run" >&2; exit 1; }

# Figures: column N of results/NAME (1 wall, 2 CPU, 3 peak RSS KiB), or key K of results/NAME.out.
col() { cut -d' ' -f"$2" "$work/results/$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
key() { sed -E "s/.* $2=([-0-9.]+).*/\1/" "$work/results/$1.out" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
keymax() { sed -E "s/.* $2=([-0-9.]+).*/\1/" "$work/results/$1.out" | sort -n | tail -1; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }
row() { printf '%-40s %9s %9s %9s %s\n' "$@"; }

echo
echo "Korvanta Updater bench: medians of $runs runs; ratio = wall / wall of the first reference"
echo "($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r), Debian $(cat /etc/debian_version))"
echo "archive: $(cat "$work/results/data.txt"), $(stat -c %s "$work/www/Update.zip") bytes zipped"
echo
row "" "wall s" "CPU s" "RSS MiB" "ratio"
echo "1. file-mode download over loopback (Updater: whole process, the window's bar wired)"
for s in "${sizes[@]}"; do
  u=$(col "dl-updater-$s" 1); c=$(col "dl-curl-$s" 1); w=$(col "dl-wget-$s" 1)
  row "   $s MiB  Updater window" "$u" "$(col "dl-updater-$s" 2)" "$(mib "$(col "dl-updater-$s" 3)")" \
    "$(ratio "$u" "$c") x curl, $(ratio "$u" "$w") x wget"
  row "   $s MiB    its download phase alone" "$(key "dl-updater-$s" download)" "" "" \
    "$(ratio "$(key "dl-updater-$s" download)" "$c") x curl"
  row "   $s MiB  curl -s -o" "$c" "$(col "dl-curl-$s" 2)" "$(mib "$(col "dl-curl-$s" 3)")" ""
  row "   $s MiB  wget -q -O" "$w" "$(col "dl-wget-$s" 2)" "$(mib "$(col "dl-wget-$s" 3)")" ""
done
first=${sizes[0]}; last=${sizes[${#sizes[@]}-1]}
printf '   OnDownload events for %s MiB: %s (blocks of at most 1025 bytes)\n' "$last" "$(key "dl-updater-$last" blocks)"
for t in updater curl wget; do
  printf '   peak RSS growth %s -> %s MiB, %-8s %s MiB\n' "$first" "$last" "$t:" \
    "$(mib "$(( $(col "dl-$t-$last" 3) - $(col "dl-$t-$first" 3) ))")"
done
echo "2. extraction over the installation (${archive_mib} MiB, ${archive_files} files)"
e=$(col ex-unzip 1)
row "   Updater's extractor (atomic)" "$(col ex-updater 1)" "$(col ex-updater 2)" "$(mib "$(col ex-updater 3)")" "$(ratio "$(col ex-updater 1)" "$e") x unzip"
row "   unzip -o -q" "$e" "$(col ex-unzip 2)" "$(mib "$(col ex-unzip 3)")" ""
row "   bsdtar -xf" "$(col ex-bsdtar 1)" "$(col ex-bsdtar 2)" "$(mib "$(col ex-bsdtar 3)")" "$(ratio "$(col ex-bsdtar 1)" "$e") x unzip"
echo "3. whole update run: page, download, extraction (pause and relaunch left out)"
r=$(col run-script 1)
row "   Updater window" "$(col run-updater 1)" "$(col run-updater 2)" "$(mib "$(col run-updater 3)")" "$(ratio "$(col run-updater 1)" "$r") x script"
row "   script: curl -o, then unzip -o" "$r" "$(col run-script 2)" "$(mib "$(col run-script 3)")" ""
echo "4. responsiveness: largest lateness of a 10 ms timer in the window, ms (worst of $runs runs)"
row "   during the ${last} MiB download" "$(keymax "dl-updater-$last" late_download_ms)" "" "" "median $(key "dl-updater-$last" late_download_ms)"
row "   during the extraction" "$(keymax ex-updater late_extract_ms)" "" "" "median $(key ex-updater late_extract_ms)"
row "   during the whole run's download" "$(keymax run-updater late_download_ms)" "" "" "median $(key run-updater late_download_ms)"
row "   during the whole run's extraction" "$(keymax run-updater late_extract_ms)" "" "" "median $(key run-updater late_extract_ms)"
echo "5. start-up: exec to window exposed, ms"
sm=$(key start-minimal startup_ms)
row "   Updater window" "$(key start-updater startup_ms)" "" "" "$(ratio "$(key start-updater startup_ms)" "$sm") x minimal"
row "     exec to main (libraries)" "$(key start-updater main_ms)" "" "" "minimal: $(key start-minimal main_ms)"
row "     window created (incl. fonts)" "$(key start-updater window_ms)" "" "" "minimal: $(key start-minimal window_ms)"
row "   minimal Qt window" "$sm" "" "" ""
row "   minimal Qt window with one label" "$(key start-label startup_ms)" "" "" "$(ratio "$(key start-label startup_ms)" "$sm") x minimal"
row "   empty program: exec to main with" "" "" "" ""
row "     Qt Widgets' libraries" "$(key start-empty-qt main_ms)" "" "" ""
row "     the Updater's libraries" "$(key start-empty-libs main_ms)" "" "" ""
