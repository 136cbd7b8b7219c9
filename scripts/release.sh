#!/usr/bin/env bash
# Builds what livery authors download, dist/livery-setup-<version>.zip: every program of the
# release for Windows (NAME.exe) and for Linux x86-64 (NAME, linked statically), the text for livery
# authors, and SHA256SUMS for the programs. The builds start from empty folders. Two runs on the
# same commit give the same bytes, wherever the tree lies and whenever they run: no build path or
# date goes into a program, and every date in the zip is the last commit's (or SOURCE_DATE_EPOCH's).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages "${LINUX_BUILD_PACKAGES[@]}" "${WINDOWS_BUILD_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"

# The programs the release ships; each is built for both systems.
programs=(setup uninstall)

version=$(sed -n 's/^project(livery_installer VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
    { echo "not a git clone: set SOURCE_DATE_EPOCH to the release's date" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
  echo "warning: the tree differs from its last commit; this zip is not that commit's" >&2
fi

rm -rf build/dist
cmake --preset dist-windows >/dev/null
cmake --build --preset dist-windows --target "${programs[@]}" >/dev/null
cmake --preset dist-linux >/dev/null
cmake --build --preset dist-linux --target "${programs[@]}" >/dev/null

staging=build/dist/zip
mkdir -p "$staging" dist
files=()
for program in "${programs[@]}"; do
  cp "build/dist/windows/$program.exe" "build/dist/linux/$program" "$staging/"
  files+=("$program" "$program.exe")
done
(cd "$staging" && sha256sum "${files[@]}" >SHA256SUMS)
chmod 0755 "${files[@]/#/$staging/}"
cp resources/README-livery-authors.txt "$staging/"
chmod 0644 "$staging/README-livery-authors.txt" "$staging/SHA256SUMS"

# A zip records each file's mode and time, the time as a local time of day: both are fixed, and
# so is the order of the entries. -X leaves out the extra fields (exact times, owner ids).
touch -d "@$SOURCE_DATE_EPOCH" "$staging"/*
zip=dist/livery-setup-$version.zip
rm -f "$zip"
(cd "$staging" && LC_ALL=C ls | TZ=UTC zip -X -D -q -9 -@ "$root/$zip")
ls -l "$zip"
