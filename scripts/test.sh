#!/usr/bin/env bash
# Builds and runs every test: the plain build, an AddressSanitizer + UndefinedBehaviorSanitizer
# build, a ThreadSanitizer build of the transport, and the core's Windows build under wine.
# Fails on any failure or sanitizer report.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/deps.sh"

echo "== Layering: no Qt under net/ or irc/"
if grep -rn -E '#\s*include\s*[<"]Q' net irc; then
    echo "net/ and irc/ must not include Qt" >&2
    exit 1
fi

echo "== Formatting"
# Found with find rather than git, so that the command also runs in an unpacked source tree
# or on a machine without git; build directories hold no sources of ours.
find app bench fuzz irc net tests -type d -name 'build*' -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print0 |
    xargs -0 -r clang-format --dry-run --Werror

jobs=$(nproc)
run_suite() {
    local dir=$1
    shift
    echo "== Build $dir"
    "$root/scripts/build.sh" "$dir" "$@"
    echo "== Test $dir"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# Options are given in full: run.sh configures build/ without tests, and a build directory
# keeps its options from one configure to the next.
run_suite build -DBRISAL_BUILD_TESTS=ON -DBRISAL_BUILD_APP=ON -DBRISAL_SANITIZE=
run_suite build-asan -DBRISAL_SANITIZE=address -DBRISAL_BUILD_TESTS=ON -DBRISAL_BUILD_APP=ON
# The window is single-threaded; ThreadSanitizer covers the layers with worker threads.
run_suite build-tsan -DBRISAL_SANITIZE=thread -DBRISAL_BUILD_APP=OFF
# The core (net/ and irc/) built for Windows with mingw-w64, its suites run under wine with a
# prefix of its own in the build directory. The prefix is made once (about a minute on a fresh
# machine); no display is needed, and the Mono and Gecko installers are kept from asking.
echo "== Windows build under wine"
started=$SECONDS
"$root/scripts/build.sh" build-win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DBRISAL_BUILD_TESTS=ON -DBRISAL_BUILD_APP=OFF -DBRISAL_SANITIZE=
(
    export WINEPREFIX="$root/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    unset DISPLAY WAYLAND_DISPLAY
    if [ ! -f "$WINEPREFIX/.brisal-ready" ]; then
        echo "== Creating the wine prefix $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1
        wineserver --wait
        touch "$WINEPREFIX/.brisal-ready"
    fi
    # One wine server for the whole run rather than one per test program (fails harmlessly
    # when one is already there), ended afterwards. Wine's own services are started now, with
    # their output to /dev/null: started by the first test program, they would inherit the
    # pipe ctest reads its output from and, living as long as the server, hold ctest forever.
    wineserver --persistent || true
    trap 'wineserver --kill' EXIT
    wineboot >/dev/null 2>&1 </dev/null
    ctest --test-dir build-win --output-on-failure -j "$jobs"
    echo "== Skipped under wine, and why"
    awk '/^\[ RUN      \]/ {name = $4} /: Skipped$/ {print name ":"; on = 1; next}
         /^\[  SKIPPED \]/ {on = 0} on {print "    " $0}' build-win/Testing/Temporary/LastTest.log
)
echo "== Windows build under wine: $((SECONDS - started)) s"
# Every fuzz target over its seed corpus: hostile inputs found once stay harmless.
echo "== Fuzz targets over their seed corpora"
"$root/scripts/fuzz.sh" --corpus
echo "== All suites passed"
