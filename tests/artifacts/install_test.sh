#!/usr/bin/env bash
# cmake --install puts both programs in bin/ and the desktop entry and its
# icon in share/; CPack makes a .deb holding the same files.
set -u
build=$1
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/usr" >/dev/null || fail "cmake --install failed"
for file in bin/test_zem bin/test_zem_cli share/applications/test-zem.desktop \
    share/icons/hicolor/32x32/apps/test-zem.png; do
    [ -f "$work/usr/$file" ] || fail "not installed: $file"
done
[ -x "$work/usr/bin/test_zem" ] || fail "test_zem is not executable"

entry="$work/usr/share/applications/test-zem.desktop"
for line in 'Type=Application' 'Exec=test_zem' 'Icon=test-zem' 'StartupWMClass=w_principale'; do
    grep -qx "$line" "$entry" || fail "desktop entry lacks $line"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop entry does not validate"
fi
icon="$work/usr/share/icons/hicolor/32x32/apps/test-zem.png"
if command -v identify >/dev/null; then
    [ "$(identify -format '%w x %h' "$icon")" = "32 x 32" ] || fail "icon is not 32 x 32"
fi

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null) ||
    fail "cpack failed"
deb=$(find "$work/package" -maxdepth 1 -name '*.deb' | head -n 1)
if [ -z "$deb" ]; then
    fail "no .deb made"
else
    contents=$(dpkg-deb -c "$deb")
    for file in bin/test_zem bin/test_zem_cli share/applications/test-zem.desktop \
        share/icons/hicolor/32x32/apps/test-zem.png; do
        grep -q "/usr/$file\$" <<<"$contents" || fail ".deb lacks /usr/$file"
    done
    depends=$(dpkg-deb -f "$deb" Depends)
    for package in libfltk1.3 fonts-liberation; do
        grep -q "$package" <<<"$depends" || fail ".deb does not depend on $package: $depends"
    done
fi
echo "install: $failures failed"
[ "$failures" -eq 0 ]
