#!/usr/bin/env bash
# Installs what building and testing tavik needs on Debian 12. Safe to run
# again: it installs only what is missing.
set -euo pipefail

packages=(cmake make g++ libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          valgrind clang libclang-rt-14-dev wine wine64 xvfb locales)

bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"

# The end-to-end tests run Wine in the Japanese locale.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "generating the ja_JP.UTF-8 locale"
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
