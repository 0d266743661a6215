#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh built, without installing
# it: unpacks it into a scratch root and looks at what a user would get.
#   scripts/check-package.sh [PACKAGE.deb]   default: build/package/vexel-downloader_*.deb
# Exits non-zero, naming the fault, when a file is missing, a program is not
# stripped, the desktop entry draws any remark from desktop-file-validate, the
# unpacked vexel-dl does not run, the dependencies miss libcurl or
# Qt 6 WebEngine, xdg-utils is not recommended, or lintian reports an error.
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
doc=usr/share/doc/vexel-downloader
for path in usr/bin/vexel-downloader usr/bin/vexel-dl "$desktop" "$icon" \
  usr/share/man/man1/vexel-dl.1.gz usr/share/man/man1/vexel-downloader.1.gz \
  "$doc/copyright" "$doc/changelog.Debian.gz"; do
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

# Without the Debian revision (-1): the programs know the upstream version.
package_version=$(dpkg-deb -f "$package" Version)
package_version=${package_version%-*}
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
grep -q 'qt6-translations-l10n' <<<"$depends" || fail "Depends does not name qt6-translations-l10n (Qt's Chinese texts)"
recommends=$(dpkg-deb -f "$package" Recommends)
grep -qw 'xdg-utils' <<<"$recommends" || fail "Recommends does not name xdg-utils: '$recommends'"

# Every error (E:) fails; warnings and notes are shown, not counted. CI runs
# as root, which lintian would warn about; --allow-root quiets that.
lintian_flags=(--display-info --fail-on error)
[ "$(id -u)" -ne 0 ] || lintian_flags+=(--allow-root)
lintian_status=0
lintian_output=$(lintian "${lintian_flags[@]}" "$package" 2>&1) || lintian_status=$?
[ -z "$lintian_output" ] || sed 's/^/  lintian: /' <<<"$lintian_output"
lintian_errors=$(grep -c '^E: ' <<<"$lintian_output" || true)
if [ "$lintian_errors" -ne 0 ]; then
  fail "lintian reports $lintian_errors error(s)"
elif [ "$lintian_status" -ne 0 ]; then
  fail "lintian failed (status $lintian_status)"
fi

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures fault(s)" >&2
  exit 1
fi
echo "check-package: OK"
