#!/usr/bin/env bash
# Native build of everything and its unit and end-to-end tests.
set -euo pipefail
source "$(dirname "$0")/../ensure-packages.sh"
ensure_packages cmake ninja-build g++ libgtest-dev libbenchmark-dev
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/native
ctest --test-dir build/native --output-on-failure
