#!/usr/bin/env bash
# Screenshots of every screen, English and Japanese, plus one failure box, from
# the real tool on a virtual display inside private network namespaces (root).
#   scripts/screenshots.sh [BINARY] [OUT_DIR]     (default out: docs/screenshots)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

binary=${1:-}
out=${2:-$root/docs/screenshots}
if [ -z "$binary" ]; then
    for candidate in "$root"/build/src/app/QvrUpdater_artefacts/*/QvrUpdater \
                     "$root"/build*/src/app/QvrUpdater_artefacts/*/QvrUpdater; do
        if [ -x "$candidate" ]; then binary=$candidate; break; fi
    done
fi
if [ -z "$binary" ] || [ ! -x "$binary" ]; then
    echo "screenshots: no tool binary found; build it first or pass its path" >&2
    exit 2
fi

exec /usr/bin/python3 "$root/tools/screenshots.py" --binary "$binary" --out "$out" --source "$root"
