#!/usr/bin/env bash
# Native build of everything and its unit and end-to-end tests. The desktop
# program needs FLTK and the fonts; its window tests run it under Xvfb with
# openbox and read screenshots (xdotool, x11-utils, wmctrl, imagemagick); the
# package tests need dpkg-dev, desktop-file-utils, lintian, help2man and
# man-db (the last two for the manual pages); the source checks need
# clang-format and shellcheck. The console runner is built with CLI11,
# nlohmann/json and hwloc; its real-time test reads the JSON with jq;
# rt-tests gives cyclictest, whose idle figures the README sets beside ours.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/ensure-packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev libbenchmark-dev \
    libfltk1.3-dev fonts-liberation \
    xvfb openbox xdotool x11-utils wmctrl imagemagick \
    dpkg-dev desktop-file-utils file lintian help2man man-db clang-format shellcheck \
    libcli11-dev nlohmann-json3-dev libhwloc-dev jq rt-tests
.ci/source-checks.sh
cmake --preset release
cmake --build --preset release
ctest --preset release
