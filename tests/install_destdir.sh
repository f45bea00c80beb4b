#!/bin/sh
# Installs a finished build into a temporary DESTDIR, as a packager would,
# and checks that the binary, a valid desktop entry and the 32 x 32 icon
# land in their standard places.
#
#   install_destdir.sh <build folder> [cmake]
set -eu

build=$1
cmake=${2:-cmake}
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -x "$build/src/vexal" ] || fail "$build/src/vexal is not built; build the whole project first"
command -v desktop-file-validate >/dev/null 2>&1 \
    || fail "desktop-file-validate is missing (Debian package desktop-file-utils)"

dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest "$cmake" --install "$build" --prefix /usr/local
root=$dest/usr/local

[ -x "$root/bin/vexal" ] || fail "no executable at bin/vexal"

desktop=$root/share/applications/vexal.desktop
[ -f "$desktop" ] || fail "no desktop entry at share/applications/vexal.desktop"
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
grep -qx 'Exec=vexal' "$desktop" || fail "the desktop entry does not start vexal"
grep -qx 'Icon=vexal' "$desktop" || fail "the desktop entry does not name the vexal icon"

icon=$root/share/icons/hicolor/32x32/apps/vexal.png
[ -f "$icon" ] || fail "no icon at share/icons/hicolor/32x32/apps/vexal.png"
# A PNG's width and height are the big-endian words at bytes 16 to 23; the
# folder's 32x32 must be the truth.
size=$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ' | sed 's/^ //')
[ "$size" = "0 0 0 32 0 0 0 32" ] || fail "the icon is not 32 x 32 (IHDR bytes: $size)"

echo "installed and checked under $root"
