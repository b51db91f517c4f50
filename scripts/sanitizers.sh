#!/usr/bin/env bash
# Builds the plug-in, the unit tests and the validator with AddressSanitizer plus
# UndefinedBehaviorSanitizer (build-asan) and with ThreadSanitizer (build-tsan), runs ctest
# in each, then a timed validator run (VALIDATOR_SECONDS each, default 90). Fails on any
# report.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
need_packages cmake ninja-build g++ libgtest-dev libsndfile1-dev libx11-dev xvfb xauth
jobs=${JOBS:-2}
validator_seconds=${VALIDATOR_SECONDS:-90}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_set() {  # preset, seed
  local preset=$1 seed=$2 started=$SECONDS
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "== $preset: ctest"
  ctest --preset "$preset" -j"$jobs"
  echo "== $preset: validator for ${validator_seconds}s from seed $seed"
  ./build-"$preset"/vm_validator --plugin ./build-"$preset"/VoicemultiplyV42_MS.so \
    --seed "$seed" --steps 4000 --concurrency 400 --memory-cycles 40 --seconds "$validator_seconds"
  echo "== $preset: done in $((SECONDS - started))s"
}

# The editor opens into a real window when there is a display; start one if needed. The
# server picks a free display number and writes it to fd 3 once it accepts clients (a
# fixed number can belong to someone else's server on a shared machine). The X11 editor
# tests start servers of their own with xvfb-run.
if [ -z "${DISPLAY:-}" ]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true; rm -f "$display_file"' EXIT
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  [ -s "$display_file" ] || { echo "sanitizers: Xvfb did not start"; exit 1; }
  export DISPLAY=":$(head -n 1 "$display_file")"
fi

run_set asan 1000
run_set tsan 2000
echo "sanitizers: asan and tsan clean"
