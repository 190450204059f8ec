#!/usr/bin/env bash
# Builds the tool and starts it:
#
#     scripts/run.sh [FILE.upd]
#
# With FILE, the tool starts through the Debian launcher
# (packaging/linux/qvr-updater): a copy of it runs in a folder of its own
# with FILE beside it under the tool's own name (QvrUpdater.upd), and the
# folder goes when the tool ends. Without FILE, the tool looks for
# QvrUpdater.upd beside the built binary.
#
# Installs only what building and running needs (scripts/test.sh adds the
# test tool-chain). START makes the tool announce itself on every real
# interface of this machine; scripts/demo.sh tries a whole update inside
# private namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."

file=${1:-}
if [ -n "$file" ] && [ ! -f "$file" ]; then
    echo "run: $file is not a file" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display (DISPLAY is not set), and the tool is a window; for a whole update on a virtual display, safely inside private namespaces: scripts/demo.sh --auto" >&2
    exit 2
fi

QVR_RERUN="scripts/run.sh${file:+ $(printf '%q' "$file")}" scripts/install-deps.sh --run
export CCACHE_BASEDIR="$PWD"
# A clean clone elsewhere reuses the objects too: the compiler's working folder stays out of
# the hash (debug info then names the first folder an object was built in).
export CCACHE_NOHASHDIR=true
# scripts/test.sh builds in the same folder with the same options and the tests on; here
# the tests are on only when GoogleTest is there to build them. The switch adds or drops
# the test targets alone: nothing built before is built again.
tests=OFF
dpkg-query -W -f='${Status}' libgtest-dev 2> /dev/null | grep -q "install ok installed" && tests=ON
cmake -S . -B build -G Ninja -DQVR_BUILD_TESTS=$tests > /dev/null
cmake --build build -j "$(nproc)" --target QvrUpdater
tool=$PWD/build/src/app/QvrUpdater_artefacts/RelWithDebInfo/QvrUpdater

if [ -z "$file" ]; then
    [ -f "${tool%/*}/QvrUpdater.upd" ] || echo "run: no update file beside $tool: the tool will report it after OK; pass one: scripts/run.sh FILE.upd" >&2
    echo "run: starting $tool"
    exec "$tool"
fi
QVR_UPDATER_TOOL=$tool exec packaging/linux/qvr-updater "$file"
