#!/usr/bin/env bash
# Builds the installer and runs it on the bundled example: the example aircraft folder is copied
# to a scratch folder, setup is placed in its livery folder and started from elsewhere, and the
# entries it added are printed as a diff of aircraft.cfg.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/ensure-packages.sh"
ensure_packages "${LINUX_BUILD_PACKAGES[@]}"

cmake --preset release -S "$root" >/dev/null
cmake --build --preset release >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$root/examples/Heron" "$scratch/"
cp "$root/build/release/setup" "$scratch/Heron/Tidewater_Air/"

status=0
(cd / && "$scratch/Heron/Tidewater_Air/setup" --any --arguments) || status=$?
echo "setup exited with status $status"
diff -u --label "aircraft.cfg before" --label "aircraft.cfg after" \
  "$root/examples/Heron/aircraft.cfg" "$scratch/Heron/aircraft.cfg" | tr -d '\r' || true
exit "$status"
