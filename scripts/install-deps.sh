#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tool need; skips
# whatever is installed already, so running it again costs a second.
set -euo pipefail

packages=(
    cmake g++ ninja-build ccache pkg-config python3
    juce-modules-source libgtest-dev googletest
    libfreetype-dev libfontconfig1-dev libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev
    fonts-liberation2 fonts-ipafont-gothic locales
    xvfb xauth xdotool x11-utils imagemagick iproute2 procps psmisc nftables
    tesseract-ocr tesseract-ocr-eng tesseract-ocr-jpn
    clang-14 libclang-rt-14-dev
)

# Extra stages: --windows (cross-build and Wine), --deb (the Debian package).
for stage in "$@"; do
    case $stage in
        --windows) packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev wine64 dpkg-dev python3-pefile zip) ;;
        --deb) packages+=(dpkg-dev lintian desktop-file-utils shared-mime-info libglib2.0-bin) ;;
        *) echo "install-deps: unknown stage $stage" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The end-to-end tests start the tool in Japanese; a Japanese locale must exist for that.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || true
fi
