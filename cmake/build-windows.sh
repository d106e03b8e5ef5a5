#!/usr/bin/env bash
# Builds Test_ZEM.exe and the console runner test_zem_cli.exe for 32-bit and
# for 64-bit Windows with Debian's MinGW-w64 cross compilers and copies them
# to out/win32/ and out/win64/. Also puts in out/ the zip of each
# (test-zem-VERSION-win32.zip and -win64.zip: the programs, README.TXT and
# LICENSE.TXT) and SHA256SUMS, listing the zips. The console runner's option
# and JSON libraries are header-only Debian packages (libcli11-dev,
# nlohmann-json3-dev); the cross compiler sees them through a folder of links
# to their headers only (cmake/third_party.cmake).
#
#   cmake/build-windows.sh [--with-tests]
#
# --with-tests also builds the engine's unit tests for 64-bit Windows
# (build/windows-x86_64/tests/engine_tests.exe; they need the googletest
# package's sources). The configurations are the windows-i686 and
# windows-x86_64 presets of CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/ensure-packages.sh

tests=OFF
case "${1:-}" in
--with-tests) tests=ON ;;
"") ;;
*)
    echo "usage: cmake/build-windows.sh [--with-tests]" >&2
    exit 2
    ;;
esac

packages=(cmake ninja-build g++ g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libcli11-dev
    nlohmann-json3-dev)
[ "$tests" = OFF ] || packages+=(googletest)
ensure_packages "${packages[@]}"

build_one() { # architecture, output folder, build the tests?
    local build="build/windows-$1"
    cmake --preset "windows-$1" --no-warn-unused-cli -DZEM_BUILD_TESTS="$3" >/dev/null
    cmake --build --preset "windows-$1"
    mkdir -p "out/$2"
    cp "$build/desktop/Test_ZEM.exe" "out/$2/Test_ZEM.exe"
    cp "$build/cli/test_zem_cli.exe" "out/$2/test_zem_cli.exe"
    echo "out/$2/Test_ZEM.exe out/$2/test_zem_cli.exe"
    local zip
    for zip in "$build"/package/*.zip; do
        cp "$zip" out/
        echo "out/${zip##*/}"
    done
}

rm -f out/*.zip out/SHA256SUMS
build_one i686 win32 OFF
build_one x86_64 win64 "$tests"
(cd out && sha256sum -- *.zip >SHA256SUMS)
echo out/SHA256SUMS
