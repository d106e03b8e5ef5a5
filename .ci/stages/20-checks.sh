#!/usr/bin/env bash
# Memory and thread checks, each in a build of its own under build/:
#   build/asan      AddressSanitizer + UndefinedBehaviorSanitizer, every test
#                   but those of the desktop program on a display
#   build/tsan      ThreadSanitizer, the tests that run the real workers on
#                   real threads, the server driver against its scripted
#                   server's thread, the plugin host (its worker's thread,
#                   validation's child and listener), and the real-time mode
#                   inside jackd and PipeWire
#   valgrind memcheck on a short console run of the release build (stage 10's,
#                   or built here): no error, no leak; valgrind takes over the
#                   allocation counter's malloc (--soname-synonyms), so no
#                   build of its own is needed (the memcheck preset, with the
#                   counter off, stays for runs by hand)
#   build/fuzz      the report reader and the session readers under libFuzzer
#                   (clang, libclang-rt-14-dev)
#                   with both sanitizers, 60 s from the fixture reports and
#                   30 s from the fixture sessions
# Each is a preset of CMakePresets.json.
# The builds include the desktop program, hence FLTK, the console
# runner's JACK client, whose tests start jackd and PipeWire, and the plugin
# host, whose tests run Debian's plugins (as in 10-native.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/ensure-packages.sh
source .ci/sections.sh
ensure_packages cmake ninja-build g++ libgtest-dev libfltk1.3-dev valgrind \
    libcli11-dev nlohmann-json3-dev libhwloc-dev jq time clang libclang-rt-14-dev \
    libjack-jackd2-dev jackd2 pipewire pipewire-bin pipewire-jack libpipewire-0.3-modules \
    liblilv-dev lv2-dev lilv-utils x42-plugins lv2-examples mda-lv2 dragonfly-reverb-lv2 \
    lsp-plugins-lv2 libpugixml-dev


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

section "AddressSanitizer + UndefinedBehaviorSanitizer: the build"
cmake --preset asan >/dev/null
cmake --build --preset asan
section "AddressSanitizer + UndefinedBehaviorSanitizer: the tests"
ctest --preset asan

section "ThreadSanitizer: the build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target engine_tests stress_tests desktop_tests realtime_tests \
    server_driver_tests plugin_tests zem_test_plugins test_zem_cli
section "ThreadSanitizer: the tests that run real threads"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run_tsan build/tsan/tests/engine_tests --gtest_filter='Workers.*:PlatformThread.*'
run_tsan build/tsan/tests/stress_tests
run_tsan build/tsan/tests/desktop_tests
run_tsan build/tsan/tests/realtime_tests --gtest_filter='RealtimeDriver.*:GraphPeriod.*'
run_tsan build/tsan/tests/server_driver_tests
run_tsan build/tsan/tests/plugin_tests
for server in jackd pipewire; do # 77: the server cannot start here, and the test said so
    status=0
    run_tsan tests/e2e/server_run_test.sh build/tsan/cli/test_zem_cli "$server" || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit "$status"
done

section "valgrind memcheck: test_zem_cli --seconds 0.2"
cmake --preset release >/dev/null
cmake --build --preset release --target test_zem_cli
valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
    --soname-synonyms=somalloc=NONE --suppressions=.ci/memcheck.supp \
    --track-fds=no build/release/cli/test_zem_cli --seconds 0.2

section "libFuzzer: the report reader, 60 s from the fixture reports"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target report_reader_fuzz session_reader_fuzz
# New inputs go to a scratch corpus, the fixtures are only read; a crash is
# written to build/fuzz/ and fails the stage. AddressSanitizer's quarantine
# of freed memory would count against the 100 MB: it is kept small.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"; section_end' EXIT
ASAN_OPTIONS=quarantine_size_mb=8 build/fuzz/tests/fuzz/report_reader_fuzz \
    -max_total_time=60 -rss_limit_mb=100 -timeout=2 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ "$corpus" tests/fixtures/reports

section "libFuzzer: the session readers, 30 s from the fixture sessions"
session_corpus=$(mktemp -d)
trap 'rm -rf "$corpus" "$session_corpus"; section_end' EXIT
ASAN_OPTIONS=quarantine_size_mb=8 build/fuzz/tests/fuzz/session_reader_fuzz \
    -max_total_time=30 -rss_limit_mb=100 -timeout=2 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ "$session_corpus" tests/fixtures/sessions
