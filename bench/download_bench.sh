#!/usr/bin/env bash
# Downloads a 300-page chapter of 100 KB images from the sample site with
# vexel-dl and the same 300 addresses with curl, and prints:
#   P1  on plain loopback: the wall-time ratio vexel-dl / one curl process
#       (which reuses its connection too; goal: at most 1.0), the TCP
#       connections vexel-dl opened for the images and in all (goal: one for
#       the whole chapter, its page included) and its peak resident memory;
#   P6  with every image answered 50 ms late: vexel-dl -j 1, vexel-dl -j 4 and
#       curl --parallel --parallel-max 4, the speed-up of -j 4 over -j 1
#       (goal: at least 3.5) and the ratio -j 4 / curl (goal: at most 1.1),
#       and vexel-dl's peak resident memory at -j 4 (goal: under 30 MB);
#   P-comic  a comic of 20 chapters of 20 pages (100 KB images) with one
#       vexel-dl --all-chapters against the sum of 20 vexel-dl runs of one
#       chapter each: the ratio (goal: at most 1.05) and the TCP connections
#       the whole comic took, its page included (goal: one).
# Each measurement runs RUNS times and the medians are compared (default: 5
# for P1 and P-comic, 3 for P6, where one -j 1 run takes some 15 s). Every
# vexel-dl run gets a fresh folder, as it keeps pages that are already there.
# A P6 run that fails (an option this vexel-dl lacks, pages missing) shows as
# n/a.
#   bench/download_bench.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build/release}
p1_runs=${RUNS:-5}
p6_runs=${RUNS:-3}
comic_runs=${RUNS:-5}
comic_chapters=20
comic_pages=20
pages=300
image_bytes=100000
delay_ms=50
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

