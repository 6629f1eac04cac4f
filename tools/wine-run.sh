#!/usr/bin/env bash
# Runs a Windows program under Wine in a Japanese setting (ANSI code page 932), in the project's
# own Wine prefix: the 32-bit one for a 32-bit program, the 64-bit one otherwise. CTest uses it as
# the cross builds' emulator.
set -u
here=$(cd "$(dirname "$0")" && pwd)

# The machine field of the PE header: 0x14c is i386.
machine=$(python3 -c 'import struct,sys
d=open(sys.argv[1],"rb").read(4096)
o=struct.unpack_from("<I",d,0x3c)[0]
print(hex(struct.unpack_from("<H",d,o+4)[0]))' "$1" 2>/dev/null || echo unknown)
if [ "$machine" = "0x14c" ]; then
  export TORVANE_WINE_BITS=32
  source "$here/wine-env.sh"
  if ! torvane_wine32_runs; then
    echo "wine-run: $1 is a 32-bit program, and this machine cannot start 32-bit programs" >&2
    echo "wine-run: (no 32-bit Wine, or the kernel's 32-bit emulation is off); run the 64-bit test build (preset win64)" >&2
    exit 77
  fi
else
  export TORVANE_WINE_BITS=64
  source "$here/wine-env.sh"
fi
torvane_wine_prefix
exec "$WINELOADER" "$@"
