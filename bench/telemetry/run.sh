#!/bin/sh
# ST 0601 item walk and EG 0104 element walk throughput on realistic packets (MB/s and
# packets/s).
set -eu
BUILD=${1:-build}
exec "$BUILD/bench/telemetry/telemetry_bench" --benchmark_min_time=1 \
    --benchmark_counters_tabular=true
