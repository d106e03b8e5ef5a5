#!/usr/bin/env bash
# What users download, checked as they get it.
#
#   package_check.sh deb BUILD       the .deb that cpack makes from BUILD's install
#                                    rules: both programs, the desktop entry and its
#                                    icon, the dependencies, lintian with no error or
#                                    warning, both manual pages rendering, SHA256SUMS
#   package_check.sh zips OUT BUILD  the Windows zips in OUT: the files each holds
#                                    (test_zem_cli.exe whenever BUILD made it), their
#                                    text files in CRLF and code page 1252; SHA256SUMS
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"

check_sums() { # folder
    (cd "$1" && sha256sum --quiet --strict -c SHA256SUMS) || fail "$1/SHA256SUMS does not match"
}

# Prints what is wrong with a text file for Windows users, if anything.
text_problem() { # file
    local lines
    lines=$(wc -l <"$1")
    if [ "$lines" -eq 0 ] || [ "$(grep -c $'\r$' "$1")" -ne "$lines" ] ||
        [ "$(tr -cd '\r' <"$1" | wc -c)" -ne "$lines" ] ||
        [ "$(tail -c 2 "$1" | od -An -tx1 | tr -d ' \n')" != 0d0a ]; then
        echo "not every line ends with CRLF"
    elif LC_ALL=C grep -qaP '[\x00-\x08\x0b\x0c\x0e-\x1f\x7f\x81\x8d\x8f\x90\x9d]' "$1"; then
        echo "holds a byte that code page 1252 lacks"
    elif LC_ALL=C grep -qaP '[\x80-\xff]' "$1" && iconv -f UTF-8 -t UTF-16 "$1" >/dev/null 2>&1; then
        echo "is UTF-8, not code page 1252"
    fi
}

check_deb() { # build folder
    local deb report root=$WORK/root page rendered cli_page="" option file
    (cd "$WORK" && cpack --config "$1/CPackConfig.cmake" -B "$WORK/package" >"$WORK/cpack.log" 2>&1) ||
        fail "cpack failed: $(cat "$WORK/cpack.log")"
    deb=$(find "$WORK/package" -maxdepth 1 -name '*.deb' | head -n 1)
    [ -n "$deb" ] || {
        fail "no .deb made"
        return
    }
    check_sums "$WORK/package"
    # (lintian's complaint about running as root goes to stderr.)
    report=$(lintian "$deb" 2>"$WORK/lintian.log") || fail "lintian: $(cat "$WORK/lintian.log")"
    echo "lintian ${deb##*/}: ${report:-no tag}"
    grep -q '^[EW]: ' <<<"$report" && fail "lintian reports errors or warnings"
    for file in libfltk1.3 fonts-liberation; do
        dpkg-deb -f "$deb" Depends | grep -q "$file" || fail ".deb does not depend on $file"
    done

    dpkg-deb -x "$deb" "$root"
    for file in bin/test_zem bin/test_zem_cli share/applications/test-zem.desktop \
        share/icons/hicolor/32x32/apps/test-zem.png; do
        [ -f "$root/usr/$file" ] || fail ".deb lacks /usr/$file"
    done
    desktop-file-validate "$root/usr/share/applications/test-zem.desktop" ||
        fail "desktop entry does not validate"
    grep -qx 'StartupWMClass=w_principale' "$root/usr/share/applications/test-zem.desktop" ||
        fail "desktop entry lacks the window's class"
    [ "$(identify -format '%w x %h' "$root/usr/share/icons/hicolor/32x32/apps/test-zem.png")" = "32 x 32" ] ||
        fail "icon is not 32 x 32"
    for page in test_zem test_zem_cli; do
        rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" \
            2>"$WORK/man-errors") || fail "no manual page for $page"
        [ -s "$WORK/man-errors" ] && fail "man $page: $(cat "$WORK/man-errors")"
        grep -q "^ *$page  *- " <<<"$rendered" || fail "man $page: no NAME line"
        [ "$page" = test_zem_cli ] && cli_page=$rendered
    done
    # test_zem_cli's page is written from its own --help and --version.
    grep -qF "$("$root/usr/bin/test_zem_cli" --version)" <<<"$cli_page" || fail "man test_zem_cli: not this version"
    for option in $("$root/usr/bin/test_zem_cli" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
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
        [ -n "$(find "$2/windows-$cpu" -name test_zem_cli.exe)" ] && expected="$expected test_zem_cli.exe"
        [ "$(unzip -Z1 "$zip" | LC_ALL=C sort | xargs)" = "$expected" ] ||
            fail "${zip##*/} holds $(unzip -Z1 "$zip" | xargs), not $expected"
        unzip -q -d "$WORK/$arch" "$zip" || fail "${zip##*/} does not unpack"
        file -b "$WORK/$arch/Test_ZEM.exe" | grep -q "^$format" || fail "${zip##*/}: Test_ZEM.exe is not a $format"
        for text in README.TXT LICENSE.TXT; do
            problem=$(text_problem "$WORK/$arch/$text")
            [ -z "$problem" ] || fail "${zip##*/}: $text $problem"
        done
    done
}

case "${1:-}" in
deb) check_deb "$2" ;;
zips) check_zips "$2" "$3" ;;
*)
    echo "usage: package_check.sh deb BUILD | zips OUT BUILD" >&2
    exit 2
    ;;
esac
finish "packages"
