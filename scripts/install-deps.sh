#!/usr/bin/env bash
# Installs the Debian packages a command needs; skips whatever is installed
# already, so running it again costs a second.
#
#     scripts/install-deps.sh [--run | --test] [--windows] [--deb]
#
#   --run      (default) building the tool and starting its window: compiler,
#              CMake, JUCE, the X11 headers, the fonts, the Japanese locale
#   --test     the above and the test tool-chain: GoogleTest, the virtual
#              display and its helpers, OCR
#   --windows  the MinGW cross-build and Wine; --deb the package checks
#
# Not as root, it says what is missing and how to install it (QVR_RERUN: the
# caller's command, to repeat with sudo).
set -euo pipefail

run_packages=(
    cmake g++ ninja-build ccache pkg-config python3
    juce-modules-source
    libfreetype-dev libfontconfig1-dev libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev
    fonts-liberation2 fonts-ipafont-gothic locales
)
test_packages=(
    libgtest-dev googletest
    xvfb xauth xdotool x11-utils python3-xlib imagemagick iproute2 procps psmisc nftables
    tesseract-ocr tesseract-ocr-eng tesseract-ocr-jpn
)

packages=("${run_packages[@]}")
for stage in "$@"; do
    case $stage in
        --run) ;;
        --test) packages+=("${test_packages[@]}") ;;
        --windows) packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev wine64 dpkg-dev python3-pefile zip) ;;
        # The firewall readers' own libraries; ufw and firewalld themselves are
        # only ever unpacked (scripts/test-deb.sh), never installed and started.
        --deb) packages+=(dpkg-dev lintian desktop-file-utils shared-mime-info libglib2.0-bin
                          python3-gi python3-dbus gir1.2-glib-2.0 python3-nftables) ;;
        *) echo "install-deps: unknown set $stage" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Registered with the locales package, so that its next update (which rebuilds
# every locale listed in /etc/locale.gen) keeps it; a bare localedef is lost then.
locale_line='ja_JP.UTF-8 UTF-8'
locale_gen=/etc/locale.gen
locale_listed() { grep -qx "$locale_line" "$locale_gen" 2> /dev/null; }
locale_built() { locale -a 2> /dev/null | grep -qi '^ja_JP\.utf-\?8$'; }

if [ "$(id -u)" -ne 0 ]; then
    if [ ${#missing[@]} -gt 0 ]; then
        cat >&2 <<EOF
install-deps: these packages are missing, and installing them needs root:
    ${missing[*]}
Install them and run the command again:
    sudo apt-get install --no-install-recommends ${missing[*]}
or run the whole command as root:
    sudo ${QVR_RERUN:-the same command}
EOF
        exit 1
    fi
    if ! locale_listed || ! locale_built; then
        echo "install-deps: no Japanese locale, so the tool offers English only; to add it (root):" >&2
        echo "    sudo sh -c \"echo '$locale_line' >> /etc/locale.gen && locale-gen --keep-existing\"" >&2
    fi
    exit 0
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! locale_listed; then
    if grep -q "^# *$locale_line\$" "$locale_gen" 2> /dev/null; then
        sed -i "s/^# *$locale_line\$/$locale_line/" "$locale_gen"
    else
        echo "$locale_line" >> "$locale_gen"
    fi
fi
# --keep-existing: the others' locales stay usable while this one is built.
locale_built || locale-gen --keep-existing > /dev/null
