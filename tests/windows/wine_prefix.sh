#!/bin/bash
# Makes the wine prefix $WINEPREFIX (on first use wine creates it, which takes a while)
# and turns wine's crash dialog off there: without a person to close it, the dialog
# would keep a crashed program alive until its test times out. With it off, a crash
# prints its backtrace and the program ends with a failure status.
set -eu
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
key='HKCU\Software\Wine\WineDbg'

mkdir -p "$WINEPREFIX"
timeout 20 "$wineserver" -w
if grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" 2>/dev/null; then
  echo "wine prefix $WINEPREFIX ready, crash dialog off"
  exit 0
fi
timeout --kill-after=10 120 "$wine" reg add "$key" /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
# The registry reaches its files when the server quits.
timeout 20 "$wineserver" -w
value=$(timeout --kill-after=10 40 "$wine" reg query "$key" /v ShowCrashDialog | tr -d '\r')
timeout 20 "$wineserver" -w
if ! grep -q 'ShowCrashDialog.*REG_DWORD.*0x0$' <<<"$value"; then
  echo "wine_prefix.sh: the crash dialog is still on in $WINEPREFIX: $value" >&2
  exit 1
fi
grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" || {
  echo "wine_prefix.sh: the setting did not reach $WINEPREFIX/user.reg" >&2
  exit 1
}
echo "wine prefix $WINEPREFIX ready, crash dialog off"
