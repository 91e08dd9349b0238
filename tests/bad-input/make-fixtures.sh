#!/bin/sh
# Makes the inputs that the bad-input cases share, once per run, in $1: a tiny video with
# telemetry, the sample mission and targets, a small terrain model and a large one to cut,
# a small paged tree with its manifest, and a longer video for the pager to read it during.
#
#   make-fixtures.sh DIR SOURCE_DIR KLV_SAMPLE TERRAIN_FIXTURE
set -eu
dir=$1 source=$2 klv_sample=$3 terrain=$4
rm -rf "$dir"
mkdir -p "$dir"
"$klv_sample" "$dir/v.ts" --frames 6 --size 64x64 2>/dev/null
"$klv_sample" "$dir/long.ts" --frames 120 --size 64x64 2>/dev/null
cp "$source/data/mission.xml" "$source/data/targets.xml" "$dir/"
"$terrain" "$dir/small.osgb" 8
# More than 2 MB, so that it can be cut at every size a download might stop at.
"$terrain" "$dir/large.osgb" 400
[ "$(wc -c <"$dir/large.osgb")" -gt 2097152 ]
"$terrain" --tree "$dir/tree"
