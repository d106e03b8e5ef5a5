// Code page 1252 to UTF-8, for platforms whose window system draws UTF-8.
#pragma once

#include <cstddef>

// Converts `length` bytes of code-page-1252 text into `out` (of `out_size`
// bytes, at least 1), always NUL-terminated and never cutting a character in
// two; text that does not fit is dropped. The five bytes 1252 leaves
// undefined become the C1 code points of the same value, as Windows maps
// them. Returns the bytes written, without the NUL.
size_t text_1252_to_utf8(const char* text, size_t length, char* out, size_t out_size);
// Bytes needed for the UTF-8 form of `length` bytes of 1252 text, NUL included.
constexpr size_t utf8_size_for_1252(size_t length) {
    return length * 3 + 1;
}
