#!/usr/bin/env bash
# Builds Qt for 64-bit Windows from Debian's own qt6-base source, the version
# of the installed qt6-base-dev, cross-compiled with mingw-w64 and using the
# installed Linux Qt as host tools. Only what the program needs is built.
# The result is cached per machine, keyed by the Qt version, the compiler
# and the configure line, so later runs take seconds; the cache's stable
# name (qt6-windows) always points at the build in use. Prints how long each
# step took. Needs deb-src entries for Debian's repositories, which it adds
# (through sudo) when they are missing; nothing comes from anywhere else.
# With --source it only fetches the source, the one step that uses apt.
set -euo pipefail
cd "$(dirname "$0")/.."
# The cache lives in the home folder, where the windows preset looks for it.
HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export HOME
root=$PWD
# The windows preset finds Qt under this name.
cache=$HOME/.cache/lagoscope
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
compiler=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)
configure=(-release -shared -xplatform win32-g++ -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu -no-zstd -no-libjpeg -no-freetype
    -qt-zlib -qt-pcre -qt-harfbuzz -qt-libpng -qt-doubleconversion
    -no-feature-sql -no-feature-network -no-feature-printsupport
    -no-feature-concurrent -no-feature-xml -no-feature-vulkan
    -no-feature-direct2d -no-feature-tabletevent
    # Qt 6.4 cannot link the Windows platform plugin with DirectWrite 3 alone.
    -no-feature-directwrite3
    # What the program does not use, for a shorter first build. The xpm
    # format stays: drag and drop needs it, and Qt 6.4 does not build without.
    -no-feature-graphicsview -no-feature-mdiarea -no-feature-calendarwidget
    -no-feature-datetimeedit -no-feature-dockwidget -no-feature-fontdialog
    -no-feature-colordialog -no-feature-wizard
    -no-feature-undoview -no-feature-columnview -no-feature-treewidget
    -no-feature-tablewidget -no-feature-listwidget -no-feature-lcdnumber
    -no-feature-dial -no-feature-splashscreen -no-feature-toolbox
    -no-feature-fontcombobox -no-feature-keysequenceedit
    -no-feature-syntaxhighlighter -no-feature-pdf -no-feature-textodfwriter
    -no-feature-textmarkdownreader -no-feature-textmarkdownwriter
    -no-feature-movie -no-feature-imageformat_ppm -no-feature-imageformat_xbm
    -no-feature-mimetype -no-feature-sharedmemory -no-feature-systemsemaphore
    -qt-host-path /usr)
key=$(printf '%s\n' "$version" "$compiler" "${configure[*]}" "$(cat cmake/mingw-w64.cmake)" |
    sha256sum | cut -c1-12)
prefix=$cache/qt6-windows-${version%%+*}-$key

step_start=0
step() { step_start=$(date +%s); printf '%s ... ' "$1"; }
done_step() { echo "$(($(date +%s) - step_start)) s"; }

# The source depends on the version alone, not on the configure line.
qt_source=$cache/qt6-base-$version-source

fetch_source() {
    [ -f "$qt_source/.complete" ] && return
    step "Debian source entries"
    if ! apt-get source --print-uris -qq "qt6-base=$version" >/dev/null 2>&1; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            "${sudo[@]}" tee /etc/apt/sources.list.d/lagoscope-deb-src.sources >/dev/null
        "${sudo[@]}" apt-get update -qq
    fi
    done_step

    step "qt6-base $version source from Debian"
    rm -rf "$qt_source"
    mkdir -p "$qt_source"
    (cd "$qt_source" && apt-get source --download-only -qq "qt6-base=$version" >/dev/null &&
        dpkg-source --no-check -x qt6-base_*.dsc src >/dev/null)
    touch "$qt_source/.complete"
    done_step
}

if [ ! -f "$prefix/.complete" ]; then
    fetch_source
    [ "${1:-}" = --source ] && exit
    work=$cache/work-$key
    rm -rf "$work"
    mkdir -p "$work/build"

    step "configure"
    (cd "$work/build" && "$qt_source/src/configure" -prefix "$prefix" "${configure[@]}" -- \
        -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake) >"$work/configure.log" 2>&1 ||
        { tail -40 "$work/configure.log"; exit 1; }
    done_step

    step "build"
    cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" 2>&1 ||
        { tail -40 "$work/build.log"; exit 1; }
    done_step

    step "install"
    cmake --install "$work/build" >/dev/null
    touch "$prefix/.complete"
    rm -rf "$work" "$qt_source"
    done_step
fi
ln -sfn "$prefix" "$cache/qt6-windows"
echo "Qt for Windows: $cache/qt6-windows -> $prefix ($(du -sh "$prefix" | cut -f1))"
