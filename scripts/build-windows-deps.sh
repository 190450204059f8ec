#!/usr/bin/env bash
# Builds static libpng and libjpeg for 64-bit Windows with MinGW-w64 from
# Debian's own source packages, into a prefix cached outside the work tree.
# Prints the prefix on its last line. A prefix that is complete for the same
# source versions and compiler is reused as it is.
#
#     scripts/build-windows-deps.sh [CACHE_ROOT]     (default /var/cache/qvr-mingw)
#
# The sources come through a private apt configuration that adds deb-src for
# the release this machine runs; the system's own apt setup is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
src_root=$PWD

cache_root=${1:-${QVR_MINGW_CACHE:-/var/cache/qvr-mingw}}
triple=x86_64-w64-mingw32
jobs=${QVR_JOBS:-2}

# Versions we know to build; the current one of the release is the fallback.
png_source=libpng1.6
png_pinned=1.6.39-2+deb12u5
jpeg_source=libjpeg-turbo
jpeg_pinned=1:2.1.5-2

log() { echo "windows-deps: $*" >&2; }

. /etc/os-release
codename=${VERSION_CODENAME:?no release codename in /etc/os-release}

mkdir -p "$cache_root"
apt_dir="$cache_root/apt-$codename"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
cat > "$apt_dir/sources.list" <<SOURCES
deb-src http://deb.debian.org/debian $codename main
deb-src http://deb.debian.org/debian $codename-updates main
deb-src http://deb.debian.org/debian-security $codename-security main
SOURCES

apt_private=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir"
    -o "Dir::Cache::archives=$apt_dir/archives"
    -o "APT::Sandbox::User=root"
)

lists_fresh()
{
    # One refresh a day is plenty for source versions.
    [ -n "$(find "$apt_dir/lists" -maxdepth 1 -name '*Sources*' -mmin -1440 2> /dev/null | head -n 1)" ]
}

if ! lists_fresh; then
    log "updating the private source lists"
    apt-get "${apt_private[@]}" update -qq > "$apt_dir/update.log" 2>&1 || {
        cat "$apt_dir/update.log" >&2
        exit 1
    }
fi

# Versions to try, best first: the pinned one when the archive lists it, then
# the listed ones newest first (a listed security version is not always served).
candidates() # source pinned
{
    local versions
    versions=$(apt-cache "${apt_private[@]}" showsrc "$1" 2> /dev/null | awk '/^Version:/ {print $2}' | sort -u)
    [ -n "$versions" ] || { log "no source package $1 listed"; return 1; }
    grep -qxF "$2" <<< "$versions" && echo "$2"
    local v
    for v in $versions; do
        [ "$v" = "$2" ] || echo "$v"
    done | sort -r -V
}

gcc_version=$($triple-gcc-posix -dumpversion)
safe() { echo "${1//[:+~]/_}"; }

mapfile -t png_versions < <(candidates "$png_source" "$png_pinned")
mapfile -t jpeg_versions < <(candidates "$jpeg_source" "$jpeg_pinned")

prefix_for() # png-version jpeg-version
{
    echo "$cache_root/png-$(safe "$1")-jpeg-$(safe "$2")-gcc-$gcc_version"
}

for pv in "${png_versions[@]}"; do
    for jv in "${jpeg_versions[@]}"; do
        if [ -f "$(prefix_for "$pv" "$jv")/.complete" ]; then
            log "reusing $(prefix_for "$pv" "$jv")"
            prefix_for "$pv" "$jv"
            exit 0
        fi
    done
done

work=$(mktemp -d "$cache_root/work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Downloads and unpacks the first candidate that the archive really serves;
# sets fetched_version and fetched_dir.
fetch() # source versions...
{
    local source=$1; shift
    local v dir
    for v in "$@"; do
        dir="$work/$source-$(safe "$v")"
        mkdir -p "$dir"
        if (cd "$dir" && apt-get "${apt_private[@]}" source -qq --download-only "$source=$v" > fetch.log 2>&1); then
            (cd "$dir" && dpkg-source -x --no-check ./*.dsc unpacked > /dev/null)
            fetched_version=$v
            fetched_dir=$dir/unpacked
            return 0
        fi
        log "$source $v is listed but not served; trying the next version"
    done
    log "no version of $source could be fetched"
    return 1
}

fetch "$png_source" "${png_versions[@]}"
png_version=$fetched_version png_src=$fetched_dir
fetch "$jpeg_source" "${jpeg_versions[@]}"
jpeg_version=$fetched_version jpeg_src=$fetched_dir

prefix=$(prefix_for "$png_version" "$jpeg_version")
rm -rf "$prefix"
mkdir -p "$prefix"

toolchain="$src_root/cmake/mingw-w64-x86_64.cmake"
cross_cmake() # source build extra...
{
    local s=$1 b=$2; shift 2
    cmake -S "$s" -B "$b" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_C_COMPILER_LAUNCHER= \
        "$@" > "$b.configure.log" 2>&1 || { cat "$b.configure.log" >&2; return 1; }
    cmake --build "$b" -j "$jobs" > "$b.build.log" 2>&1 || { tail -n 40 "$b.build.log" >&2; return 1; }
    cmake --install "$b" > /dev/null
}

log "building libpng $png_version"
cross_cmake "$png_src" "$work/png-build" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_USE_STATIC_LIBS=ON -DZLIB_LIBRARY=/usr/$triple/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$triple/include

log "building libjpeg $jpeg_version"
cross_cmake "$jpeg_src" "$work/jpeg-build" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF \
    -DCMAKE_INSTALL_DEFAULT_LIBDIR=lib

# JUCE's JPEG reader defines JPEG_INTERNALS and so includes jpegint.h, which
# libjpeg does not install.
install -m 644 "$jpeg_src/jpegint.h" "$prefix/include/jpegint.h"

# libjpeg's jconfig.h leaves 'boolean' to windows.h when that came first
# (through rpcndr.h); JUCE includes jpeglib.h after windows.h in a namespace
# of its own, where that typedef is not seen. Define it unconditionally.
jconfig="$prefix/include/jconfig.h"
if ! grep -q 'QVR_BOOLEAN_DEFINED' "$jconfig"; then
    cat >> "$jconfig" <<'FIX'

/* Added for MinGW builds: 'boolean' is always ours. */
#ifndef QVR_BOOLEAN_DEFINED
#define QVR_BOOLEAN_DEFINED
#ifndef HAVE_BOOLEAN
#define HAVE_BOOLEAN
#endif
typedef unsigned char boolean;
#endif
FIX
fi

for f in lib/libpng16.a lib/libpng.a lib/libjpeg.a include/png.h include/jpeglib.h include/jpegint.h; do
    [ -e "$prefix/$f" ] || { log "missing $prefix/$f after the build"; exit 1; }
done

touch "$prefix/.complete"
log "built $prefix"
echo "$prefix"
