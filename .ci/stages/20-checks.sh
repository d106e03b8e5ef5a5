#!/usr/bin/env bash
# Memory and thread checks, each in a build of its own under build/:
#   build/asan      AddressSanitizer + UndefinedBehaviorSanitizer, every unit test
#   build/tsan      ThreadSanitizer, the engine, sequencer and main-window tests,
#                   which run the real workers on real threads
#   build/memcheck  valgrind memcheck on a short console run: no error, no leak
# The builds include the desktop program, hence FLTK.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/ensure-packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev libfltk1.3-dev valgrind

# End-to-end tests of the desktop program on a display, and of the package;
# the native stage runs them, here only the unit tests run.
END_TO_END='^(no_display|window_.*|install_and_package)$'

configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_BUILD_BENCH=OFF "$@" >/dev/null
}

# ThreadSanitizer needs its shadow memory at fixed addresses; with a high
# vm.mmap_rnd_bits some kernels map the program across it and the run dies
# with "unexpected memory mapping". Run it again with address-space
# randomisation off for that process only.
run_tsan() {
    local log
    log=$(mktemp)
    if "$@" >"$log" 2>&1; then
        cat "$log"
        rm -f "$log"
        return 0
    fi
    if grep -q 'unexpected memory mapping' "$log"; then
        echo "ThreadSanitizer could not place its shadow memory; again with randomisation off"
        rm -f "$log"
        setarch "$(uname -m)" -R "$@"
        return
    fi
    cat "$log"
    rm -f "$log"
    return 1
}

echo "--- AddressSanitizer + UndefinedBehaviorSanitizer: all unit tests"
configure build/asan -DZEM_SANITIZE=address,undefined
cmake --build build/asan
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -E "$END_TO_END"

echo "--- ThreadSanitizer: the tests that run real threads"
configure build/tsan -DZEM_SANITIZE=thread
cmake --build build/tsan --target engine_tests desktop_tests
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run_tsan build/tsan/tests/engine_tests --gtest_filter='Workers.*:Stress.*:PlatformThread.*'
run_tsan build/tsan/tests/desktop_tests

echo "--- valgrind memcheck: test_zem_cli --seconds 0.2"
configure build/memcheck -DZEM_BUILD_TESTS=OFF
cmake --build build/memcheck --target test_zem_cli
valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
    --track-fds=no build/memcheck/cli/test_zem_cli --seconds 0.2
