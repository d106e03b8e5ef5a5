#!/usr/bin/env bash
# End to end: the 64-bit Test_ZEM.exe under Wine, on a virtual X display with
# openbox. Reads the window back pixel by pixel in client coordinates.
#
#   tests/wine/program_test.sh EXE
#
# Checks, in order: the window shows the background picture, the three header
# bars and the empty cell frames; About shows the "about" box; TEST draws the
# progress bar and the window then takes no clicks; the run ends with the
# window usable again, the bar gone and figures in the cells; closing the
# window ends the program with exit code 0. With ZEM_SHOT_DIR set, keeps the
# captures at start, during and after the run there.
set -uo pipefail
exe=$(realpath "$1")
here=$(dirname "$0")
source "$here/wine_session.sh"

shot=$(mktemp --suffix=.png)
program=""
failures=0
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null
    sessions_end
    rm -f "$shot"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

wine_session_start
x_session_start || exit 1

"$WINE64" "$exe" >/dev/null 2>&1 &
program=$!

visible_window() { # title: prints the id of the visible window with that exact title
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}
window_shown() { [ -n "$(visible_window "$1")" ]; }
window_gone() { [ -z "$(visible_window "$1")" ]; }

if ! wait_until 60 window_shown "Test ZEM \(Dorvantic\)"; then
    echo "FAIL: the main window did not appear"
    exit 1
fi
main=$(visible_window "Test ZEM \(Dorvantic\)")

