#!/usr/bin/env bash
# The Windows release: a zip of the .exe files of a Windows build folder with
# a short read-me (where the update file goes, the firewall prompt, the
# licence, where the source is), the firewall helpers, the licence text and the notices of every
# library linked in, for users who unpack and run; beside it the source the
# .exe files were built from, which the GPL asks to offer with them.
#
#     scripts/release-windows.sh [BUILD_DIR]     (default build-win)
#
# Prints the zip's path: BUILD_DIR/release/qvr-updater-VERSION-windows-x64.zip;
# the source is BUILD_DIR/release/qvr-updater-VERSION-source.tar.gz.
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
cli=$(exe qvr-update.exe)
[ -n "$cli" ] || fail "no qvr-update.exe in $build: build it first"

name=qvr-updater-$version-windows-x64
out=$build/release
stage=$out/$name
source=qvr-updater-$version-source.tar.gz
rm -rf "$stage" "$out/$name.zip" "$out/${source:?}"
mkdir -p "$stage/licenses"
cp "$gui" "$cli" "$stage/"

# Every file gets the time of the last commit (or SOURCE_DATE_EPOCH, or the
# .exe's own time outside a checkout).
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2> /dev/null || stat -c %Y "$gui")}

# Changes not yet committed are part of what was built: a stash commit holds
# them without touching the work tree.
if git rev-parse --verify -q HEAD > /dev/null 2>&1; then
    tree=$(git stash create)
    built_from="commit $(git rev-parse --short=12 HEAD)${tree:+ with changes not yet committed}"
    git archive --format=tar.gz --prefix="qvr-updater-$version/" -o "$out/$source" "${tree:-HEAD}"
else
    built_from="a source tree outside git"
    tar --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner --exclude='./build*' \
        --transform="s,^\.,qvr-updater-$version," -czf "$out/$source" .
fi

# Notepad before 2018 wants CRLF.
sed -e "s/@VERSION@/$version/g" -e "s/@SOURCE@/$source/g" -e "s/@BUILT_FROM@/$built_from/" -e 's/$/\r/' \
    packaging/windows/README.txt.in > "$stage/README.txt"
sed 's/$/\r/' LICENSE > "$stage/LICENSE.txt"
# The firewall rule for the .exe files beside them, and its removal.
for f in allow-firewall.cmd remove-firewall.cmd; do sed 's/$/\r/' "packaging/windows/$f" > "$stage/$f"; done
# The notices of what is linked into the .exe files, as Debian ships them: Debian's
# JUCE, libpng and libjpeg-turbo built from Debian's source packages
# (scripts/build-windows-deps.sh), Debian's zlib and MinGW-w64 runtime for Windows.
for notice in JUCE:juce-modules-source libpng:libpng16-16 libjpeg-turbo:libjpeg62-turbo zlib:libz-mingw-w64 \
    MinGW-w64:mingw-w64-x86-64-dev GCC-runtime:gcc-mingw-w64-base; do
    copyright=/usr/share/doc/${notice#*:}/copyright
    [ -f "$copyright" ] || fail "no $copyright for the notice of ${notice%%:*}"
    sed 's/$/\r/' "$copyright" > "$stage/licenses/${notice%%:*}.txt"
done
find "$stage" -exec touch -d "@$epoch" {} +
(cd "$out" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -D "$name.zip" -@)
rm -rf "$stage"
echo "release-windows: the source beside it: $out/$source" >&2
echo "$out/$name.zip"
