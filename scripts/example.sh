#!/usr/bin/env bash
# Builds the installer and the uninstaller and runs them on the bundled example: the example
# aircraft folder is copied to a scratch folder, setup and uninstall are placed in its livery
# folder and started from elsewhere; the entries that setup added are printed as a diff of
# aircraft.cfg, then uninstall removes them and the file is compared with the original.
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
  status=1
fi
exit "$status"
