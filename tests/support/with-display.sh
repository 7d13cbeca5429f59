#!/usr/bin/env bash
# Runs a command on a private virtual X display, for tests of windows.
#
#   tests/support/with-display.sh [--wm] [--size WxH] -- command args...
#
# Starts Xvfb on a display number it picks itself (-displayfd), so parallel tests never collide,
# optionally a window manager (openbox) for tests that need focus, full screen and window ownership
# handled as on a desktop, exports DISPLAY, runs the command and takes everything down again. The
# command's exit code is the script's.
set -euo pipefail

wm=0
size=1920x1080
while [ $# -gt 0 ]; do
  case "$1" in
    --wm) wm=1; shift ;;
    --size) size="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--wm] [--size WxH] -- command..." >&2; exit 2; }

command -v Xvfb >/dev/null || { echo "with-display: Xvfb is not installed (Debian package xvfb)" >&2; exit 1; }

tmp=$(mktemp -d)
cleanup() {
  [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "${x_pid:-}" ] && kill "$x_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

exec 3>"$tmp/displayfd"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset +extension XTEST >"$tmp/xvfb.log" 2>&1 &
x_pid=$!
exec 3>&-
for _ in $(seq 1 100); do
  [ -s "$tmp/displayfd" ] && break
  kill -0 "$x_pid" 2>/dev/null || { cat "$tmp/xvfb.log" >&2; exit 1; }
  sleep 0.05
done
display=":$(head -n1 "$tmp/displayfd" | tr -d '[:space:]')"
[ "$display" != ":" ] || { echo "with-display: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY="$display"
unset WAYLAND_DISPLAY SINJO_HEADLESS

if [ "$wm" = 1 ]; then
  command -v openbox >/dev/null || { echo "with-display: openbox is not installed" >&2; exit 1; }
  openbox --sm-disable >"$tmp/wm.log" 2>&1 &
  wm_pid=$!
  # The window manager is ready once it owns the screen's manager selection.
  for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
  done
fi

set +e
"$@"
rc=$?
set -e
exit $rc
