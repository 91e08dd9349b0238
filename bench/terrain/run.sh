#!/bin/sh
# Tiling speed: one half of a synthetic 3601 x 3601 DTED cell (137 OBJ tiles), and a region
# tree of five cells (below), each against gdal_translate writing the same cells as XYZ text,
# in MB/s written; then the demo flight over a region tree.
# Usage: bench/terrain/run.sh BUILD_DIR
set -eu
BUILD=${1:-build}
TILER="$BUILD/bin/skyframe-tiler"
[ -x "$TILER" ] || { echo "bench/terrain: $TILER not built" >&2; exit 1; }
command -v gdal_translate >/dev/null || { echo "bench/terrain: gdal_translate not found" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/skyframe-terrain-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
CELL="$WORK/n33w16.dt2"
"$TILER" synth 33 -116 "$CELL"

now() { date +%s.%N; }
# Each timed run starts with the data written before it on disk, so that neither pays for the
# other's writing back (the kernel throttles a writer while much dirty data waits).
settle() { sync; }
# mb_per_s BYTES SECONDS
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }

settle
start=$(now)
if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M -o "$WORK/rss" "$TILER" tiles "$CELL" "$WORK/tiles" --half north >/dev/null
else
    "$TILER" tiles "$CELL" "$WORK/tiles" --half north >/dev/null
fi
end=$(now)
tiler_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
tiler_bytes=$(du -sb "$WORK/tiles" | cut -f1)
tiles=$(ls "$WORK/tiles" | wc -l)
rm -rf "$WORK/tiles"

settle
start=$(now)
gdal_translate -q -of XYZ "$CELL" "$WORK/cell.xyz"
end=$(now)
gdal_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
gdal_bytes=$(stat -c %s "$WORK/cell.xyz")
rm -f "$WORK/cell.xyz"

tiler_rate=$(rate "$tiler_bytes" "$tiler_s")
gdal_rate=$(rate "$gdal_bytes" "$gdal_s")
printf 'skyframe-tiler tiles, one half: %d files, %.0f MB in %.2f s: %s MB/s\n' \
    "$tiles" "$(awk -v b="$tiler_bytes" 'BEGIN { print b / 1e6 }')" "$tiler_s" "$tiler_rate"
printf 'gdal_translate -of XYZ, same cell: %.0f MB in %.2f s: %s MB/s\n' \
    "$(awk -v b="$gdal_bytes" 'BEGIN { print b / 1e6 }')" "$gdal_s" "$gdal_rate"
[ -f "$WORK/rss" ] && printf 'skyframe-tiler peak memory: %s kB\n' "$(cat "$WORK/rss")"
awk -v t="$tiler_rate" -v g="$gdal_rate" 'BEGIN { printf "ratio: %.1fx (goal: at least 10x)\n", t / g }'

# region: four level-1 cells and one level-2 cell into one tree, against gdal_translate
# writing the same cells as XYZ text, in MB/s written and cells per minute.
mkdir -p "$WORK/cells"
for cell in "33 -116" "33 -115" "34 -116" "34 -115"; do
    set -- $cell
    "$TILER" synth "$1" "$2" "$WORK/cells/c$1$2.dt1" --posts 1201 -q
done
"$TILER" synth 35 -116 "$WORK/cells/n35w116.dt2" -q
settle
start=$(now)
if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M %U %S' -o "$WORK/rss" "$TILER" region "$WORK/region" "$WORK/cells" -q
else
    "$TILER" region "$WORK/region" "$WORK/cells" -q
