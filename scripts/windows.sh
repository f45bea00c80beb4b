#!/usr/bin/env bash
# The Windows program, cross-built on Debian 12 (scripts/vexal.sh windows,
# and the last part of scripts/vexal.sh test):
#
#   Qt 6.4.2 for x86-64 Windows, built once from Debian's qt6-base source
#   package into a cache outside the clone, keyed by its version and its
#   configure options; SQLite from Debian's source; GoogleTest from
#   /usr/src/googletest; then Vexal and its tests with the project's own
#   CMake files, the installer (NSIS) and a portable zip, and, for `test`,
#   the tests and the installer run under Wine.
#
#   scripts/windows.sh qt|build|test|screenshot
#     qt          only the cached Qt
#     build       Qt, SQLite, Vexal, its tests, the installer and the zip
#     test        build, then the tests and the installer under Wine
#     screenshot  build, then docs/windows-main-window.png under Wine
#
# Nothing is downloaded from anywhere but Debian's archive: `apt-get source`
# with a deb-src entry given for that download alone.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
what=${1:-build}
case "$what" in
    qt|build|test|screenshot) ;;
    *) echo "usage: $0 qt|build|test|screenshot" >&2; exit 2 ;;
esac
cache=${VEXAL_CACHE_DIR:-/var/cache/vexal}
wbuild=${VEXAL_WINDOWS_BUILD_DIR:-$root/build-windows}
jobs=2

say() { printf '\n== %s\n' "$*"; }

# Fetches a Debian source package's files into $1 (the archive's own
# signatures are checked by apt, as for any package).
fetch_source() {
    local into=$1 package=$2 lists=$cache/apt-source
    mkdir -p "$into" "$lists/lists/partial"
    cat > "$lists/deb-src.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    local apt=(apt-get -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$lists"
               -o "Dir::State::Lists=$lists/lists")
    "${apt[@]}" -q update >/dev/null
    (cd "$into" && "${apt[@]}" -q source --download-only "$package")
}

# Qt's version is the host tools' (moc, rcc, uic of qt6-base-dev-tools),
# which the cross build uses.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | sed 's/[+~-].*//')
qt_options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    # Core, Gui, Widgets and Test: no SQL, network, D-Bus, OpenGL, print
    # support, XML or Concurrent; zlib, PCRE2, libpng, HarfBuzz, FreeType
    # built in.
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_icu=OFF
    # Debian's source leaves out the tablet header the Windows platform
    # plugin includes; nothing of Vexal uses tablet events.
    -DFEATURE_tabletevent=OFF
)
qt_key=$(printf '%s\n' "$qt_version" "$(x86_64-w64-mingw32-g++-posix -dumpversion)" "${qt_options[@]}" \
              "$(cat "$root/cmake/mingw-w64-x86_64.cmake")" | sha256sum | cut -c1-12)
qt=$cache/qt-$qt_version-win64-$qt_key

