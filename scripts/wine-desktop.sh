#!/usr/bin/env bash
# Runs a command on a real Windows desktop made of Wine and Xvfb: starts Xvfb
# on a free display and a wineserver on a Wine prefix of our own (created on
# first use, under build/), runs the command, and then stops the Xvfb and
# the wineserver it started, and nothing else.
#   usage: scripts/wine-desktop.sh COMMAND [ARG...]
set -euo pipefail
cd "$(dirname "$0")/.."

export WINEPREFIX="${TAVIK_WINEPREFIX:-$PWD/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes its code page and keyboard layout from the locale: Japanese
# gives code page 932 and the Japanese layout.
export LANG=ja_JP.UTF-8
unset LC_ALL

display=""
for n in $(seq 90 199); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || { echo "wine-desktop: no free X display" >&2; exit 1; }

xvfb_pid=""
server_started=""
stop() {
  if [ -n "$server_started" ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap stop EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "wine-desktop: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
export DISPLAY="$display"

server_started=1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-desktop: creating the Wine prefix $WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1
fi
# wineboot returns before the prefix is done; wait for its server to finish.
wineserver -w

"$@"
