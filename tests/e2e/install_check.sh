#!/usr/bin/env bash
# cmake --install (or, with "deb", the Debian package cpack makes, unpacked into a scratch root)
# puts the player, the tools, the demo story, the desktop entry, the .spt file type and the
# manual pages in place; the installed torvane-run plays the installed demo to its end with no
# error, finding the demo's files beside its script although the script lies outside its folder.
# Usage: install_check.sh BUILD_DIR [deb]
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$here/demo_schedule.sh"

if [ "${2:-}" = deb ]; then
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >/dev/null ||
    fail "cpack made no package"
  deb=$(ls "$work/package"/torvane_*.deb)
  [[ "$(dpkg-deb --field "$deb" Depends)" == *fonts-ipafont-gothic* ]] || fail "no dependency on the font"
  # Debian's own checks of a package: no error and no warning.
  lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 ||
    { cat "$work/lintian.txt" >&2; fail "lintian finds fault with the package"; }
  dpkg-deb -x "$deb" "$work/root"
  prefix="$work/root/usr"
else
  prefix="$work/prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
fi

[ -L "$prefix/bin/torvane" ] || fail "bin/torvane is no link"
player=$(readlink -f "$prefix/bin/torvane")
libdir=${player#"$(readlink -f "$prefix")"/}
libdir=${libdir%/torvane}
case "$libdir" in lib*/torvane) ;; *) fail "the player is not in a folder of its own under lib: $libdir" ;; esac
for file in bin/torvane-check bin/torvane-run "$libdir/torvane" "$libdir/demo.spt" \
            "$libdir/demo/hill_evening.bmp" "$libdir/demo/町の夜.bmp" "$libdir/demo/star.ico" \
            "$libdir/demo/chime.wav" "$libdir/demo/wind.wav" share/applications/torvane.desktop \
            share/icons/hicolor/48x48/apps/torvane.png share/mime/packages/torvane.xml \
            share/man/man1/torvane.1.gz share/man/man1/torvane-check.1.gz \
            share/man/man1/torvane-run.1.gz share/doc/torvane/copyright; do
  [ -f "$prefix/$file" ] || fail "$file was not installed"
done
[ -x "$prefix/$libdir/torvane" ] || fail "the player is not executable"
entry="$prefix/share/applications/torvane.desktop"
grep -qx "Exec=torvane %f" "$entry" || fail "the entry does not hand the player a file"
grep -qx "Icon=torvane" "$entry" || fail "the entry has no icon"
mime=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$prefix/share/mime/packages/torvane.xml")
grep -q '<glob pattern="\*.spt"/>' "$prefix/share/mime/packages/torvane.xml" || fail "no *.spt glob"
grep -qx "MimeType=$mime;" "$entry" || fail "the entry does not open $mime"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry"; fi
"$prefix/$libdir/torvane" --version | grep -qx "torvane [0-9.]*" || fail "torvane --version"
"$prefix/bin/torvane-run" --version | grep -qx "torvane-run [0-9.]*" || fail "torvane-run --version"

# The installed tools check and play the installed story.
(cd "$prefix/$libdir" && "$prefix/bin/torvane-check" demo.spt >/dev/null) ||
  fail "torvane-check finds fault with the installed demo"
make_demo_references "$prefix/bin/torvane-run" "" "$work" forest "$prefix/$libdir/demo.spt"
if grep '"event":"messagebox"' "$work/reference.log" | grep -v '"caption":"END"'; then
  fail "the installed demo showed an error"
fi
grep -q '"event":"close"' "$work/reference.log" || fail "the installed demo did not end"
echo "PASS: install${2:+ ($2)}"
