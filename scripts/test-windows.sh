#!/usr/bin/env bash
# The Windows stage: cross-builds the tool and the core tests for 64-bit
# Windows (MinGW-w64, static), runs the tests through Wine, then the tool's
# end-to-end cases under Wine in a private namespace pair.
#
#     scripts/test-windows.sh [--quick]     --quick: no end-to-end cases
#
# Uses build-win/ and the libpng/libjpeg cache of scripts/build-windows-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

QVR_RERUN="scripts/test-windows.sh $*" scripts/install-deps.sh --test --windows

export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)

echo "== Windows: libpng and libjpeg for MinGW"
prefix=$(scripts/build-windows-deps.sh | tail -n 1)

echo "== Windows: cross-build"
cmake -S . -B build-win -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DQVR_MINGW_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build-win -j "$jobs"

echo "== Windows: release zip, version resources and manifests"
zip=$(scripts/release-windows.sh build-win)
/usr/bin/python3 - "$zip" packaging/windows/app.manifest <<'PY'
import os, re, sys, tarfile, zipfile, pefile
path, manifest = sys.argv[1], open(sys.argv[2], "rb").read()
version = re.search(r"qvr-updater-([0-9.]+)-windows", path).group(1)
exes = {"QvrUpdater.exe": "QVR Firmware Downloader", "qvr-update.exe": None}  # None: any description of its own
source = f"qvr-updater-{version}-source.tar.gz"
notices = {f"licenses/{n}.txt": mark for n, mark in (("JUCE", "License: GPL-3"), ("libpng", "libpng"),
           ("libjpeg-turbo", "libjpeg-turbo"), ("zlib", "Jean-loup Gailly"), ("MinGW-w64", "MinGW-w64"),
           ("GCC-runtime", "GCC RUNTIME LIBRARY EXCEPTION"))}
faults = []
archive = os.path.join(os.path.dirname(path), source)
if not os.path.exists(archive) or f"qvr-updater-{version}/src/app/Main.cpp" not in tarfile.open(archive).getnames():
    faults.append(f"no {source} with the source beside the zip")
with zipfile.ZipFile(path) as z:
    names = {n.split("/", 1)[1]: n for n in z.namelist() if "/" in n}
    faults += [f"the zip lacks {n}" for n in ("README.txt", "LICENSE.txt", "allow-firewall.cmd", "remove-firewall.cmd", *exes, *notices) if n not in names]
    faults += [f"{n} does not read like its notice" for n, mark in notices.items() if n in names
               and mark not in z.read(names[n]).decode(errors="replace")]
    if "README.txt" in names and source not in z.read(names["README.txt"]).decode():
        faults.append(f"README.txt does not name {source}")
    for exe, description in ((e, d) for e, d in exes.items() if e in names):
        pe = pefile.PE(data=z.read(names[exe]))
        info = {k.decode(): v.decode() for fi in pe.FileInfo[0] if fi.Key == b"StringFileInfo"
                for table in fi.StringTable for k, v in table.entries.items()}
        fixed = pe.VS_FIXEDFILEINFO[0]
        manifests = [e.directory.entries[0].directory.entries[0].data.struct for e in pe.DIRECTORY_ENTRY_RESOURCE.entries
                     if e.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]]
        checks = [  # what, found, expected
            ("FileDescription", info.get("FileDescription") if description else bool(info.get("FileDescription")), description or True),
            ("LegalCopyright names GPL-3.0", "GPL-3.0" in info.get("LegalCopyright", ""), True),
            ("FileVersion, ProductVersion", (info.get("FileVersion"), info.get("ProductVersion")), (version, version)),
            ("version numbers", f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}.{fixed.FileVersionLS >> 16}", version),
            # The one manifest, ours (Windows 10 and 11, per-monitor DPI), in place of JUCE's: no elevation asked.
            ("manifest is app.manifest, asInvoker", [pe.get_data(m.OffsetToData, m.Size) for m in manifests] == [manifest]
             and b'level="asInvoker"' in manifest, True),
        ]
        faults += [f"{exe}: {what} is {found!r}, not {expected!r}" for what, found, expected in checks if found != expected]
print("\n".join(faults) or f"{path}: {', '.join(exes)} carry their version resource and manifest")
sys.exit(1 if faults else 0)
PY

# shellcheck source=scripts/netns.sh
. scripts/netns.sh
QVR_TMP=$(mktemp -d /tmp/qvr-win.XXXXXX)
export WINEPREFIX="$QVR_TMP/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

end_wine() { /usr/lib/wine/wineserver -k 2> /dev/null || true; }
cleanup() { end_wine; qvr_cleanup; }
trap cleanup EXIT
trap 'cleanup; trap - EXIT; exit 130' INT
trap 'cleanup; trap - EXIT; exit 143' TERM HUP

echo "== Windows: core tests under Wine"
scripts/wine-prefix.sh "$WINEPREFIX"
qvr_xvfb_start
ctest --test-dir build-win -L windows -LE e2e --timeout 300
end_wine

if [ $quick -eq 0 ]; then
    echo "== Windows: end-to-end under Wine"
    # Each case makes its own prefix inside its own namespace pair.
    ctest --test-dir build-win -L e2e --timeout 400
fi

echo "== Windows: passed"
