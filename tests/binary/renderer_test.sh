#!/usr/bin/env bash
# The renderer's demo and its answers to bad input: one line on stderr, a non-zero exit,
# and no file left behind.
set -uo pipefail
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$render" --demo demo.wav 2> demo.log || fail "demo exited non-zero"
[ -s demo.wav ] || fail "demo wrote no file"
grep -q 'real time' demo.log || fail "demo printed no summary"
"$render" --set Clones=0 --set split=0.6 demo.wav out.flac 2>/dev/null || fail "WAV to FLAC render failed"
"$render" --help | grep -q 'usage:' || fail "--help shows no usage"
# The output's extension chooses its container, whatever the input's was.
for pair in flac:fLaC aiff:FORM ogg:OggS wav:RIFF; do
  extension=${pair%%:*} magic=${pair##*:}
  "$render" demo.wav "out-format.$extension" 2>/dev/null || fail "render to .$extension failed"
  [ "$(head -c4 "out-format.$extension" 2>/dev/null)" = "$magic" ] || fail ".$extension output is not $magic data"
done
[ "$(head -c4 out.flac)" = fLaC ] || fail "out.flac is not FLAC data"
"$render" --list --set Timing=0.7 | grep -Eq '^ 1  Timing +0\.700000  7\.299999' || fail "--list does not show the value set"

expect_error() {  # expect_error PATTERN ARGS...: exit non-zero, one line matching, no output file
  local pattern=$1; shift
  rm -f out.wav
  if "$render" "$@" 2> err.log; then fail "'$*' succeeded"; return; fi
  [ "$(wc -l < err.log)" -eq 1 ] || fail "'$*' printed $(wc -l < err.log) lines"
  grep -q "$pattern" err.log || fail "'$*' said: $(cat err.log)"
  [ ! -e out.wav ] || fail "'$*' left out.wav"
  ls -a | grep -q '\.part' && fail "'$*' left a temporary file"
  return 0
}
expect_error 'not found' missing.wav out.wav
echo garbage > garbage.wav
expect_error 'cannot read' garbage.wav out.wav
expect_error 'unknown parameter' --set Nonsense=0.5 demo.wav out.wav
expect_error 'not a number' --set Timing=loud demo.wav out.wav
expect_error 'outside 0..1' --set Timing=1.5 demo.wav out.wav
expect_error 'outside 0..1' --set Mix=-0.1 demo.wav out.wav
expect_error 'is the input' demo.wav ./demo.wav
expect_error 'cannot write' demo.wav /nonexistent-folder/out.wav
mkdir locked && chmod 500 locked
if [ "$(id -u)" != 0 ]; then expect_error 'cannot write' demo.wav locked/out.wav; fi

[ $failures -eq 0 ] && echo "renderer: all checks passed"
exit $failures
