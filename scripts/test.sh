#!/usr/bin/env bash
# Builds everything and runs every test through CTest: the Linux installer and its tests under
# AddressSanitizer and UndefinedBehaviorSanitizer (fault injection, bad input and concurrency
# included), the Windows installer, cross-built with mingw-w64 and tested under Wine (the 32-bit
# build that ships, or the same source for x86-64 under wine64, as said below), the
# release, built twice from two fresh clones of the last commit and required to be the same bytes
# (scripts/check-release.sh), and the profile engine's fuzz target, replaying its saved inputs and
# then fuzzing for a bounded time (LIVERY_FUZZ_SECONDS, 60 by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages "${LINUX_BUILD_PACKAGES[@]}" "${WINDOWS_BUILD_PACKAGES[@]}" \
  "${WINDOWS_64_TEST_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"
ensure_locale ja_JP.UTF-8  # Wine takes its double-byte code page 932 from it
bash scripts/check-links.sh  # every relative link of the Markdown files names what exists

# The Windows tests run on the 32-bit build that ships, under wine. A kernel whose 32-bit
# emulation is off cannot run it (Wine's 32-bit loader exits 126, "Exec format error"); there,
# or when LIVERY_WINDOWS_ARCH=x86_64 asks for it, they run on the same source built for x86-64,
# under wine64. Either way they run: the build they take never skips them.
windows_arch=${LIVERY_WINDOWS_ARCH:-i686}
case $windows_arch in
  i686)
    if /usr/lib/wine/wine --version >/dev/null 2>&1; [ $? -eq 126 ]; then
      echo "this kernel runs no 32-bit programs: the Windows tests run on a 64-bit build under wine64"
      windows_arch=x86_64
    fi ;;
  x86_64) echo "LIVERY_WINDOWS_ARCH=x86_64: the Windows tests run on a 64-bit build under wine64" ;;
  *) echo "LIVERY_WINDOWS_ARCH is i686 or x86_64, not '$windows_arch'" >&2; exit 1 ;;
esac
windows_preset=windows
[ "$windows_arch" = x86_64 ] && windows_preset=windows64

cmake --preset "$windows_preset" >/dev/null
cmake --build --preset "$windows_preset"
cmake --preset dev -DLIVERY_WINDOWS_ARCH="$windows_arch" \
  -DLIVERY_WINDOWS_BUILD_DIR="$root/build/$windows_preset" >/dev/null
cmake --build --preset dev
ctest --preset dev -j "$(nproc)"

bash scripts/check-release.sh

cmake --preset fuzz -DLIVERY_FUZZ_SECONDS="${LIVERY_FUZZ_SECONDS:-60}" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
