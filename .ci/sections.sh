# shellcheck shell=bash
# Sourced by the stage scripts: `section NAME` ends the section before it
# with a line of its time and begins the next, so that every stage says
# what each of its checks costs; the last section's line comes at exit.
section_name="packages"
section_start=$(date +%s)
section_end() {
    echo "--- $section_name: $(($(date +%s) - section_start)) s"
}
section() {
    section_end
    section_name=$1
    section_start=$(date +%s)
    echo "--- $1"
}
trap section_end EXIT
