#!/usr/bin/env bash
# Sets up a Debian 12 machine for Vexal, builds it, and then either starts it
# or runs the whole test suite.
#
#   scripts/vexal.sh run     install what is needed, build, start Vexal
#   scripts/vexal.sh test    install what is needed, build, run every test; then
#                            build and run the fuzzers (VEXAL_FUZZ_SECONDS each,
#                            45 by default) and the test suite again under
#                            AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/vexal.sh bench   install what is needed, build, run the benchmark (root);
#                            "bench --large" adds a sweep of 127.0.0.0/8, and
#                            "bench --runs N" runs each row N times (3 by default)
#
# Safe to run again: installed packages are kept, the build is incremental.
set -euo pipefail

mode=${1:-}
shift || true
case "$mode" in
    run|test|bench) ;;
    *) echo "usage: $0 run|test|bench" >&2; exit 2 ;;
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
    iproute2 libcap2-bin procps
    desktop-file-utils
    fping
    xvfb xauth imagemagick fonts-dejavu-core fonts-liberation2
    openbox x11-utils xdotool
    clang libclang-rt-14-dev    # the fuzzers: libFuzzer and clang's sanitizer runtimes
)

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

say "Configuring in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
say "Building (2 jobs)"
cmake --build "$build" -j 2

case "$mode" in
    run)
        say "Starting Vexal"
        exec "$build/src/vexal"
        ;;
    test)
        say "Running the test suite"
        # Window tests draw offscreen; no display is needed.
        (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 300)

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
        ;;
    bench)
        say "Running the sweep benchmark"
        exec "$build/bench/sweepbench" "$@"
        ;;
esac
