#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# TEST on test_zem: the progress bar appears about a second later, the
# disabled window ignores clicks and keys, and closing it in the middle of
# the run ends the program at once with status 0.
APP=$1
# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"
start_x_session
start_program

screenshot
[ "$(progress_fill)" -eq 0 ] || fail "a progress bar before TEST"
pressed=$(now_ms)
click 75 20
wait_until 5 bar_shown || fail "no progress bar within 5 s of TEST"
echo "progress bar shown $(($(now_ms) - pressed)) ms after TEST"
first_fill=$(progress_fill)

# The window is disabled: neither About nor TEST (by click or by key) does
# anything. X events are handled in order, so once the bar has grown by two
# more ticks they have been seen; a restarted run would have shrunk it.
click 220 20
click 75 20
xdotool key space Return
last_fill=$first_fill
grown_steadily() {
    screenshot || return 1
    local fill
    fill=$(progress_fill)
    if [ "$fill" -lt "$last_fill" ]; then
        # Looked at again: a screenshot may catch the bar half drawn.
        screenshot || return 1
        fill=$(progress_fill)
        [ "$fill" -ge "$last_fill" ] || fail "the bar went back from $last_fill to $fill"
    fi
    last_fill=$fill
    [ "$fill" -ge $((first_fill + 3)) ]
}
wait_until 10 grown_steadily || fail "the bar stopped growing (at $last_fill)"
about_box_gone || fail "About opened its box during the run"

threads=$(find "/proc/$APP_PID/task" -mindepth 1 -maxdepth 1 | wc -l)
[ "$threads" -ge 2 ] || fail "no worker thread during the run ($threads threads)"
closed=$(now_ms)
wmctrl -i -c "$WID"
wait_until 2 program_ended || fail "still running 2 s after the close"
echo "ended $(($(now_ms) - closed)) ms after the close"
wait "$APP_PID"
status=$?
[ -d "/proc/$APP_PID" ] && fail "threads left behind"
APP_PID=""
[ "$status" -eq 0 ] || fail "exit status $status after a close during the run"
finish "window run"
