#!/usr/bin/env bash
# Proves that the release is rebuilt byte for byte and holds what it should. Two fresh clones of
# the last commit, in two differently named folders, each run scripts/release.sh, one after the
# other, the second under another time zone and umask; the two zips must be identical. Then one
# is unpacked: its entries, SHA256SUMS, and `setup`, which must be a static x86-64 program that
# installs the bundled example, and `uninstall`, which must remove it again byte for byte.
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/ensure-packages.sh"
ensure_packages "${RELEASE_PACKAGES[@]}" binutils
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "release check: $*" >&2; exit 1; }

commit=$(git -C "$root" rev-parse HEAD)
release() {  # release FOLDER: the release of the commit, built in a fresh clone at FOLDER
  git clone -q "$root" "$1"
  git -C "$1" checkout -q "$commit"
  bash "$1/scripts/release.sh" >/dev/null
  echo "$1"/dist/livery-setup-*.zip
}
first=$(release "$scratch/first")
second=$(umask 077 && TZ=Pacific/Kiritimati release "$scratch/second/a/longer/path")
cmp "$first" "$second" || fail "two builds of $commit differ"
echo "release of $commit reproduced: $(sha256sum <"$first" | cut -d' ' -f1)  ${first##*/}"

unpacked=$scratch/unpacked
mkdir "$unpacked"
unzip -q "$first" -d "$unpacked"
[ "$(cd "$unpacked" && LC_ALL=C ls | tr '\n' ' ')" = "README-livery-authors.txt SHA256SUMS setup setup.exe uninstall uninstall.exe " ] ||
  fail "unexpected entries: $(ls "$unpacked")"
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[ "$(cut -d' ' -f3 "$unpacked/SHA256SUMS" | tr '\n' ' ')" = "setup setup.exe uninstall uninstall.exe " ] ||
  fail "SHA256SUMS does not list both programs"
for program in setup setup.exe uninstall uninstall.exe; do
  ! grep -qaF "$scratch" "$unpacked/$program" || fail "$program holds its build folder's path"
done
readelf -h "$unpacked/setup" | grep -q 'Machine: *Advanced Micro Devices X86-64' ||
  fail "setup is not an x86-64 program"
! readelf -l "$unpacked/setup" | grep -qE 'INTERP|DYNAMIC' || fail "setup is not linked statically"

cp -r "$root/examples/Heron" "$scratch/"
cp "$unpacked/setup" "$scratch/Heron/Tidewater_Air/"
(cd / && "$scratch/Heron/Tidewater_Air/setup") || fail "setup from the zip exited with status $?"
[ "$(grep -c '^title=' "$scratch/Heron/aircraft.cfg")" -eq \
  "$(($(grep -c '^title=' "$root/examples/Heron/aircraft.cfg") + 4))" ] ||
  fail "setup from the zip did not add four entries"
cp "$unpacked/uninstall" "$scratch/Heron/Tidewater_Air/"
(cd / && "$scratch/Heron/Tidewater_Air/uninstall") || fail "uninstall from the zip exited with status $?"
cmp -s "$scratch/Heron/aircraft.cfg" "$root/examples/Heron/aircraft.cfg" ||
  fail "uninstall from the zip did not give back the example's aircraft.cfg"
