#!/usr/bin/env bash
# with-wm.sh COMMAND [ARGS...]: runs COMMAND on a private Xvfb display managed by openbox,
# a window manager that follows the EWMH, and stops both afterwards. COMMAND finds the
# display in DISPLAY and in VENDRIK_TEST_DISPLAY; the latter makes the window tests run
# there on the xcb platform instead of offscreen. VENDRIK_SCREEN sets the screen's size in
# device pixels (default 1280x1024); a scaled pass needs room for the windows' places
# (2560x2048 at 200 %), or the manager pulls them back onto the screen.
set -euo pipefail

tmp=$(mktemp -d)
xvfb_pid=""
wm_pid=""
stop() {
  [ -z "$wm_pid" ] || kill "$wm_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap stop EXIT

# The manager is ready once the root window names its check window and that window
# names itself too (EWMH _NET_SUPPORTING_WM_CHECK); only then does it manage new windows.
wm_ready() {
  local check
  check=$(DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null |
    sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
  [ -n "$check" ] &&
    DISPLAY=$display xprop -id "$check" _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "$check"
}

# Starts Xvfb, which picks a free display number itself and writes it once it accepts
# connections, and openbox on it; fails if either does not come up.
start_display() {
  : >"$tmp/display"
  Xvfb -displayfd 3 -screen 0 "${VENDRIK_SCREEN:-1280x1024}x24" -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
  xvfb_pid=$!
  local deadline=$((SECONDS + 20))
  until grep -q '^[0-9]' "$tmp/display" 2>/dev/null; do
    kill -0 "$xvfb_pid" 2>/dev/null && ((SECONDS <= deadline)) || return 1
    sleep 0.05
  done
  display=":$(head -n1 "$tmp/display")"
  DISPLAY=$display openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
  wm_pid=$!
  until wm_ready; do
    kill -0 "$wm_pid" 2>/dev/null && ((SECONDS <= deadline)) || return 1
    sleep 0.05
  done
}

# Other X servers starting at the same moment can race for a display number: try again.
for attempt in 1 2 3; do
  start_display && break
  [ -z "$wm_pid" ] || kill "$wm_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  wm_pid="" xvfb_pid=""
  if ((attempt == 3)); then
    echo "with-wm: could not start Xvfb with openbox" >&2
    cat "$tmp/xvfb.log" "$tmp/openbox.log" >&2 2>/dev/null || true
    exit 1
  fi
done

export DISPLAY=$display VENDRIK_TEST_DISPLAY=$display
status=0
"$@" || status=$?
exit "$status"
