#!/usr/bin/env bash
# Makes a fresh Wine prefix for running the cross-built tool and its tests:
#     scripts/wine-prefix.sh PREFIX
# No add-ons (Mono, Gecko) are installed. "Arial" and "MS UI Gothic", the
# fonts the tool's texts name, are mapped to Debian's Liberation Sans and
# IPAGothic. Whatever namespace this runs in, Wine's server stays in it until
# `wineserver -k`; the caller cleans up.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
here=$(cd "$(dirname "$0")" && pwd)

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY # wineboot needs no window

rm -rf "$prefix"
mkdir -p "$prefix"
timeout 120 "$wine" wineboot --init > "$prefix.boot.log" 2>&1 || { cat "$prefix.boot.log" >&2; exit 1; }
reg=$(cd "$here/../packaging/windows" && pwd)/wine-fonts.reg
timeout 60 "$wine" regedit /S "Z:${reg//\//\\}" \
    >> "$prefix.boot.log" 2>&1 || { cat "$prefix.boot.log" >&2; exit 1; }
timeout 60 "$wineserver" -w
rm -f "$prefix.boot.log"
