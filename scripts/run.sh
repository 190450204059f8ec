#!/usr/bin/env bash
# Builds the tool and starts it:
#
#     scripts/run.sh [FILE.upd]
#
# With FILE, a copy of the tool runs in a temporary folder with FILE beside it
# under the tool's own name (QvrUpdater.upd), as the Debian launcher does, and
# the folder goes when the tool ends. Without FILE, the tool looks for
# QvrUpdater.upd beside the built binary.
#
# START makes the tool announce itself on every real interface of this
# machine; scripts/demo.sh tries a whole update inside private namespaces.
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

scripts/install-deps.sh
export CCACHE_BASEDIR="$PWD"
# A clean clone elsewhere reuses the objects too: the compiler's working folder stays out of
# the hash (debug info then names the first folder an object was built in).
export CCACHE_NOHASHDIR=true
# The same options as scripts/test.sh, so that neither command undoes the other's build.
cmake -S . -B build -G Ninja -DQVR_BUILD_TESTS=ON > /dev/null
cmake --build build -j "$(nproc)" --target QvrUpdater
tool=$PWD/build/src/app/QvrUpdater_artefacts/RelWithDebInfo/QvrUpdater

if [ -z "$file" ]; then
    [ -f "${tool%/*}/QvrUpdater.upd" ] || echo "run: no update file beside $tool: the tool will report it after OK; pass one: scripts/run.sh FILE.upd" >&2
    echo "run: starting $tool"
    exec "$tool"
fi

folder=$(mktemp -d "${TMPDIR:-/tmp}/qvr-run.XXXXXX")
trap 'rm -rf "$folder"' EXIT
cp "$tool" "$folder/QvrUpdater"
ln -s "$(readlink -f "$file")" "$folder/QvrUpdater.upd"
echo "run: starting $folder/QvrUpdater with $file beside it"
status=0
"$folder/QvrUpdater" || status=$?
exit "$status"
