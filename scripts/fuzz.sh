#!/usr/bin/env bash
# Fuzzes the call stream for SECONDS (default 600) with libFuzzer under ASan and UBSan.
# A crash input is saved under fuzz/regressions/ (replayed by ctest from then on) and the
# script fails. The corpus lives in build-fuzz/corpus and grows from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
source scripts/lib.sh
need_packages clang-14 libclang-rt-14-dev cmake ninja-build libx11-dev

CC=clang-14 CXX=clang++-14 cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"${JOBS:-2}" --target vm_fuzz_calls
mkdir -p build-fuzz/corpus build-fuzz/crashes
status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./build-fuzz/vm_fuzz_calls -max_total_time="$seconds" -max_len=4096 -timeout=30 \
  -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build-fuzz/crashes/ \
  build-fuzz/corpus fuzz/regressions 2>&1 | tee build-fuzz/last-run.log | grep -v "^#[0-9]*.*pulse\|NEW\|REDUCE" || true
status=${PIPESTATUS[0]}
for crash in build-fuzz/crashes/*; do
  [ -f "$crash" ] || continue
  cp "$crash" fuzz/regressions/ && echo "fuzz: saved $(basename "$crash") as a regression input"
  status=1
done
grep -E "^stat::number_of_executed_units|^#[0-9]+.*(DONE|cov:)" build-fuzz/last-run.log | tail -2 || true
exit "$status"
