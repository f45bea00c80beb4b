#!/usr/bin/env bash
# Sets up a Debian 12 machine for Vexal, builds it, and then either starts it
# or runs the whole test suite.
#
#   scripts/vexal.sh run     install what is needed, build, start Vexal
#   scripts/vexal.sh test    install what is needed, build, run every test; then
#                            build and check the Debian package, build and run
#                            the fuzzers (VEXAL_FUZZ_SECONDS each, 60 by default),
#                            the test suite again under AddressSanitizer and
#                            UndefinedBehaviorSanitizer, and last the Windows
#                            program, its tests and its installer under Wine
#   scripts/vexal.sh windows install what is needed, cross-build the Windows
#                            program into build-windows/ with its installer
#                            and zip (scripts/windows.sh)
#   scripts/vexal.sh package install what is needed, build, then build the
#                            Debian package build/vexal_<version>_<arch>.deb
#                            and check it (packaging/check-package.sh)
#   scripts/vexal.sh bench   install what is needed, build, run the benchmark (root);
#                            "bench --large" adds a sweep of 127.0.0.0/8, and
#                            "bench --runs N" runs each row N times (3 by default)
#
# Safe to run again: installed packages are kept, the build is incremental.
set -euo pipefail

mode=${1:-}
shift || true
case "$mode" in
    run|test|package|bench|windows) ;;
    *) echo "usage: $0 run|test|package|bench|windows" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VEXAL_BUILD_DIR:-$root/build}

say() { printf '\n== %s\n' "$*"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "This step needs root: $*" >&2
        echo "Run the command as root, or install sudo." >&2
        exit 1
    fi
}

# Everything the build, the program, the tests and the benchmark need.
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libsqlite3-dev sqlite3
    googletest libgtest-dev
    iproute2 libcap-dev libcap2-bin procps
    dbus-daemon                                          # a session bus for the desktop-notice tests
    nftables                                             # the firewall the on-link tests sweep behind
    desktop-file-utils
    ieee-data                                            # vendors in the unique list's tooltips (Recommends)
    dpkg-dev file lintian appstream man-db groff-base    # the package: built and checked
    fping
    xvfb xauth imagemagick fonts-dejavu-core fonts-liberation2
    openbox x11-utils xdotool
    clang libclang-rt-14-dev    # the fuzzers: libFuzzer and clang's sanitizer runtimes
)
# The benchmark's peer on its LAN row, nothing else's.
if [ "$mode" = bench ]; then packages+=(nmap); fi
# The Windows program: the MinGW-w64 cross compiler, Qt's and SQLite's
# sources (fetched by apt-get source; tcl makes SQLite's amalgamation), the
# installer's maker, and Wine with fonts to run and measure the result.
if [ "$mode" = test ] || [ "$mode" = windows ]; then
    packages+=(g++-mingw-w64-x86-64-posix tcl nsis wine wine64 fonts-wine debian-archive-keyring)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "Installing Debian packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update
    as_root apt-get install -y --no-install-recommends "${missing[@]}"
else
    say "Debian packages: all present"
fi

# The Windows program needs none of the Linux build.
if [ "$mode" = windows ]; then
    exec bash "$root/scripts/windows.sh" build
fi

# Debian's build flags with all its hardening (stack protector, fortified
# functions, full RELRO), so the program the suite tests is the one the
# package ships. Source paths stay absolute: the package is stripped, and a
# debugger on the build finds its sources.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath,-fixdebugpath"
say "Configuring in $build"
# No setcap at install: a package cannot carry a file capability, and
# granting one is the administrator's step (README).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" \
    -DVEXAL_SETCAP_ON_INSTALL=OFF
say "Building (2 jobs)"
cmake --build "$build" -j 2

# Builds build/vexal_<version>_<arch>.deb from the install rules and checks it.
package() {
    say "Building the Debian package"
    rm -f "$build"/vexal_*.deb
    (cd "$build" && cpack -G DEB)
    deb=$(ls "$build"/vexal_*.deb)
    say "Checking $deb"
    sh "$root/packaging/check-package.sh" "$deb"
}

case "$mode" in
    run)
        say "Starting Vexal"
        exec "$build/src/vexal"
        ;;
    test)
        say "Running the test suite"
        # Window tests draw offscreen; no display is needed.
        (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 300)

        package

        # Any step that fails ends the script (set -e), so the last test
        # summary printed always belongs to the step that decided the result.
        #
        # Both sanitized builds keep assertions on: Qt's bounds checks in its
        # headers catch what ASan cannot see inside a container. Every report
        # ends the process with a failing exit code, and leaks are checked at
        # every exit (Qt and fontconfig leave none behind in these tests, so
        # nothing is suppressed).
        export ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

        fuzz=${VEXAL_FUZZ_BUILD_DIR:-$root/build-fuzz}
        say "Configuring the fuzzers (clang, libFuzzer) in $fuzz"
        cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" \
            -DCMAKE_CXX_COMPILER=clang++ \
            -DVEXAL_FUZZ=ON -DVEXAL_FUZZ_SECONDS="${VEXAL_FUZZ_SECONDS:-60}" \
            -DVEXAL_BUILD_TESTS=OFF -DVEXAL_BUILD_BENCH=OFF
        say "Building the fuzzers (2 jobs)"
        cmake --build "$fuzz" -j 2 --target vexal_fuzzers
        say "Fuzzing, ${VEXAL_FUZZ_SECONDS:-60} s per target, two at a time"
        (cd "$fuzz" && ctest --output-on-failure -j 2)

        asan=${VEXAL_ASAN_BUILD_DIR:-$root/build-asan}
        say "Configuring the sanitizer build in $asan"
        # Unoptimised, with line tables only: this build then takes about a
        # third of the time -O1 -g does, and the suite still runs in seconds.
        cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g1" \
            -DVEXAL_SANITIZE=ON -DVEXAL_BUILD_BENCH=OFF
        say "Building the sanitizer build (2 jobs)"
        cmake --build "$asan" -j 2
        say "Running the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
        (cd "$asan" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 300)

        # The Windows program, built apart: nothing of the above depends on it.
        bash "$root/scripts/windows.sh" test
        ;;

    package)
        package
        echo "Install it with: sudo apt install $deb"
        ;;
    bench)
        say "Running the sweep benchmark"
        exec "$build/bench/sweepbench" "$@"
        ;;
esac