build_qt() {
    if [ -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
        say "Qt $qt_version for Windows: cached in $qt"
        return
    fi
    say "Building Qt $qt_version for Windows into $qt (once; about 16 minutes on two cores)"
    local src=$cache/src
    if ! ls "$src"/qt6-base_"$qt_version"*.orig.tar.* >/dev/null 2>&1; then
        fetch_source "$src" "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)"
    fi
    local tree=$src/qtbase-everywhere-src-$qt_version
    [ -d "$tree" ] || tar -C "$src" -xf "$src"/qt6-base_"$qt_version"*.orig.tar.*
    local qbuild=$cache/qt-build-$qt_key
    rm -rf "$qbuild" "$qt.partial"
    cmake -S "$tree" -B "$qbuild" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$qt.partial" "${qt_options[@]}" >/dev/null
    cmake --build "$qbuild" --parallel "$jobs"
    cmake --install "$qbuild" >/dev/null
    # Installed to its final name only whole, so an interrupted build is
    # never taken for a cached one.
    mv "$qt.partial" "$qt"
    rm -rf "$qbuild"
}

sqlite=""
build_sqlite() {
    local version
    version=$(dpkg-query -W -f='${Version}' libsqlite3-dev | sed 's/[+~-].*//')
    sqlite=$cache/sqlite-$version-amalgamation
    if [ -f "$sqlite/sqlite3.c" ]; then
        say "SQLite $version: cached in $sqlite"
        return
    fi
    say "Making SQLite $version's amalgamation from Debian's source"
    local src=$cache/src
    if ! ls "$src"/sqlite3_"$version".orig.tar.* >/dev/null 2>&1; then
        fetch_source "$src" "sqlite3=$(dpkg-query -W -f='${Version}' libsqlite3-dev)"
    fi
    local tree=$src/sqlite3-$version
    rm -rf "$tree" && tar -C "$src" -xf "$src"/sqlite3_"$version".orig.tar.xz
    mkdir -p "$tree/bld"
    (cd "$tree/bld" && ../configure >/dev/null && make sqlite3.c >/dev/null)
    mkdir -p "$sqlite.partial"
    cp "$tree/bld/sqlite3.c" "$tree/bld/sqlite3.h" "$sqlite.partial/"
    mv "$sqlite.partial" "$sqlite"
}

build_vexal() {
    say "Configuring the Windows build in $wbuild"
    cmake -S "$root" -B "$wbuild" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQT_HOST_PATH=/usr \
        -DVEXAL_SQLITE_SOURCE="$sqlite" -DVEXAL_GTEST_SOURCE=/usr/src/googletest -DVEXAL_BUILD_BENCH=OFF \
        -DCMAKE_STRIP="$(command -v x86_64-w64-mingw32-strip)" >/dev/null
    say "Building the Windows program and its tests (2 jobs)"
    cmake --build "$wbuild" -j "$jobs"
}

# The installer and the zip, from the install rules (packaging/windows/).
package_vexal() {
    say "Making the installer and the portable zip"
    rm -f "$wbuild"/vexal-*-setup.exe "$wbuild"/vexal-*-windows-x64.zip
    (cd "$wbuild" && cpack -G "NSIS;ZIP" >/dev/null)
    ls -l "$wbuild"/vexal-*-setup.exe "$wbuild"/vexal-*-windows-x64.zip
}

# Wine with no prompt to install Mono or Gecko (nothing here needs them)
# and none of its own chatter, for every Wine program below.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_in() {
    WINEPREFIX=$1 "${@:2}"
}

# Everything below sends echo requests: to 127.0.0.1, and to 198.18.0.0/15
# routed to a link whose only neighbour is a made-up address, inside a
# network namespace of its own, so nothing leaves the machine. Wine sends
# them from its own server's device process, so each run has a prefix of
# its own whose server starts inside the namespace and ends with it.
private_network='ip link set lo up && ip link add vx0 type veth peer name vx1 &&
    ip link set vx0 up && ip link set vx1 up && ip addr add 192.0.2.1/24 dev vx0 &&
    ip neigh add 192.0.2.99 lladdr 02:00:00:00:00:63 dev vx0 && ip route add 198.18.0.0/15 via 192.0.2.99'

test_vexal() {
    local prefix=$wbuild/wine-tests
    say "Running the Windows tests under Wine, in a private network"
    wine_in "$prefix" wineserver -k 2>/dev/null || true
    # Windows has Arial where the windows' tests measure their captions;
    # the prefix gets its metric twin, Liberation Sans (fonts-liberation2).
    WINEPREFIX=$prefix VEXAL_PRIVATE_NETWORK=1 \
        unshare -n sh -c "$private_network && wineboot -i && wineserver -w &&
                          cp /usr/share/fonts/truetype/liberation2/LiberationSans-*.ttf '$prefix/drive_c/windows/Fonts/' &&
                          cd '$wbuild' && ctest --output-on-failure -j 2 --timeout 300;
                          status=\$?; wineserver -k 2>/dev/null; exit \$status"
}

