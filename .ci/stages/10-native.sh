#!/usr/bin/env bash
# Native build of everything and its unit and end-to-end tests. The desktop
# program needs FLTK and the fonts; its window tests run it under Xvfb with
# openbox and read screenshots (xdotool, x11-utils, wmctrl, imagemagick); the
# package test needs dpkg-dev and desktop-file-utils.
set -euo pipefail
source "$(dirname "$0")/../ensure-packages.sh"
ensure_packages cmake ninja-build g++ libgtest-dev libbenchmark-dev \
    libfltk1.3-dev fonts-liberation \
    xvfb openbox xdotool x11-utils wmctrl imagemagick \
    dpkg-dev desktop-file-utils file
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/native
ctest --test-dir build/native --output-on-failure
