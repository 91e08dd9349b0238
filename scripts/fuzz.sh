#!/bin/sh
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one for
# FUZZ_SECONDS (default 120) on a scratch copy of its seed corpus. New interesting inputs
# stay in build-fuzz/corpus/<target>; copy the ones worth keeping into fuzz/.../corpus.
set -eu
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${FUZZ_SECONDS:-120}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSKYFRAME_FUZZ=ON -DSKYFRAME_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"${JOBS:-2}" --target fuzz_all
status=0
for corpus in fuzz/*/corpus/*; do
    [ -d "$corpus" ] || continue
    name=$(basename "$corpus")
    bin=$(find build-fuzz/fuzz -type f -name "$name" -perm -u+x | head -n 1)
    if [ -z "$bin" ]; then
        echo "fuzz: no binary for corpus $corpus" >&2
        status=1
        continue
    fi
    work="build-fuzz/corpus/$name"
    mkdir -p "$work"
    cp -n "$corpus"/* "$work"/ 2>/dev/null || true
    echo "fuzz: $name for ${SECONDS_PER_TARGET}s" >&2
    "$bin" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 "$work" || status=1
done
exit $status
