#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# One whole run of test_zem (about 81 s): it ends by itself with the window
# enabled again, the bar gone and a figure in every row. With ZEM_SCREENSHOTS
# set to a folder, the window before and after the run is saved there.
APP=$1
# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"
start_x_session
start_program

save_window() {
    [ -n "${ZEM_SCREENSHOTS:-}" ] && import -frame -window "$WID" "$ZEM_SCREENSHOTS/$1"
}

# The cells of row r of the block at base, inside their frame lines.
cell_dark_pixels() {
    local top=$(($1 + 33 + 20 * $2))
    echo "$(dark_pixels 6 "$top" 139 $((top + 18))) $(dark_pixels 141 "$top" 288 $((top + 18)))"
}

screenshot
save_window window-before.png
pressed=$(now_ms)
click 75 20
wait_until 5 bar_shown || fail "no progress bar after TEST"
# Looked at every 2 s, not to take the processor from the tests.
wait_polling 2 200 bar_gone || fail "the run did not end within 200 s"
echo "run over $((($(now_ms) - pressed) / 1000)) s after TEST"
save_window window-after.png

for block in "68 2" "148 2" "228 3"; do
    read -r base rows <<<"$block"
    for r in $(seq 0 $((rows - 1))); do
        read -r left right <<<"$(cell_dark_pixels "$base" "$r")"
        [ "$left" -ge 20 ] || fail "no label in row $r of the block at $base"
        [ "$right" -ge 20 ] || fail "no figure in row $r of the block at $base"
    done
done
check_about_box "after the run" # the window takes clicks again

close_and_expect_status_0
finish "window full run"
