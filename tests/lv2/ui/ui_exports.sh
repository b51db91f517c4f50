#!/usr/bin/env bash
# The UI module exports exactly lv2ui_descriptor and leaves no symbol for the host to
# resolve (a host loads it with RTLD_NOW: a missing one would fail only there).
set -euo pipefail
module=$1
exports=$(nm -D --defined-only "$module" | awk '{print $3}' | sort -u)
if [ "$exports" != "lv2ui_descriptor" ]; then
  echo "exports of $module are not exactly 'lv2ui_descriptor':"
  printf '%s\n' "$exports"
  exit 1
fi
if ldd -r "$module" 2>&1 | grep -q "undefined symbol"; then
  ldd -r "$module"
  exit 1
fi
echo "$module exports only lv2ui_descriptor, every symbol resolved"
