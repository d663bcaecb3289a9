#!/usr/bin/env bash
# Photographs tavik.exe's tray menu (running, paused, recording), settings dialog and
# About box on the Wine desktop, for the README: docs/images/tray-menu.png,
# tray-menu-paused.png, tray-menu-recording.png, settings.png and about.png, each cropped to its
# window, then the two dialogs once more at 144 dots per inch (150 %) as
# settings-144dpi.png and about-144dpi.png; and the icon, running and
# paused, as icon.png and icon-paused.png. A developer's tool, not a test.
# Then the installer's pages: installer-welcome.png, -components, -directory
# and -finish.
# With the 32-bit build there (build/windows32), tavik runs with its helper,
# as on 64-bit Windows, and the About box has no missing-helper line.
#
# The dialogs ask for the font "ＭＳ Ｐゴシック", which Wine does not have;
# the IPA P Gothic font stands in for it (and for the menu's font), through
# Wine's font replacements, in a Wine prefix of this script's own so that
# the tests' prefix stays as it is.
#   usage: scripts/screenshots.sh   (builds what is missing of the Windows build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows

if [ "${1:-}" != "--on-desktop" ]; then
  # ImageMagick for the pictures, the IPA font for the Japanese texts, Wine's
  # own fonts for the title bars' buttons (Marlett), xdotool to find the
  # installer's window and press its buttons, NSIS to make the installer.
  bash scripts/install-packages.sh imagemagick fonts-ipafont-gothic fonts-wine xdotool nsis

  cmake --preset windows >/dev/null
  cmake --build "$build" -j2 --target tavik tavikhook tavik-shots tavik-setup
  # The icon, drawn larger with hard edges, as it looks in the tray.
  icons=$(mktemp -d)
  for variant in "" --paused; do
    python3 tray/win32/make_icon.py "$icons/icon.ico" $variant --png "$icons/icon"
    convert "$icons/icon-32.png" -filter point -resize 64x64 -strip "docs/images/icon${variant:+-paused}.png"
  done
  rm -rf "$icons"

  export TAVIK_WINEPREFIX="${TAVIK_WINEPREFIX:-$PWD/build/wineprefix-shots}"
  # Room for the settings dialog at 144 dots per inch.
  export TAVIK_SCREEN="${TAVIK_SCREEN:-1280x1024}"
  exec scripts/wine-desktop.sh bash scripts/screenshots.sh --on-desktop
fi

# From here on: on the Wine desktop that scripts/wine-desktop.sh made.

# ImageMagick's own programs: a convert earlier on the PATH may be another.
import=$(command -v import-im6.q16 || command -v import)
convert=$(command -v convert-im6.q16 || command -v convert)

font=$(fc-list ':family=IPAPGothic' family | head -n 1 | cut -d, -f1)
[ -n "$font" ] || { echo "screenshots: the IPA P Gothic font is not installed" >&2; exit 1; }
for face in "ＭＳ Ｐゴシック" "MS UI Gothic"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "$font" /f >/dev/null 2>&1
done
# With no window manager on the desktop, Wine draws the title bars itself
# only when it is told that nobody else decorates its windows.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
# Their buttons take their symbols from Marlett; without a copy among the
# prefix's fonts the close button shows the letter "r" (with it, under
# Wine 8 on Xvfb, the button stays blank).
marlett=/usr/share/wine/fonts/marlett.ttf
[ -f "$marlett" ] && cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/tavik.exe" "$build/tavikhook.dll" "$work/"
for helper in tavik32.exe tavikhook32.dll; do
  [ -f "build/windows32/$helper" ] && cp "build/windows32/$helper" "$work/"
done

# Its answer goes through a file: tavik.exe, started by it, inherits its
# standard output and would keep a pipe open for as long as it runs.
shots() {
  wine "$build/tavik-shots.exe" "$@" >"$work/answer"
  tr -d '\r' <"$work/answer"
}

mkdir -p docs/images
# Photographs the desktop and keeps the rectangle "left top width height".
photograph() {
  local name=$1 left top width height
  read -r left top width height <<<"$2"
  "$import" -window root "$work/desktop.png"
  "$convert" "$work/desktop.png" -crop "${width}x${height}+${left}+${top}" +repage -strip "docs/images/$name.png"
  echo "docs/images/$name.png: ${width}x${height} at ${left},${top}"
}

# Wine reads the dots per inch when a program starts: each setting gets a
# tavik of its own.
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

set_dpi 96
pid=$(shots start "Z:$work")
# The menu opens at the cursor: somewhere in the middle of the screen.
photograph tray-menu "$(shots menu "$pid")"
shots close "$pid"
shots pause "$pid"
photograph tray-menu-paused "$(shots menu "$pid")"
shots close "$pid"
shots pause "$pid"
shots record "$pid"
photograph tray-menu-recording "$(shots menu "$pid")"
shots close "$pid"
shots record "$pid"
photograph settings "$(shots settings "$pid")"
shots close "$pid"
photograph about "$(shots about "$pid")"
shots close "$pid"
shots quit "$pid"

# The first tavik ends by itself once told (its helper first); the next
# waits for it, or would find itself a second copy and end.
for _ in $(seq 30); do
  pgrep -f "$(basename "$work").tavik(32)?\.exe" >/dev/null || break
  sleep 1
done
set_dpi 144
pid=$(shots start "Z:$work")
photograph settings-144dpi "$(shots settings "$pid")"
shots close "$pid"
photograph about-144dpi "$(shots about "$pid")"
shots close "$pid"
shots quit "$pid"
set_dpi 96

# The installer's pages, each left by a click on the button at its lower
# right (次へ, then インストール): the desktop has no window manager to give
# the window the keyboard. The installer is ended with the desktop.
setup=$(ls "$build"/tavik-*-setup.exe | head -n 1)
wine "$setup" >/dev/null 2>&1 &
window() {
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "tavik セットアップ" 2>/dev/null | head -n 1) && [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { echo "screenshots: no installer window" >&2; exit 1; }
  echo "$id"
}
page() {
  local id X Y WIDTH HEIGHT
  id=$(window)
  sleep 1  # until the page is drawn
  eval "$(xdotool getwindowgeometry --shell "$id")"
  photograph "installer-$1" "$X $Y $WIDTH $HEIGHT"
  [ -z "${2:-}" ] || xdotool mousemove --sync $((X + WIDTH - 160)) $((Y + HEIGHT - 26)) click 1
}
page welcome next
page components next
page directory next
sleep 3  # the files are put in place
page finish
