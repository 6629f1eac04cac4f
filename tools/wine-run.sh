#!/usr/bin/env bash
# Runs a Windows program under Wine in a Japanese setting (ANSI code page 932), in the project's
# own Wine prefix. CTest uses it as the cross builds' emulator.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

# A 32-bit program needs Wine's 32-bit loader, which needs a kernel that runs 32-bit programs.
machine=$(python3 -c 'import struct,sys
d=open(sys.argv[1],"rb").read(4096)
o=struct.unpack_from("<I",d,0x3c)[0]
print(hex(struct.unpack_from("<H",d,o+4)[0]))' "$1" 2>/dev/null || echo unknown)
if [ "$machine" = "0x14c" ]; then
  if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    export WINELOADER=/usr/lib/wine/wine
    exec /usr/lib/wine/wine "$@"
  fi
  echo "wine-run: $1 is a 32-bit program, and this machine cannot start 32-bit programs" >&2
  echo "wine-run: (the kernel's 32-bit emulation is off); run the 64-bit test build (preset win64)" >&2
  exit 77
fi
exec "$WINELOADER" "$@"
