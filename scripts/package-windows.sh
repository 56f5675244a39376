#!/usr/bin/env bash
# Builds the whole program for Windows x64 (the windows preset, against the
# Qt that scripts/windows-qt.sh builds from Debian's source) and packages it
# in build-windows-app/package: the Lagoscope folder ready to run (the
# program, the Qt DLLs and plugins it loads, the MinGW-w64 runtime, the
# licence and a README), the same as lagoscope-VERSION-windows-x64.zip, and
# an installer made with NSIS, lagoscope-VERSION-windows-x64-setup.exe, and
# a per-machine MSI made with wixl, lagoscope-VERSION-windows-x64.msi.
set -euo pipefail
cd "$(dirname "$0")/.."
# The cache lives in the home folder, where the windows preset looks for it.
HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export HOME
scripts/deps.sh windows
scripts/windows-qt.sh
scripts/build.sh windows

version=$(sed -n 's/^project(Lagoscope VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
qt=$HOME/.cache/lagoscope/qt6-windows
out=build-windows-app/package
folder=$out/Lagoscope
name=lagoscope-$version-windows-x64
rm -rf "$out"
mkdir -p "$folder/platforms" "$folder/styles"

cp build-windows-app/app/lagoscope.exe "$qt"/bin/Qt6{Core,Gui,Widgets}.dll "$folder/"
cp "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")" "$folder/"
done
x86_64-w64-mingw32-strip "$folder"/*.exe "$folder"/*.dll "$folder"/*/*.dll
# Text files in Windows' line endings, so that Notepad shows them right.
sed 's/$/\r/' LICENSE >"$folder/LICENSE.txt"
sed "s/@VERSION@/$version/; s/\$/\r/" data/windows/README.txt >"$folder/README.txt"

(cd "$out" && zip -qr "$name.zip" Lagoscope)

# The uninstaller removes exactly the files installed.
(cd "$folder" && find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|^|    Delete "$INSTDIR\\|; s|$|"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|^|    RMDir "$INSTDIR\\|; s|$|"|') \
    >"$out/files.nsh"
makensis -V2 -DVERSION="$version" -DSOURCE="$PWD/$folder" -DOUTFILE="$PWD/$out/$name-setup.exe" \
    -DICON="$PWD/data/icons/lagoscope.ico" -DFILELIST="$PWD/$out/files.nsh" data/windows/lagoscope.nsi
rm "$out/files.nsh"

# The MSI: the program with its Start-menu shortcut, and every other file
# of the folder as a component of its own.
(cd "$out" && find Lagoscope -type f ! -name lagoscope.exe | sort) |
    wixl-heat --prefix Lagoscope/ --directory-ref INSTALLDIR --component-group Files \
        --var var.SourceDir | sed 's/<Component /<Component Win64="yes" /' >"$out/files.wxs"
# wixl finds sources by relative paths only.
wixl -a x64 -D Version="$version" -D SourceDir="$folder" -D Icon=data/icons/lagoscope.ico \
    -o "$out/$name.msi" data/windows/lagoscope.wxs "$out/files.wxs"
rm "$out/files.wxs"
du -h "$out/$name.zip" "$out/$name-setup.exe" "$out/$name.msi"
du -sh "$folder"
