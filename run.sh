#!/usr/bin/env bash
# Builds the benchmark and runs it: the desktop program test_zem when an X
# display is available, otherwise the console runner's full run (20 s + 20 s
# + 40 s), saying why. Options are for the console runner (see --help) and
# run it directly.
set -euo pipefail
cd "$(dirname "$0")"
source .ci/ensure-packages.sh
# libjack-jackd2-dev: the real-time mode's --server jack (JACK, or PipeWire
# under pw-jack); liblilv-dev and lv2-dev: the LV2 plugin host.
ensure_packages cmake ninja-build g++ libfltk1.3-dev fonts-liberation libcli11-dev \
    nlohmann-json3-dev libhwloc-dev libjack-jackd2-dev liblilv-dev lv2-dev
cmake --preset program >/dev/null
cmake --build --preset program --target test_zem test_zem_cli >/dev/null

if [ "$#" -eq 0 ]; then
    if [ -z "${DISPLAY:-}" ]; then
        echo "run.sh: no X display (DISPLAY is not set): running the console benchmark instead" >&2
    else
        status=0
        build/program/desktop/test_zem || status=$?
        # test_zem exits 1 only when it cannot open the display, after saying so.
        [ "$status" -eq 1 ] || exit "$status"
        echo "run.sh: running the console benchmark instead" >&2
    fi
fi
exec build/program/cli/test_zem_cli "$@"
