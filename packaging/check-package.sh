#!/bin/sh
# Checks a built Vexal package as Debian would before taking it, and as an
# administrator finds it once installed (scripts/vexal.sh package runs it):
# lintian reports no error or warning; the only maintainer script is the
# postinst; its control fields; and, unpacked into a staging root, every file
# in its place with its mode and nothing else, a helper that links no more
# than it needs, the icons at their sizes, valid desktop and AppStream entries
# that find each other, a manual page that renders without a warning,
# programs that start, and a postinst that grants the helper its capability
# (as root) and never fails the install.
#
#   packaging/check-package.sh build/vexal_<version>_<arch>.deb
set -eu

deb=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
id=org.example.Vexal
sizes="16 24 32 48 64 128 256"

lintian --fail-on error,warning "$deb" || fail "lintian reports an error or a warning"

extra=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -vxE 'control|md5sums|postinst|' || true)
[ -z "$extra" ] || fail "the control archive holds more than control, md5sums and postinst: $extra"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Section)" = net ] || fail "Section is not net"
[ "$(field Maintainer)" = "The Vexal project <vexal@example.org>" ] || fail "wrong Maintainer"
for lib in libc6 libcap2 libqt6core6 libqt6dbus6 libqt6gui6 libqt6widgets6 libsqlite3-0 libstdc++6; do
    field Depends | tr ',' '\n' | grep -q "^ *$lib (>= " || fail "Depends lacks a versioned $lib"
done
# The postinst's setcap (without it the install works but grants nothing),
# and the vendor registry (without it tooltips name no vendor).
[ "$(field Recommends)" = "libcap2-bin, ieee-data" ] || fail "Recommends is not libcap2-bin, ieee-data"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb --extract "$deb" "$root"
dpkg-deb --control "$deb" "$work/control"
helper=usr/libexec/vexal/vexal-ping

# A set-user-ID bit would show in the mode (4755): neither program has one.
{
    echo "755 usr/bin/vexal"
    echo "755 $helper"
    for f in applications/$id.desktop metainfo/$id.metainfo.xml man/man1/vexal.1.gz \
             doc/vexal/copyright doc/vexal/changelog.gz doc/vexal/examples/vexal-monitor.service \
             icons/hicolor/scalable/apps/vexal.svg; do
        echo "644 usr/share/$f"
    done
    for n in $sizes; do echo "644 usr/share/icons/hicolor/${n}x$n/apps/vexal.png"; done
} | sort > "$work/expected"
(cd "$root" && find . -mindepth 1 ! -type d -printf '%m %P\n') | sort > "$work/packaged"
diff "$work/expected" "$work/packaged" >&2 \
    || fail "the packaged files or their modes are not the expected ones (<: expected, >: packaged)"
dirs=$(cd "$root" && find . -mindepth 1 -type d ! -perm 755)
[ -z "$dirs" ] || fail "folders whose mode is not 755: $dirs"

# The helper holds cap_net_raw: it must not load the window system, SQLite
# or anything else a user could steer.
needed=$(readelf -d "$root/$helper" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
[ -n "$needed" ] || fail "readelf finds no libraries the helper needs"
unexpected=$(echo "$needed" | grep -vE '^(libQt6Core|libcap|libstdc\+\+|libgcc_s|libc)\.so\.' | tr '\n' ' ' || true)
[ -z "$unexpected" ] || fail "the helper needs more than Qt Core, libcap and the C and C++ runtimes: $unexpected"

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
# The stripped helper starts too, and run by hand refuses (status 2).
status=0
"$root/$helper" </dev/null 2>"$work/helper.err" || status=$?
if [ "$status" != 2 ] || ! grep -q 'not meant to be run by hand' "$work/helper.err"; then
    fail "the packaged helper run by hand ended with status $status: $(cat "$work/helper.err")"
fi

# The postinst, with every path it names pointed into the staging root, so
# that a capability granted to any packaged file shows there. Without
# setcap it says what to do instead and the install goes on.
[ "$(stat -c %a "$work/control/postinst")" = 755 ] || fail "the postinst's mode is not 755"
sed "s|/usr/|$root/usr/|g" "$work/control/postinst" > "$work/postinst"
grep -q "$root/$helper" "$work/postinst" || fail "the postinst does not name $helper"
PATH=/nonexistent /bin/sh "$work/postinst" configure 2>"$work/postinst.err" \
    || fail "the postinst fails the install when setcap is missing"
grep -q 'ping_group_range' "$work/postinst.err" \
    || fail "the postinst does not say what to do without setcap: $(cat "$work/postinst.err")"
if [ "$(id -u)" -eq 0 ]; then
    sh "$work/postinst" configure || fail "the postinst failed"
    [ "$(getcap "$root/$helper")" = "$root/$helper cap_net_raw=ep" ] \
        || fail "the postinst did not grant cap_net_raw to the helper: $(getcap "$root/$helper")"
    [ -z "$(getcap "$root/usr/bin/vexal")" ] || fail "vexal holds a capability: $(getcap "$root/usr/bin/vexal")"
    postinst="postinst (grants the helper cap_net_raw)"
else
    echo "Not root: the postinst's setcap is not checked" >&2
    postinst="postinst (without setcap only; not root)"
fi

echo "$deb: lintian, control, files and modes, the helper's libraries, icons, desktop and AppStream entries, manual page, programs and $postinst checked"
