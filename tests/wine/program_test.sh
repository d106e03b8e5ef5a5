#!/usr/bin/env bash
# End to end: the 64-bit Test_ZEM.exe under Wine, on a virtual X display with
# openbox, read back pixel by pixel in client coordinates: the background
# picture, the header bars and empty cells; About shows the "about" box; TEST
# draws the progress bar and the window then takes no clicks; the run ends
# with the window usable again, the bar gone and figures in every block;
# closing the window ends the program with exit code 0. With ZEM_SHOT_DIR
# set, keeps the captures at start, during and after the run there.
#
#   tests/wine/program_test.sh EXE
exe=$(realpath "$1")
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
start_wine_session
start_x_session
"$WINE64" "$exe" >/dev/null 2>&1 &
program=$!
started_pids+=("$program")

main_window_shown() {
    WID=$(find_window --name '^Test ZEM \(Dorvantic\)$')
    [ -n "$WID" ]
}
wait_until 60 main_window_shown || {
    echo "FAIL: the main window did not appear"
    exit 1
}

is_black() { [ "$(pixel "$1" "$2")" = "0 0 0" ]; }
grey_between() { # x y low high: a neutral grey within [low, high]
    local r g b
    read -r r g b <<<"$(pixel "$1" "$2")"
    if [ "$r" != "$g" ] || [ "$g" != "$b" ] || [ "$r" -lt "$3" ] || [ "$r" -gt "$4" ]; then
        fail "($1, $2) is ($r $g $b), not a grey from $3 to $4"
    fi
}
BASES=(68 148 228)
ROWS=(2 2 3)
check_panel_frames() { # label: the header bars and the cells' frames
    local block base bottom
    for block in 0 1 2; do
        base=${BASES[$block]}
        bottom=$((base + 52 + 20 * (ROWS[block] - 1)))
        is_black 5 $((base + 13)) || fail "$1: header bar $block, left"
        is_black 289 $((base + 20)) || fail "$1: header bar $block, right"
        is_black 4 $((base + 20)) && fail "$1: left of header bar $block"
        is_black 290 $((base + 20)) && fail "$1: right of header bar $block"
        is_black 140 $((base + 42)) || fail "$1: middle frame of block $block"
        is_black 70 "$bottom" || fail "$1: bottom frame of block $block"
        is_black 70 $((bottom + 1)) && fail "$1: below block $block"
    done
}
cells_have_text() { # block: the right cell of each row holds dark text
    local base=${BASES[$1]} r
    for ((r = 0; r < ROWS[$1]; r++)); do
        [ "$(dark_pixels 150 $((base + 34 + 20 * r)) 284 $((base + 49 + 20 * r)))" -gt 0 ] || return 1
    done
}
about_shown() { [ -n "$(find_window --name '^about$')" ]; }
about_gone() { ! about_shown; }
dismiss_about() {
    xdotool windowactivate --sync "$(find_window --name '^about$')" key --clearmodifiers Return 2>/dev/null
    wait_until 10 about_gone || fail "the about box did not close"
}

# Start-up: picture, header bars, empty cells.
wait_until 10 eval 'screenshot && is_black 100 81' || fail "the panel was not painted"
screenshot
keep_shot program-start
grey_between 1 1 250 255
grey_between 292 353 140 160
grey_between 150 190 180 230
check_panel_frames "at start"
for block in 0 1 2; do
    cells_have_text "$block" && fail "block $block has text in its cells before any run"
done
open_about() { click 220 20 && wait_until 10 about_shown && dismiss_about; }
open_about || fail "About did not show the about box"

# TEST: the bar appears and fills; the window takes no clicks.
click 75 20
bar_started() { screenshot && is_black 5 50 && [ "$(pixel 280 50)" = "255 255 255" ] && is_black 7 50; }
wait_until 10 bar_started || fail "TEST did not draw the progress bar"
keep_shot program-running
click 220 20
if wait_until 3 about_shown; then # a box would be up well within this
    fail "the about box opened during a run"
    dismiss_about
fi

# The run ends after about 80 s: bar gone, figures in every block. (A repaint
# during the run would hide the bar too, but the ZEM-M figures come only with
# the repaint that ends the run.)
run_over() { screenshot && cells_have_text 2 && ! is_black 7 50; }
if wait_polling 1 150 run_over; then
    keep_shot program-after-run
    check_panel_frames "after the run"
    for block in 0 1; do
        cells_have_text "$block" || fail "block $block shows no figures after the run"
    done
    open_about || fail "the window takes no clicks after the run"
else
    fail "the run did not end within 150 s"
fi

# Close: the program ends with exit code 0.
xdotool windowactivate --sync "$WID" key --clearmodifiers alt+F4 2>/dev/null
if wait_until 20 process_gone "$program"; then
    wait "$program"
    status=$?
    [ "$status" -eq 0 ] || fail "exit code $status after closing the window"
else
    fail "the program did not end after its window was closed"
fi
finish "the program under Wine"