fi
end=$(now)
region_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
region_bytes=$(du -sb "$WORK/region" | cut -f1)
region_files=$(find "$WORK/region" -name '*.osgb' | wc -l)
# Each cell to a file of its own, removed after the timing as the tiler's tree is: the timed
# loop does nothing but convert.
mkdir -p "$WORK/xyz"
settle
start=$(now)
for cell in "$WORK"/cells/*; do
    gdal_translate -q -of XYZ "$cell" "$WORK/xyz/$(basename "$cell").xyz"
done
end=$(now)
xyz_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
xyz_bytes=$(du -sb "$WORK/xyz" | cut -f1)
rm -rf "$WORK/xyz"
region_rate=$(rate "$region_bytes" "$region_s")
xyz_rate=$(rate "$xyz_bytes" "$xyz_s")
printf 'skyframe-tiler region, 4 level-1 + 1 level-2 cells: %d files, %.0f MB in %.2f s: %s MB/s, %.1f cells/min\n' \
    "$region_files" "$(awk -v b="$region_bytes" 'BEGIN { print b / 1e6 }')" "$region_s" "$region_rate" \
    "$(awk -v s="$region_s" 'BEGIN { print 5 * 60 / s }')"
printf 'gdal_translate -of XYZ, same cells: %.0f MB in %.2f s: %s MB/s\n' \
    "$(awk -v b="$xyz_bytes" 'BEGIN { print b / 1e6 }')" "$xyz_s" "$xyz_rate"
# System time well above the user time means the file system made creating files slow: on
# ext4 without a journal, for a while after many files were deleted, each new inode is
# searched for past the recently freed ones.
[ -f "$WORK/rss" ] && awk '{ printf "skyframe-tiler region peak memory: %s kB; CPU %.2f s user, %.2f s system\n", $1, $2, $3 }' "$WORK/rss"
awk -v t="$region_rate" -v g="$xyz_rate" 'BEGIN { printf "region ratio: %.1fx (goal: at least 10x)\n", t / g }'

# Time until the finest tiles under the camera are loaded: a 20-s hover over the sample
# route, 3000 m up, looking 30 degrees down, played at its own rate over the demo's region
# tree. strace stamps every tile file the pager opens; once the view is refined as far as
# the tree's screen-space error asks, no further file is opened, so the last opening, counted
# from the opening of the root, is the time the camera waited for its finest tiles.
paging_time() {
    command -v strace >/dev/null || { echo "bench/terrain: strace not found; paging time skipped" >&2; return 0; }
    "$BUILD/bin/skyframe-sim" "$WORK/hover.ts" --hover 33.49756,-115.89876,3000 --heading 30 \
        --look forward 30 --hfov 40 --ground plain --duration 20 2>/dev/null ||
        { echo "bench/terrain: skyframe-sim failed; paging time skipped" >&2; return 0; }
    eval $display strace -f -tt -e trace=openat -o '"$WORK/opens"' '"$BUILD/bin/skyframe"' \
        --realtime '"$WORK/hover.ts"' data/mission.xml data/targets.xml \
        '"$WORK/demo-region/terrain.osgb"' >/dev/null 2>&1 || true
    awk -v root="$WORK/demo-region/terrain.osgb" 'BEGIN { deepest = -1 }
        function seconds(t,  p) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
        /openat\(/ && /\.osgb"/ && !/ENOENT/ {
            t = seconds($2)
            if (index($0, "\"" root "\"")) { if (start == "") start = t; next }
            if (start == "") next
            files++; last = t
            if (match($0, /\/q[0-9]*\.osgb"/)) { d = RLENGTH - 8; if (d > deepest) deepest = d }
        }
        END {
            if (start == "") { print "bench/terrain: the viewer never opened the region tree" > "/dev/stderr"; exit }
            printf "hover over the demo region tree: %d tile files paged in, deepest level %d, the last %.2f s after the root\n", files, deepest + 1, last - start
        }' "$WORK/opens"
}

# The demo flight over a region tree of the demo's cell, unpaced: pictures per second against
# real time and triangles drawn per frame.
DEMO="$BUILD/demo"
if [ -f "$DEMO/salton.dt2" ] && [ -f "$DEMO/flight.ts" ]; then
    "$TILER" region "$WORK/demo-region" "$DEMO/salton.dt2" -q
    display=""
    [ -z "${DISPLAY:-}" ] && display='xvfb-run -a -s "-screen 0 1600x900x24"'
    eval SKYFRAME_STATS=1 $display '"$BUILD/bin/skyframe"' '"$DEMO/flight.ts"' data/mission.xml \
        data/targets.xml '"$WORK/demo-region/terrain.osgb"' >"$WORK/viewer.out" 2>"$WORK/viewer.err" || true
    stats=$(grep "skyframe stats:" "$WORK/viewer.err" || true)
    field() { echo "$stats" | sed -n "s/.* $1 \([0-9.]*\).*/\1/p"; }
    if [ -n "$stats" ]; then
        printf 'demo flight over the region tree, unpaced: %.1f pictures/s, %.2fx real time (30 fps), %s triangles per frame (largest %s; aim: at most 300000 at 1280 x 720)\n' \
            "$(awk -v d="$(field decoded)" -v w="$(field wall)" 'BEGIN { print d / w }')" \
            "$(awk -v d="$(field decoded)" -v w="$(field wall)" 'BEGIN { print d / 30 / w }')" \
            "$(field triangles-per-frame)" "$(field max)"
    else
        echo "bench/terrain: the viewer failed on the region tree; see $WORK/viewer.err" >&2
    fi
    paging_time
else
    echo "bench/terrain: no demo cell and flight in $DEMO (make demo first); flight over the region tree skipped" >&2
fi
