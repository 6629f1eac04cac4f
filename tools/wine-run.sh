#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine in a Japanese setting (ANSI code page 932), in the
# project's own Wine prefix. CTest uses it as the cross build's emulator.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
exec wine "$@"
