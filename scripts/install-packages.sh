#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are not installed yet,
# with apt-get (as root, or through sudo). Safe to run again.
#   usage: scripts/install-packages.sh PACKAGE...
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
