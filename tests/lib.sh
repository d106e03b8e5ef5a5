# shellcheck shell=bash
# Sourced by the shell tests: failure counting, deadline-bounded waits, a
# virtual X display with a window manager, a throw-away 64-bit Wine, and
# screenshots read back pixel by pixel. Readiness is always polled against a
# deadline, never assumed after a fixed sleep. Everything started here is
# stopped, by its process id, when the test exits, whatever happens.
set -u

failures=0
WORK=$(mktemp -d)
WID="" # the window that screenshot reads
started_pids=()
wine_prefix=""
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The last line of a test: its failure count, and its status.
finish() {
    echo "$1: $failures failed"
    [ "$failures" -eq 0 ]
}

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds;
# fails once SECONDS have gone by. wait_polling INTERVAL SECONDS COMMAND...:
# the same, every INTERVAL seconds.
wait_until() {
    wait_polling 0.1 "$@"
}

wait_polling() {
    local interval=$1 end=$(($(now_ms) + $2 * 1000))
    shift 2
    until "$@"; do
        [ "$(now_ms)" -lt "$end" ] || return 1
        sleep "$interval"
    done
}

process_gone() {
    ! kill -0 "$1" 2>/dev/null
}

# Stops a process started by the test: TERM, then KILL after 5 s.
stop_process() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || return 0
    wait_until 5 process_gone "$1" || kill -9 "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

cleanup() {
    local i
    for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
        stop_process "${started_pids[$i]}"
    done
    if [ -n "$wine_prefix" ]; then
        "$WINESERVER" -k 2>/dev/null
        rm -rf "$wine_prefix"
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

window_manager_ready() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# Xvfb chooses the display number itself (-displayfd): it takes the first
# number whose /tmp/.X<n>-lock it can create, so sessions running side by
# side never collide. The whole session is tried again, up to three times,
# when the server or the window manager fails to come up.
start_x_session() {
    local attempt xvfb wm
    for attempt in 1 2 3; do
        : >"$WORK/display"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" \
            >"$WORK/xvfb.log" 2>&1 &
        xvfb=$!
        if wait_until 20 test -s "$WORK/display"; then
            DISPLAY=":$(head -n 1 "$WORK/display")"
            export DISPLAY
            openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
            wm=$!
            if wait_until 20 window_manager_ready; then
                started_pids+=("$xvfb" "$wm")
                return 0
            fi
            stop_process "$wm"
        fi
        stop_process "$xvfb"
        echo "X session attempt $attempt failed: Xvfb: $(cat "$WORK/xvfb.log")" \
            "openbox: $(cat "$WORK/openbox.log" 2>/dev/null)"
    done
    echo "FAIL: no X session with a window manager"
    exit 1
}

# A fresh 64-bit Wine installation in a temporary folder, booted.
start_wine_session() {
    wine_prefix=$(mktemp -d "${TMPDIR:-/tmp}/zem-wine.XXXXXX")
    export WINEPREFIX="$wine_prefix" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
    "$WINE64" wineboot --init >/dev/null 2>&1
    "$WINESERVER" -w
}

# The id of the visible window whose title or class matches (xdotool search).
find_window() { # --name|--classname pattern
    xdotool search --onlyvisible "$1" "$2" 2>/dev/null | head -n 1
}

click() { # x y in WID's client area
    xdotool mousemove --window "$WID" "$1" "$2" click 1
}

# Screenshot of WID's client area, kept as text: one "x,y: (r,g,b) ..." line
# a pixel. With ZEM_SHOT_DIR set, keep_shot NAME keeps a copy to look at.
screenshot() {
    import -window "$WID" "$WORK/shot.png" 2>/dev/null &&
        convert "$WORK/shot.png" -depth 8 txt:- >"$WORK/shot.txt" 2>/dev/null
}

keep_shot() {
    [ -z "${ZEM_SHOT_DIR:-}" ] || cp "$WORK/shot.png" "$ZEM_SHOT_DIR/$1.png"
}

# "r g b" of a pixel of the last screenshot.
pixel() {
    grep -m 1 "^$1,$2: " "$WORK/shot.txt" | sed -E 's/^[^(]*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}

expect_pixel() { # x y "r g b" what
    local actual
    actual=$(pixel "$1" "$2")
    [ "$actual" = "$3" ] || fail "$4: pixel ($1, $2) is ($actual), expected ($3)"
}

# Pixels darker than mid-grey in the rectangle x0..x1, y0..y1 (inclusive).
dark_pixels() {
    awk -F '[,:() ]+' -v x0="$1" -v y0="$2" -v x1="$3" -v y1="$4" '
        NR > 1 && $1 >= x0 && $1 <= x1 && $2 >= y0 && $2 <= y1 {
            if ($3 < 100 && $4 < 100 && $5 < 100) n++
        }
        END { print n + 0 }' "$WORK/shot.txt"
}
