#!/usr/bin/env bash
# cmake --install puts the player, the tools, the demo story and a desktop entry in place, and the
# installed player finds the demo beside itself when started through its link in bin.
# Usage: install_check.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -L "$prefix/bin/torvane" ] || fail "bin/torvane is no link"
player=$(readlink -f "$prefix/bin/torvane")
libdir=${player#"$(readlink -f "$prefix")"/}
libdir=${libdir%/torvane}
case "$libdir" in lib*/torvane) ;; *) fail "the player is not in a folder of its own under lib: $libdir" ;; esac
for file in bin/torvane-check bin/torvane-run "$libdir/torvane" "$libdir/demo.spt" \
            "$libdir/demo/hill_evening.bmp" "$libdir/demo/町の夜.bmp" "$libdir/demo/star.ico" \
            "$libdir/demo/chime.wav" "$libdir/demo/wind.wav" share/applications/torvane.desktop \
            share/icons/hicolor/48x48/apps/torvane.png; do
  [ -f "$prefix/$file" ] || fail "$file was not installed"
done
[ -x "$prefix/$libdir/torvane" ] || fail "the player is not executable"
grep -qx "Exec=torvane" "$prefix/share/applications/torvane.desktop" || fail "the entry runs no torvane"
grep -qx "Icon=torvane" "$prefix/share/applications/torvane.desktop" || fail "the entry has no icon"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/torvane.desktop"
fi
# The installed tools check the installed story: it compiles without a message.
(cd "$prefix/$libdir" && "$prefix/bin/torvane-check" demo.spt >/dev/null) ||
  fail "torvane-check finds fault with the installed demo"
echo "PASS: install"
