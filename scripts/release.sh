#!/usr/bin/env bash
# Builds what livery authors download, dist/livery-setup-<version>.zip: setup.exe and
# uninstall.exe for Windows; linux/setup and linux/uninstall for Linux x86-64, linked statically;
# the text for livery authors, a sample livery.ini (the example's), LICENSE.txt, NOTICES.txt (the
# libraries linked into the programs, with the commit and packages they were built from) and
# SHA256SUMS, every text with CRLF line breaks. It ends by listing the zip's entries with their
# sizes. The builds start from empty folders. Two runs on the same commit give the same bytes,
# wherever the tree lies and whenever they run: no build path or date goes into a program, and
# every date in the zip is the last commit's (or SOURCE_DATE_EPOCH's).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages "${LINUX_BUILD_PACKAGES[@]}" "${WINDOWS_BUILD_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"

# The programs the release ships; each is built for both systems.
programs=(setup uninstall)

version=$(sed -n 's/^project(livery_installer VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
commit=$(git rev-parse HEAD 2>/dev/null) || commit="(not a git clone)"
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

# compiler_of BUILD: the C++ compiler that the build folder was configured with.
compiler_of() {
  sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$1"/CMakeFiles/*/CMakeCXXCompiler.cmake
}

# library_packages COMPILER LIBRARY...: "package version" of the Debian package that holds each
# static library the compiler links, one line each.
library_packages() {
  local compiler=$1 library file package
  shift
  for library in "$@"; do
    file=$(realpath -e "$("$compiler" -print-file-name="$library")") ||
      { echo "$compiler has no $library" >&2; exit 1; }
    package=$(dpkg -S "$file" | sed -n '1s/:.*//p')
    echo "$package $(dpkg-query -W -f='${Version}' "$package")"
  done
}

# license_paragraphs COPYRIGHT FILES_LINE...: the paragraphs of a Debian copyright file whose
# first line is one of the given "Files: ..." lines, as they stand.
license_paragraphs() {
  local copyright=$1
  shift
  awk -v wanted="$(printf '%s\n' "$@")" '
    BEGIN { RS = ""; n = split(wanted, lines, "\n"); for (i = 1; i <= n; i++) want[lines[i]] = 1 }
    { split($0, first, "\n"); if (first[1] in want) print $0 "\n" }' "$copyright"
}

# notices: NOTICES.txt as shipped, resources/NOTICES.txt followed by what this build used.
notices() {
  cat resources/NOTICES.txt
  printf '\nBuilt from\n  commit %s\n  with these Debian packages:\n' "$commit"
  {
    library_packages "$(compiler_of build/dist/linux)" libc.a libstdc++.a libgcc.a libgcc_eh.a
    library_packages "$(compiler_of build/dist/windows)" libstdc++.a libgcc.a libgcc_eh.a \
      libmingwex.a libmingw32.a crt2.o
  } | LC_ALL=C sort -u | sed 's/^/    /'
  printf '\n\nThe mingw-w64 runtime: copyright and license notices\n'
  printf '(from the Debian package mingw-w64-common)\n\n'
  license_paragraphs /usr/share/doc/mingw-w64-common/copyright 'Files: *' \
    'Files: mingw-w64-crt/gdtoa/*' 'Files: mingw-w64-crt/gdtoa/qnan.c' \
    'Files: mingw-w64-crt/math/s_erf.c'
  printf '\nThe GNU C Library: GNU Lesser General Public License, version 2.1\n\n'
  cat /usr/share/common-licenses/LGPL-2.1
}

# crlf [FILE]: the text with every line ending in CRLF, as Notepad on any Windows shows it.
crlf() { sed 's/\r*$/\r/' "$@"; }

staging=build/dist/zip
mkdir -p "$staging/linux" dist
for program in "${programs[@]}"; do
  cp "build/dist/windows/$program.exe" "$staging/"
  cp "build/dist/linux/$program" "$staging/linux/"
done
crlf resources/README-livery-authors.txt >"$staging/README-livery-authors.txt"
crlf examples/Heron/Tidewater_Air/livery.ini >"$staging/sample-livery.ini"
crlf LICENSE >"$staging/LICENSE.txt"
notices | crlf >"$staging/NOTICES.txt"
files=$(cd "$staging" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
(cd "$staging" && echo "$files" | xargs -d '\n' sha256sum | crlf >SHA256SUMS)
find "$staging" -type f -exec chmod 0644 {} +
for program in "${programs[@]}"; do
  chmod 0755 "$staging/$program.exe" "$staging/linux/$program"
done

# A zip records each file's mode and time, the time as a local time of day: both are fixed, and
# so is the order of the entries. -X leaves out the extra fields (exact times, owner ids), -D the
# entries for folders.
find "$staging" -type f -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
zip=dist/livery-setup-$version.zip
rm -f "$zip"
(cd "$staging" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
  TZ=UTC zip -X -D -q -9 -@ "$root/$zip")
unzip -l "$zip"
ls -l "$zip"
