#!/usr/bin/env bash
# Private network namespaces, a virtual display and their cleanup, for running
# the tool's network phases without ever touching a real network.
#
# Two namespaces joined by a veth pair (created straight inside them, so no
# interface ever appears on the host):
#     qvr-<tag>-app   qvr0  192.0.2.1/24  broadcast 192.0.2.255   (the tool)
#     qvr-<tag>-mix   qvr0  192.0.2.2/24  broadcast 192.0.2.255   (the mixer)
# with lo up in both. <tag> is the owner's PID, so parallel users never clash
# and a stale pair can be told from a live one.
#
# As a command (root):
#     scripts/netns.sh up [TAG]     create the pair, print "APP_NS MIX_NS"
#     scripts/netns.sh down TAG     kill whatever runs inside, remove the pair
#     scripts/netns.sh sweep        remove every pair whose owner has gone
#     scripts/netns.sh list         show the pairs that exist
#
# As a library (`source scripts/netns.sh`):
#     qvr_install_trap              clean everything below on exit or signal
#     qvr_netns_up [TAG]            sets QVR_NS_APP, QVR_NS_MIX
#     qvr_xvfb_start                starts Xvfb on a free display, sets DISPLAY, QVR_XVFB_PID
#     qvr_track PID...              processes to end at cleanup
#     qvr_cleanup                   ends tracked processes, namespace processes, Xvfb; removes the pair

QVR_NET_PREFIX=192.0.2
QVR_APP_ADDR=$QVR_NET_PREFIX.1
QVR_MIX_ADDR=$QVR_NET_PREFIX.2
QVR_BROADCAST=$QVR_NET_PREFIX.255

QVR_NS_APP=${QVR_NS_APP:-}
QVR_NS_MIX=${QVR_NS_MIX:-}
QVR_NS_TAG=${QVR_NS_TAG:-}
QVR_XVFB_PID=${QVR_XVFB_PID:-}
QVR_TMP=${QVR_TMP:-}
QVR_PIDS=()

qvr_ns_names() # tag -> "app mix"
{
    echo "qvr-$1-app qvr-$1-mix"
}

# Waits until none of the given PIDs is alive, for at most $1 tenths of a second.
qvr_wait_gone()
{
    local tenths=$1; shift
    local pid alive i
    for ((i = 0; i < tenths; i++)); do
        alive=0
        for pid in "$@"; do
            kill -0 "$pid" 2> /dev/null && alive=1
        done
        [ $alive -eq 0 ] && return 0
        sleep 0.1
    done
    return 1
}

