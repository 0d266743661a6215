#!/usr/bin/env bash
# vexel-dl --limit-rate 1M -j 4 over a chapter of 300 images of 100 KB from
# the sample site on 127.0.0.1, and prints the wall time against the time
# the cap allows (300 x 100000 bytes at 1 MiB/s: 28.6 s; goal: within 10%).
# The cap is shared by the four transfers: each under a cap of its own, the
# chapter would take a quarter of that.
#   bench/rate_limit_bench.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build/release}
pages=300
image_bytes=100000
rate=1048576
dl=$build_dir/cli/vexel-dl
site=$build_dir/examples/vexel-sample-site
for program in "$dl" "$site"; do
  if [ ! -x "$program" ]; then
    echo "rate_limit_bench: $program is missing; build it first" >&2
    exit 1
  fi
done

# shellcheck source=scripts/sample_site.sh
. scripts/sample_site.sh

start_sample_site "$site" "$work/site.out" --pages "$pages" --image-bytes "$image_bytes"
chapter="${sample_site_base}comic/1/3.html"
start=$(date +%s.%N)
"$dl" -j 4 --limit-rate 1M -o "$work/dl" "$chapter" >"$work/dl.log" 2>"$work/dl.err" || {
  echo "rate_limit_bench: vexel-dl failed: $(head -n 1 "$work/dl.err")" >&2
  exit 1
}
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
stop_sample_site
stored=$(find "$work/dl" -name '*.png' | wc -l)
if [ "$stored" -ne "$pages" ]; then
  echo "rate_limit_bench: stored $stored of $pages pages" >&2
  exit 1
fi
awk -v t="$elapsed" -v n="$pages" -v b="$image_bytes" -v r="$rate" 'BEGIN {
  allowed = n * b / r
  printf "--limit-rate 1M -j 4, %d x %d bytes: %.2f s (the cap allows %.2f s; off by %+.1f%%, goal within 10%%)\n",
    n, b, t, allowed, (t - allowed) / allowed * 100
}'
