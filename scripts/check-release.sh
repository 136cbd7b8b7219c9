#!/usr/bin/env bash
# Proves that the release is rebuilt byte for byte and holds what it should. Two fresh clones of
# the last commit, in two differently named folders, each run scripts/release.sh, one after the
# other, the second under another time zone and umask; the two zips must be identical. Then one
# is unpacked and checked: its entries; SHA256SUMS over every other entry; CRLF line breaks in
# every text; LICENSE.txt, the authors' text and sample-livery.ini as the commit holds them;
# NOTICES.txt naming the commit; no build path in any program; linux/setup a static x86-64
# program that installs the sample livery.ini into the example aircraft, and linux/uninstall
# removing it again byte for byte.
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
tree=${first%/dist/*}  # the first clone: the commit's own files
programs="linux/setup linux/uninstall setup.exe uninstall.exe"
texts="LICENSE.txt NOTICES.txt README-livery-authors.txt SHA256SUMS sample-livery.ini"
entries=$(cd "$unpacked" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$entries" = "$(printf '%s\n' $programs $texts | LC_ALL=C sort | tr '\n' ' ')" ] ||
  fail "unexpected entries: $entries"
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[ "$(cut -d' ' -f3 "$unpacked/SHA256SUMS" | tr -d '\r' | tr '\n' ' ')" = \
  "$(printf '%s\n' $programs $texts | grep -vx SHA256SUMS | LC_ALL=C sort | tr '\n' ' ')" ] ||
  fail "SHA256SUMS does not list every other entry"
for text in $texts; do
  ! grep -qv $'\r$' "$unpacked/$text" || fail "$text has a line without CRLF"
done
sed 's/\r*$/\r/' "$tree/LICENSE" | cmp -s - "$unpacked/LICENSE.txt" ||
  fail "LICENSE.txt is not the source's LICENSE"
sed 's/\r*$/\r/' "$tree/resources/README-livery-authors.txt" |
  cmp -s - "$unpacked/README-livery-authors.txt" ||
  fail "README-livery-authors.txt is not the source's text for livery authors"
cmp -s "$tree/examples/Heron/Tidewater_Air/livery.ini" "$unpacked/sample-livery.ini" ||
  fail "sample-livery.ini is not the example's livery.ini"
grep -qF "commit $commit" "$unpacked/NOTICES.txt" || fail "NOTICES.txt does not name $commit"
for program in $programs; do
  ! grep -qaF "$scratch" "$unpacked/$program" || fail "$program holds its build folder's path"
done
for program in linux/setup linux/uninstall; do
  readelf -h "$unpacked/$program" | grep -q 'Machine: *Advanced Micro Devices X86-64' ||
    fail "$program is not an x86-64 program"
  ! readelf -l "$unpacked/$program" | grep -qE 'INTERP|DYNAMIC' ||
    fail "$program is not linked statically"
done

# The sample livery.ini, its notes included, installs the example livery's four entries and
# nothing else, and uninstall gives back the example's aircraft.cfg.
example=$tree/examples/Heron/aircraft.cfg
cp -r "$tree/examples/Heron" "$scratch/"
livery=$scratch/Heron/Tidewater_Air
cp "$unpacked/sample-livery.ini" "$livery/livery.ini"
cp "$unpacked/linux/setup" "$unpacked/linux/uninstall" "$livery/"
(cd / && "$livery/setup") || fail "linux/setup from the zip exited with status $?"
[ "$(grep -c '^title=' "$scratch/Heron/aircraft.cfg")" -eq \
  "$(($(grep -c '^title=' "$example") + 4))" ] ||
  fail "linux/setup from the zip did not add four entries"
[ "$(grep -c '^;' "$scratch/Heron/aircraft.cfg")" -eq "$(grep -c '^;' "$example")" ] ||
  fail "linux/setup from the zip wrote a note of sample-livery.ini into aircraft.cfg"
(cd / && "$livery/uninstall") || fail "linux/uninstall from the zip exited with status $?"
cmp -s "$scratch/Heron/aircraft.cfg" "$example" ||
  fail "linux/uninstall from the zip did not give back the example's aircraft.cfg"
