#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# Closing test_zem in the middle of ZEM-2 and in the middle of ZEM-M's timed
# loop ends the program with status 0 within 2 s and leaves no thread behind.
# (A close during ZEM-1 is covered by the run test, and during ZEM-M's data
# preparation by the sequencer's unit tests.)
APP=$1
# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"
start_x_session

# The bar's fill reaches 5 + ticks * 285 / 160 pixels.
fill_after_ticks() {
    echo $((5 + $1 * 285 / 160))
}

bar_reached() {
    screenshot && [ "$(progress_fill)" -ge "$1" ]
}

close_during() {
    local phase=$1 ticks=$2
    start_program
    click 75 20
    wait_until 5 bar_shown || fail "$phase: no progress bar after TEST"
    # Looked at every second, not to take the processor from the tests.
    wait_polling 1 $((ticks / 2 + 30)) bar_reached "$(fill_after_ticks "$ticks")" ||
        fail "$phase: the run never reached tick $ticks"
    local threads
    threads=$(find "/proc/$APP_PID/task" -mindepth 1 -maxdepth 1 | wc -l)
    [ "$threads" -ge 2 ] || fail "$phase: no worker thread ($threads threads)"
    local closed
    closed=$(now_ms)
    wmctrl -i -c "$WID"
    wait_until 2 program_ended || fail "$phase: still running 2 s after the close"
    echo "$phase: ended $(($(now_ms) - closed)) ms after the close"
    wait "$APP_PID"
    local status=$?
    [ -d "/proc/$APP_PID" ] && fail "$phase: threads left behind"
    APP_PID=""
    [ "$status" -eq 0 ] || fail "$phase: exit status $status"
}

close_during "ZEM-2" 44
close_during "ZEM-M timed loop" 86
finish "window close in each phase"
