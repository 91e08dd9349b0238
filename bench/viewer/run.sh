#!/bin/sh
# Viewer playback benchmark: a 60-second 720p simulated flight played unpaced, against
# FFmpeg's own decoding of the same file, in one run.
#
#   bench/viewer/run.sh BUILD_DIR [TERRAIN]
#
# Reports decoded pictures per second for the viewer and for ffmpeg (one thread, and its
# default threads with conversion to BGR), their ratios, and where the viewer's time goes;
# then the export's rate beside ffmpeg's own transcode to H.264, and where its time goes.
# Without a display the viewer runs under Xvfb (Mesa's software OpenGL).
set -eu
BUILD=${1:-build}
TERRAIN=${2:-none.osgb}
cd "$(dirname "$0")/../.."
out="$BUILD/bench/viewer"
mkdir -p "$out"
flight="$out/flight-60s-720p-close.ts"
if [ ! -f "$flight" ]; then
    echo "bench: making the 60 s 720p flight (once)" >&2
    # Low and wide, looking at a target: several targets, their boxes and labels up close,
    # the heaviest drawing a flight over the sample asks for.
    "$BUILD/bin/skyframe-sim" "$flight.tmp.ts" --duration 60 --speed 100 --altitude 3000 \
        --hfov 50 --look target 2 2>"$out/sim.log"
    mv "$flight.tmp.ts" "$flight"
fi

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
elapsed() { calc "$2 - $1"; }
# CPU seconds (user and system) that this script's finished children have used so far: on
# a machine whose cores are all busy, the work each run costs, whatever the other load.
# `times` runs in this shell (a subshell would count its own children): cpu_mark records,
# cpu_read prints the count recorded.
cpu_mark() { times >"$out/times.txt"; }
cpu_read() {
    awk 'NR == 2 { n = 0; for (i = 1; i <= 2; i++) { split($i, p, "m"); n += p[1] * 60 + p[2] } print n }' "$out/times.txt"
}

start=$(now)
ffmpeg -v error -threads 1 -i "$flight" -f null - 
ffmpeg1=$(elapsed "$start" "$(now)")
start=$(now)
ffmpeg -v error -i "$flight" -pix_fmt bgr24 -f null -
ffmpegBgr=$(elapsed "$start" "$(now)")

display=""
if [ -z "${DISPLAY:-}" ]; then
    display='xvfb-run -a -s "-screen 0 1600x900x24"'
fi
# One unpaced run of the viewer with the given options; prints its report.
viewer_run() {
    label=$1
    shift
    eval SKYFRAME_STATS=1 $display '"$BUILD/bin/skyframe"' "$@" '"$flight"' data/mission.xml \
        data/targets.xml '"$TERRAIN"' >"$out/viewer.out" 2>"$out/viewer.err"
    stats=$(grep "skyframe stats:" "$out/viewer.err")
    field() { echo "$stats" | sed -n "s/.* $1 \([0-9.]*\).*/\1/p"; }
    decoded=$(field decoded)
    shown=$(field frames)
    wall=$(field wall)
    read=$(field read)
    decode=$(field decode)
    convert=$(field convert)
    camera=$(field camera)
    route=$(field route)
    render=$(field render)
    sync=$(field sync)
    outside=$(calc "$read + $decode + $convert + $camera + $route + $sync")

    echo "== skyframe $label"
    printf '%-44s %8.1f pictures/s  (%6.2f s)\n' "decoded, whole run" "$(calc "$decoded / $wall")" "$wall"
    printf 'speed against real time: %.2fx (%s pictures shown)\n' "$(calc "$decoded / 30 / $wall")" "$shown"
    printf 'time outside rendering: %.2f s = %.2fx ffmpeg -threads 1 decoding\n' "$outside" "$(calc "$outside / $ffmpeg1")"
    printf 'time sync: %.4f s = %.3f%% of a shown picture'"'"'s time\n' "$sync" "$(calc "100 * $sync / $shown / ($wall / $shown)")"
    printf 'where the time goes: read %.2f s, decode %.2f s, convert to BGRA %.2f s, telemetry %.3f s, camera %.3f s, route progress %.3f s, rendering %.2f s (%.1f ms a shown picture)\n' \
        "$read" "$decode" "$convert" "$sync" "$camera" "$route" "$render" "$(calc "1000 * $render / $shown")"
}

frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$flight" | head -n 1)
printf 'flight: %s (%s pictures, %.1f s of video at 30 fps)\n' "$flight" "$frames" "$(calc "$frames / 30")"
printf '%-44s %8.1f pictures/s  (%6.2f s)\n' "ffmpeg -threads 1 -f null" "$(calc "$frames / $ffmpeg1")" "$ffmpeg1"
printf '%-44s %8.1f pictures/s  (%6.2f s)\n' "ffmpeg (default threads) -pix_fmt bgr24" "$(calc "$frames / $ffmpegBgr")" "$ffmpegBgr"
viewer_run "unpaced, every second picture"
viewer_run "unpaced, --every-picture" --every-picture

# The export against FFmpeg's own transcode of the same file to H.264 (libx264, veryfast),
# both in MPEG-TS, in the same run. The export renders off screen (a private Xvfb when there
# is no display) and encodes every picture it shows.
start=$(now)
cpu_mark
cpuStart=$(cpu_read)
ffmpeg -v error -i "$flight" -c:v libx264 -preset veryfast -f mpegts - >/dev/null
transcode=$(elapsed "$start" "$(now)")
cpu_mark
transcodeCpu=$(elapsed "$cpuStart" "$(cpu_read)")
printf '%-44s %8.1f pictures/s  (%6.2f s, %.1f CPU-s)\n' "ffmpeg -c:v libx264 -preset veryfast" "$(calc "$frames / $transcode")" "$transcode" "$transcodeCpu"
export_run() {
    label=$1
    shift
    cpu_mark
    cpuStart=$(cpu_read)
    SKYFRAME_STATS=1 "$BUILD/bin/skyframe" --export "$out/exported.ts" -q "$@" "$flight" \
        data/mission.xml data/targets.xml "$TERRAIN" >"$out/export.out" 2>"$out/export.err"
    cpu_mark
    cpu=$(elapsed "$cpuStart" "$(cpu_read)")
    stats=$(grep "skyframe export stats:" "$out/export.err")
    field() { echo "$stats" | sed -n "s/.* $1 \([0-9.]*\).*/\1/p"; }
    pictures=$(field pictures)
    wall=$(field wall)
    # Against ffmpeg's transcode, whose every picture is both decoded and encoded: by the
    # pictures of the source gone through and by the pictures written.
    rate=$(calc "$frames / $wall")
    written=$(calc "$pictures / $wall")
    echo "== skyframe --export $label"
    printf '%-44s %8.1f source pictures/s, %.1f exported pictures/s  (%6.2f s)\n' \
        "exported, whole run" "$rate" "$written" "$wall"
    printf 'against ffmpeg'"'"'s transcode: %.2fx by source pictures, %.2fx by exported pictures\n' \
        "$(calc "$rate / ($frames / $transcode)")" "$(calc "$written / ($frames / $transcode)")"
    printf 'CPU: %.1f CPU-s, %.2fx the transcode'"'"'s %.1f CPU-s\n' "$cpu" "$(calc "$cpu / $transcodeCpu")" "$transcodeCpu"
    printf 'where the time goes: read %.2f s, decode %.2f s, convert %.2f s, render %.2f s, read-back %.2f s, hand-over %.2f s\n' \
        "$(field read)" "$(field decode)" "$(field convert)" "$(field render)" "$(field read-back)" "$(field hand-over)"
    printf '  on the encoding thread, beside the above: %.2f s converting to YUV, encoding and writing\n' "$(field encode)"
}
export_run "every second picture"
export_run "--every-picture" --every-picture
