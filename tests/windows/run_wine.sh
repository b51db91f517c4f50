#!/bin/bash
# run_wine.sh [--display] SECONDS PROGRAM.exe ARGS...
# Runs a Windows program under wine in $WINEPREFIX and makes sure it ends: after SECONDS
# it is stopped (killed 10 s later if it ignores that) and the status is 124. With
# --display it gets a virtual X server of its own (the server picks a free display
# itself, so runs started at the same moment never race for one).
# The prefix's wine server is started to quit as soon as the program's last process has
# gone, and is waited for: wine's helper processes (the desktop among them) take their
# environment from the first program of a server, so each run gets fresh ones with its
# own display.
set -u
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}

with_display=0
if [ "${1:-}" = --display ]; then with_display=1; shift; fi
if [ $# -lt 2 ]; then
  echo "usage: run_wine.sh [--display] SECONDS PROGRAM.exe ARGS..." >&2
  exit 2
fi
seconds=$1
shift

xvfb_pid=
display_file=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  [ -n "$display_file" ] && rm -f "$display_file"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

if [ $with_display = 1 ]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" \
    >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do
    [ -s "$display_file" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "run_wine.sh: Xvfb did not start" >&2; exit 1; }
    sleep 0.05
  done
  [ -s "$display_file" ] || { echo "run_wine.sh: Xvfb gave no display" >&2; exit 1; }
  export DISPLAY=":$(head -n 1 "$display_file")"
fi

# Wait for a server left by an earlier run, then start one that quits with its last client.
timeout 20 "$wineserver" -w
"$wineserver" -p0

timeout --kill-after=10 "$seconds" "$wine" "$@"
status=$?
if [ $status = 124 ] || [ $status = 137 ]; then
  echo "run_wine.sh: $1 did not end within $seconds s" >&2
fi
# Whatever the program left behind in this prefix (a crash handler, a helper that hangs)
# is ended with the prefix's server, so the next run starts clean.
if ! timeout 20 "$wineserver" -w; then
  echo "run_wine.sh: wine processes of $WINEPREFIX still running after 20 s; ending them" >&2
  "$wineserver" -k
fi
exit $status
