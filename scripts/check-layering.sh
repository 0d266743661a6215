#!/usr/bin/env bash
# Checks that each folder includes only what its layer may use:
#   text/      nothing of the project's other folders, no Qt
#   query/     text/ and itself only, no Qt
#   download/  query/, text/ and itself only, no Qt, no libcurl, gumbo or SQLite
#   queue/     download/, query/, text/ and itself only, no Qt, no libcurl or SQLite
#   library/   queue/, download/, query/, text/ and itself only, no Qt, no libcurl
#   net/, files/  nothing of runtime/, app/ or cli/
#   runtime/   nothing of app/ or cli/
#   every folder but app/ (and the window's own tests and benchmark, app_bench*): no Qt
# The build's include directories already refuse most wrong includes; this
# also catches relative paths ("../net/...") and system-style includes.
#   scripts/check-layering.sh [ROOT]   exits 1 and lists each offending line
set -uo pipefail
shopt -s lastpipe  # report() runs in this shell, so its status counts
root="${1:-$(dirname "$0")/..}"
cd "$root" || exit 2

status=0
report() {  # $1: what is wrong; stdin: grep -n output
  local found
  found=$(cat)
  if [ -n "$found" ]; then
    printf '%s\n%s\n' "$1" "$found"
    status=1
  fi
}
sources() {  # the C++ files under the given folders
  find "$@" -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null
}
includes() {  # lines of the files on stdin that include something matching $1
  xargs -r grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($1)" /dev/null
}

qt='Q[A-Za-z]+(>|\.h>)|Qt[A-Za-z]+/'
project='(\.\./)*(html|net|files|download|queue|library|app|cli|examples)/'

sources text | includes "(\.\./)*query/|$project|$qt" |
  report "text/ may include only its own headers:"
sources query | includes "$project|$qt" |
  report "query/ may include only its own headers:"
sources download | includes "(\.\./)*(html|net|files|queue|library|app|cli|examples)/|$qt|curl/|gumbo|sqlite" |
  report "download/ may include only download/, query/ and text/:"
sources net files | includes "(\.\./)*(runtime|app|cli|examples)/|$qt" |
  report "net/ and files/ may not include runtime/, app/, cli/ or examples/:"
sources runtime | includes "(\.\./)*(app|cli|examples)/|$qt" |
  report "runtime/ may not include app/, cli/ or examples/:"
sources queue | includes "(\.\./)*(html|net|files|library|runtime|app|cli|examples)/|$qt|curl/|gumbo|sqlite" |
  report "queue/ may include only queue/, download/, query/ and text/:"
sources library | includes "(\.\./)*(html|net|files|app|cli|examples)/|$qt|curl/|gumbo" |
  report "library/ may include only library/, queue/, download/, query/ and text/:"
find . -path ./build -prune -o -path ./.git -prune -o -path ./app -prune -o \
  -path ./tests/app -prune -o -path './bench/app_bench*' -prune -o \
  -type f \( -name '*.h' -o -name '*.cpp' \) -print | includes "$qt" |
  report "only app/ may include Qt:"

if [ "$status" -eq 0 ]; then
  echo "layering: ok"
fi
exit "$status"