# Pixels of the main window's client area, from a fresh capture.
capture() { import -window "$main" "$shot" 2>/dev/null; }
keep_shot() { # name: a copy in $ZEM_SHOT_DIR, when set, to look at
    [ -z "${ZEM_SHOT_DIR:-}" ] || cp "$shot" "$ZEM_SHOT_DIR/program-$1.png"
}
pixel() { convert "$shot" -format "%[hex:p{$1,$2}]" info:; }
is_black() { [ "$(pixel "$1" "$2")" = 000000 ]; }
is_white() { [ "$(pixel "$1" "$2")" = FFFFFF ]; }
expect_black() { is_black "$1" "$2" || fail "$3: ($1, $2) is $(pixel "$1" "$2"), not black"; }
expect_not_black() { is_black "$1" "$2" && fail "$3: ($1, $2) is black"; }
# Darkest grey level (0 to 255) of a rectangle: low where text is drawn.
darkest() {
    convert "$shot" -crop "$3x$4+$1+$2" +repage -colorspace Gray -format "%[fx:int(255*minima.r)]" info:
}
grey_between() { # x y low high: a neutral grey within [low, high]
    local hex
    hex=$(pixel "$1" "$2")
    local r=$((16#${hex:0:2})) g=$((16#${hex:2:2})) b=$((16#${hex:4:2}))
    [ "$r" -eq "$g" ] && [ "$g" -eq "$b" ] && [ "$r" -ge "$3" ] && [ "$r" -le "$4" ]
}

BASES=(68 148 228)
ROWS=(2 2 3)
check_panel_frames() { # label
    local block base rows r top
    for block in 0 1 2; do
        base=${BASES[$block]}
        rows=${ROWS[$block]}
        # Header bar: left 5, right 290 (excluded), top base + 12.
        expect_black 5 $((base + 13)) "$1, header bar $block left edge"
        expect_not_black 4 $((base + 20)) "$1, left of header bar $block"
        expect_black 100 $((base + 13)) "$1, header bar $block"
        expect_black 289 $((base + 20)) "$1, header bar $block right edge"
        expect_not_black 290 $((base + 20)) "$1, right of header bar $block"
        for ((r = 0; r < rows; r++)); do
            top=$((base + 32 + 20 * r))
            expect_black 70 "$top" "$1, block $block row $r top line"
            expect_black 5 $((top + 10)) "$1, block $block row $r left frame"
            expect_black 140 $((top + 10)) "$1, block $block row $r middle frame"
            expect_black 289 $((top + 10)) "$1, block $block row $r right frame"
            expect_not_black 290 $((top + 10)) "$1, right of block $block row $r"
        done
        expect_black 70 $((base + 52 + 20 * (rows - 1))) "$1, block $block bottom line"
        expect_not_black 70 $((base + 53 + 20 * (rows - 1))) "$1, below block $block"
    done
}
cells_have_text() { # block: the right cell of each row holds dark text
    local base=${BASES[$1]} r
    for ((r = 0; r < ROWS[$1]; r++)); do
        [ "$(darkest 150 $((base + 34 + 20 * r)) 135 16)" -lt 64 ] || return 1
    done
}
cells_empty() {
    local base=${BASES[$1]} r
    for ((r = 0; r < ROWS[$1]; r++)); do
        [ "$(darkest 142 $((base + 33 + 20 * r)) 146 18)" -ge 128 ] || return 1
        [ "$(darkest 7 $((base + 33 + 20 * r)) 132 18)" -ge 128 ] || return 1
    done
}
click() { # x y on the main window
    xdotool mousemove --window "$main" "$1" "$2" click 1
}
dismiss() { # title
    local box
    box=$(visible_window "$1")
    xdotool windowactivate --sync "$box" key --clearmodifiers Return 2>/dev/null
    wait_until 10 window_gone "$1" || fail "the $1 box did not close"
}

# Start-up: picture, header bars, empty cells.
wait_until 10 eval 'capture && is_black 100 81' || fail "the panel was not painted"
capture
grey_between 1 1 250 255 || fail "top-left of the picture is $(pixel 1 1), not near white"
grey_between 292 353 140 160 || fail "bottom-right of the picture is $(pixel 292 353), not dark grey"
grey_between 150 190 180 230 || fail "middle of the picture is $(pixel 150 190), not mid grey"
keep_shot start
check_panel_frames "at start"
for block in 0 1 2; do
    cells_empty "$block" || fail "block $block has text in its cells before any run"
done

# About while idle.
click 220 20
wait_until 10 window_shown about || fail "About did not show the about box"
window_shown about && dismiss about

# TEST: the bar appears and fills; the window takes no clicks.
click 75 20
bar_started() { capture && is_black 5 50 && is_white 280 50 && is_black 7 50; }
wait_until 10 bar_started || fail "TEST did not draw the progress bar"
keep_shot running
expect_black 289 50 "progress bar right frame"
expect_black 150 40 "progress bar top frame"
click 220 20
if wait_until 3 window_shown about; then # a box would be up well within this
    fail "the about box opened during a run"
    dismiss about
fi

# The run ends after about 80 s: bar gone, figures in every block. (A repaint
# during the run would hide the bar too, but the ZEM-M figures come only with
# the repaint that ends the run.)
run_over() { capture && cells_have_text 2 && ! is_white 280 50 && ! is_black 7 50; }
if wait_until 150 run_over; then
    keep_shot after-run
    check_panel_frames "after the run"
    for block in 0 1 2; do
        cells_have_text "$block" || fail "block $block shows no figures after the run"
    done
    click 220 20
    wait_until 10 window_shown about || fail "the window takes no clicks after the run"
    window_shown about && dismiss about
else
    fail "the run did not end within 150 s"
fi

# Close: the program ends with exit code 0.
xdotool windowactivate --sync "$main" key --clearmodifiers alt+F4 2>/dev/null
program_ended() { ! kill -0 "$program" 2>/dev/null; }
if wait_until 20 program_ended; then
    wait "$program"
    status=$?
    program=""
    [ "$status" -eq 0 ] || fail "exit code $status after closing the window"
else
    fail "the program did not end after its window was closed"
fi

[ "$failures" -eq 0 ] && echo "ok: the program under Wine"
[ "$failures" -eq 0 ]
