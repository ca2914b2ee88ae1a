#!/usr/bin/env bash
# with-weston.sh COMMAND [ARGS...]: runs COMMAND in a private Wayland session: weston on
# its headless backend with XWayland, stopped afterwards. COMMAND finds the session in
# XDG_RUNTIME_DIR, WAYLAND_DISPLAY and XDG_SESSION_TYPE, the XWayland display in DISPLAY,
# and both again in VENDRIK_TEST_WAYLAND_DISPLAY and VENDRIK_TEST_DISPLAY (the latter makes
# the window tests run there on xcb). Weston is started with --debug, so
# weston-screenshooter can take pictures of the session.
set -euo pipefail

tmp=$(mktemp -d)
weston_pid=""
stop() {
  [ -z "$weston_pid" ] || kill "$weston_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap stop EXIT

runtime=$tmp/runtime
mkdir -m 700 "$runtime"
socket=vendrik-$$

# Weston picks a free X display number for XWayland itself and logs it; Xwayland is
# started at the first X connection, which xprop makes.
start_session() {
  : >"$tmp/weston.log"
  XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --use-pixman --xwayland \
    --width=1280 --height=1024 --socket="$socket" --debug --idle-time=0 \
    --log="$tmp/weston.log" >"$tmp/weston.out" 2>&1 &
  weston_pid=$!
  local deadline=$((SECONDS + 30))
  until [ -S "$runtime/$socket" ] && grep -q 'xserver listening on display' "$tmp/weston.log"; do
    kill -0 "$weston_pid" 2>/dev/null && ((SECONDS <= deadline)) || return 1
    sleep 0.05
  done
  display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$tmp/weston.log" | head -n1)
  until DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    kill -0 "$weston_pid" 2>/dev/null && ((SECONDS <= deadline)) || return 1
    sleep 0.1
  done
}

for attempt in 1 2 3; do
  start_session && break
  [ -z "$weston_pid" ] || kill "$weston_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  weston_pid=""
  if ((attempt == 3)); then
    echo "with-weston: could not start weston with XWayland" >&2
    cat "$tmp/weston.log" "$tmp/weston.out" >&2 2>/dev/null || true
    exit 1
  fi
done

export XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$socket XDG_SESSION_TYPE=wayland
export DISPLAY=$display VENDRIK_TEST_DISPLAY=$display VENDRIK_TEST_WAYLAND_DISPLAY=$socket
status=0
"$@" || status=$?
exit "$status"
