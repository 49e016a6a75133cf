#!/usr/bin/env bash
# bankrip.exe on a disk that fills up after 2 KiB: the demo bank's 1644-byte
# tone_660.wav fits, its two larger files fail part way and are removed.
# usage: full_disk_under_wine.sh BANKRIP_WINE DEMO_BANK
set -u
tool=$1 bank=$2
out=$(mktemp -d)
trap 'rm -rf "$out" "$out.err"' EXIT
# The wine server saves the prefix's registry: start it before the limit.
wineserver -p10 >/dev/null 2>&1
(trap '' XFSZ; ulimit -f 2; "$tool" "$bank" "$out/" >/dev/null 2>"$out.err")  # bash counts KiB
status=$?
fail() {
  echo "FAIL: $1"
  cat "$out.err"
  exit 1
}
[ $status -eq 1 ] || fail "exit status $status, expected 1"
[ "$(ls "$out")" = tone_660.wav ] || fail "files left: $(ls "$out" | tr '\n' ' ')"
for expected in 'tone_440.wav: writing failed: ' 'chord.wav: writing failed: ' '2 of 3 sounds not written'; do
  grep -qF "$expected" "$out.err" || fail "no \"$expected\" on standard error"
done
echo "full disk under wine: the tool reported it and removed the incomplete files"
