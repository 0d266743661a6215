#!/usr/bin/env bash
# Builds the Debian package: a Release build of the two programs (no tests, no
# benchmarks) in build/package, then `cpack -G DEB`. Prints the package's path.
#   scripts/package.sh          -> build/package/vexel-downloader_<version>_amd64.deb
# Install it with: sudo apt-get install ./build/package/vexel-downloader_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

"$PWD/scripts/install-deps.sh"

build_dir=build/package
# Only the programs are built; installing (and so cpack) must not build
# everything else first, such as the sample site. Warnings are errors in the
# test builds; here they are not, since GCC 12 at -O3 reports string
# concatenations that cannot overlap as overlapping copies (-Wrestrict).
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXEL_WERROR=OFF \
  -DVEXEL_BUILD_APP=ON -DVEXEL_BUILD_TESTS=OFF -DVEXEL_BUILD_BENCH=OFF -DVEXEL_FUZZ=OFF \
  -DVEXEL_SANITIZE=OFF -DVEXEL_TSAN=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build_dir" --target vexel-downloader vexel-dl

rm -f "$build_dir"/vexel-downloader_*.deb
(cd "$build_dir" && cpack -G DEB)
package=$(ls "$build_dir"/vexel-downloader_*.deb)
echo "package: $package"
