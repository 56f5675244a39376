#!/usr/bin/env bash
# Builds the Debian package: a Release build of the program alone, packed by
# CPack into build-package/lagoscope_<version>_<arch>.deb. Install it with
# `sudo apt install ./build-package/lagoscope_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dpkg-query -W dpkg-dev >/dev/null 2>&1 || scripts/deps.sh test # dpkg-shlibdeps
# Debian's hardening: fortified functions, the strong stack protector, PIE,
# and relocations read-only from the start (relro, now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON >/dev/null
cmake --build build-package
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/lagoscope_*.deb
