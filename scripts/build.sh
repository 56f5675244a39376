#!/usr/bin/env bash
# Configures and builds with the given preset (default: "default").
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
cmake --preset "$preset" -G Ninja >/dev/null
cmake --build --preset "$preset"
