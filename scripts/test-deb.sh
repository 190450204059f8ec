#!/usr/bin/env bash
# The Debian package stage: builds the package from a Linux build folder,
# checks what it declares and holds (lintian, the menu entry, the file type,
# the firewall profiles), unpacks it into a scratch root and runs the
# installed launcher and binary through the end-to-end cases.
#
#     scripts/test-deb.sh [BUILD_DIR]     (default build, as scripts/test.sh leaves it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

QVR_RERUN="scripts/test-deb.sh $*" scripts/install-deps.sh --test --deb

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja > /dev/null
cmake --build "$build" -j "$(nproc)" --target QvrUpdater qvr-update

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
# What nothing below would miss: lintian wants each program's manual page, and
# the other files are read or run from the unpacked package.
expected=(./usr/bin/qvr-update)
for s in 48 128 256; do expected+=("./usr/share/icons/hicolor/${s}x$s/apps/qvr-updater.png"); done
for f in "${expected[@]}"; do
    grep -qxF "$f" <<< "$contents" || fail "the package lacks $f"
done

echo "== Debian package: lintian"
status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<< "$report" || true
[ $status -eq 0 ] || fail "lintian reports errors or warnings (above)"

root=$(mktemp -d /tmp/qvr-deb.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/qvr-updater.desktop"

# The package's file type, in a MIME database of its own: an update file is
# known by its name and, renamed, by its first bytes.
mkdir -p "$root/xdg/mime/packages"
cp "$root/usr/share/mime/packages/qvr-updater.xml" "$root/xdg/mime/packages/"
XDG_DATA_HOME="$root/xdg" update-mime-database "$root/xdg/mime"
for f in x.upd firmware; do
    printf 'QVR-700\0\1' > "$root/$f"
    type=$(XDG_DATA_HOME="$root/xdg" gio info -a standard::content-type "$root/$f" | sed -n 's/^ *standard::content-type: //p')
    [ "$type" = application/x-qvr-update ] || fail "$f is taken for ${type:-nothing}, not application/x-qvr-update"
done

# The firewall profiles, read by ufw's and firewalld's own readers. Installing
# either package would enable (and on most machines start) a firewall here, so
# they are only unpacked, from a cache of their .deb files; both readers only
# look in /etc and /usr/lib, hence the detours.
readers=/var/cache/qvr-firewall-readers
mkdir -p "$readers"
for p in ufw python3-firewall firewalld; do
    if ! ls "$readers/${p}_"*.deb > /dev/null 2>&1; then
        fetch=$(mktemp -d "$readers/.fetch.XXXXXX")
        (cd "$fetch" && apt-get -o APT::Sandbox::User=root download -qq "$p") || fail "cannot download $p (apt-get update?)"
        mv "$fetch"/*.deb "$readers/" && rmdir "$fetch"
    fi
    dpkg -x "$readers/${p}_"*.deb "$root/readers"
done
export PYTHONPATH=$root/readers/usr/lib/python3/dist-packages
mkdir -p "$root/firewalld/services" && touch "$root/firewalld/firewalld.conf"
cp "$root/usr/lib/firewalld/services/qvr-updater.xml" "$root/firewalld/services/"
info=$(/usr/bin/python3 "$root/readers/usr/bin/firewall-offline-cmd" --default-config "$root/readers/usr/lib/firewalld" \
    --system-config "$root/firewalld" --info-service=qvr-updater 2> /dev/null) || true
grep -qx ' *ports: 54000/tcp' <<< "$info" || fail "firewalld does not read the service qvr-updater as TCP port 54000"
/usr/bin/python3 - "$root/etc/ufw/applications.d" <<'PY' || fail "ufw does not read the profile qvr-updater as TCP port 54000"
import gettext, sys
gettext.install("ufw")
from ufw.applications import get_profiles  # leaves out a profile it finds invalid
profile = get_profiles(sys.argv[1]).get("qvr-updater", {})
sys.exit(0 if profile.get("ports") == "54000/tcp" and profile.get("title") and profile.get("description") else 1)
PY
unset PYTHONPATH

echo "== Debian package: the launcher around a stand-in, then end-to-end from the scratch root"
tests/deb/test-launcher.sh "$root/usr/bin/qvr-updater"
/usr/bin/python3 tests/deb/test_deb_e2e.py --root "$root" --source "$PWD"
echo "== Debian package: passed"
