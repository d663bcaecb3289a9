#!/usr/bin/env bash
# Installs what building and testing tavik needs on Debian 12. Safe to run
# again: it installs only what is missing.
set -euo pipefail

packages=(cmake make g++ libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
