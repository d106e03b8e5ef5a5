#!/usr/bin/env bash
# What users download, checked as they get it.
#
#   package_check.sh deb BUILD       the .deb that cpack makes from BUILD: lintian
#                                    finds no error or warning; both manual pages
#                                    are in it and man renders them; SHA256SUMS
#   package_check.sh zips OUT BUILD  the Windows zips in OUT: the files each holds
#                                    (test_zem_cli.exe whenever BUILD made it), their
#                                    text files in CRLF and code page 1252; SHA256SUMS
set -u
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check_sums() { # folder
    (cd "$1" && sha256sum --quiet --strict -c SHA256SUMS) || fail "$1/SHA256SUMS does not match"
}

# Prints what is wrong with a text file for Windows users, if anything.
text_problem() { # file
    local lines crlf cr
    lines=$(wc -l <"$1")
    crlf=$(grep -c $'\r$' "$1")
    cr=$(tr -cd '\r' <"$1" | wc -c)
    if [ "$lines" -eq 0 ] || [ "$crlf" -ne "$lines" ] || [ "$cr" -ne "$lines" ] ||
        [ "$(tail -c 2 "$1" | od -An -tx1 | tr -d ' \n')" != 0d0a ]; then
        echo "not every line ends with CRLF"
    elif LC_ALL=C grep -qaP '[\x00-\x08\x0b\x0c\x0e-\x1f\x7f\x81\x8d\x8f\x90\x9d]' "$1"; then
        echo "holds a byte that code page 1252 lacks"
    elif LC_ALL=C grep -qaP '[\x80-\xff]' "$1" && iconv -f UTF-8 -t UTF-16 "$1" >/dev/null 2>&1; then
        echo "is UTF-8, not code page 1252"
    fi
}

# The text check itself must reject each kind of bad file.
check_text_check() {
    local name
    printf 'ok\r\nLF only\nok\r\n' >"$work/lf-line"
    printf 'ok\r\nbare\rCR\r\n' >"$work/bare-cr"
    printf 'ok\r\nno end' >"$work/no-end"
    printf 'ok \x81\r\n' >"$work/undefined-byte"
    printf '22.7 \xc2\xb5s\r\n' >"$work/utf-8"
    for name in lf-line bare-cr no-end undefined-byte utf-8; do
        [ -n "$(text_problem "$work/$name")" ] || fail "the text check accepts a file with $name"
    done
    printf '22.7 \xb5s\r\n\r\n' >"$work/good"
    [ -z "$(text_problem "$work/good")" ] || fail "the text check rejects a good file"
}

check_deb() { # build folder
    local deb report status page file rendered cli cli_page option
    (cd "$work" && cpack --config "$1/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1) ||
        fail "cpack failed: $(cat "$work/cpack.log")"
    deb=$(find "$work/package" -maxdepth 1 -name '*.deb' | head -n 1)
    [ -n "$deb" ] || {
        fail "no .deb made"
        return
    }
    check_sums "$work/package"
    # (lintian's complaint about running as root goes to stderr, with its own failures.)
    report=$(lintian "$deb" 2>"$work/lintian.log")
    status=$?
    echo "lintian ${deb##*/}: ${report:-no tag}"
    [ "$status" -eq 0 ] || cat "$work/lintian.log"
    if [ "$status" -ne 0 ] || grep -q '^[EW]: ' <<<"$report"; then
        fail "lintian reports errors or warnings"
    fi

    dpkg-deb -x "$deb" "$work/root"
    cli="$work/root/usr/bin/test_zem_cli"
    for page in test_zem test_zem_cli; do
        file="$work/root/usr/share/man/man1/$page.1.gz"
        if [ ! -f "$file" ]; then
            fail "the package has no manual page for $page"
            continue
        fi
        rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>"$work/man-errors")
        [ -s "$work/man-errors" ] && fail "man $page: $(cat "$work/man-errors")"
        grep -q "^ *$page  *- " <<<"$rendered" || fail "man $page: no NAME line"
        [ "$page" = test_zem_cli ] && cli_page=$rendered
    done
    # test_zem_cli's page is written from its own --help and --version.
    [ -n "${cli_page:-}" ] || return
    grep -qF "$("$cli" --version)" <<<"$cli_page" || fail "man test_zem_cli: not this version"
    for option in $("$cli" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        grep -qF -- "$option" <<<"$cli_page" || fail "man test_zem_cli: no $option"
    done
}

check_zips() { # out folder, build folder
    local arch cpu format zip expected problem text
    check_sums "$1"
    for arch in win32 win64; do
        [ "$arch" = win32 ] && cpu=i686 format="PE32 executable"
        [ "$arch" = win64 ] && cpu=x86_64 format="PE32+ executable"
        zip=$(find "$1" -maxdepth 1 -name "test-zem-*-$arch.zip" | head -n 1)
        if [ -z "$zip" ] || ! grep -q "  ${zip##*/}\$" "$1/SHA256SUMS"; then
            fail "no $arch zip in $1, or not in SHA256SUMS"
            continue
        fi
        expected="LICENSE.TXT README.TXT Test_ZEM.exe"
        [ -n "$(find "$2/windows-$cpu" -name test_zem_cli.exe)" ] &&
            expected="$expected test_zem_cli.exe"
        [ "$(unzip -Z1 "$zip" | LC_ALL=C sort | xargs)" = "$expected" ] ||
            fail "${zip##*/} holds $(unzip -Z1 "$zip" | xargs), not $expected"
        unzip -q -d "$work/$arch" "$zip" || fail "${zip##*/} does not unpack"
        file -b "$work/$arch/Test_ZEM.exe" | grep -q "^$format" ||
            fail "${zip##*/}: Test_ZEM.exe is not a $format"
        for text in README.TXT LICENSE.TXT; do
            problem=$(text_problem "$work/$arch/$text")
            [ -z "$problem" ] || fail "${zip##*/}: $text $problem"
        done
    done
}

case "${1:-}" in
deb) check_deb "$2" ;;
zips)
    check_text_check
    check_zips "$2" "$3"
    ;;
*)
    echo "usage: package_check.sh deb BUILD | zips OUT BUILD" >&2
    exit 2
    ;;
esac
echo "packages: $failures failed"
[ "$failures" -eq 0 ]
