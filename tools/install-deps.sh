#!/usr/bin/env bash
# Installs what building, running and testing Torvane needs on Debian 12, and nothing that is
# already there. Safe to run again: every step checks before it acts.
set -euo pipefail

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then exec sudo -E bash "$0" "$@"; fi
    echo "install-deps: run as root (or with sudo)" >&2
    exit 1
  fi
}
need_root "$@"

export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev                       # the fuzz target is built with clang's libFuzzer
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libgtk-3-dev libgdk-pixbuf-2.0-dev libpango1.0-dev libcairo2-dev libsdl2-dev
  fonts-ipafont-gothic fonts-ipafont-mincho fontconfig locales
  wine wine64 xvfb xauth xdotool x11-utils imagemagick sox
  python3
  lintian                                        # the package test checks the .deb with it
)

# 64-bit Wine only: the kernels we run on may have 32-bit emulation switched off, and then no
# 32-bit Linux program (Wine's 32-bit loader among them) can start. See the README.
updated=1

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if [ "$updated" -eq 0 ] || [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v lock)" ] || ! apt-get install -y --no-install-recommends "${missing[@]}" >/tmp/torvane-apt.log 2>&1; then
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

# The Japanese locale: Wine takes its ANSI code page (932) from it.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
