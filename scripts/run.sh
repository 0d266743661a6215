#!/usr/bin/env bash
# Builds the program and starts it on the bundled sample comic site.
#
# The sample site runs on 127.0.0.1 at a free port for as long as the window is
# open; the window opens it as its home page (--site). Chapters go into a
# folder named after the chapter beside the program (build/release/app/).
# Without a display the same job runs headless: vexel-dl downloads a sample
# chapter into build/release/downloads and lists what it stored.
#   scripts/run.sh [extra vexel-downloader arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

"$PWD/scripts/install-deps.sh"

build_dir=build/release
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXEL_WERROR=ON >/dev/null
cmake --build "$build_dir" --target vexel-downloader vexel-dl vexel-sample-site

# shellcheck source=scripts/sample_site.sh
. scripts/sample_site.sh
trap 'exit 130' INT TERM

start_sample_site "$build_dir/examples/vexel-sample-site" "$work/site.out"
site=$sample_site_base
echo "run: sample site at $site"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  chapter="${site}comic/1/1.html"
  echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."
  echo "run: running the same job headless instead: vexel-dl $chapter"
  status=0
  "$build_dir/cli/vexel-dl" -o "$build_dir/downloads" "$chapter" || status=$?
  echo "run: stored in $build_dir/downloads:"
  (cd "$build_dir/downloads" 2>/dev/null && find . -type f | sort | sed 's/^\.\//  /') || true
  exit "$status"
fi

echo "run: opening the window; closing it stops the sample site"
status=0
"$build_dir/app/vexel-downloader" --site "$site" "$@" || status=$?
exit "$status"
