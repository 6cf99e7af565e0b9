#!/usr/bin/env bash
# The main job: build, then acquire from the built-in simulated device.
# Extra arguments go to vexa-demo (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${VEXA_BUILD_PACKAGES[@]}"

cmake --preset default >/dev/null
cmake --build --preset default --target vexa-demo -- -j2
exec build/default/cpp_project/tools/vexa-demo "$@"
