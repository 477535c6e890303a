# shellcheck shell=bash
# A private X display and a hand on the Updater's window: find it, click its title-bar commands,
# photograph it. Sourced by scripts/demo.sh and the end-to-end test; functions are prefixed desk_.

DESK_WINDOW_NAME="Korvanta Updater v0.1.1"
# Title-bar geometry of the window: bar height and the minimise button at its right end.
DESK_BAR_HEIGHT=24
DESK_MINIMISE_WIDTH=26

# desk_xvfb_start STATE: starts Xvfb on a display number it picks itself (so never a taken one)
# and exports DISPLAY. Sets DESK_XVFB_PID.
desk_xvfb_start() {
  local state=$1
  mkdir -p "$state"
  : >"$state/display"
  # -noreset: without it the server restarts whenever its last client leaves, and a client that
  # connects during that restart is refused.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$state/display" >"$state/xvfb.log" 2>&1 &
  DESK_XVFB_PID=$!
  for _ in $(seq 1 100); do
    if [ -s "$state/display" ]; then
      DISPLAY=":$(tr -d '[:space:]' <"$state/display")"
      export DISPLAY
      xdpyinfo >/dev/null 2>&1 && return 0
    fi
    kill -0 "$DESK_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start; see $state/xvfb.log" >&2
  return 1
}

desk_xvfb_stop() {
  if [ -n "${DESK_XVFB_PID:-}" ]; then
    kill "$DESK_XVFB_PID" 2>/dev/null || true
    wait "$DESK_XVFB_PID" 2>/dev/null || true
    DESK_XVFB_PID=
  fi
}

# desk_find_window [SECONDS]: waits for the Updater's window to be mapped; sets its geometry
# DESK_X, DESK_Y, DESK_W and DESK_H.
desk_find_window() {
  local timeout=${1:-15} id
  for _ in $(seq 1 $((timeout * 10))); do
    id=$(xdotool search --onlyvisible --name "^${DESK_WINDOW_NAME}\$" 2>/dev/null | head -n1 || true)
    if [ -n "$id" ]; then
      local key value
      while IFS='=' read -r key value; do
        case $key in
          X) DESK_X=$value ;;
          Y) DESK_Y=$value ;;
          WIDTH) DESK_W=$value ;;
          HEIGHT) DESK_H=$value ;;
        esac
      done < <(xdotool getwindowgeometry --shell "$id")
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# The text items sit right-aligned, "Check  Update" then "Exit", left of the minimise button. Their
# widths follow the font, so they are read off a picture of the bar: the item texts are light on a
# dark bar, and counted from the right the words are "Exit", "Update", "Check".
# Sets DESK_UPDATE_X, DESK_EXIT_X and DESK_ITEM_Y (screen coordinates).
desk_locate_commands() {
  local columns positions
  # One character per column of the bar (without its accent line): '#' where text is.
  columns=$(import -window root -crop "${DESK_W}x$((DESK_BAR_HEIGHT - 4))+${DESK_X}+$((DESK_Y + 2))" +repage png:- |
    convert png:- -colorspace Gray -threshold 50% -scale "${DESK_W}x1!" -threshold 1% txt:- |
    awk 'NR > 1 { printf "%s", ($0 ~ /gray\(255\)|#FFFFFF/) ? "#" : "." }')
  positions=$(python3 - "$columns" "$DESK_MINIMISE_WIDTH" <<'EOF'
import sys
cols, minimise = sys.argv[1], int(sys.argv[2])
cols = cols[: len(cols) - minimise]
# Letters of a word lie at most a few columns apart; words are further apart than that.
words, start, last = [], None, None
for x, c in enumerate(cols):
    if c != "#":
        continue
    if start is None or x - last > 6:
        if start is not None:
            words.append((start, last))
        start = x
    last = x
if start is not None:
    words.append((start, last))
if len(words) < 3:
    sys.exit("title-bar commands not found")
print((words[-3][0] + words[-2][1]) // 2, (words[-1][0] + words[-1][1]) // 2)
EOF
  ) || return 1
  read -r DESK_UPDATE_X DESK_EXIT_X <<<"$positions"
  DESK_UPDATE_X=$((DESK_X + DESK_UPDATE_X))
  DESK_EXIT_X=$((DESK_X + DESK_EXIT_X))
  DESK_ITEM_Y=$((DESK_Y + DESK_BAR_HEIGHT / 2))
}

desk_click() {
  xdotool mousemove --sync "$1" "$2" click 1
  # Away again, so the hover shade does not stay in the pictures.
  xdotool mousemove --sync $((DESK_X + DESK_W / 3)) $((DESK_Y + DESK_H / 2))
}

desk_click_update() { desk_click "$DESK_UPDATE_X" "$DESK_ITEM_Y"; }
desk_click_exit() { desk_click "$DESK_EXIT_X" "$DESK_ITEM_Y"; }

# desk_screenshot FILE: a picture of the window alone.
desk_screenshot() {
  import -window root -crop "${DESK_W}x${DESK_H}+${DESK_X}+${DESK_Y}" +repage "$1"
}
