#!/usr/bin/env bash
# The Windows release: a zip of the .exe files of a Windows build folder with
# a short read-me (where the update file goes, the firewall prompt, the
# licence) and the licence text, for users who unpack and run.
#
#     scripts/release-windows.sh [BUILD_DIR]     (default build-win)
#
# Prints the zip's path: BUILD_DIR/release/qvr-updater-VERSION-windows-x64.zip.
# The same .exe files and commit give the same zip (fixed times, no extra fields).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}

fail() { echo "release-windows: $*" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2> /dev/null) ||
    fail "$build is no configured build folder"
[ -n "$version" ] || fail "$build is no configured build folder"

exe() { find "$build" -name "$1" -not -path '*/CMakeFiles/*' | head -n 1; }
gui=$(exe QvrUpdater.exe)
[ -n "$gui" ] || fail "no QvrUpdater.exe in $build: build it first"
files=("$gui")
cli=
if [ -f src/cli/CMakeLists.txt ]; then
    cli=$(exe qvr-update.exe)
    [ -n "$cli" ] || fail "no qvr-update.exe in $build: build it first"
    files+=("$cli")
fi

name=qvr-updater-$version-windows-x64
out=$build/release
stage=$out/$name
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage"
cp "${files[@]}" "$stage/"
# Lines marked [cli] speak of qvr-update.exe; Notepad before 2018 wants CRLF.
if [ -n "$cli" ]; then keep='s/^\[cli\] //'; else keep='/^\[cli\] /d'; fi
sed -e "$keep" -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/windows/README.txt.in > "$stage/README.txt"
sed 's/$/\r/' LICENSE > "$stage/LICENSE.txt"
# The firewall rules for the .exe files beside them, and their removal.
for f in allow-firewall.cmd remove-firewall.cmd; do sed 's/$/\r/' "packaging/windows/$f" > "$stage/$f"; done

# Every file gets the time of the last commit (or SOURCE_DATE_EPOCH, or the
# .exe's own time outside a checkout).
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2> /dev/null || stat -c %Y "$gui")}
find "$stage" -exec touch -d "@$epoch" {} +
(cd "$out" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -D "$name.zip" -@)
rm -rf "$stage"
echo "$out/$name.zip"
