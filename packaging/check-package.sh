#!/bin/sh
# Checks a built Vexal package as Debian would before taking it, and as an
# administrator finds it once installed (scripts/vexal.sh package runs it):
# lintian reports no error or warning; the package has no maintainer script
# (so nothing grants a capability at install); its control fields; and,
# unpacked into a staging root, every file in its place with its mode and
# nothing else, the icons at their sizes, valid desktop and AppStream entries
# that find each other, a manual page that renders without a warning, and a
# program that starts.
#
#   packaging/check-package.sh build/vexal_<version>_<arch>.deb
set -eu

deb=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
id=org.example.Vexal
sizes="16 24 32 48 64 128 256"

lintian --fail-on error,warning "$deb" || fail "lintian reports an error or a warning"

extra=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -vxE 'control|md5sums|' || true)
[ -z "$extra" ] || fail "the control archive holds more than control and md5sums: $extra"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Section)" = net ] || fail "Section is not net"
[ "$(field Maintainer)" = "The Vexal project <vexal@example.org>" ] || fail "wrong Maintainer"
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libsqlite3-0 libstdc++6; do
    field Depends | tr ',' '\n' | grep -q "^ *$lib (>= " || fail "Depends lacks a versioned $lib"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb --extract "$deb" "$root"

{
    echo "755 usr/bin/vexal"
    for f in applications/$id.desktop metainfo/$id.metainfo.xml man/man1/vexal.1.gz \
             doc/vexal/copyright doc/vexal/changelog.gz icons/hicolor/scalable/apps/vexal.svg; do
        echo "644 usr/share/$f"
    done
    for n in $sizes; do echo "644 usr/share/icons/hicolor/${n}x$n/apps/vexal.png"; done
} | sort > "$work/expected"
(cd "$root" && find . -mindepth 1 ! -type d -printf '%m %P\n') | sort > "$work/packaged"
diff "$work/expected" "$work/packaged" >&2 \
    || fail "the packaged files or their modes are not the expected ones (<: expected, >: packaged)"
dirs=$(cd "$root" && find . -mindepth 1 -type d ! -perm 755)
[ -z "$dirs" ] || fail "folders whose mode is not 755: $dirs"

for n in $sizes; do
    # A PNG's width and height are the big-endian words at bytes 16 to 23;
    # the folder's size must be the truth, or icon themes pass the icon over.
    ihdr=$(od -An -tu4 --endian=big -j16 -N8 "$root/usr/share/icons/hicolor/${n}x$n/apps/vexal.png" | tr -s ' ')
    [ "$ihdr" = " $n $n" ] || fail "the ${n}x$n icon is$ihdr"
done

desktop=$root/usr/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
grep -qx 'Exec=vexal' "$desktop" || fail "the desktop entry does not start vexal"
grep -qx 'Icon=vexal' "$desktop" || fail "the desktop entry does not name the vexal icon"
# validate-tree also checks the metainfo's launchable against the desktop
# entry beside it. --no-net: the screenshots' web page is not reachable from CI.
appstreamcli validate-tree --pedantic --no-net "$root" || fail "the AppStream entry does not validate"

warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/vexal.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"

# The stripped program starts with the libraries it depends on: without a
# display, /? prints the options and ends with status 0.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/vexal" /? | grep -q '/ip' \
    || fail "the packaged vexal does not print its options"

echo "$deb: lintian, control, files and modes, icons, desktop and AppStream entries, manual page and program checked"
