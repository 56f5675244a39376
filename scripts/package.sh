#!/usr/bin/env bash
# Builds the Debian source package and the binary package from the committed
# tree (HEAD; uncommitted changes are not in it), as a distribution would:
# the upstream tarball lagoscope_VERSION.orig.tar.xz (the tree without
# debian/), then dpkg-buildpackage -us -uc in a fresh copy with debian/
# added. Into build-package/, or the folder given: the .dsc, .orig.tar.xz,
# .debian.tar.xz, .deb, .buildinfo and .changes; the build's log in
# build.log. Prints the .deb's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test >/dev/null
out=${1:-build-package}
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
tree=$out/lagoscope-$upstream
rm -rf "$out"
mkdir -p "$out"
# The same tarball for the same commit: git archive stamps the commit's time,
# and xz on one thread packs the same bytes the same way.
git archive --format=tar --prefix="lagoscope-$upstream/" HEAD -- . ':!debian' |
    xz -6 -T1 >"$out/lagoscope_$upstream.orig.tar.xz"
tar -xf "$out/lagoscope_$upstream.orig.tar.xz" -C "$out"
git archive --format=tar HEAD debian | tar -x -C "$tree"
(cd "$tree" && dpkg-buildpackage -us -uc) >"$out/build.log" 2>&1 ||
    { tail -30 "$out/build.log"; exit 1; }
ls "$out"/lagoscope_"$version"_*.deb
