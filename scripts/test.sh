#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs
# every test (core, command line and window tests). Exits non-zero on any
# failure.
#   scripts/test.sh             the whole suite
#   scripts/test.sh --sanitize  the core and command-line tests under ASan + UBSan (no window)
#   scripts/test.sh --tsan      the same under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

"$PWD/scripts/install-deps.sh"

build_dir=build/release
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXEL_WERROR=ON)
ctest_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build/sanitize
  cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DVEXEL_WERROR=ON -DVEXEL_SANITIZE=ON
              -DVEXEL_BUILD_APP=OFF -DVEXEL_BUILD_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
elif [ "${1:-}" = "--tsan" ]; then
  build_dir=build/tsan
  cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXEL_WERROR=ON -DVEXEL_TSAN=ON
              -DVEXEL_BUILD_APP=OFF -DVEXEL_BUILD_BENCH=OFF)
  # The suppressions cover third-party frames only; see the file.
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
fi

cmake -S . -B "$build_dir" -G Ninja "${cmake_args[@]}"
cmake --build "$build_dir"

# Window tests drive the real browser engine without a display; CI runs as root.
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --disable-background-networking --disable-component-update}"
ctest --test-dir "$build_dir" --output-on-failure --timeout 300 "${ctest_args[@]}"