now() { date +%s.%N; }
# The seconds since START (a time from now).
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { print b - a }'; }
# fresh DIR: DIR, made empty.
fresh() {
  rm -rf "$1"
  mkdir -p "$1"
}
# The median of the numbers on standard input, or n/a when there are none.
median() {
  sort -g | awk '{ v[NR] = $1 }
    END { if (NR == 0) print "n/a"; else print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# A/B, or n/a when either is n/a.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "n/a" || b == "n/a" || b == 0) print "n/a"; else printf "%.2f", a / b }'; }
seconds() { awk -v s="$1" 'BEGIN { if (s == "n/a") print "n/a"; else printf "%.3f s", s }'; }
megabytes() { awk -v k="$1" 'BEGIN { if (k == "n/a" || k == "") print "n/a"; else printf "%.1f MB", k / 1024 }'; }

# set_addresses BASE: the chapter's address and curl's arguments for its images.
set_addresses() {
  chapter="${1}comic/1/3.html"
  curl_args=()
  for n in $(seq "$pages"); do
    curl_args+=("${1}comic/1/pics/ch3/$n.png" -o "$work/curl/$n.png")
  done
}

# run_dl NAME [vexel-dl options...]: runs vexel-dl on the chapter into a fresh
# folder and appends its wall time to $work/NAME.times and its peak RSS (KB)
# to $work/NAME.rss; false, with the reason on standard error, when it failed
# or did not store every page.
run_dl() {
  local name=$1 start elapsed stored
  shift
  fresh "$work/dl"
  start=$(now)
  if ! /usr/bin/time -v -o "$work/time.txt" "$dl" "$@" -o "$work/dl" "$chapter" \
    >"$work/dl.log" 2>"$work/dl.err"; then
    echo "download_bench: vexel-dl $* failed: $(head -n 1 "$work/dl.err")" >&2
    return 1
  fi
  elapsed=$(since "$start")
  stored=$(find "$work/dl" -name '*.png' | wc -l)
  if [ "$stored" -ne "$pages" ] || ! grep -q '^下载完成$' "$work/dl.log"; then
    echo "download_bench: vexel-dl $* stored $stored of $pages pages" >&2
    return 1
  fi
  echo "$elapsed" >>"$work/$name.times"
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/$name.rss"
}

# run_curl NAME [curl options...]: fetches the chapter's images with one curl
# process into a fresh folder and appends its wall time to $work/NAME.times.
run_curl() {
  local name=$1 start elapsed stored
  shift
  fresh "$work/curl"
  start=$(now)
  if ! curl -s --fail "$@" "${curl_args[@]}"; then
    echo "download_bench: curl $* failed" >&2
    return 1
  fi
  elapsed=$(since "$start")
  stored=$(find "$work/curl" -name '*.png' | wc -l)
  if [ "$stored" -ne "$pages" ]; then
    echo "download_bench: curl $* stored $stored of $pages pages" >&2
    return 1
  fi
  echo "$elapsed" >>"$work/$name.times"
}

for name in p1_dl p1_curl p6_j1 p6_j4 p6_curl comic_all comic_single; do
  : >"$work/$name.times"
  : >"$work/$name.rss"
done

# P1: plain loopback. A failure here ends the benchmark: it is the baseline.
start_sample_site "$site" "$work/site.out" --pages "$pages" --image-bytes "$image_bytes" --stats
base=$sample_site_base
set_addresses "$base"
for run in $(seq "$p1_runs"); do
  curl -s "${base}stats/reset" >/dev/null
  run_dl p1_dl || exit 1
  stats=$(curl -s "${base}stats")
  run_curl p1_curl || exit 1
  if [ "$run" -eq 1 ] && ! cmp -s "$work/dl/星际旅人- 第3话/$pages.png" "$work/curl/$pages.png"; then
    echo "download_bench: vexel-dl and curl stored different bytes" >&2
    exit 1
  fi
done
stop_sample_site

dl_time=$(median <"$work/p1_dl.times")
curl_time=$(median <"$work/p1_curl.times")
image_connections=$(awk '/^image_connections/ { print $2 }' <<<"$stats")
connections=$(awk '/^connections/ { print $2 }' <<<"$stats")

printf 'P1: chapter of %d pages of %d bytes, %d runs each (medians)\n' "$pages" "$image_bytes" "$p1_runs"
printf '  vexel-dl: %s   curl: %s   ratio: %s (goal <= 1.0)\n' \
  "$(seconds "$dl_time")" "$(seconds "$curl_time")" "$(ratio "$dl_time" "$curl_time")"
printf '  vexel-dl connections: %s for the images, %s in all (goal: 1 for the chapter)\n' \
  "$image_connections" "$connections"
printf '  vexel-dl peak RSS: %s\n' "$(megabytes "$(sort -n "$work/p1_dl.rss" | tail -n 1)")"

# P6: the same chapter from a slow server, one page at a time and four at once.
start_sample_site "$site" "$work/site.out" --pages "$pages" --image-bytes "$image_bytes" \
  --delay-ms "$delay_ms"
set_addresses "$sample_site_base"
for _ in $(seq "$p6_runs"); do
  run_dl p6_j1 -j 1 || true
  run_dl p6_j4 -j 4 || true
  # In parallel mode curl draws its progress meter even with -s.
  run_curl p6_curl --parallel --parallel-max 4 --no-progress-meter || true
done
stop_sample_site

j1_time=$(median <"$work/p6_j1.times")
j4_time=$(median <"$work/p6_j4.times")
parallel_time=$(median <"$work/p6_curl.times")
j4_rss=$(sort -n "$work/p6_j4.rss" | tail -n 1)

printf 'P6: the same chapter with every image answered %d ms late, %d runs each (medians)\n' \
  "$delay_ms" "$p6_runs"
printf '  vexel-dl -j 1: %s   vexel-dl -j 4: %s   curl --parallel-max 4: %s\n' \
  "$(seconds "$j1_time")" "$(seconds "$j4_time")" "$(seconds "$parallel_time")"
printf '  speed-up -j 4 / -j 1: %s (goal >= 3.5)\n' "$(ratio "$j1_time" "$j4_time")"
printf '  ratio -j 4 / curl parallel: %s (goal <= 1.1)\n' "$(ratio "$j4_time" "$parallel_time")"
printf '  vexel-dl -j 4 peak RSS: %s (goal < 30 MB)\n' "$(megabytes "${j4_rss:-n/a}")"

# P-comic: comic 1 of the site with its first two chapters as they are and
# 20 more of $comic_pages pages each (3 to 22), which --chapters 3- picks
# from the comic's page.
# check_comic: true when $work/dl holds the whole comic and every chapter
# ended 下载完成.
check_comic() {
  local stored complete
  stored=$(find "$work/dl" -name '*.png' | wc -l)
  complete=$(grep -c '^下载完成$' "$work/dl.log" || true)
  if [ "$stored" -ne $((comic_chapters * comic_pages)) ] || [ "$complete" -ne "$comic_chapters" ]; then
    echo "download_bench: $1 stored $stored pages, $complete chapters complete" >&2
    return 1
  fi
}
start_sample_site "$site" "$work/site.out" --chapters $((comic_chapters + 2)) \
  --pages "$comic_pages" --image-bytes "$image_bytes" --stats
base=$sample_site_base
for _ in $(seq "$comic_runs"); do
  fresh "$work/dl"
  curl -s "${base}stats/reset" >/dev/null
  start=$(now)
  "$dl" -o "$work/dl" --all-chapters --chapters 3- "${base}comic/1/" \
    >"$work/dl.log" 2>"$work/dl.err" || {
    echo "download_bench: vexel-dl --all-chapters failed: $(head -n 1 "$work/dl.err")" >&2
    exit 1
  }
  elapsed=$(since "$start")
  comic_stats=$(curl -s "${base}stats")
  check_comic "vexel-dl --all-chapters" || exit 1
  echo "$elapsed" >>"$work/comic_all.times"

  fresh "$work/dl"
  : >"$work/dl.log"
  # The runs one after another, timed as a whole like the one above.
  start=$(now)
  for chapter in $(seq 3 $((comic_chapters + 2))); do
    "$dl" -o "$work/dl" "${base}comic/1/$chapter.html" >>"$work/dl.log" 2>"$work/dl.err" || {
      echo "download_bench: vexel-dl on chapter $chapter failed: $(head -n 1 "$work/dl.err")" >&2
      exit 1
    }
  done
  elapsed=$(since "$start")
  check_comic "20 single-chapter runs" || exit 1
  echo "$elapsed" >>"$work/comic_single.times"
done
stop_sample_site

all_time=$(median <"$work/comic_all.times")
single_time=$(median <"$work/comic_single.times")
printf 'P-comic: %d chapters of %d pages of %d bytes, %d runs each (medians)\n' \
  "$comic_chapters" "$comic_pages" "$image_bytes" "$comic_runs"
printf '  vexel-dl --all-chapters: %s   %d single-chapter runs: %s   ratio: %s (goal <= 1.05)\n' \
  "$(seconds "$all_time")" "$comic_chapters" "$(seconds "$single_time")" \
  "$(ratio "$all_time" "$single_time")"
printf '  connections for the whole comic: %s in all, %s for the images (goal: 1)\n' \
  "$(awk '/^connections/ { print $2 }' <<<"$comic_stats")" \
  "$(awk '/^image_connections/ { print $2 }' <<<"$comic_stats")"
