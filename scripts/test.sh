#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test
# (unit, workflow, end-to-end), checks the Debian package, cross-builds the
# Windows .exe and runs its tests under Wine, then the Linux tests again under
# ASan+UBSan and under TSan.
set -euo pipefail
cd "$(dirname "$0")/.."

QVR_RERUN=scripts/test.sh scripts/install-deps.sh --test

jobs=$(nproc)
export CCACHE_BASEDIR="$PWD"
# A clean clone elsewhere reuses the objects too: the compiler's working folder stays out of
# the hash (debug info then names the first folder an object was built in).
export CCACHE_NOHASHDIR=true
export CTEST_OUTPUT_ON_FAILURE=1

build() # folder, extra cmake arguments...
{
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" > /dev/null
    cmake --build "$dir" -j "$jobs"
}

# The screen tests need a display; the end-to-end tests start their own.
headless() { xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$@"; }

echo "== build and test (RelWithDebInfo)"
build build -DQVR_BUILD_TESTS=ON
headless ctest --test-dir build -j "$jobs" --timeout 300

echo "== Debian package (from build/)"
scripts/test-deb.sh build

echo "== Windows cross-build, tests under Wine"
scripts/test-windows.sh

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DQVR_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    headless ctest --test-dir build-asan -j "$jobs" --timeout 300 -LE e2e

echo "== ThreadSanitizer"
build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQVR_SANITIZE=thread
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    headless ctest --test-dir build-tsan -j "$jobs" --timeout 300 -LE e2e

echo "== all tests passed"
