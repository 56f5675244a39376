#!/usr/bin/env bash
# Builds everything a release offers into dist/, from the committed tree:
# the Debian source package (.dsc, .orig.tar.xz, .debian.tar.xz) and its
# .deb, and Lagoscope for Windows as a zip, a per-user installer and a
# per-machine MSI; then SHA256SUMS, and each file with its size. Refuses a
# tree with uncommitted changes, which would not be in the release.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "$(git status --porcelain --untracked-files=normal)" ]; then
    echo "release.sh: the tree has uncommitted changes; commit or stash them first" >&2
    git status --short >&2
    exit 1
fi
deb=$(scripts/package.sh | tail -n 1)
scripts/package-windows.sh >/dev/null
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
rm -rf dist
mkdir dist
cp "$deb" build-package/lagoscope_"$version".dsc build-package/lagoscope_"$upstream".orig.tar.xz \
    build-package/lagoscope_"$version".debian.tar.xz dist/
cp build-windows-app/package/lagoscope-"$upstream"-windows-x64{.zip,-setup.exe,.msi} dist/
(cd dist && sha256sum -- * >SHA256SUMS)
echo "Lagoscope $version, from $(git rev-parse --short HEAD), in dist/:"
(cd dist && ls -l -- * | awk '{printf "%10d  %s\n", $5, $NF}')
