#!/usr/bin/env bash
# Cross-builds the 32-bit Windows programs, setup.exe and uninstall.exe, into build/windows with
# Debian's mingw-w64 toolchain, and lists them with their sizes. scripts/release.sh builds what
# ships.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages cmake ninja-build "${WINDOWS_BUILD_PACKAGES[@]}"
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
ls -l build/windows/setup.exe build/windows/uninstall.exe
