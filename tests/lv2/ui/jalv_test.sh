#!/bin/bash
# The plug-in with its user interface in a real host: jalv.gtk3 under a JACK server and an
# X server of this test's own. The interface's window must paint, and a knob dragged with
# XTest must change the port only at the release. The port's value is read from the sound:
# with Mix 0 the output is the dry input times the Gain knob's +-20 dB, so a click track
# through the plug-in is recorded before the drag, while the button is still down, and
# after the release, and the level of each second compared (the median of its 100 ms
# peaks, which a period lost to a late cycle of the busy machine does not change).
#   jalv_test.sh PROBE BUNDLE WORKDIR
set -u
probe=$1 bundle=$2 work=$3
uri=urn:voicemultiply:VoicemultiplyV42_MS
# The JACK server's name is this build's own and the same at every run: JACK keeps a small
# machine-wide table of servers, and only an entry of the same name whose server is gone
# is taken over by a new server; a name per run would fill the table with every server
# that ever died without unregistering.
server=vm-jalv-test-$(printf '%s' "$work" | cksum | cut -d ' ' -f 1)
client=vm-jalv

rm -rf "$work" && mkdir -p "$work/lv2" || exit 1
ln -s "$(realpath "$bundle")" "$work/lv2/" || exit 1

pids=()
# Last started first, each given up to 10 s to end before it is killed: the JACK clients
# leave while their server still runs, and the server then unregisters itself.
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || continue
    for _ in $(seq 100); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
    kill -9 "${pids[i]}" 2>/dev/null
  done
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log; do echo "== $log"; tail -n 20 "$log"; done
  exit 1
}
# Runs "$@" every 0.1 s until it succeeds, at most $1 seconds.
wait_for() {
  local seconds=$1; shift
  for _ in $(seq $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# Its own JACK server: a name nobody else uses, so it never meets another one.
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
jackd -d dummy -r 44100 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
wait_for 20 timeout 5 jack_lsp || fail "jackd did not start"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 20 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display")

NO_AT_BRIDGE=1 LV2_PATH="$work/lv2" jalv.gtk3 --jack-name "$client" -x -c Mix=0 -c Clones=1 "$uri" \
  </dev/null >"$work/jalv.log" 2>&1 &
pids+=($!)
window=$("$probe" window 30) || fail "the plug-in's window never appeared"
grep -q "Failed to instantiate" "$work/jalv.log" && fail "jalv could not make the interface"

sleep 1  # the first idle calls paint it
"$probe" shot "$window" "$work/jalv-ui.png" || fail "the interface did not paint"

jack_metro -n "$client-click" -b 1200 -f 660 -A 0.3 -D 25 >"$work/metro.log" 2>&1 &
pids+=($!)
wait_for 10 sh -c "timeout 5 jack_lsp | grep -q '^$client-click:'" || fail "no click track"
click=$(timeout 5 jack_lsp | grep "^$client-click:" | head -n 1)
timeout 10 jack_connect "$click" "$client:in" || fail "cannot connect the click track"

# Records the left output for a second and prints its level. A busy machine can make
# jack_rec's disk thread fall behind (an overrun loses or garbles samples): such a
# recording is made again, up to three times, with a large buffer.
level() {
  for _ in 1 2 3; do
    timeout 20 jack_rec -B 1048576 -f "$work/$1.wav" -d 1 "$client:out_left" >"$work/rec-$1.log" 2>&1 ||
      fail "recording $1 failed"
    grep -q overrun "$work/rec-$1.log" || break
  done
  "$probe" peak "$work/$1.wav" || fail "no level of $1"
}
sleep 0.5
before=$(level before) || exit 1
"$probe" press "$window" rkGain -30 && "$probe" move "$window" rkGain 30 || fail "no drag"
sleep 0.5
during=$(level during) || exit 1
"$probe" release || fail "no release"
sleep 0.5
after=$(level after) || exit 1
echo "output peak: before $before, button down $during, after the release $after"

awk -v b="$before" -v d="$during" -v a="$after" 'BEGIN {
  if (b <= 1e-4) { print "FAIL: no sound through the plug-in"; exit 1 }
  if (d / b < 0.8 || d / b > 1.25) { print "FAIL: the port changed before the release"; exit 1 }
  if (a / b < 2) { print "FAIL: the release did not raise Gain (+11.6 dB expected)"; exit 1 }
}' || exit 1
grep -E "suil error|lilv.*error|Failed to instantiate" "$work/jalv.log" && fail "jalv reported errors"
echo "PASS"
