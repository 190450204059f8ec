#!/usr/bin/env bash
# The Debian package stage: builds the package from a Linux build folder,
# checks what it declares and holds, unpacks it into a scratch root and runs
# the installed launcher and binary through the end-to-end cases.
#
#     scripts/test-deb.sh [BUILD_DIR]     (default build, as scripts/test.sh leaves it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh --deb
export CCACHE_BASEDIR="$PWD"

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja > /dev/null
cmake --build "$build" -j "$(nproc)" --target QvrUpdater

echo "== Debian package"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB > cpack.log) || { cat "$build/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/packages/qvr-updater_*.deb)
echo "$deb ($(du -h "$deb" | cut -f1))"

fail() { echo "test-deb: $*" >&2; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
for p in fonts-liberation2 fonts-ipafont-gothic libfreetype6 libc6; do
    grep -q "\b$p\b" <<< "$depends" || fail "Depends lacks $p: $depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/qvr-updater ./usr/lib/qvr-updater/QvrUpdater \
         ./usr/share/applications/qvr-updater.desktop ./usr/share/icons/hicolor/256x256/apps/qvr-updater.png; do
    grep -qxF "$f" <<< "$contents" || fail "the package lacks $f"
done

root=$(mktemp -d /tmp/qvr-deb.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$root/usr/share/applications/qvr-updater.desktop"
fi

echo "== Debian package: end-to-end from the scratch root"
/usr/bin/python3 tests/deb/test_deb_e2e.py --root "$root" --source "$PWD"
echo "== Debian package: passed"
