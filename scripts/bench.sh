#!/usr/bin/env bash
# Measures the transfer pace, latencies, CPU and memory inside private network
# namespaces and writes docs/performance.md. Needs root and a built tree
# (scripts/test.sh or scripts/run.sh first). Options: --runs N --sizes 1,16,64
# --only transfer|fleet|soak (soak: --rounds N transfers in one process, printed only)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target qvr_send qvr_cancel_bench qvr_soak_bench QvrUpdater qvr-update > /dev/null
exec /usr/bin/python3 tools/bench/run_bench.py "$@"
