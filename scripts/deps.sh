#!/usr/bin/env bash
# Installs the Debian packages that building and running need, and with
# "test" also those the tests and packaging need, with "full" those of the sanitizers and
# fuzzers too, or with "windows" the cross-compiler, Wine and the Windows
# packaging tools, skipping the download when they are all there already.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-private-dev libgl-dev libcap-dev
    fonts-liberation
    xvfb xauth x11-utils
    iproute2 libcap2-bin qt6-wayland
)
testing=false
recommends=(--no-install-recommends)
case "${1:-}" in
test | full)
    testing=true
    packages+=(locales desktop-file-utils appstream man-db dpkg-dev lintian)
    # The Debian source package, its autopkgtest and the reproducibility check.
    packages+=(debhelper xz-utils autopkgtest diffoscope-minimal)
    # The desktop services the tray and notification tests run against.
    packages+=(dbus-daemon dbus-bin haskell-status-notifier-item-utils trayer dunst)
    # Wayland: a headless compositor and its screenshots, read with ImageMagick.
    packages+=(weston imagemagick)
    # A browser, for the saved report; a router's faults, made with nftables.
    packages+=(chromium nftables)
    # The clang build under the sanitizers, clang-tidy and the fuzzers.
    [ "$1" = full ] && packages+=(clang clang-tidy libclang-rt-14-dev)
    ;;
windows)
    packages+=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev nsis wixl zip xdotool imagemagick x11-apps
        trayer)
    recommends=() # Wine with the libraries it recommends, as it is tested
    ;;
esac

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# A locale with a decimal comma, for the test that number reading ignores it.
german_locale() {
    locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' ||
        "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${recommends[@]}" "${missing[@]}"
fi
if $testing; then german_locale; fi
