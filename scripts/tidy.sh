#!/usr/bin/env bash
# Runs clang-tidy with the checks in .clang-tidy over the program's own code
# (app/, lag/, echo/), from the compile commands of the ci build. Fails on
# any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh full
scripts/build.sh ci >/dev/null
# The compile commands without the precompiled headers, which are g++'s.
mkdir -p build-ci/tidy
sed -E 's/ -Winvalid-pch -include [^ ]*cmake_pch\.hxx//' build-ci/compile_commands.json \
    >build-ci/tidy/compile_commands.json
run-clang-tidy -quiet -p build-ci/tidy -j "$(nproc)" "^$PWD/(app|lag|echo)/.*\.cpp$" >build-ci/tidy.log 2>&1 ||
    { grep -E 'error:|warning:' build-ci/tidy.log; exit 1; }
echo "clang-tidy: no findings in $(git ls-files 'app/*.cpp' 'lag/*.cpp' 'echo/*.cpp' 'echo/**/*.cpp' | sort -u | wc -l) files"
