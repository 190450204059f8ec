#!/usr/bin/env bash
# Makes a fresh Wine prefix for running the cross-built tool and its tests:
#     scripts/wine-prefix.sh [--no-window-manager] PREFIX
# No add-ons (Mono, Gecko) are installed. "Arial" and "MS UI Gothic", the
# fonts the tool's texts name, are mapped to Debian's Liberation Sans and
# IPAGothic. Whatever namespace this runs in, Wine's server stays in it until
# `wineserver -k`; the caller cleans up.
#
# --no-window-manager: for a display where no window manager runs (Xvfb in
# the tests). Wine then leaves its windows unmanaged; a managed window that is
# hidden makes Wine wait 2 s for a window manager to withdraw it, so a box
# with its four drop-shadow windows took 10 s to close and the tool as long to
# end.
set -euo pipefail
unmanaged=0
if [ "${1:-}" = "--no-window-manager" ]; then
    unmanaged=1
    shift
fi
prefix=${1:?usage: wine-prefix.sh [--no-window-manager] PREFIX}
here=$(cd "$(dirname "$0")" && pwd)

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY # wineboot needs no window

fail() { cat "$prefix.boot.log" >&2; exit 1; }

rm -rf "$prefix"
mkdir -p "$prefix"
timeout 120 "$wine" wineboot --init > "$prefix.boot.log" 2>&1 || fail
reg=$(cd "$here/../packaging/windows" && pwd)/wine-fonts.reg
timeout 60 "$wine" regedit /S "Z:${reg//\//\\}" >> "$prefix.boot.log" 2>&1 || fail
if [ $unmanaged -eq 1 ]; then
    timeout 60 "$wine" reg add 'HKEY_CURRENT_USER\Software\Wine\X11 Driver' \
        /v Managed /t REG_SZ /d N /f >> "$prefix.boot.log" 2>&1 || fail
fi
timeout 60 "$wineserver" -w
rm -f "$prefix.boot.log"
