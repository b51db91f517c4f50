#!/usr/bin/env bash
# Runs the validator for SECONDS (default 600): seed after seed, each a full run with
# concurrency and memory cycles, against the Linux plug-in in build-soak/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
source scripts/lib.sh
need_packages cmake ninja-build g++ libsndfile1-dev libx11-dev xvfb xauth
cmake -S . -B build-soak -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-soak -j"${JOBS:-2}" --target vm_validator VoicemultiplyV42_MS
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :98 -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=:98
  sleep 1
fi
seed=${SOAK_SEED:-$(date +%s)}
echo "soak: ${seconds}s from seed $seed"
./build-soak/vm_validator --plugin ./build-soak/VoicemultiplyV42_MS.so --seed "$seed" \
  --steps 20000 --concurrency 2000 --memory-cycles 200 --seconds "$seconds"
