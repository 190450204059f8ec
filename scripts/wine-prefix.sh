#!/usr/bin/env bash
# Makes a fresh Wine prefix for running the cross-built tool and its tests on a
# virtual display:
#     scripts/wine-prefix.sh PREFIX
# No add-ons (Mono, Gecko) are installed. "Arial" and "MS UI Gothic", the
# fonts the tool's texts name, are mapped to Debian's Liberation Sans and
# IPAGothic. Windows stay unmanaged, as no window manager runs on Xvfb: a
# managed window that is hidden makes Wine wait 2 s for one to withdraw it, so
# a box with its four drop-shadow windows took 10 s to close. Whatever
# namespace this runs in, Wine's server stays in it until `wineserver -k`; the
# caller cleans up.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
reg=$(cd "$(dirname "$0")/../packaging/windows" && pwd)/wine-fonts.reg
wine=/usr/lib/wine/wine64

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY # wineboot needs no window

fail() { cat "$prefix.boot.log" >&2; exit 1; }

rm -rf "$prefix"
mkdir -p "$prefix"
timeout 120 "$wine" wineboot --init > "$prefix.boot.log" 2>&1 || fail
timeout 60 "$wine" regedit /S "Z:${reg//\//\\}" >> "$prefix.boot.log" 2>&1 || fail
timeout 60 "$wine" reg add 'HKEY_CURRENT_USER\Software\Wine\X11 Driver' \
    /v Managed /t REG_SZ /d N /f >> "$prefix.boot.log" 2>&1 || fail
timeout 60 /usr/lib/wine/wineserver -w
rm -f "$prefix.boot.log"
