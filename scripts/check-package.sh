#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh built, without installing
# it: unpacks it into a scratch root and looks at what a user would get.
#   scripts/check-package.sh [PACKAGE.deb]   default: build/package/vexel-downloader_*.deb
# Exits non-zero, naming the fault, when a file is missing, a program is not
# stripped, the desktop entry draws any remark from desktop-file-validate, the
# unpacked vexel-dl does not run, or the dependencies miss libcurl or
# Qt 6 WebEngine.
set -euo pipefail
cd "$(dirname "$0")/.."

package=${1:-}
if [ -z "$package" ]; then
  shopt -s nullglob
  found=(build/package/vexel-downloader_*.deb)
  shopt -u nullglob
  if [ ${#found[@]} -ne 1 ]; then
    echo "check-package: expected one build/package/vexel-downloader_*.deb, found ${#found[@]};" \
      "run scripts/package.sh first" >&2
    exit 1
  fi
  package=${found[0]}
fi

failures=0
fail() {
  echo "check-package: FAIL: $*" >&2
  failures=$((failures + 1))
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$package" "$root"

echo "check-package: $package"
dpkg-deb -c "$package" | awk '{print "  " $NF}'

desktop=usr/share/applications/vexel-downloader.desktop
icon=usr/share/icons/hicolor/scalable/apps/vexel-downloader.svg
for path in usr/bin/vexel-downloader usr/bin/vexel-dl "$desktop" "$icon"; do
  [ -f "$root/$path" ] || fail "/$path is missing"
done

for program in usr/bin/vexel-downloader usr/bin/vexel-dl; do
  [ -f "$root/$program" ] || continue
  description=$(file -b "$root/$program")
  case "$description" in
    *", stripped"*) ;;
    *) fail "/$program is not stripped: $description" ;;
  esac
done

if [ -f "$root/$desktop" ]; then
  remarks=$(desktop-file-validate "$root/$desktop" 2>&1) || true
  [ -z "$remarks" ] || fail "desktop-file-validate: $remarks"
fi

package_version=$(dpkg-deb -f "$package" Version)
if [ -x "$root/usr/bin/vexel-dl" ]; then
  if version=$("$root/usr/bin/vexel-dl" --version 2>&1); then
    echo "check-package: vexel-dl --version: $version"
    grep -qF "$package_version" <<<"$version" ||
      fail "vexel-dl --version does not name the package version $package_version"
  else
    fail "vexel-dl --version failed: $(head -n 1 <<<"$version")"
  fi
fi

depends=$(dpkg-deb -f "$package" Depends)
echo "check-package: Depends: $depends"
[ -n "$depends" ] || fail "Depends is empty"
grep -q 'libcurl' <<<"$depends" || fail "Depends does not name libcurl"
grep -q 'libqt6webenginecore6' <<<"$depends" || fail "Depends does not name Qt 6 WebEngine"

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures fault(s)" >&2
  exit 1
fi
echo "check-package: OK"
