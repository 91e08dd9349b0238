#!/bin/sh
# The whole system on sample data: a synthetic elevation cell under the sample mission, its
# region tree of terrain tiles, a 60-second flight over the sample route filmed from the
# same terrain, an annotated copy of the flight (the overlay burnt into the pictures, the
# telemetry kept), and the viewer playing that flight with the sample mission and targets.
# Data that already exists is not made again (delete BUILD/demo to start afresh). With a
# display the viewer opens its window; without one it runs under Xvfb and screenshots are
# saved to BUILD/demo.
#
#   scripts/demo.sh [BUILD]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
out="$BUILD/demo"
tiler="$BUILD/bin/skyframe-tiler"
sim="$BUILD/bin/skyframe-sim"
viewer="$BUILD/bin/skyframe"
mission=data/mission.xml
targets=data/targets.xml
mkdir -p "$out"

step() { printf '\n== demo: %s\n' "$*"; }

cell="$out/salton.dt2"
tree="$out/region/terrain.osgb"
flight="$out/flight.ts"

if [ -f "$cell" ]; then
    step "elevation cell $cell (already made)"
else
    step "synthetic DTED level-2 cell under the sample mission: $cell"
    "$tiler" synth 33 -116 "$cell"
fi

if [ -f "$tree" ]; then
    step "terrain tree $tree (already made)"
else
    step "terrain tiles and their root in $out/region (about 310 MB)"
    "$tiler" region "$out/region" "$cell"
fi

if [ -f "$flight" ]; then
    step "flight $flight (already made)"
else
    step "60-second flight over the sample route, filmed over that terrain: $flight"
    "$sim" "$flight" --duration 60 --speed 150 --altitude 3500 --look forward 32 --hfov 50 \
        --dted "$cell"
fi

annotated="$out/flight-annotated.ts"
if [ -f "$annotated" ]; then
    step "annotated flight $annotated (already made)"
else
    step "annotated copy of the flight, rendered off screen: $annotated"
    "$viewer" --export "$annotated" --hud "$flight" "$mission" "$targets" "$tree" >/dev/null
fi

if [ -n "${DISPLAY:-}" ]; then
    step "playing the flight: $viewer $flight $mission $targets $tree"
    exec "$viewer" --realtime "$flight" "$mission" "$targets" "$tree"
fi

step "no display: playing the flight under Xvfb and taking screenshots"
run="$out/viewer-run"
status=0
# At the video's own rate, as a person watches it (unpaced, a fast machine would be through
# the flight before the last screenshot).
scripts/run-viewer.sh "$run" --shot 12 1 --shot 24 2 --shot 38 3 --shot 52 4 -- \
    "$viewer" --realtime "$flight" "$mission" "$targets" "$tree" || status=$?
[ "$status" -eq 0 ] && status=$(cat "$run/exit")
if [ "$status" -ne 0 ]; then
    echo "demo: the viewer failed with exit status $status; its output is in $run" >&2
    cat "$run/stderr" >&2
    exit 1
fi
shots=""
for n in 1 2 3 4; do
    if [ -f "$run/$n.png" ]; then
        # The window sits at (50, 50) on the virtual screen.
        convert "$run/$n.png" -crop 1280x720+50+50 +repage "$out/screenshot-$n.png"
        shots="$shots $out/screenshot-$n.png"
    fi
done
if [ -z "$shots" ]; then
    echo "demo: no screenshot could be taken; the viewer's output is in $run" >&2
    exit 1
fi
echo "demo: screenshots saved:$shots"
