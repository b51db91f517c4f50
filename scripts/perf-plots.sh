#!/usr/bin/env bash
# Runs the scaling benchmark and plots the real-time factor against clone count and block
# size into docs/ (gnuplot PNGs). Usage: scripts/perf-plots.sh [BENCH_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
need_packages gnuplot-nox libbenchmark-dev cmake ninja-build g++
build=${1:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVM_BUILD_BENCH=ON -DVM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target bench_scaling
csv=$build/scaling.csv
"$build"/bench/longrun/bench_scaling --benchmark_min_time=0.1 --benchmark_format=csv 2>/dev/null >"$csv"
# Columns: "name",iterations,real_time,cpu_time,time_unit,...,x_realtime last.
extract() { grep "^\"$1/" "$csv" | sed -E "s|^\"$1/[a-z0-9]+:([0-9]+)\".*,([0-9.e+]+)\$|\1 \2|"; }
extract ByClones >"$build/clones.dat"
extract ByBlock >"$build/block.dat"
extract ByRate >"$build/rate.dat"
extract FullLoadByPitch >"$build/pitch.dat"
extract FullLoadByRate >"$build/fullrate.dat"
gnuplot <<PLOT
set terminal pngcairo size 800,500
set grid
set ylabel "real-time factor (one core)"
set output "docs/perf-clones.png"
set title "Real-time factor against clone count (44.1 kHz, 512-sample blocks)"
set xlabel "clones"
set logscale y
plot "$build/clones.dat" using 1:2 with linespoints title "ensemble"
set output "docs/perf-block.png"
set title "Real-time factor against block size (16 clones, 44.1 kHz)"
set xlabel "block size (samples)"
set logscale x 2
plot "$build/block.dat" using 1:2 with linespoints title "ensemble"
set output "docs/perf-pitch.png"
set title "Full load against the voice's pitch (32 voices, three sections, 44.1 kHz)"
set xlabel "fundamental of the sung vowel (Hz)"
unset logscale y
set yrange [0:*]
plot "$build/pitch.dat" using 1:2 with linespoints title "full load"
PLOT
echo "== 16 clones by rate"; cat "$build/rate.dat"
echo "== full load by pitch"; cat "$build/pitch.dat"
echo "== full load by rate"; cat "$build/fullrate.dat"
