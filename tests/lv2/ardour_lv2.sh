#!/usr/bin/env bash
# Ardour 7 (headless, dummy backend) loads the LV2 bundle on a mono track: with Mix 0 both
# outputs must carry the dry signal, 0.65 x the input. Usage: ardour_lv2.sh BUNDLE_FOLDER
set -euo pipefail
bundle=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d /tmp/vm-lv2-ardour-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lv2" "$work/cache" "$work/config/ardour7/export" "$work/config/ardour7/scripts"
# A path holding only this bundle, and a private Ardour configuration per run.
ln -s "$bundle" "$work/lv2/VoicemultiplyV42_MS.lv2"
cp "$root/tests/ardour/vm-float.preset" "$work/config/ardour7/export/"
cp "$root/tests/ardour/vowel.lua" "$work/config/ardour7/scripts/"
export XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config LV2_PATH=$work/lv2:/usr/lib/lv2

# Ardour 7.3 sometimes crashes in its export teardown or hangs at the start of an export,
# and rarely writes a silent file (under valgrind a whole run of this session shows no
# invalid access, in the plug-in or elsewhere): a run that dies, hangs or fails the check
# is tried again, at most three times.
for attempt in 1 2 3; do
  rm -rf "$work"/*.wav "$work/session"
  status=0
  VM_ARDOUR_DIR=$work timeout 120 ardour7-lua "$here/ardour_session.lua" >"$work/session.log" 2>&1 || status=$?
  rendered=$(ls -t "$work"/*.wav 2>/dev/null | head -1 || true)
  if [ "$status" = 0 ] && grep -q "^plugin" "$work/session.log" && [ -n "$rendered" ]; then
    grep -E "^(plugin|streams|set)" "$work/session.log"
    grep -qE "^streams\s+1\s+2$" "$work/session.log" || { echo "ardour: the plug-in is not 1 in, 2 out"; exit 1; }
    python3 "$root/tests/ardour/vowel.py" "$work/vowel.wav" 48000 96000
    if python3 "$here/dry_gain.py" "$work/vowel.wav" "$rendered" 0.65; then
      echo "ardour: the LV2 plug-in rendered the dry signal on attempt $attempt"
      exit 0
    fi
  else
    echo "ardour: attempt $attempt ended with status $status"
    tail -20 "$work/session.log"
  fi
done
echo "ardour: no good render in three attempts"
exit 1
