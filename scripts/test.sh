#!/usr/bin/env bash
# Builds everything and runs every test: the Linux installer and its tests under AddressSanitizer
# and UndefinedBehaviorSanitizer, through CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages "${LINUX_BUILD_PACKAGES[@]}"

cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev -j "$(nproc)"
