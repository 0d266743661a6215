#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) in
# build/fuzz and runs each for SECONDS (default 60). Fails on any crash,
# sanitizer report, leak, timeout or out-of-memory; the failing input is left
# in build/fuzz/ as crash-*, timeout-*, leak-* or oom-*.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build_dir=build/fuzz
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all"
flags+=" -fno-omit-frame-pointer -g -O1"

cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="$flags" \
  -DVEXEL_FUZZ=ON -DVEXEL_BUILD_APP=OFF -DVEXEL_BUILD_TESTS=OFF -DVEXEL_BUILD_BENCH=OFF
cmake --build "$build_dir" --target fuzz_document fuzz_query

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# A few seeds in the site's layout, so the runs start from real structure.
seed() {  # seed TARGET NAME CONTENT
  mkdir -p "$build_dir/corpus/$1"
  printf '%s' "$3" > "$build_dir/corpus/$1/$2"
}
page='<html><head><meta charset=utf-8><title>t</title><script>if(a<b){}</script></head><body>'
page+='<div class="stauts_left">您正在看：<a href="/c/">ABC</a> &gt; <a>第5话</a> &gt;共12页</div>'
page+='<img class="ImgComic" src="pics/1.jpg"><table><tr><td>a<td>b</table>'
page+='<select><option>1<option selected>2</select><pre> x </pre><p>y<br>z</body></html>'
seed fuzz_document page "B$page"
seed fuzz_document tree $'\xC0\x05\x02\x03\x01\x06\x03\x05hello\x02\x05\x08\x02'
seed fuzz_query chapter "innerText element that className = stauts_left AND innerText have 您正在看："$'\n'"$page"
seed fuzz_query actions "set element = [ x ] that tagName = INPUT"$'\n'"<input><select><option>a</select>"

for target in fuzz_document fuzz_query; do
  # Seeds kept in the repository, one folder per target (fuzz/corpus/document
  # for fuzz_document): inputs that once cost too much. libFuzzer only reads
  # them; what it finds goes to the first folder, in the build tree.
  kept=()
  if [ -d "fuzz/corpus/${target#fuzz_}" ]; then
    kept=("../../fuzz/corpus/${target#fuzz_}")
  fi
  echo "fuzz.sh: running $target for ${seconds}s"
  (cd "$build_dir" && "./fuzz/$target" -max_total_time="$seconds" -timeout=20 \
    -rss_limit_mb=2560 -max_len=65536 -dict=../../fuzz/html.dict -print_final_stats=1 \
    "corpus/$target" "${kept[@]}")
done
echo "fuzz.sh: no failures"
