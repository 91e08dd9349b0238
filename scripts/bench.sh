#!/bin/sh
# Runs every benchmark: each bench/<name>/run.sh, given the build folder.
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
status=0
for script in bench/*/run.sh; do
    [ -f "$script" ] || continue
    echo "== $script" >&2
    sh "$script" "$BUILD" || status=1
done
exit $status
