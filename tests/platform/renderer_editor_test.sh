#!/usr/bin/env bash
# The renderer's --editor under a virtual X server: the window opens with the settings
# applied, closes after the given time, and --list afterwards shows the values.
set -euo pipefail
render=$1
listing=$("$render" --set Gain=0.25 --set Split=1 --editor-seconds 0.5 --list)
echo "$listing" | grep -Eq '^ *20 +Gain +0.250000' || { echo "Gain not listed as set:"; echo "$listing"; exit 1; }
echo "$listing" | grep -Eq '^ *5 +Split +1.000000' || { echo "Split not listed as set:"; echo "$listing"; exit 1; }
# No display: a clear error, not a crash.
if DISPLAY= "$render" --editor-seconds 0.1 2>/tmp/vm-editor-err.$$; then
  echo "--editor without a display succeeded"; exit 1
fi
grep -q "no X display" /tmp/vm-editor-err.$$ || { cat /tmp/vm-editor-err.$$; exit 1; }
rm -f /tmp/vm-editor-err.$$
echo "renderer editor window: ok"
