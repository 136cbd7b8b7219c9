#!/usr/bin/env bash
# Times uninstall.exe under Wine, beside the native Linux uninstall, removing a livery whose four
# entries come first in aircraft.cfg files of 100, 1,000 and 2,000 other entries, so that every
# later entry is renumbered. Prints the median of 5 runs of each, in a table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages "${LINUX_BUILD_PACKAGES[@]}" "${WINDOWS_BUILD_PACKAGES[@]}"

cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null
cmake --preset release >/dev/null && cmake --build --preset release >/dev/null
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$WINEPREFIX"
wineserver -p60  # one server for every run, started before the timing
wineboot -i >/dev/null 2>&1

mkdir -p "$work/Aircraft/Livery"
cp build/windows/uninstall.exe build/release/uninstall "$work/Aircraft/Livery/"
printf '[fltsim.0]\r\ntitle=Bench\r\nmodel=b\r\ntexture=bench\r\nui_type=B\r\n' \
  >"$work/Aircraft/Livery/livery.ini"

# aircraft.cfg: the livery's four entries, then `count` others of 19 keys each.
make_cfg() {
  local count=$1 index=0 suffix
  for suffix in full wing VC 2D; do
    printf '[fltsim.%d]\r\ntitle=Bench %s\r\ntexture=bench\r\n\r\n' "$index" "$suffix"
    index=$((index + 1))
  done
  for ((i = 0; i < count; i++, index++)); do
    printf '[fltsim.%d]\r\ntitle=Entry %d\r\nsim=S\r\nmodel=m\r\npanel=\r\nsound=\r\n' "$index" "$i"
    printf 'texture=t%d\r\nkb_checklists=\r\nkb_reference=\r\natc_id=N%d\r\n' "$i" "$i"
    printf 'atc_id_color=\r\natc_parking_types=\r\nui_manufacturer=M\r\nui_type=T\r\n'
    printf 'ui_variation=V%d\r\ndescription=D\r\natc_heavy=0\r\natc_airline=\r\n' "$i"
    printf 'atc_flight_number=\r\nvisual_damage=1\r\n\r\n'
  done
}

# Median of 5 runs, in milliseconds, of `$@` from a fresh copy of $work/original.cfg each time.
median_ms() {
  local times=() start end
  for _ in 1 2 3 4 5; do
    cp "$work/original.cfg" "$work/Aircraft/aircraft.cfg"
    start=$(date +%s%N)
    "$@" || { echo "run failed: $*" >&2; exit 1; }
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}

echo "| entries after the livery's | bytes | uninstall.exe under Wine (ms) | uninstall (ms) |"
echo "|---:|---:|---:|---:|"
for count in 100 1000 2000; do
  make_cfg "$count" >"$work/original.cfg"
  wine_ms=$(median_ms wine "$work/Aircraft/Livery/uninstall.exe")
  native_ms=$(median_ms "$work/Aircraft/Livery/uninstall")
  echo "| $count | $(stat -c %s "$work/original.cfg") | $wine_ms | $native_ms |"
done
