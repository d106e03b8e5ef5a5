#include "platform/fltk/text_1252.h"

#include <cstdint>

namespace {
// Code points of bytes 0x80 to 0x9F; the rest of 1252 equals Latin-1.
const uint16_t HIGH_CONTROLS[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t code_point_of(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0) {
        return HIGH_CONTROLS[byte - 0x80];
    }
    return byte;
}

// Writes the UTF-8 form of one code point below 0x10000; returns its length.
size_t encode(uint32_t code_point, char* out) {
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code_point >> 6));
        out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
}
} // namespace

size_t text_1252_to_utf8(const char* text, size_t length, char* out, size_t out_size) {
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        char bytes[3];
        size_t count = encode(code_point_of(static_cast<unsigned char>(text[i])), bytes);
        if (used + count + 1 > out_size) {
            break;
        }
        for (size_t b = 0; b < count; ++b) {
            out[used + b] = bytes[b];
        }
        used += count;
    }
    out[used] = '\0';
    return used;
}
