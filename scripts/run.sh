#!/usr/bin/env bash
# Builds the tool and starts it. The update file must lie beside the binary,
# named like it with the extension .upd (see README).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DQVR_BUILD_TESTS=OFF > /dev/null
cmake --build build -j "$(nproc)" --target QvrUpdater
exec build/QvrUpdater_artefacts/RelWithDebInfo/QvrUpdater "$@"
