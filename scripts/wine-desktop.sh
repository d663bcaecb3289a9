#!/usr/bin/env bash
# Runs a command on a real Windows desktop made of Wine and Xvfb: starts Xvfb
# on a free display and a wineserver on a Wine prefix of our own (created on
# first use, under build/), runs the command, and then stops the Xvfb and
# the wineserver it started, and nothing else.
#   usage: scripts/wine-desktop.sh COMMAND [ARG...]
# TAVIK_SCREEN sets the screen's size (1024x768 unless given).
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

# The wineservers serving our prefix, by process id (each server carries the
# WINEPREFIX it was started with).
our_wineservers() {
  local pid
  for pid in $(pgrep -f '(^|/)wineserver(64)?( |$)' 2>/dev/null); do
    tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}

if [ -n "$(our_wineservers)" ]; then
  echo "wine-desktop: a wineserver for $WINEPREFIX is already running; stop it first" >&2
  exit 1
fi

xvfb_pid=""
stop() {
  # Ask our wineserver to end (it takes the prefix's Wine processes with
  # it), then end by process id whatever of it is left, and our Xvfb.
  local servers
  servers=$(our_wineservers)
  if [ -n "$servers" ]; then
    wineserver -k 2>/dev/null || true
    for _ in $(seq 50); do
      [ -z "$(our_wineservers)" ] && break
      sleep 0.1
    done
    for pid in $(our_wineservers); do kill -KILL "$pid" 2>/dev/null || true; done
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap stop EXIT

Xvfb "$display" -screen 0 "${TAVIK_SCREEN:-1024x768}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "wine-desktop: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
export DISPLAY="$display"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-desktop: creating the Wine prefix $WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1
fi
# wineboot returns before the prefix is done; wait for its server to finish.
wineserver -w

"$@"
