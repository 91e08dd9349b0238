#!/bin/sh
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one for
# FUZZ_SECONDS (default 120) on a scratch copy of its seed corpus: one fuzzing process at a
# time, at nice FUZZ_NICE (default 10). FUZZ_TARGETS (space-separated names) runs only those;
# FUZZ_RUNS caps each run's executions as well; FUZZ_BUILD_ONLY=1 stops after the build and
# FUZZ_NO_BUILD=1 skips it (so that several campaigns can share one finished build). New interesting inputs stay in
# build-fuzz/corpus/<target>; copy the ones worth keeping into fuzz/.../corpus. Each run's
# log, with its final statistics (executions, coverage), is build-fuzz/<target>.log.
set -eu
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${FUZZ_SECONDS:-120}
if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSKYFRAME_FUZZ=ON -DSKYFRAME_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j"${JOBS:-2}" --target fuzz_all
fi
[ "${FUZZ_BUILD_ONLY:-0}" = 1 ] && exit 0
status=0
for corpus in fuzz/*/corpus/*; do
    [ -d "$corpus" ] || continue
    name=$(basename "$corpus")
    if [ -n "${FUZZ_TARGETS:-}" ] && ! echo " $FUZZ_TARGETS " | grep -q " $name "; then
        continue
    fi
    bin=$(find build-fuzz/fuzz -type f -name "$name" -perm -u+x | head -n 1)
    if [ -z "$bin" ]; then
        echo "fuzz: no binary for corpus $corpus" >&2
        status=1
        continue
    fi
    work="build-fuzz/corpus/$name"
    mkdir -p "$work" "build-fuzz/findings/$name"
    cp -n "$corpus"/* "$work"/ 2>/dev/null || true
    echo "fuzz: $name for ${SECONDS_PER_TARGET}s" >&2
    nice -n "${FUZZ_NICE:-10}" "$bin" -max_total_time="$SECONDS_PER_TARGET" \
        ${FUZZ_RUNS:+-runs="$FUZZ_RUNS"} \
        -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$name/" "$work" \
        >"build-fuzz/$name.log" 2>&1 || status=1
    grep -E '^(stat::|Done|INFO: A corpus|==[0-9]+==ERROR)|#[0-9]+.*DONE' "build-fuzz/$name.log" >&2 || true
done
exit $status
