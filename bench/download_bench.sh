#!/usr/bin/env bash
# Downloads a 300-page chapter of 100 KB images from the sample site with
# vexel-dl, and the same 300 addresses with one curl process (which reuses
# its connection too), then prints:
#   - the wall-time ratio vexel-dl / curl (goal: at most 1.25),
#   - the TCP connections vexel-dl opened for the images and in all
#     (goal: one for the whole chapter, its page included),
#   - vexel-dl's peak resident memory (goal: under 30 MB).
# Each tool runs RUNS times (default 5); the medians are compared.
#   bench/download_bench.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build/release}
runs=${RUNS:-5}
pages=300
image_bytes=100000
dl=$build_dir/cli/vexel-dl
site=$build_dir/examples/vexel-sample-site
for program in "$dl" "$site"; do
  if [ ! -x "$program" ]; then
    echo "download_bench: $program is missing; build it first" >&2
    exit 1
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "download_bench: /usr/bin/time is missing (Debian package: time)" >&2
  exit 1
fi

# shellcheck source=scripts/sample_site.sh
. scripts/sample_site.sh

start_sample_site "$site" "$work/site.out" --pages "$pages" --image-bytes "$image_bytes" --stats
base=$sample_site_base
chapter="${base}comic/1/3.html"

curl_args=()
for n in $(seq "$pages"); do
  curl_args+=("${base}comic/1/pics/ch3/$n.png" -o "$work/curl/$n.png")
done

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/dl.times"
: >"$work/curl.times"
: >"$work/rss"
for run in $(seq "$runs"); do
  rm -rf "$work/dl" "$work/curl"
  mkdir -p "$work/dl" "$work/curl"

  curl -s "${base}stats/reset" >/dev/null
  start=$(now)
  /usr/bin/time -v -o "$work/time.txt" "$dl" -o "$work/dl" "$chapter" >"$work/dl.log"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >>"$work/dl.times"
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/rss"
  stats=$(curl -s "${base}stats")

  start=$(now)
  curl -s --fail "${curl_args[@]}"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >>"$work/curl.times"

  stored=$(find "$work/dl" -name '*.png' | wc -l)
  if [ "$stored" -ne "$pages" ] || ! grep -q '^下载完成$' "$work/dl.log"; then
    echo "download_bench: vexel-dl stored $stored of $pages pages" >&2
    exit 1
  fi
  if [ "$run" -eq 1 ] && ! cmp -s "$work/dl/星际旅人- 第3话/$pages.png" "$work/curl/$pages.png"; then
    echo "download_bench: vexel-dl and curl stored different bytes" >&2
    exit 1
  fi
done

dl_time=$(median <"$work/dl.times")
curl_time=$(median <"$work/curl.times")
rss_kb=$(sort -n "$work/rss" | tail -n 1)
image_connections=$(awk '/^image_connections/ { print $2 }' <<<"$stats")
connections=$(awk '/^connections/ { print $2 }' <<<"$stats")

printf 'chapter: %d pages of %d bytes, %d runs each (medians)\n' "$pages" "$image_bytes" "$runs"
printf 'vexel-dl: %.3f s   curl: %.3f s   ratio: %.2f (goal <= 1.25)\n' \
  "$dl_time" "$curl_time" "$(awk -v a="$dl_time" -v b="$curl_time" 'BEGIN { print a / b }')"
printf 'vexel-dl connections: %s for the images, %s in all (goal: 1 for the chapter)\n' \
  "$image_connections" "$connections"
printf 'vexel-dl peak RSS: %.1f MB (goal < 30 MB)\n' "$(awk -v k="$rss_kb" 'BEGIN { print k / 1024 }')"
