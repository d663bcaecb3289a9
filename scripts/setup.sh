#!/usr/bin/env bash
# Installs what building and testing tavik needs on Debian 12. Safe to run
# again: it installs only what is missing.
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
install=(bash "$(dirname "$0")/install-packages.sh")

packages=(cmake make g++ libgtest-dev libbenchmark-dev
          g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-i686
          valgrind clang libclang-rt-14-dev wine wine64 xvfb locales nsis)
"${install[@]}" "${packages[@]}"

# The 32-bit hook library and its helper run under Wine's 32-bit half,
# Debian's wine32 of the i386 architecture. It needs a kernel that runs
# 32-bit programs, which some virtual machines' kernels do not (their IA-32
# emulation is switched off): there wine32 is left out, because Wine would
# then start every program, 64-bit ones too, through a loader that cannot
# run, and the tests that need 32-bit programs skip themselves.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  $sudo dpkg --add-architecture i386
fi
"${install[@]}" libc6:i386
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  "${install[@]}" wine32:i386
else
  echo "this kernel runs no 32-bit programs: wine32 left out, the 32-bit Wine tests will be skipped"
fi

# The end-to-end tests run Wine in the Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "generating the ja_JP.UTF-8 locale"
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
