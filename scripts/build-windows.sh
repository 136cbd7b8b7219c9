#!/usr/bin/env bash
# Cross-builds the 32-bit Windows installer, setup.exe. scripts/release.sh builds what ships.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages cmake ninja-build "${WINDOWS_BUILD_PACKAGES[@]}"
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
ls -l build/windows/setup.exe
