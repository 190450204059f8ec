#!/bin/sh
# The launcher around a stand-in for the tool: ./QvrUpdater.upd taken when no
# FILE is given, the tool's exit status passed back, its folder gone after it,
# and a signal to the launcher passed on to the tool.
#     tests/deb/test-launcher.sh LAUNCHER
set -eu
launcher=$(readlink -f "$1")
work=$(mktemp -d /tmp/qvr-launcher.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "test-launcher: $*" >&2; exit 1; }

# The stand-in tells where it runs and what lies beside it; asked to, it waits for a signal.
cat > "$work/tool" << 'SH'
#!/bin/sh
echo "$$ $PWD $(readlink QvrUpdater.upd)" > "$QVR_TEST_LOG"
[ -z "${QVR_TEST_HOLD:-}" ] || exec sleep 30
exit 3
SH
chmod +x "$work/tool"
mkdir "$work/here"
echo QVR-7000 > "$work/here/QvrUpdater.upd"
export QVR_UPDATER_TOOL="$work/tool" QVR_TEST_LOG="$work/log" TMPDIR="$work" XDG_RUNTIME_DIR='' DISPLAY='' WAYLAND_DISPLAY=''

status=0
(cd "$work/here" && "$launcher" 2> /dev/null) || status=$?
[ $status -eq 3 ] || fail "the tool's exit status 3 came back as $status"
read -r _ run upd < "$work/log"
[ "$upd" = "$work/here/QvrUpdater.upd" ] || fail "not ./QvrUpdater.upd beside the tool but '$upd'"
[ ! -e "$run" ] || fail "$run is left behind"

rm "$work/log"
QVR_TEST_HOLD=1 "$launcher" "$work/here/QvrUpdater.upd" 2> /dev/null &
launched=$!
for _ in $(seq 100); do [ -s "$work/log" ] && break; sleep 0.1; done
read -r tool run _ < "$work/log"
kill -TERM "$launched"
status=0
wait "$launched" || status=$?
[ $status -eq 143 ] || fail "TERM ended the launcher with $status, not 143"
if kill -0 "$tool" 2> /dev/null; then
    kill "$tool"
    fail "the tool outlived its launcher"
fi
[ ! -e "$run" ] || fail "$run is left behind after TERM"
echo "test-launcher: passed"
