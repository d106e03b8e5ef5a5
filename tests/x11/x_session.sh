# shellcheck shell=bash
# Sourced by the window tests. Gives them an X display of their own (Xvfb
# with the openbox window manager), starts test_zem on it, and offers
# deadline-bounded waits and screenshot pixel checks. Every process started
# here is stopped when the test exits, whatever happens.
#
# Readiness is always polled against a deadline, never assumed after a fixed
# sleep; the deadlines are generous because the machine may be busy.
set -u

failures=0
WORK=$(mktemp -d)
XVFB_PID=""
WM_PID=""
APP_PID=""
WID=""

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

process_gone() {
    ! kill -0 "$1" 2>/dev/null
}

stop_process() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    wait_until 5 process_gone "$pid" || kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

cleanup() {
    stop_process "$APP_PID"
    stop_process "$WM_PID"
    stop_process "$XVFB_PID"
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds;
# fails once SECONDS have gone by.
wait_until() {
    wait_polling 0.1 "$@"
}

# wait_polling INTERVAL SECONDS COMMAND...: the same, every INTERVAL seconds.
wait_polling() {
    local interval=$1
    local end=$(($(now_ms) + $2 * 1000))
    shift 2
    until "$@"; do
        [ "$(now_ms)" -lt "$end" ] || return 1
        sleep "$interval"
    done
}

window_manager_ready() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# Xvfb chooses the display number itself (-displayfd): it takes the first
# number whose /tmp/.X<n>-lock it can create, so sessions running side by
# side never collide. Retried in case the server fails to come up.
start_x_session() {
    local attempts=3
    while [ "$attempts" -gt 0 ]; do
        attempts=$((attempts - 1))
        : >"$WORK/display"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" \
            >"$WORK/xvfb.log" 2>&1 &
        XVFB_PID=$!
        if wait_until 20 test -s "$WORK/display"; then
            break
        fi
        stop_process "$XVFB_PID"
        XVFB_PID=""
    done
    [ -n "$XVFB_PID" ] || {
        echo "FAIL: Xvfb did not start: $(cat "$WORK/xvfb.log")"
        exit 1
    }
    DISPLAY=":$(head -n 1 "$WORK/display")"
    export DISPLAY
    openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
    WM_PID=$!
    wait_until 20 window_manager_ready || {
        echo "FAIL: openbox did not start: $(cat "$WORK/openbox.log")"
        exit 1
    }
}

# The main window is up, or the program has ended (and will never show it).
window_or_exit() {
    find_main_window || process_gone "$APP_PID"
}

find_main_window() {
    WID=$(xdotool search --onlyvisible --classname '^w_principale$' 2>/dev/null | head -n 1)
    [ -n "$WID" ]
}

# Starts test_zem (with arguments it must ignore) and waits until its window
# shows the results panel. The first start on a new machine may have to build
# the font caches first, hence the long deadline.
start_program() {
    "$APP" --bogus argument >"$WORK/app.log" 2>&1 &
    APP_PID=$!
    wait_until 90 window_or_exit || true
    if ! find_main_window; then
        local state="still running"
        if process_gone "$APP_PID"; then
            wait "$APP_PID"
            state="exited with status $?"
            APP_PID=""
        fi
        echo "FAIL: no main window (test_zem $state): $(cat "$WORK/app.log")"
        exit 1
    fi
    wait_until 20 panel_painted || {
        echo "FAIL: the panel was never painted"
        exit 1
    }
}

# Screenshot of the client area, as text: one "x,y: (r,g,b) ..." line a pixel.
screenshot() {
    import -window "$WID" "$WORK/shot.png" 2>/dev/null &&
        convert "$WORK/shot.png" -depth 8 txt:- >"$WORK/shot.txt" 2>/dev/null
}

# "r g b" of a pixel of the last screenshot.
pixel() {
    grep -m 1 "^$1,$2: " "$WORK/shot.txt" | sed -E 's/^[^(]*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}

# The background picture's grey at (x, y): 255 at the top-left down to 140
# at the bottom-right of the 300 x 380 picture, along x + y.
gradient() {
    local grey=$((255 - (($1 + $2) * 115 * 2 + 678) / 1356))
    echo "$grey $grey $grey"
}

expect_pixel() {
    local actual
    actual=$(pixel "$1" "$2")
    [ "$actual" = "$3" ] || fail "$4: pixel ($1, $2) is ($actual), expected ($3)"
}

expect_gradient() {
    expect_pixel "$1" "$2" "$(gradient "$1" "$2")" "$3"
}

# Pixels darker than mid-grey in the rectangle x0..x1, y0..y1 (inclusive).
dark_pixels() {
    awk -F '[,:() ]+' -v x0="$1" -v y0="$2" -v x1="$3" -v y1="$4" '
        NR > 1 && $1 >= x0 && $1 <= x1 && $2 >= y0 && $2 <= y1 {
            if ($3 < 100 && $4 < 100 && $5 < 100) n++
        }
        END { print n + 0 }' "$WORK/shot.txt"
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

click() {
    xdotool mousemove --window "$WID" "$1" "$2" click 1
}

about_box() {
    xdotool search --onlyvisible --name '^about$' 2>/dev/null | head -n 1
}

about_box_shown() {
    [ -n "$(about_box)" ]
}

about_box_gone() {
    [ -z "$(about_box)" ]
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
    box=$(about_box)
    if ! wait_until 5 focused_on "$box"; then
        xdotool windowactivate "$box" 2>/dev/null
        wait_until 15 focused_on "$box" || fail "$1: the about box did not get the focus"
    fi
    xdotool key Return
    wait_until 20 about_box_gone || fail "$1: Return did not close the about box"
}

program_ended() {
    process_gone "$APP_PID"
}

finish() {
    echo "$1: $failures failed"
    [ "$failures" -eq 0 ]
}
