#!/bin/sh
# Until the viewer exists, the demo makes a short sample flight (video with MISB ST 0601
# telemetry) and shows what skyframe-klv reads from it.
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
out="$BUILD/demo"
mkdir -p "$out"
klv="$BUILD/tools/skyframe-klv/skyframe-klv"

"$BUILD/tools/skyframe-klv-sample/skyframe-klv-sample" "$out/sample.ts" --raw "$out/sample.klv" \
    --frames 90

echo
echo "== skyframe-klv $out/sample.ts   (text: the first record)"
"$klv" "$out/sample.ts" >"$out/sample.txt"
head -n 17 "$out/sample.txt"

echo "== skyframe-klv $out/sample.ts --format csv   (first rows of $out/sample.csv)"
"$klv" "$out/sample.ts" --format csv >"$out/sample.csv"
head -n 4 "$out/sample.csv"

echo
echo "== skyframe-klv $out/sample.klv --format json   (raw KLV; first lines of $out/sample.jsonl)"
"$klv" "$out/sample.klv" --format json 2>"$out/sample-raw.log" >"$out/sample.jsonl"
head -n 2 "$out/sample.jsonl"
tail -n 1 "$out/sample-raw.log"
