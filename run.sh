#!/usr/bin/env bash
# Builds the benchmark and runs it: the console runner's full run (20 s + 20 s
# + 40 s). Arguments are passed to the runner (see --help).
set -euo pipefail
cd "$(dirname "$0")"
source .ci/ensure-packages.sh
ensure_packages cmake ninja-build g++
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEM_BUILD_TESTS=OFF \
    -DZEM_BUILD_BENCH=OFF >/dev/null
cmake --build build/run --target test_zem_cli >/dev/null
exec build/run/cli/test_zem_cli "$@"