# Ends the given PIDs: TERM, up to 2 s of grace, then KILL.
qvr_end_pids()
{
    [ $# -gt 0 ] || return 0
    kill -TERM "$@" 2> /dev/null || true
    if ! qvr_wait_gone 20 "$@"; then
        kill -KILL "$@" 2> /dev/null || true
        qvr_wait_gone 20 "$@" || true
    fi
}

qvr_netns_down() # tag
{
    local ns pids
    for ns in $(qvr_ns_names "$1"); do
        ip netns list 2> /dev/null | grep -q "^$ns\( \|$\)" || continue
        # Whatever still runs inside was started by the owner of this pair.
        pids=$(ip netns pids "$ns" 2> /dev/null || true)
        # shellcheck disable=SC2086
        qvr_end_pids $pids
        ip netns delete "$ns" 2> /dev/null || true
    done
}

qvr_netns_up() # [tag]
{
    local tag=${1:-$$}
    local app mix
    read -r app mix <<< "$(qvr_ns_names "$tag")"
    qvr_netns_down "$tag"

    ip netns add "$app" || return 1
    if ! ip netns add "$mix" \
        || ! ip link add qvr0 netns "$app" type veth peer name qvr0 netns "$mix" \
        || ! ip -n "$app" addr add "$QVR_APP_ADDR/24" broadcast "$QVR_BROADCAST" dev qvr0 \
        || ! ip -n "$mix" addr add "$QVR_MIX_ADDR/24" broadcast "$QVR_BROADCAST" dev qvr0 \
        || ! ip -n "$app" link set lo up || ! ip -n "$mix" link set lo up \
        || ! ip -n "$app" link set qvr0 up || ! ip -n "$mix" link set qvr0 up; then
        echo "netns: cannot set up $app / $mix" >&2
        qvr_netns_down "$tag"
        return 1
    fi

    # A veth end reports carrier only once both ends are up; wait for it, bounded.
    local i
    for ((i = 0; i < 50; i++)); do
        if ip -n "$app" -br link show qvr0 | grep -q ' UP ' \
            && ip -n "$mix" -br link show qvr0 | grep -q ' UP '; then
            break
        fi
        sleep 0.1
    done

    QVR_NS_TAG=$tag
    QVR_NS_APP=$app
    QVR_NS_MIX=$mix
}

# Removes pairs whose owner PID no longer runs (left behind by a killed run).
qvr_netns_sweep()
{
    local ns tag
    for ns in $(ip netns list 2> /dev/null | awk '{print $1}' | grep -E '^qvr-[0-9]+-(app|mix)$'); do
        tag=${ns#qvr-}
        tag=${tag%-*}
        if ! kill -0 "$tag" 2> /dev/null; then
            qvr_netns_down "$tag"
        fi
    done
}

qvr_track()
{
    QVR_PIDS+=("$@")
}

# Starts Xvfb on the first free display; Xvfb itself writes the display number
# once it accepts clients, which is the ready signal.
qvr_xvfb_start()
{
    [ -n "$QVR_TMP" ] || QVR_TMP=$(mktemp -d /tmp/qvr.XXXXXX)
    local dfile="$QVR_TMP/xvfb.display" i n=
    : > "$dfile"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$dfile" > "$QVR_TMP/xvfb.log" 2>&1 &
    QVR_XVFB_PID=$!
    for ((i = 0; i < 100; i++)); do
        n=$(tr -dc '0-9' < "$dfile")
        [ -n "$n" ] && grep -q $'\n' "$dfile" && break
        kill -0 "$QVR_XVFB_PID" 2> /dev/null || break
        sleep 0.1
    done
    if [ -z "$n" ]; then
        echo "netns: Xvfb did not start:" >&2
        cat "$QVR_TMP/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$n"
}

qvr_cleanup()
{
    local pids=()
    local pid
    for pid in "${QVR_PIDS[@]}"; do
        kill -0 "$pid" 2> /dev/null && pids+=("$pid")
    done
    qvr_end_pids "${pids[@]}"
    QVR_PIDS=()
    [ -n "$QVR_NS_TAG" ] && qvr_netns_down "$QVR_NS_TAG"
    QVR_NS_TAG=
    if [ -n "$QVR_XVFB_PID" ]; then
        qvr_end_pids "$QVR_XVFB_PID"
        QVR_XVFB_PID=
    fi
    if [ -n "$QVR_TMP" ] && [ -d "$QVR_TMP" ]; then
        rm -rf "$QVR_TMP"
    fi
    QVR_TMP=
}

qvr_install_trap()
{
    trap 'qvr_cleanup' EXIT
    trap 'qvr_cleanup; trap - EXIT; exit 130' INT
    trap 'qvr_cleanup; trap - EXIT; exit 143' TERM HUP
}

# Command form.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -uo pipefail
    if [ "$(id -u)" -ne 0 ]; then
        echo "netns: needs root (ip netns)" >&2
        exit 2
    fi
    case "${1:-}" in
        up)
            qvr_netns_up "${2:-$PPID}" || exit 1
            echo "$QVR_NS_APP $QVR_NS_MIX"
            ;;
        down)
            [ -n "${2:-}" ] || { echo "usage: $0 down TAG" >&2; exit 2; }
            qvr_netns_down "$2"
            ;;
        sweep)
            qvr_netns_sweep
            ;;
        list)
            ip netns list | grep -E '^qvr-[0-9]+-(app|mix)( |$)' || true
            ;;
        *)
            sed -n '2,/^$/p' "$0" | sed 's/^# \{0,1\}//'
            exit 2
            ;;
    esac
fi
