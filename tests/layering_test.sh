#!/usr/bin/env bash
# The project's tree passes the layering check, and the check refuses each
# kind of wrong include planted in a scratch tree.
set -u
check="$1/scripts/check-layering.sh"
"$check" "$1" || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
expect_refused() {  # $1: file, $2: its include line
  rm -rf "${scratch:?}"/*
  mkdir -p "$scratch/$(dirname "$1")"
  printf '%s\n' "$2" >"$scratch/$1"
  if "$check" "$scratch" >/dev/null; then
    echo "not refused: $1: $2"
    failures=$((failures + 1))
  fi
}
expect_refused query/a.h '#include "html/html_document.h"'
expect_refused query/a.cpp '#include "download/download_job.h"'
expect_refused download/a.cpp '#include "net/page_loader.h"'
expect_refused download/a.cpp '#include "../files/real_file_system.h"'
expect_refused download/a.h '#include <curl/curl.h>'
expect_refused download/a.h '#include <QString>'
expect_refused download/a.cpp '#include "library/library.h"'
expect_refused download/a.cpp '#include <sqlite3.h>'
expect_refused library/a.cpp '#include "net/page_loader.h"'
expect_refused library/a.h '#include <curl/curl.h>'
expect_refused net/a.cpp '#include <QtCore/QUrl>'
expect_refused cli/a.cpp '#include <QCoreApplication>'
[ "$failures" -eq 0 ] && echo "layering test: ok"
exit $((failures > 0))
