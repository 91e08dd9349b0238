#!/bin/sh
# Tiling speed: one half of a synthetic 3601 x 3601 DTED cell (137 OBJ tiles), against
# gdal_translate writing the same cell as XYZ text, in MB/s of text written.
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
# mb_per_s BYTES SECONDS
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }

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

start=$(now)
gdal_translate -q -of XYZ "$CELL" "$WORK/cell.xyz"
end=$(now)
gdal_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
gdal_bytes=$(stat -c %s "$WORK/cell.xyz")

tiler_rate=$(rate "$tiler_bytes" "$tiler_s")
gdal_rate=$(rate "$gdal_bytes" "$gdal_s")
printf 'skyframe-tiler tiles, one half: %d files, %.0f MB in %.2f s: %s MB/s\n' \
    "$tiles" "$(awk -v b="$tiler_bytes" 'BEGIN { print b / 1e6 }')" "$tiler_s" "$tiler_rate"
printf 'gdal_translate -of XYZ, same cell: %.0f MB in %.2f s: %s MB/s\n' \
    "$(awk -v b="$gdal_bytes" 'BEGIN { print b / 1e6 }')" "$gdal_s" "$gdal_rate"
[ -f "$WORK/rss" ] && printf 'skyframe-tiler peak memory: %s kB\n' "$(cat "$WORK/rss")"
awk -v t="$tiler_rate" -v g="$gdal_rate" 'BEGIN { printf "ratio: %.1fx (goal: at least 10x)\n", t / g }'
