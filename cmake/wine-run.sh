#!/bin/sh
# Runs a Windows program under Wine in the private 32-bit prefix of a build folder.
#   wine-run.sh PROGRAM [ARGS...]   run it (the session is started on first use)
#   wine-run.sh --start             create the prefix, start a persistent wineserver and, when
#                                   there is no DISPLAY, an Xvfb server of our own
#   wine-run.sh --stop              end that wineserver and Xvfb
# The session lives in $VEXLOR_WINE_ROOT, or in "wine" next to the CMakeCache.txt above $PWD.
set -eu

root=${VEXLOR_WINE_ROOT:-}
if [ -z "$root" ]; then
  dir=$PWD
  while [ ! -f "$dir/CMakeCache.txt" ]; do
    [ "$dir" = / ] && { echo "wine-run: no build folder above $PWD" >&2; exit 2; }
    dir=$(dirname "$dir")
  done
  root=$dir/wine
fi
mkdir -p "$root"
root=$(cd "$root" && pwd)

export WINEPREFIX="$root/prefix" WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

xvfb_alive() {
  [ -f "$root/xvfb.pid" ] && kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null
}

start_session() {
  # The display comes first: Wine picks its graphics driver when the session's desktop
  # starts, and without one every window of the session fails to open.
  if [ -z "${DISPLAY:-}" ] && ! xvfb_alive; then
    n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$root/xvfb.log" 2>&1 9>&- &
    echo $! >"$root/xvfb.pid"
    echo ":$n" >"$root/display"
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  fi
  use_display
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >"$root/wineboot.log" 2>&1 9>&- || { cat "$root/wineboot.log" >&2; exit 1; }
    # The first boot goes on installing in the background; until it has finished, the
    # service manager refuses to start services. The server is not persistent yet, so it
    # ends when the last of those processes has.
    wineserver -w 9>&-
  fi
  # Daemons must not inherit the lock (fd 9) or the caller's output pipes, or they hold them.
  wineserver -p </dev/null >/dev/null 2>&1 9>&- || true  # already running
  # Start Wine's own services (services.exe, winedevice.exe, ...) now, detached, so that they do
  # not inherit a test's output pipe and keep CTest waiting after the test has ended.
  wineboot </dev/null >/dev/null 2>&1 9>&-
}

use_display() {
  if [ -z "${DISPLAY:-}" ] && [ -f "$root/display" ]; then
    DISPLAY=$(cat "$root/display"); export DISPLAY
  fi
}

stop_session() {
  wineserver -k 2>/dev/null || true
  if xvfb_alive; then kill "$(cat "$root/xvfb.pid")"; fi
  rm -f "$root/xvfb.pid" "$root/display"
}

case "${1:-}" in
  --start)
    exec 9>"$root/lock"; flock 9; start_session; exit 0 ;;
  --stop)
    exec 9>"$root/lock"; flock 9; stop_session; exit 0 ;;
  "")
    echo "usage: wine-run.sh PROGRAM [ARGS...] | --start | --stop" >&2; exit 2 ;;
esac

(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ] || { [ -z "${DISPLAY:-}" ] && ! xvfb_alive; }; then
    start_session
  fi
) 9>"$root/lock"
use_display
exec wine "$@"
