#!/usr/bin/env bash
# The Windows build against the Linux build on this machine: builds the portable timing
# program (bench/timing) natively in build-bench and with mingw in build-win, runs the two
# in turn ROUNDS times (default 3; the Windows one under wine, prefix in the build tree),
# keeps each side's best pass per load and prints the Windows time over the Linux time.
# Target: within 15 % (a ratio of at most 1.15). SECONDS_PER_PASS (default 10) and
# REPEATS (passes per run, default 5) are handed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
need_packages cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine64 libbenchmark-dev \
  libsndfile1-dev
jobs=${JOBS:-2}
rounds=${ROUNDS:-3}
pass_seconds=${SECONDS_PER_PASS:-10}
repeats=${REPEATS:-5}

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
[ -f build-bench/CMakeCache.txt ] || cmake --preset bench "${launcher[@]}" >/dev/null
[ -f build-win/CMakeCache.txt ] || cmake --preset windows "${launcher[@]}" >/dev/null
cmake --build build-bench --target vm_timing -j "$jobs"
cmake --build build-win --target vm_timing -j "$jobs"

export WINEPREFIX=${WINEPREFIX:-$PWD/build-win/wine-prefix}
bash tests/windows/wine_prefix.sh >/dev/null

linux=(build-bench/bench/timing/vm_timing "$pass_seconds" "$repeats")
windows=(bash tests/windows/run_wine.sh 600 build-win/bench/timing/vm_timing.exe "$pass_seconds" "$repeats")

# The value of key=... on the program's "timing" line.
value() { sed -n "s/^timing .*$1=\([0-9.]*\).*/\1/p" <<<"$2"; }
# The smaller of two numbers (the first when the second is empty).
least() { if [ -z "$2" ]; then echo "$1"; else awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; fi; }

declare -A best
for round in $(seq "$rounds"); do
  for side in linux windows; do
    if [ $side = linux ]; then out=$("${linux[@]}"); else out=$("${windows[@]}" | tr -d '\r'); fi
    echo "== round $round, $side"
    echo "$out"
    for load in fullload voices32; do
      v=$(value "${load}_s" "$out")
      [ -n "$v" ] || { echo "bench-windows.sh: no $load figure from the $side run" >&2; exit 1; }
      best[$side.$load]=$(least "$v" "${best[$side.$load]:-}")
    done
  done
done

echo
echo "Best pass of $pass_seconds s of audio (s), Windows build under wine over Linux build:"
for load in fullload voices32; do
  awk -v load="$load" -v l="${best[linux.$load]}" -v w="${best[windows.$load]}" 'BEGIN {
    ratio = w / l
    printf "  %-9s linux %.4f  windows %.4f  ratio %.3f  %s\n", load, l, w, ratio,
           ratio <= 1.15 ? "(within 15 %)" : "(more than 15 % slower)"
  }'
done
