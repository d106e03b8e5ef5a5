#!/usr/bin/env bash
# Windows program: Test_ZEM.exe and test_zem_cli.exe cross-built for 32-bit
# and 64-bit Windows, static checks of both desktop programs and of their
# zips, then the engine's tests, the 64-bit program and the 64-bit console
# runner's real-time mode under Wine (64-bit Wine only: 32-bit Linux programs do not run on this kind of
# machine).
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
source .ci/ensure-packages.sh
source .ci/sections.sh
ensure_packages cmake ninja-build g++ googletest g++-mingw-w64-i686-posix \
    g++-mingw-w64-x86-64-posix wine64 fonts-wine fonts-liberation libxrender1 libxcursor1 \
    libxi6 libxrandr2 libxinerama1 libxcomposite1 libxfixes3 xvfb openbox xdotool x11-utils \
    imagemagick file unzip libcli11-dev nlohmann-json3-dev jq || exit 1

section "two cross builds"
cmake/build-windows.sh --with-tests || exit 1

failed=()
check() { # name, command...
    local name=$1
    shift
    section "$name"
    "$@" || failed+=("$name")
}
check "32-bit executable" tests/artifacts/pe_check.sh out/win32/Test_ZEM.exe i686
check "64-bit executable" tests/artifacts/pe_check.sh out/win64/Test_ZEM.exe x86_64
# The kernels inside both builds, read back with the MinGW disassembler by the
# same checker as the Linux build's (built natively, by stage 10 or here).
checker=build/release/tools/kernel_check/kernel_disasm_check
if [ ! -x "$checker" ]; then
    ensure_packages libgtest-dev libfltk1.3-dev || exit 1
    cmake --preset release >/dev/null &&
        cmake --build --preset release --target kernel_disasm_check >/dev/null
fi
for arch in i686 x86_64; do
    check "$arch kernels" "$checker" "$arch-w64-mingw32-objdump" \
        build/windows-$arch/engine/kernels/CMakeFiles/zem_kernels.dir/*.obj
done
check "zips" tests/artifacts/package_check.sh zips out build
check "engine tests under Wine" tests/wine/engine_tests.sh \
    build/windows-x86_64/tests/engine_tests.exe
check "program under Wine" tests/wine/program_test.sh out/win64/Test_ZEM.exe
check "console runner's real-time mode under Wine" tests/wine/cli_realtime_test.sh \
    out/win64/test_zem_cli.exe

[ "${#failed[@]}" -eq 0 ] || echo "failed: ${failed[*]}"
[ "${#failed[@]}" -eq 0 ]
