# shellcheck shell=bash
# Sourced by the Windows tests: a throw-away 64-bit Wine installation and,
# for the program's tests, a virtual X display with a window manager.
#
#   wine_session_start         fresh WINEPREFIX in a temporary folder, booted
#   x_session_start            Xvfb on a free display, openbox on it
#   sessions_end               stops whatever was started, removes the prefix
#
# The caller installs `trap sessions_end EXIT`.

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
session_prefix=""
session_xvfb=""
session_openbox=""

# Polls a command until it succeeds or the deadline (seconds) passes.
wait_until() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

wine_session_start() {
    session_prefix=$(mktemp -d "${TMPDIR:-/tmp}/zem-wine.XXXXXX")
    export WINEPREFIX="$session_prefix" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
    "$WINE64" wineboot --init >/dev/null 2>&1
    "$WINESERVER" -w
}

window_manager_running() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"
}

x_session_start() {
    local display_file
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
    session_xvfb=$!
    if ! wait_until 20 test -s "$display_file"; then
        echo "Xvfb did not start" >&2
        rm -f "$display_file"
        return 1
    fi
    DISPLAY=":$(head -n 1 "$display_file")"
    export DISPLAY
    rm -f "$display_file"
    openbox >/dev/null 2>&1 &
    session_openbox=$!
    wait_until 20 window_manager_running || {
        echo "openbox did not start" >&2
        return 1
    }
}

sessions_end() {
    if [ -n "$session_prefix" ]; then
        "$WINESERVER" -k 2>/dev/null || true
        rm -rf "$session_prefix"
        session_prefix=""
    fi
    local process
    for process in "$session_openbox" "$session_xvfb"; do
        [ -n "$process" ] && kill "$process" 2>/dev/null && wait "$process" 2>/dev/null
    done
    session_openbox=""
    session_xvfb=""
    return 0
}