# The installer as a user runs it, silently, into a new prefix; then the
# installed program's hidden sweep of 127.0.0.1 writes its reply line (the
# date and time in the prefix's locale, English (United States)).
check_installer() {
    local work prefix setup
    work=$(mktemp -d)
    prefix=$work/prefix
    setup=$(ls "$wbuild"/vexal-*-setup.exe)
    say "Installing $(basename "$setup") under Wine into a new prefix"
    export -f wine_in
    if ! WORK=$work PREFIX=$prefix SETUP=$setup unshare -n bash -c '
        set -e
        ip link set lo up
        wine_in "$PREFIX" wine "$SETUP" /S "/D=C:\\Vexal"
        wine_in "$PREFIX" wineserver -w
        installed=$PREFIX/drive_c/Vexal
        for f in vexal.exe Uninstall.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
                 styles/qwindowsvistastyle.dll libstdc++-6.dll; do
            [ -f "$installed/$f" ] || { echo "not installed: $f" >&2; exit 1; }
        done
        shortcut=$(find "$PREFIX/drive_c" -path "*Start Menu*" -iname "Vexal.lnk" | head -1)
        [ -n "$shortcut" ] || { echo "no Start menu shortcut" >&2; exit 1; }
        echo "Start menu: ${shortcut#"$PREFIX/drive_c/"}"
        mkdir -p "$PREFIX/drive_c/sweep"
        cd "$PREFIX/drive_c/sweep"
        status=0
        wine_in "$PREFIX" timeout 120 wine "C:\\Vexal\\vexal.exe" /ip 127.0.0.1 /lfa run.txt /s || status=$?
        wine_in "$PREFIX" wineserver -k 2>/dev/null || true
        [ "$status" -eq 0 ] || { echo "vexal.exe ended with status $status" >&2; exit 1; }
        grep -qaP "^127\\.0\\.0\\.1 [0-9]+/[0-9]+/[0-9]{4} [0-9]+:[0-9]{2}:[0-9]{2} [AP]M\\r\$" run.txt ||
            { echo "no reply line, CR LF, in run.txt:" >&2; od -c run.txt | head -20 >&2; exit 1; }
        echo "run.txt: $(head -1 run.txt | tr -d "\r")"
    '; then
        rm -rf "$work"
        echo "The installer check failed." >&2
        return 1
    fi
    rm -rf "$work"
    echo "Installed, with its shortcut, and the installed program swept 127.0.0.1."
}

# The main window as the Windows build draws it under Wine, with the
# Windows platform and the Vista style, into docs/windows-main-window.png.
screenshot() {
    local prefix=$wbuild/wine-screenshot
    say "Taking the Windows main window's screenshot under Wine"
    WINEPREFIX=$prefix WBUILD=$wbuild OUT=$root/docs \
        unshare -n xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        set -e
        ip link set lo up
        wineboot -i && wineserver -w
        cd "$(mktemp -d)"
        # In a Wine desktop of its own, which draws the title bar and frame
        # as Windows does; the program centres itself in it.
        "$WBUILD/wine-run.sh" explorer /desktop=shot,480x540 "$(winepath -w "$WBUILD/src/vexal.exe")" &
        id=$(timeout 60 xdotool search --sync --onlyvisible --name "shot - Wine desktop" | head -1)
        sleep 4
        import -window "$id" +repage "$OUT/windows-main-window.png"
        echo "$OUT/windows-main-window.png: $(identify -format "%wx%h" "$OUT/windows-main-window.png")"
        wineserver -k'
}

build_qt
[ "$what" = qt ] && exit 0
build_sqlite
build_vexal
package_vexal
case "$what" in
    build) ;;
    screenshot) screenshot ;;
    test)
        test_vexal
        check_installer
        ;;
esac
