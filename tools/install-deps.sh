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

# apt's lists are fetched once, the first time something needs them.
updated=0
apt_update() { if [ "$updated" -eq 0 ]; then apt-get update; updated=1; fi; }

# Wine's 32-bit loader, for the shipped 32-bit torvane.exe and the 32-bit test suites, only where
# the kernel starts 32-bit programs: some kernels have 32-bit emulation switched off, and there the
# 64-bit Wine and the 64-bit test build stand in. A five-instruction i386 program that exits 0 is
# the probe.
kernel_runs_32bit() {
  local dir status=1
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n  movl $1, %%eax\n  xorl %%ebx, %%ebx\n  int $0x80\n' >"$dir/probe.s"
  if as --32 -o "$dir/probe.o" "$dir/probe.s" 2>/dev/null &&
     ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" 2>/dev/null &&
     "$dir/probe" 2>/dev/null; then
    status=0
  fi
  rm -rf "$dir"
  return $status
}
if ! command -v as >/dev/null 2>&1 || ! command -v ld >/dev/null 2>&1; then
  apt_update >/dev/null
  apt-get install -y --no-install-recommends binutils >/dev/null
fi
if kernel_runs_32bit; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    updated=0  # the lists lack i386 until fetched again
    apt_update
  fi
  packages+=(wine32:i386)
else
  echo "install-deps: this kernel does not start 32-bit programs: no 32-bit Wine; the 32-bit suites will be skipped and the 64-bit build tested instead"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v lock)" ]; then apt_update; fi
  if ! apt-get install -y --no-install-recommends "${missing[@]}" >/tmp/torvane-apt.log 2>&1; then
    apt_update
    apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

# The Japanese locale: Wine takes its ANSI code page (932) from it.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
