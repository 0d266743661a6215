#!/usr/bin/env bash
# Checks the changed C++ files against the project's .clang-format
# (clang-format --dry-run -Werror) and .clang-tidy (clang-tidy, every finding
# an error), and exits non-zero when either finds something.
#
#   scripts/check-style.sh [-p BUILD_DIR] [--all] [BASE]
#
# The changed files are those that differ between the working tree and the
# point where HEAD left BASE (git merge-base BASE HEAD), plus new files git
# does not ignore. BASE defaults to HEAD's parent, so in a fresh clone the
# files of the newest commit are checked, and locally that commit together
# with any edits not yet committed. With no parent to compare with (a first
# commit, or a clone of depth 1) every file counts as changed.
#
# --all checks every C++ file of the repository instead.
#
# clang-tidy needs the compile_commands.json of a configured build: that of
# BUILD_DIR, by default build/release (which scripts/test.sh makes). It checks
# the changed .cpp files, and for a changed header the .cpp of the same name
# beside it (with the project's headers they include); files the build does
# not compile (the window's, in a build without it) are skipped with a note.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/check-style.sh [-p BUILD_DIR] [--all] [BASE]" >&2
  exit 2
}

build_dir=build/release
all=0
base=
while [ $# -gt 0 ]; do
  case "$1" in
    -p)
      [ $# -ge 2 ] || usage
      build_dir=$2
      shift 2
      ;;
    --all)
      all=1
      shift
      ;;
    -*) usage ;;
    *)
      [ -z "$base" ] || usage
      base=$1
      shift
      ;;
  esac
done

for tool in clang-format clang-tidy git; do
  if ! command -v "$tool" >/dev/null; then
    echo "check-style: $tool is not installed" >&2
    exit 2
  fi
done
database="$build_dir/compile_commands.json"
if [ ! -f "$database" ]; then
  echo "check-style: no $database; configure that build first (scripts/test.sh makes build/release)" >&2
  exit 2
fi

cxx_pattern='\.(cpp|h)$'
if [ "$all" = 1 ]; then
  mapfile -t files < <(git ls-files | grep -E "$cxx_pattern" || true)
else
  if [ -z "$base" ]; then
    if git rev-parse -q --verify HEAD^ >/dev/null; then
      base=HEAD^
    else
      base=$(git hash-object -t tree /dev/null)  # the empty tree: everything is new
    fi
  fi
  if ! git rev-parse -q --verify "$base^{tree}" >/dev/null; then
    echo "check-style: not a commit: $base" >&2
    exit 2
  fi
  since=$base
  if git rev-parse -q --verify "$base^{commit}" >/dev/null; then
    since=$(git merge-base "$base" HEAD)
  fi
  mapfile -t files < <({
    git diff --name-only --diff-filter=d "$since" --
    git ls-files --others --exclude-standard
  } | grep -E "$cxx_pattern" | sort -u || true)
fi
existing=()
for file in "${files[@]}"; do
  [ -f "$file" ] && existing+=("$file")
done
files=("${existing[@]}")
if [ ${#files[@]} -eq 0 ]; then
  echo "check-style: no changed C++ files"
  exit 0
fi

jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "check-style: clang-format on ${#files[@]} files"
if ! printf '%s\0' "${files[@]}" | xargs -0 clang-format --dry-run -Werror; then
  status=1
fi

# The translation units that cover the files: a header through the .cpp of
# its name, when the build compiles one.
declare -A units=()
for file in "${files[@]}"; do
  unit=${file%.h}
  unit=${unit%.cpp}.cpp
  if [ -f "$unit" ]; then
    units[$unit]=1
  fi
done
tidy=()
for unit in "${!units[@]}"; do
  if grep -qF "\"file\": \"$PWD/$unit\"" "$database" ||
     grep -qF "\"file\": \"$unit\"" "$database"; then
    tidy+=("$unit")
  else
    echo "check-style: $unit is not in $database; clang-tidy skips it"
  fi
done
# .clang-tidy writes its header filter from the repository's root, but
# clang-tidy matches it against the header's path as found, which is absolute
# and, for a library's own headers, inside the build's per-library include
# folders (BUILD_DIR/include/LIB/html/...): anchored as written it would leave
# every header unchecked.
tidy_args=(-p "$build_dir" --quiet --warnings-as-errors='*')
header_filter=$(sed -n "s/^HeaderFilterRegex:[[:space:]]*'\(.*\)'[[:space:]]*$/\1/p" .clang-tidy)
if [ "${header_filter:0:1}" = "^" ]; then
  build_abs=$(cd "$build_dir" && pwd)
  tidy_args+=("--header-filter=^($PWD|$build_abs/include/[^/]+)/${header_filter:1}")
fi
if [ ${#tidy[@]} -gt 0 ]; then
  echo "check-style: clang-tidy on ${#tidy[@]} files, $jobs at a time"
  if ! printf '%s\0' "${tidy[@]}" | sort -z |
    xargs -0 -n 1 -P "$jobs" clang-tidy "${tidy_args[@]}"; then
    status=1
  fi
fi

if [ "$status" -ne 0 ]; then
  echo "check-style: findings above" >&2
fi
exit "$status"
