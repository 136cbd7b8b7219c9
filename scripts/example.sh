#!/usr/bin/env bash
# Builds the installer and the uninstaller and runs them on the bundled example: the example
# aircraft folder is copied to a scratch folder, setup and uninstall are placed in its livery
# folder and started from elsewhere; the entries that setup added are printed as a diff of
# aircraft.cfg, then uninstall removes them and the file is compared with the original. Last, the
# livery folder is moved one level too deep, and setup refuses to install from there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/ensure-packages.sh"
ensure_packages "${LINUX_BUILD_PACKAGES[@]}"

cmake --preset release -S "$root" >/dev/null
cmake --build --preset release >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$root/examples/Heron" "$scratch/"
cp "$root/build/release/setup" "$root/build/release/uninstall" "$scratch/Heron/Tidewater_Air/"

status=0
(cd / && "$scratch/Heron/Tidewater_Air/setup" --any --arguments) || status=$?
echo "setup exited with status $status"
diff -u --label "aircraft.cfg before" --label "aircraft.cfg after setup" \
  "$root/examples/Heron/aircraft.cfg" "$scratch/Heron/aircraft.cfg" | tr -d '\r' || true
[ "$status" -eq 0 ] || exit "$status"

(cd / && "$scratch/Heron/Tidewater_Air/uninstall") || status=$?
echo "uninstall exited with status $status"
if cmp -s "$root/examples/Heron/aircraft.cfg" "$scratch/Heron/aircraft.cfg"; then
  echo "aircraft.cfg after uninstall: the original, byte for byte"
else
  echo "aircraft.cfg after uninstall differs from the original" >&2
  exit 1
fi
[ "$status" -eq 0 ] || exit "$status"

# The livery folder one level too deep, as an extraction into a folder of its own leaves it: the
# folder above holds no aircraft.cfg, so setup refuses (status 2), says why, and creates nothing.
mkdir "$scratch/Heron/Downloads"
mv "$scratch/Heron/Tidewater_Air" "$scratch/Heron/Downloads/"
misplaced=0
"$scratch/Heron/Downloads/Tidewater_Air/setup" || misplaced=$?
echo "setup from a misplaced livery folder exited with status $misplaced"
if [ "$misplaced" -ne 2 ] || [ -e "$scratch/Heron/Downloads/aircraft.cfg" ]; then
  echo "a misplaced livery folder was not refused" >&2
  exit 1
fi
