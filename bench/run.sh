#!/usr/bin/env bash
# Builds the installer optimised, times full installs into aircraft.cfg files of 100 to 100,000
# entries beside two floors (a durable copy of the file; an atomic replacement: copy, flush,
# rename, flush the folder), prints the table and draws bench/install-time.png (log-log) with
# gnuplot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/ensure-packages.sh
ensure_packages "${LINUX_BUILD_PACKAGES[@]}" gnuplot-nox

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
data=$(mktemp)
trap 'rm -f "$data"' EXIT
(cd build/release && ./bench/install_bench --data "$data" "$@")
gnuplot <<PLOT
set terminal pngcairo size 800,520 font "sans,11"
set output "$root/bench/install-time.png"
set title "Full install into aircraft.cfg (median of 7 runs)"
set xlabel "entries in aircraft.cfg (19 keys each)"
set ylabel "milliseconds"
set logscale xy
set xrange [60:160000]
set format x "%.0f"
set grid
set key top left
plot "$data" using 1:3 with linespoints lw 2 pt 7 title "install (setup)", \
     "$data" using 1:5 with linespoints lw 2 pt 9 title "floor: atomic replacement", \
     "$data" using 1:4 with linespoints lw 2 pt 5 title "floor: durable copy"
PLOT
echo "plot written to bench/install-time.png"
