# shellcheck shell=bash
# Sourced by the window tests: starts test_zem ($APP) on a display of its own
# and reads its window back: the background picture, the panel, the progress
# bar and the about box.
# shellcheck source=../lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
APP_PID=""

find_main_window() {
    WID=$(find_window --classname '^w_principale$')
    [ -n "$WID" ]
}

# The main window is up, or the program has ended (and will never show it).
window_or_exit() {
    find_main_window || process_gone "$APP_PID"
}

# Starts test_zem (with arguments it must ignore) and waits until its window
# shows the results panel. The first start on a new machine may have to build
# the font caches first, hence the long deadline. A program that is still
# running without a window by then is stopped and started once more (what the
# display held is printed); one that never shows a window fails the test.
start_program() {
    local attempt state
    for attempt in 1 2; do
        "$APP" --bogus argument >"$WORK/app.log" 2>&1 &
        APP_PID=$!
        started_pids+=("$APP_PID")
        wait_until 90 window_or_exit || true
        find_main_window && break
        state="still running"
        if process_gone "$APP_PID"; then
            wait "$APP_PID"
            state="exited with status $?"
        fi
        echo "no main window (attempt $attempt, test_zem $state): $(cat "$WORK/app.log")"
        xwininfo -root -tree 2>&1 | grep -iE 'zem|principale' || echo "(no such window on the display)"
        [ "$state" = "still running" ] || exit 1
        stop_process "$APP_PID"
    done
    find_main_window || {
        echo "FAIL: no main window"
        exit 1
    }
    wait_until 20 panel_painted || {
        echo "FAIL: the panel was never painted"
        exit 1
    }
}

program_ended() {
    process_gone "$APP_PID"
}

# The background picture's grey at (x, y): 255 at the top-left down to 140
# at the bottom-right of the 300 x 380 picture, along x + y.
gradient() {
    local grey=$((255 - (($1 + $2) * 115 * 2 + 678) / 1356))
    echo "$grey $grey $grey"
}

expect_gradient() {
    expect_pixel "$1" "$2" "$(gradient "$1" "$2")" "$3"
}

panel_painted() {
    screenshot && [ "$(pixel 120 90)" = "0 0 0" ] && [ "$(pixel 120 250)" = "0 0 0" ]
}

# Right edge (exclusive) of the progress bar's black fill, read along row
# y = 50; 0 when no bar is drawn (its frame's top line at y = 40 missing).
progress_fill() {
    if [ "$(pixel 5 50)" != "0 0 0" ] || [ "$(pixel 100 40)" != "0 0 0" ]; then
        echo 0
        return
    fi
    awk -F '[,:() ]+' '
        NR > 1 && $2 == 50 && $1 >= 6 && $1 <= 289 && ($3 != 0 || $4 != 0 || $5 != 0) {
            if (first == "" || $1 < first) first = $1
        }
        END { print first == "" ? 290 : first }' "$WORK/shot.txt"
}

bar_shown() {
    screenshot && [ "$(progress_fill)" -gt 0 ]
}

# The bar's place shows the picture again. (Not merely "no bar": a
# screenshot can fall between the bar's white fill and its frame.)
bar_gone() {
    screenshot && [ "$(pixel 5 50)" = "$(gradient 5 50)" ] &&
        [ "$(pixel 100 50)" = "$(gradient 100 50)" ]
}

about_box_shown() {
    [ -n "$(find_window --name '^about$')" ]
}

about_box_gone() {
    ! about_box_shown
}

focused_on() {
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}

# Opens the about box with its button, checks it, closes it with Return.
check_about_box() {
    click 220 20
    if ! wait_until 20 about_box_shown; then
        fail "$1: About did not open a box titled \"about\""
        return
    fi
    local box
    box=$(find_window --name '^about$')
    if ! wait_until 5 focused_on "$box"; then
        xdotool windowactivate "$box" 2>/dev/null
        wait_until 15 focused_on "$box" || fail "$1: the about box did not get the focus"
    fi
    xdotool key Return
    wait_until 20 about_box_gone || fail "$1: Return did not close the about box"
}

# Closes the window with its close box: the program must end with status 0.
close_and_expect_status_0() {
    wmctrl -i -c "$WID"
    wait_until 10 program_ended || fail "the close box did not end the program"
    wait "$APP_PID"
    local status=$?
    [ "$status" -eq 0 ] || fail "exit status $status after the close box"
}
