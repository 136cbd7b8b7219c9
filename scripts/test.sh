#!/usr/bin/env bash
# Builds everything and runs every test through CTest: the Linux installer and its tests under
# AddressSanitizer and UndefinedBehaviorSanitizer (fault injection, bad input and concurrency
# included), the Windows installer, cross-built with mingw-w64 and tested under Wine, the
# release, built twice from two fresh clones of the last commit and required to be the same bytes
# (scripts/check-release.sh), and the profile engine's fuzz target, replaying its saved inputs and
# then fuzzing for a bounded time (LIVERY_FUZZ_SECONDS, 60 by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages "${LINUX_BUILD_PACKAGES[@]}" "${WINDOWS_BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" \
  "${RELEASE_PACKAGES[@]}"
ensure_locale ja_JP.UTF-8  # Wine takes its double-byte code page 932 from it
bash scripts/check-links.sh  # every relative link of the Markdown files names what exists

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev -j "$(nproc)"

bash scripts/check-release.sh

cmake --preset fuzz -DLIVERY_FUZZ_SECONDS="${LIVERY_FUZZ_SECONDS:-60}" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
