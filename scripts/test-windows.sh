#!/usr/bin/env bash
# The Windows stage: cross-builds the tool and the core tests for 64-bit
# Windows (MinGW-w64, static), runs the tests through Wine, then the tool's
# end-to-end cases under Wine in a private namespace pair.
#
#     scripts/test-windows.sh [--quick]     --quick: no end-to-end cases
#
# Uses build-win/ and the libpng/libjpeg cache of scripts/build-windows-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

scripts/install-deps.sh --windows

export CCACHE_BASEDIR="$PWD"
export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)

echo "== Windows: libpng and libjpeg for MinGW"
prefix=$(scripts/build-windows-deps.sh | tail -n 1)

echo "== Windows: cross-build"
cmake -S . -B build-win -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DQVR_MINGW_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build-win -j "$jobs"

# shellcheck source=scripts/netns.sh
. scripts/netns.sh
QVR_TMP=$(mktemp -d /tmp/qvr-win.XXXXXX)
export WINEPREFIX="$QVR_TMP/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

end_wine() { /usr/lib/wine/wineserver -k 2> /dev/null || true; }
cleanup() { end_wine; qvr_cleanup; }
trap cleanup EXIT
trap 'cleanup; trap - EXIT; exit 130' INT
trap 'cleanup; trap - EXIT; exit 143' TERM HUP

echo "== Windows: core tests under Wine"
scripts/wine-prefix.sh "$WINEPREFIX"
qvr_xvfb_start
QVR_EXPECT_TEXT_FONTS=1 ctest --test-dir build-win -L windows -LE e2e --timeout 300
end_wine

if [ $quick -eq 0 ]; then
    echo "== Windows: end-to-end under Wine"
    # Each case makes its own prefix inside its own namespace pair.
    ctest --test-dir build-win -L e2e --timeout 400
fi

echo "== Windows: passed"
