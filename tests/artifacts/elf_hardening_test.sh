#!/usr/bin/env bash
# Reads the hardening of Linux binaries back from the files:
#   PIE           ELF type DYN with a program interpreter
#   full RELRO    a GNU_RELRO segment and BIND_NOW (FLAGS BIND_NOW or FLAGS_1 NOW)
#   stack guard   a reference to __stack_chk_fail
#   fortify       a reference to a fortified library call (__*_chk)
#   NX stack      a GNU_STACK segment that is not executable
#
#   elf_hardening_test.sh [--expect-unhardened] READELF BINARY...
#
# Exit 0 when every binary has every property; with --expect-unhardened,
# when every binary lacks every property (the check of the check).
set -u
expect_unhardened=0
if [ "${1:-}" = "--expect-unhardened" ]; then
    expect_unhardened=1
    shift
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--expect-unhardened] READELF BINARY..." >&2
    exit 2
fi
readelf=$1
shift
unexpected=0

report() { # binary property present
    local state=missing
    [ "$3" -eq 1 ] && state=present
    echo "$1: $2 $state"
    [ "$3" -ne $((1 - expect_unhardened)) ] && unexpected=$((unexpected + 1))
}

has() { grep -Eq "$1" <<<"$2" && echo 1 || echo 0; }

for binary in "$@"; do
    headers=$("$readelf" -hlW "$binary") || exit 2
    dynamic=$("$readelf" -dW "$binary") || exit 2
    symbols=$("$readelf" -sW "$binary") || exit 2
    name=$(basename "$binary")

    pie=0
    [ "$(has 'Type:[[:space:]]+DYN' "$headers")" -eq 1 ] &&
        [ "$(has '^[[:space:]]+INTERP' "$headers")" -eq 1 ] && pie=1
    report "$name" "PIE" "$pie"

    relro=0
    [ "$(has '^[[:space:]]+GNU_RELRO' "$headers")" -eq 1 ] &&
        [ "$(has '\(FLAGS\)[[:space:]]+.*BIND_NOW|\(FLAGS_1\)[[:space:]]+Flags:.*NOW' "$dynamic")" -eq 1 ] &&
        relro=1
    report "$name" "full RELRO" "$relro"

    report "$name" "stack protector" "$(has '[[:space:]]__stack_chk_fail(@|$)' "$symbols")"
    report "$name" "_FORTIFY_SOURCE" "$(has '[[:space:]]__[a-z0-9_]+_chk(@|$)' "$(grep -v __stack_chk <<<"$symbols")")"

    stack=$(grep -E '^[[:space:]]+GNU_STACK' <<<"$headers")
    nx=0
    [ -n "$stack" ] && ! grep -Eq 'RWE|[[:space:]]E[[:space:]]' <<<"$stack" && nx=1
    report "$name" "non-executable stack" "$nx"
done

if [ "$unexpected" -ne 0 ]; then
    echo "FAIL: $unexpected properties not as expected"
    exit 1
fi
echo "all as expected"
