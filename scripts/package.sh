#!/usr/bin/env bash
# Builds the Debian package: a Release build of the program alone, packed by
# CPack into build-package/lagoscope_<version>_<arch>.deb. Install it with
# `sudo apt install ./build-package/lagoscope_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dpkg-query -W dpkg-dev >/dev/null 2>&1 || scripts/deps.sh test # dpkg-shlibdeps
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-package --target lagoscope
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/lagoscope_*.deb
