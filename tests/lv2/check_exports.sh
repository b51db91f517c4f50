#!/usr/bin/env bash
# An LV2 module exports exactly one symbol: check_exports.sh MODULE SYMBOL reads its
# dynamic export table (nm -D) and fails on anything else, or on a missing SYMBOL.
set -euo pipefail
module=$1 wanted=$2
exports=$(nm -D --defined-only "$module" | awk '{print $3}' | sort -u)
if [ "$exports" != "$wanted" ]; then
  echo "exports of $module are not exactly '$wanted':"
  printf '%s\n' "$exports"
  exit 1
fi
echo "$module exports only $wanted"
