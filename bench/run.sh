#!/usr/bin/env bash
# Speed and memory of bankrip on a large bank, against our targets:
#   - peak memory stays under 64 MiB whatever the size of the bank;
#   - PCM unpacks at no less than 200 MB/s when the files are in the page cache.
# usage: bench/run.sh [MEGABYTES]   (default 1024; needs twice that on disk)
set -euo pipefail
cd "$(dirname "$0")/.."
MB=${1:-1024}
BUILD=${BUILD:-build}
cmake --build "$BUILD" -j2 --target bankrip make_big_bank >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/bankrip-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$BUILD/bench/make_big_bank" "$work/big.fsb" "$MB" 4
cat "$work/big.fsb" >/dev/null  # warm the page cache
start=$(date +%s.%N)
/usr/bin/time -f '%M' -o "$work/rss" "$BUILD/bankrip" "$work/big.fsb" "$work/out" >/dev/null
end=$(date +%s.%N)
rss_kib=$(cat "$work/rss")
seconds=$(echo "$end - $start" | bc -l)
rate=$(echo "$MB / $seconds" | bc -l)
printf 'bank %d MB: %.2f s, %.0f MB/s, peak memory %d KiB\n' "$MB" "$seconds" "$rate" "$rss_kib"
fail=0
[ "$rss_kib" -le 65536 ] || { echo "FAIL: peak memory above 64 MiB"; fail=1; }
[ "$(echo "$rate >= 200" | bc)" -eq 1 ] || { echo "FAIL: slower than 200 MB/s"; fail=1; }
exit $fail
