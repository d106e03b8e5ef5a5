#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# test_zem on a display of its own: the window's title, class, size, fixed
# frame and icon; the panel's pixels where they belong; the about box; and
# a clean exit when the window manager closes the window.
APP=$1
# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"
start_x_session
start_program

info=$(xwininfo -id "$WID")
if ! grep -q 'Width: 294$' <<<"$info" || ! grep -q 'Height: 355$' <<<"$info"; then
    fail "client area is not 294 x 355: $info"
fi
props=$(xprop -id "$WID")
grep -q 'WM_CLASS(STRING) = "w_principale", "w_principale"' <<<"$props" || fail "WM_CLASS"
grep -q '_NET_WM_NAME(UTF8_STRING) = "Test ZEM (Dorvantic)"' <<<"$props" || fail "title"
if ! grep -q 'minimum size: 294 by 355' <<<"$props" ||
    ! grep -q 'maximum size: 294 by 355' <<<"$props"; then
    fail "the window can be resized"
fi
grep -q 'Icon (32 x 32)' <<<"$props" || fail "no 32 x 32 icon"

screenshot
for base in 68 148 228; do
    rows=2
    [ "$base" -eq 228 ] && rows=3
    # Header bar: black, from x = 5 to 289 and y = base + 12 to base + 32,
    # around its white texts.
    for x in 5 120 285 289; do
        for y in $((base + 12)) $((base + 20)) $((base + 32)); do
            expect_pixel "$x" "$y" "0 0 0" "header bar of the block at $base"
        done
    done
    dark=$(dark_pixels 5 "$base" 289 $((base + 11)))
    [ "$dark" -ge 100 ] || fail "description line at y = $base: $dark dark pixels"
    for r in $(seq 0 $((rows - 1))); do
        middle=$((base + 42 + 20 * r))
        for x in 5 140 289; do
            expect_pixel "$x" "$middle" "0 0 0" "cell frame line x = $x, row $r of the block at $base"
        done
        expect_gradient 70 "$middle" "empty left cell, row $r of the block at $base"
        expect_gradient 215 "$middle" "empty right cell, row $r of the block at $base"
        expect_gradient 291 "$middle" "right of the table, row $r of the block at $base"
    done
    for r in $(seq 0 "$rows"); do
        for x in 70 215; do
            expect_pixel "$x" $((base + 32 + 20 * r)) "0 0 0" "row line $r of the block at $base"
        done
    done
done
expect_gradient 100 50 "no progress bar before a run"
expect_gradient 200 340 "the picture below the panel"
expect_gradient 293 354 "the picture at the bottom-right corner"

check_about_box "while idle"
# Escape does not close the window: the about box still opens afterwards.
xdotool key Escape
check_about_box "after Escape"
program_ended && fail "Escape closed the window"

close_and_expect_status_0
finish "window layout"
