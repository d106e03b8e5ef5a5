#!/usr/bin/env bash
# Static checks of a Test_ZEM.exe: the PE format of its architecture, the GUI
# subsystem, imports from Windows system DLLs only, ASLR and DEP, its
# resources (bitmap 200, icon 100, version record 1 with its strings) and a
# text in code page 1252. (The kernels inside are read back by tools/kernel_check.)
#
#   tests/artifacts/pe_check.sh EXE i686|x86_64
set -uo pipefail
exe=$1
arch=$2
tools="$arch-w64-mingw32"
failures=0

fail() {
    echo "FAIL $exe: $*"
    failures=$((failures + 1))
}

# `grep -q` on a stored text, so that a pipe never ends early.
has() { grep -qE -- "$2" <<<"$1"; }

headers=$("$tools-objdump" -p "$exe") || {
    echo "FAIL $exe: not readable"
    exit 1
}

if [ "$arch" = i686 ]; then
    has "$headers" "file format pei-i386" || fail "not a 32-bit x86 PE file"
    has "$headers" "^Magic[[:space:]]+010b" || fail "optional header is not PE32"
    has "$headers" "HIGH_ENTROPY_VA" && fail "HIGH_ENTROPY_VA on a 32-bit executable"
else
    has "$headers" "file format pei-x86-64" || fail "not an x86-64 PE file"
    has "$headers" "^Magic[[:space:]]+020b" || fail "optional header is not PE32+"
    has "$headers" "^[[:space:]]+HIGH_ENTROPY_VA" || fail "no high-entropy ASLR"
fi
if [ "$arch" = i686 ]; then
    # Windows calls the window procedure with the callee popping its 16 bytes
    # of arguments (__stdcall, decorated @16); any other convention would
    # corrupt the stack on every message.
    has "$("$tools-nm" "$exe")" " __Z13main_wnd_proc[A-Za-z0-9_]*@16\$" ||
        fail "main_wnd_proc is not a __stdcall procedure of 16 bytes of arguments"
fi
has "$headers" "^Subsystem[[:space:]]+00000002" || fail "not the Windows GUI subsystem"
has "$headers" "^[[:space:]]+DYNAMIC_BASE" || fail "no ASLR (DYNAMIC_BASE)"
has "$headers" "^[[:space:]]+NX_COMPAT" || fail "no DEP (NX_COMPAT)"
has "$headers" "Base Relocation Directory \[\.reloc\]" || fail "no relocations to move the image"

system_dlls="^(kernel32|user32|gdi32|advapi32|msvcrt)\.dll$"
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[ -n "$dlls" ] || fail "no imports found"
while read -r dll; do
    [ -z "$dll" ] || has "${dll,,}" "$system_dlls" || fail "imports $dll, not a Windows system DLL"
done <<<"$dlls"

resources=$("$tools-windres" -i "$exe" -O rc 2>/dev/null) || fail "resources not readable"
# Bitmap 200: a 40-byte header, 300 x 380, one plane of 8 bits, 256 colours.
has "$resources" "^200 2 /\* RT_BITMAP \*/" || fail "no bitmap 200"
bitmap=$(sed -n '/^200 2 \/\* RT_BITMAP/,/^END/p' <<<"$resources" | sed -n '3,4p' | tr -d ' \n')
has "$bitmap" "^0x28L,0x12cL,0x17cL,0x80001L,0x0L,[^,]+,[^,]+,[^,]+,0x100L," ||
    fail "bitmap 200 is not 300 x 380 with 8 bits per pixel and 256 colours"
# Icon 100: a group of one 32 x 32 image of 16 colours, 4 bits per pixel.
has "$resources" "^100 14 /\* RT_GROUP_ICON \*/" || fail "no icon 100"
has "$resources" '"\\040\\040\\020\\000", 1, 4, ' || fail "icon 100 is not one 32 x 32 16-colour image"

has "$resources" "^1 VERSIONINFO" || fail "no version record 1"
expect_version() { has "$resources" "^ *$1\$" || fail "version record lacks: $1"; }
expect_version "FILEVERSION 1, 0, 0, 0"
expect_version "PRODUCTVERSION 1, 0, 0, 0"
expect_version "FILETYPE 0x1"
has "$resources" "^ *FILEFLAGS " && fail "version record has flags"
expect_version 'BLOCK "000004b0"'
expect_version 'VALUE "FileDescription", "Test ZEM\."'
expect_version 'VALUE "InternalName", "Test ZEM"'
expect_version 'VALUE "ProductName", "Test ZEM 1"'
expect_version 'VALUE "OriginalFilename", "Test_ZEM\.exe"'
expect_version 'VALUE "FileVersion", "1, 0, 0, 0"'
expect_version 'VALUE "ProductVersion", "1, 0, 0, 0"'
expect_version 'VALUE "Translation", 0x0, 1200'
for key in Comments CompanyName LegalCopyright; do
    has "$resources" "^ *VALUE \"$key\", \".+\"\$" || fail "version record lacks $key"
done

# The program's texts are code page 1252 bytes for the "A" calls.
LC_ALL=C grep -q $'Impossible de cr\xe9er la fenetre\.\.\.' "$exe" ||
    fail "no \"Impossible de cr\\xe9er la fenetre...\" in code page 1252"

[ "$failures" -eq 0 ] && echo "ok $exe ($arch)"
[ "$failures" -eq 0 ]
