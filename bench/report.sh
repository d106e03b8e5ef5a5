#!/usr/bin/env bash
# Builds the kernel benchmarks and prints their report as markdown: the date,
# the processor, the load on the machine, then the tables. Every figure is the
# best of 30 runs of at least 10 ms each, the runs of all benchmarks shuffled
# together, so that a busy moment of the machine costs little and touches all
# figures alike; run it on an idle machine all the same (see the load shown).
# Google Benchmark's own lines go to build/bench/zem_bench.log.
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/ensure-packages.sh
ensure_packages cmake ninja-build g++ libbenchmark-dev
cmake --preset bench >/dev/null
cmake --build --preset bench --target zem_bench >/dev/null

processor=$(grep -m1 -E '^model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ *//')
[ -n "$processor" ] || processor=$(uname -m)
load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "### Kernel benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "Processor: $processor, $(nproc) logical cores; Linux $(uname -r)."
echo "Load average (1, 5, 15 min) before the run: $(load)."
echo "Each figure: the best of 30 runs of at least 10 ms, all runs shuffled together."
echo "Cycles are core cycles, counted by a chain of dependent adds (one cycle each)."
echo
build/bench/bench/zem_bench --benchmark_min_time=0.01 --benchmark_repetitions=30 \
    --benchmark_enable_random_interleaving=true \
    "$@" 2>build/bench/zem_bench.log
echo
echo "Load average after the run: $(load)."
