#!/usr/bin/env bash
# Native build of everything and its unit and end-to-end tests. The desktop
# program needs FLTK and the fonts; its window tests run it under Xvfb with
# openbox and read screenshots (xdotool, x11-utils, wmctrl, imagemagick); the
# package tests need dpkg-dev, desktop-file-utils, lintian, help2man and
# man-db (the last two for the manual pages); the source checks need
# clang-format and shellcheck. The console runner is built with CLI11,
# nlohmann/json and hwloc; its real-time test reads the JSON with jq, its
# command-line test measures peak memory with GNU time;
# rt-tests gives cyclictest, whose idle figures docs/measurements.md sets
# beside ours; strace counts the real-time thread's system calls.
# The real-time mode's JACK client builds on libjack-jackd2-dev; its tests
# start jackd (jackd2, with jack_lsp and jack_bufsize) and PipeWire (its
# daemon and pw-metadata, the modules, and pw-jack) with dummy drivers.
# The plugin host builds on lilv and the LV2 headers (liblilv-dev, lv2-dev);
# its tests compare the listing with lv2ls (lilv-utils) and run Debian's
# plugins: the x42 EQ, lv2-examples' sampler, mda's instruments, a dragonfly
# reverb and an LSP compressor. The session reader reads Ardour's XML with
# pugixml (libpugixml-dev).
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/ensure-packages.sh
source .ci/sections.sh
ensure_packages cmake ninja-build g++ libgtest-dev libbenchmark-dev \
    libfltk1.3-dev fonts-liberation \
    xvfb openbox xdotool x11-utils wmctrl imagemagick \
    dpkg-dev desktop-file-utils file lintian help2man man-db clang-format shellcheck \
    libcli11-dev nlohmann-json3-dev libhwloc-dev jq time rt-tests strace \
    libjack-jackd2-dev jackd2 pipewire pipewire-bin pipewire-jack libpipewire-0.3-modules \
    liblilv-dev lv2-dev lilv-utils x42-plugins lv2-examples mda-lv2 dragonfly-reverb-lv2 \
    lsp-plugins-lv2 libpugixml-dev
section "source checks"
.ci/source-checks.sh
section "release build"
cmake --preset release
cmake --build --preset release
section "release tests"
ctest --preset release
