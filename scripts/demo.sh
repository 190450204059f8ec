#!/usr/bin/env bash
# A whole update without touching a real network: the tool runs in one private
# network namespace, the mixer simulator in another, joined by a veth pair
# (192.0.2.1 <-> 192.0.2.2). Builds nothing: run scripts/run.sh or
# scripts/test.sh once first. Needs root (ip netns).
#
#   scripts/demo.sh --auto            clicks through on a virtual display by itself
#   scripts/demo.sh --display         shows the tool on $DISPLAY; you click
#
# Options: --binary PATH (default: the build folder's tool), --size BYTES (of the
# demo update file, default 300000), --timeout SECONDS (how long the simulator
# waits for the tool, default 60 with --auto, 600 otherwise).
# Prints the simulator's JSON report and whether it matches the file sent.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

auto=0
use_display=0
binary=
size=300000
timeout=

usage() { sed -n '2,/^set -/p' "$0" | sed '$d; s/^# \{0,1\}//'; }

while [ $# -gt 0 ]; do
    case "$1" in
        --auto) auto=1 ;;
        --display) use_display=1 ;;
        --binary) binary=$2; shift ;;
        --size) size=$2; shift ;;
        --timeout) timeout=$2; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "demo: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

if [ "$(id -u)" -ne 0 ]; then
    echo "demo: needs root for the network namespaces" >&2
    exit 2
fi
if [ $auto -eq 0 ] && [ $use_display -eq 0 ]; then
    echo "demo: choose --auto (virtual display) or --display (your \$DISPLAY, you click)" >&2
    exit 2
fi
if [ $use_display -eq 1 ] && [ -z "${DISPLAY:-}" ]; then
    echo "demo: --display needs DISPLAY set" >&2
    exit 2
fi
[ -n "$timeout" ] || { [ $auto -eq 1 ] && timeout=60 || timeout=600; }

if [ -z "$binary" ]; then
    for candidate in "$root"/build/src/app/QvrUpdater_artefacts/*/QvrUpdater \
                     "$root"/build/QvrUpdater_artefacts/*/QvrUpdater \
                     "$root"/build*/src/app/QvrUpdater_artefacts/*/QvrUpdater; do
        if [ -x "$candidate" ]; then binary=$candidate; break; fi
    done
fi
if [ -z "$binary" ] || [ ! -x "$binary" ]; then
    echo "demo: no tool binary found; build it first (scripts/run.sh) or pass --binary" >&2
    exit 2
fi

# shellcheck source=scripts/netns.sh
source "$here/netns.sh"
qvr_install_trap
QVR_TMP=$(mktemp -d /tmp/qvr-demo.XXXXXX)
qvr_netns_up

if [ $use_display -eq 0 ]; then
    qvr_xvfb_start
fi
echo "namespaces: $QVR_NS_APP ($QVR_APP_ADDR)  $QVR_NS_MIX ($QVR_MIX_ADDR); display $DISPLAY"

# The tool with its update file beside it, as it would be installed.
app_dir="$QVR_TMP/app"
mkdir -p "$app_dir/lock"
cp "$binary" "$app_dir/QvrUpdater"
{ printf 'QVR-7000'; head -c "$((size > 8 ? size - 8 : 0))" /dev/urandom; } > "$app_dir/QvrUpdater.upd"
sent_sha=$(sha256sum "$app_dir/QvrUpdater.upd" | cut -d' ' -f1)
echo "update file: $(stat -c %s "$app_dir/QvrUpdater.upd") bytes, sha256 $sent_sha"

ip netns exec "$QVR_NS_MIX" /usr/bin/python3 "$root/tools/mixer_sim.py" --timeout "$timeout" \
    > "$QVR_TMP/sim.json" 2> "$QVR_TMP/sim.log" &
sim_pid=$!
qvr_track "$sim_pid"

# Its own /var/tmp, so an installed copy that runs already does not stop the
# demo's copy through the single-instance lock.
# shellcheck disable=SC2016  # expanded by the inner sh
ip netns exec "$QVR_NS_APP" sh -c 'mount --bind "$0" /var/tmp && exec "$@"' "$app_dir/lock" \
    "$app_dir/QvrUpdater" > "$QVR_TMP/app.log" 2>&1 &
app_pid=$!
qvr_track "$app_pid"

alive() { kill -0 "$1" 2> /dev/null; }

listening()
{
    ip netns exec "$QVR_NS_APP" ss -ltnH 'sport = :54000' | grep -q .
}

main_window()
{
    local wid
    for wid in $(xdotool search --onlyvisible --pid "$app_pid" 2> /dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$wid")"
        if [ "$WIDTH" = 450 ] && [ "$HEIGHT" = 200 ]; then
            echo "$X $Y"
            return 0
        fi
    done
    return 1
}

# Clicks at a point of the tool's screen, then moves the pointer away again.
press() { xdotool mousemove $((wx + $1)) $((wy + $2)) sleep 0.05 click 1 mousemove 1 1; }

if [ $auto -eq 1 ]; then
    wx='' wy=''
    for ((i = 0; i < 100; i++)); do
        alive "$app_pid" || { echo "demo: the tool ended at start" >&2; cat "$QVR_TMP/app.log" >&2; exit 1; }
        if pos=$(main_window); then read -r wx wy <<< "$pos"; break; fi
        sleep 0.1
    done
    [ -n "$wx" ] || { echo "demo: no window appeared" >&2; exit 1; }
    sleep 0.5
    echo "language screen: OK"
    press 250 180

    # The first button is START once the check is done; clicks on it while it is
    # still disabled are ignored. Listening on 54000 means START was taken.
    for ((i = 0; i < 40; i++)); do
        listening && break
        alive "$app_pid" || break
        sleep 0.25
        press 250 180
    done
    listening || { echo "demo: the tool did not start waiting for the mixer" >&2; exit 1; }
    echo "confirm screen: START; waiting for the simulated mixer"
fi

# The simulator ends once it has the file (or after its timeout).
for ((i = 0; i < timeout * 10 + 50; i++)); do
    alive "$sim_pid" || break
    sleep 0.1
done
wait "$sim_pid" || true

if [ $auto -eq 1 ]; then
    # The first button is OK again on the finished screen; it ends the tool.
    for ((i = 0; i < 40; i++)); do
        alive "$app_pid" || break
        sleep 0.25
        press 250 180
    done
else
    echo "close the tool when you are done"
    while alive "$app_pid"; do sleep 0.2; done
fi

echo "simulator report:"
cat "$QVR_TMP/sim.json"
if grep -q "\"$sent_sha\"" "$QVR_TMP/sim.json"; then
    echo "the mixer received the whole file (sha256 matches)"
else
    echo "the mixer did not receive the file" >&2
    sed 's/^/  simulator: /' "$QVR_TMP/sim.log" >&2
    exit 1
fi
