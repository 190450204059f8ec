#!/usr/bin/env bash
# A whole update without touching a real network: the tool in one private
# network namespace, the mixer simulator in another (192.0.2.1 <-> 192.0.2.2).
# Builds nothing: run scripts/run.sh or scripts/test.sh once first. Needs root.
#
#   scripts/demo.sh --auto            clicks through on a virtual display by itself
#   scripts/demo.sh --display         shows the tool on $DISPLAY; you click
#
# Options: --binary PATH, --size BYTES (default 300000), --timeout SECONDS.
# Prints the simulator's report and whether it matches the file sent.
set -euo pipefail
exec /usr/bin/python3 "$(dirname "$0")/../tools/demo.py" "$@"
